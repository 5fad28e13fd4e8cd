#include "foundation/text.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace kvshake {

namespace {

std::optional<std::string> WideToCodePage(UINT codePage, const wchar_t* text) {
    if (!text) return std::nullopt;
    const int size = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::nullopt;
    std::string result(size, '\0');
    if (!::WideCharToMultiByte(codePage, 0, text, -1, result.data(), size, nullptr, nullptr)) {
        return std::nullopt;
    }
    result.resize(size - 1);  // drop the terminator
    return result;
}

}  // namespace

std::optional<std::string> WideToAnsi(const wchar_t* text) { return WideToCodePage(CP_ACP, text); }

std::optional<std::string> WideToUtf8(const wchar_t* text) { return WideToCodePage(CP_UTF8, text); }

std::optional<std::wstring> AnsiToWide(const char* text) {
    if (!text) return std::nullopt;
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 0) return std::nullopt;
    std::wstring result(size, L'\0');
    if (!::MultiByteToWideChar(CP_ACP, 0, text, -1, result.data(), size)) return std::nullopt;
    result.resize(size - 1);
    return result;
}

namespace {

// The C locale's classes, independent of whatever locale the runtime is set to.
bool IsCLocaleAlnum(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9');
}

bool IsCLocaleSpace(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

template <typename Text>
void AppendPercentEncoded(Text& encoded, unsigned char byte) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    encoded += '%';
    encoded += kHexDigits[byte >> 4];
    encoded += kHexDigits[byte & 0x0F];
}

bool BreaksAField(unsigned char byte) {
    return byte < 0x20 || byte >= 0x7F || byte == '%' || byte == '&' || byte == '+' ||
           byte == '=' || byte == '#' || byte == ' ';
}

}  // namespace

std::string UrlEncode(std::string_view bytes) {
    std::string encoded;
    encoded.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsCLocaleAlnum(byte)) {
            encoded += c;
        } else if (IsCLocaleSpace(byte)) {
            encoded += '+';
        } else {
            AppendPercentEncoded(encoded, byte);
        }
    }
    return encoded;
}

std::wstring EncodeFieldValue(const std::wstring& text) {
    std::wstring encoded;
    for (const char c : WideToUtf8(text.c_str()).value_or(std::string())) {
        const auto byte = static_cast<unsigned char>(c);
        if (BreaksAField(byte)) {
            AppendPercentEncoded(encoded, byte);
        } else {
            encoded += static_cast<wchar_t>(byte);
        }
    }
    return encoded;
}

std::string StringPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string result;
    if (length > 0) {
        result.resize(length + 1);
        std::vsnprintf(result.data(), result.size(), format, args);
        result.resize(length);
    }
    va_end(args);
    return result;
}

}  // namespace kvshake

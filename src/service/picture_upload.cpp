#include "service/picture_upload.h"

#include <vector>

#include "foundation/log.h"
#include "foundation/text.h"
#include "service/http_transport.h"
#include "service/protocol.h"
#include "service/service_config.h"

namespace kvshake {

namespace {

constexpr wchar_t kNotAWebPageBody[] = L"stat=notfound";

bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The UTF-8 form of text whatever its length: a code-page byte becomes at most three.
std::string WholeUtf8(const std::string& ansi) {
    std::vector<char> buffer(ansi.size() * 3 + 1);
    const int written = AnsiToUtf8(ansi.c_str(), buffer.data(), static_cast<int>(buffer.size()));
    return written > 0 ? std::string(buffer.data(), written - 1) : std::string();
}

}  // namespace

std::string Utf8Title(const std::wstring& title) {
    const std::optional<std::string> ansi = WideToAnsi(title.c_str());
    if (!ansi) return std::string();
    std::string utf8 = WholeUtf8(*ansi);
    if (utf8.size() < kTitleBufferBytes) return utf8;
    // Too long for the buffer: keep the whole characters that fit beside the terminator.
    size_t length = kTitleBufferBytes - 1;
    while (length > 0 && IsUtf8Continuation(utf8[length])) --length;
    utf8.resize(length);
    return utf8;
}

ShakeUpload::ShakeUpload() : path_(UploadPath()) {}

void ShakeUpload::SendNotAWebPage() const { Send(kNotAWebPageBody); }

void ShakeUpload::SendWebPage(const std::optional<std::wstring>& title, const std::wstring& pageUrl,
                              const std::wstring& pictures) const {
    const std::string encodedTitle = UrlEncode(Utf8Title(title.value_or(std::wstring())));
    // The encoded title is plain ASCII, which every code page reads the same.
    const std::wstring body = L"title=" + std::wstring(encodedTitle.begin(), encodedTitle.end()) +
                              L"&pageurl=" + pageUrl + pictures;
    Send(body);
}

// The answer is only logged: whatever it says changes nothing.
void ShakeUpload::Send(const std::wstring& body) const {
    const std::optional<std::wstring> response =
        PostData(kServiceHost, path_.c_str(), body.c_str());
    if (response) WriteWCharLog("uploadPic PostData Result: ", response->c_str());
}

}  // namespace kvshake

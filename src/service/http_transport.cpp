#include "service/http_transport.h"

#include <string_view>

#include "foundation/log.h"
#include "foundation/text.h"
#include "foundation/unique_resource.h"
#include "service/service_config.h"

namespace kvshake {
namespace {

struct hinternet_traits {
    using type = HINTERNET;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::InternetCloseHandle(value); }
};
using unique_hinternet = unique_any<hinternet_traits>;

constexpr wchar_t kUserAgent[] = L"kvshock";
constexpr wchar_t kHttpVersion[] = L"HTTP/1.0";
constexpr wchar_t kExtraHeader[] = L"Connection:Keep-Alive";
constexpr DWORD kRequestFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_RELOAD |
                                INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kReadChunkBytes = 1024;
constexpr DWORD kDrainChunkBytes = 1000;
// The service's answers are a few hundred bytes; anything past this is no answer of its own, and
// must not grow without bound inside the browser.
constexpr size_t kMaxResponseBytes = 1024 * 1024;

DWORD ShowPlatformAuthenticationDialog(HINTERNET request) {
    return ::InternetErrorDlg(::GetDesktopWindow(), request, ERROR_INTERNET_INCORRECT_PASSWORD,
                              FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                  FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                  FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                              nullptr);
}

AuthenticationPrompt g_authenticationPrompt = ShowPlatformAuthenticationDialog;

// Handles are declared in opening order, so they close request, connection, root.
struct Exchange {
    unique_hinternet root;
    unique_hinternet connection;
    unique_hinternet request;
};

// Set on the request itself, which makes the connection when it is sent.
bool LimitWaits(HINTERNET request, DWORD timeoutMs) {
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        if (!::InternetSetOptionW(request, option, &timeoutMs, sizeof(timeoutMs))) return false;
    }
    return true;
}

bool Open(Exchange& exchange, const wchar_t* host, const wchar_t* method, const wchar_t* path,
          DWORD timeoutMs) {
    // The user's own settings, as the browser's requests use them: where the internet is reached
    // only through a proxy, a direct connection fails.
    exchange.root.reset(
        ::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!exchange.root) return false;
    exchange.connection.reset(::InternetConnectW(exchange.root.get(), host, kServicePort, L"", L"",
                                                 INTERNET_SERVICE_HTTP, 0, 0));
    if (!exchange.connection) return false;
    exchange.request.reset(::HttpOpenRequestW(exchange.connection.get(), method, path, kHttpVersion,
                                              L"", nullptr, kRequestFlags, 0));
    return exchange.request && LimitWaits(exchange.request.get(), timeoutMs);
}

bool Send(HINTERNET request, std::string& body) {
    return ::HttpSendRequestW(request, kExtraHeader, static_cast<DWORD>(-1L),
                              body.empty() ? nullptr : body.data(),
                              static_cast<DWORD>(body.size()));
}

std::optional<DWORD> StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                          nullptr)) {
        return std::nullopt;
    }
    return status;
}

// A time-out fails the exchange whichever step it cut short, and is logged.
bool TimedOut(const char* step) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_INTERNET_TIMEOUT) return false;
    WriteError(StringPrintf("%s timed out, Error Code:%d", step, static_cast<int>(error)));
    return true;
}

enum class BodyRead { Whole, TooLarge, TimedOut };

// Reads until a read reports no bytes or fails, which ends the body there unless it timed out;
// appends to body when given one, up to kMaxResponseBytes.
BodyRead ReadBody(HINTERNET request, DWORD chunkBytes, std::string* body) {
    std::string chunk(chunkBytes, '\0');
    DWORD read = 0;
    for (;;) {
        if (!::InternetReadFile(request, chunk.data(), chunkBytes, &read)) {
            return TimedOut("InternetReadFile") ? BodyRead::TimedOut : BodyRead::Whole;
        }
        if (read == 0) return BodyRead::Whole;
        if (!body) continue;
        if (body->size() + read > kMaxResponseBytes) return BodyRead::TooLarge;
        body->append(chunk.data(), read);
    }
}

std::wstring DecodeUtf8(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    const int length = static_cast<int>(bytes.size());
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0);
    std::wstring text(size, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, text.data(), size);
    return text;
}

std::optional<std::wstring> Perform(const wchar_t* host, const wchar_t* method, const wchar_t* path,
                                    std::string body, DWORD timeoutMs) {
    Exchange exchange;
    if (!Open(exchange, host, method, path, timeoutMs)) return std::nullopt;
    HINTERNET request = exchange.request.get();
    for (;;) {
        if (!Send(request, body)) {
            TimedOut("HttpSendRequest");
            return std::nullopt;
        }
        const std::optional<DWORD> status = StatusCode(request);
        if (!status) return std::nullopt;
        if (*status == HTTP_STATUS_OK) break;
        if (*status != HTTP_STATUS_DENIED && *status != HTTP_STATUS_PROXY_AUTH_REQ) {
            return std::nullopt;
        }
        // The body was drained before the prompt, so a dismissed prompt leaves an empty text.
        if (ReadBody(request, kDrainChunkBytes, nullptr) == BodyRead::TimedOut) {
            return std::nullopt;
        }
        if (g_authenticationPrompt(request) != ERROR_INTERNET_FORCE_RETRY) break;
    }
    std::string received;
    switch (ReadBody(request, kReadChunkBytes, &received)) {
        case BodyRead::Whole:
            return DecodeUtf8(received);
        case BodyRead::TooLarge:
            WriteError(StringPrintf("Response larger than %u bytes, dropped",
                                    static_cast<unsigned>(kMaxResponseBytes)));
            return std::nullopt;
        case BodyRead::TimedOut:
            break;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::wstring> GetData(const wchar_t* host, const wchar_t* path, DWORD timeoutMs) {
    try {
        return Perform(host, L"GET", path, std::string(), timeoutMs);
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::wstring> PostData(const wchar_t* host, const wchar_t* path, const wchar_t* body,
                                     DWORD timeoutMs) {
    try {
        return Perform(host, L"POST", path, WideToAnsi(body).value_or(std::string()), timeoutMs);
    } catch (...) {
        return std::nullopt;
    }
}

void SetAuthenticationPromptForTesting(AuthenticationPrompt prompt) noexcept {
    g_authenticationPrompt = prompt ? prompt : ShowPlatformAuthenticationDialog;
}

}  // namespace kvshake

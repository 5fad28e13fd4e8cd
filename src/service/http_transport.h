#pragma once

#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string>

namespace kvshake {

// One complete HTTPS exchange with the service per call, over WinINet, on the service port,
// through the proxy of the user's Internet Settings when they name one.
// The result is the response body decoded from UTF-8, or nothing when the exchange failed
// (no connection, a failed send, an unreadable status, any status but 200, 401 and 407).
// A 200 with an empty body gives an empty text. A body over 1 MiB is a failed exchange too;
// that and a time-out are the failures that are logged.
//
// An exchange must not hang on a dead network or a half-open connection: connecting, sending and
// receiving may each take timeoutMs at most; a tab's thread must not freeze for longer than that.
inline constexpr DWORD kTabThreadTimeoutMs = 30000;

std::optional<std::wstring> GetData(const wchar_t* host, const wchar_t* path,
                                    DWORD timeoutMs = kTabThreadTimeoutMs);

// The body is sent in the system ANSI code page, as a form body without a content type.
std::optional<std::wstring> PostData(const wchar_t* host, const wchar_t* path, const wchar_t* body,
                                     DWORD timeoutMs = kTabThreadTimeoutMs);

// The step that asks the user for credentials when the service answers 401 or 407. It returns
// ERROR_INTERNET_FORCE_RETRY to send the request again; anything else ends the exchange with an
// empty text. By default it is the platform's dialog over the desktop window.
using AuthenticationPrompt = DWORD (*)(HINTERNET request);
void SetAuthenticationPromptForTesting(AuthenticationPrompt prompt) noexcept;

}  // namespace kvshake

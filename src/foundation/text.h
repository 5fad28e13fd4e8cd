#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvshake {

// Text inside the module is UTF-16; the log and POST bodies are narrow text in the system ANSI
// code page; response bodies arrive in UTF-8; an upload's title is sent UTF-8 and form-encoded.

// UTF-16 up to the first NUL into the system ANSI code page. Characters the code page cannot
// hold become its best-fit or default character. Nothing for null input or a failed conversion.
std::optional<std::string> WideToAnsi(const wchar_t* text);

// System ANSI code page text into UTF-16. Nothing for null input or a failed conversion.
std::optional<std::wstring> AnsiToWide(const char* text);

// UTF-16 up to the first NUL into UTF-8, every character kept. Nothing for null input or a failed
// conversion.
std::optional<std::string> WideToUtf8(const wchar_t* text);

// Form-encodes bytes: C-locale letters and digits stay, C-locale white space becomes '+',
// every other byte becomes %XX with upper-case hex digits.
std::string UrlEncode(std::string_view bytes);

// Percent-encodes what would break a form or query field, or change its meaning once decoded:
// '%', '&', '+', '=', '#', space, control characters and every non-ASCII character (as %XX of
// its UTF-8 bytes, upper-case hex). Every other character stays as it is, so an ordinary address
// goes out unchanged. The text is read up to its first NUL.
std::wstring EncodeFieldValue(const std::wstring& text);

// printf-style formatting into a string of whatever length the result needs.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kvshake

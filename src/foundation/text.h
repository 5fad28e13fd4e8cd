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

// Converts system ANSI code page text and its terminator into UTF-8 in the caller's buffer.
// Returns the bytes written, terminator included. A text that does not fit whole is not
// converted at all: the result is 0 and the buffer is left untouched (also for null input).
int AnsiToUtf8(const char* text, char* buffer, int capacity);

// Form-encodes bytes: C-locale letters and digits stay, C-locale white space becomes '+',
// every other byte becomes %XX with upper-case hex digits.
std::string UrlEncode(std::string_view bytes);

// printf-style formatting into a string of whatever length the result needs.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kvshake

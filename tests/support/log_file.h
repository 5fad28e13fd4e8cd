#pragma once

#include <string>
#include <type_traits>

namespace kvshake::testing {

// A file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);
// The diagnostic log file "d:\shakelog.txt", as raw bytes; empty when it does not exist.
std::string ReadLogFile();
bool LogFileExists();
void DeleteLogFile();

// How often part occurs in text (a log line in the log, say).
// The type of part comes from text alone, so that a literal or a string serves as part.
template <typename Char>
size_t CountOccurrences(const std::basic_string<Char>& text,
                        const std::common_type_t<std::basic_string<Char>>& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}
// The log holds line (or any part of one) at least times times.
bool LogHas(const std::string& line, size_t times = 1);

}  // namespace kvshake::testing

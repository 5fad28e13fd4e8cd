#pragma once

#include <string>

namespace kvshake::testing {

// The diagnostic log file "d:\shakelog.txt", as raw bytes; empty when it does not exist.
std::string ReadLogFile();
bool LogFileExists();
void DeleteLogFile();

// How often part occurs in text (a log line in the log, say).
size_t CountOccurrences(const std::string& text, const std::string& part);
// The log holds line (or any part of one) at least times times.
bool LogHas(const std::string& line, size_t times = 1);

}  // namespace kvshake::testing

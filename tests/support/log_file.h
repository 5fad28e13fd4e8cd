#pragma once

#include <string>

namespace kvshake::testing {

// The diagnostic log file "d:\shakelog.txt", as raw bytes; empty when it does not exist.
std::string ReadLogFile();
bool LogFileExists();
void DeleteLogFile();

}  // namespace kvshake::testing

#include "support/log_file.h"

#include <windows.h>

#include "foundation/named_mutex.h"
#include "foundation/unique_resource.h"

namespace kvshake::testing {
namespace {
constexpr wchar_t kLogPath[] = L"d:\\shakelog.txt";

// Writers hold the file without sharing for the moment of a line, so a read may have to wait.
unique_file OpenForReading() {
    for (int attempt = 0; attempt < 500; ++attempt) {
        unique_file file(::CreateFileW(kLogPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || ::GetLastError() != ERROR_SHARING_VIOLATION) return file;
        ::Sleep(10);
    }
    return unique_file();
}

}  // namespace

// Read under the writers' lock, so that no writer finds the file taken by the reader and drops
// its line.
std::string ReadLogFile() {
    HANDLE holder = nullptr;
    ScopedNamedMutex lock(kMutexForWrite, holder);
    unique_file file = OpenForReading();
    std::string content;
    if (!file) return content;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read != 0) {
        content.append(chunk, read);
    }
    return content;
}

bool LogFileExists() { return ::GetFileAttributesW(kLogPath) != INVALID_FILE_ATTRIBUTES; }

void DeleteLogFile() { ::DeleteFileW(kLogPath); }

size_t CountOccurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

bool LogHas(const std::string& line, size_t times) {
    return CountOccurrences(ReadLogFile(), line) >= times;
}

}  // namespace kvshake::testing

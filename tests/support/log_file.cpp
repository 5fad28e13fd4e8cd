#include "support/log_file.h"

#include <windows.h>

#include "foundation/unique_resource.h"

namespace kvshake::testing {
namespace {
constexpr wchar_t kLogPath[] = L"d:\\shakelog.txt";
}

std::string ReadLogFile() {
    unique_file file(::CreateFileW(kLogPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

}  // namespace kvshake::testing

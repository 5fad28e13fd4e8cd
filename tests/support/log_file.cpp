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

// The writers' named lock, held for a while at most: a writer that hangs holding it (or one
// that was killed) does not stop a test from reading.
class WritersLock {
  public:
    WritersLock() {
        constexpr DWORD kRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
        mutex_.reset(::OpenMutexW(kRights, FALSE, kMutexForWrite));
        if (!mutex_) mutex_.reset(::CreateMutexW(nullptr, FALSE, kMutexForWrite));
        const DWORD wait = mutex_ ? ::WaitForSingleObject(mutex_.get(), 10000) : WAIT_FAILED;
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    ~WritersLock() {
        if (held_) ::ReleaseMutex(mutex_.get());
    }
    WritersLock(const WritersLock&) = delete;
    WritersLock& operator=(const WritersLock&) = delete;

  private:
    unique_handle mutex_;
    bool held_ = false;
};

}  // namespace

// Read under the writers' lock, so that no writer finds the file taken by the reader and drops
// its line.
std::string ReadLogFile() {
    const WritersLock lock;
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

bool LogHas(const std::string& line, size_t times) {
    return CountOccurrences(ReadLogFile(), line) >= times;
}

}  // namespace kvshake::testing

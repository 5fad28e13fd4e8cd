#include "support/log_file.h"

#include <windows.h>

#include "foundation/named_mutex.h"
#include "foundation/unique_resource.h"

namespace kvshake::testing {
namespace {
constexpr wchar_t kLogPath[] = L"d:\\shakelog.txt";

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

  private:
    unique_handle mutex_;
    bool held_ = false;
};

}  // namespace

std::string ReadWholeFile(const std::wstring& path) {
    const unique_file file(::CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read != 0) {
        content.append(chunk, read);
    }
    return content;
}

// Read under the writers' lock, so that no line is read half written.
std::string ReadLogFile() {
    const WritersLock lock;
    return ReadWholeFile(kLogPath);
}

bool LogFileExists() { return ::GetFileAttributesW(kLogPath) != INVALID_FILE_ATTRIBUTES; }

void DeleteLogFile() { ::DeleteFileW(kLogPath); }

bool LogHas(const std::string& line, size_t times) {
    return CountOccurrences(ReadLogFile(), line) >= times;
}

}  // namespace kvshake::testing

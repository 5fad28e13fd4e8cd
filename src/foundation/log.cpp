#include "foundation/log.h"

#include <string>

#include "foundation/named_mutex.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"
#include "foundation/unique_resource.h"

namespace kvshake {
namespace {

constexpr wchar_t kLogPath[] = L"d:\\shakelog.txt";
constexpr wchar_t kCreateFailMessage[] = L"create log file fail\n";
// Held by every process that writes the log, in every session of the machine.
constexpr wchar_t kWritersMarkName[] = L"Global\\KVShakeLogWriters";

bool g_bLogOn = false;  // this process's switch; never turned off again once on
unique_handle g_writersMark;
LocalTimeSource g_localTime = ::GetLocalTime;

SYSTEMTIME Now() noexcept {
    SYSTEMTIME now{};
    g_localTime(&now);
    return now;
}

// Opens the log file to append to it. The file is one for the machine, while "mutexForWrite" is
// one per session: processes of other sessions append at the same time, and every write of an
// append-only handle lands whole at the end of the file.
unique_file OpenLogFile(DWORD disposition, DWORD access = FILE_APPEND_DATA | SYNCHRONIZE,
                        DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) noexcept {
    return unique_file(::CreateFileW(kLogPath, access, share, nullptr, disposition,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
}

void WriteBytes(HANDLE file, std::string_view bytes) noexcept {
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Any user's process may open the mark, just to see that it is there.
void HoldWritersMark() noexcept {
    if (g_writersMark) return;
    g_writersMark.reset(::OpenEventW(SYNCHRONIZE, FALSE, kWritersMarkName));
    if (g_writersMark) return;
    const unique_hlocal descriptor = NamedMutexSecurity();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    g_writersMark.reset(::CreateEventW(&attributes, TRUE, FALSE, kWritersMarkName));
}

// Whether a process other than this one writes the log: the mark of another user is there too,
// though it cannot be opened.
bool OthersWriteTheLog() noexcept {
    g_writersMark.reset();
    const unique_handle mark(::OpenEventW(SYNCHRONIZE, FALSE, kWritersMarkName));
    const bool others = mark || ::GetLastError() == ERROR_ACCESS_DENIED;
    HoldWritersMark();
    return others;
}

// "h:m:s ms\t" without leading zeros.
std::string TimeStamp() {
    const SYSTEMTIME now = Now();
    return StringPrintf("%ld:%ld:%ld %ld\t", static_cast<long>(now.wHour),
                        static_cast<long>(now.wMinute), static_cast<long>(now.wSecond),
                        static_cast<long>(now.wMilliseconds));
}

// Runs writeLine with the log file open, under "mutexForWrite"; the file is closed before the
// lock is given back. The debugger hears of a failed open only when reportOpenFailure is set.
template <typename LineWriter>
void WriteUnderLock(bool reportOpenFailure, LineWriter writeLine) noexcept {
    if (!g_bLogOn) return;
    try {
        ScopedNamedMutex lock(kMutexForWrite, mutex_holders.g_hMutexForWrite, kInterfaceLockWaitMs,
                              OnLockFailure::StayQuiet);
        unique_file file = OpenLogFile(OPEN_ALWAYS);
        if (!file) {
            if (reportOpenFailure) ::OutputDebugStringW(kCreateFailMessage);
            return;
        }
        // Every line is one append, so an unlocked line is never torn.
        if (!lock.Held()) {
            WriteBytes(file.get(), TimeStamp()
                                       .append("[Error]")
                                       .append(LockFailureText(kMutexForWrite, lock.Error()))
                                       .append("\r\n"));
        }
        writeLine(file.get());
    } catch (...) {
        // Out of memory while building the line: the line is lost, like a failed write.
    }
}

// One line in one write call.
void WriteTaggedLine(std::string_view tag, std::string_view message,
                     bool reportOpenFailure) noexcept {
    WriteUnderLock(reportOpenFailure, [&](HANDLE file) {
        WriteBytes(file, TimeStamp().append(tag).append(message).append("\r\n"));
    });
}

}  // namespace

void EnableLog(bool on) noexcept {
    g_bLogOn = on;
    if (on) {
        HoldWritersMark();
    } else {
        g_writersMark.reset();
    }
}

// A machine run of another session (or user) may be writing the file at this moment: then the
// header goes after its lines instead of emptying them.
void InitLogFile() noexcept {
    if (!g_bLogOn) return;
    unique_file file = OthersWriteTheLog() ? OpenLogFile(OPEN_ALWAYS)
                                           : OpenLogFile(CREATE_ALWAYS, GENERIC_WRITE, 0);
    if (!file) {
        ::OutputDebugStringW(kCreateFailMessage);
        return;
    }
    try {
        const SYSTEMTIME now = Now();
        // Support reads the logs by date: the header carries the whole local date.
        WriteBytes(file.get(),
                   StringPrintf("\r\n\r\n\r\n%ld/%ld/%ld %ld:%ld:%ld\r\n",
                                static_cast<long>(now.wYear), static_cast<long>(now.wMonth),
                                static_cast<long>(now.wDay), static_cast<long>(now.wHour),
                                static_cast<long>(now.wMinute), static_cast<long>(now.wSecond)));
    } catch (...) {
    }
}

void WriteLog(std::string_view message) noexcept { WriteTaggedLine("[INFO]", message, false); }

void WriteError(std::string_view message) noexcept { WriteTaggedLine("[Error]", message, true); }

void WriteWCharLog(std::string_view prefix, const wchar_t* text) noexcept {
    if (!g_bLogOn) return;
    try {
        const std::string narrowText = WideToAnsi(text).value_or(std::string());
        WriteUnderLock(true, [&](HANDLE file) {
            WriteBytes(
                file,
                TimeStamp().append("[INFO]").append(prefix).append(narrowText).append("\r\n"));
        });
    } catch (...) {
    }
}

void SetLogClockForTesting(LocalTimeSource clock) noexcept {
    g_localTime = clock ? clock : ::GetLocalTime;
}

}  // namespace kvshake

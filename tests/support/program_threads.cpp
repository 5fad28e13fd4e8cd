#include "support/program_threads.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "foundation/unique_resource.h"

namespace kvshake::testing {
namespace {

bool StartsInThisProgram(HANDLE thread) {
    const auto* image = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const BYTE* start = nullptr;
    if (::NtQueryInformationThread(thread, ThreadQuerySetWin32StartAddress, &start, sizeof(start),
                                   nullptr) != 0) {
        return false;
    }
    return start >= image && start < image + nt->OptionalHeader.SizeOfImage;
}

// The ids of the other threads of this process that started in this program's code, and handles
// to them.
std::vector<std::pair<DWORD, unique_handle>> ThreadsOfThisProgram() {
    std::vector<std::pair<DWORD, unique_handle>> threads;
    unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !::Thread32First(snapshot.get(), &entry)) return threads;
    do {
        if (entry.th32OwnerProcessID != ::GetCurrentProcessId() ||
            entry.th32ThreadID == ::GetCurrentThreadId()) {
            continue;
        }
        unique_handle thread(
            ::OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        if (thread && StartsInThisProgram(thread.get())) {
            threads.emplace_back(entry.th32ThreadID, std::move(thread));
        }
    } while (::Thread32Next(snapshot.get(), &entry));
    return threads;
}

// Waits for the thread while handling this thread's messages: it may be sending one to a window
// of this thread.
bool WaitHandlingMessages(HANDLE thread, DWORD deadline) {
    for (;;) {
        const DWORD now = ::GetTickCount();
        const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
}

}  // namespace

ProgramThreads::ProgramThreads() {
    for (const auto& [id, thread] : ThreadsOfThisProgram()) before_.push_back(id);
}

bool ProgramThreads::WaitForThoseStartedSince(DWORD timeoutMs) const {
    const DWORD deadline = ::GetTickCount() + timeoutMs;
    for (const auto& [id, thread] : ThreadsOfThisProgram()) {
        if (std::find(before_.begin(), before_.end(), id) != before_.end()) continue;
        if (!WaitHandlingMessages(thread.get(), deadline)) return false;
    }
    return true;
}

}  // namespace kvshake::testing

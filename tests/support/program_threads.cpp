#include "support/program_threads.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "foundation/unique_resource.h"
#include "support/message_recorder.h"

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

}  // namespace

ProgramThreads::ProgramThreads() {
    for (const auto& [id, thread] : ThreadsOfThisProgram()) before_.push_back(id);
}

// Handles this thread's messages while it waits: a thread may be sending one to a window of it.
bool ProgramThreads::WaitForThoseStartedSince(DWORD timeoutMs) const {
    const auto threads = ThreadsOfThisProgram();
    return WaitUntil(
        [&] {
            return std::all_of(threads.begin(), threads.end(), [&](const auto& thread) {
                return std::find(before_.begin(), before_.end(), thread.first) != before_.end() ||
                       ::WaitForSingleObject(thread.second.get(), 0) == WAIT_OBJECT_0;
            });
        },
        timeoutMs);
}

}  // namespace kvshake::testing

#include "support/program_threads.h"

#include <tlhelp32.h>
#include <winternl.h>

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

// The other threads of this process that started in this program's code.
std::vector<unique_handle> ThreadsOfThisProgram() {
    std::vector<unique_handle> threads;
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
        if (thread && StartsInThisProgram(thread.get())) threads.push_back(std::move(thread));
    } while (::Thread32Next(snapshot.get(), &entry));
    return threads;
}

}  // namespace

bool WaitForThreadsOfThisProgram(DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (const unique_handle& thread : ThreadsOfThisProgram()) {
        const DWORD spent = ::GetTickCount() - start;
        if (::WaitForSingleObject(thread.get(), spent < timeoutMs ? timeoutMs - spent : 0) !=
            WAIT_OBJECT_0) {
            return false;
        }
    }
    return true;
}

}  // namespace kvshake::testing

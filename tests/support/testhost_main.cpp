// kvshake_testhost.exe: a process of its own for what tests must show across processes. It runs
// the commands of its command line in order and prints what they report:
//   load | unload                       load or free KVShake.dll (beside this program)
//   poke OFFSET VALUE | peek OFFSET     a 32-bit value at OFFSET in the module's shake_da block
//   block-zero                          prints "zero" when the whole block is zero, else "nonzero"
//   lock NAME | unlock                  LockNamedMutex / UnlockNamedMutex of the last lock
//   trylock NAME                        prints "free", "busy" or "missing" (never blocks)
//   race PREFIX ROUNDS ROLE             locks PREFIX<n> in step with the other ROLE (a or b);
//                                       exits 3 if both processes ever owned one mutex together
//   signal EVENT | wait EVENT           named manual-reset events
//   sleep MS | hang | exit CODE
//   log-on                              switches this process's log on
//   log-lines COUNT TAG                 COUNT lines of WriteLog with a long text naming TAG
//   log-writers                         one call of every writer (the log switch as it stands)
//   log-init                            InitLogFile
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/text.h"
#include "support/child_process.h"
#include "support/pe_sections.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

HMODULE g_module = nullptr;
HANDLE g_lastLock = nullptr;
// Named events stay open for the life of the process: an event whose last handle closes is gone,
// and a peer that opens it later would get a new, unsignalled one.
std::vector<unique_handle> g_events;

HANDLE Event(const std::wstring& name) {
    g_events.push_back(NamedEvent(name));
    return g_events.back().get();
}

LoadedSection Block() { return FindLoadedSection(g_module, "shake_da"); }

LONG* BlockValue(const std::wstring& offset) {
    return reinterpret_cast<LONG*>(Block().address + std::wcstoul(offset.c_str(), nullptr, 0));
}

bool BlockIsZero() {
    const LoadedSection block = Block();
    for (DWORD i = 0; i < block.size; ++i) {
        if (block.address[i] != 0) return false;
    }
    return true;
}

// Two processes step through fresh mutex names together; in each round both try to take the
// mutex at once, which makes both find it missing and race to create it.
int Race(const std::wstring& prefix, int rounds, wchar_t role) {
    const wchar_t other = role == L'a' ? L'b' : L'a';
    unique_handle holders(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(LONG), (prefix + L"-holders").c_str()));
    auto* count = static_cast<volatile LONG*>(
        ::MapViewOfFile(holders.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG)));
    int result = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::wstring name = prefix + std::to_wstring(round);
        unique_handle mine = NamedEvent(name + L"-ready-" + role);
        unique_handle theirs = NamedEvent(name + L"-ready-" + other);
        ::SetEvent(mine.get());
        ::WaitForSingleObject(theirs.get(), INFINITE);
        HANDLE mutex = LockNamedMutex(name.c_str());
        if (::InterlockedIncrement(count) != 1) result = 3;
        ::Sleep(1);
        ::InterlockedDecrement(count);
        UnlockNamedMutex(mutex);
    }
    ::UnmapViewOfFile(const_cast<LONG*>(count));
    return result;
}

void LogLines(int count, const std::wstring& tag) {
    const std::string narrowTag = WideToAnsi(tag.c_str()).value_or("");
    const std::string filler(200, '=');
    for (int i = 0; i < count; ++i) {
        WriteLog(StringPrintf("%s line %d %s end", narrowTag.c_str(), i, filler.c_str()));
    }
}

int Run(const std::vector<std::wstring>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& command = args[i];
        auto next = [&]() -> std::wstring { return i + 1 < args.size() ? args[++i] : L""; };
        if (command == L"load") {
            g_module = ::LoadLibraryW(ModulePath().c_str());
            if (!g_module) return 2;
        } else if (command == L"unload") {
            ::FreeLibrary(g_module);
            g_module = nullptr;
        } else if (command == L"poke") {
            LONG* value = BlockValue(next());
            *value = std::wcstol(next().c_str(), nullptr, 0);
        } else if (command == L"peek") {
            std::printf("%ld\n", static_cast<long>(*BlockValue(next())));
        } else if (command == L"block-zero") {
            std::printf("%s\n", BlockIsZero() ? "zero" : "nonzero");
        } else if (command == L"lock") {
            g_lastLock = LockNamedMutex(next().c_str());
        } else if (command == L"unlock") {
            UnlockNamedMutex(g_lastLock);
        } else if (command == L"trylock") {
            unique_handle mutex(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, next().c_str()));
            const DWORD wait = mutex ? ::WaitForSingleObject(mutex.get(), 0) : WAIT_FAILED;
            const bool acquired = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
            std::printf("%s\n", !mutex ? "missing" : acquired ? "free" : "busy");
            if (acquired) ::ReleaseMutex(mutex.get());
        } else if (command == L"race") {
            const std::wstring prefix = next();
            const int rounds = std::wcstol(next().c_str(), nullptr, 10);
            const int result = Race(prefix, rounds, next()[0]);
            if (result != 0) return result;
        } else if (command == L"signal") {
            ::SetEvent(Event(next()));
        } else if (command == L"wait") {
            if (::WaitForSingleObject(Event(next()), 60000) != WAIT_OBJECT_0) return 4;
        } else if (command == L"sleep") {
            ::Sleep(std::wcstoul(next().c_str(), nullptr, 10));
        } else if (command == L"hang") {
            ::Sleep(INFINITE);
        } else if (command == L"exit") {
            return std::wcstol(next().c_str(), nullptr, 10);
        } else if (command == L"log-on") {
            EnableLog(true);
        } else if (command == L"log-lines") {
            const int count = std::wcstol(next().c_str(), nullptr, 10);
            LogLines(count, next());
        } else if (command == L"log-writers") {
            WriteLog("info line");
            WriteError("error line");
            WriteWCharLog("wide line: ", L"text");
        } else if (command == L"log-init") {
            InitLogFile();
        } else {
            std::fprintf(stderr, "unknown command\n");
            return 1;
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace
}  // namespace kvshake::testing

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // tests compare the output with plain "\n" line ends
    return kvshake::testing::Run(std::vector<std::wstring>(argv + 1, argv + argc));
}

// Prints the speed of the foundations, the transport and the check loop, and runs the soak runs:
// a hundred thousand lock cycles and ten thousand check passes must leave the handle count and
// the memory flat, or the program fails.
#include <windows.h>

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <optional>

#include "bho/hidden_window.h"
#include "browser_double/attached_tab.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/named_mutex.h"
#include "service/http_transport.h"
#include "service/service_config.h"
#include "service/active_state.h"
#include "support/handle_count.h"
#include "support/log_file.h"
#include "support/message_recorder.h"
#include "support/standin_client.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

template <typename Work>
double PerSecond(int count, Work work) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) work();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return count / elapsed.count();
}

double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    return counters.PrivateUsage;
}

bool g_failed = false;

// Reports how much a soak run grew the handle count (and the private bytes) and fails the run
// when it grew more than allowed, or when the handle table cannot be read.
void ReportGrowth(const char* run, std::optional<DWORD> handlesBefore, DWORD allowedHandles,
                  SIZE_T bytesBefore, SIZE_T allowedBytes) {
    const std::optional<DWORD> handles = HandleCountOfThisProcess();
    if (!handlesBefore || !handles) {
        std::printf("FAIL %s: the system's handle table cannot be read\n", run);
        g_failed = true;
        return;
    }
    const long grownHandles = static_cast<long>(*handles) - static_cast<long>(*handlesBefore);
    const long long grownBytes =
        static_cast<long long>(PrivateBytes()) - static_cast<long long>(bytesBefore);
    const bool failed = grownHandles > static_cast<long>(allowedHandles) ||
                        grownBytes > static_cast<long long>(allowedBytes);
    std::printf("%s %s: handles %+ld, private bytes %+lld\n", failed ? "FAIL" : "ok  ", run,
                grownHandles, grownBytes);
    g_failed = g_failed || failed;
}

void SoakLockCycles() {
    const std::wstring name = UniqueName(L"soak");
    HANDLE sharedHandle = nullptr;
    { ScopedNamedMutex warmUp(name.c_str(), sharedHandle); }
    const std::optional<DWORD> handles = HandleCountOfThisProcess();
    const SIZE_T bytes = PrivateBytes();
    for (int i = 0; i < 50000; ++i) {
        ScopedNamedMutex lock(name.c_str(), sharedHandle);
    }
    for (int i = 0; i < 50000; ++i) UnlockNamedMutex(LockNamedMutex(name.c_str()));
    ReportGrowth("100000 lock cycles", handles, 0, bytes, 1024 * 1024);
}

// The checker of this process against a stand-in that answers at once.
void BenchCheckLoop() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    standin::Reset();
    standin::SetDefault(
        R"({"match":"shakecheck","body":"{\"ret\":\"0\",\"shake_status\":\"0\"}"})");
    shake_da = SharedBlock{};
    shake_da.g_bInited = true;
    {
        AttachedTab tab;
        MessageRecorder front;
        shake_da.g_HideWindowHwnd = front.Window();
        SetActive(true);
        tab.Bho().activate();
        WaitUntil([] { return standin::RequestCount() >= 1000; }, 120000);
        const std::optional<DWORD> handles = HandleCountOfThisProcess();
        const SIZE_T bytes = PrivateBytes();
        const auto start = std::chrono::steady_clock::now();
        const size_t before = standin::RequestCount();
        if (!WaitUntil([&] { return standin::RequestCount() >= before + 10000; }, 600000)) {
            std::printf("FAIL: fewer than 10000 check passes in ten minutes\n");
            g_failed = true;
        }
        std::printf(
            "checks per second:               %10.0f\n",
            (standin::RequestCount() - before) / Seconds(std::chrono::steady_clock::now() - start));
        ReportGrowth("10000 check passes", handles, 2, bytes, 4 * 1024 * 1024);

        constexpr int kShakes = 20;
        const auto shakesStart = std::chrono::steady_clock::now();
        for (int i = 0; i < kShakes; ++i) {
            standin::Script(
                R"([{"match":"shakecheck","body":"{\"ret\":\"0\",\"shake_status\":\"1\"}"}])");
            while (front.Count(WM_UP_UPLOAD) < static_cast<size_t>(i + 1)) MessageRecorder::Pump(1);
        }
        std::printf("shake answer to WM_UP_UPLOAD:    %10.1f ms (with the check in flight)\n",
                    1000.0 * Seconds(std::chrono::steady_clock::now() - shakesStart) / kShakes);
        SetActive(false);
    }
    standin::Reset();
    shake_da = SharedBlock{};
    ::CoUninitialize();
}

void Run() {
    const std::wstring name = UniqueName(L"bench");
    HANDLE sharedHandle = nullptr;
    std::printf("lock/unlock pairs per second:   %10.0f\n",
                PerSecond(20000, [&] { ScopedNamedMutex lock(name.c_str(), sharedHandle); }));

    EnableLog(false);
    std::printf("log lines per second, log off:  %10.0f\n",
                PerSecond(200000, [] { WriteLog("check start"); }));
    EnableLog(true);
    DeleteLogFile();
    std::printf("log lines per second, log on:   %10.0f\n",
                PerSecond(5000, [] { WriteLog("check start"); }));
    EnableLog(false);
    DeleteLogFile();

    standin::Reset();
    GetData(kServiceHost, L"/shakecheck");  // the first exchange also loads the TLS stack
    const double rate = PerSecond(20, [] { GetData(kServiceHost, L"/shakecheck"); });
    std::printf("GET round trip against the stand-in: %.1f ms\n", 1000.0 / rate);

    SoakLockCycles();
    BenchCheckLoop();
}

}  // namespace
}  // namespace kvshake::testing

int main() {
    kvshake::testing::Run();
    return kvshake::testing::g_failed ? 1 : 0;
}

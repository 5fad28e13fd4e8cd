// Prints the speed of the foundations and the transport; nothing is asserted.
#include <windows.h>

#include <chrono>
#include <cstdio>

#include "bho/hidden_window.h"
#include "browser_double/attached_tab.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/named_mutex.h"
#include "service/http_transport.h"
#include "service/service_config.h"
#include "service/active_state.h"
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
        MessageRecorder::Pump(500);
        const size_t before = standin::RequestCount();
        MessageRecorder::Pump(3000);
        std::printf("checks per second:               %10.0f\n",
                    (standin::RequestCount() - before) / 3.0);

        constexpr int kShakes = 20;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kShakes; ++i) {
            standin::Script(
                R"([{"match":"shakecheck","body":"{\"ret\":\"0\",\"shake_status\":\"1\"}"}])");
            while (front.Count(WM_UP_UPLOAD) < static_cast<size_t>(i + 1)) MessageRecorder::Pump(1);
        }
        std::printf("shake answer to WM_UP_UPLOAD:    %10.1f ms (with the check in flight)\n",
                    1000.0 * Seconds(std::chrono::steady_clock::now() - start) / kShakes);
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

    BenchCheckLoop();
}

}  // namespace
}  // namespace kvshake::testing

int main() {
    kvshake::testing::Run();
    return 0;
}

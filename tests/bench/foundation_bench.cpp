// Prints the speed of the foundations and the transport; nothing is asserted.
#include <windows.h>

#include <chrono>
#include <cstdio>

#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "service/http_transport.h"
#include "service/service_config.h"
#include "support/log_file.h"
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
}

}  // namespace
}  // namespace kvshake::testing

int main() {
    kvshake::testing::Run();
    return 0;
}

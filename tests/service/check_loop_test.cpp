// The machine-wide check loop, mostly in helper processes that load the module: each activates at
// its first attach (a stored token) or joins an activated browser as a new tab.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include <psapi.h>

#include "browser_double/attached_tab.h"
#include "browser_double/in_process_tab_test.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "service/active_state.h"
#include "support/child_process.h"
#include "support/handle_count.h"
#include "support/log_file.h"
#include "support/message_recorder.h"
#include "support/standin_client.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

constexpr char kNothing[] = R"({"ret":"0","shake_status":"0"})";
// The first TLS exchange in a new Wine prefix loads and imports the system's roots, which can
// take a while on a busy machine.
constexpr DWORD kActivationTimeoutMs = 60000;
const std::wstring kActiveFlag = L" " + std::to_wstring(offsetof(SharedBlock, g_bActive)) + L" ";
const std::wstring kFrontWindow =
    L" " + std::to_wstring(offsetof(SharedBlock, g_HideWindowHwnd)) + L" ";

std::vector<RecordedRequest> Checks() {
    std::vector<RecordedRequest> checks;
    for (RecordedRequest& request : standin::Requests()) {
        if (request.RequestLine().find("shakecheck") != std::string::npos) {
            checks.push_back(std::move(request));
        }
    }
    return checks;
}

// Waits, handling messages, until the condition holds; false after timeoutMs.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 15000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (condition()) return true;
        MessageRecorder::Pump(100);
    }
    return condition();
}

bool LogHas(const std::string& line, size_t times = 1) {
    return CountOccurrences(ReadLogFile(), line) >= times;
}

std::string CheckAnswer(const char* body, int delayMs = 0) {
    return std::string(R"({"match":"shakecheck","delay_ms":)") + std::to_string(delayMs) +
           R"(,"body":)" + JsonString(body) + "}";
}

class CheckLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(standin::Reset());
        standin::SetDefault(
            R"({"match":"shakeactive","body":"{\"message\":\"OK\",\"sid\":\"s-1\"}"})");
        standin::SetDefault(CheckAnswer(kNothing, 250));
        ClearAccount();
        WriteReg(kTokenValue, L"t-1");
        WriteReg(kUinValue, L"10001");
        WriteReg(kDebugValue, L"1");
        DeleteLogFile();
    }
    void TearDown() override {
        standin::Reset();
        ClearAccount();
        DelReg(kDebugValue);
    }

    // A helper process whose one tab activates the browser; it serves its tab until "done".
    std::wstring Name(const wchar_t* prefix) { return names_.emplace_back(UniqueName(prefix)); }
    static bool Activated() { return LogHas("[INFO]ActivateSuc End\r\n"); }

    std::vector<std::wstring> names_;
};

TEST_F(CheckLoopTest, OneCheckerForTheMachineAndAnotherTabTakesOverWhenItCloses) {
    const std::wstring go = Name(L"go"), gone = Name(L"gone"), done = Name(L"done");
    unique_handle goEvent = NamedEvent(go), doneEvent = NamedEvent(done);
    TestHost first(L"attach tab serve " + go + L" detach tab signal " + gone + L" serve " + done);
    ASSERT_TRUE(WaitUntil(Activated, kActivationTimeoutMs)) << ReadLogFile();
    TestHost second(L"attach tab serve " + done);
    ASSERT_TRUE(WaitUntil([] { return LogHas("[INFO]New Tab, Tab Num:1\r\n"); }));
    MessageRecorder::Pump(4000);  // more than a pause of the tab without the role

    // Answers take 250 ms; one checker sends the next check at once, two would overlap.
    std::vector<RecordedRequest> checks = Checks();
    ASSERT_GE(checks.size(), 8u);
    for (size_t i = 1; i < checks.size(); ++i) {
        const unsigned gap = checks[i].arrivalMs - checks[i - 1].arrivalMs;
        EXPECT_GE(gap, 200u) << "check " << i << " overlapped the one before";
        EXPECT_LT(gap, 1500u) << "check " << i << " came after a pause";
    }

    ::SetEvent(goEvent.get());
    ASSERT_TRUE(WaitForNamedEvent(gone));
    const size_t before = Checks().size();
    ASSERT_TRUE(WaitUntil([&] { return Checks().size() >= before + 3; }));
    checks = Checks();
    EXPECT_LT(checks[before].arrivalMs - checks[before - 1].arrivalMs, 6000u)
        << "the second tab took the role later than one pause";
    EXPECT_LT(checks[before + 2].arrivalMs - checks[before + 1].arrivalMs, 1500u);
    ::SetEvent(doneEvent.get());
    EXPECT_EQ(first.Wait(), 0u);
    EXPECT_EQ(second.Wait(), 0u);
}

TEST_F(CheckLoopTest, EachShakeSendsOneUploadToTheFrontTab) {
    const std::wstring done = Name(L"done");
    unique_handle doneEvent = NamedEvent(done);
    TestHost host(L"attach tab serve " + done);
    ASSERT_TRUE(WaitUntil(Activated, kActivationTimeoutMs)) << ReadLogFile();
    const std::string shake = CheckAnswer(R"({"ret":"0","shake_status":"1"})");
    standin::Script("[" + shake + "," + shake + "]");
    ASSERT_TRUE(WaitUntil([] { return LogHas("Receive Msg:WM_UP_UPLOAD", 2); }));
    MessageRecorder::Pump(1000);
    ::SetEvent(doneEvent.get());
    ASSERT_EQ(host.Wait(), 0u);

    const std::string log = ReadLogFile();
    EXPECT_EQ(CountOccurrences(log, "[INFO]Send Msg:WM_UP_UPLOAD\r\n"), 2u);
    EXPECT_EQ(CountOccurrences(log, "[INFO]Receive Msg:WM_UP_UPLOAD\r\n"), 2u);
    EXPECT_LT(log.find("Send Msg:WM_UP_UPLOAD"), log.find("Receive Msg:WM_UP_UPLOAD"));
}

TEST_F(CheckLoopTest, ShakeWithoutAFrontTabIsDroppedWithAnError) {
    const std::wstring done = Name(L"done");
    unique_handle doneEvent = NamedEvent(done);
    TestHost host(L"attach tab poke" + kFrontWindow + L"0 serve " + done);
    ASSERT_TRUE(WaitUntil(Activated, kActivationTimeoutMs)) << ReadLogFile();
    standin::Script("[" + CheckAnswer(R"({"ret":"0","shake_status":"1"})") + "]");
    EXPECT_TRUE(WaitUntil([] { return LogHas("[Error]g_HideWindowHwnd NULL\r\n"); }));
    ::SetEvent(doneEvent.get());
    ASSERT_EQ(host.Wait(), 0u);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "Receive Msg:WM_UP_UPLOAD"), 0u);
}

TEST_F(CheckLoopTest, FailedCheckDeactivatesAndNothingIsCheckedAfterIt) {
    const std::wstring done = Name(L"done");
    unique_handle doneEvent = NamedEvent(done);
    TestHost host(L"attach tab serve " + done + L" peek8" + kActiveFlag);
    ASSERT_TRUE(WaitUntil(Activated, kActivationTimeoutMs)) << ReadLogFile();
    standin::Script("[" + CheckAnswer(R"({"ret":"-1"})") + "]");
    ASSERT_TRUE(WaitUntil([] { return LogHas("check result: {\"ret\":\"-1\"}"); }));
    MessageRecorder::Pump(500);
    const size_t checks = Checks().size();
    MessageRecorder::Pump(6000);  // longer than an inactive pass
    EXPECT_EQ(Checks().size(), checks);
    ::SetEvent(doneEvent.get());
    ASSERT_EQ(host.Wait(), 0u);
    EXPECT_EQ(host.Output(), "0\n");
    EXPECT_TRUE(LogHas("SetToolBarIcon"));  // the front tab heard WM_ICON_INACTIVE
}

// The checker waits on a service that answers only after detach has given up on it.
TEST_F(CheckLoopTest, DetachDuringASilentExchangeLeavesTheThreadToEndByItself) {
    const std::wstring go = Name(L"go"), gone = Name(L"gone"), done = Name(L"done");
    unique_handle goEvent = NamedEvent(go), doneEvent = NamedEvent(done);
    TestHost host(L"attach tab serve " + go + L" detach tab signal " + gone + L" serve " + done);
    ASSERT_TRUE(WaitUntil(Activated, kActivationTimeoutMs)) << ReadLogFile();
    standin::Reset();
    standin::SetDefault(CheckAnswer(R"({"ret":"0","shake_status":"1"})", 8000));
    ASSERT_TRUE(WaitUntil([] { return !Checks().empty(); }));
    ::SetEvent(goEvent.get());
    ASSERT_TRUE(WaitForNamedEvent(gone, 10000));

    for (const wchar_t* mutex : {L"mutexForActive", L"mutexForChecking"}) {
        TestHost probe(std::wstring(L"trylock ") + mutex);
        ASSERT_EQ(probe.Wait(), 0u);
        EXPECT_NE(probe.Output(), "busy\n") << mutex;
    }
    MessageRecorder::Pump(7000);  // the late answer arrives and the thread ends
    EXPECT_EQ(Checks().size(), 1u);
    ::SetEvent(doneEvent.get());
    ASSERT_EQ(host.Wait(), 0u);

    long elapsed = -1;
    ASSERT_EQ(std::sscanf(host.Output().c_str(), "detached in %ld ms", &elapsed), 1);
    EXPECT_LT(elapsed, 3500 + 1500);
    const std::string log = ReadLogFile();
    EXPECT_EQ(CountOccurrences(log, "left to end by itself"), 1u) << log;
    EXPECT_EQ(CountOccurrences(log, "Send Msg:WM_UP_UPLOAD"), 0u);
    EXPECT_EQ(CountOccurrences(log, "TerminateThread"), 0u);
}

TEST_F(CheckLoopTest, TwoTabsClosedTogetherBothHaveTheirThreadsEnd) {
    const std::wstring newTab = Name(L"new-tab"), go = Name(L"go"), done = Name(L"done");
    unique_handle newTabEvent = NamedEvent(newTab), goEvent = NamedEvent(go),
                  doneEvent = NamedEvent(done);
    TestHost host(L"attach t0 serve " + newTab + L" attach t1 serve " + go +
                  L" detach t0 detach t1 serve " + done);
    ASSERT_TRUE(WaitUntil(Activated, kActivationTimeoutMs)) << ReadLogFile();
    ::SetEvent(newTabEvent.get());  // a new tab of the activated browser starts its own thread
    ASSERT_TRUE(WaitUntil([] { return LogHas("Create New Thread To Check", 2); }));
    ::SetEvent(goEvent.get());
    ASSERT_TRUE(WaitUntil([] { return LogHas("SetSite", 2); }));
    ::SetEvent(doneEvent.get());
    ASSERT_EQ(host.Wait(), 0u);

    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]SetSite WaitForSingleObject Suc\r\n"), 2u);
    long first = -1, second = -1;
    ASSERT_EQ(std::sscanf(host.Output().c_str(), "detached in %ld ms\ndetached in %ld ms", &first,
                          &second),
              2);
    EXPECT_LT(first, 2000);   // the checker's exchange takes 250 ms
    EXPECT_LT(second, 2000);  // the other thread's pause ends at its stop signal
}

}  // namespace
}  // namespace kvshake::testing

namespace kvshake::testing {
namespace {

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    return counters.PrivateUsage;
}

// The checker of this process, on the module's code linked in, polls a service that answers at
// once; whatever one pass takes, it must give back.
class CheckLoopPassesTest : public InProcessTabTest {
  protected:
    int CheckDelayMs() const override { return 0; }
};

TEST_F(CheckLoopPassesTest, TenThousandPassesLeaveHandlesAndMemoryFlat) {
    DWORD handlesAfterWarmUp = 0;
    SIZE_T bytesAfterWarmUp = 0;
    {
        AttachedTab tab;
        SetActive(true);
        tab.Bho().activate();
        ASSERT_TRUE(WaitUntil([] { return standin::RequestCount() >= 1000; }, 60000));
        handlesAfterWarmUp = HandleCountOfThisProcess();
        bytesAfterWarmUp = PrivateBytes();
        ASSERT_TRUE(WaitUntil([] { return standin::RequestCount() >= 11000; }, 240000));
        EXPECT_LE(HandleCountOfThisProcess(), handlesAfterWarmUp + 2);
        EXPECT_LT(PrivateBytes(), bytesAfterWarmUp + 4 * 1024 * 1024);
    }
}

}  // namespace
}  // namespace kvshake::testing

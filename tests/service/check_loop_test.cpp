// The machine-wide check loop, mostly in helper processes that load the module.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "bho/hidden_window.h"
#include "browser_double/in_process_tab_test.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "service/active_state.h"
#include "service/check_loop.h"
#include "support/helper_process_test.h"
#include "support/handle_count.h"

namespace kvshake::testing {
namespace {

// The longest that an inactive check thread pauses between passes, and that a detach waits for
// an active one.
constexpr DWORD kInactivePauseMs = 5000, kActiveDetachMs = 3500;

std::vector<RecordedRequest> Checks() { return standin::RequestsTo("shakecheck"); }

// Checks flow: more come in, within the default wait.
bool ChecksFlow(size_t count = 3) {
    const size_t start = Checks().size();
    return WaitUntil([&] { return Checks().size() >= start + count; });
}

using CheckLoopTest = HelperProcessTest;

// The checker role passes on as tabs close or die mid-exchange, also when a running process
// carries the dead checker's id; a failed check deactivates. The first two tabs run the module
// from two folders, as an update in place leaves them while tabs run the old file: they make one
// machine run.
TEST_F(CheckLoopTest, OneCheckerForTheMachineAndAnotherTabTakesOverUntilACheckFails) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = temp + UniqueName(L"update"), copy = folder + L"\\KVShake.dll";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr) &&
                ::CopyFileW(ModulePath().c_str(), copy.c_str(), TRUE));
    const std::wstring go = UniqueName(L"go"), gone = UniqueName(L"gone");
    unique_handle goEvent = NamedEvent(go);
    TestHost first(L"attach tab serve " + go + L" quit tab detach tab signal " + gone + L" serve " +
                   done_);
    ASSERT_TRUE(Activated());
    TestHost second(L"module " + copy + L" attach tab serve " + done_);
    ASSERT_TRUE(WaitUntil([] { return LogHas("[INFO]New Tab, Tab Num:1\r\n"); })) << ReadLogFile();
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "Explorer Init"), 1u);

    ASSERT_TRUE(ChecksFlow());
    // The old copy's last tab closes: the second tab takes the role, and as it is still open,
    // nothing is inactivated. Never two checks at once.
    ::SetEvent(goEvent.get());
    ASSERT_TRUE(WaitForNamedEvent(gone));
    ASSERT_TRUE(ChecksFlow());
    for (const RecordedRequest& check : Checks()) EXPECT_EQ(check.alongside, 0u);
    EXPECT_TRUE(standin::RequestsTo("action=inactive").empty());
    EXPECT_FALSE(LogHas("Before UnActive"));
    const size_t tabs = CountOccurrences(ReadLogFile(), "New Tab");
    TestHost third(L"attach tab serve " + done_);
    ASSERT_TRUE(WaitUntil([&] { return CountOccurrences(ReadLogFile(), "New Tab") > tabs; }));
    standin::SetDefault(CheckAnswer(kNothing, 2000));
    ASSERT_TRUE(WaitUntil([] { return !Checks().back().done; }));
    second.Kill();
    EXPECT_TRUE(ChecksFlow(1));  // the third tab took the role of the checker that died
    // That one's process ends too, and a process that still runs carries its id, as a later process
    // can: the role is taken over all the same.
    third.Kill();
    TestHost fourth(L"poke" + Word(offsetof(SharedBlock, g_dwCheckProcessId)) +
                    std::to_wstring(first.ProcessId()) + L" attach tab serve " + done_ + L" peek8" +
                    Word(offsetof(SharedBlock, g_bActive)));
    EXPECT_TRUE(ChecksFlow(1)) << ReadLogFile();

    standin::Script("[" + CheckAnswer(R"({"ret":"-1"})") + "]");
    ASSERT_TRUE(WaitUntil([] { return LogHas("check result: {\"ret\":\"-1\"}"); }));
    const size_t last = Checks().size();
    MessageRecorder::Pump(kInactivePauseMs + 1000);  // no check comes in an inactive pass
    EXPECT_EQ(Checks().size(), last);
    ::SetEvent(doneEvent_.get());
    EXPECT_EQ(first.Wait(), 0u);
    ASSERT_EQ(fourth.Wait(), 0u);
    EXPECT_EQ(fourth.Output(), "0\n");
}

// A shake that reaches no tab is dropped and checking goes on: with no tab in front, and with a
// newest tab whose thread stops handling messages (a hung tab), which the test build gives up on
// within seconds, whether or not the system takes it for hung. Then the checker waits on a
// service that answers only after its tab's detach has given up on it.
TEST_F(CheckLoopTest, ShakeThatReachesNoTabIsDroppedAndADetachLeavesASilentExchangeToEnd) {
    const std::wstring hung = UniqueName(L"hung"), go = UniqueName(L"go"),
                       gone = UniqueName(L"gone");
    unique_handle goEvent = NamedEvent(go);
    TestHost checker(L"attach tab poke" + Word(offsetof(SharedBlock, g_HideWindowHwnd)) +
                     L"0 serve " + go + L" detach tab signal " + gone + L" serve " + done_);
    ASSERT_TRUE(Activated());
    standin::Script("[" + CheckAnswer(kShake) + "]");
    ASSERT_TRUE(WaitUntil([] { return LogHas("[Error]g_HideWindowHwnd NULL\r\n"); }));
    TestHost front(L"attach tab signal " + hung + L" hang");
    ASSERT_TRUE(WaitForNamedEvent(hung));
    standin::Script("[" + CheckAnswer(kShake) + "]");
    ASSERT_TRUE(WaitUntil([] { return LogHas("[Error]The tab in front did not take message"); }))
        << ReadLogFile();
    EXPECT_TRUE(ChecksFlow());
    front.Kill();  // its check thread would take the role once the checker's tab is gone

    standin::SetDefault(CheckAnswer(kShake, 8000));
    const size_t silent = Checks().size();
    ASSERT_TRUE(WaitUntil([&] { return Checks().size() > silent; }));
    ::SetEvent(goEvent.get());
    ASSERT_TRUE(WaitForNamedEvent(gone, 10000));
    for (const wchar_t* mutex : {L"mutexForActive", L"mutexForChecking"}) {
        TestHost probe(std::wstring(L"trylock ") + mutex);
        ASSERT_EQ(probe.Wait(), 0u);
        EXPECT_NE(probe.Output(), "busy\n") << mutex;
    }
    // The late answer arrives and the thread ends without another check or upload.
    ASSERT_TRUE(WaitUntil([&] { return Checks().at(silent).done; }));
    ::SetEvent(doneEvent_.get());
    ASSERT_EQ(checker.Wait(), 0u);
    EXPECT_EQ(Checks().size(), silent + 1);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "Receive Msg:WM_UP_UPLOAD"), 0u);

    const std::vector<long> detached = DetachTimes(checker.Output());
    // The detach waited its whole limit (the exchange held the thread) and not much longer.
    ASSERT_EQ(detached.size(), 1u) << checker.Output();
    EXPECT_GE(detached[0], kActiveDetachMs - 50);
    EXPECT_LT(detached[0], kActiveDetachMs + 3000);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "TerminateThread"), 0u);
}

TEST(RetryPauseTest, DoublesFromThreeSecondsToAMinuteAndStartsOverAfterAnAnswer) {
    RetryPause retry;
    for (const DWORD expected : {3000u, 6000u, 12000u, 24000u, 48000u, 60000u, 60000u}) {
        EXPECT_EQ(retry.Next(), expected);
    }
    retry.Reset();
    EXPECT_EQ(retry.Next(), 3000u);
}

// This process's checker against a service answering at once; the benchmark soaks it for 10,000
// passes.
class CheckLoopPassesTest : public InProcessTabTest {
  protected:
    int CheckDelayMs() const override { return 0; }
};

// Activating an active browser only wakes the tab's check thread. The checker does not pause
// between passes that get an answer, and they leave no handle behind. Tabs that come and go, with
// a thread or without one, leave it checking; its own tab's quit ends its checks.
TEST_F(CheckLoopPassesTest, PassesFollowOneAnotherLeaveNoHandleAndEndAtTheirTabsStop) {
    AttachedTab checker;
    SetActive(true);
    checker.Bho().activate();
    ASSERT_TRUE(WaitUntil([] { return standin::RequestCount() >= 20; }));
    EXPECT_TRUE(standin::RequestsTo("shakeactive").empty());
    const std::optional<DWORD> before = HandleCountOfThisProcess();
    ASSERT_TRUE(before) << "the system's handle table cannot be read";
    ASSERT_TRUE(WaitUntil([] { return standin::RequestCount() >= 120; }, 30000));
    EXPECT_LE(HandleCountOfThisProcess().value_or(MAXDWORD), *before + kNetworkHandleSlack);

    for (int i = 0; i < 3; ++i) {
        AttachedTab waiting;
        MessageRecorder::Pump(200);  // its thread finds the role taken and pauses
    }
    { AttachedTab withoutBrowser(nullptr); }
    const size_t running = standin::RequestCount();
    ASSERT_TRUE(WaitUntil([&] { return standin::RequestCount() >= running + 3; }));
    checker.Browser()->FireQuit();
    MessageRecorder::Pump(300);
    const size_t checks = standin::RequestCount();
    MessageRecorder::Pump(500);
    EXPECT_EQ(standin::RequestCount(), checks);
}

// A connection left silent, one dropped and a gateway's error keep the activation: checks go on
// after a pause, and a shake answered with bare numbers uploads. Only the service's own failure
// ends it. The service answers a check at once, so a silent connection is half open and is given
// up at the check's limit, a minute, which the test build shortens to ten seconds.
TEST_F(CheckLoopPassesTest, TransportFailuresKeepTheActivationAndOnlyAnAnswerEndsIt) {
    DeleteLogFile();
    EnableLog(true);
    AttachedTab tab;
    MessageRecorder front;
    const std::string nothing = CheckAnswer(kNothing);
    standin::Script("[" + std::string(R"({"match":"shakecheck","hang":true})") + "," + nothing +
                    "," + R"({"match":"shakecheck","status":503,"body":"{\"ret\":\"0\"}"})" + "," +
                    nothing + "," + R"({"match":"shakecheck","close":true})" + "," +
                    CheckAnswer(R"({"ret":0,"shake_status":1})") + "]");
    SetActive(true);
    tab.Bho().activate();
    SharedState().g_HideWindowHwnd = front.Window();  // the tab's activation brought it forward
    // Within the silent connection's limit, three pauses and a margin.
    ASSERT_TRUE(WaitUntil([&] { return front.Count(WM_UP_UPLOAD) == 1; }, 10000 + 9000 + 8000))
        << ReadLogFile();
    EXPECT_TRUE(ReadActive());
    EXPECT_EQ(front.Count(WM_ICON_INACTIVE), 0u);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[Error]Check No Answer, check again in 3000 ms"),
              3u);
    standin::Script("[" + CheckAnswer(R"({"ret":"-1"})") + "]");
    ASSERT_TRUE(WaitUntil([] { return !ReadActive(); }));
    EXPECT_TRUE(WaitUntil([&] { return front.Count(WM_ICON_INACTIVE) == 1; }));
    EnableLog(false);
}

}  // namespace
}  // namespace kvshake::testing

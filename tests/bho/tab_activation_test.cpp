// A tab's activation flows, on the module's code linked in, against the service stand-in.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <tuple>

#include "bho/hidden_window.h"
#include "browser_double/in_process_tab_test.h"
#include "foundation/log.h"
#include "service/active_state.h"
#include "support/handle_count.h"
#include "support/helper_process_test.h"
#include "support/stored_value.h"

namespace kvshake::testing {
namespace {

std::string Answer(const char* body, int delayMs = 0) {
    return standin::Answer("shakeactive", body, delayMs);
}

class TabActivationTest : public InProcessTabTest {
  protected:
    // Checks of the threads that a successful activation starts are answered slowly.
    int CheckDelayMs() const override { return 200; }

    void SetUp() override {
        InProcessTabTest::SetUp();
        ClearAccount();
        WriteReg(kTokenValue, L"t-1");
        WriteReg(kUinValue, L"10001");
        WriteReg(kDebugValue, L"1");
        DeleteLogFile();
        EnableLog(true);
    }
    void TearDown() override {
        EnableLog(false);
        ClearAccount();
        DelReg(kDebugValue);
        InProcessTabTest::TearDown();
    }

    // The first attach of a machine run, which activates on a thread of its own.
    static void StartMachineRun() { SharedState().g_bInited = false; }
};

// Bound from a second tab that closes: the inactive first tab checks and takes the checker role.
TEST_F(TabActivationTest, OkStoresTheSidActivatesAndTheTabAttachedInactiveChecksOn) {
    standin::Script("[" + Answer(R"({"message":"OK","sid":"s-42"})") + "]");
    AttachedTab tab;
    MessageRecorder front;
    {
        AttachedTab second;
        SharedState().g_HideWindowHwnd = front.Window();
        second.Bho().activate();
        EXPECT_EQ(standin::RequestsTo("action=active").size(), 1u);
        EXPECT_EQ(Stored(kSidValue), L"s-42");
        EXPECT_TRUE(ReadActive());
        // The tab whose panel activated is the one in front, and its button shows the look.
        EXPECT_EQ(SharedState().g_HideWindowHwnd, second.Bho().HiddenWindow());
        EXPECT_EQ(front.Count(WM_ICON_ACTIVE), 0u);
        EXPECT_TRUE(LogHas("SetToolBarIcon")) << ReadLogFile();
        ASSERT_TRUE(WaitUntil([&] {
            return SharedState().g_bHasCheckThread &&
                   SharedState().g_nCheckTabNum == second.Bho().TabNumber();
        }));
        second.Browser()->FireQuit();
    }
    const size_t checks = standin::RequestsTo("shakecheck").size();
    EXPECT_TRUE(
        WaitUntil([&] { return standin::RequestsTo("shakecheck").size() > checks; }, 5000 + 2000));
    SetActive(false);
    standin::Script("[" + Answer(R"({"message":"OK","sid":"s-43"})") + "]");
    tab.Bho().activate();
    EXPECT_EQ(Stored(kSidValue), L"s-43");
    tab.Bho().activate();
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "Create New Thread To Check"), 2u);  // one a tab
    // Tabs count down as they quit; the last one ends the activation.
    AttachedTab last;
    SetActive(true);
    standin::Script("[" + Answer(R"({"message":"OK"})") + "]");
    tab.Browser()->FireQuit();
    EXPECT_TRUE(standin::RequestsTo("action=inactive").empty());
    last.Browser()->FireQuit();
    EXPECT_EQ(standin::RequestsTo("action=inactive").size(), 1u);
    EXPECT_FALSE(ReadActive());
}

// From the panel and at browser start: only a refusal that says 201 deletes the account; a
// gateway's page with a year in it is no answer.
TEST_F(TabActivationTest, RefusalOrNoAnswerLeavesTheBrowserInactive) {
    for (const auto& [atStart, answer, accountKept] :
         {std::tuple{false, Answer(R"({"message":"invalid","ret":"1"})"), true},
          std::tuple{false, Answer(R"({"message":"invalid","ret":"201"})"), false},
          std::tuple{false, Answer("<html><p>Blocked \xc2\xa9 2019</p></html>"), true},
          std::tuple{true, Answer(R"({"message":"invalid","ret":"201"})"), false}}) {
        SCOPED_TRACE(answer);
        WriteReg(kTokenValue, L"t-1");
        DeleteLogFile();
        standin::Script("[" + answer + "]");
        if (atStart) StartMachineRun();
        AttachedTab tab;
        if (!atStart) tab.Bho().activate();
        ASSERT_TRUE(WaitUntil([] { return LogHas("[INFO]Active Fail\r\n"); })) << ReadLogFile();
        EXPECT_FALSE(ReadActive());
        EXPECT_EQ(Stored(kTokenValue) == L"t-1", accountKept);
        EXPECT_EQ(CountOccurrences(ReadLogFile(), "startCheckShake start"), 1u);  // the attach's
    }
}

// A browser started before the network is up activates once it is, also after the tab that
// started the activation has closed while another stays.
TEST_F(TabActivationTest, InitActiveTriesAgainAfterTransportFailuresWhileTabsAreOpen) {
    StartMachineRun();
    standin::Script(R"([{"match":"shakeactive","close":true},)"
                    R"({"match":"shakeactive","status":502,"body":"{\"message\":\"OK\"}"}])");
    standin::SetDefault(Answer(R"({"message":"OK","sid":"s-9"})"));
    std::optional<AttachedTab> starter(std::in_place);
    AttachedTab other;
    ASSERT_TRUE(WaitUntil([] { return LogHas("[Error]InitActive No Result"); }));
    starter->Browser()->FireQuit();
    starter.reset();
    ASSERT_TRUE(WaitUntil([] { return LogHas("ActivateSuc End"); }, 30000)) << ReadLogFile();
    EXPECT_EQ(standin::RequestsTo("action=active").size(), 3u);
    EXPECT_EQ(Stored(kSidValue), L"s-9");
    EXPECT_TRUE(WaitUntil([&] {
        return SharedState().g_bHasCheckThread &&
               SharedState().g_nCheckTabNum == other.Bho().TabNumber();
    }));
}

// At browser start the activation waits for the tab's window, and the tab takes the checker role.
// A success after the tab went reaches no helper object and starts no check thread.
TEST_F(TabActivationTest, InitActiveWaitsForTheTabsWindowAndADetachDuringItLeavesNothing) {
    standin::Script("[" + Answer(R"({"message":"OK","sid":"s-0"})") + "," +
                    Answer(R"({"message":"OK","sid":"s-1"})", 1500) + "]");
    StartMachineRun();
    {
        AttachedTab tab;
        ASSERT_TRUE(WaitUntil([] { return LogHas("ActivateSuc End"); })) << ReadLogFile();
        const std::string log = ReadLogFile();
        EXPECT_LT(log.find("InitHideWindow, CreateWindow Suc"),
                  log.find("In ActiveSuc, Send Msg End"))
            << log;
        EXPECT_TRUE(WaitUntil([] { return SharedState().g_bHasCheckThread; }));
        EXPECT_EQ(CountOccurrences(ReadLogFile(), "Create New Thread To Check"), 1u);
        EXPECT_TRUE(tab.Browser()->Property(L"HasThreadCheck").get().boolVal == 1);
        // A first exchange, check and tab leave WinINet's and the window system's state behind.
        EXPECT_TRUE(WaitUntil([] { return !standin::RequestsTo("shakecheck").empty(); }));
    }
    const std::optional<DWORD> handlesBefore = HandleCountOfThisProcess();
    ASSERT_TRUE(handlesBefore) << "the handle table cannot be read";
    SetActive(false);
    DeleteLogFile();
    StartMachineRun();
    Microsoft::WRL::ComPtr<BrowserDouble> browser;
    {
        AttachedTab tab;
        browser = tab.Browser();
        ASSERT_TRUE(WaitUntil([] { return standin::RequestsTo("shakeactive").size() == 2; }));
        browser->FireQuit();
    }
    ASSERT_TRUE(WaitUntil([] { return LogHas("ActivateSuc End"); })) << ReadLogFile();
    MessageRecorder::Pump(200);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "startCheckShake start"), 1u);  // the attach's
    EXPECT_EQ(browser->References(), 1u);
    EXPECT_LE(HandleCountOfThisProcess().value_or(MAXDWORD), *handlesBefore + kNetworkHandleSlack);
}

}  // namespace
}  // namespace kvshake::testing

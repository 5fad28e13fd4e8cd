// The helper object's life in a tab, driven in helper processes that load the module and site
// its objects on browser doubles. This test program never loads the module itself, so every
// test starts a new machine run.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "bho/hidden_window.h"
#include "browser_double/attached_tab.h"
#include "com/module.h"
#include "browser_double/in_process_tab_test.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "service/active_state.h"
#include "support/child_process.h"
#include "support/handle_count.h"
#include "support/log_file.h"
#include "support/standin_client.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

const std::wstring kTabNum = Word(offsetof(SharedBlock, g_nTabNum));
const std::wstring kNextTabNum = Word(offsetof(SharedBlock, g_nNextTabNum));
const std::wstring kHideWindowHwnd = Word(offsetof(SharedBlock, g_HideWindowHwnd));
const std::wstring kActive = Word(offsetof(SharedBlock, g_bActive));
const std::wstring kPanel = Word(offsetof(SharedBlock, g_hwnd));

HWND HiddenWindowOfTab(int number) {
    return ::FindWindowW((L"HideWindow" + std::to_wstring(number)).c_str(), L"Hide Window");
}

std::string HandleText(HWND window) { return std::to_string(HandleToLong(window)) + "\n"; }

class ShakeBhoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearAccount();
        WriteReg(kDebugValue, L"1");
        DeleteLogFile();
    }
    void TearDown() override {
        ClearAccount();
        DelReg(kDebugValue);
    }
};

// Two processes attach at the same moment, many times over, each time in a new machine run: one
// of them is first, every time.
TEST_F(ShakeBhoTest, FirstAttachOfAMachineRunIsDecidedOnceAcrossProcesses) {
    WriteReg(kTokenValue, L"token");
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        DeleteLogFile();
        const std::wstring go = UniqueName(L"go"), done = UniqueName(L"done");
        unique_handle goEvent = NamedEvent(go), doneEvent = NamedEvent(done);
        // Both stay until both have attached: a machine run ends with its last process.
        TestHost a(L"wait " + go + L" attach tab signal " + go + L"-a wait " + done);
        TestHost b(L"wait " + go + L" attach tab signal " + go + L"-b wait " + done);
        ::SetEvent(goEvent.get());
        ASSERT_TRUE(WaitForNamedEvent(go + L"-a"));
        ASSERT_TRUE(WaitForNamedEvent(go + L"-b"));
        ::SetEvent(doneEvent.get());
        ASSERT_EQ(a.Wait(), 0u);
        ASSERT_EQ(b.Wait(), 0u);
        const std::string log = ReadLogFile();
        EXPECT_EQ(CountOccurrences(log, "\r\n2012/"), 1u) << log;  // the log file's header
        EXPECT_EQ(CountOccurrences(log, "[INFO]Explorer Init\r\n"), 1u);
        EXPECT_EQ(CountOccurrences(log, "[INFO]After CreateThread to initActive\r\n"), 1u);
        EXPECT_EQ(CountOccurrences(log, "[INFO]New Tab, Tab Num:"), 1u);
        EXPECT_EQ(CountOccurrences(log, "[INFO]InitHideWindow, CreateWindow Suc\r\n"), 2u);
    }
}

TEST_F(ShakeBhoTest, EachTabOwnsAHiddenWindowNamedAfterItsNumber) {
    const std::wstring ready = UniqueName(L"ready"), done = UniqueName(L"done");
    TestHost a(L"attach tab signal " + ready + L"-a wait " + done);
    ASSERT_TRUE(WaitForNamedEvent(ready + L"-a"));
    TestHost b(L"attach tab signal " + ready + L"-b peek" + kHideWindowHwnd + L"wait " + done);
    ASSERT_TRUE(WaitForNamedEvent(ready + L"-b"));

    DWORD processA = 0, processB = 0;
    ASSERT_NE(HiddenWindowOfTab(0), nullptr);
    ASSERT_NE(HiddenWindowOfTab(1), nullptr);
    ::GetWindowThreadProcessId(HiddenWindowOfTab(0), &processA);
    ::GetWindowThreadProcessId(HiddenWindowOfTab(1), &processB);
    EXPECT_EQ(processA, a.ProcessId());
    EXPECT_EQ(processB, b.ProcessId());
    EXPECT_FALSE(::IsWindowVisible(HiddenWindowOfTab(0)));
    const std::string newest = HandleText(HiddenWindowOfTab(1));

    unique_handle doneEvent = NamedEvent(done);
    ::SetEvent(doneEvent.get());
    ASSERT_EQ(b.Wait(), 0u);
    ASSERT_EQ(a.Wait(), 0u);
    EXPECT_EQ(b.Output(), newest);  // the newest tab is taken to be in front
}

TEST_F(ShakeBhoTest, BrowserObjectAttachedAgainCountsButTakesNoNumberNorWindow) {
    TestHost host(L"attach tab attach tab peek" + kTabNum + L"peek" + kNextTabNum);
    ASSERT_EQ(host.Wait(), 0u);
    EXPECT_EQ(host.Output(), "2\n1\n");
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "InitHideWindow, CreateWindow Suc"), 1u);
}

TEST_F(ShakeBhoTest, LogStaysOffUnlessTheSwitchIsExactly1) {
    for (const wchar_t* value : {L"true", L" 1"}) {
        WriteReg(kDebugValue, value);
        TestHost host(L"attach tab");
        ASSERT_EQ(host.Wait(), 0u);
        EXPECT_FALSE(LogFileExists()) << "kvshockdebug " << value;
    }
}

// Messages sent from this process are handled by the helper process, on its tab's thread.
TEST_F(ShakeBhoTest, HiddenWindowRunsPrivateMessagesOnItsTabsThread) {
    const std::wstring ready = UniqueName(L"ready"), done = UniqueName(L"done");
    unique_handle doneEvent = NamedEvent(done);
    TestHost host(L"attach tab make-panel signal " + ready + L" serve " + done);
    ASSERT_TRUE(WaitForNamedEvent(ready));
    const HWND hidden = HiddenWindowOfTab(0);
    ASSERT_NE(hidden, nullptr);
    const HWND panel = ::FindWindowW(L"TestPanel", L"panel");
    ASSERT_TRUE(::IsWindowVisible(panel));

    EXPECT_EQ(::SendMessageW(hidden, WM_UP_UPLOAD, 0, 0), 0);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]Receive Msg:WM_UP_UPLOAD\r\n"), 1u);

    ::SendMessageW(hidden, WM_ACTIVATE, WA_ACTIVE, 0);
    ::SendMessageW(hidden, WM_ACTIVATE, WA_CLICKACTIVE, 0);
    EXPECT_TRUE(::IsWindowVisible(panel));
    EXPECT_EQ(::SendMessageW(hidden, WM_ACTIVATE, WA_INACTIVE, 0), 0);
    EXPECT_FALSE(::IsWindowVisible(panel));

    const std::string before = ReadLogFile();
    EXPECT_EQ(::SendMessageW(hidden, WM_USER + 3, 0, 0), 0);
    EXPECT_EQ(ReadLogFile(), before);
    EXPECT_EQ(::SendMessageW(hidden, WM_GETTEXTLENGTH, 0, 0), 11);  // "Hide Window"

    ::SetEvent(doneEvent.get());
    EXPECT_EQ(host.Wait(), 0u);
}

// A new object on a browser object whose first object has gone takes over its hidden window.
TEST_F(ShakeBhoTest, HiddenWindowOutlivesItsObjectWithoutDanglingAndIsTakenOver) {
    const std::wstring ready = UniqueName(L"ready"), done = UniqueName(L"done");
    unique_handle doneEvent = NamedEvent(done);
    TestHost host(L"attach tab detach tab signal " + ready + L"-1 serve " + done +
                  L"-1 attach tab" + L" signal " + ready + L"-2 serve " + done);
    ASSERT_TRUE(WaitForNamedEvent(ready + L"-1"));
    EXPECT_EQ(::SendMessageW(HiddenWindowOfTab(0), WM_UP_UPLOAD, 0, 0), 0);
    EXPECT_TRUE(LogHas("[INFO]Receive Msg:WM_UP_UPLOAD\r\n"));
    EXPECT_TRUE(LogHas("[Error]WM_UP_UPLOAD: the window has no helper object, nothing uploaded"));

    unique_handle step = NamedEvent(done + L"-1");
    ::SetEvent(step.get());
    ASSERT_TRUE(WaitForNamedEvent(ready + L"-2"));
    EXPECT_EQ(::SendMessageW(HiddenWindowOfTab(0), WM_UP_UPLOAD, 0, 0), 0);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "Receive Msg:WM_UP_UPLOAD"), 2u);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "no helper object"), 1u);
    ::SetEvent(doneEvent.get());
    EXPECT_EQ(host.Wait(), 0u);
}

TEST_F(ShakeBhoTest, QuitCountsTabsDownAndTheLastOneEndsTheActivation) {
    TestHost host(L"attach t0 attach t1 attach t2 quit t1 peek" + kTabNum +
                  L"quit t0 quit t2 peek" + kTabNum);
    ASSERT_EQ(host.Wait(), 0u);
    EXPECT_EQ(host.Output(), "2\n0\n");
    const std::string log = ReadLogFile();
    EXPECT_EQ(CountOccurrences(
                  log, "[INFO]IN  DISPID_ONQUIT Before g_nTabNum Value:3, g_dwDeadThreadId:0\r\n"),
              1u);
    EXPECT_EQ(CountOccurrences(
                  log, "[INFO]IN  DISPID_ONQUIT Before g_nTabNum Value:1, g_dwDeadThreadId:0\r\n"),
              1u);
    const size_t lastTab = log.find("[INFO]Before UnActive g_nTabNum Value:0\r\n");
    ASSERT_NE(lastTab, std::string::npos) << log;
    EXPECT_EQ(CountOccurrences(log, "Before UnActive"), 1u);
    EXPECT_EQ(CountOccurrences(log, "unActive start"),
              0u);  // an inactive browser has nothing to end
}

TEST_F(ShakeBhoTest, VisibleTabBecomesTheShakeTargetOnlyWhileActive) {
    const std::wstring ready = UniqueName(L"ready"), done = UniqueName(L"done");
    unique_handle doneEvent = NamedEvent(done);
    const std::wstring target = L"peek" + kHideWindowHwnd;
    TestHost host(L"attach t0 attach t1 url t0 http://a.example/ " + target +  // t1 in front
                  L"state t0 1 1 " + target +                                  // inactive
                  L"poke8" + kActive + L"1 state t0 3 2 " + target +           // mask without bit 0
                  L"state t0 1 1 " + target +                                  // t0 in front
                  L"prop-text t1 HideWindow junk state t1 1 1 " + target +     // not a handle
                  L"signal " + ready + L" wait " + done);
    ASSERT_TRUE(WaitForNamedEvent(ready));
    const std::string t0 = HandleText(HiddenWindowOfTab(0));
    const std::string t1 = HandleText(HiddenWindowOfTab(1));
    ::SetEvent(doneEvent.get());
    ASSERT_EQ(host.Wait(), 0u);
    EXPECT_EQ(host.Output(), t1 + t1 + t1 + t0 + t0);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]Current Tab Url:http://a.example/\r\n"), 1u);
}

TEST_F(ShakeBhoTest, DetachWithoutCheckThreadReportsTheForcedEndAtOnce) {
    TestHost host(L"attach tab detach tab");
    ASSERT_EQ(host.Wait(), 0u);
    const std::vector<long> detached = DetachTimes(host.Output());
    ASSERT_EQ(detached.size(), 1u) << host.Output();
    EXPECT_LT(detached[0], 5500);  // the longest a detach may take, inactive
    const std::string log = ReadLogFile();
    EXPECT_EQ(CountOccurrences(log, "[Error]TerminateThread Fail, Error Code:6\r\n"), 1u) << log;
    EXPECT_EQ(CountOccurrences(log, "SetSite WaitForSingleObject Suc"), 0u);
}

TEST_F(ShakeBhoTest, DetachOfTheTabThatCreatedThePanelForgetsThePanel) {
    TestHost host(L"attach tab make-panel prop-bool tab CreateShowWindow detach tab peek" + kPanel);
    ASSERT_EQ(host.Wait(), 0u);
    EXPECT_NE(host.Output().find("\n0\n"), std::string::npos) << host.Output();
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]Set g_hwnd Null Suc\r\n"), 1u);
}

}  // namespace
}  // namespace kvshake::testing

namespace kvshake::testing {
namespace {

using ShakeBhoInProcessTest = InProcessTabTest;

TEST_F(ShakeBhoInProcessTest, ObjectOnAnAttachedBrowserObjectTakesItsFirstObjectsNumber) {
    shake_da.g_nNextTabNum = 7;
    AttachedTab first;
    AttachedTab second(first.Browser());
    EXPECT_EQ(first.Bho().TabNumber(), 7);
    EXPECT_EQ(second.Bho().TabNumber(), 7);
    EXPECT_EQ(shake_da.g_nNextTabNum, 8);
    const ScopedVariant clickBtn = first.Browser()->Property(L"ClickBtn");
    EXPECT_EQ(clickBtn.type(), VT_BOOL);
    EXPECT_EQ(clickBtn.get().boolVal, 1);
}

// The browser declares the event's arguments as DWORD; any integer form of them is understood.
TEST_F(ShakeBhoInProcessTest, WindowStateArgumentsAreReadAsAnyInteger) {
    SetActive(true);
    AttachedTab back, front;
    back.Browser()->FireWindowStateChanged(1, 1, VT_UI4);
    EXPECT_EQ(shake_da.g_HideWindowHwnd, back.Bho().HiddenWindow());
}

BOOL CALLBACK CountHiddenWindow(HWND window, LPARAM count) {
    wchar_t name[32] = {};
    ::GetClassNameW(window, name, 32);
    if (std::wstring(name).rfind(L"HideWindow", 0) == 0) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int HiddenWindowsOfThisThread() {
    int count = 0;
    ::EnumThreadWindows(::GetCurrentThreadId(), CountHiddenWindow,
                        reinterpret_cast<LPARAM>(&count));
    return count;
}

TEST_F(ShakeBhoInProcessTest, ClosedTabsLeaveNoWindowNorWindowClassBehind) {
    for (int i = 0; i < 200; ++i) {
        AttachedTab tab;
        tab.Browser()->FireQuit();
    }
    EXPECT_EQ(HiddenWindowsOfThisThread(), 0);
    WNDCLASSW windowClass;
    for (int number = 0; number < 200; ++number) {
        const std::wstring name = L"HideWindow" + std::to_wstring(number);
        EXPECT_FALSE(::GetClassInfoW(Module().Instance(), name.c_str(), &windowClass))
            << "class " << number;
    }
    EXPECT_EQ(shake_da.g_HideWindowHwnd, nullptr);
}

TEST_F(ShakeBhoInProcessTest, DetachClosesTheCheckThreadItWaitedFor) {
    SetActive(true);
    { AttachedTab warmUp; }
    const std::optional<DWORD> before = HandleCountOfThisProcess();
    ASSERT_TRUE(before) << "the system's handle table cannot be read";
    for (int i = 0; i < 20; ++i) {
        AttachedTab tab;  // a new tab of an activated browser keeps its check thread's handle
    }
    EXPECT_LE(HandleCountOfThisProcess().value_or(MAXDWORD), *before + 2);
}

}  // namespace
}  // namespace kvshake::testing

// The helper object's life in a tab: in helper processes that load the module, and in this one.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bho/front_tab.h"
#include "bho/hidden_window.h"
#include "bho/tip_timer.h"
#include "browser_double/in_process_tab_test.h"
#include "com/module.h"
#include "foundation/log.h"
#include "foundation/message_filter.h"
#include "panel/registered_control_double.h"
#include "service/active_state.h"
#include "service/service_config.h"
#include "support/helper_process_test.h"
#include "support/stored_value.h"

namespace kvshake::testing {
namespace {

using ShakeBhoTest = HelperProcessTest;

// Two processes attach at once, in each new machine run: exactly one of them is first. They keep
// the log only when its switch is exactly "1".
TEST_F(ShakeBhoTest, FirstAttachOfAMachineRunIsDecidedOnceAcrossProcessesAndLogsByTheSwitch) {
    for (const std::wstring debug : {L"true", L" 1", L"1"}) {
        SCOPED_TRACE("kvshockdebug " + std::string(debug.begin(), debug.end()));
        WriteReg(kDebugValue, debug.c_str());
        DeleteLogFile();
        const size_t activations = standin::RequestsTo("shakeactive").size();
        const std::wstring go = UniqueName(L"go"), done = UniqueName(L"done");
        unique_handle goEvent = NamedEvent(go), doneEvent = NamedEvent(done);
        // Both stay until both have attached: a machine run ends with its last process.
        TestHost a(L"wait " + go + L" attach tab signal " + go + L"-a wait " + done);
        TestHost b(L"wait " + go + L" attach tab signal " + go + L"-b wait " + done);
        ::SetEvent(goEvent.get());
        ASSERT_TRUE(WaitForNamedEvent(go + L"-a"));
        ASSERT_TRUE(WaitForNamedEvent(go + L"-b"));
        ASSERT_TRUE(
            WaitUntil([&] { return standin::RequestsTo("shakeactive").size() > activations; }));
        ::SetEvent(doneEvent.get());
        ASSERT_EQ(a.Wait(), 0u);
        ASSERT_EQ(b.Wait(), 0u);
        EXPECT_EQ(standin::RequestsTo("shakeactive").size(), activations + 1);
        EXPECT_EQ(LogFileExists(), debug == L"1");
    }
}

// A new object on a browser object takes over the hidden window its gone first object left.
TEST_F(ShakeBhoTest, HiddenWindowOutlivesItsObjectWithoutDanglingAndIsTakenOver) {
    DelReg(kTokenValue);  // not bound: the tab stays inactive
    const std::wstring ready = UniqueName(L"ready");
    TestHost host(L"attach tab make-panel prop-bool tab CreateShowWindow detach tab peek" +
                  Word(offsetof(SharedBlock, g_hwnd)) + L"signal " + ready + L"-1 serve " + done_ +
                  L"-1 attach tab signal " + ready + L"-2 serve " + done_);
    ASSERT_TRUE(WaitForNamedEvent(ready + L"-1"));
    const HWND hidden = ::FindWindowW(L"HideWindow0", L"Hide Window");
    EXPECT_EQ(::SendMessageW(hidden, WM_UP_UPLOAD, 0, 0), 0);
    EXPECT_TRUE(LogHas("no helper object"));
    EXPECT_TRUE(LogHas("SetSite WaitForSingleObject Suc"));
    EXPECT_FALSE(LogHas("Set g_hwnd Null Suc"));

    ::SetEvent(NamedEvent(done_ + L"-1").get());
    ASSERT_TRUE(WaitForNamedEvent(ready + L"-2"));
    EXPECT_EQ(::SendMessageW(hidden, WM_UP_UPLOAD, 0, 0), 0);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "no helper object"), 1u);
    ::SetEvent(doneEvent_.get());
    EXPECT_EQ(host.Wait(), 0u);
    const std::vector<long> detached = DetachTimes(host.Output());
    ASSERT_EQ(detached.size(), 1u) << host.Output();
    // The stop event ended the thread's 5 s inactive pause: the detach did not wait it out.
    EXPECT_LT(detached[0], 2500);
    EXPECT_EQ(host.Output().find("\n0\n"), std::string::npos) << host.Output();
}

// A page description file for the helper program's "page" command, removed with the object.
struct PageFile {
    explicit PageFile(const std::string& lines) {
        std::ofstream(path.c_str(), std::ios::binary) << lines;
    }
    ~PageFile() { ::DeleteFileW(path.c_str()); }
    const std::wstring path = BesideThisProgram((UniqueName(L"page") + L".txt").c_str());
};

// Bound by rundll32's panel without the toolbar; a shake uploads the front tab of another process.
// Its tip and a newer tab's in a third process each go after their own three seconds, though the
// newer tab last named itself the tip's tab.
TEST_F(ShakeBhoTest, AfterARundll32BindAShakeUploadsThePageOfTheFrontTab) {
    ClearAccount();
    RegisteredControlDouble control;  // the panel's browser in the rundll32 process
    ASSERT_NE(control.Module(), nullptr);
    ChildProcess rundll32(L"rundll32.exe \"" + ModulePath() + L"\",ShowPanel");
    HWND panel = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (panel = ::FindWindowW(nullptr, L"摇一摇传图")); }));
    const std::wstring bindUrl = std::wstring(L"https://") + kServiceHost + L"/bind";
    ASSERT_TRUE(WaitUntil([&] {
        return control_double::SendFrameComplete(panel, bindUrl, LR"({"token":"t-9","uin":"9"})");
    }));
    ASSERT_TRUE(Activated());
    EXPECT_EQ(Stored(kTokenValue), L"t-9");
    EXPECT_EQ(standin::RequestsTo("shakeactive").size(), 1u);
    const PageFile pageB("title Tab B\nurl http://b.test/\nimg 300 200 http://b.test/big.png\n");
    const PageFile pageA("title Tab A\nimg 400 400 http://a.test/a.png\n");
    const std::wstring joined = UniqueName(L"joined"), front = UniqueName(L"front"),
                       tip = UniqueName(L"tip");
    unique_handle joinedEvent = NamedEvent(joined), frontEvent = NamedEvent(front),
                  tipEvent = NamedEvent(tip);
    // A's first tab checks; after B joins A opens a newer tab, then B's comes to the front.
    TestHost processA(L"attach a serve " + joined + L" attach a2 page a2 " + pageA.path +
                      L" serve " + tip + L" upload a2 tip-watch a2 10000 serve " + done_);
    ASSERT_TRUE(WaitUntil([] { return LogHas("New Tab, Tab Num:0"); }));
    TestHost processB(L"attach b page b " + pageB.path + L" serve " + front +
                      L" state b 3 3 serve " + done_);
    ASSERT_TRUE(WaitUntil([] { return LogHas("New Tab, Tab Num:1"); }));
    ::SetEvent(joinedEvent.get());
    ASSERT_TRUE(WaitUntil([] { return LogHas("New Tab, Tab Num:2"); }));
    ::SetEvent(frontEvent.get());
    ASSERT_TRUE(WaitUntil([] { return LogHas("Current Tab Url:"); })) << ReadLogFile();

    standin::Script("[" + CheckAnswer(kShake) + "]");
    ASSERT_TRUE(WaitUntil([] { return LogHas("uploadPic PostData Result"); })) << ReadLogFile();
    ::SetEvent(tipEvent.get());
    ASSERT_TRUE(WaitUntil([] { return LogHas("RemoveTip End", 2); })) << ReadLogFile();
    ::SetEvent(doneEvent_.get());
    EXPECT_EQ(processA.Wait(), 0u);
    EXPECT_EQ(processB.Wait(), 0u);
    ::PostMessageW(panel, WM_CLOSE, 0, 0);
    EXPECT_EQ(rundll32.Wait(), 0u);

    const std::vector<RecordedRequest> uploads = standin::RequestsTo("shakeupload");
    ASSERT_EQ(uploads.size(), 2u);  // the shake's, then the newer tab's own
    EXPECT_EQ(uploads[0].Body(), "title=Tab+B&pageurl=http://b.test/&url=http://b.test/big.png");
    // The newer tab's tip came while B's was still shown: else the case tried nothing.
    const std::string log = ReadLogFile();
    const size_t secondTip = log.find("InsertTip End", log.find("InsertTip End") + 1);
    ASSERT_LT(secondTip, log.find("RemoveTip Start")) << "the tips did not overlap: " << log;
    // B's time counts from the end of its upload's exchange, A's from its upload's start.
    for (const auto& [host, name, least] :
         {std::tuple{&processA, "a2", 2500L}, std::tuple{&processB, "b", 0L}}) {
        const std::string output = host->Output(), hidden = std::string("tip hidden ") + name;
        long ms = -1;
        std::sscanf(output.c_str() + std::min(output.find(hidden), output.size()),
                    (hidden + " after %ld ms").c_str(), &ms);
        EXPECT_TRUE(ms >= least && ms <= 8000) << output;
    }
}

using ShakeBhoInProcessTest = InProcessTabTest;

// Only the visible flag of the mask counts; any integer form of the DWORDs is read. A tab opened
// behind the one the user sees, while the activation is pending, never takes its shakes.
TEST_F(ShakeBhoInProcessTest, VisibleTabBecomesTheShakeTargetAndATabOpenedBehindItNeverIs) {
    WriteReg(kUinValue, L"10001");
    WriteReg(kSidValue, L"s-1");
    DeleteLogFile();
    EnableLog(true);
    AttachedTab t0, t1;
    for (auto [tab, name] : {std::pair{&t0, L"A"}, std::pair{&t1, L"B"}}) {
        PageDescription page;
        page.title = name;
        page.url = std::wstring(L"http://") + name + L".test/";
        page.elements = {PageElement{L"img", {}, {}, page.url + L"p.png", 300, 300}};
        tab->Browser()->ShowPage(PageDouble::Create(page));
    }
    const HWND h0 = t0.Bho().HiddenWindow(), h1 = t1.Bho().HiddenWindow();
    // No tab seen yet: the newest is taken to be in front.
    ASSERT_EQ(SharedState().g_HideWindowHwnd, h1);
    t0.Browser()->FireWindowStateChanged(3, 2);
    EXPECT_EQ(SharedState().g_HideWindowHwnd, h1) << "mask without the visible flag";
    t0.Browser()->FireWindowStateChanged(1, 1, VT_UI4);
    EXPECT_EQ(SharedState().g_HideWindowHwnd, h0);
    EXPECT_FALSE(LogHas("Current Tab Url:")) << "only while active";
    {
        AttachedTab behind;
        EXPECT_EQ(SharedState().g_HideWindowHwnd, h0);
    }
    SetActive(true);
    TheFrontTab().Upload();
    EnableLog(false);
    const std::vector<RecordedRequest> uploads = standin::RequestsTo("shakeupload");
    ASSERT_EQ(uploads.size(), 1u) << ReadLogFile();
    EXPECT_EQ(uploads[0].Body(), "title=A&pageurl=http://A.test/&url=http://A.test/p.png");
    t1.Bho().activate();  // switched on in B's panel while active
    EXPECT_EQ(SharedState().g_HideWindowHwnd, h1);
    t0.Browser()->FireWindowStateChanged(1, 1);
    EXPECT_EQ(SharedState().g_HideWindowHwnd, h0);

    // A second object on a browser object takes no number nor window, and the tab counts once.
    const int next = SharedState().g_nNextTabNum, tabs = SharedState().g_nTabNum;
    AttachedTab second(t0.Browser());
    EXPECT_EQ(second.Bho().TabNumber(), t0.Bho().TabNumber());
    EXPECT_EQ(second.Bho().HiddenWindow(), h0);
    EXPECT_EQ(SharedState().g_nNextTabNum, next);
    EXPECT_EQ(SharedState().g_nTabNum, tabs);
    EXPECT_EQ(t0.Browser()->Property(L"ClickBtn").get().boolVal, 1);
    // The browser's window going inactive hides the panel, and only a window of a panel's class.
    const MessageRecorder panel(L"shakewindow991"), other;
    ::ShowWindow(panel.Window(), SW_SHOW);
    ::ShowWindow(other.Window(), SW_SHOW);
    SharedState().g_hwnd = other.Window();
    ::SendMessageW(h0, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_TRUE(::IsWindowVisible(other.Window()));
    SharedState().g_hwnd = panel.Window();
    ::SendMessageW(h0, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_TRUE(::IsWindowVisible(panel.Window()));
    ::SendMessageW(h0, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_FALSE(::IsWindowVisible(panel.Window()));
    SharedState().g_hwnd = nullptr;
    // Both objects of the tab hear its quit; it leaves the count once.
    t0.Browser()->FireQuit();
    EXPECT_EQ(SharedState().g_nTabNum, tabs - 1);

    // Any process of the user may write the record: a window that is no tab's hears nothing, and
    // the next tab takes its place though a tab has been seen.
    const MessageRecorder foreign(L"KVShakeTestForeign");
    SharedState().g_HideWindowHwnd = foreign.Window();
    TheFrontTab().ShowActivation(true);
    TheFrontTab().Upload();
    EXPECT_EQ(foreign.Count(WM_ICON_ACTIVE) + foreign.Count(WM_UP_UPLOAD), 0u);
    AttachedTab last;
    EXPECT_EQ(SharedState().g_HideWindowHwnd, last.Bho().HiddenWindow());
    ClearAccount();
}

std::vector<std::pair<HWND, UINT>> g_filterCalls;
BOOL WINAPI RecordFilterCall(HWND window, UINT message, DWORD action, void*) {
    g_filterCalls.emplace_back(window, message);
    return action == 1;  // MSGFLT_ALLOW
}

// Windows and tip timers keep the module loaded; a quit leaves neither window nor window class.
TEST_F(ShakeBhoInProcessTest, HiddenWindowLetsInPrivateMessagesAndKeepsTheModuleLoaded) {
    const LONG locks = Module().GetLockCount();
    Microsoft::WRL::ComPtr<BrowserDouble> browser;
    HWND hidden = nullptr;
    std::wstring windowClass = L"HideWindow";
    const MessageFilterFunctions recording{RecordFilterCall, nullptr};
    SetMessageFilterFunctionsForTesting(&recording);
    {
        AttachedTab tab;
        browser = tab.Browser();
        hidden = tab.Bho().HiddenWindow();
        windowClass += std::to_wstring(tab.Bho().TabNumber());
    }
    for (const UINT message : {WM_UP_UPLOAD, WM_SHOW_PANEL}) {
        EXPECT_NE(std::find(g_filterCalls.begin(), g_filterCalls.end(), std::pair{hidden, message}),
                  g_filterCalls.end())
            << message;
    }
    const MessageFilterFunctions none =
        LookUpMessageFilterFunctions(::GetModuleHandleW(L"kernel32.dll"));
    EXPECT_FALSE(none.perWindow || none.perProcess);
    SetMessageFilterFunctionsForTesting(&none);
    EXPECT_TRUE(AllowMessagesFromLowerIntegrity(hidden, {WM_UP_UPLOAD}));
    SetMessageFilterFunctionsForTesting(nullptr);

    EXPECT_EQ(Module().GetLockCount(), locks + 1);
    ASSERT_TRUE(ArmTipTimer(hidden, 10));
    EXPECT_EQ(Module().GetLockCount(), locks + 2);
    EXPECT_TRUE(WaitUntil([&] { return Module().GetLockCount() == locks + 1; }));  // it fired
    AttachedTab(browser).Browser()->FireQuit();
    EXPECT_EQ(Module().GetLockCount(), locks);
    WNDCLASSW info;
    EXPECT_FALSE(::GetClassInfoW(Module().Instance(), windowClass.c_str(), &info));
    EXPECT_EQ(SharedState().g_HideWindowHwnd, nullptr);
}

}  // namespace
}  // namespace kvshake::testing

// The toolbar command with the cursor on a real toolbar of another process: where the panel opens.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <sstream>

#include "bho/hidden_window.h"
#include "browser_double/in_process_tab_test.h"
#include "foundation/log.h"
#include "support/handle_count.h"
#include "support/helper_process_test.h"

namespace kvshake::testing {
namespace {

class ToolbarCommandTest : public InProcessTabTest {
  protected:
    void SetUp() override {
        InProcessTabTest::SetUp();
        WriteReg(kTokenValue, L"t-1");  // a bound browser opens the 253 x 100 status panel
    }
    void TearDown() override {
        if (host_) ::SetEvent(doneEvent_.get());
        ClearAccount();
        InProcessTabTest::TearDown();
    }

    // A 600 x 30 toolbar of five 100-pixel buttons at (x, 50), whose thread then serves or hangs;
    // the buttons' screen rectangles.
    std::vector<RECT> Toolbar(int x, const std::wstring& program = TestHostPath(),
                              const std::wstring& then = L"") {
        const std::wstring ready = UniqueName(L"ready");
        host_.emplace(L'"' + program + L"\" toolbar " + std::to_wstring(x) + L" 50 600 30 signal " +
                      ready + (then.empty() ? L" serve " + done_ : L" " + then));
        if (!host_->Started()) return {};
        EXPECT_TRUE(WaitForNamedEvent(ready));
        std::vector<RECT> buttons;
        std::istringstream lines(host_->Output());
        std::string word;
        RECT rect;
        int index;
        while (lines >> word >> index >> rect.left >> rect.top >> rect.right >> rect.bottom)
            buttons.push_back(rect);
        return buttons;
    }
    // Presses the button with the cursor at point; the panel's rectangle.
    RECT Press(POINT point) {
        ::SetCursorPos(point.x, point.y);
        Tab().Bho().Exec(nullptr, 0, 0, nullptr, nullptr);
        RECT panel{};
        ::GetWindowRect(SharedState().g_hwnd, &panel);
        return panel;
    }
    static POINT Inside(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

    const std::wstring done_ = UniqueName(L"done");
    const unique_handle doneEvent_ = NamedEvent(done_);
    std::optional<ChildProcess> host_;
};

// Near the screen's edges the panel is moved the least to stay on it. A toolbar that has stopped
// answering finds no button: its silence is not the first button.
TEST_F(ToolbarCommandTest, PanelOpensUnderTheButtonAndALaterPressMovesTheSamePanel) {
    const std::wstring hung = UniqueName(L"hung");
    std::vector<RECT> buttons =
        Toolbar(-50, TestHostPath(), L"serve " + done_ + L" signal " + hung + L" hang");
    ASSERT_EQ(buttons.size(), 5u);
    RECT panel = Press(Inside(buttons[3]));
    const HWND first = SharedState().g_hwnd;
    ASSERT_TRUE(first);
    EXPECT_TRUE(SharedState().g_bFindButton);
    EXPECT_EQ(panel.left, buttons[3].right - 253);
    EXPECT_EQ(panel.top, 80);
    EXPECT_EQ(Press(Inside(buttons[1])).left, 0);  // its right edge, less the width, is below 0

    // The first button, index 0, is a button too.
    panel = Press({10, 60});
    EXPECT_EQ(SharedState().g_hwnd, first);
    EXPECT_TRUE(SharedState().g_bFindButton);
    EXPECT_EQ(panel.left, 0);
    EXPECT_EQ(panel.top, 80);
    const int right = ::GetSystemMetrics(SM_CXSCREEN), bottom = ::GetSystemMetrics(SM_CYSCREEN);
    panel = Press({right - 5, bottom - 5});
    EXPECT_EQ(panel.right, right);
    EXPECT_EQ(panel.bottom, bottom);

    // Each press opens the toolbar's process and gives the handle back.
    const std::optional<DWORD> handles = HandleCountOfThisProcess();
    ASSERT_TRUE(handles);
    for (int press = 0; press < 5; ++press) Press(Inside(buttons[3]));
    EXPECT_EQ(HandleCountOfThisProcess(), handles);

    ::SetEvent(doneEvent_.get());
    ASSERT_TRUE(WaitForNamedEvent(hung));
    DeleteLogFile();
    EnableLog(true);
    Press(Inside(buttons[0]));
    EnableLog(false);
    EXPECT_FALSE(SharedState().g_bFindButton);
    EXPECT_TRUE(LogHas("[INFO]Find Button Fail\r\n")) << ReadLogFile();

    // The maker's detach closes the panel rather than leave it calling a deleted object.
    Tab().Bho().SetSite(nullptr);
    EXPECT_FALSE(::IsWindow(first));
    EXPECT_EQ(SharedState().g_hwnd, nullptr);
}

// A frame of the other width writes its own layout; the id is read where both keep it.
TEST_F(ToolbarCommandTest, AToolbarOfTheOtherWidthIsSearchedToo) {
    if (!KVSHAKE_OTHER_WIDTH_RUNS) {
        GTEST_SKIP() << "the toolbar of the other width needs a 32-bit process, and 32-bit "
                        "programs cannot run on this machine";
    }
    const std::vector<RECT> buttons = Toolbar(100, L"Z:" KVSHAKE_OTHER_WIDTH_TESTHOST);
    ASSERT_EQ(buttons.size(), 5u) << "the other width's helper program did not start";
    EXPECT_EQ(Press(Inside(buttons[2])).left, buttons[2].right - 253);
}

// Panel placement, toolbar-only messages; a panel closed or a stale record makes a new panel,
// unless a live one has taken the record meanwhile.
TEST_F(ToolbarCommandTest, AwayFromAButtonThePanelOpensAtThePageCornerOrAtTheCursor) {
    ClearAccount();  // no account: the login panel
    RECT panel;
    {
        const MessageRecorder page(L"Internet Explorer_Server");
        ::SetWindowPos(page.Window(), HWND_TOP, 0, 100, 1000, 600, SWP_SHOWWINDOW);
        panel = Press({500, 400});
        EXPECT_EQ(panel.right, 1000);
        EXPECT_EQ(panel.top, 97);
    }

    const MessageRecorder other;
    ::SetWindowPos(other.Window(), HWND_TOP, 100, 300, 200, 200, SWP_SHOWWINDOW);
    SharedState().g_bFindButton = true;
    panel = Press({150, 350});
    EXPECT_EQ(panel.left, 150);
    EXPECT_EQ(panel.top, 350);
    EXPECT_EQ(other.Count(TB_HITTEST), 0u);

    ::SendMessageW(SharedState().g_hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(SharedState().g_hwnd || SharedState().g_bWindowCreated);
    Press({150, 350});
    EXPECT_TRUE(::IsWindowVisible(SharedState().g_hwnd));
    SharedState().g_hwnd = other.Window();
    Press({150, 350});
    EXPECT_TRUE(::IsWindowVisible(SharedState().g_hwnd));
    EXPECT_NE(SharedState().g_hwnd, other.Window());
    ::GetWindowRect(other.Window(), &panel);
    EXPECT_EQ(panel.left, 100);

    // The record was found stale, but another panel was made meanwhile: this press's panel goes
    // again, and the record keeps naming the first.
    const MessageRecorder first(L"shakewindow990");
    SharedState().g_hwnd = first.Window();
    SharedState().g_bWindowCreated = false;
    Press({150, 350});
    EXPECT_EQ(SharedState().g_hwnd, first.Window());
    const std::wstring second = L"shakewindow" + std::to_wstring(Tab().Bho().TabNumber());
    EXPECT_EQ(::FindWindowW(second.c_str(), nullptr), nullptr);
    EXPECT_EQ(first.Count(WM_SHOW_PANEL), 1u) << "the first is shown";
    SharedState().g_hwnd = nullptr;
}

// A press in another process (a Protected Mode tab, say, which may neither move nor show the
// panel) has the panel's own thread move it, show it and bring it forward; a hung panel thread
// costs the press a bounded wait.
TEST_F(ToolbarCommandTest, PressInAnotherProcessHasThePanelsOwnThreadMoveAndShowIt) {
    const std::wstring made = UniqueName(L"made");
    ::SetCursorPos(200, 200);
    TestHost owner(L"attach a exec a watch-panel signal " + made + L" serve " + done_ +
                   L" signal " + made + L"-hung hang");
    ASSERT_TRUE(WaitForNamedEvent(made)) << owner.Output();
    const HWND panel = ::FindWindowW(nullptr, L"Win32 API");
    ASSERT_TRUE(panel);
    RECT before{};
    ::GetWindowRect(panel, &before);
    ::ShowWindow(panel, SW_HIDE);

    ::SetCursorPos(600, 500);
    ASSERT_EQ(RunProgram(TestHostPath() + L" attach b exec b").exitCode, 0u);
    RECT moved{};
    EXPECT_TRUE(WaitUntil([&] {
        ::GetWindowRect(panel, &moved);
        return moved.left != before.left && ::IsWindowVisible(panel);
    }));
    EXPECT_EQ(moved.right - moved.left, before.right - before.left);  // its size is kept
    ::SetEvent(doneEvent_.get());
    ASSERT_TRUE(WaitForNamedEvent(made + L"-hung"));
    const std::string output = owner.Output();
    EXPECT_GE(CountOccurrences(output, "panel moved inside WM_SHOW_PANEL"), 1u) << output;
    EXPECT_GE(CountOccurrences(output, "panel shown inside WM_SHOW_PANEL"), 1u) << output;
    EXPECT_EQ(CountOccurrences(output, "outside WM_SHOW_PANEL"), 0u) << output;
    EXPECT_EQ(RunProgram(TestHostPath() + L" attach b exec b", 30000).exitCode, 0u);
}

}  // namespace
}  // namespace kvshake::testing

// The toolbar command against a real toolbar of another process, with the cursor placed on its
// buttons: where the panel opens, and that a later press moves the same panel.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "browser_double/in_process_tab_test.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "support/child_process.h"
#include "support/message_recorder.h"
#include "support/test_paths.h"

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

    // A toolbar of five 100-pixel buttons in the helper program; the buttons' screen rectangles.
    std::vector<RECT> Toolbar(int x, int y, int width, int height) {
        const std::wstring ready = UniqueName(L"ready");
        std::wostringstream command;
        command << L"toolbar " << x << L' ' << y << L' ' << width << L' ' << height << L" signal "
                << ready << L" serve " << done_;
        host_.emplace(command.str());
        EXPECT_TRUE(WaitForNamedEvent(ready));
        std::vector<RECT> buttons;
        std::istringstream lines(host_->Output());
        std::string word;
        RECT rect;
        int index;
        while (lines >> word >> index >> rect.left >> rect.top >> rect.right >> rect.bottom) {
            buttons.push_back(rect);
        }
        return buttons;
    }
    // Presses the button with the cursor at point; the panel's rectangle.
    RECT Press(POINT point) {
        ::SetCursorPos(point.x, point.y);
        Tab().Bho().Exec(nullptr, 0, 0, nullptr, nullptr);
        RECT panel{};
        ::GetWindowRect(shake_da.g_hwnd, &panel);
        return panel;
    }
    static POINT Inside(const RECT& rect) {
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    const std::wstring done_ = UniqueName(L"done");
    const unique_handle doneEvent_ = NamedEvent(done_);
    std::optional<TestHost> host_;
};

TEST_F(ToolbarCommandTest, PanelOpensUnderTheButtonAndALaterPressMovesTheSamePanel) {
    const std::vector<RECT> buttons = Toolbar(100, 50, 600, 30);
    ASSERT_EQ(buttons.size(), 5u);
    RECT panel = Press(Inside(buttons[3]));
    const HWND first = shake_da.g_hwnd;
    ASSERT_TRUE(first);
    EXPECT_TRUE(shake_da.g_bFindButton);
    EXPECT_EQ(panel.left, buttons[3].right - 253);
    EXPECT_EQ(panel.top, 80);
    EXPECT_EQ(panel.right - panel.left, 253);
    EXPECT_EQ(panel.bottom - panel.top, 100);

    // The first button is never found: the panel opens at the cursor, under the toolbar.
    const POINT onFirst = Inside(buttons[0]);
    panel = Press(onFirst);
    EXPECT_EQ(shake_da.g_hwnd, first);
    EXPECT_FALSE(shake_da.g_bFindButton);
    EXPECT_EQ(panel.left, onFirst.x);
    EXPECT_EQ(panel.top, 80);
}

TEST_F(ToolbarCommandTest, PanelStaysOnTheScreenNearItsEdges) {
    const std::vector<RECT> buttons = Toolbar(-50, 0, 600, 30);
    ASSERT_EQ(buttons.size(), 5u);
    RECT panel = Press(Inside(buttons[1]));  // its right edge, less the width, is below 0
    EXPECT_EQ(panel.left, 0);

    // Away from any toolbar or page, at the bottom right corner: moved the least to stay inside.
    const int right = ::GetSystemMetrics(SM_CXSCREEN), bottom = ::GetSystemMetrics(SM_CYSCREEN);
    panel = Press({right - 5, bottom - 5});
    EXPECT_EQ(panel.right, right);
    EXPECT_EQ(panel.bottom, bottom);
}

}  // namespace
}  // namespace kvshake::testing

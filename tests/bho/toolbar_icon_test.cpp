// The toolbar button's look before version 8 of the browser: the button is found by its text in
// a command bar of this process under the browser's top window.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "browser_double/in_process_tab_test.h"
#include "com/module.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "support/child_process.h"
#include "support/log_file.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

constexpr wchar_t kInactiveText[] = L"点亮摇一摇";
constexpr wchar_t kActiveText[] = L"摇一摇传图";
constexpr int kOtherButton = 100, kShakeButton = 101;

class ToolbarIconTest : public InProcessTabTest {
  protected:
    void SetUp() override {
        InProcessTabTest::SetUp();
        DeleteLogFile();
        EnableLog(true);
        const INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
        ::InitCommonControlsEx(&classes);
        WNDCLASSW commandBar = {};
        commandBar.lpfnWndProc = ::DefWindowProcW;
        commandBar.lpszClassName = L"CommandBarClass";
        ::RegisterClassW(&commandBar);
        HWND parent = Tab().Browser()->TopWindow();
        for (const wchar_t* className : {L"CommandBarClass", REBARCLASSNAMEW, TOOLBARCLASSNAMEW}) {
            parent = ::CreateWindowExW(0, className, nullptr, WS_CHILD, 0, 0, 400, 30, parent,
                                       nullptr, nullptr, nullptr);
            ASSERT_NE(parent, nullptr);
        }
        toolbar_ = parent;
        ::SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        ::ImageList_SetImageCount(images_, 2);  // an image of its own for each button
        ::SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
        TBBUTTON buttons[2] = {};
        buttons[0] = {0,
                      kOtherButton,
                      TBSTATE_ENABLED,
                      BTNS_BUTTON,
                      {},
                      0,
                      reinterpret_cast<INT_PTR>(L"Home")};
        buttons[1] = {1,
                      kShakeButton,
                      TBSTATE_ENABLED,
                      BTNS_BUTTON,
                      {},
                      0,
                      reinterpret_cast<INT_PTR>(kInactiveText)};
        ::SendMessageW(toolbar_, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
        // The button's bitmaps come from the built module's resources.
        resources_ = ::LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(resources_, nullptr);
        Module().SetInstance(resources_);
    }
    void TearDown() override {
        Module().SetInstance(nullptr);
        if (resources_) ::FreeLibrary(resources_);
        InProcessTabTest::TearDown();  // the browser's windows go with it
        ::ImageList_Destroy(images_);
        EnableLog(false);
    }
    std::wstring Text(int command) {
        wchar_t text[64] = {};
        ::SendMessageW(toolbar_, TB_GETBUTTONTEXTW, command, reinterpret_cast<LPARAM>(text));
        return text;
    }

    const HIMAGELIST images_ = ::ImageList_Create(16, 16, ILC_COLOR32, 1, 1);
    HWND toolbar_ = nullptr;
    HMODULE resources_ = nullptr;
};

TEST_F(ToolbarIconTest, BeforeVersion8OnlyAButtonOfThisProcessFoundByItsTextTakesTheLook) {
    struct Case {
        int version;
        bool active, changed;
        const wchar_t* text;
    };
    for (const Case& c : {Case{7, true, true, kActiveText}, Case{7, false, true, kInactiveText},
                          Case{9, true, false, kInactiveText}}) {
        SCOPED_TRACE(std::to_string(c.version) + (c.active ? " active" : " inactive"));
        shake_da.g_nIEVersion = c.version;
        EXPECT_EQ(Tab().Bho().SetToolBarIcon(c.active), c.changed);
        EXPECT_EQ(::ImageList_GetImageCount(images_), 2) << "the button's image is replaced";
        EXPECT_EQ(Text(kShakeButton), c.text);
        EXPECT_EQ(Text(kOtherButton), L"Home");
    }
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "Can not SetToolBarIcon because >=ie8"), 1u);

    // A toolbar of another process in its place is refused: its buttons are not this process's.
    const std::wstring ready = UniqueName(L"ready"), done = UniqueName(L"done");
    const unique_handle doneEvent = NamedEvent(done);
    TestHost other(L"toolbar 0 0 400 30 signal " + ready + L" serve " + done);
    ASSERT_TRUE(WaitForNamedEvent(ready));
    const HWND rebar = ::GetParent(toolbar_);
    ::DestroyWindow(toolbar_);
    const HWND foreign =
        ::FindWindowExW(::FindWindowW(L"Static", L"bar"), nullptr, TOOLBARCLASSNAMEW, nullptr);
    ASSERT_NE(::SetParent(foreign, rebar), nullptr);
    shake_da.g_nIEVersion = 7;
    EXPECT_FALSE(Tab().Bho().SetToolBarIcon(true));
    const std::string log = ReadLogFile();
    EXPECT_EQ(CountOccurrences(log, "ToolBar Process Id:" + std::to_string(other.ProcessId())), 1u);
    EXPECT_EQ(CountOccurrences(log, "[Error]SetToolBarIcon, ProcessId not same"), 1u);
    ::SetParent(foreign, nullptr);
    ::SetEvent(doneEvent.get());
    EXPECT_EQ(other.Wait(), 0u);
}

}  // namespace
}  // namespace kvshake::testing

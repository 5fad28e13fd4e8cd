// The browser's version, the tab's page window found by it, and the toolbar button's look before 8.
#include "bho/browser_version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <tuple>
#include <utility>

#include "browser_double/in_process_tab_test.h"
#include "com/module.h"
#include "support/test_paths.h"

namespace kvshake::testing {
namespace {

// The first marker in order wins, a plain case-sensitive search; Compatibility View reports
// "MSIE 7.0" beside the engine, whose token names the real version and decides first.
TEST(IEVersionOfTest, TheEngineTokenDecidesThenTheFirstMarkerInOrder) {
    for (const auto& [appVersion, version] : {
             std::pair{"MSIE 8.0 and MSIE 7.0", 7},
             std::pair{"MSIE 11.0", 11},
             std::pair{"xMSIE 6.x", 6},
             std::pair{"msie 9.0", 0},
             std::pair{"5.0 (Windows NT 6.3; Trident/7.0; rv:11.0) like Gecko", 11},
             std::pair{"5.0 (Windows NT 6.1; Trident/3.0)", 0},
             std::pair{"4.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/4.0)", 8},
             std::pair{"5.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/5.0)", 9},
             std::pair{"5.0 (compatible; MSIE 7.0; Windows NT 6.2; Trident/6.0)", 10},
             std::pair{"5.0 (compatible; MSIE 7.0; Windows NT 6.3; Trident/7.0)", 11},
             std::pair{"5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/7.0)", 11},
             std::pair{"4.0 (compatible; MSIE 7.0; Windows NT 5.1)", 7},
         }) {
        EXPECT_EQ(IEVersionOf(appVersion), version) << appVersion;
    }
}

class BrowserVersionTest : public InProcessTabTest {
  protected:
    void Show(const wchar_t* appVersion) {
        PageDescription description;
        description.appVersion = appVersion;
        Tab().Browser()->ShowPage(PageDouble::Create(description));
    }
};

// The version is asked for until known, then kept; the page window is found on its version's path.
TEST_F(BrowserVersionTest, VersionIsKeptOnceKnownAndThePageWindowIsFoundOnItsPath) {
    Show(L"Mozilla/5.0 (Windows NT 6.1; rv:11.0)");
    Tab().Bho().GetIEVersion();
    EXPECT_EQ(SharedState().g_nIEVersion, 0);
    Show(L"4.0 (compatible; MSIE 8.0; Windows NT 6.1)");
    Tab().Bho().GetIEVersion();
    Show(L"4.0 (compatible; MSIE 6.0)");
    Tab().Bho().GetIEVersion();
    EXPECT_EQ(SharedState().g_nIEVersion, 8);
    Tab().Browser()->ShowPage(nullptr);
    SharedState().g_nIEVersion = 0;
    Tab().Bho().GetIEVersion();  // without a document
    EXPECT_EQ(SharedState().g_nIEVersion, 0);
    Tab().Browser()->BuildWindowTree(8);
    EXPECT_EQ(Tab().Bho().FindIES(), nullptr);  // no version, no path

    for (const int version : {6, 7, 8, 11}) {
        AttachedTab tab;
        // Neither another browser's tree first nor this browser's other tabs may be found.
        AttachedTab another;
        another.Browser()->BuildWindowTree(version);
        const HWND page = tab.Browser()->BuildWindowTree(version, true);
        SharedState().g_nIEVersion = version;
        EXPECT_EQ(tab.Bho().FindIES(), page) << version;
    }
}

constexpr wchar_t kInactiveText[] = L"点亮摇一摇";
constexpr wchar_t kActiveText[] = L"摇一摇传图";

class ToolbarIconTest : public BrowserVersionTest {
  protected:
    void SetUp() override {
        BrowserVersionTest::SetUp();
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
        const wchar_t* texts[2] = {L"Home", kInactiveText};
        for (int i = 0; i < 2; ++i) {
            buttons[i] = {i, 100 + i, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, INT_PTR(texts[i])};
        }
        ::SendMessageW(toolbar_, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
        // The button's bitmaps come from the built module's resources.
        resources_ = ::LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(resources_, nullptr);
        Module().SetInstance(resources_);
    }
    void TearDown() override {
        Module().SetInstance(nullptr);
        if (resources_) ::FreeLibrary(resources_);
        BrowserVersionTest::TearDown();  // the browser's windows go with it
        ::ImageList_Destroy(images_);
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

TEST_F(ToolbarIconTest, BeforeVersion8OnlyTheButtonFoundByItsTextTakesTheLook) {
    for (const auto& [version, active, changed, text] :
         {std::tuple{7, true, true, kActiveText}, std::tuple{7, false, true, kInactiveText},
          std::tuple{9, true, false, kInactiveText}}) {
        SCOPED_TRACE(std::to_string(version) + (active ? " active" : " inactive"));
        SharedState().g_nIEVersion = version;
        EXPECT_EQ(Tab().Bho().SetToolBarIcon(active), changed);
        EXPECT_EQ(::ImageList_GetImageCount(images_), 2) << "the button's image is replaced";
        EXPECT_EQ(Text(101), text);
        EXPECT_EQ(Text(100), L"Home");
    }
}

}  // namespace
}  // namespace kvshake::testing

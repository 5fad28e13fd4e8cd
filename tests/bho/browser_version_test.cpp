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
    for (const auto& [appVersion, version] :
         {std::pair{"MSIE 8.0 and MSIE 7.0", 7}, std::pair{"MSIE 11.0", 11},
          std::pair{"xMSIE 6.x", 6}, std::pair{"msie 9.0", 0},
          std::pair{"5.0 (Windows NT 6.3; Trident/7.0; rv:11.0) like Gecko", 11},
          std::pair{"5.0 (Windows NT 6.1; Trident/3.0)", 0},
          std::pair{"4.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/4.0)", 8},
          std::pair{"5.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/5.0)", 9},
          std::pair{"5.0 (compatible; MSIE 7.0; Windows NT 6.2; Trident/6.0)", 10},
          std::pair{"5.0 (compatible; MSIE 7.0; Windows NT 6.3; Trident/7.0)", 11}}) {
        EXPECT_EQ(IEVersionOf(appVersion), version) << appVersion;
    }
}

using BrowserVersionTest = InProcessTabTest;

// The version is asked for until known, then kept; the page window is found on its version's path.
TEST_F(BrowserVersionTest, VersionIsKeptOnceKnownAndThePageWindowIsFoundOnItsPath) {
    const auto versionAfter = [&](const wchar_t* appVersion) {
        PageDescription description;
        description.appVersion = appVersion;
        Tab().Browser()->ShowPage(PageDouble::Create(description));
        Tab().Bho().GetIEVersion();
        return SharedState().g_nIEVersion;
    };
    EXPECT_EQ(versionAfter(L"Mozilla/5.0 (Windows NT 6.1; rv:11.0)"), 0);
    EXPECT_EQ(versionAfter(L"4.0 (compatible; MSIE 8.0; Windows NT 6.1)"), 8);
    EXPECT_EQ(versionAfter(L"4.0 (compatible; MSIE 6.0)"), 8);
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

// The browser's own command bar, in this process: a toolbar in a rebar in a "CommandBarClass"
// window. Its second button shows the inactive look's text; each button has an image of its own.
TEST_F(BrowserVersionTest, BeforeVersion8OnlyTheButtonFoundByItsTextTakesTheLook) {
    const INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    ::InitCommonControlsEx(&classes);
    WNDCLASSW commandBarClass = {};
    commandBarClass.lpfnWndProc = ::DefWindowProcW;
    commandBarClass.lpszClassName = L"CommandBarClass";
    ::RegisterClassW(&commandBarClass);
    HWND commandBar = nullptr, toolbar = Tab().Browser()->TopWindow();
    for (const wchar_t* className : {L"CommandBarClass", REBARCLASSNAMEW, TOOLBARCLASSNAMEW}) {
        toolbar = ::CreateWindowExW(0, className, nullptr, WS_CHILD, 0, 0, 400, 30, toolbar,
                                    nullptr, nullptr, nullptr);
        ASSERT_NE(toolbar, nullptr);
        if (!commandBar) commandBar = toolbar;
    }
    ::SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    const HIMAGELIST images = ::ImageList_Create(16, 16, ILC_COLOR32, 2, 1);
    ::ImageList_SetImageCount(images, 2);
    ::SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    const TBBUTTON buttons[2] = {
        {0, 100, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, INT_PTR(L"Home")},
        {1, 101, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, INT_PTR(kInactiveText)}};
    ::SendMessageW(toolbar, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
    const auto text = [&](int command) {
        wchar_t buffer[64] = {};
        ::SendMessageW(toolbar, TB_GETBUTTONTEXTW, command, reinterpret_cast<LPARAM>(buffer));
        return std::wstring(buffer);
    };
    // The button's bitmaps come from the built module's resources.
    const HMODULE resources =
        ::LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, nullptr);
    Module().SetInstance(resources);
    for (const auto& [version, active, changed, look] :
         {std::tuple{7, true, true, L"摇一摇传图"}, std::tuple{7, false, true, kInactiveText},
          std::tuple{9, true, false, kInactiveText}}) {
        SCOPED_TRACE(std::to_string(version) + (active ? " active" : " inactive"));
        SharedState().g_nIEVersion = version;
        EXPECT_EQ(Tab().Bho().SetToolBarIcon(active), changed);
        EXPECT_EQ(::ImageList_GetImageCount(images), 2) << "the button's image is replaced";
        EXPECT_EQ(text(101), look);
        EXPECT_EQ(text(100), L"Home");
    }
    Module().SetInstance(nullptr);  // before the tab's detach, which unregisters its window class
    ::FreeLibrary(resources);
    ::DestroyWindow(commandBar);
    ::ImageList_Destroy(images);
}

}  // namespace
}  // namespace kvshake::testing

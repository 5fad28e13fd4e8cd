// The browser's version, read once from the page's script environment, and the tab's page
// window found through the browser's window tree of that version.
#include "bho/browser_version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "bho/shake_bho.h"
#include "browser_double/attached_tab.h"
#include "browser_double/in_process_tab_test.h"
#include "browser_double/page_double.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "support/log_file.h"

namespace kvshake::testing {
namespace {

TEST(IEVersionOfTest, FirstMarkerInOrderWinsAsAPlainCaseSensitiveSearch) {
    EXPECT_EQ(IEVersionOf("4.0 (compatible; MSIE 7.0; Windows NT 5.1)"), 7);
    EXPECT_EQ(IEVersionOf("MSIE 8.0 and MSIE 7.0"), 7);
    EXPECT_EQ(IEVersionOf("5.0 (compatible; MSIE 10.0; Trident/6.0)"), 10);
    EXPECT_EQ(IEVersionOf("MSIE 11.0"), 11);
    EXPECT_EQ(IEVersionOf("xMSIE 6.x"), 6);
    EXPECT_EQ(IEVersionOf("msie 9.0"), 0);
    EXPECT_EQ(IEVersionOf("5.0 (Windows NT 6.3; Trident/7.0; rv:11.0) like Gecko"), 11);
    EXPECT_EQ(IEVersionOf("5.0 (compatible; MSIE 9.0; Trident/7.0)"), 9);
    EXPECT_EQ(IEVersionOf("5.0 (Windows NT 6.1; Trident/6.0)"), 0);
}

class BrowserVersionTest : public InProcessTabTest {
  protected:
    void SetUp() override {
        InProcessTabTest::SetUp();
        DeleteLogFile();
        EnableLog(true);
    }
    void TearDown() override {
        EnableLog(false);
        InProcessTabTest::TearDown();
    }
    void Show(const wchar_t* appVersion) {
        PageDescription description;
        description.appVersion = appVersion;
        Tab().Browser()->ShowPage(PageDouble::Create(description));
    }
};

TEST_F(BrowserVersionTest, VersionIsAskedForUntilKnownAndThenKept) {
    Show(L"Mozilla/5.0 (Windows NT 6.1; rv:11.0)");
    Tab().Bho().GetIEVersion();
    Tab().Bho().GetIEVersion();
    EXPECT_EQ(shake_da.g_nIEVersion, 0);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]Mozilla/5.0 (Windows NT 6.1; rv:11.0)"), 2u);

    Show(L"4.0 (compatible; MSIE 8.0; Windows NT 6.1)");
    Tab().Bho().GetIEVersion();
    Show(L"4.0 (compatible; MSIE 6.0)");
    Tab().Bho().GetIEVersion();
    EXPECT_EQ(shake_da.g_nIEVersion, 8);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]GetIEVersion Start\r\n"), 4u);
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]GetIEVersion before, so return\r\n"), 1u);

    Tab().Browser()->ShowPage(nullptr);
    shake_da.g_nIEVersion = 0;
    Tab().Bho().GetIEVersion();
    EXPECT_TRUE(LogHas("[Error]GetIEVersion, Get Document Fail, Error Code:"));
}

TEST_F(BrowserVersionTest, PageWindowIsFoundOnThePathOfEachVersion) {
    for (const int version : {6, 7, 8, 11}) {
        AttachedTab tab;
        // Another browser's tree comes first among the windows, and this browser's other tabs
        // stand beside this one: neither must be found.
        AttachedTab another;
        another.Browser()->BuildWindowTree(version);
        const HWND page = tab.Browser()->BuildWindowTree(version, true);
        shake_da.g_nIEVersion = version;
        EXPECT_EQ(tab.Bho().FindIES(), page) << version;
    }
    shake_da.g_nIEVersion = 0;
    Tab().Browser()->BuildWindowTree(8);
    EXPECT_EQ(Tab().Bho().FindIES(), nullptr);
    EXPECT_TRUE(LogHas("[INFO]In FindIES, IE Version:0\r\n"));

    AttachedTab oldTree;
    oldTree.Browser()->BuildWindowTree(6);
    shake_da.g_nIEVersion = 8;  // no "Frame Tab" under the top window
    EXPECT_EQ(oldTree.Bho().FindIES(), nullptr);
}

}  // namespace
}  // namespace kvshake::testing

// The tip inside the page: its style text, its element, and its removal by the tab's own timer;
// on helper objects of the module's code linked in, sited on browser doubles that show pages.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "bho/shake_bho.h"
#include "browser_double/attached_tab.h"
#include "browser_double/in_process_tab_test.h"
#include "browser_double/page_double.h"
#include "foundation/shared_state.h"
#include "support/message_recorder.h"

namespace kvshake::testing {
namespace {

constexpr wchar_t kTipId[] = L"kovinShakeContainer";
constexpr wchar_t kPictureTip[] =
    L"right:10px;z-index:99999;width:259px;height:59px;"
    L"background-image:url(\"res://KVShake/224\");";
constexpr wchar_t kNoPictureTip[] =
    L"right:10px;z-index:99999;width:255px;height:53px;"
    L"background-image:url(\"res://KVShake/223\");";

class PageTipTest : public InProcessTabTest {
  protected:
    // Inserts the tip into a page scrolled as given, under the browser version given.
    std::shared_ptr<PageDouble> Tip(int version, bool found, long bodyScroll, long rootScroll) {
        shake_da.g_nIEVersion = version;
        PageDescription description;
        description.bodyScrollTop = bodyScroll;
        description.documentScrollTop = rootScroll;
        std::shared_ptr<PageDouble> page = PageDouble::Create(description);
        Tab().Browser()->ShowPage(page);
        Microsoft::WRL::ComPtr<IHTMLDocument2> document;
        page->Document().As(&document);
        Tab().Bho().InsertTip(document.Get(), found);
        return page;
    }
    static std::wstring Css(const std::shared_ptr<PageDouble>& page) {
        const std::optional<ElementState> tip = page->ElementById(kTipId);
        return tip ? tip->cssText : L"(none)";
    }
};

TEST_F(PageTipTest, StyleIsTheSizePartThenThePositionPartOfTheVersion) {
    EXPECT_EQ(Css(Tip(9, true, 0, 0)), std::wstring(kPictureTip) + L"position:fixed;top:30px;");
    EXPECT_EQ(Css(Tip(11, false, 400, 0)),
              std::wstring(kNoPictureTip) + L"position:fixed;top:30px;");
    // Before version 9 the larger of the two scroll offsets places it.
    EXPECT_EQ(Css(Tip(8, false, 100, 250)),
              std::wstring(kNoPictureTip) + L"position:absolute;top:280px;");
    EXPECT_EQ(Css(Tip(6, true, 250, 100)),
              std::wstring(kPictureTip) + L"position:absolute;top:280px;");
}

// A tip shown again, after its timer or before, gets its three seconds anew.
TEST_F(PageTipTest, TipIsAppendedOnceHiddenByItsTimerAndShownAgainWholeForItsFullTime) {
    const std::shared_ptr<PageDouble> page = Tip(9, true, 0, 0);
    const std::optional<ElementState> shown = page->ElementById(kTipId);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->tag, L"div");
    EXPECT_EQ(shown->className, L"container");
    EXPECT_TRUE(shown->inBody);

    const DWORD inserted = ::GetTickCount();
    ASSERT_TRUE(WaitUntil([&] { return page->ElementById(kTipId)->display == L"none"; }, 15000));
    EXPECT_GE(::GetTickCount() - inserted, 2500u);  // shown for three seconds
    EXPECT_EQ(page->CountById(kTipId), 1);          // hidden, not removed

    Microsoft::WRL::ComPtr<IHTMLDocument2> document;
    page->Document().As(&document);
    Tab().Bho().InsertTip(document.Get(), false);
    EXPECT_EQ(page->CountById(kTipId), 1);
    EXPECT_EQ(Css(page), std::wstring(kNoPictureTip) + L"position:fixed;top:30px;");
    EXPECT_EQ(page->ElementById(kTipId)->display, L"");
    MessageRecorder::Pump(1500);
    Tab().Bho().InsertTip(document.Get(), false);
    const DWORD refreshed = ::GetTickCount();
    ASSERT_TRUE(WaitUntil([&] { return page->ElementById(kTipId)->display == L"none"; }, 15000));
    EXPECT_GE(::GetTickCount() - refreshed, 2500u);
    document.Reset();
    EXPECT_EQ(page->ReferencesHeld(), 0);
}

}  // namespace
}  // namespace kvshake::testing

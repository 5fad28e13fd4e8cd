// A shake's upload from the tab's own page and the tip it leaves there, hidden by the tab's timer.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "browser_double/in_process_tab_test.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "support/log_file.h"
#include "support/message_recorder.h"

namespace kvshake::testing {
namespace {

constexpr wchar_t kTipId[] = L"kovinShakeContainer";
constexpr size_t npos = std::wstring::npos;
constexpr wchar_t kPictureTip[] = L"KVShake/224\");";  // the tip's image tells which it is
constexpr wchar_t kNoPictureTip[] = L"KVShake/223\");";

PageElement Image(const wchar_t* src, long width, long height) {
    return PageElement{L"img", {}, {}, src, width, height};
}

PageElement Background(const wchar_t* value) { return PageElement{L"div", {}, value, {}, 0, 0}; }

PageDescription Page(std::wstring title, std::vector<PageElement> elements,
                     std::vector<PageDescription> frames = {}) {
    PageDescription page;
    page.title = std::move(title);
    page.url = L"http://pages.test/gallery?a=1&b=2";
    page.elements = std::move(elements);
    page.frames = std::move(frames);
    return page;
}

std::wstring Css(const std::shared_ptr<PageDouble>& page) {
    const std::optional<ElementState> tip = page->ElementById(kTipId);
    return tip ? tip->cssText : L"(none)";
}

class UploadTest : public InProcessTabTest {
  protected:
    void SetUp() override {
        InProcessTabTest::SetUp();
        ClearAccount();
        WriteReg(kUinValue, L"10001");
        WriteReg(kSidValue, L"s-1");
        SharedState().g_nIEVersion = 9;
        DeleteLogFile();
        EnableLog(true);
    }
    void TearDown() override {
        EnableLog(false);
        ClearAccount();
        InProcessTabTest::TearDown();
    }

    // Shows the page in the tab, runs one upload and gives the requests it sent.
    std::vector<RecordedRequest> Upload(const std::shared_ptr<PageDouble>& page) {
        Tab().Browser()->ShowPage(page);
        const size_t before = standin::RequestCount();
        Tab().Bho().uploadPic();
        std::vector<RecordedRequest> uploads = standin::RequestsTo("shakeupload");
        uploads.erase(uploads.begin(), uploads.end() - (standin::RequestCount() - before));
        return uploads;
    }
    std::string UploadBody(const PageDescription& description) {
        const std::vector<RecordedRequest> uploads = Upload(PageDouble::Create(description));
        return uploads.size() == 1 ? uploads[0].Body() : "(" + std::to_string(uploads.size()) + ")";
    }
    // Inserts the tip into a page scrolled as given, under the browser version given.
    std::shared_ptr<PageDouble> Tip(int version, bool found, long bodyScroll, long rootScroll) {
        SharedState().g_nIEVersion = version;
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
};

// The tip comes before the POST and tells whether a picture goes; every reference is given back.
TEST_F(UploadTest, PicturesGoInScanOrderTheTitleIsEncodedAndReferencesAreReleasedCp936) {
    PageDescription refused = Page(L"other site", {Image(L"x.png", 500, 500)});
    refused.refusesDocument = true;
    const PageDescription first =
        Page(L"first", {Image(L"f1.png", 150, 150), Background(L"url(\"fbg.png\")")},
             {Page(L"nested", {Image(L"n.png", 300, 300)})});
    PageDescription gallery =
        Page(L"Gallery",
             {Image(L"a.png?x=1&y=2", 101, 101), Image(L"tall.png", 100, 200),
              Background(L"url(\"bg1.png\")"), Image(L"wide.png", 200, 100),
              Image(L"a.png?x=1&y=2", 101, 101)},
             {first, refused, Page(L"second", {Image(L"f2 \u4e2d\u00e9+#%20.png", 120, 120)})});
    gallery.url += L"&u=\u4e2d #x";  // characters of no code page come back whole
    const std::shared_ptr<PageDouble> page = PageDouble::Create(gallery);
    const ULONG browserReferences = Tab().Browser()->References();
    const std::vector<RecordedRequest> uploads = Upload(page);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_NE(uploads[0].RequestLine().find("&uin=10001&sid=s-1 "), npos);  // the account
    EXPECT_EQ(uploads[0].Body(),
              "title=Gallery&pageurl=http://pages.test/gallery?a%3D1%26b%3D2%26u%3D%E4%B8%AD%20%23x"
              "&url=a.png?x%3D1%26y%3D2&url=a.png?x%3D1%26y%3D2&url=f1.png&url=n.png"
              "&url=f2%20%E4%B8%AD%C3%A9%2B%23%2520.png&url=url(\"bg1.png\")&url=url(\"fbg.png\")");
    const std::string log = ReadLogFile();
    const size_t result = log.find("uploadPic PostData Result");
    ASSERT_NE(result, std::string::npos) << log;
    EXPECT_LT(log.find("InsertTip End"), result) << "the tip comes after the POST";
    EXPECT_EQ(page->ReferencesHeld(), 0);
    EXPECT_EQ(Tab().Browser()->References(), browserReferences);

    // A page that is not a web page sends "not found" only, and gets no tip.
    PageDescription local = Page(L"local", {Image(L"big.png", 500, 500)});
    local.url = L"file:///C:/local.html";
    EXPECT_EQ(UploadBody(local), "stat=notfound");
    for (const auto& [description, tip] :
         {std::pair{Page(L"frame only", {}, {Page(L"f", {Image(L"f.png", 101, 101)})}),
                    kPictureTip},
          std::pair{Page(L"background only", {Background(L"url(\"b.png\")")}), kPictureTip},
          std::pair{Page(L"small only", {Image(L"s.png", 100, 100), Image(L"t.png", 101, 100)}),
                    kNoPictureTip},
          std::pair{local, L"(none)"}}) {
        const std::shared_ptr<PageDouble> other = PageDouble::Create(description);
        Upload(other);
        EXPECT_NE(Css(other).find(tip), npos) << *description.title;
    }

    // Titles keep what the code page lacks, whole characters in 1024 bytes; no account: empty.
    ClearAccount();
    EXPECT_EQ(UploadBody(Page(L"A&B C \u4e2d\u6587\u00a07\U0001F600",
                              {Image(L"p.jpg?x=1&y=2", 640, 480)})),
              "title=A%26B+C+%E4%B8%AD%E6%96%87%C2%A07%F0%9F%98%80"
              "&pageurl=http://pages.test/gallery?a%3D1%26b%3D2&url=p.jpg?x%3D1%26y%3D2");
    PageDescription longTitle = Page(std::wstring(1020, L'a') + L"\u4e2d\u6587", {});
    EXPECT_EQ(UploadBody(longTitle),
              "title=" + std::string(1020, 'a') +
                  "%E4%B8%AD&pageurl=http://pages.test/gallery?a%3D1%26b%3D2");
    longTitle.title = std::nullopt;
    EXPECT_EQ(UploadBody(longTitle), "title=&pageurl=http://pages.test/gallery?a%3D1%26b%3D2");
}

// The tip's style is its size part, then the version's position part; a tip inserted again while
// shown restarts its three seconds, and once hidden it stays in the page to be shown again.
TEST_F(UploadTest, TipIsStyledForTheVersionHiddenByItsTimerAndShownAgainForItsFullTime) {
    const std::shared_ptr<PageDouble> page = Tip(9, true, 400, 0);
    EXPECT_NE(Css(page).find(std::wstring(kPictureTip) + L"position:fixed;top:30px;"), npos);
    ASSERT_TRUE(page->ElementById(kTipId) && page->ElementById(kTipId)->inBody);
    MessageRecorder::Pump(1500);
    Microsoft::WRL::ComPtr<IHTMLDocument2> document;
    page->Document().As(&document);
    Tab().Bho().InsertTip(document.Get(), false);
    const DWORD refreshed = ::GetTickCount();
    ASSERT_TRUE(WaitUntil([&] { return page->ElementById(kTipId)->display == L"none"; }, 15000));
    EXPECT_GE(::GetTickCount() - refreshed, 2500u);
    EXPECT_EQ(page->CountById(kTipId), 1);  // hidden, not removed
    Tab().Bho().InsertTip(document.Get(), false);
    EXPECT_EQ(page->CountById(kTipId), 1);
    EXPECT_EQ(page->ElementById(kTipId)->display, L"");
    // Before version 9 the larger of the two scroll offsets places it.
    EXPECT_NE(Css(Tip(8, false, 100, 250))
                  .find(std::wstring(kNoPictureTip) + L"position:absolute;top:280px;"),
              npos);
    EXPECT_NE(Css(Tip(6, true, 250, 100))
                  .find(std::wstring(kPictureTip) + L"position:absolute;top:280px;"),
              npos);
}

}  // namespace
}  // namespace kvshake::testing

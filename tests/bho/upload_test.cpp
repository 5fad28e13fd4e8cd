// A shake's upload from the tab's own page: which pictures go, in which order, how the body and
// the path are made, and the tip it leaves; on helper objects of the module's code linked in,
// sited on browser doubles that show pages, against the service stand-in.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "bho/shake_bho.h"
#include "browser_double/attached_tab.h"
#include "browser_double/in_process_tab_test.h"
#include "browser_double/page_double.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "support/log_file.h"
#include "support/standin_client.h"

namespace kvshake::testing {
namespace {

constexpr wchar_t kTipId[] = L"kovinShakeContainer";
constexpr char kPictureTip[] = "res://KVShake/224";
constexpr char kNoPictureTip[] = "res://KVShake/223";

PageElement Image(const wchar_t* src, long width, long height) {
    PageElement image;
    image.tag = L"img";
    image.src = src;
    image.width = width;
    image.height = height;
    return image;
}

PageElement Background(const wchar_t* value) {
    PageElement element;
    element.backgroundImage = value;
    return element;
}

PageDescription Page(std::wstring title, std::vector<PageElement> elements,
                     std::vector<PageDescription> frames = {}) {
    PageDescription page;
    page.title = std::move(title);
    page.url = L"http://pages.test/gallery?a=1&b=2";
    page.elements = std::move(elements);
    page.frames = std::move(frames);
    return page;
}

// The request line without its protocol version.
std::string Target(const RecordedRequest& request) {
    const std::string line = request.RequestLine();
    return line.substr(0, line.rfind(' '));
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class UploadTest : public InProcessTabTest {
  protected:
    void SetUp() override {
        InProcessTabTest::SetUp();
        ClearAccount();
        WriteReg(kUinValue, L"10001");
        WriteReg(kSidValue, L"s-1");
        shake_da.g_nIEVersion = 9;
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
    std::string TipCss(const std::shared_ptr<PageDouble>& page) {
        const std::optional<ElementState> tip = page->ElementById(kTipId);
        return tip ? Narrow(tip->cssText) : "(none)";
    }
};

TEST_F(UploadTest, PicturesGoInScanOrderAndEveryReferenceIsReleased) {
    PageDescription nested = Page(L"nested", {Image(L"n.png", 300, 300)});
    PageDescription refused = Page(L"other site", {Image(L"x.png", 500, 500)});
    refused.refusesDocument = true;
    PageDescription first =
        Page(L"first", {Image(L"f1.png", 150, 150), Background(L"url(\"fbg.png\")")}, {nested});
    PageDescription second = Page(L"second", {Image(L"f2.png", 120, 120)});
    const std::shared_ptr<PageDouble> page =
        PageDouble::Create(Page(L"Gallery",
                                {Image(L"a.png?x=1&y=2", 101, 101), Image(L"tall.png", 100, 200),
                                 Background(L"url(\"bg1.png\")"), Image(L"wide.png", 200, 100),
                                 Image(L"a.png?x=1&y=2", 101, 101)},
                                {first, refused, second}));

    const std::vector<RecordedRequest> uploads = Upload(page);

    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(Target(uploads[0]),
              "POST /cgi-bin/pqsupport-bin/shakeupload?f=json&browser=3&uin=10001&sid=s-1");
    EXPECT_EQ(uploads[0].Body(),
              "title=Gallery&pageurl=http://pages.test/gallery?a=1&b=2"
              "&url=a.png?x=1&y=2&url=a.png?x=1&y=2&url=f1.png&url=n.png&url=f2.png"
              "&url=url(\"bg1.png\")&url=url(\"fbg.png\")");
    EXPECT_NE(TipCss(page).find(kPictureTip), std::string::npos);
    EXPECT_EQ(page->ReferencesHeld(), 0);
    EXPECT_LT(ReadLogFile().find("InsertTip End"), ReadLogFile().find("uploadPic PostData Result"));
}

// The tip tells whether the upload carries a picture, wherever on the page it was found.
TEST_F(UploadTest, TipSaysAPictureIsSentExactlyWhenOneIs) {
    struct Case {
        PageDescription page;
        const char* tip;
    } cases[] = {
        {Page(L"frame only", {}, {Page(L"f", {Image(L"f.png", 101, 101)})}), kPictureTip},
        {Page(L"background only", {Background(L"url(\"b.png\")")}), kPictureTip},
        {Page(L"small only", {Image(L"s.png", 100, 100), Image(L"t.png", 101, 100)}),
         kNoPictureTip},
    };
    for (const Case& c : cases) {
        const std::shared_ptr<PageDouble> page = PageDouble::Create(c.page);
        Upload(page);
        EXPECT_NE(TipCss(page).find(c.tip), std::string::npos) << Narrow(*c.page.title);
    }
}

// The title keeps characters that the code page lacks: a no-break space, an emoji.
TEST_F(UploadTest, OnlyTheTitleIsEncodedAndAMissingAccountIsSentEmptyCp936) {
    ClearAccount();
    const std::vector<RecordedRequest> uploads = Upload(PageDouble::Create(
        Page(L"A&B C \u4e2d\u6587\u00a07\U0001F600", {Image(L"p.jpg?x=1&y=2", 640, 480)})));
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(Target(uploads[0]),
              "POST /cgi-bin/pqsupport-bin/shakeupload?f=json&browser=3&uin=&sid=");
    EXPECT_EQ(uploads[0].Body(),
              "title=A%26B+C+%E4%B8%AD%E6%96%87%C2%A07%F0%9F%98%80"
              "&pageurl=http://pages.test/gallery?a=1&b=2&url=p.jpg?x=1&y=2");
}

// The title buffer holds 1024 bytes with the terminator; a longer title keeps the whole
// characters that fit.
TEST_F(UploadTest, OverlongTitleIsCutAtACharacterAndAMissingOneIsEmptyCp936) {
    PageDescription page = Page(std::wstring(1020, L'a') + L"\u4e2d\u6587", {});
    EXPECT_EQ(UploadBody(page), "title=" + std::string(1020, 'a') +
                                    "%E4%B8%AD&pageurl=http://pages.test/gallery?a=1&b=2");
    page.title = std::nullopt;
    EXPECT_EQ(UploadBody(page), "title=&pageurl=http://pages.test/gallery?a=1&b=2");
}

TEST_F(UploadTest, PageThatIsNotAWebPageSendsNotFoundOnlyAndNoTip) {
    for (const wchar_t* protocol : {L"file:", L"about:", L"res:", L"HTTP:"}) {
        PageDescription description = Page(L"local", {Image(L"big.png", 500, 500)});
        description.protocol = protocol;
        const std::shared_ptr<PageDouble> page = PageDouble::Create(description);
        const std::vector<RecordedRequest> uploads = Upload(page);
        ASSERT_EQ(uploads.size(), 1u) << Narrow(protocol);
        EXPECT_EQ(uploads[0].Body(), "stat=notfound");
        EXPECT_EQ(page->CountById(kTipId), 0);
    }
    EXPECT_FALSE(LogHas("InsertTip Start"));
}

// After a first shake the page holds the tip, whose background is the tip's own picture.
TEST_F(UploadTest, SecondShakeSendsTheSamePicturesAndRefreshesTheOneTip) {
    const std::shared_ptr<PageDouble> page =
        PageDouble::Create(Page(L"p", {Image(L"a.png", 200, 200), Background(L"url(\"b.png\")")}));
    const std::vector<RecordedRequest> first = Upload(page);
    const std::vector<RecordedRequest> second = Upload(page);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].Body(), first[0].Body());
    EXPECT_EQ(page->CountById(kTipId), 1);
    EXPECT_TRUE(LogHas("InsertTip End, Type : New Insert"));
    EXPECT_TRUE(LogHas("InsertTip End, Type : Modify Old"));
}

TEST_F(UploadTest, PageOfThousandsOfPicturesLeavesNoReferenceBehind) {
    std::vector<PageElement> elements(2000, Image(L"i.png", 120, 120));
    elements.insert(elements.end(), 2000, Background(L"url(\"b.png\")"));
    const std::shared_ptr<PageDouble> page =
        PageDouble::Create(Page(L"big", elements, {Page(L"f", elements)}));
    const ULONG browserReferences = Tab().Browser()->References();
    ASSERT_EQ(Upload(page).size(), 1u);
    EXPECT_EQ(page->ReferencesHeld(), 0);
    EXPECT_EQ(Tab().Browser()->References(), browserReferences);
}

}  // namespace
}  // namespace kvshake::testing

// A shake's upload from the tab's own page and the tip it leaves there, hidden by the tab's timer.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "browser_double/in_process_tab_test.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
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
    const std::shared_ptr<PageDouble> page =
        PageDouble::Create(Page(L"Gallery",
                                {Image(L"a.png?x=1&y=2", 101, 101), Image(L"tall.png", 100, 200),
                                 Background(L"url(\"bg1.png\")"), Image(L"wide.png", 200, 100),
                                 Image(L"a.png?x=1&y=2", 101, 101)},
                                {first, refused, Page(L"second", {Image(L"f2.png", 120, 120)})}));
    const ULONG browserReferences = Tab().Browser()->References();
    const std::vector<RecordedRequest> uploads = Upload(page);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_NE(uploads[0].RequestLine().find("&uin=10001&sid=s-1 "), npos);  // the account
    EXPECT_EQ(uploads[0].Body(),
              "title=Gallery&pageurl=http://pages.test/gallery?a%3D1%26b%3D2"
              "&url=a.png?x%3D1%26y%3D2&url=a.png?x%3D1%26y%3D2&url=f1.png&url=n.png&url=f2.png"
              "&url=url(\"bg1.png\")&url=url(\"fbg.png\")");
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
    const std::vector<RecordedRequest> titled = Upload(PageDouble::Create(
        Page(L"A&B C \u4e2d\u6587\u00a07\U0001F600", {Image(L"p.jpg?x=1&y=2", 640, 480)})));
    ASSERT_EQ(titled.size(), 1u);
    EXPECT_NE(titled[0].RequestLine().find("&uin=&sid= "), npos);
    EXPECT_EQ(titled[0].Body(),
              "title=A%26B+C+%E4%B8%AD%E6%96%87%C2%A07%F0%9F%98%80"
              "&pageurl=http://pages.test/gallery?a%3D1%26b%3D2&url=p.jpg?x%3D1%26y%3D2");
    PageDescription longTitle = Page(std::wstring(1020, L'a') + L"\u4e2d\u6587", {});
    EXPECT_EQ(UploadBody(longTitle),
              "title=" + std::string(1020, 'a') +
                  "%E4%B8%AD&pageurl=http://pages.test/gallery?a%3D1%26b%3D2");
    longTitle.title = std::nullopt;
    EXPECT_EQ(UploadBody(longTitle), "title=&pageurl=http://pages.test/gallery?a%3D1%26b%3D2");
}

// A form body's fields, each name and value decoded as a form decoder reads them.
std::vector<std::pair<std::string, std::string>> FormFields(const std::string& body) {
    const auto decode = [](const std::string& text) {
        std::string decoded;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size()) {
                decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                decoded += text[i] == '+' ? ' ' : text[i];
            }
        }
        return decoded;
    };
    std::vector<std::pair<std::string, std::string>> fields;
    for (size_t start = 0; start <= body.size();) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        const std::string field = body.substr(start, end - start);
        const size_t equals = field.find('=');
        fields.emplace_back(decode(field.substr(0, equals)),
                            equals == std::string::npos ? "" : decode(field.substr(equals + 1)));
        start = end + 1;
    }
    return fields;
}

// Addresses holding what a form gives a meaning to, and characters of no code page, come back
// whole from the body; under the Chinese code page too.
TEST_F(UploadTest, AddressesComeBackExactlyFromTheFormBodyCp936) {
    const std::wstring pictures[] = {L"http://p.test/a b.png?x=1&y=2+3#top",
                                     L"http://p.test/%20%E4%B8%AD.png?q=a%26b",
                                     L"http://p.test/中éа.png", L"url(\"c=d&e.png\")"};
    PageDescription description =
        Page(L"t", {Image(pictures[0].c_str(), 200, 200), Image(pictures[1].c_str(), 200, 200),
                    Image(pictures[2].c_str(), 200, 200), Background(pictures[3].c_str())});
    description.url = L"http://pages.test/s?q=a&b=c+d%20e&u=中#x";
    const std::vector<std::pair<std::string, std::string>> fields =
        FormFields(UploadBody(description));
    ASSERT_EQ(fields.size(), 6u) << UploadBody(description);
    EXPECT_EQ(fields[1], std::pair(std::string("pageurl"), *WideToUtf8(description.url.c_str())));
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(fields[2 + i], std::pair(std::string("url"), *WideToUtf8(pictures[i].c_str())));
    }
}

// The tip's style is its size part, then the version's position part; a reshown tip restarts.
TEST_F(UploadTest, TipIsStyledForTheVersionHiddenByItsTimerAndShownAgainForItsFullTime) {
    const std::shared_ptr<PageDouble> page = Tip(9, true, 400, 0);
    EXPECT_NE(Css(page).find(std::wstring(kPictureTip) + L"position:fixed;top:30px;"), npos);
    ASSERT_TRUE(page->ElementById(kTipId) && page->ElementById(kTipId)->inBody);
    const DWORD inserted = ::GetTickCount();
    ASSERT_TRUE(WaitUntil([&] { return page->ElementById(kTipId)->display == L"none"; }, 15000));
    EXPECT_GE(::GetTickCount() - inserted, 2500u);  // shown for three seconds
    EXPECT_EQ(page->CountById(kTipId), 1);          // hidden, not removed

    Microsoft::WRL::ComPtr<IHTMLDocument2> document;
    page->Document().As(&document);
    Tab().Bho().InsertTip(document.Get(), false);
    EXPECT_EQ(page->CountById(kTipId), 1);
    EXPECT_EQ(page->ElementById(kTipId)->display, L"");
    MessageRecorder::Pump(1500);
    Tab().Bho().InsertTip(document.Get(), false);
    const DWORD refreshed = ::GetTickCount();
    ASSERT_TRUE(WaitUntil([&] { return page->ElementById(kTipId)->display == L"none"; }, 15000));
    EXPECT_GE(::GetTickCount() - refreshed, 2500u);
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

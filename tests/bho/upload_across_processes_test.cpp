// Uploads and tips across browser processes: helper processes load the module, show pages on
// their browser doubles and share the module's machine-wide block.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>

#include "panel/registered_control_double.h"
#include "service/service_config.h"
#include "support/helper_process_test.h"
#include "support/stored_value.h"

namespace kvshake::testing {
namespace {

// A page description file for the helper program's "page" command, removed with the object.
class PageFile {
  public:
    explicit PageFile(const std::string& lines) {
        wchar_t folder[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, folder);
        path_ = folder + UniqueName(L"page") + L".txt";
        std::ofstream(path_.c_str(), std::ios::binary) << lines;
    }
    ~PageFile() { ::DeleteFileW(path_.c_str()); }
    const std::wstring& Path() const { return path_; }

  private:
    std::wstring path_;
};

using UploadAcrossProcessesTest = HelperProcessTest;

TEST_F(UploadAcrossProcessesTest, ShakeUploadsThePageOfTheTabBroughtToTheFrontInAnotherProcess) {
    const PageFile pageB("title Tab B\nurl http://b.test/\nimg 300 200 http://b.test/big.png\n");
    const PageFile pageA("title Tab A\nimg 400 400 http://a.test/a.png\n");
    const std::wstring joined = UniqueName(L"joined"), front = UniqueName(L"front");
    unique_handle joinedEvent = NamedEvent(joined), frontEvent = NamedEvent(front);
    // A's first tab activates and checks; after B joins, A opens a newer tab, and then B's tab
    // is brought to the front by the browser's window-state event.
    TestHost processA(L"attach a serve " + joined + L" attach a2 page a2 " + pageA.Path() +
                      L" serve " + done_);
    ASSERT_TRUE(Activated());
    TestHost processB(L"attach b page b " + pageB.Path() + L" serve " + front +
                      L" state b 3 3 serve " + done_);
    ASSERT_TRUE(WaitUntil([] { return LogHas("New Tab, Tab Num:1"); }));
    ::SetEvent(joinedEvent.get());
    ASSERT_TRUE(WaitUntil([] { return LogHas("New Tab, Tab Num:2"); }));
    ::SetEvent(frontEvent.get());
    ASSERT_TRUE(WaitUntil([] { return LogHas("Current Tab Url:"); })) << ReadLogFile();

    standin::Script("[" + CheckAnswer(kShake) + "]");
    ASSERT_TRUE(WaitUntil([] { return LogHas("uploadPic PostData Result"); })) << ReadLogFile();
    ::SetEvent(doneEvent_.get());
    EXPECT_EQ(processA.Wait(), 0u);
    EXPECT_EQ(processB.Wait(), 0u);

    const std::vector<RecordedRequest> uploads = standin::RequestsTo("shakeupload");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].Body(), "title=Tab+B&pageurl=http://b.test/&url=http://b.test/big.png");
}

// Each tip goes about three seconds after it came, though the second tab, in another process,
// was the last to name itself as the tab whose tip is to be hidden.
TEST_F(UploadAcrossProcessesTest, TipsOfTabsInTwoProcessesEachGoAfterTheirOwnThreeSeconds) {
    const PageFile page("title Tip\nimg 300 300 http://t.test/p.png\n");
    const std::wstring second = UniqueName(L"second");
    unique_handle secondEvent = NamedEvent(second);
    const std::wstring tab = L" page t " + page.Path() + L" ";
    TestHost first(L"attach t" + tab + L"upload t tip-watch t 10000");
    TestHost later(L"attach t" + tab + L"wait " + second +
                   L" sleep 1000 upload t tip-watch t 10000");
    ASSERT_TRUE(WaitUntil([] { return LogHas("Type : New Insert"); }));
    ::SetEvent(secondEvent.get());
    ASSERT_EQ(first.Wait(), 0u);
    ASSERT_EQ(later.Wait(), 0u);
    // The second tip came while the first was still shown: else the case tried nothing.
    const std::string log = ReadLogFile();
    const size_t secondTip = log.find("InsertTip End", log.find("InsertTip End") + 1);
    ASSERT_NE(secondTip, std::string::npos) << log;
    ASSERT_LT(secondTip, log.find("RemoveTip Start")) << "the tips did not overlap: " << log;
    for (const TestHost* host : {&first, &later}) {
        long hiddenAfterMs = -1;
        const std::string output = host->Output();
        const size_t at = output.find("tip hidden after ");
        ASSERT_NE(at, std::string::npos) << output;
        std::sscanf(output.c_str() + at, "tip hidden after %ld ms", &hiddenAfterMs);
        EXPECT_GE(hiddenAfterMs, 2500) << output;
        EXPECT_LE(hiddenAfterMs, 8000) << output;
    }
}

// Bound without the toolbar: the panel that rundll32 opens stores the account of its login and
// activates; a tab opened afterwards checks, and a shake uploads its page.
TEST_F(UploadAcrossProcessesTest, PanelOfRundll32BindsAndATabOpenedAfterwardsUploads) {
    ClearAccount();
    RegisteredControlDouble control;  // the panel's browser in the rundll32 process
    ASSERT_NE(control.Module(), nullptr);
    ChildProcess rundll32(L"rundll32.exe \"" + ModulePath() + L"\",ShowPanel");
    HWND panel = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (panel = ::FindWindowW(nullptr, L"摇一摇传图")); }));
    const std::wstring bindUrl = std::wstring(L"https://") + kServiceHost + L"/bind";
    ASSERT_TRUE(WaitUntil([&] {
        return control_double::SendFrameComplete(panel, bindUrl, LR"({"token":"t-9","uin":"9"})");
    }));
    ASSERT_TRUE(Activated());
    EXPECT_EQ(Stored(kTokenValue), L"t-9");
    EXPECT_EQ(standin::RequestsTo("shakeactive").size(), 1u);

    const PageFile page("title After\nurl http://p.test/\nimg 300 200 http://p.test/big.png\n");
    TestHost tab(L"attach t page t " + page.Path() + L" serve " + done_);
    ASSERT_TRUE(WaitUntil([] {
        return LogHas("InitHideWindow, CreateWindow Suc") &&
               !standin::RequestsTo("shakecheck").empty();
    })) << ReadLogFile();
    standin::Script("[" + CheckAnswer(kShake) + "]");
    ASSERT_TRUE(WaitUntil([] { return !standin::RequestsTo("shakeupload").empty(); }));
    EXPECT_EQ(standin::RequestsTo("shakeupload")[0].Body(),
              "title=After&pageurl=http://p.test/&url=http://p.test/big.png");
    ::PostMessageW(panel, WM_CLOSE, 0, 0);
    EXPECT_EQ(rundll32.Wait(), 0u);
    ::SetEvent(doneEvent_.get());
    EXPECT_EQ(tab.Wait(), 0u);
}

}  // namespace
}  // namespace kvshake::testing

// Binding and activation flows of the helper object, run in this process on the module's code
// linked in, against the service stand-in.
#include "service/activation.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "bho/hidden_window.h"
#include "bho/shake_bho.h"
#include "browser_double/attached_tab.h"
#include "browser_double/in_process_tab_test.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "service/active_state.h"
#include "support/log_file.h"
#include "support/message_recorder.h"
#include "support/standin_client.h"

namespace kvshake::testing {
namespace {

constexpr char kActivatePath[] =
    "GET /cgi-bin/pqsupport-bin/shakeactive?action=active&browser=3&f=json&token=t-1&uin=10001 "
    "HTTP/1.0";

std::wstring Stored(const wchar_t* name) {
    std::wstring value;
    ReadReg(name, value);
    return value;
}

class ActivationTest : public InProcessTabTest {
  protected:
    // Checks of the threads that a successful activation starts are answered slowly.
    int CheckDelayMs() const override { return 200; }

    void SetUp() override {
        InProcessTabTest::SetUp();
        ClearAccount();
        WriteReg(kTokenValue, L"t-1");
        WriteReg(kUinValue, L"10001");
        DeleteLogFile();
        EnableLog(true);
    }
    void TearDown() override {
        EnableLog(false);
        ClearAccount();
        InProcessTabTest::TearDown();
    }

    static std::vector<RecordedRequest> ActiveRequests() {
        return standin::RequestsTo("shakeactive");
    }
};

TEST_F(ActivationTest, ActivateWhileActiveOnlyStartsACheckThread) {
    AttachedTab tab;
    SetActive(true);
    tab.Bho().activate();
    EXPECT_TRUE(ActiveRequests().empty());
    const std::string log = ReadLogFile();
    EXPECT_EQ(CountOccurrences(log, "[INFO]activate End & Don't need to go Active\r\n"), 1u);
    EXPECT_EQ(CountOccurrences(log, "[INFO]Create New Thread To Check, ThreadID :"), 1u);
}

TEST_F(ActivationTest, OkStoresTheSidActivatesAndTellsTheFrontTab) {
    standin::Script(R"([{"match":"shakeactive",
                         "body":"{\"message\":\"OK\",\"sid\":\"s-42\"}"}])");
    AttachedTab tab;
    MessageRecorder front;
    shake_da.g_HideWindowHwnd = front.Window();
    tab.Bho().activate();

    const auto requests = ActiveRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), kActivatePath);
    EXPECT_EQ(Stored(kSidValue), L"s-42");
    EXPECT_TRUE(ReadActive());
    EXPECT_EQ(front.Count(WM_ICON_ACTIVE), 1u);
    const std::string log = ReadLogFile();
    EXPECT_EQ(CountOccurrences(log, "startCheckShake start"), 1u);
    for (const char* line :
         {"[INFO]Active Suc\r\n", "[INFO]In ActiveSuc, Send Msg End\r\n",
          "[INFO]ActivateSuc End\r\n", "[INFO]activate End & go to Active real\r\n"}) {
        EXPECT_EQ(CountOccurrences(log, line), 1u) << line;
    }

    // The tab has a check thread now, so a second activation starts none.
    SetActive(false);
    standin::Script(R"([{"match":"shakeactive","body":"{\"message\":\"OK\",\"sid\":\"s-43\"}"}])");
    tab.Bho().activate();
    EXPECT_EQ(Stored(kSidValue), L"s-43");
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "startCheckShake start"), 1u);
}

TEST_F(ActivationTest, RefusalDeletesTheAccountOnlyWhenItSays201) {
    WriteReg(kUserValue, L"user");
    standin::Script(R"([{"match":"shakeactive","body":"{\"message\":\"invalid\",\"ret\":\"1\"}"},
                        {"match":"shakeactive","body":"{\"message\":\"invalid\",\"ret\":\"201\"}"}])");
    AttachedTab tab;
    tab.Bho().activate();
    EXPECT_FALSE(ReadActive());
    EXPECT_EQ(Stored(kTokenValue), L"t-1");
    EXPECT_EQ(Stored(kUserValue), L"user");

    tab.Bho().activate();
    EXPECT_FALSE(ReadActive());
    for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue, kNicknameValue}) {
        std::wstring value;
        EXPECT_FALSE(ReadReg(name, value)) << name;
    }
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]Active Fail\r\n"), 2u);
}

TEST_F(ActivationTest, InactiveBrowserIsNotInactivatedAgain) {
    AttachedTab tab;
    DeleteLogFile();
    tab.Bho().unActive();
    EXPECT_TRUE(ActiveRequests().empty());
    EXPECT_FALSE(LogFileExists());
}

TEST_F(ActivationTest, UnActiveOkForgetsTheSidAndKeepsTheAccount) {
    WriteReg(kSidValue, L"s-9");
    standin::Script(R"([{"match":"shakeactive","body":"{\"message\":\"OK\"}"}])");
    AttachedTab tab;
    SetActive(true);
    tab.Bho().unActive();
    const auto requests = ActiveRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(),
              "GET /cgi-bin/pqsupport-bin/shakeactive?action=inactive&f=json&browser=3&uin=10001"
              "&sid=s-9 HTTP/1.0");
    EXPECT_FALSE(ReadActive());
    std::wstring sid;
    EXPECT_FALSE(ReadReg(kSidValue, sid));
    EXPECT_EQ(Stored(kTokenValue), L"t-1");
    EXPECT_EQ(CountOccurrences(ReadLogFile(), "[INFO]unActive result: {\"message\":\"OK\"}\r\n"),
              1u);
}

TEST_F(ActivationTest, UnbindWithoutAnAnswerKeepsEverything) {
    WriteReg(kSidValue, L"s-9");
    standin::Script(R"([{"match":"shakeactive","close":true}])");
    EXPECT_FALSE(unbind());
    EXPECT_EQ(Stored(kTokenValue), L"t-1");
    EXPECT_EQ(Stored(kUinValue), L"10001");
    EXPECT_EQ(Stored(kSidValue), L"s-9");
    const std::string log = ReadLogFile();
    EXPECT_EQ(CountOccurrences(log, "[INFO]unbind result: \r\n"), 1u);
    EXPECT_EQ(CountOccurrences(log, "[Error]Unbind Fail No Response\r\n"), 1u);
}

TEST_F(ActivationTest, UnbindOkDeletesTheAccountAndTellsTheFrontTab) {
    WriteReg(kSidValue, L"s-9");
    WriteReg(kDebugValue, L"1");
    standin::Script(R"([{"match":"shakeactive","body":"{\"message\":\"OK\"}"}])");
    MessageRecorder front;
    shake_da.g_HideWindowHwnd = front.Window();
    SetActive(true);
    EXPECT_TRUE(unbind());
    EXPECT_EQ(ActiveRequests().at(0).RequestLine(),
              "GET /cgi-bin/pqsupport-bin/shakeactive?action=unbind&f=json&browser=3&token=t-1"
              "&uin=10001&sid=s-9 HTTP/1.0");
    EXPECT_FALSE(ReadActive());
    EXPECT_EQ(Stored(kTokenValue), L"");
    EXPECT_EQ(Stored(kDebugValue), L"1");
    EXPECT_EQ(front.Count(WM_ICON_INACTIVE), 1u);
    DelReg(kDebugValue);
}

TEST_F(ActivationTest, SaveAccountStoresEachValueUnderItsOwnName) {
    WriteReg(kSidValue, L"old-sid");
    SaveAccount(LR"({"token":"tk","uin":"42","user":"someone","nickname":"Nick"})");
    EXPECT_EQ(Stored(kTokenValue), L"tk");
    EXPECT_EQ(Stored(kUinValue), L"42");
    EXPECT_EQ(Stored(kUserValue), L"someone");
    EXPECT_EQ(Stored(kNicknameValue), L"Nick");
    EXPECT_EQ(Stored(kSidValue), L"old-sid");
}

// The first attach of a machine run with a stored token activates on a thread of its own.
TEST_F(ActivationTest, InitActiveLogsEachStepInOrder) {
    shake_da.g_bInited = false;
    standin::Script(R"([{"match":"shakeactive","body":"{\"message\":\"OK\",\"sid\":\"s-1\"}"}])");
    WriteReg(kDebugValue, L"1");
    AttachedTab tab;
    WaitUntil([] { return LogHas("ActivateSuc End"); }, 10000);
    const std::string log = ReadLogFile();
    size_t at = 0;
    for (const char* line :
         {"[INFO]InitActive Start\r\n",
          "[INFO]InitActive Result: {\"message\":\"OK\",\"sid\":\"s-1\"}\r\n",
          "[INFO]Active Result Message Value:OK\r\n", "[INFO]Active Suc\r\n",
          "[INFO]In ActiveSuc, Send Msg End\r\n", "[INFO]startCheckShake start\r\n",
          "[INFO]Create New Thread To Check, ThreadID :", "[INFO]ActivateSuc End\r\n"}) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << " in order in\n" << log;
    }
    EXPECT_EQ(Stored(kSidValue), L"s-1");
    DelReg(kDebugValue);
}

}  // namespace
}  // namespace kvshake::testing

// Binding, inactivation and unbinding with the service, on the module's code linked in, against
// the service stand-in.
#include "service/activation.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "service/active_state.h"
#include "support/log_file.h"
#include "support/standin_client.h"
#include "support/stored_value.h"

namespace kvshake::testing {
namespace {

bool AccountIsGone() {
    std::wstring value;
    for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue, kNicknameValue}) {
        if (ReadReg(name, value)) return false;
    }
    return true;
}

// Records what the service layer asks of the tab in front.
struct FrontTabRecord final : FrontTab {
    void Upload() noexcept override { ++uploads; }
    void ShowActivation(bool active) noexcept override { (active ? shownActive : shownInactive)++; }
    int uploads = 0, shownActive = 0, shownInactive = 0;
};

std::string Answer(const char* body) {
    return std::string(R"([{"match":"shakeactive","body":)") + JsonString(body) + "}]";
}

class ActivationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(standin::Reset());
        shake_da = SharedBlock{};
        ClearAccount();
        for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue}) {
            WriteReg(name, L"v");
        }
        DeleteLogFile();
        EnableLog(true);
    }
    void TearDown() override {
        EnableLog(false);
        ClearAccount();
        standin::Reset();
    }
};

TEST_F(ActivationTest, SaveAccountStoresEachValueUnderItsOwnName) {
    WriteReg(kSidValue, L"old-sid");
    SaveAccount(LR"({"token":"tk","uin":"42","user":"someone","nickname":"Nick"})");
    EXPECT_EQ(Stored(kTokenValue), L"tk");
    EXPECT_EQ(Stored(kUinValue), L"42");
    EXPECT_EQ(Stored(kUserValue), L"someone");
    EXPECT_EQ(Stored(kNicknameValue), L"Nick");
    EXPECT_EQ(Stored(kSidValue), L"old-sid");
}

TEST_F(ActivationTest, InactivateFollowsTheAnswer) {
    struct Case {
        const char* answer;  // null: the connection closes without one
        bool inactive;       // the button must show the inactive look
        bool sidKept, accountKept;
    };
    for (const Case& c : {Case{R"({"message":"OK"})", true, false, true},
                          Case{R"({"message":"invalid","ret":"201"})", true, false, false},
                          Case{R"({"message":"busy","ret":"5"})", false, true, true},
                          Case{nullptr, false, true, true}}) {
        SCOPED_TRACE(c.answer ? c.answer : "no answer");
        WriteReg(kTokenValue, L"v");
        WriteReg(kSidValue, L"v");
        standin::Script(c.answer ? Answer(c.answer) : R"([{"match":"shakeactive","close":true}])");
        SetActive(true);
        EXPECT_EQ(Inactivate(), c.inactive);
        EXPECT_EQ(ReadActive(), !c.inactive);
        EXPECT_EQ(Stored(kSidValue) == L"v", c.sidKept);
        EXPECT_EQ(Stored(kTokenValue) == L"v", c.accountKept);
    }
    EXPECT_EQ(standin::RequestsTo("action=inactive").at(0).RequestLine(),
              "GET /cgi-bin/pqsupport-bin/shakeactive?action=inactive&f=json&browser=3&uin=v"
              "&sid=v HTTP/1.0");
}

TEST_F(ActivationTest, InactiveBrowserIsNotInactivatedAgain) {
    DeleteLogFile();
    EXPECT_FALSE(Inactivate());
    EXPECT_EQ(standin::RequestCount(), 0u);
    EXPECT_FALSE(LogFileExists());
}

TEST_F(ActivationTest, UnbindFollowsTheAnswer) {
    struct Case {
        const char* answer;
        bool unbound, activeAfter, toldFront;
        const char* errorLine;
    };
    for (const Case& c :
         {Case{R"({"message":"OK"})", true, false, true, nullptr},
          Case{R"({"message":"invalid","ret":"201"})", true, true, false,
               "[Error]Unbind Fail From Response, Because Unbind Before\r\n"},
          Case{R"({"message":"busy"})", false, true, false,
               "[Error]Unbind Fail From Response Other Case\r\n"},
          Case{nullptr, false, true, false, "[Error]Unbind Fail No Response\r\n"}}) {
        SCOPED_TRACE(c.answer ? c.answer : "no answer");
        for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue}) {
            WriteReg(name, L"v");
        }
        DeleteLogFile();
        standin::Script(c.answer ? Answer(c.answer) : R"([{"match":"shakeactive","close":true}])");
        SetActive(true);
        FrontTabRecord front;
        EXPECT_EQ(unbind(front), c.unbound);
        EXPECT_EQ(AccountIsGone(), c.unbound);
        EXPECT_EQ(ReadActive(), c.activeAfter);
        EXPECT_EQ(front.shownInactive, c.toldFront ? 1 : 0);
        if (c.errorLine) {
            EXPECT_TRUE(LogHas(c.errorLine)) << ReadLogFile();
        }
    }
    EXPECT_EQ(standin::RequestsTo("action=unbind").at(0).RequestLine(),
              "GET /cgi-bin/pqsupport-bin/shakeactive?action=unbind&f=json&browser=3&token=v"
              "&uin=v&sid=v HTTP/1.0");
}

}  // namespace
}  // namespace kvshake::testing

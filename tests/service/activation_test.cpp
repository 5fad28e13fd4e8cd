// Binding, inactivation and unbinding against the service stand-in, and the request paths.
#include "service/activation.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "service/active_state.h"
#include "service/protocol.h"
#include "support/log_file.h"
#include "support/standin_client.h"
#include "support/stored_value.h"

namespace kvshake::testing {
namespace {

// Counts how often the service layer asks the tab in front for the inactive look.
struct FrontTabRecord final : FrontTab {
    void Upload() noexcept override {}
    void ShowActivation(bool active) noexcept override { shownInactive += active ? 0 : 1; }
    int shownInactive = 0;
};

class ActivationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(standin::Reset());
        SharedState() = SharedBlock{};
        ClearAccount();
        DeleteLogFile();
        EnableLog(true);
    }
    void TearDown() override {
        EnableLog(false);
        ClearAccount();
        standin::Reset();
    }
};

// A web gateway's page in place of the service's answer: status 200, HTML, a year in it.
constexpr char kBlockPage[] =
    "<html><body><p>Blocked by policy.</p><p>\xc2\xa9 2019 \"201\"</p></body></html>";

// OK and 201 both count as done; 201 deletes the account and ends the activation. Only unbinding
// tells the tab in front; a page that is not the service's answer changes nothing.
TEST_F(ActivationTest, InactivateAndUnbindFollowTheAnswer) {
    // An inactive browser is not inactivated again: no request, nothing logged.
    EXPECT_FALSE(Inactivate());
    EXPECT_EQ(standin::RequestCount(), 0u);
    EXPECT_FALSE(LogFileExists());

    const auto inactivate = [](FrontTab&) { return Inactivate(); };
    struct Case {
        bool (*call)(FrontTab&);
        const char* answer;  // null: the connection closes without one
        bool done, activeAfter, sidKept, accountKept, toldFront;
    };
    for (const Case& c : {
             Case{inactivate, R"({"message":"OK"})", true, false, false, true, false},
             Case{inactivate, R"({"message":"invalid","ret":"201"})", true, false, false, false,
                  false},
             Case{inactivate, R"({"message":"busy","ret":"5"})", false, true, true, true, false},
             Case{unbind, R"({"message":"OK"})", true, false, false, false, true},
             Case{inactivate, kBlockPage, false, true, true, true, false},
             Case{unbind, R"({"message":"invalid","ret":"201"})", true, false, false, false, true},
             Case{unbind, nullptr, false, true, true, true, false},
             Case{unbind, kBlockPage, false, true, true, true, false},
         }) {
        SCOPED_TRACE(std::string(c.call == unbind ? "unbind " : "inactivate ") +
                     (c.answer ? c.answer : "no answer"));
        for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue})
            WriteReg(name, L"v");
        standin::Script(c.answer ? "[" + standin::Answer("shakeactive", c.answer) + "]"
                                 : R"([{"match":"shakeactive","close":true}])");
        SetActive(true);
        FrontTabRecord front;
        EXPECT_EQ(c.call(front), c.done);
        EXPECT_EQ(ReadActive(), c.activeAfter);
        EXPECT_EQ(Stored(kSidValue) == L"v", c.sidKept);
        EXPECT_EQ(Stored(kUinValue) == L"v", c.accountKept);
        EXPECT_EQ(front.shownInactive, c.toldFront ? 1 : 0);
    }
    EXPECT_EQ(standin::RequestsTo("action=inactive").size(), 4u);
    EXPECT_EQ(standin::RequestsTo("action=unbind").size(), 4u);
}

// A login stores each account value under its own name and keeps the session; the paths carry
// the values encoded, so that none adds a parameter.
TEST_F(ActivationTest, RequestPathsCarryTheStoredAccountEncoded) {
    ASSERT_TRUE(WriteReg(kSidValue, L"a&b c%"));
    SaveAccount(LR"({"token":"t1","uin":"10001","user":"someone","nickname":"Nick"})");
    EXPECT_EQ(Stored(kUserValue), L"someone");
    for (const std::wstring& path : {CheckPath(), InactivatePath(), UnbindPath()}) {
        EXPECT_NE(path.find(L"uin=10001&sid=a%26b%20c%25"), std::wstring::npos) << path;
    }
    EXPECT_NE(ActivatePath().find(L"token=t1&uin=10001"), std::wstring::npos);
    // A value too long for the store to read back counts as empty; the others still come.
    ASSERT_TRUE(WriteReg(kUinValue, std::wstring(130, L'9')));
    EXPECT_NE(UploadPath().find(L"uin=&sid=a%26b%20c%25"), std::wstring::npos);
}

}  // namespace
}  // namespace kvshake::testing

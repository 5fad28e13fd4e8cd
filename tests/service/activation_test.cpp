// Binding, inactivation and unbinding with the service, on the module's code linked in, against
// the service stand-in; and the request paths, made from the stored account.
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

bool AccountIsGone() {
    std::wstring value;
    for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue, kNicknameValue}) {
        if (ReadReg(name, value)) return false;
    }
    return true;
}

// Counts how often the service layer asks the tab in front for the inactive look.
struct FrontTabRecord final : FrontTab {
    void Upload() noexcept override {}
    void ShowActivation(bool active) noexcept override { shownInactive += active ? 0 : 1; }
    int shownInactive = 0;
};

// One answer to the next request, or a connection closed without one.
void ScriptAnswer(const char* body) {
    standin::Script(body ? R"([{"match":"shakeactive","body":)" + JsonString(body) + "}]"
                         : R"([{"match":"shakeactive","close":true}])");
}

class ActivationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(standin::Reset());
        shake_da = SharedBlock{};
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

// OK and 201 both count as done; 201 deletes the account. Only unbinding tells the tab in front.
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
             Case{inactivate, nullptr, false, true, true, true, false},
             Case{unbind, R"({"message":"OK"})", true, false, false, false, true},
             Case{unbind, R"({"message":"invalid","ret":"201"})", true, true, false, false, false},
             Case{unbind, R"({"message":"busy"})", false, true, true, true, false},
             Case{unbind, nullptr, false, true, true, true, false},
         }) {
        SCOPED_TRACE(std::string(c.call == unbind ? "unbind " : "inactivate ") +
                     (c.answer ? c.answer : "no answer"));
        for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue}) {
            WriteReg(name, L"v");
        }
        ScriptAnswer(c.answer);
        SetActive(true);
        FrontTabRecord front;
        EXPECT_EQ(c.call(front), c.done);
        EXPECT_EQ(ReadActive(), c.activeAfter);
        EXPECT_EQ(Stored(kSidValue) == L"v", c.sidKept);
        EXPECT_EQ(AccountIsGone(), !c.accountKept);
        EXPECT_EQ(front.shownInactive, c.toldFront ? 1 : 0);
    }
    EXPECT_EQ(standin::RequestsTo("action=inactive").size(), 4u);
    EXPECT_EQ(standin::RequestsTo("action=unbind").size(), 4u);
}

// A login stores each value of the account under its own name and keeps the session. Stored
// values go in without encoding of any kind. (Missing ones go in empty: the upload's case shows it
// on the wire.)
TEST_F(ActivationTest, RequestPathsCarryTheStoredAccountAsItIs) {
    ASSERT_TRUE(WriteReg(kSidValue, L"a&b c%"));
    SaveAccount(LR"({"token":"t1","uin":"10001","user":"someone","nickname":"Nick"})");
    EXPECT_EQ(Stored(kUserValue), L"someone");
    const std::wstring bin = L"/cgi-bin/pqsupport-bin/shake", sid = L"&sid=a&b c%";
    EXPECT_EQ(CheckPath(), bin + L"check?f=json&browser=3&deviceid=321456&uin=10001" + sid);
    EXPECT_EQ(ActivatePath(), bin + L"active?action=active&browser=3&f=json&token=t1&uin=10001");
    EXPECT_EQ(InactivatePath(), bin + L"active?action=inactive&f=json&browser=3&uin=10001" + sid);
    EXPECT_EQ(UnbindPath(),
              bin + L"active?action=unbind&f=json&browser=3&token=t1&uin=10001" + sid);
    // A value too long for the store to read back counts as empty; the others still come.
    ASSERT_TRUE(WriteReg(kUinValue, std::wstring(130, L'9')));
    EXPECT_EQ(UploadPath(), bin + L"upload?f=json&browser=3&uin=" + sid);
}

}  // namespace
}  // namespace kvshake::testing

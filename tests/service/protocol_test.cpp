#include "service/protocol.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/settings_store.h"
#include "service/http_transport.h"
#include "service/service_config.h"
#include "support/standin_client.h"

namespace kvshake::testing {
namespace {

constexpr wchar_t kBin[] = L"/cgi-bin/pqsupport-bin/";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(CheckOutcomeTest, RetMustBeExactlyZeroAndShakeStatusExactlyOne) {
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\",\"shake_status\":\"1\"}"), CheckOutcome::Shake);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\",\"shake_status\":\"0\"}"), CheckOutcome::Nothing);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\",\"shake_status\":\"1 \"}"), CheckOutcome::Nothing);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\"}"), CheckOutcome::Nothing);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"-1\"}"), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"00\",\"shake_status\":\"1\"}"), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(std::nullopt), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(L""), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(L"{'ret':'0','shake_status':'1'}"), CheckOutcome::Shake);
    // An unquoted ret reads as the next quoted text, the name "shake_status".
    EXPECT_EQ(GetKeyValue(L"{\"ret\":0,\"shake_status\":\"1\"}", L"ret"), L"shake_status");
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":0,\"shake_status\":\"1\"}"), CheckOutcome::Failed);
}

TEST(GetKeyValueTest, ReadsTheQuotedTextAfterTheKeyAsATextScan) {
    const std::wstring answer = L"{\"message\":\"OK\",\"sid\":\"a1b2\"}";
    EXPECT_EQ(GetKeyValue(answer, L"message"), L"OK");
    EXPECT_EQ(GetKeyValue(answer, L"sid"), L"a1b2");
    // "token" is not found in "ttoken": the scan reads from the start, between the first two
    // quotes.
    EXPECT_EQ(GetKeyValue(L"{'ttoken':'a'}", L"token"), L":");
    // After a mismatch the scan does not back up, so "aab" is missed inside "aaab".
    EXPECT_EQ(GetKeyValue(L"{\"aaab\":\"v\"}", L"aab"), L":");
    EXPECT_EQ(GetKeyValue(L"{\"missing\":\"v\"}", L""), L":");
    // A key matches inside a longer name.
    EXPECT_EQ(GetKeyValue(L"{\"xsid\":\"v\"}", L"sid"), L"v");
    EXPECT_EQ(GetKeyValue(L"{\"sid\":\"a1b2", L"sid"), L"");
    EXPECT_EQ(GetKeyValue(L"{\"sid\":a1b2}", L"sid"), L"");
    EXPECT_EQ(GetKeyValue(L"", L"sid"), L"");
    EXPECT_EQ(GetKeyValue(L"{\"sid\":\"\"}", L"sid"), L"");
}

TEST(GetKeyValueTest, LongValueIsCutTo1023Characters) {
    std::wstring value;
    for (int i = 0; i < 5000; ++i) value += static_cast<wchar_t>(L'a' + i % 26);
    const std::wstring result = GetKeyValue(L"{\"nickname\":\"" + value + L"\"}", L"nickname");
    EXPECT_EQ(result.size(), kMaxKeyValueLength);
    EXPECT_EQ(result, value.substr(0, 1023));
    const std::wstring exact(1023, L'z');
    EXPECT_EQ(GetKeyValue(L"{\"k\":\"" + exact + L"\"}", L"k"), exact);
}

TEST(IsDoubleQuotedTest, FirstQuoteWithinTwoCharactersOfAColonDecides) {
    EXPECT_TRUE(IsDoubleQuoted(L"no colon 'here'"));
    EXPECT_TRUE(IsDoubleQuoted(L""));
    EXPECT_FALSE(IsDoubleQuoted(L"{\"ret\":0,\"x\":'y'}"));
    EXPECT_TRUE(IsDoubleQuoted(L"{'ret':0,'x':\"y\"}"));
    EXPECT_FALSE(IsDoubleQuoted(L"{\"a\": 'b'}"));
    EXPECT_TRUE(IsDoubleQuoted(L"{'a': \"b\"}"));
    EXPECT_FALSE(IsDoubleQuoted(L"{\"a\":'\"'}"));  // the first character wins over the second
    // Colons at the very end read NUL after them and decide nothing.
    EXPECT_TRUE(IsDoubleQuoted(L"{'a':"));
    EXPECT_TRUE(IsDoubleQuoted(L"{'a':1"));
    EXPECT_FALSE(IsDoubleQuoted(L"{'a':1:'"));
    // With no colon the value is read between double quotes.
    EXPECT_EQ(GetKeyValue(L"x 'a' \"b\"", L"x"), L"b");
    EXPECT_EQ(GetKeyValue(L"{\"ret\":0,\"x\":'y'}", L"x"), L"y");
}

TEST(ContainsCode201Test, FindsTheDigitsAnywhere) {
    EXPECT_TRUE(ContainsCode201(L"{\"ret\":\"201\"}"));
    EXPECT_TRUE(ContainsCode201(L"{\"ret\":\"-201\"}"));
    EXPECT_TRUE(ContainsCode201(L"{\"ret\":\"2010\"}"));
    EXPECT_TRUE(ContainsCode201(L"201"));
    EXPECT_FALSE(ContainsCode201(L"{\"ret\":\"20 1\"}"));
    EXPECT_FALSE(ContainsCode201(L"{\"ret\":\"210\"}"));
    EXPECT_FALSE(ContainsCode201(L""));
}

// The account values are deleted before and after each case; the log stays off.
class ProtocolPathTest : public ::testing::Test {
  protected:
    void SetUp() override { ClearAccount(); }
    void TearDown() override { ClearAccount(); }

    static void StoreAccount() {
        ASSERT_TRUE(WriteReg(kUinValue, L"10001"));
        ASSERT_TRUE(WriteReg(kSidValue, L"s1"));
        ASSERT_TRUE(WriteReg(kTokenValue, L"t1"));
    }
};

TEST_F(ProtocolPathTest, PathsCarryTheStoredValuesAsTheyAre) {
    StoreAccount();
    const std::wstring bin = kBin;
    EXPECT_EQ(CheckPath(), bin + L"shakecheck?f=json&browser=3&deviceid=321456&uin=10001&sid=s1");
    EXPECT_EQ(ActivatePath(),
              bin + L"shakeactive?action=active&browser=3&f=json&token=t1&uin=10001");
    EXPECT_EQ(InactivatePath(),
              bin + L"shakeactive?action=inactive&f=json&browser=3&uin=10001&sid=s1");
    EXPECT_EQ(UnbindPath(),
              bin + L"shakeactive?action=unbind&f=json&browser=3&token=t1&uin=10001&sid=s1");
    EXPECT_EQ(UploadPath(), bin + L"shakeupload?f=json&browser=3&uin=10001&sid=s1");
    // No encoding of any kind.
    ASSERT_TRUE(WriteReg(kSidValue, L"a&b c%"));
    EXPECT_EQ(UploadPath(), bin + L"shakeupload?f=json&browser=3&uin=10001&sid=a&b c%");
}

TEST_F(ProtocolPathTest, MissingOrUnreadableValuesAreAppendedEmpty) {
    const std::wstring bin = kBin;
    EXPECT_EQ(CheckPath(), bin + L"shakecheck?f=json&browser=3&deviceid=321456&uin=&sid=");
    EXPECT_EQ(ActivatePath(), bin + L"shakeactive?action=active&browser=3&f=json&token=&uin=");
    EXPECT_EQ(InactivatePath(), bin + L"shakeactive?action=inactive&f=json&browser=3&uin=&sid=");
    EXPECT_EQ(UnbindPath(), bin + L"shakeactive?action=unbind&f=json&browser=3&token=&uin=&sid=");
    EXPECT_EQ(UploadPath(), bin + L"shakeupload?f=json&browser=3&uin=&sid=");
    // A value too long for the store to read back counts as empty; the others still come.
    ASSERT_TRUE(WriteReg(kUinValue, std::wstring(130, L'9')));
    ASSERT_TRUE(WriteReg(kSidValue, L"s1"));
    EXPECT_EQ(UploadPath(), bin + L"shakeupload?f=json&browser=3&uin=&sid=s1");
}

// The request paths against the service stand-in, whose answers can target a path.
class ProtocolExchangeTest : public ProtocolPathTest {
  protected:
    void SetUp() override {
        ProtocolPathTest::SetUp();
        ASSERT_TRUE(standin::Reset()) << "the service stand-in is not up";
        StoreAccount();
    }

    static std::optional<std::wstring> Get(const std::wstring& path) {
        return GetData(kServiceHost, path.c_str());
    }
};

TEST_F(ProtocolExchangeTest, QueuedAnswersGoToTheFirstRequestTheyMatch) {
    ASSERT_TRUE(standin::Script(R"([{"match":"shakeupload","body":"upload"},
        {"match":"shakecheck?","body":"{\"ret\":\"0\",\"shake_status\":\"1\"}"},
        {"body":"any"}, {"match":"shakecheck","body":"{\"ret\":\"0\",\"shake_status\":\"0\"}"}])"));
    EXPECT_EQ(CheckOutcomeOf(Get(CheckPath())), CheckOutcome::Shake);
    EXPECT_EQ(Get(ActivatePath()), L"any");
    EXPECT_EQ(CheckOutcomeOf(Get(CheckPath())), CheckOutcome::Nothing);
    EXPECT_EQ(Get(UploadPath()), L"upload");
    EXPECT_EQ(Get(UploadPath()), L"");  // the queue is empty again
    const auto requests = standin::Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].RequestLine(), "GET " + Narrow(CheckPath()) + " HTTP/1.0");
    EXPECT_EQ(requests[1].RequestLine(), "GET " + Narrow(ActivatePath()) + " HTTP/1.0");
    EXPECT_EQ(requests[3].RequestLine(), "GET " + Narrow(UploadPath()) + " HTTP/1.0");
}

TEST_F(ProtocolExchangeTest, DefaultsGoByMatchAndResetForgetsThem) {
    ASSERT_TRUE(standin::SetDefault(R"({"match":"shakeactive","body":"active"})"));
    ASSERT_TRUE(standin::SetDefault(R"({"body":"fallback"})"));
    ASSERT_TRUE(standin::SetDefault(R"({"match":"action=unbind","body":"unbind"})"));
    EXPECT_EQ(Get(UnbindPath()), L"unbind");
    EXPECT_EQ(Get(InactivatePath()), L"active");
    EXPECT_EQ(Get(CheckPath()), L"fallback");
    ASSERT_TRUE(standin::SetDefault(R"({"match":"shakeactive","body":"latest"})"));
    EXPECT_EQ(Get(UnbindPath()), L"latest");  // the most recently set matching default
    // A queued answer that matches nothing stays queued and leaves the defaults in charge.
    ASSERT_TRUE(standin::Script(R"([{"match":"no-such-path","body":"never"}])"));
    EXPECT_EQ(Get(CheckPath()), L"fallback");
    EXPECT_FALSE(standin::SetDefault(R"({"match":5,"body":"x"})"));
    ASSERT_TRUE(standin::Reset());
    EXPECT_EQ(Get(UnbindPath()), L"");
    EXPECT_EQ(Get(CheckPath()), L"");
}

}  // namespace
}  // namespace kvshake::testing

#include "service/protocol.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/settings_store.h"

namespace kvshake::testing {
namespace {

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
    EXPECT_EQ(GetKeyValue(L"{\"nickname\":\"" + value + L"\"}", L"nickname"),
              value.substr(0, 1023));
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
};

TEST_F(ProtocolPathTest, StoredValuesGoInAsTheyAreAndMissingOrUnreadableOnesAsEmpty) {
    const std::wstring bin = L"/cgi-bin/pqsupport-bin/shake";
    EXPECT_EQ(CheckPath(), bin + L"check?f=json&browser=3&deviceid=321456&uin=&sid=");
    EXPECT_EQ(ActivatePath(), bin + L"active?action=active&browser=3&f=json&token=&uin=");
    EXPECT_EQ(InactivatePath(), bin + L"active?action=inactive&f=json&browser=3&uin=&sid=");
    EXPECT_EQ(UnbindPath(), bin + L"active?action=unbind&f=json&browser=3&token=&uin=&sid=");
    EXPECT_EQ(UploadPath(), bin + L"upload?f=json&browser=3&uin=&sid=");

    ASSERT_TRUE(WriteReg(kUinValue, L"10001"));
    ASSERT_TRUE(WriteReg(kSidValue, L"a&b c%"));  // no encoding of any kind
    ASSERT_TRUE(WriteReg(kTokenValue, L"t1"));
    const std::wstring sid = L"&sid=a&b c%";
    EXPECT_EQ(CheckPath(), bin + L"check?f=json&browser=3&deviceid=321456&uin=10001" + sid);
    EXPECT_EQ(ActivatePath(), bin + L"active?action=active&browser=3&f=json&token=t1&uin=10001");
    EXPECT_EQ(InactivatePath(), bin + L"active?action=inactive&f=json&browser=3&uin=10001" + sid);
    EXPECT_EQ(UnbindPath(),
              bin + L"active?action=unbind&f=json&browser=3&token=t1&uin=10001" + sid);
    EXPECT_EQ(UploadPath(), bin + L"upload?f=json&browser=3&uin=10001" + sid);
    // A value too long for the store to read back counts as empty; the others still come.
    ASSERT_TRUE(WriteReg(kUinValue, std::wstring(130, L'9')));
    EXPECT_EQ(UploadPath(), bin + L"upload?f=json&browser=3&uin=" + sid);
}

}  // namespace
}  // namespace kvshake::testing

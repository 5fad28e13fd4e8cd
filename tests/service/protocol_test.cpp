#include "service/protocol.h"

#include <gtest/gtest.h>

#include <string>

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

// A text scan: the quoted text after the key, cut to 1023 characters.
TEST(GetKeyValueTest, ReadsTheQuotedTextAfterTheKey) {
    EXPECT_EQ(GetKeyValue(L"{\"message\":\"OK\",\"sid\":\"a1b2\"}", L"sid"), L"a1b2");
    // "token" is not found in "ttoken": the scan reads from the start, between the first two
    // quotes. After a mismatch it does not back up, so "aab" is missed inside "aaab".
    EXPECT_EQ(GetKeyValue(L"{'ttoken':'a'}", L"token"), L":");
    EXPECT_EQ(GetKeyValue(L"{\"aaab\":\"v\"}", L"aab"), L":");
    EXPECT_EQ(GetKeyValue(L"{\"xsid\":\"v\"}", L"sid"), L"v");  // inside a longer name
    for (const wchar_t* answer : {L"{\"sid\":\"a1b2", L"{\"sid\":a1b2}", L"", L"{\"sid\":\"\"}"}) {
        EXPECT_EQ(GetKeyValue(answer, L"sid"), L"") << answer;
    }
    std::wstring value;
    for (int i = 0; i < 5000; ++i) value += static_cast<wchar_t>(L'a' + i % 26);
    EXPECT_EQ(GetKeyValue(L"{\"nickname\":\"" + value + L"\"}", L"nickname"),
              value.substr(0, 1023));
}

// Colons at the very end read NUL after them and decide nothing; with no colon at all the value is
// read between double quotes.
TEST(IsDoubleQuotedTest, FirstQuoteWithinTwoCharactersOfAColonDecides) {
    for (const wchar_t* text :
         {L"no colon 'here'", L"", L"{'ret':0,'x':\"y\"}", L"{'a': \"b\"}", L"{'a':", L"{'a':1"}) {
        EXPECT_TRUE(IsDoubleQuoted(text)) << text;
    }
    for (const wchar_t* text :
         {L"{\"ret\":0,\"x\":'y'}", L"{\"a\": 'b'}", L"{\"a\":'\"'}", L"{'a':1:'"}) {
        EXPECT_FALSE(IsDoubleQuoted(text)) << text;
    }
    EXPECT_EQ(GetKeyValue(L"x 'a' \"b\"", L"x"), L"b");
    EXPECT_EQ(GetKeyValue(L"{\"ret\":0,\"x\":'y'}", L"x"), L"y");
}

TEST(ContainsCode201Test, FindsTheDigitsAnywhere) {
    for (const wchar_t* answer : {L"{\"ret\":\"-201\"}", L"{\"ret\":\"2010\"}", L"201"}) {
        EXPECT_TRUE(ContainsCode201(answer)) << answer;
    }
    for (const wchar_t* answer : {L"{\"ret\":\"20 1\"}", L"{\"ret\":\"210\"}", L""}) {
        EXPECT_FALSE(ContainsCode201(answer)) << answer;
    }
}

}  // namespace
}  // namespace kvshake::testing

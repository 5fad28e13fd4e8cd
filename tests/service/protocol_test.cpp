#include "service/protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace kvshake::testing {
namespace {

TEST(CheckOutcomeTest, RetMustBeExactlyZeroAndShakeStatusExactlyOne) {
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\",\"shake_status\":\"1\"}"), CheckOutcome::Shake);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\",\"shake_status\":\"1 \"}"), CheckOutcome::Nothing);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\"}"), CheckOutcome::Nothing);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"-1\"}"), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"00\",\"shake_status\":\"1\"}"), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(std::nullopt), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(L"{'ret':'0','shake_status':'1'}"), CheckOutcome::Shake);
    // An unquoted ret reads as the next quoted text, the name "shake_status".
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":0,\"shake_status\":\"1\"}"), CheckOutcome::Failed);
}

// A text scan: the quoted text after the key, cut to 1023 characters.
TEST(GetKeyValueTest, ReadsTheQuotedTextAfterTheKey) {
    EXPECT_EQ(GetKeyValue(L"{\"message\":\"OK\",\"sid\":\"a1b2\"}", L"sid"), L"a1b2");
    EXPECT_EQ(GetKeyValue(L"{\"xsid\":\"v\"}", L"sid"), L"v");  // inside a longer name
    for (const wchar_t* answer : {L"{\"sid\":\"a1b2", L"{\"sid\":a1b2}", L"", L"{\"sid\":\"\"}"}) {
        EXPECT_EQ(GetKeyValue(answer, L"sid"), L"") << answer;
    }
    // The first quote within two characters of the first colon tells which quotes are read.
    EXPECT_EQ(GetKeyValue(L"x 'a' \"b\"", L"x"), L"b");
    EXPECT_EQ(GetKeyValue(L"{\"ret\":0,\"x\":'y'}", L"x"), L"y");
    const std::wstring value(5000, L'a');
    EXPECT_EQ(GetKeyValue(L"{\"nickname\":\"" + value + L"\"}", L"nickname"),
              value.substr(0, 1023));
}

TEST(ContainsCode201Test, FindsTheDigitsAnywhere) {
    EXPECT_TRUE(ContainsCode201(L"{\"ret\":\"-2010\"}"));
    EXPECT_FALSE(ContainsCode201(L"{\"ret\":\"20 1\"}"));
}

}  // namespace
}  // namespace kvshake::testing

#include "service/protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace kvshake::testing {
namespace {

// An answer carries "ret" as a key; anything else (no body, a block page) is no answer at all.
TEST(CheckOutcomeTest, RetMustBeExactlyZeroAndShakeStatusExactlyOne) {
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\",\"shake_status\":\"1\"}"), CheckOutcome::Shake);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":0,\"shake_status\":1}"), CheckOutcome::Shake);
    EXPECT_EQ(CheckOutcomeOf(L"{ 'ret' : '0', 'shake_status' : '1' }"), CheckOutcome::Shake);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\",\"shake_status\":\"1 \"}"), CheckOutcome::Nothing);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"0\"}"), CheckOutcome::Nothing);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"-1\"}"), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":-1,\"shake_status\":1}"), CheckOutcome::Failed);
    EXPECT_EQ(CheckOutcomeOf(L"{\"ret\":\"00\",\"shake_status\":\"1\"}"), CheckOutcome::Failed);
    for (const wchar_t* page :
         {L"", L"<html><body>ret 0 shake_status 1</body></html>", L"{\"xret\":\"0\"}",
          L"{\"note\":\"ret\",\"x\":\"0\"}", L"{\"ret\":\"0", L"{\"msg\":\"'ret':'0'\"}"}) {
        EXPECT_EQ(CheckOutcomeOf(std::wstring(page)), CheckOutcome::NoAnswer) << page;
    }
    EXPECT_EQ(CheckOutcomeOf(std::nullopt), CheckOutcome::NoAnswer);
}

// Only whole keys count; the value is quoted (either quote) or bare, cut to 1023 characters.
TEST(GetKeyValueTest, ReadsTheValueOfTheWholeKey) {
    EXPECT_EQ(GetKeyValue(L"{\"message\":\"OK\",\"sid\":\"a1b2\"}", L"sid"), L"a1b2");
    EXPECT_EQ(GetKeyValue(L"{\"xsid\":\"v\",\"sidx\":\"w\",\"sid\" : \"s\"}", L"sid"), L"s");
    EXPECT_EQ(GetKeyValue(L"{\"a\":\"sid\",\"b\":\"\\\"sid\\\":1\",\"sid\":true}", L"sid"),
              L"true");
    EXPECT_EQ(GetKeyValue(L"{'a':'x','sid':'y'}", L"sid"), L"y");
    EXPECT_EQ(GetKeyValue(L"{\"o\":{\"sid\":-12.5e3},\"p\":[1,2]}", L"sid"), L"-12.5e3");
    EXPECT_EQ(FindKeyValue(L"{\"sid\":\"\"}", L"sid"), std::wstring());
    for (const wchar_t* answer : {L"{\"sid\":\"a1b2", L"", L"{\"ssid\":\"a\"}", L"sid: a"}) {
        EXPECT_FALSE(FindKeyValue(answer, L"sid")) << answer;
        EXPECT_EQ(GetKeyValue(answer, L"sid"), L"") << answer;
    }
    const std::wstring value(5000, L'a');
    EXPECT_EQ(GetKeyValue(L"{\"nickname\":\"" + value + L"\"}", L"nickname"),
              value.substr(0, 1023));
}

// The code is a whole value, never digits inside a number or a text, such as a page's year.
TEST(HasCode201Test, OnlyTheWholeValueCounts) {
    for (const wchar_t* answer : {L"{\"message\":\"invalid\",\"ret\":\"201\"}", L"{\"ret\":201}",
                                  L"{\"message\":\"x\",\"ret\":-201}", L"{'ret':'-201'}"}) {
        EXPECT_TRUE(HasCode201(answer)) << answer;
    }
    for (const wchar_t* answer :
         {L"{\"ret\":\"-2010\"}", L"{\"ret\":2011}", L"{\"message\":\"code 201\"}",
          L"{\"201\":\"x\"}", L"<html><p>\u00a9 2019, \"201\"</p></html>"}) {
        EXPECT_FALSE(HasCode201(answer)) << answer;
    }
}

}  // namespace
}  // namespace kvshake::testing

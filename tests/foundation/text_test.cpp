#include "foundation/text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace kvshake::testing {
namespace {

// Every high byte and NUL too, in upper-case hex: no locale makes them letters or space.
TEST(UrlEncodeTest, KeepsOnlyLettersAndDigitsAndTurnsWhiteSpaceIntoPlus) {
    EXPECT_EQ(UrlEncode("AZaz09"), "AZaz09");
    EXPECT_EQ(UrlEncode("a b\tc\nd\re\vf\fg"), "a+b+c+d+e+f+g");
    EXPECT_EQ(UrlEncode("-_.~=&?/%+"), "%2D%5F%2E%7E%3D%26%3F%2F%25%2B");
    EXPECT_EQ(UrlEncode(std::string("a\0b\xFF\x80\xA0", 6)), "a%00b%FF%80%A0");
}

// What a form or query gives a meaning to, controls and non-ASCII characters are encoded; all else
// of an address goes as it is.
TEST(EncodeFieldValueTest, EncodesOnlyWhatBreaksAFieldAndNonAscii) {
    const std::wstring ordinary = L"https://h.test:8/p/a-b_c.~!*'();:@$,/?[]|{}^`\\\"<>";
    EXPECT_EQ(EncodeFieldValue(ordinary), ordinary);
    EXPECT_EQ(EncodeFieldValue(L"a%20b&c=d+e#f g\t\x7f"), L"a%2520b%26c%3Dd%2Be%23f%20g%09%7F");
    EXPECT_EQ(EncodeFieldValue(L"\u4e2d\u00e9\U0001F600"), L"%E4%B8%AD%C3%A9%F0%9F%98%80");
}

// UTF-8 keeps every character; the code page keeps what it has.
TEST(CodePageTest, ConversionsGoThroughTheSystemCodePageOrStraightToUtf8) {
    ASSERT_EQ(::GetACP(), 1252u) << "run under a Western European locale";
    EXPECT_FALSE(WideToUtf8(nullptr));
    EXPECT_EQ(WideToUtf8(L"caf\u00e9 \u4e2d"), "caf\xC3\xA9 \xE4\xB8\xAD");
    EXPECT_EQ(AnsiToWide("caf\xe9"), L"caf\u00e9");
}

TEST(CodePageTest, ChineseTakesTwoBytesACharacterCp936) {
    ASSERT_EQ(::GetACP(), 936u) << "run under a Chinese locale";
    EXPECT_EQ(WideToAnsi(L"\u4e2d\u6587"), "\xD6\xD0\xCE\xC4");
}

TEST(StringPrintfTest, FormatsTextLongerThanAnyFixedBuffer) {
    const std::string long_text(5000, 'x');
    EXPECT_EQ(StringPrintf("%s:%d", long_text.c_str(), 7), long_text + ":7");
}

}  // namespace
}  // namespace kvshake::testing

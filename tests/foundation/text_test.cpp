#include "foundation/text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace kvshake::testing {
namespace {

using namespace std::string_literals;

// Every high byte and NUL too, in upper-case hex: no locale makes them letters or space.
TEST(UrlEncodeTest, KeepsOnlyLettersAndDigitsAndTurnsWhiteSpaceIntoPlus) {
    EXPECT_EQ(UrlEncode("AZaz09"), "AZaz09");
    EXPECT_EQ(UrlEncode("a b\tc\nd\re\vf\fg"), "a+b+c+d+e+f+g");
    EXPECT_EQ(UrlEncode("-_.~=&?/%+"), "%2D%5F%2E%7E%3D%26%3F%2F%25%2B");
    EXPECT_EQ(UrlEncode("a\0b\xFF\x80\xA0"s), "a%00b%FF%80%A0");
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

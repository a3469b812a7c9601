#include "common/Text1252.h"

#include <gtest/gtest.h>

using namespace common;

TEST(Text1252, TheRangeThatDiffersFromLatin1) {
    EXPECT_EQ(CodePointOf1252(0x80), U'\u20AC');
    EXPECT_EQ(CodePointOf1252(0x8A), U'\u0160');
    EXPECT_EQ(CodePointOf1252(0x93), U'\u201C');
    EXPECT_EQ(CodePointOf1252(0x9F), U'\u0178');
    EXPECT_EQ(CodePointOf1252(0x81), U'\u0081');  // unassigned: passes through
    EXPECT_EQ(CodePointOf1252(0xE3), U'\u00E3');
}

TEST(Text1252, EveryByteSurvivesTheTripThroughUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const auto back = Utf8ToCp1252(Cp1252ToUtf8(all));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, all);
}

TEST(Text1252, Utf8Decoding) {
    EXPECT_EQ(Cp1252ToUtf8("N\xE3o"), "N\xC3\xA3o");
    EXPECT_EQ(Utf8ToCp1252("N\xC3\xA3o Girou"), "N\xE3o Girou");
    EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC"), "\x80");
    EXPECT_EQ(Utf8ToCp1252("\xE4\xB8\xAD"), "?");  // no such character in the code page
    for (const char* bad :
         {"\xC3", "\xC3(", "\xE3o", "\xC0\xAF", "\xED\xA0\x80", "\xF5\x80\x80\x80", "\xE2\x82"}) {
        EXPECT_FALSE(Utf8ToCp1252(bad).has_value()) << bad;
    }
}

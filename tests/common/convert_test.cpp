#include "common/Convert.h"

#include <gtest/gtest.h>

#include "common/Exception.h"

using namespace common;

TEST(StrToInt, AcceptsDecimalWithLeadingBlanksAndSign) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {{"0", 0},
                 {"07", 7},
                 {" 9", 9},
                 {"   -12", -12},
                 {"+3", 3},
                 {"2147483647", INT32_MAX},
                 {"-2147483648", INT32_MIN},
                 {"000000000000042", 42}};
    for (const auto& c : cases) EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
}

TEST(StrToInt, RefusesAnythingElseWithTheConversionText) {
    for (const char* text : {"", " ", "-", "ab", "1 ", "1x", "0x10", "$10", "2147483648",
                             "-2147483649", "99999999999999999999", "1.5", "- 1"}) {
        EXPECT_FALSE(TryStrToInt(text).has_value()) << text;
        try {
            StrToInt(text);
            ADD_FAILURE() << "no error for '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid integer value");
        }
    }
}

TEST(IntToStrMin, PadsAfterTheSign) {
    EXPECT_EQ(IntToStrMin(0, 2), "00");
    EXPECT_EQ(IntToStrMin(7, 2), "07");
    EXPECT_EQ(IntToStrMin(300, 2), "300");
    EXPECT_EQ(IntToStrMin(-5, 2), "-05");
    EXPECT_EQ(IntToStrMin(INT64_MIN, 1), "-9223372036854775808");
    EXPECT_EQ(IntToStrMin(5, 0), "5");
}

TEST(Trim, RemovesBlanksAndControlCharactersAtBothEnds) {
    EXPECT_EQ(Trim(" \t2050\r\n"), "2050");
    EXPECT_EQ(Trim("a b"), "a b");
    EXPECT_EQ(Trim(std::string("\0x\x1f", 3)), "x");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim("\xE3 "), "\xE3");  // bytes above 127 are characters, not blanks
}

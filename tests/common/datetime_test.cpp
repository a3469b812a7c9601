#include "common/DateTime.h"

#include <gtest/gtest.h>

using namespace common;

namespace {
DateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s, ms);
}
struct FixedClock {
    explicit FixedClock(DateTime t) {
        SetClock([t] { return t; });
    }
    ~FixedClock() { SetClock(nullptr); }
};
}  // namespace

TEST(DateTime, DayCountMatchesTheClassicValues) {
    EXPECT_EQ(At(1899, 12, 30).Ms(), 0);
    EXPECT_EQ(At(1900, 1, 1).DayNumber(), 2);
    EXPECT_EQ(At(2024, 3, 15).DayNumber(), 45366);
    EXPECT_EQ(At(2024, 3, 15, 14, 30, 5, 123).MsOfDay(), 52205123);
}

TEST(DateTime, DecodeIsTheInverseOfFromParts) {
    for (int y : {1900, 1999, 2000, 2024, 2100, 2400}) {
        for (int m = 1; m <= 12; ++m) {
            for (int d : {1, 28, DaysInMonth(y, m)}) {
                const auto p = At(y, m, d, 23, 59, 58, 999).Decode();
                EXPECT_EQ(p.year, y);
                EXPECT_EQ(p.month, m);
                EXPECT_EQ(p.day, d);
                EXPECT_EQ(p.hour * 3600 + p.minute * 60 + p.second, 86398);
                EXPECT_EQ(p.ms, 999);
            }
        }
    }
}

TEST(DateTime, RefusesImpossibleParts) {
    EXPECT_FALSE(DateTime::FromParts(2024, 2, 30));
    EXPECT_FALSE(DateTime::FromParts(2023, 2, 29));
    EXPECT_TRUE(DateTime::FromParts(2024, 2, 29));
    EXPECT_FALSE(DateTime::FromParts(1900, 2, 29));
    EXPECT_FALSE(DateTime::FromParts(2024, 13, 1));
    EXPECT_FALSE(DateTime::FromParts(2024, 1, 1, 24));
    EXPECT_FALSE(DateTime::FromParts(2024, 1, 1, 0, 60));
}

TEST(DateTime, DayOfWeekCountsFromSunday) {
    EXPECT_EQ(At(2024, 12, 22).DayOfWeek(), 1);  // Sunday
    EXPECT_EQ(At(2024, 12, 25).DayOfWeek(), 4);  // Wednesday
    EXPECT_EQ(At(2024, 12, 28).DayOfWeek(), 7);  // Saturday
    EXPECT_EQ(At(1899, 12, 30).DayOfWeek(), 7);
}

TEST(DateTime, FormatsThePatternsTheProgramsUse) {
    const DateTime t = At(2024, 12, 5, 9, 7, 3, 42);
    EXPECT_EQ(t.Format("dd/mm/yy"), "05/12/24");
    EXPECT_EQ(t.Format("hh:nn:ss"), "09:07:03");
    EXPECT_EQ(t.Format("zzz"), "042");
    EXPECT_EQ(t.Format("dd/mm/yyyy hh:mm:ss"), "05/12/2024 09:07:03");
    EXPECT_EQ(t.Format("yyyymmdd"), "20241205");
}

TEST(DateTime, TwoDigitYearsFallInTheWindowStartingFiftyYearsBack) {
    EXPECT_EQ(ExpandTwoDigitYear(75, 2025), 1975);
    EXPECT_EQ(ExpandTwoDigitYear(99, 2025), 1999);
    EXPECT_EQ(ExpandTwoDigitYear(0, 2025), 2000);
    EXPECT_EQ(ExpandTwoDigitYear(74, 2025), 2074);
    EXPECT_EQ(ExpandTwoDigitYear(76, 2026), 1976);
    EXPECT_EQ(ExpandTwoDigitYear(75, 2026), 2075);
}

TEST(DateTime, ParsesShortDatesAndTimes) {
    FixedClock clock(At(2025, 6, 1));
    EXPECT_EQ(ParseShortDate("25/12/24"), At(2024, 12, 25));
    EXPECT_EQ(ParseShortDate("1/2/80"), At(1980, 2, 1));
    EXPECT_EQ(ParseShortDate("01/02/2099"), At(2099, 2, 1));
    for (const char* bad :
         {"31/02/24", "//", "25/12/", "25-12-24", "25/12/24x", "a/1/24", "25/13/24"}) {
        EXPECT_FALSE(ParseShortDate(bad)) << bad;
    }
    EXPECT_EQ(ParseTime("14:31:05")->Ms(), (14 * 3600 + 31 * 60 + 5) * 1000);
    for (const char* bad : {"24:00:00", "12:60:00", "12:00:60", "::", "12:00", "1:2:3:4"}) {
        EXPECT_FALSE(ParseTime(bad)) << bad;
    }
}

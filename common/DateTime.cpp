#include "common/DateTime.h"

#include <chrono>
#include <ctime>
#include <mutex>

#include "common/Convert.h"

namespace common {
namespace {

// Days from 0001-01-01 (proleptic Gregorian) to 1899-12-30.
constexpr int64_t kEpochOffset = 693593;

int64_t DaysFromCivilStart(int year, int month, int day) {
    int64_t y = year - 1;
    int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
    return days + day - 1;
}

std::function<DateTime()>& ClockSlot() {
    static std::function<DateTime()> clock;
    return clock;
}

DateTime SystemNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&secs, &local);
    return *DateTime::FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                                static_cast<int>(ms % 1000));
}

// Reads one number: optional blanks, then 1..maxDigits digits. Returns digits read or 0.
int ScanNumber(const std::string& s, size_t& pos, int& value, int maxDigits) {
    while (pos < s.size() && s[pos] == ' ') ++pos;
    int digits = 0;
    value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (++digits > maxDigits) return 0;
        value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    return digits;
}

bool ScanChar(const std::string& s, size_t& pos, char c) {
    while (pos < s.size() && s[pos] == ' ') ++pos;
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

bool AtEnd(const std::string& s, size_t pos) {
    while (pos < s.size() && s[pos] == ' ') ++pos;
    return pos == s.size();
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<DateTime> DateTime::FromParts(int year, int month, int day, int hour, int minute,
                                            int second, int ms) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || ms < 0 || ms > 999) {
        return std::nullopt;
    }
    const int64_t days = DaysFromCivilStart(year, month, day) - kEpochOffset;
    const int64_t msOfDay = ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
    return DateTime(days * kMsPerDay + msOfDay);
}

int64_t DateTime::DayNumber() const {
    int64_t d = ms_ / kMsPerDay;
    if (ms_ % kMsPerDay < 0) --d;
    return d;
}

int64_t DateTime::MsOfDay() const { return ms_ - DayNumber() * kMsPerDay; }

DateTime::Parts DateTime::Decode() const {
    Parts p{};
    int64_t days = DayNumber() + kEpochOffset;  // days since 0001-01-01
    // 400-year cycles of 146097 days, then centuries, 4-year cycles and years.
    int64_t y400 = days / 146097;
    days %= 146097;
    int64_t y100 = days / 36524;
    if (y100 == 4) y100 = 3;
    days -= y100 * 36524;
    int64_t y4 = days / 1461;
    days %= 1461;
    int64_t y1 = days / 365;
    if (y1 == 4) y1 = 3;
    days -= y1 * 365;
    p.year = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
    p.month = 1;
    while (days >= DaysInMonth(p.year, p.month)) {
        days -= DaysInMonth(p.year, p.month);
        ++p.month;
    }
    p.day = static_cast<int>(days + 1);
    int64_t t = MsOfDay();
    p.ms = static_cast<int>(t % 1000);
    t /= 1000;
    p.second = static_cast<int>(t % 60);
    t /= 60;
    p.minute = static_cast<int>(t % 60);
    p.hour = static_cast<int>(t / 60);
    return p;
}

int DateTime::DayOfWeek() const {
    // 30/12/1899 was a Saturday.
    int64_t r = (DayNumber() + 6) % 7;
    if (r < 0) r += 7;
    return static_cast<int>(r) + 1;
}

std::string DateTime::Format(const std::string& pattern) const {
    const Parts p = Decode();
    std::string out;
    bool afterHour = false;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        switch (c) {
            case 'd':
                out += IntToStrMin(p.day, run >= 2 ? 2 : 1);
                break;
            case 'm':
                if (afterHour) {
                    out += IntToStrMin(p.minute, run >= 2 ? 2 : 1);
                } else {
                    out += IntToStrMin(p.month, run >= 2 ? 2 : 1);
                }
                break;
            case 'y':
                out += run >= 4 ? IntToStrMin(p.year, 4) : IntToStrMin(p.year % 100, 2);
                break;
            case 'h':
                out += IntToStrMin(p.hour, run >= 2 ? 2 : 1);
                break;
            case 'n':
                out += IntToStrMin(p.minute, run >= 2 ? 2 : 1);
                break;
            case 's':
                out += IntToStrMin(p.second, run >= 2 ? 2 : 1);
                break;
            case 'z':
                out += IntToStrMin(p.ms, run >= 3 ? 3 : 1);
                break;
            default:
                out.append(run, c);
                break;
        }
        if (c == 'h')
            afterHour = true;
        else if (c == 'm' || c == 'd' || c == 'y')
            afterHour = false;
        i += run;
    }
    return out;
}

DateTime Now() {
    const auto& clock = ClockSlot();
    return clock ? clock() : SystemNow();
}

void SetClock(std::function<DateTime()> clock) { ClockSlot() = std::move(clock); }

int ExpandTwoDigitYear(int twoDigitYear, int currentYear) {
    const int windowStart = currentYear - 50;
    int year = windowStart / 100 * 100 + twoDigitYear;
    if (year < windowStart) year += 100;
    return year;
}

std::optional<DateTime> ParseShortDate(const std::string& text) {
    size_t pos = 0;
    int day, month, year;
    if (!ScanNumber(text, pos, day, 2) || !ScanChar(text, pos, '/')) return std::nullopt;
    if (!ScanNumber(text, pos, month, 2) || !ScanChar(text, pos, '/')) return std::nullopt;
    const int yearDigits = ScanNumber(text, pos, year, 4);
    if (!yearDigits || !AtEnd(text, pos)) return std::nullopt;
    if (yearDigits <= 2) year = ExpandTwoDigitYear(year, Now().Decode().year);
    return DateTime::FromDate(year, month, day);
}

std::optional<DateTime> ParseTime(const std::string& text) {
    size_t pos = 0;
    int hour, minute, second;
    if (!ScanNumber(text, pos, hour, 2) || !ScanChar(text, pos, ':')) return std::nullopt;
    if (!ScanNumber(text, pos, minute, 2) || !ScanChar(text, pos, ':')) return std::nullopt;
    if (!ScanNumber(text, pos, second, 2) || !AtEnd(text, pos)) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return DateTime::FromMs(((hour * 60LL + minute) * 60 + second) * 1000);
}

}  // namespace common

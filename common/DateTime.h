// Date-time values: a day count from 30/12/1899 00:00:00.000, held in whole milliseconds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace common {

class DateTime {
  public:
    static constexpr int64_t kMsPerDay = 86'400'000;

    constexpr DateTime() = default;
    static constexpr DateTime FromMs(int64_t ms) { return DateTime(ms); }
    // Builds from parts; nothing when a part is out of range (31/02, hour 24 ...).
    static std::optional<DateTime> FromParts(int year, int month, int day, int hour = 0,
                                             int minute = 0, int second = 0, int ms = 0);
    static std::optional<DateTime> FromDate(int year, int month, int day) {
        return FromParts(year, month, day);
    }

    constexpr int64_t Ms() const { return ms_; }
    constexpr bool IsZero() const { return ms_ == 0; }
    // Days as a fraction, the classic representation of the value.
    double Days() const { return static_cast<double>(ms_) / kMsPerDay; }
    int64_t DayNumber() const;  // whole days since 30/12/1899
    int64_t MsOfDay() const;    // 0 .. 86'399'999

    struct Parts {
        int year, month, day, hour, minute, second, ms;
    };
    Parts Decode() const;
    // 1 = Sunday ... 7 = Saturday.
    int DayOfWeek() const;

    // Tokens: d dd m mm yy yyyy h hh n nn s ss z zzz; "mm" right after an hour token means
    // minutes. Any other character is copied.
    std::string Format(const std::string& pattern) const;

    friend constexpr bool operator==(DateTime a, DateTime b) { return a.ms_ == b.ms_; }
    friend constexpr auto operator<=>(DateTime a, DateTime b) { return a.ms_ <=> b.ms_; }

  private:
    constexpr explicit DateTime(int64_t ms) : ms_(ms) {}
    int64_t ms_ = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Local now with milliseconds. Tests replace the clock with SetClock; an empty function
// restores the system clock.
DateTime Now();
void SetClock(std::function<DateTime()> clock);

// Reads "d/m/y" with "/" as separator; blanks before a number are allowed. A year of one or
// two digits falls in the hundred years beginning fifty years before the current year.
std::optional<DateTime> ParseShortDate(const std::string& text);
// Reads "h:n:s" (hours 0 to 23) as a time of day.
std::optional<DateTime> ParseTime(const std::string& text);
// The two-digit-year window for a given current year.
int ExpandTwoDigitYear(int twoDigitYear, int currentYear);

}  // namespace common

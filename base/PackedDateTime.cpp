#include "base/PackedDateTime.h"

#include <cstdint>

namespace {

constexpr std::uint32_t kFirstYear = 1990;
constexpr std::uint32_t kMonthsInYear = 12;
constexpr std::uint32_t kSecondsInDay = 86400;

bool IsLeapYear(std::uint32_t year) {
    return year % 4 == 0;
}

std::uint32_t DaysInYear(std::uint32_t year) {
    return IsLeapYear(year) ? 366 : 365;
}

std::uint32_t DaysInMonth(std::uint32_t year, std::uint32_t month) {
    const auto days = static_cast<std::uint32_t>(cDaysInMonth[month]);
    return month == 2 && IsLeapYear(year) ? days + 1 : days;
}

// Multiples of 4 below year.
std::uint32_t LeapYearsBefore(std::uint32_t year) {
    return (year + 3) / 4;
}

}  // namespace

unsigned long auxDaysFromBeginning(unsigned long date) {
    const auto date32 = static_cast<std::uint32_t>(date);
    const std::uint32_t year = date32 / 10000;
    const std::uint32_t month = date32 / 100 % 100;
    const std::uint32_t day = date32 % 100;

    std::uint32_t days = 0;
    if (year > kFirstYear) {
        days = (year - kFirstYear) * 365 + LeapYearsBefore(year) - LeapYearsBefore(kFirstYear);
    }
    // Months past 12 stop at the end of the year instead of reading beyond
    // the month table.
    for (std::uint32_t m = 1; m < month && m <= kMonthsInYear; ++m) {
        days += DaysInMonth(year, m);
    }
    return days + day - 1;
}

unsigned long auxPackDTM(unsigned long date, unsigned long time) {
    const auto time32 = static_cast<std::uint32_t>(time);
    const std::uint32_t hours = time32 / 10000;
    const std::uint32_t minutes = time32 / 100 % 100;
    const std::uint32_t seconds = time32 % 100;
    const auto days = static_cast<std::uint32_t>(auxDaysFromBeginning(date));
    return days * kSecondsInDay + hours * 3600 + minutes * 60 + seconds;
}

void auxUnpackDTM(unsigned long packed, unsigned long* date, unsigned long* time) {
    const auto packed32 = static_cast<std::uint32_t>(packed);
    const std::uint32_t seconds = packed32 % 60;
    const std::uint32_t totalMinutes = packed32 / 60;
    const std::uint32_t minutes = totalMinutes % 60;
    const std::uint32_t totalHours = totalMinutes / 60;
    const std::uint32_t hours = totalHours % 24;
    std::uint32_t days = totalHours / 24;

    std::uint32_t year = kFirstYear;
    while (days >= DaysInYear(year)) {
        days -= DaysInYear(year);
        ++year;
    }
    std::uint32_t month = 1;
    while (days >= DaysInMonth(year, month)) {
        days -= DaysInMonth(year, month);
        ++month;
    }
    *date = year * 10000 + month * 100 + days + 1;
    *time = hours * 10000 + minutes * 100 + seconds;
}

long DiffInDays(unsigned long date1, unsigned long date2) {
    const auto days1 = static_cast<std::uint32_t>(auxDaysFromBeginning(date1));
    const auto days2 = static_cast<std::uint32_t>(auxDaysFromBeginning(date2));
    return static_cast<std::int32_t>(days1 - days2);
}

#pragma once

// A packed date-time: a 32-bit count of seconds since 1 January 1990,
// 00:00:00, without time zone. Every year divisible by 4 is a leap year (no
// century rule), so 0xFFFFFFFF is 6 February 2126, 06:28:15. Dates are decimal
// numbers YYYYMMDD and times of day HHMMSS, each held in 32 bits.

#include <array>

// Days of each month of a common year, by month number; index 0 is unused.
inline constexpr std::array<signed char, 13> cDaysInMonth = {0,  31, 28, 31, 30, 31, 30,
                                                             31, 31, 30, 31, 30, 31};

// The day number of a date, 1 January 1990 being day 0. Dates outside the
// model are not rejected: years before 1990 add no whole years, a month beyond
// 12 counts as the end of its year, and the count wraps modulo 2^32.
unsigned long auxDaysFromBeginning(unsigned long date);
// day number * 86400 + HH * 3600 + MM * 60 + SS, modulo 2^32.
unsigned long auxPackDTM(unsigned long date, unsigned long time);
void auxUnpackDTM(unsigned long packed, unsigned long* date, unsigned long* time);
// Day number of date1 minus that of date2.
long DiffInDays(unsigned long date1, unsigned long date2);

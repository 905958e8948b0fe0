#include "base/PackedDateTime.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

struct TDateTime {
    unsigned long date;
    unsigned long time;
};

TDateTime Unpack(unsigned long packed) {
    TDateTime dt{1, 1};
    auxUnpackDTM(packed, &dt.date, &dt.time);
    return dt;
}

TEST(PackedDateTimeTest, MonthTable) {
    EXPECT_EQ(cDaysInMonth[0], 0);
    int total = 0;
    for (int m = 1; m <= 12; ++m) {
        total += cDaysInMonth[m];
    }
    EXPECT_EQ(total, 365);
    EXPECT_EQ(cDaysInMonth[2], 28);
}

TEST(PackedDateTimeTest, KnownValues) {
    const struct {
        unsigned long date, time, packed;
    } cases[] = {
        {19900101, 0, 0},
        {19900101, 235959, 86399},
        {19900102, 0, 86400},
        {19910101, 0, 365 * 86400UL},
        {19930101, 0, (3 * 365 + 1) * 86400UL},  // 1992 is a leap year
        {20190903, 114718, 936359238},
        {21260206, 62815, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(auxPackDTM(c.date, c.time), c.packed) << c.date << " " << c.time;
        const TDateTime dt = Unpack(c.packed);
        EXPECT_EQ(dt.date, c.date) << c.packed;
        EXPECT_EQ(dt.time, c.time) << c.packed;
    }
}

TEST(PackedDateTimeTest, DayDifferences) {
    const struct {
        unsigned long date1, date2;
        long days;
    } cases[] = {
        {20000301, 20000228, 2},    {21000301, 21000228, 2},  // every fourth year is a leap year,
                                                              // 2100 too
        {20010301, 20010228, 1},    {20000228, 20000301, -2},    {19900101, 19900101, 0},
        {20000101, 19900101, 3652}, {19900101, 20000101, -3652},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DiffInDays(c.date1, c.date2), c.days) << c.date1 << " - " << c.date2;
    }
    EXPECT_EQ(auxDaysFromBeginning(19900101), 0u);
    EXPECT_EQ(auxDaysFromBeginning(19901231), 364u);
}

// Every day from 1990 to the end of the range, against the calendar of the
// standard library; 2100 gets a leap day inserted, as the packing counts it.
TEST(PackedDateTimeTest, RoundTripOverEveryDay) {
    using namespace std::chrono;
    constexpr unsigned long kLastDay = 0xFFFFFFFFUL / 86400;
    sys_days calendar = year{1990} / January / 1;
    bool leapDayOf2100Done = false;
    for (unsigned long dayNumber = 0; dayNumber <= kLastDay; ++dayNumber) {
        const year_month_day ymd{calendar};
        unsigned long date = static_cast<unsigned long>(int(ymd.year())) * 10000 +
                             unsigned(ymd.month()) * 100 + unsigned(ymd.day());
        if (date == 21000301 && !leapDayOf2100Done) {
            date = 21000229;
            leapDayOf2100Done = true;
        } else {
            calendar += days{1};
        }
        // A different time of day for every day walks through all of them;
        // the last day only reaches 06:28:15.
        unsigned long secondOfDay = dayNumber * 7919 % 86400;
        if (dayNumber == kLastDay) {
            secondOfDay = 0xFFFFFFFFUL % 86400;
        }
        const unsigned long time =
            secondOfDay / 3600 * 10000 + secondOfDay / 60 % 60 * 100 + secondOfDay % 60;
        const unsigned long packed = dayNumber * 86400 + secondOfDay;

        ASSERT_EQ(auxDaysFromBeginning(date), dayNumber) << date;
        ASSERT_EQ(auxPackDTM(date, time), packed) << date << " " << time;
        const TDateTime dt = Unpack(packed);
        ASSERT_EQ(dt.date, date) << packed;
        ASSERT_EQ(dt.time, time) << packed;
    }
    EXPECT_TRUE(leapDayOf2100Done);
}

TEST(PackedDateTimeTest, DatesOutsideTheModelStayDefined) {
    // A month past 12 counts as the end of its year, however large.
    EXPECT_EQ(auxDaysFromBeginning(19901301), 365u);
    EXPECT_EQ(auxDaysFromBeginning(19909901), 365u);
    // Years before 1990 add no whole years.
    EXPECT_EQ(auxDaysFromBeginning(19800101), 0u);
    // Day 0 and the largest numbers wrap instead of overflowing.
    EXPECT_EQ(auxDaysFromBeginning(19900100), 0xFFFFFFFFu);
    EXPECT_EQ(DiffInDays(19900100, 19900101), -1);
    auxPackDTM(0xFFFFFFFFUL, 0xFFFFFFFFUL);
    auxDaysFromBeginning(0xFFFFFFFFUL);
}

}  // namespace

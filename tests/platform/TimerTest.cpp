#include "platform/Timer.h"

#include <gtest/gtest.h>

#include <ostream>

#include "platform/linux/LinTimer.h"
#include "support/FakeClock.h"

namespace {

struct ExpiryCase {
    const char* name;
    std::uint32_t start;
    unsigned long period;
    std::uint32_t now;
    bool expired;
};

void PrintTo(const ExpiryCase& c, std::ostream* os) {
    *os << c.name;
}

class TimerExpiryTest : public ::testing::TestWithParam<ExpiryCase> {};

TEST_P(TimerExpiryTest, ExpiresAsTheCounterPassesTheDeadline) {
    const ExpiryCase& c = GetParam();
    TFakeClock clock;
    clock.Set(c.start);
    TFakeTimer timer(clock, c.period);
    clock.Set(c.now);
    EXPECT_EQ(timer.IsExpired(), c.expired);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimerExpiryTest,
    ::testing::Values(
        ExpiryCase{"ZeroPeriodAtOnce", 1000, 0, 1000, true},
        ExpiryCase{"OneMsecBeforeTheDeadline", 1000, 5000, 5999, false},
        ExpiryCase{"AtTheDeadline", 1000, 5000, 6000, true},
        ExpiryCase{"LongAfterTheDeadline", 1000, 5000, 900000, true},
        // The deadline wraps: start 0xFFFFFF00 + 0x200 gives 0x100.
        ExpiryCase{"WrappedDeadlineBeforeTheCounterWraps", 0xFFFFFF00, 0x200, 0xFFFFFFF0, false},
        ExpiryCase{"WrappedDeadlineAfterTheCounterWraps", 0xFFFFFF00, 0x200, 0x50, false},
        ExpiryCase{"WrappedDeadlineReached", 0xFFFFFF00, 0x200, 0x100, true},
        ExpiryCase{"WrappedDeadlinePassed", 0xFFFFFF00, 0x200, 0x80000000, true},
        ExpiryCase{"WrappedDeadlineOneCycleLater", 0xFFFFFF00, 0x200, 0xFFFFFF00, false},
        // The counter wraps past a deadline that did not.
        ExpiryCase{"CounterWrappedBelowTheStart", 0xFFFF0000, 0x100, 0x10, true},
        ExpiryCase{"CounterWrappedJustBelowTheStart", 100, 5000, 99, true},
        // After a full cycle the counter lies in the period again.
        ExpiryCase{"FullCycleLaterInsideThePeriod", 100, 5000, 5099, false},
        ExpiryCase{"FullCycleLaterPastTheDeadline", 100, 5000, 5100, true},
        ExpiryCase{"PeriodUsesTheLow32Bits", 1000, 0x100000005ul, 1004, false},
        ExpiryCase{"PeriodUsesTheLow32BitsExpired", 1000, 0x100000005ul, 1005, true}),
    [](const ::testing::TestParamInfo<ExpiryCase>& info) { return info.param.name; });

TEST(TimerTest, StaysExpiredUntilRestarted) {
    TFakeClock clock;
    TFakeTimer timer(clock, 5000);
    clock.Advance(5000);
    EXPECT_TRUE(timer.IsExpired());
    clock.Advance(100000);
    EXPECT_TRUE(timer.IsExpired());

    timer.Restart(2000);
    EXPECT_FALSE(timer.IsExpired());
    EXPECT_EQ(timer.GetElapsedMsec(), 0u);
    clock.Advance(1999);
    EXPECT_FALSE(timer.IsExpired());
    clock.Advance(1);
    EXPECT_TRUE(timer.IsExpired());
}

TEST(TimerTest, RestartBeforeExpiryStartsAFreshPeriod) {
    TFakeClock clock;
    TFakeTimer timer(clock, 1000);
    clock.Advance(900);
    timer.Restart(1000);
    clock.Advance(900);
    EXPECT_FALSE(timer.IsExpired());
    EXPECT_EQ(timer.GetElapsedMsec(), 900u);
}

struct ElapsedCase {
    const char* name;
    std::uint32_t start;
    std::uint32_t now;
    unsigned long elapsed;
};

void PrintTo(const ElapsedCase& c, std::ostream* os) {
    *os << c.name;
}

class TimerElapsedTest : public ::testing::TestWithParam<ElapsedCase> {};

TEST_P(TimerElapsedTest, CountsMillisecondsSinceTheStart) {
    const ElapsedCase& c = GetParam();
    TFakeClock clock;
    clock.Set(c.start);
    TFakeTimer timer(clock, 10);
    clock.Set(c.now);
    EXPECT_EQ(timer.GetElapsedMsec(), c.elapsed);
}

INSTANTIATE_TEST_SUITE_P(Cases, TimerElapsedTest,
                         ::testing::Values(ElapsedCase{"NoWrap", 1000, 1500, 500},
                                           ElapsedCase{"OneMsecAcrossTheWrap", 0xFFFFFFFF, 0, 1},
                                           ElapsedCase{"AcrossTheWrap", 0xFFFFFF00, 0x100, 0x200},
                                           ElapsedCase{"AlmostAFullCycle", 1, 0, 0xFFFFFFFF}),
                         [](const ::testing::TestParamInfo<ElapsedCase>& info) {
                             return info.param.name;
                         });

struct CounterCase {
    const char* name;
    timespec monotonic;
    std::uint32_t counter;
};

void PrintTo(const CounterCase& c, std::ostream* os) {
    *os << c.name;
}

class LinTimerCounterTest : public ::testing::TestWithParam<CounterCase> {};

TEST_P(LinTimerCounterTest, CountsMillisecondsInTheLow32Bits) {
    EXPECT_EQ(TLinTimer::MsecCounterAt(GetParam().monotonic), GetParam().counter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinTimerCounterTest,
    ::testing::Values(CounterCase{"Zero", {0, 0}, 0},
                      CounterCase{"DropsPartialMilliseconds", {1, 999999999}, 1999},
                      CounterCase{"LastValueBeforeTheWrap", {4294967, 295000000}, 0xFFFFFFFF},
                      CounterCase{"WrapsAt2To32", {4294967, 296000000}, 0},
                      CounterCase{"YearsOfUptime", {12884902, 888000000}, 1000}),
    [](const ::testing::TestParamInfo<CounterCase>& info) { return info.param.name; });

TEST(LinTimerTest, RunsFromConstruction) {
    TLinTimer immediate(0);
    EXPECT_TRUE(immediate.IsExpired());

    TLinTimer hour(3600000);
    EXPECT_FALSE(hour.IsExpired());
    EXPECT_LT(hour.GetElapsedMsec(), 3600000u);
}

}  // namespace

#include "foundation/TimeValues.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/testing/VirtualClock.h"

namespace {

TEST(TimeValuesTest, UnixTimeTruncatesTowardZero) {
    const int64_t kEpoch = 116444736000000000LL;
    EXPECT_EQ(CTimeStamp(kEpoch).AsUnixTime(), 0);
    EXPECT_EQ(CTimeStamp(kEpoch + 10000000).AsUnixTime(), 1);
    EXPECT_EQ(CTimeStamp(kEpoch - 5000000).AsUnixTime(), 0);
    EXPECT_EQ(CTimeStamp(kEpoch - 15000000).AsUnixTime(), -1);
    EXPECT_EQ(CTimeStamp().AsUnixTime(), 0);
    EXPECT_EQ(CTimeStamp(INT64_MAX).AsUnixTime(), INT64_MAX);
    EXPECT_TRUE(CTimeStamp().IsClear());
    EXPECT_TRUE(CTimeStamp(INT64_MAX).IsFilled());
}

TEST(TimeValuesTest, UnixTimeSaturatesNearTheLowestTicks) {
    const int64_t kEpoch = 116444736000000000LL;
    const int64_t kLowest = INT64_MIN / 10000000LL;
    struct Case {
        int64_t llTicks;
        int64_t llSeconds;
    };
    for (const Case &c : {Case{INT64_MIN, kLowest}, Case{INT64_MIN + 1, kLowest},
                          Case{INT64_MIN + kEpoch - 1, kLowest}, Case{INT64_MIN + kEpoch, kLowest},
                          Case{INT64_MIN + kEpoch + 10000000, kLowest + 1}}) {
        SCOPED_TRACE(c.llTicks);
        EXPECT_EQ(CTimeStamp(c.llTicks).AsUnixTime(), c.llSeconds);
    }
}

TEST(TimeValuesTest, IntervalConversions) {
    EXPECT_EQ(CTimeInterval(9999).AsMilliseconds(), 0);
    EXPECT_EQ(CTimeInterval(10000).AsMilliseconds(), 1);
    EXPECT_EQ(CTimeInterval(-10000).AsMilliseconds(), -1);
    EXPECT_DOUBLE_EQ(CTimeInterval(15000000).AsSeconds(), 1.5);
    EXPECT_EQ(CTimeInterval::FromSeconds(3).GetTicks(), 30000000);
    EXPECT_TRUE(CTimeInterval::FromSeconds(2) > CTimeInterval::FromSeconds(1));
    EXPECT_EQ((CTimeStamp(500) - CTimeStamp(800)).GetTicks(), -300);
}

TEST(TimeValuesTest, ScopedTimerAddsOneSampleAndNullCounterNothing) {
    idxtest::VirtualClock clock;
    CTimeCounter counter("PostRequest");
    {
        CAutoTimeCounter timer(&counter);
        KYSLEEP_InTeRnAl(2500);
    }
    EXPECT_EQ(counter.GetTotalSamples(), 1u);
    EXPECT_EQ(counter.GetTotalTime().AsMilliseconds(), 2500);
    { CAutoTimeCounter none(nullptr); }
    EXPECT_EQ(counter.GetTotalSamples(), 1u);
}

TEST(TimeValuesTest, OutputFormatCombination) {
    using F = BCalendarTimeOutputFormat;
    EXPECT_EQ((F::ZONE_LOCAL | F::FORMAT_ISO8601).Value(), 1u);
    F left(0x05000000u);
    EXPECT_EQ((left | F(0x07123409u)).Value(), 0x05000009u);
    F full(0x02000003u);
    EXPECT_EQ((full | F(0xFF0000FFu)).Value(), 0x02000003u);
}

TEST(TimeValuesTest, MillisecondSplit) {
    struct Case {
        int64_t llMs;
        uint32_t h, m, s, ms;
    } cases[] = {{999, 0, 0, 0, 999},
                 {3723500, 1, 2, 3, 0},
                 {0, 0, 0, 0, 0},
                 {-5, 0, 0, 0, 0},
                 {90000000, 25, 0, 0, 0}};
    for (const auto &c : cases) {
        uint32_t h = 9, m = 9, s = 9, ms = 9;
        ConvertMilliSecondsToHrsMinsSecs(c.llMs, h, m, s, ms);
        EXPECT_EQ(h, c.h) << c.llMs;
        EXPECT_EQ(m, c.m) << c.llMs;
        EXPECT_EQ(s, c.s) << c.llMs;
        EXPECT_EQ(ms, c.ms) << c.llMs;
    }
}

TEST(TimeValuesTest, VirtualSleepAdvancesClockAtOnce) {
    idxtest::VirtualClock clock;
    CTimeStamp before = CTimeStamp::Now();
    KYSLEEP_InTeRnAl(15 * 60 * 1000);
    EXPECT_EQ((CTimeStamp::Now() - before).AsMilliseconds(), 15 * 60 * 1000);
}

} // namespace

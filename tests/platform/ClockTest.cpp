// The wakeable sleep: a wake made after the sleeper read its mark ends the sleep or keeps it
// from starting, and on the virtual clock the sleep moves the clock as a plain sleep does. The
// calendar text of a time in UTC is the C library's, over the whole range it is computed for.
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>

#include "platform/testing/VirtualClock.h"

namespace {

// Long enough that only a wake can end these sleeps within the test's time-out.
constexpr uint32_t kHourMs = 3600u * 1000u;

} // namespace

TEST(ClockTest, AWakeAfterTheMarkKeepsTheSleepFromStarting) {
    CWakeableSleep sleep;
    const uint64_t ullMark = sleep.GetMark();
    sleep.Wake();
    EXPECT_NE(ullMark, sleep.GetMark());
    sleep.SleepUnlessWoken(ullMark, kHourMs);
}

TEST(ClockTest, AWakeEndsASleepInProgress) {
    CWakeableSleep sleep;
    std::atomic<bool> bAwake{false};
    const uint64_t ullMark = sleep.GetMark();
    std::thread sleeper([&] {
        sleep.SleepUnlessWoken(ullMark, kHourMs);
        bAwake = true;
    });
    // Whether the sleeper is already asleep or not, the wake ends its sleep.
    sleep.Wake();
    sleeper.join();
    EXPECT_TRUE(bAwake.load());
}

TEST(ClockTest, OnTheVirtualClockTheSleepMovesTheClockLikeAPlainSleep) {
    idxtest::VirtualClock clock;
    CWakeableSleep sleep;
    for (bool bWoken : {false, true}) {
        SCOPED_TRACE(bWoken);
        const uint64_t ullMark = sleep.GetMark();
        if (bWoken) {
            sleep.Wake();
        }
        const int64_t llBefore = idxtest::VirtualClock::Ticks();
        sleep.SleepUnlessWoken(ullMark, 1000);
        EXPECT_EQ(1000 * 10000, idxtest::VirtualClock::Ticks() - llBefore);
    }
}

namespace {

std::string LibraryUtcText(int64_t llSeconds) {
    const time_t tSeconds = static_cast<time_t>(llSeconds);
    struct tm tmValue;
    if (gmtime_r(&tSeconds, &tmValue) == nullptr) {
        return std::string();
    }
    char szText[64];
    strftime(szText, sizeof(szText), "%Y-%m-%dT%H:%M:%SZ", &tmValue);
    return szText;
}

std::string CalendarUtcText(int64_t llSeconds) {
    const CTimeStamp ts(CTimeStamp::kUnixEpochTicks + llSeconds * 10000000LL);
    return CCalendarTime(ts).AsString(BCalendarTimeOutputFormat::ZONE_LOCAL |
                                      BCalendarTimeOutputFormat::FORMAT_ISO8601);
}

} // namespace

TEST(ClockTest, TheUtcTextIsTheCLibrarysAtEveryYearItIsComputedFor) {
    // The edges of the computed range (years 1000 and 9999) and the dates around leap days and
    // the epoch, on both sides.
    const struct {
        int64_t llSeconds;
        const char *szText;
    } cases[] = {
        {-30610224001LL, "999-12-31T23:59:59Z"},
        {-30610224000LL, "1000-01-01T00:00:00Z"},
        {-1, "1969-12-31T23:59:59Z"},
        {0, "1970-01-01T00:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {4107542399LL, "2100-02-28T23:59:59Z"},
        {4107542400LL, "2100-03-01T00:00:00Z"},
        {253402300799LL, "9999-12-31T23:59:59Z"},
        {253402300800LL, "10000-01-01T00:00:00Z"},
    };
    for (const auto &testCase : cases) {
        SCOPED_TRACE(testCase.llSeconds);
        EXPECT_EQ(testCase.szText, LibraryUtcText(testCase.llSeconds));
        EXPECT_EQ(testCase.szText, CalendarUtcText(testCase.llSeconds));
    }
    // A walk over the whole range with a step that is not a whole number of days, so that every
    // month, day and time of day is met.
    int nMismatches = 0;
    for (int64_t llSeconds = -30610224000LL; llSeconds < 253402300800LL;
         llSeconds += 13 * 86400 + 3607) {
        if (CalendarUtcText(llSeconds) != LibraryUtcText(llSeconds) && ++nMismatches <= 5) {
            ADD_FAILURE() << llSeconds << ": " << CalendarUtcText(llSeconds) << " instead of "
                          << LibraryUtcText(llSeconds);
        }
    }
    EXPECT_EQ(0, nMismatches);
}

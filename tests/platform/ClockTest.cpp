// The wakeable sleep: a wake made after the sleeper read its mark ends the sleep or keeps it
// from starting, and on the virtual clock the sleep moves the clock as a plain sleep does.
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
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

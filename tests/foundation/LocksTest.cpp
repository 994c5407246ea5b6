#include "foundation/Locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/SyncHandles.h"
#include "platform/testing/VirtualClock.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point tpStart) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tpStart).count();
}

// Runs fn on another thread and gives its result.
template <class Fn> auto OnOtherThread(Fn fn) {
    return std::async(std::launch::async, fn).get();
}

// Counts the calls an auto_lock makes on its resource.
class CCountingResource : public FXLockableResource {
public:
    bool TryLock() override { return true; }
    bool TryLock(CTimeInterval interval) override { return FXLockableResource::TryLock(interval); }
    void Lock() override { ++m_nLocks; }
    void Unlock() override { ++m_nUnlocks; }

    int m_nLocks = 0;
    int m_nUnlocks = 0;
};

TEST(LocksTest, ThreadIdIsStablePerThreadAndTheLowBitsOfPthreadSelf) {
    const uint32_t nId = GetCurrentThreadId();
    EXPECT_EQ(GetCurrentThreadId(), nId);
    EXPECT_EQ(FXThread::GetCurrentThreadId(), nId);
    EXPECT_EQ(nId, static_cast<uint32_t>(static_cast<uint64_t>(pthread_self())));
    const uint32_t nOther = OnOtherThread([] { return FXThread::GetCurrentThreadId(); });
    EXPECT_NE(nOther, nId);
}

TEST(LocksTest, CriticalSectionIsRecursiveAndOwnerClearsAtFirstUnlock) {
    FXCriticalSection cs;
    EXPECT_EQ(cs.GetLockOwner(), 0u);
    cs.Lock();
    EXPECT_TRUE(cs.TryLock());
    EXPECT_EQ(cs.GetLockOwner(), GetCurrentThreadId());
    EXPECT_FALSE(OnOtherThread([&] { return cs.TryLock(); }));

    cs.Unlock();
    // Still held once more, but the owner already reads 0.
    EXPECT_EQ(cs.GetLockOwner(), 0u);
    EXPECT_FALSE(OnOtherThread([&] { return cs.TryLock(); }));

    cs.Unlock();
    EXPECT_TRUE(OnOtherThread([&] {
        const bool bTaken = cs.TryLock();
        if (bTaken) {
            cs.Unlock();
        }
        return bTaken;
    }));
}

TEST(LocksTest, TryLockWithLongIntervalOnHeldLockAnswersFalseAtOnce) {
    FXCriticalSection cs;
    auto_lock guard(&cs);
    const auto tpStart = Clock::now();
    EXPECT_FALSE(OnOtherThread([&] { return cs.TryLock(CTimeInterval::FromSeconds(30)); }));
    EXPECT_LT(MillisecondsSince(tpStart), 1000);
}

TEST(LocksTest, LockWaitsForTheHolderAndRecordsTheNewOwner) {
    FXCriticalSection cs;
    cs.Lock();
    std::atomic<bool> bTaken{false};
    std::atomic<uint32_t> nWaiterId{0};
    std::thread waiter([&] {
        nWaiterId = GetCurrentThreadId();
        cs.Lock();
        bTaken = true;
        EXPECT_EQ(cs.GetLockOwner(), nWaiterId.load());
        cs.Unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(bTaken.load());
    cs.Unlock();
    waiter.join();
    EXPECT_TRUE(bTaken.load());
}

TEST(LocksTest, AutoLockReleasesOnlyWhatItTook) {
    struct Case {
        const char *szName;
        bool bLockNow;
        int nExtraLocks;
        int nExtraUnlocks;
        int nLocks;
        int nUnlocks;
    };
    const Case cases[] = {
        {"lock now, release at scope end", true, 0, 0, 1, 1},
        {"lock now, Unlock, then scope end", true, 0, 1, 1, 1},
        {"lock now, Lock again, Unlock twice", true, 1, 2, 1, 1},
        {"never locked", false, 0, 1, 0, 0},
        {"locked later", false, 2, 0, 1, 1},
    };
    for (const Case &c : cases) {
        CCountingResource resource;
        {
            auto_lock guard(&resource, c.bLockNow);
            for (int i = 0; i < c.nExtraLocks; ++i) {
                guard.Lock();
            }
            for (int i = 0; i < c.nExtraUnlocks; ++i) {
                guard.Unlock();
            }
        }
        EXPECT_EQ(resource.m_nLocks, c.nLocks) << c.szName;
        EXPECT_EQ(resource.m_nUnlocks, c.nUnlocks) << c.szName;
    }
}

TEST(LocksTest, AutoLockOnNullResourceDoesNothing) {
    auto_lock guard(nullptr);
    EXPECT_FALSE(guard.IsLocked());
    guard.Lock();
    EXPECT_FALSE(guard.IsLocked());
    guard.Unlock();
}

TEST(LocksTest, AutoLockHoldsARealLockForItsScope) {
    FXCriticalSection cs;
    {
        auto_lock guard(&cs);
        EXPECT_FALSE(OnOtherThread([&] { return cs.TryLock(); }));
    }
    EXPECT_TRUE(OnOtherThread([&] {
        auto_lock guard(&cs, false);
        const bool bTaken = cs.TryLock();
        if (bTaken) {
            cs.Unlock();
        }
        return bTaken;
    }));
}

TEST(LocksTest, TqCriticalSectionLockHoldsForItsScopeAndIgnoresNull) {
    TqCriticalSection section;
    auto tryFromOtherThread = [&] {
        return OnOtherThread([&] {
            const bool bEntered = section.enter(false);
            if (bEntered) {
                section.leave();
            }
            return bEntered;
        });
    };
    {
        TqCriticalSectionLock guard(&section);
        // Recursive for its holder.
        EXPECT_TRUE(section.enter(false));
        section.leave();
        EXPECT_FALSE(tryFromOtherThread());
    }
    EXPECT_TRUE(tryFromOtherThread());
    TqCriticalSectionLock nothing(nullptr);
}

TEST(LocksTest, SemaphoreCountsReleasesAndTimesOut) {
    TqSemaphore semaphore(0);
    auto tpStart = Clock::now();
    EXPECT_FALSE(semaphore.wait(50));
    EXPECT_GE(MillisecondsSince(tpStart), 45);

    semaphore.release(2);
    tpStart = Clock::now();
    EXPECT_TRUE(semaphore.wait(5000));
    EXPECT_TRUE(semaphore.wait(5000));
    EXPECT_LT(MillisecondsSince(tpStart), 1000);
    EXPECT_FALSE(semaphore.wait(30));

    // Releases of 0 or less change nothing.
    semaphore.release(0);
    semaphore.release(-3);
    EXPECT_FALSE(semaphore.wait(0));
}

TEST(LocksTest, SemaphoreWaitWithoutLimitEndsAtRelease) {
    TqSemaphore semaphore(0);
    std::atomic<bool> bTaken{false};
    std::thread waiter([&] {
        semaphore.wait();
        bTaken = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(bTaken.load());
    semaphore.release(1);
    waiter.join();
    EXPECT_TRUE(bTaken.load());
}

TEST(LocksTest, SemaphoreWaitOfAnHourEndsWhenTheVirtualClockPassesIt) {
    idxtest::VirtualClock clock;
    TqSemaphore semaphore(0);
    auto result = std::async(std::launch::async, [&] { return semaphore.wait(3600000); });
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    idxtest::VirtualClock::Advance(3600000);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(result.get());
}

// Polls a condition until it holds or a generous deadline passes.
template <class Condition> bool WaitUntil(Condition bCondition) {
    const auto tpEnd = Clock::now() + std::chrono::seconds(10);
    while (!bCondition()) {
        if (Clock::now() > tpEnd) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Each release of one count ends one blocked wait, whichever it is, and no release is lost while
// several threads wait.
TEST(LocksTest, SemaphoreReleasesOfOneEndOneBlockedWaitEach) {
    TqSemaphore semaphore(0);
    std::atomic<int> nTaken{0};
    std::vector<std::thread> vecWaiters;
    for (int i = 0; i < 3; ++i) {
        vecWaiters.emplace_back([&] {
            semaphore.wait();
            ++nTaken;
        });
    }
    for (int i = 1; i <= 3; ++i) {
        semaphore.release(1);
        EXPECT_TRUE(WaitUntil([&] { return nTaken.load() >= i; })) << i;
    }
    for (std::thread &waiter : vecWaiters) {
        waiter.join();
    }
    EXPECT_EQ(3, nTaken.load());
    EXPECT_FALSE(semaphore.wait(0));
}

// Sets of an event that is already set count as one; an auto-reset set ends one blocked wait,
// and the next set the next one.
TEST(LocksTest, EventSetsOfASetEventCountAsOneAndEachEndsOneWait) {
    TqEvent event(true);
    event.set();
    event.set();
    EXPECT_EQ(event.wait(0), 0u);
    EXPECT_EQ(event.wait(0), static_cast<uint32_t>(TQ_WAIT_TIMEOUT));

    std::atomic<int> nWoken{0};
    std::vector<std::thread> vecWaiters;
    for (int i = 0; i < 2; ++i) {
        vecWaiters.emplace_back([&] {
            if (event.wait(60000) == 0) {
                ++nWoken;
            }
        });
    }
    event.set();
    EXPECT_TRUE(WaitUntil([&] { return nWoken.load() >= 1; }));
    event.set();
    EXPECT_TRUE(WaitUntil([&] { return nWoken.load() >= 2; }));
    for (std::thread &waiter : vecWaiters) {
        waiter.join();
    }
    EXPECT_EQ(2, nWoken.load());
    EXPECT_EQ(event.wait(0), static_cast<uint32_t>(TQ_WAIT_TIMEOUT));
}

TEST(LocksTest, EventSetEndsAPendingWaitAndIsKeptUntilAWaitSeesIt) {
    TqEvent event(true);
    auto tpStart = Clock::now();
    EXPECT_EQ(event.wait(30), static_cast<uint32_t>(TQ_WAIT_TIMEOUT));
    EXPECT_GE(MillisecondsSince(tpStart), 25);

    auto result = std::async(std::launch::async, [&] { return event.wait(60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    tpStart = Clock::now();
    event.set();
    EXPECT_EQ(result.get(), 0u);
    EXPECT_LT(MillisecondsSince(tpStart), 1000);

    // A set with nobody waiting is kept for the next wait, which consumes it.
    event.set();
    EXPECT_EQ(event.wait(0), 0u);
    EXPECT_EQ(event.wait(0), static_cast<uint32_t>(TQ_WAIT_TIMEOUT));
}

TEST(LocksTest, ManualResetEventStaysSet) {
    TqEvent event(false);
    event.set();
    EXPECT_EQ(event.wait(0), 0u);
    EXPECT_EQ(event.wait(0), 0u);
}

} // namespace

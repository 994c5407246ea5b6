// The platform's synchronisation handles (critical section, counting semaphore, event) that the
// foundation's TqCriticalSection, TqSemaphore and TqEvent own, and the timed wait that every wait
// of the platform goes through.
//
// Timed waits follow the platform clock (platform/Clock.h): with a test's virtual clock on, a wait
// of minutes ends as soon as the virtual time has passed it, however little real time that took.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "foundation/Export.h"
#include "platform/Clock.h"

// Results of the platform's waits.
enum ETqWaitResult : uint32_t {
    TQ_WAIT_OBJECT_0 = 0,         // the awaited object was set
    TQ_WAIT_ABANDONED = 0x80,     // the object's owner went away
    TQ_WAIT_IO_COMPLETION = 0xC0, // the waiting thread was alerted (asked to stop)
    TQ_WAIT_TIMEOUT = 0x102,      // the time ran out
};

// A wait of this many milliseconds has no limit (where a wait accepts it).
const uint32_t TQ_INFINITE = 0xFFFFFFFFu;

// Waits on cv (lock held by the caller) until bDone() answers true or ullMilliseconds of platform
// time have passed, and returns bDone()'s last answer. 0 tests once without waiting. The real
// wait is cut into short slices so that a virtual clock moved by another thread is noticed.
template <class Predicate>
bool TqTimedWait(std::condition_variable &cv, std::unique_lock<std::mutex> &lock,
                 uint64_t ullMilliseconds, Predicate bDone) {
    // Beyond a century the deadline would overflow the tick count: that is no limit at all.
    const uint64_t kNoLimitMs = 100ull * 366 * 24 * 3600 * 1000;
    if (ullMilliseconds >= kNoLimitMs) {
        cv.wait(lock, bDone);
        return true;
    }
    const CTimeStamp tsDeadline =
        CTimeStamp::Now() + CTimeInterval::FromMilliseconds(static_cast<int64_t>(ullMilliseconds));
    const int64_t kSliceTicks = 20 * 10000;
    while (!bDone()) {
        const int64_t llLeftTicks = (tsDeadline - CTimeStamp::Now()).GetTicks();
        if (llLeftTicks <= 0) {
            return bDone();
        }
        const int64_t llSliceNs = std::min(llLeftTicks, kSliceTicks) * 100;
        cv.wait_for(lock, std::chrono::nanoseconds(llSliceNs));
    }
    return true;
}

// Recursive in-process lock.
class IDX_EXPORT TqCriticalSectionH {
public:
    TqCriticalSectionH() = default;
    TqCriticalSectionH(const TqCriticalSectionH &) = delete;
    TqCriticalSectionH &operator=(const TqCriticalSectionH &) = delete;

    // bWait true waits as long as needed and answers true; false only tries and answers
    // whether the lock was taken.
    bool enter(bool bWait);
    void leave();

private:
    std::recursive_mutex m_mutex;
};

// Counting semaphore. A count at or below 0 makes waits block until releases raise it above 0.
//
// A wait that finds a count and a release that finds nobody waiting touch only atomics: the item
// queue takes a slot per queued item and gives slots back per batch, and neither should take a
// lock or make a system call while the queue has room. The lock and the condition are for the
// waits that must block. A waiter counts itself in m_nWaiters before it looks at the count
// again, and a release raises the count before it looks at m_nWaiters (both sequentially
// consistent), so either the waiter sees the new count or the release sees the waiter and
// notifies it under the lock.
class IDX_EXPORT TqSemaphoreH {
public:
    explicit TqSemaphoreH(int32_t nCount) : m_llCount(nCount) {}
    TqSemaphoreH(const TqSemaphoreH &) = delete;
    TqSemaphoreH &operator=(const TqSemaphoreH &) = delete;

    // Raises the count by nCount; a count of 0 or less changes nothing.
    void release(int32_t nCount);
    void wait();
    // True when a count was taken, false when the time ran out.
    bool wait(uint64_t ullMilliseconds);
    // Takes one count if there is one, without waiting.
    bool TryTake();

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::atomic<int64_t> m_llCount;
    std::atomic<int32_t> m_nWaiters{0};
};

// Event. A set stays pending until a wait sees it; with bAutoReset true the first wait that sees
// it also clears it, with false it stays set for every later wait.
class IDX_EXPORT TqEventH {
public:
    explicit TqEventH(bool bAutoReset) : m_bAutoReset(bAutoReset) {}
    TqEventH(const TqEventH &) = delete;
    TqEventH &operator=(const TqEventH &) = delete;

    // TQ_WAIT_OBJECT_0 when the event was set, TQ_WAIT_TIMEOUT when the time ran out.
    uint32_t wait(uint64_t ullMilliseconds);
    void set();

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    const bool m_bAutoReset;
    bool m_bSet = false;
};

// The platform clock, the millisecond sleep, accumulating timers and calendar text.
//
// Every wait of the library that is measured in seconds or minutes goes through
// KYSLEEP_InTeRnAl and CTimeStamp::Now, so that tests can run them on a virtual clock
// (platform/testing/VirtualClock.h) in which a sleep returns at once and advances the time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "foundation/Export.h"
#include "foundation/TimeValues.h"

// Sleeps for the given number of milliseconds (or advances the virtual clock).
IDX_EXPORT void KYSLEEP_InTeRnAl(uint32_t nMilliseconds);

// A sleep that other threads can end early: a waiter that has to notice a change at once but
// must also look at something nobody signals (a quit flag, a time-out) now and then.
//
// The waiter reads a mark (GetMark), then tests its condition, then sleeps with that mark
// (SleepUnlessWoken); a Wake made after the mark was read ends the sleep at once or keeps it from
// starting, so no change between the test and the sleep is missed. On the real clock the sleep
// lasts at most nMilliseconds. On the virtual clock it is KYSLEEP_InTeRnAl itself (the time is
// added to the clock at once and the call returns after a short real pause), so that a test's
// clock moves by the same steps as it did with a plain sleep, woken or not. Wake costs two
// atomic operations while nobody sleeps.
class IDX_EXPORT CWakeableSleep {
public:
    CWakeableSleep() = default;
    CWakeableSleep(const CWakeableSleep &) = delete;
    CWakeableSleep &operator=(const CWakeableSleep &) = delete;

    uint64_t GetMark() const { return m_ullGeneration.load(); }
    void Wake();
    void SleepUnlessWoken(uint64_t ullMark, uint32_t nMilliseconds);

private:
    std::atomic<uint64_t> m_ullGeneration{0};
    std::atomic<uint32_t> m_nSleepers{0};
    std::mutex m_lock;
    std::condition_variable m_cv;
};

// Accumulating timer: a total and a number of samples. Safe to use from several threads.
class IDX_EXPORT CTimeCounter {
public:
    CTimeCounter() = default;
    explicit CTimeCounter(const std::string &strName) : m_strName(strName) {}
    CTimeCounter(const CTimeCounter &other);
    CTimeCounter &operator=(const CTimeCounter &other);

    CTimeCounter &operator+=(const CTimeInterval &interval);

    CTimeInterval GetTotalTime() const;
    uint64_t GetTotalSamples() const;
    const std::string &GetName() const { return m_strName; }
    void Reset();

    // "<name>: <seconds> sec in <samples> samples".
    std::string AsString() const;
    // The same without the name, for a line that carries a label of its own.
    std::string TotalsAsString() const;

private:
    std::string m_strName;
    mutable std::mutex m_lock;
    int64_t m_llTotalTicks = 0;
    uint64_t m_ullSamples = 0;
};

// A calendar time, from a time stamp.
class IDX_EXPORT CCalendarTime {
public:
    explicit CCalendarTime(const CTimeStamp &ts) : m_ts(ts) {}
    // Value 1 of the format flags (zone 0) gives "YYYY-MM-DDTHH:MM:SSZ" in UTC; every other
    // value gives "YYYY-MM-DD HH:MM:SS" in local time.
    std::string AsString(BCalendarTimeOutputFormat format) const;

private:
    CTimeStamp m_ts;
};

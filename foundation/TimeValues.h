// Points in time and durations in 100-nanosecond ticks, the scoped timer that adds a block's
// duration to an accumulating timer, and the calendar output format flags.
//
// A CTimeStamp counts ticks since 1601-01-01 00:00; 0 is "clear" and the largest signed 64-bit
// value is "filled". CTimeStamp::Now and CTimeCounter are the platform's (platform/Clock.h).
#pragma once

#include <cstdint>
#include <string>

#include "foundation/Export.h"

class CTimeInterval {
public:
    CTimeInterval() : m_llTicks(0) {}
    explicit CTimeInterval(int64_t llTicks) : m_llTicks(llTicks) {}

    static CTimeInterval FromSeconds(int64_t llSeconds) {
        return CTimeInterval(static_cast<int64_t>(static_cast<uint64_t>(llSeconds) * 10000000ull));
    }
    static CTimeInterval FromMilliseconds(int64_t llMilliseconds) {
        return CTimeInterval(
            static_cast<int64_t>(static_cast<uint64_t>(llMilliseconds) * 10000ull));
    }

    bool IsClear() const { return m_llTicks == 0; }
    int64_t GetTicks() const { return m_llTicks; }
    double AsSeconds() const { return static_cast<double>(m_llTicks) / 10000000.0; }
    int64_t AsMilliseconds() const { return m_llTicks / 10000; }

    bool operator>(const CTimeInterval &other) const { return m_llTicks > other.m_llTicks; }
    bool operator<(const CTimeInterval &other) const { return m_llTicks < other.m_llTicks; }
    bool operator==(const CTimeInterval &other) const { return m_llTicks == other.m_llTicks; }
    CTimeInterval operator+(const CTimeInterval &other) const {
        return CTimeInterval(m_llTicks + other.m_llTicks);
    }

    // Seconds with three decimals, for log lines.
    std::string AsString() const;

private:
    int64_t m_llTicks;
};

class IDX_EXPORT CTimeStamp {
public:
    static constexpr int64_t kFilled = INT64_MAX;
    static constexpr int64_t kUnixEpochTicks = 116444736000000000LL;

    CTimeStamp() : m_llTicks(0) {}
    explicit CTimeStamp(int64_t llTicks) : m_llTicks(llTicks) {}

    // The platform clock; a virtual clock in tests that switch it on.
    static CTimeStamp Now();

    bool IsClear() const { return m_llTicks == 0; }
    bool IsFilled() const { return m_llTicks == kFilled; }
    int64_t GetTicks() const { return m_llTicks; }

    int64_t AsUnixTime() const {
        if (IsClear()) {
            return 0;
        }
        if (IsFilled()) {
            return kFilled;
        }
        // Within an epoch of the lowest tick count the difference would fall below the lowest
        // 64-bit value: it stops there, the earliest time a stamp can tell.
        if (m_llTicks < INT64_MIN + kUnixEpochTicks) {
            return INT64_MIN / 10000000LL;
        }
        return (m_llTicks - kUnixEpochTicks) / 10000000LL;
    }

    CTimeInterval operator-(const CTimeStamp &other) const {
        return CTimeInterval(static_cast<int64_t>(static_cast<uint64_t>(m_llTicks) -
                                                  static_cast<uint64_t>(other.m_llTicks)));
    }
    CTimeStamp operator+(const CTimeInterval &interval) const {
        return CTimeStamp(m_llTicks + interval.GetTicks());
    }
    bool operator<(const CTimeStamp &other) const { return m_llTicks < other.m_llTicks; }
    bool operator==(const CTimeStamp &other) const { return m_llTicks == other.m_llTicks; }

private:
    int64_t m_llTicks;
};

class CTimeCounter;

// Adds the time spent in its scope to a timer; a null timer reads no clock and adds nothing.
class CAutoTimeCounter {
public:
    explicit CAutoTimeCounter(CTimeCounter *pCounter);
    ~CAutoTimeCounter();
    CAutoTimeCounter(const CAutoTimeCounter &) = delete;
    CAutoTimeCounter &operator=(const CAutoTimeCounter &) = delete;

private:
    CTimeCounter *m_pCounter;
    CTimeStamp m_tsStart;
};

// Zone flags in bits 24..31, format flags in bits 0..7.
class BCalendarTimeOutputFormat {
public:
    enum ZONE_FLAGS : uint32_t { ZONE_LOCAL = 0, ZONE_UTC = 0x01000000u };
    enum FORMAT_FLAGS : uint32_t { FORMAT_DEFAULT = 0, FORMAT_ISO8601 = 1 };

    BCalendarTimeOutputFormat(ZONE_FLAGS eZone) : m_nValue(eZone) {}
    BCalendarTimeOutputFormat(FORMAT_FLAGS eFormat) : m_nValue(eFormat) {}
    explicit BCalendarTimeOutputFormat(uint32_t nValue) : m_nValue(nValue) {}

    uint32_t Value() const { return m_nValue; }

    // Fills the zone byte and the format byte of this value that are 0 from the other operand.
    BCalendarTimeOutputFormat operator|(BCalendarTimeOutputFormat other) const {
        uint32_t nValue = m_nValue;
        if ((nValue & 0xFF000000u) == 0) {
            nValue |= other.m_nValue & 0xFF000000u;
        }
        if ((nValue & 0x000000FFu) == 0) {
            nValue |= other.m_nValue & 0x000000FFu;
        }
        return BCalendarTimeOutputFormat(nValue);
    }

private:
    uint32_t m_nValue;
};

inline BCalendarTimeOutputFormat operator|(BCalendarTimeOutputFormat::ZONE_FLAGS eZone,
                                           BCalendarTimeOutputFormat::FORMAT_FLAGS eFormat) {
    return BCalendarTimeOutputFormat(eZone) | BCalendarTimeOutputFormat(eFormat);
}

// Splits a millisecond count; negative counts give all zeros.
IDX_EXPORT void ConvertMilliSecondsToHrsMinsSecs(const int64_t &llMilliseconds, uint32_t &nHours,
                                                 uint32_t &nMinutes, uint32_t &nSeconds,
                                                 uint32_t &nMsecs);

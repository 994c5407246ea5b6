#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/testing/VirtualClock.h"

namespace {

std::atomic<bool> g_bVirtual{false};
std::atomic<int64_t> g_llVirtualTicks{0};

int64_t RealNowTicks() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    int64_t llTicks = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    return llTicks + CTimeStamp::kUnixEpochTicks;
}

} // namespace

CTimeStamp CTimeStamp::Now() {
    if (g_bVirtual.load(std::memory_order_acquire)) {
        return CTimeStamp(g_llVirtualTicks.load(std::memory_order_acquire));
    }
    return CTimeStamp(RealNowTicks());
}

void KYSLEEP_InTeRnAl(uint32_t nMilliseconds) {
    if (g_bVirtual.load(std::memory_order_acquire)) {
        g_llVirtualTicks.fetch_add(static_cast<int64_t>(nMilliseconds) * 10000);
        // Let the other threads run, as a real sleep would.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds));
}

namespace idxtest {

VirtualClock::VirtualClock() {
    g_llVirtualTicks.store(RealNowTicks());
    g_bVirtual.store(true, std::memory_order_release);
}

VirtualClock::~VirtualClock() {
    g_bVirtual.store(false, std::memory_order_release);
}

void VirtualClock::Advance(uint32_t nMilliseconds) {
    g_llVirtualTicks.fetch_add(static_cast<int64_t>(nMilliseconds) * 10000);
}

int64_t VirtualClock::Ticks() {
    return g_llVirtualTicks.load();
}

} // namespace idxtest

void CWakeableSleep::Wake() {
    // Both counters are sequentially consistent: either this sees the sleeper counted, or the
    // sleeper's test below sees the new generation.
    m_ullGeneration.fetch_add(1);
    if (m_nSleepers.load() == 0) {
        return;
    }
    {
        // Taken and dropped so that a sleeper between its test and its wait is waiting by now.
        std::lock_guard<std::mutex> guard(m_lock);
    }
    m_cv.notify_all();
}

void CWakeableSleep::SleepUnlessWoken(uint64_t ullMark, uint32_t nMilliseconds) {
    if (g_bVirtual.load(std::memory_order_acquire)) {
        KYSLEEP_InTeRnAl(nMilliseconds);
        return;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_nSleepers.fetch_add(1);
    m_cv.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                  [&] { return m_ullGeneration.load() != ullMark; });
    m_nSleepers.fetch_sub(1);
}

CTimeCounter::CTimeCounter(const CTimeCounter &other) {
    std::lock_guard<std::mutex> guard(other.m_lock);
    m_strName = other.m_strName;
    m_llTotalTicks = other.m_llTotalTicks;
    m_ullSamples = other.m_ullSamples;
}

CTimeCounter &CTimeCounter::operator=(const CTimeCounter &other) {
    if (this != &other) {
        std::scoped_lock guard(m_lock, other.m_lock);
        m_strName = other.m_strName;
        m_llTotalTicks = other.m_llTotalTicks;
        m_ullSamples = other.m_ullSamples;
    }
    return *this;
}

CTimeCounter &CTimeCounter::operator+=(const CTimeInterval &interval) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_llTotalTicks += interval.GetTicks();
    ++m_ullSamples;
    return *this;
}

CTimeInterval CTimeCounter::GetTotalTime() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return CTimeInterval(m_llTotalTicks);
}

uint64_t CTimeCounter::GetTotalSamples() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_ullSamples;
}

void CTimeCounter::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_llTotalTicks = 0;
    m_ullSamples = 0;
}

std::string CTimeCounter::AsString() const {
    return m_strName + ": " + TotalsAsString();
}

std::string CTimeCounter::TotalsAsString() const {
    std::lock_guard<std::mutex> guard(m_lock);
    char szText[128];
    snprintf(szText, sizeof(szText), "%.3f sec in %llu samples",
             static_cast<double>(m_llTotalTicks) / 10000000.0,
             static_cast<unsigned long long>(m_ullSamples));
    return szText;
}

namespace {

void PutDigits(char *pOut, unsigned nValue, int nDigits) {
    for (int i = nDigits - 1; i >= 0; --i) {
        pOut[i] = static_cast<char>('0' + nValue % 10);
        nValue /= 10;
    }
}

// "YYYY-MM-DDTHH:MM:SSZ" of a Unix time, computed from the day count (proleptic Gregorian
// calendar, in eras of 400 years) instead of by gmtime_r, which takes the C library's time-zone
// lock on every call: the workers write three such times per document, and with many workers
// that lock was where they queued. False for a year outside 1000..9999, which the caller leaves
// to the C library.
bool FormatUtcIso8601(int64_t llSeconds, char (&szText)[21]) {
    int64_t llDays = llSeconds / 86400;
    int64_t llSecondOfDay = llSeconds % 86400;
    if (llSecondOfDay < 0) {
        llSecondOfDay += 86400;
        --llDays;
    }
    // Days counted from 0000-03-01, so that a leap day is the last day of its year.
    llDays += 719468;
    const int64_t llEra = (llDays >= 0 ? llDays : llDays - 146096) / 146097;
    const unsigned nDayOfEra = static_cast<unsigned>(llDays - llEra * 146097);
    const unsigned nYearOfEra =
        (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
    const unsigned nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
    const unsigned nMonthFromMarch = (5 * nDayOfYear + 2) / 153;
    const unsigned nDay = nDayOfYear - (153 * nMonthFromMarch + 2) / 5 + 1;
    const unsigned nMonth = nMonthFromMarch < 10 ? nMonthFromMarch + 3 : nMonthFromMarch - 9;
    const int64_t llYear = llEra * 400 + nYearOfEra + (nMonth <= 2 ? 1 : 0);
    if (llYear < 1000 || llYear > 9999) {
        return false;
    }
    const unsigned nSecondOfDay = static_cast<unsigned>(llSecondOfDay);
    PutDigits(szText, static_cast<unsigned>(llYear), 4);
    szText[4] = '-';
    PutDigits(szText + 5, nMonth, 2);
    szText[7] = '-';
    PutDigits(szText + 8, nDay, 2);
    szText[10] = 'T';
    PutDigits(szText + 11, nSecondOfDay / 3600, 2);
    szText[13] = ':';
    PutDigits(szText + 14, nSecondOfDay / 60 % 60, 2);
    szText[16] = ':';
    PutDigits(szText + 17, nSecondOfDay % 60, 2);
    szText[19] = 'Z';
    szText[20] = '\0';
    return true;
}

} // namespace

std::string CCalendarTime::AsString(BCalendarTimeOutputFormat format) const {
    const int64_t llSeconds = m_ts.AsUnixTime();
    if (format.Value() == 1) {
        char szIso[21];
        if (FormatUtcIso8601(llSeconds, szIso)) {
            return std::string(szIso, sizeof(szIso) - 1);
        }
    }
    // A time the C library cannot break down (out of its range) gives an empty text, never
    // fields it did not fill.
    const time_t tSeconds = static_cast<time_t>(llSeconds);
    struct tm tmValue;
    char szText[64];
    if (format.Value() == 1) {
        if (gmtime_r(&tSeconds, &tmValue) == nullptr) {
            return std::string();
        }
        strftime(szText, sizeof(szText), "%Y-%m-%dT%H:%M:%SZ", &tmValue);
    } else {
        if (localtime_r(&tSeconds, &tmValue) == nullptr) {
            return std::string();
        }
        strftime(szText, sizeof(szText), "%Y-%m-%d %H:%M:%S", &tmValue);
    }
    return szText;
}

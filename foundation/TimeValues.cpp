#include "foundation/TimeValues.h"

#include <cstdio>

#include "platform/Clock.h"

std::string CTimeInterval::AsString() const {
    char szText[64];
    snprintf(szText, sizeof(szText), "%.3f sec", AsSeconds());
    return szText;
}

CAutoTimeCounter::CAutoTimeCounter(CTimeCounter *pCounter) : m_pCounter(pCounter) {
    if (m_pCounter) {
        m_tsStart = CTimeStamp::Now();
    }
}

CAutoTimeCounter::~CAutoTimeCounter() {
    if (m_pCounter) {
        *m_pCounter += CTimeStamp::Now() - m_tsStart;
    }
}

void ConvertMilliSecondsToHrsMinsSecs(const int64_t &llMilliseconds, uint32_t &nHours,
                                      uint32_t &nMinutes, uint32_t &nSeconds, uint32_t &nMsecs) {
    nHours = nMinutes = nSeconds = nMsecs = 0;
    if (llMilliseconds < 0) {
        return;
    }
    if (llMilliseconds <= 999) {
        nMsecs = static_cast<uint32_t>(llMilliseconds);
        return;
    }
    int64_t llSeconds = llMilliseconds / 1000;
    nHours = static_cast<uint32_t>(llSeconds / 3600);
    nMinutes = static_cast<uint32_t>((llSeconds / 60) % 60);
    nSeconds = static_cast<uint32_t>(llSeconds % 60);
}

#include "transmitter/TransmitterTimerLines.h"

#include <boost/shared_ptr.hpp>

#include "platform/Clock.h"
#include "platform/LogWriter.h"
#include "transmitter/SolrThreadPerfCounters.h"
#include "transmitter/SolrTransmitterPrivate.h"

namespace {

struct STimerLine {
    const char *szName;     // the timer's own name, which its line begins with
    const char *szMeasured; // what its time was spent on
    boost::shared_ptr<CTimeCounter> CTransmitterTimers::*pTimer;
};

const STimerLine kTimerLines[] = {
    {"CollectSecurityInfo", "job thread reading owner and security information",
     &CTransmitterTimers::m_ptrCollectSecurityInfoTimer},
    {"AddToQueue Queue-full wait", "job thread waiting for a free queue slot",
     &CTransmitterTimers::m_ptrQueueFullWaitTimer},
    {"GetQueuedItems", "workers taking items from the queue",
     &CTransmitterTimers::m_ptrGetQueuedItemsTimer},
    {"Additionalproperties", "reading additional item properties",
     &CTransmitterTimers::m_ptrAdditionalPropertiesTimer},
    {"Guid generation", "generating the file identifiers of the index log",
     &CTransmitterTimers::m_ptrGuidGenerationTimer},
};

} // namespace

void LogTransmitterTimers(int nLevel, const CSolrTransmitterPrivate &state, bool bGuidGeneration) {
    for (const STimerLine &line : kTimerLines) {
        if (!bGuidGeneration && line.pTimer == &CTransmitterTimers::m_ptrGuidGenerationTimer) {
            continue;
        }
        const boost::shared_ptr<CTimeCounter> &ptrTimer = state.Timers().*line.pTimer;
        if (!ptrTimer || !(ptrTimer->GetTotalTime().AsSeconds() > g_dMetricMinVal)) {
            continue;
        }
        IDX_LOG(nLevel, "%s (%s): %.3f seconds in %llu samples", line.szName, line.szMeasured,
                ptrTimer->GetTotalTime().AsSeconds(),
                static_cast<unsigned long long>(ptrTimer->GetTotalSamples()));
    }
}

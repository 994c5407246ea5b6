// The performance figures of one index-engine worker: written to the log when the transmitter
// stops, and copied for the performance log thread, which sums them over all workers.
#include "engine/SolrTransmitterThread.h"
#include "platform/LogWriter.h"

namespace {

double TotalSeconds(const boost::shared_ptr<CTimeCounter> &ptrTimer) {
    return ptrTimer->GetTotalTime().AsSeconds();
}

} // namespace

CKyError CSolrTransmitterThread::LogPerformanceCounters() {
    if (!m_bCountersReady.load(std::memory_order_acquire)) {
        return CKyError::Success();
    }
    // Each timer's text begins with its own name ("PostRequest: ..."). The send and build
    // timers reach the log only through the performance log thread.
    for (const boost::shared_ptr<CTimeCounter> *pTimer :
         {&m_ptrPostRequestTimer, &m_ptrReadContentTimer, &m_ptrGenerateCRC32Timer,
          &m_ptrSendVMItemsTimer, &m_ptrChangeTimeTimer, &m_ptrOwnerAndAclTimer}) {
        if (*pTimer && TotalSeconds(*pTimer) > g_dMetricMinVal) {
            IDX_LOG(4, "%s", (*pTimer)->AsString().c_str());
        }
    }
    IDX_LOG(5, "Total Transmitted %lld items, Total Packets:%lld",
            static_cast<long long>(m_llTransmittedItems.load()),
            static_cast<long long>(m_llTransmittedPackets.load()));
    return CKyError::Success();
}

CKyError CSolrTransmitterThread::GetPerformanceCounters(SolrThreadPerfCounters &counters) {
    if (!m_bCountersReady.load(std::memory_order_acquire)) {
        return CKyError::Success();
    }
    if (m_ptrPostRequestTimer) {
        counters.m_dPostRequest = TotalSeconds(m_ptrPostRequestTimer);
    }
    if (m_ptrReadContentTimer) {
        counters.m_dReadContent = TotalSeconds(m_ptrReadContentTimer);
    }
    if (m_ptrGenerateCRC32Timer) {
        counters.m_dGenerateCRC32 = TotalSeconds(m_ptrGenerateCRC32Timer);
    }
    if (m_ptrSendVMItemsTimer) {
        counters.m_dSendVMItemsToWebService = TotalSeconds(m_ptrSendVMItemsTimer);
    }
    if (m_ptrChangeTimeTimer) {
        counters.m_dChangeTime = TotalSeconds(m_ptrChangeTimeTimer);
    }
    if (m_ptrOwnerAndAclTimer) {
        counters.m_dOwnerAndAcl = TotalSeconds(m_ptrOwnerAndAclTimer);
    }
    if (m_ptrSendItemsTimer) {
        counters.m_dSendItems = TotalSeconds(m_ptrSendItemsTimer);
        counters.m_llSends = static_cast<int64_t>(m_ptrSendItemsTimer->GetTotalSamples());
    }
    if (m_ptrBuildItemsTimer) {
        counters.m_dBuildItems = TotalSeconds(m_ptrBuildItemsTimer);
        counters.m_llBuilds = static_cast<int64_t>(m_ptrBuildItemsTimer->GetTotalSamples());
    }
    counters.m_llTransmittedItems = m_llTransmittedItems.load();
    counters.m_llPackets = m_llTransmittedPackets.load();
    return CKyError::Success();
}

bool CSolrTransmitterThread::ReadPerformanceCounters(SolrThreadPerfCounters &counters) {
    GetPerformanceCounters(counters);
    return true;
}

CTimeCounter *CSolrTransmitterThread::GetTimer(ETimer eTimer) const {
    // In the order of ETimer.
    static const boost::shared_ptr<CTimeCounter> CSolrTransmitterThread::*const kTimers[] = {
        &CSolrTransmitterThread::m_ptrPostRequestTimer,
        &CSolrTransmitterThread::m_ptrReadContentTimer,
        &CSolrTransmitterThread::m_ptrGenerateCRC32Timer,
        &CSolrTransmitterThread::m_ptrSendVMItemsTimer,
        &CSolrTransmitterThread::m_ptrChangeTimeTimer,
        &CSolrTransmitterThread::m_ptrOwnerAndAclTimer,
        &CSolrTransmitterThread::m_ptrSendItemsTimer,
        &CSolrTransmitterThread::m_ptrBuildItemsTimer};
    const size_t nIndex = static_cast<size_t>(eTimer);
    return nIndex < sizeof(kTimers) / sizeof(kTimers[0]) ? (this->*kTimers[nIndex]).get() : nullptr;
}

void CSolrTransmitterThread::NoteTransmitted(int64_t llItems) {
    m_llTransmittedItems += llItems;
    m_llTransmittedPackets += 1;
}

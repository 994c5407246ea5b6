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
    for (const CTimeCounter *pTimer :
         {m_exchange.PostRequestTimer().get(), m_ptrReadContentTimer.get(),
          m_ptrGenerateCRC32Timer.get(), m_ptrSendVMItemsTimer.get(), m_ptrChangeTimeTimer.get(),
          m_ptrOwnerAndAclTimer.get()}) {
        if (pTimer && pTimer->GetTotalTime().AsSeconds() > g_dMetricMinVal) {
            IDX_LOG(4, "%s", pTimer->AsString().c_str());
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
    if (m_exchange.PostRequestTimer()) {
        counters.m_dPostRequest = TotalSeconds(m_exchange.PostRequestTimer());
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
    switch (eTimer) {
    case ETimer::ePostRequest:
        return m_exchange.PostRequestTimer().get();
    case ETimer::eReadContent:
        return m_ptrReadContentTimer.get();
    case ETimer::eGenerateCRC32:
        return m_ptrGenerateCRC32Timer.get();
    case ETimer::eSendVMItems:
        return m_ptrSendVMItemsTimer.get();
    case ETimer::eChangeTime:
        return m_ptrChangeTimeTimer.get();
    case ETimer::eOwnerAndAcl:
        return m_ptrOwnerAndAclTimer.get();
    case ETimer::eSendItems:
        return m_ptrSendItemsTimer.get();
    case ETimer::eBuildItems:
        return m_ptrBuildItemsTimer.get();
    }
    return nullptr;
}

void CSolrTransmitterThread::NoteTransmitted(int64_t llItems) {
    m_llTransmittedItems += llItems;
    m_llTransmittedPackets += 1;
}

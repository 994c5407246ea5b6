// What the document builders read of the job and the worker (see DocumentContext.h).
#include "documents/DocumentContext.h"

CDocumentContext::CDocumentContext(const CSolrTransmitterThread &worker)
    : m_options(worker.GetOptions()), m_state(worker.GetSharedState()), m_pWorker(&worker) {}

CDocumentContext::CDocumentContext(CTransmitterOptions &options,
                                   const CSolrTransmitterPrivate &state)
    : m_options(options), m_state(state), m_pWorker(nullptr) {}

CTimeCounter *CDocumentContext::Timer(CSolrTransmitterThread::ETimer eTimer) const {
    return m_pWorker ? m_pWorker->GetTimer(eTimer) : nullptr;
}

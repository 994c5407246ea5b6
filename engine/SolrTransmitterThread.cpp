#include "engine/SolrTransmitterThread.h"

#include <list>
#include <vector>

#include "platform/LogWriter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

CSolrTransmitterThread::CSolrTransmitterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                                               CTransmitterOptionsPtr ptrOptions)
    : CIdxTransmitterThread(ptrSolrTransmitterPrivate, ptrOptions) {}

CSolrTransmitterThread::~CSolrTransmitterThread() {
    StopBeforeDestruction();
}

void CSolrTransmitterThread::OnEvent() {
    SetIdle(false);
    // No engine is reached from here: every item taken is a failure to index it, recorded as
    // such so that the job reports it. The engine worker replaces this body.
    std::list<CItemPtr> lstItems;
    for (;;) {
        m_ptrSolrTransmitterPrivate->GetQueuedItems(lstItems,
                                                    m_ptrOptions->GetMaxItemsPerTransaction());
        if (lstItems.empty()) {
            break;
        }
        std::vector<std::string> vecNames;
        vecNames.reserve(lstItems.size());
        for (const CItemPtr &ptrItem : lstItems) {
            vecNames.push_back(ptrItem->GetPath());
        }
        m_ptrSolrTransmitterPrivate->SetPushDataToSolrFailed(true);
        CKyError error = m_ptrSolrTransmitterPrivate->AddItemToSolrFailures(vecNames);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to add items to solr failures file, error=%s",
                          error.AsString().c_str());
        }
    }
    SetIdle(true);
}

CKyError CSolrTransmitterThread::SendCommit() {
    return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not supported");
}

bool CSolrTransmitterThread::IsIdxEngineRunning() {
    return false;
}

CKyError CSolrTransmitterThread::LogPerformanceCounters() {
    return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not supported");
}

CKyError
CSolrTransmitterThread::SendDeleteDataSourceContent(const std::string & /*strDataSource*/) {
    return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not supported");
}

CKyError CSolrTransmitterThread::PruneAuditCore(const std::string & /*strEventTime*/,
                                                const std::string & /*strAppId*/) {
    return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not supported");
}

CKyError CSolrTransmitterThread::SyncAuditAndMainCore(int32_t /*nEventBits*/,
                                                      const std::string & /*strAppId*/) {
    return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not supported");
}

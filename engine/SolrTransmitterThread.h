// The index-engine worker of a transmitter (type 0, and any unknown type).
//
// This minimal form sends nothing to an engine: it drains the queue and records every item it
// takes in the failures file, so that items queued to it are reported as not indexed rather than
// lost. The engine worker with its HTTP exchange replaces this class.
#pragma once

#include <string>

#include "transmitter/IdxTransmitterThread.h"

class CSolrTransmitterThread : public CIdxTransmitterThread {
public:
    CSolrTransmitterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                           CTransmitterOptionsPtr ptrOptions);
    ~CSolrTransmitterThread() override;

    void OnEvent() override;

    // Engine requests: none is available in this form; each answers 50 "Not supported".
    CKyError SendCommit() override;
    bool IsIdxEngineRunning() override;
    CKyError LogPerformanceCounters() override;
    CKyError SendDeleteDataSourceContent(const std::string &strDataSource) override;
    CKyError PruneAuditCore(const std::string &strEventTime, const std::string &strAppId) override;
    CKyError SyncAuditAndMainCore(int32_t nEventBits, const std::string &strAppId) override;
};

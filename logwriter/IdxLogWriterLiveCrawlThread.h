// The worker of live-crawl transmitters (type 5): one index command per item over its own
// connection to the index server's log, the offset of the last item it sent for each collect
// file, and its half of the periodic commit: before every item it answers a pending commit
// request by committing its index log and merging its offsets into the cycle's table.
//
// Start-up failures are recorded as the transmitter's failure reason (Start then fails with
// it); such a worker never sends: it fails the first item it takes and aborts the transmitter,
// and answers a commit request as failed without touching a connection that did not
// initialise. An item the index server refuses goes to the failures file with its error, which
// also becomes the failure reason, and the worker goes on with the next item.
#pragma once

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

#include "logwriter/LiveCrawlProcess.h"
#include "platform/IndexingConnection.h"
#include "platform/Item.h"
#include "transmitter/IdxTransmitterThread.h"

class CItemBatch;

class CIdxLogWriterThreadLiveCrawl : public CIdxTransmitterThread {
public:
    CIdxLogWriterThreadLiveCrawl(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                                 CTransmitterOptionsPtr ptrOptions);
    // Frees the offsets after the thread has ended.
    ~CIdxLogWriterThreadLiveCrawl() override;

    // The loop is the base's (CIdxTransmitterThread::OnEvent), one item per batch.
    void OnStart() override;
    void OnStop() override;

    // Success (commit, counters) or 50 "Not supported"; only the sync logs.
    CKyError SendCommit() override;
    bool IsIdxEngineRunning() override;
    CKyError LogPerformanceCounters() override;
    CKyError SendDeleteDataSourceContent(const std::string &strDataSource) override;
    CKyError PruneAuditCore(const std::string &strEventTime, const std::string &strAppId) override;
    CKyError SyncAuditAndMainCore(int32_t nEventBits, const std::string &strAppId) override;

    // Sends every item the batch holds, settling each; a refused item is failed and the next
    // one goes on. Then the progress since the last report goes to the job callback. 774 "Live-
    // Crawl module intialization failed" (every held item failed) when start-up did not finish.
    CKyError ProcessBatch(CItemBatch &batch) override;
    // A batch error (only a start-up that did not finish, or a throw) ends the job: it becomes
    // the transmitter's failure reason and the transmitter aborts.
    bool OnBatchError(const CKyError &error, std::string &strAbortReason) override;
    // Answers the pending commit request before each item; a failed commit ends the pass and
    // becomes the failure reason.
    bool BeforeBatch() override;
    // Answers the commit request the worker holds, if any, with exactly one reply.
    CKyError CheckAndProcessCommitFlag();
    // Builds and sends the index command of one item, then records its collect-file offset.
    CKyError SendInfoToIndex(const CItemPtr &ptrItem);

    bool IsInitialized() const { return m_bInitialized; }

private:
    boost::shared_ptr<IndexingConnection> m_ptrIdxConnection;
    CLiveCrawlItemProcess m_liveCrawlItemProcess;
    uint64_t m_nItemsSent;
    uint64_t m_nItemsFailed;
    bool m_bInitialized;
    // The connection answered its initialize: only then is it used.
    bool m_bConnectionInitialized;
    // What the job was told so far: progress goes out as increments.
    uint64_t m_nSentReported;
    uint64_t m_nFailedReported;
    // Why start-up did not finish.
    std::string m_strStartFailure;
};

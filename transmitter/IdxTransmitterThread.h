// The worker interface and base shared by every worker class of a transmitter.
//
// A worker is an event thread that waits on the transmitter's one item-queued event and takes
// items off the queue into batches (CItemBatch). The interface adds the requests the transmitter
// makes of a worker (commit, ping, counters, control requests); the base holds the shared state,
// the option record, the idle flag the end-of-job wait polls and the worker's first error, and
// supplies the common abort and the one worker loop (OnEvent), into which each kind of worker
// passes its own work on a batch.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "foundation/Locks.h"
#include "platform/EventThread.h"
#include "transmitter/TransmitterTypes.h"

struct SolrThreadPerfCounters;
class CItemBatch;

// A commit request that the periodic commit thread places on a live-crawl worker. The shared
// pointers keep the cycle's reply semaphore, offsets vector, lock and failure mark alive until
// the worker has answered or dropped the request, also after the cycle gave up waiting. A worker
// that could not commit its index log sets the failure mark before it replies, so that the cycle
// writes no restart string: a restart must never skip items that are not durable.
struct _CommitParams {
    bool m_bCommitRequested = false;
    boost::shared_ptr<TqSemaphore> m_ptrReplySemaphore;
    boost::shared_ptr<std::vector<uint64_t>> m_ptrCollectFileOffsets;
    boost::shared_ptr<FXLockableResource> m_ptrOffsetsLock;
    boost::shared_ptr<std::atomic<bool>> m_ptrCommitFailed;
};

class IIdxTransmitterThread : public CAlertableEventThread {
public:
    explicit IIdxTransmitterThread(boost::shared_ptr<FXEvent> ptrWakeEvent);
    ~IIdxTransmitterThread() override;

    void InternalStop() override;

    virtual bool IsTransmitterIdle() = 0;
    virtual CTransmitterOptionsPtr GetTransmitterOptions() = 0;
    virtual CKyError GetError() const = 0;
    virtual CKyError SendCommit() = 0;
    virtual bool IsIdxEngineRunning() = 0;
    virtual CKyError LogPerformanceCounters() = 0;
    // Copies the worker's performance figures into counters, for the performance log thread,
    // which asks on its own thread while the worker works. A worker that keeps no such figures
    // (only index-engine workers do) leaves them as they are and answers false.
    virtual bool ReadPerformanceCounters(SolrThreadPerfCounters &counters);
    virtual CKyError SendDeleteDataSourceContent(const std::string &strDataSource) = 0;
    virtual CKyError PruneAuditCore(const std::string &strEventTime,
                                    const std::string &strAppId) = 0;
    // Workers without folder statistics succeed without a request.
    virtual CKyError SendComputeFolderStats();
    virtual CKyError SyncAuditAndMainCore(int32_t nEventBits, const std::string &strAppId) = 0;

    // Places a commit request (replacing one still pending from an abandoned cycle). The caller
    // sets the item-queued event afterwards so that the worker wakes and reads it.
    void SetCommitFlag(_CommitParams &params);
    // A copy of the pending request (requested false when there is none).
    _CommitParams GetCommitParams();
    // Drops the request once it has been answered or refused.
    void ClearCommitFlag();
    // The pending request (requested false when there is none), dropped from the worker in the
    // same step: the worker answers what it took exactly once, and a request that a later cycle
    // places meanwhile stays for its next pass instead of being dropped unanswered.
    _CommitParams TakeCommitParams();

protected:
    // Guards the commit request, which the periodic commit thread writes while the worker runs.
    std::mutex m_lockCommitParams;
    _CommitParams m_commitParams;
    // The worker's own offset per collect-file id (index id-1); only the live-crawl worker
    // allocates it (new[], GetMaxCollectFileID entries) and frees it in its destructor.
    uint64_t *m_pllCollectFileOffsets;
};

class CIdxTransmitterThread : public IIdxTransmitterThread {
public:
    // The wake event is the shared state's item-queued event, so every worker of a transmitter
    // waits on the same one. Nothing is started.
    CIdxTransmitterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                          CTransmitterOptionsPtr ptrOptions);
    // Does not stop the thread: the transmitter stops and joins its workers before it drops them.
    ~CIdxTransmitterThread() override;

    // Marks the worker idle and waits for the item-queued event (or the time-out when one is
    // set); the wait's result is returned unchanged, 0 when the event was set.
    uint32_t WaitForEvent() override;
    // The worker loop, one pass per wake-up. It ends the pass at once when the transmitter is
    // aborted (aborting this worker too); otherwise it takes ready batches of GetBatchSize()
    // items and hands each to ProcessBatch until the queue has no ready batch left. After each
    // batch it asks whether to abort: a batch error that OnBatchError says ends the job, or an
    // abort of the transmitter. An abort fails what the batch still holds and writes the batch's
    // failures first, then empties the queue (AbortThread), so that the failures file lists the
    // batch's own items before those the abort took from the queue, whatever the worker's kind.
    void OnEvent() override;

    bool IsTransmitterIdle() override;
    CTransmitterOptionsPtr GetTransmitterOptions() override;
    CKyError GetError() const override;

    // Keeps the first error; later ones are dropped.
    void SetError(const CKyError &error);
    bool HasError() const;

    // The common abort of a worker: stops its own loop, keeps the error and the first failure
    // reason, marks the whole transmitter aborted and empties the queue (so that a job thread
    // blocked on a full queue wakes and is refused). Called from within the worker's own batch
    // (a sender or the failure policy aborting), it leaves the emptying of the queue to the loop,
    // which does it once the batch's failures are written. Always succeeds.
    CKyError AbortThread(CKyError error, const std::string &strReason);

protected:
    // The work each kind of worker passes into the loop.
    // The most items a batch holds; a worker taking more than one waits with WaitForEventOrLinger.
    virtual int GetBatchSize() { return 1; }
    // Runs before each take (a pending commit request is answered here); false ends the pass
    // without taking anything.
    virtual bool BeforeBatch() { return true; }
    // Works one batch: settles what it handled. What it leaves held, also when it throws, fails
    // with the batch; an exception counts as the batch's error.
    virtual CKyError ProcessBatch(CItemBatch &batch) = 0;
    // A batch ended with error: logs it and answers whether the worker aborts the transmitter,
    // with the reason to give the abort in strAbortReason (empty for none).
    virtual bool OnBatchError(const CKyError &error, std::string &strAbortReason) = 0;

    // The job's start-up hook for this worker thread (InitializeThread of the job's callback),
    // when the job has a callback. It is the job's own code: what it throws is its error. The
    // failure is logged; what the worker does without it is its own business.
    CKyError InitializeJobThread();
    // Going idle wakes the end-of-job wait, which may be waiting for this very worker.
    void SetIdle(bool bIdle);
    // WaitForEvent for a worker that takes ready batches of nMaxItems only
    // (CSolrItemQueue::TakeBatch). While the queue holds a partial batch that is not ready, the
    // worker watches its linger (CSolrItemQueue::CLingerWatch): it goes on waiting, also after a
    // set, until the batch is ready (it fills, is flushed or has lingered) and then answers as if
    // the event was set, so that each pass of the worker takes a batch instead of waking for
    // nothing. The linger is short and measured on the real clock; a time-out of the thread is
    // only looked at while the queue is empty. A stop ends the wait at once.
    uint32_t WaitForEventOrLinger(int nMaxItems);
    // A pass that ends because the queue was empty at its last take says so here, and the wait
    // that follows starts from that instead of looking at the queue again: an item queued since
    // has set the event, which ends the wait at once. Only the worker's own thread uses it.
    void NoteQueueLeftEmpty(bool bLeftEmpty) { m_bQueueLeftEmpty = bLeftEmpty; }
    // The wait on the wake event with the thread's own time-out, if any.
    uint32_t WaitForSetOrTimeout();
    // Records what is still queued as failed, with the abort's reason.
    void ClearQueueForAbort(const std::string &strReason);

    CSolrTransmitterPrivatePtr m_ptrSolrTransmitterPrivate;
    CTransmitterOptionsPtr m_ptrOptions;
    std::atomic<bool> m_bIdle;
    bool m_bQueueLeftEmpty = false;
    // The reason of an abort made from within the batch in hand, whose emptying of the queue
    // waits for the batch's failures; empty when none waits. Only the worker's own thread uses it.
    std::string m_strDeferredClearReason;
    // The worker sets its error while the transmitter's end-of-job wait (and tests) read it.
    mutable std::mutex m_lockError;
    CKyError m_error;
};

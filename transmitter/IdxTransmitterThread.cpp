#include "transmitter/IdxTransmitterThread.h"

#include <list>
#include <string>
#include <utility>

#include "foundation/ErrorCodes.h"
#include "platform/Clock.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// The worker whose loop is working a batch on this thread, if any.
thread_local const CIdxTransmitterThread *t_pWorkerInBatch = nullptr;

// Marks the batch in hand for the time the worker's own work runs on it.
class CBatchInHand {
public:
    explicit CBatchInHand(const CIdxTransmitterThread *pWorker) { t_pWorkerInBatch = pWorker; }
    ~CBatchInHand() { t_pWorkerInBatch = nullptr; }
    CBatchInHand(const CBatchInHand &) = delete;
    CBatchInHand &operator=(const CBatchInHand &) = delete;
};

} // namespace

IIdxTransmitterThread::IIdxTransmitterThread(boost::shared_ptr<FXEvent> ptrWakeEvent)
    : CAlertableEventThread(ptrWakeEvent), m_pllCollectFileOffsets(nullptr) {}

IIdxTransmitterThread::~IIdxTransmitterThread() = default;

void IIdxTransmitterThread::InternalStop() {
    CAlertableEventThread::InternalStop();
}

CKyError IIdxTransmitterThread::SendComputeFolderStats() {
    return CKyError::Success();
}

bool IIdxTransmitterThread::ReadPerformanceCounters(SolrThreadPerfCounters &) {
    return false;
}

void IIdxTransmitterThread::SetCommitFlag(_CommitParams &params) {
    std::lock_guard<std::mutex> guard(m_lockCommitParams);
    m_commitParams = params;
}

_CommitParams IIdxTransmitterThread::GetCommitParams() {
    std::lock_guard<std::mutex> guard(m_lockCommitParams);
    return m_commitParams;
}

void IIdxTransmitterThread::ClearCommitFlag() {
    std::lock_guard<std::mutex> guard(m_lockCommitParams);
    m_commitParams = _CommitParams();
}

_CommitParams IIdxTransmitterThread::TakeCommitParams() {
    std::lock_guard<std::mutex> guard(m_lockCommitParams);
    _CommitParams taken = m_commitParams;
    m_commitParams = _CommitParams();
    return taken;
}

CIdxTransmitterThread::CIdxTransmitterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                                             CTransmitterOptionsPtr ptrOptions)
    : IIdxTransmitterThread(ptrSolrTransmitterPrivate->GetItemQueuedEvent()),
      m_ptrSolrTransmitterPrivate(ptrSolrTransmitterPrivate), m_ptrOptions(ptrOptions),
      m_bIdle(true) {}

CIdxTransmitterThread::~CIdxTransmitterThread() {
    // Normally a no-op: the transmitter stops and joins its workers before it drops them. Should
    // a worker still run, its hooks must not outlive the members they use.
    StopBeforeDestruction();
}

uint32_t CIdxTransmitterThread::WaitForEvent() {
    SetIdle(true);
    const uint32_t nResult = WaitForSetOrTimeout();
    IDX_LOG(5, "Recieved signal on WaitForEvent");
    return nResult;
}

void CIdxTransmitterThread::OnEvent() {
    if (m_ptrSolrTransmitterPrivate->Abort().IsAborted(CAbortState::eNotAbortedLogged)) {
        AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted), std::string());
        return;
    }

    SetIdle(false);

    const int nMaxItems = GetBatchSize();
    // The items each batch settles go back to the queue with the next take; what the last batch
    // of the pass leaves goes back when the pass ends.
    std::list<CItemPtr> lstSettled;
    CSettledItemsReturn settledReturn(m_ptrSolrTransmitterPrivate->Queue(), lstSettled);
    for (;;) {
        if (!BeforeBatch()) {
            return;
        }
        // The batch owns what it takes until each item is sent or failed; whatever it still
        // holds when it goes (an error, an exception, an abort) is recorded as failed.
        CItemBatch batch(*m_ptrSolrTransmitterPrivate, lstSettled);
        // A full batch, or a partial one that has lingered or was flushed; a younger partial
        // batch stays queued for more items, and the wait that follows ends when it has
        // lingered.
        const bool bLeftEmpty = batch.TakeBatchFromQueue(nMaxItems);
        if (batch.IsEmpty()) {
            NoteQueueLeftEmpty(bLeftEmpty);
            // Stays busy until the next wait marks it idle, so the end-of-job wait never sees an
            // idle worker that is still between its last batch and its wait.
            return;
        }

        CKyError error;
        try {
            CBatchInHand inHand(this);
            error = ProcessBatch(batch);
        } catch (...) {
            // An exception out of the work (no memory for a document, the job's own callback) is
            // that batch's error like any other. Left to the thread framework it would end this
            // worker without a word: the queue no longer drained and, once it is full, the job's
            // thread waiting for ever.
            error = ErrorFromCaughtException(FXLOC);
            // The error itself is logged once, by OnBatchError.
            batch.SetReason("an exception ended the work on the batch (its error is logged)");
        }
        std::string strAbortReason;
        bool bAbort = error.IsError() && OnBatchError(error, strAbortReason);
        if (!bAbort &&
            (!m_strDeferredClearReason.empty() ||
             m_ptrSolrTransmitterPrivate->Abort().IsAborted(CAbortState::eNotAbortedLogged))) {
            batch.SetReason("the transmitter was aborted before they were sent");
            bAbort = true;
        }
        if (bAbort) {
            // The batch's failures go to the file before what the abort removes from the queue.
            batch.FailHeldAndRecord();
            AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted),
                        strAbortReason);
            if (!m_strDeferredClearReason.empty()) {
                // The batch aborted the transmitter itself: what it left queued comes after it.
                const std::string strReason = std::move(m_strDeferredClearReason);
                m_strDeferredClearReason.clear();
                ClearQueueForAbort(strReason);
            }
            SetIdle(true);
            return;
        }
    }
}

void CIdxTransmitterThread::ClearQueueForAbort(const std::string &strReason) {
    CKyError clearError = m_ptrSolrTransmitterPrivate->ClearQueuedItems(strReason);
    if (clearError.IsError()) {
        IDX_LOG(1, " Failed to clear the queued items list, error= %s",
                clearError.AsString().c_str());
    }
}

uint32_t CIdxTransmitterThread::WaitForSetOrTimeout() {
    CTimeInterval timeout = GetTimeout();
    uint32_t nMilliseconds = TQ_INFINITE;
    if (!timeout.IsClear()) {
        nMilliseconds = static_cast<uint32_t>(timeout.GetTicks() / 10000);
    }
    // The event is the shared item-queued event; waiting on it through the base's accessor also
    // lets a stop request end the wait at once.
    return GetEvent()->WaitForSet(nMilliseconds);
}

uint32_t CIdxTransmitterThread::WaitForEventOrLinger(int nMaxItems) {
    SetIdle(true);
    CSolrItemQueue::CLingerWatch watch(m_ptrSolrTransmitterPrivate->Queue());
    uint32_t nResult = TQ_WAIT_OBJECT_0;
    uint32_t nLingerMs = m_bQueueLeftEmpty ? TQ_INFINITE : watch.LeftMs(nMaxItems);
    m_bQueueLeftEmpty = false;
    if (nLingerMs == TQ_INFINITE) {
        // Nothing queued: the plain wait, with the thread's own time-out.
        nResult = WaitForSetOrTimeout();
        if (nResult == TQ_WAIT_OBJECT_0) {
            nLingerMs = watch.LeftMs(nMaxItems);
        }
    }
    // A wake with nothing queued (the items went to another worker, or the set was for
    // something else) ends the wait too, as the plain wait would.
    while (nResult == TQ_WAIT_OBJECT_0 && nLingerMs != 0 && nLingerMs != TQ_INFINITE) {
        nResult = GetEvent()->WaitForSetReal(nLingerMs);
        if (nResult == TQ_WAIT_TIMEOUT) {
            nResult = TQ_WAIT_OBJECT_0;
        }
        nLingerMs = watch.LeftMs(nMaxItems);
    }
    IDX_LOG(5, "Recieved signal on WaitForEvent");
    return nResult;
}

void CIdxTransmitterThread::SetIdle(bool bIdle) {
    if (!bIdle) {
        m_bIdle.store(false);
        return;
    }
    if (!m_bIdle.exchange(true)) {
        m_ptrSolrTransmitterPrivate->Queue().NoteWorkerIdle();
    }
}

bool CIdxTransmitterThread::IsTransmitterIdle() {
    return m_bIdle.load();
}

CTransmitterOptionsPtr CIdxTransmitterThread::GetTransmitterOptions() {
    return m_ptrOptions;
}

CKyError CIdxTransmitterThread::GetError() const {
    std::lock_guard<std::mutex> guard(m_lockError);
    return m_error.Copy();
}

void CIdxTransmitterThread::SetError(const CKyError &error) {
    std::lock_guard<std::mutex> guard(m_lockError);
    if (!m_error.IsError()) {
        m_error = error;
    }
}

bool CIdxTransmitterThread::HasError() const {
    std::lock_guard<std::mutex> guard(m_lockError);
    return m_error.IsError();
}

CKyError CIdxTransmitterThread::AbortThread(CKyError error, const std::string &strReason) {
    if (m_ptrSolrTransmitterPrivate->Abort().IsAborted() && HasError()) {
        return CKyError::Success();
    }

    IDX_LOG(1, "Aborting solr transmission, error: %s ", error.AsString().c_str());

    InternalStop();
    SetError(error);

    if (!strReason.empty()) {
        m_ptrSolrTransmitterPrivate->SetAbortReason(strReason);
    }

    // The flag goes up before the queue is emptied, so that a job thread woken by the freed
    // slots already sees it and is refused.
    m_ptrSolrTransmitterPrivate->Abort().SetAborted(true);

    // What is still queued will not be sent now: it is recorded as failed, with the abort's
    // reason; after the batch in hand when the abort comes from within it.
    std::string strClearReason = "a transmitter thread aborted, error=" + error.AsString();
    if (!strReason.empty()) {
        strClearReason += ", reason=" + strReason;
    }
    if (t_pWorkerInBatch == this) {
        m_strDeferredClearReason = std::move(strClearReason);
    } else {
        ClearQueueForAbort(strClearReason);
    }

    if (m_ptrOptions->IsVMContentIndexing()) {
        KYSLEEP_InTeRnAl(1000);
    }
    return CKyError::Success();
}

CKyError CIdxTransmitterThread::InitializeJobThread() {
    CSolrTransmitterCallbackPtr ptrCallback = m_ptrOptions->GetCallback();
    if (!ptrCallback) {
        return CKyError::Success();
    }
    CKyError error;
    try {
        error = ptrCallback->InitializeThread();
    } catch (...) {
        error = ErrorFromCaughtException(FXLOC);
    }
    if (error.IsError()) {
        IDX_LOG_ERROR("InitializeThread failed, error=%s", error.AsString().c_str());
    }
    return error;
}

// The end of a job: waiting for the queue to drain, stopping and releasing the workers, the
// commit, and the job's final report (WaitAndCommit).
//
// All four run on the job's thread and are also run once more by the transmitter's destructor,
// so each behaves on a transmitter that never started and on one that was already stopped.
#include <string>

#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/Locks.h"
#include "platform/Clock.h"
#include "platform/EventThread.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrPerformanceLogThread.h"
#include "transmitter/SolrPeriodicCommitThread.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"
#include "transmitter/TransmitterTimerLines.h"

namespace {

// How long the end-of-job wait sleeps between two looks at the job's quit flag and the queue
// time-out when nothing wakes it; a worker going idle or items leaving the queue wake it at once.
constexpr uint32_t kQueueWaitPollMs = 1000;

const char kTempFolder[] = "Temp";

} // namespace

CKyError CSolrTransmitter::WaitForQueueToEmpty() try {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 1);
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (!state.IsQueueCreated()) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Transmitter was not started");
    }

    // What is queued now is the job's last: the workers take it without waiting for batches to
    // fill. Items another of the job's threads queues later only linger, as during the job.
    CSolrItemQueue &queue = state.Queue();
    queue.Flush();

    size_t nLastLength = state.GetQueueLength();
    CTimeStamp tsLastChange = CTimeStamp::Now();
    const CTimeInterval timeout =
        CTimeInterval::FromSeconds(static_cast<int64_t>(state.Config().m_nQueueTimeoutInMins) * 60);

    for (;;) {
        if (state.Abort().IsQuitFlagSet()) {
            IDX_LOG(0, "Recieved quit flag; Aborting Solr transmitter threads");
            Abort(true);
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eQuitOrNoWorkers,
                                           "Recieved quit flag");
        }

        // The time-out is tested before the idle test: a queue that stays empty while a worker
        // is busy does not count as a change either.
        if (CTimeStamp::Now() - tsLastChange > timeout) {
            IDX_LOG_ERROR(
                "Queue size has not decreased in 600 seconds, abandoning wait, QueueSize=[%zu]",
                state.GetQueueLength());
            break;
        }

        // Read before the queue and the workers are looked at: a worker that goes idle, or items
        // that leave the queue, after this point end the sleep below at once.
        const uint64_t ullActivityMark = queue.GetActivitySleep().GetMark();
        {
            // The length is read before the workers' idle flags: a worker marks itself idle only
            // after it found no batch to take, and one that holds items is not idle, so an empty
            // queue followed by all workers idle means every item was taken and settled. The
            // worker list is read under its lock: a Stop from another of the job's threads may
            // empty it meanwhile.
            const size_t nLength = state.GetQueueLength();
            if (nLength == 0) {
                auto_lock lock(&state.m_lockWorkers, true);
                bool bAllIdle = true;
                for (const IIdxTransmitterThreadPtr &ptrWorker : state.m_lstWorkers) {
                    if (!ptrWorker->IsTransmitterIdle()) {
                        bAllIdle = false;
                        break;
                    }
                }
                if (bAllIdle) {
                    IDX_LOG(2, "All the transmitter threads are completed");
                    return CKyError::Success();
                }
            }
            // Growth counts as a change too: the job may still be queueing.
            if (nLength != nLastLength) {
                nLastLength = nLength;
                tsLastChange = CTimeStamp::Now();
            }
        }

        {
            auto_lock lock(&state.m_lockWorkers, true);
            if (state.m_lstWorkers.empty()) {
                // What is queued stays queued: Stop records it as failed.
                return FXErrorUtil::ErrorWin32(
                    FXLOC, EIdxError::eQuitOrNoWorkers,
                    "Cannot wait for queued items when no transmitter threads exist to process "
                    "them");
            }
        }

        queue.GetActivitySleep().SleepUnlessWoken(ullActivityMark, kQueueWaitPollMs);
    }

    Abort(true);
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eQueueWaitGivenUp,
                                   "Wait abandoned, queue size did not change, Timeout=[%s]",
                                   timeout.AsString().c_str());
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::Stop() try {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 1);
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    const bool bLiveCrawl = state.GetTransmitterType() == eIDX_Transmitter_LiveCrawl;

    if (bLiveCrawl) {
        const std::string strReason = state.GetSolrFailureReason();
        if (!strReason.empty()) {
            IDX_LOG_ERROR("[Error] Solrtransmitter encountered failure previously[%s]",
                          strReason.c_str());
        }
    }
    if (!state.IsQueueCreated()) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Transmitter was not started");
    }

    CKyError result = CKyError::Success();

    // The last performance pass comes before the worker-list lock is taken (the pass takes that
    // lock itself) and while every worker is still listed. A transmitter stopped already (the
    // destructor's pass after WaitAndCommit) has told its figures: another pass would only add a
    // summary of nothing.
    if (auto ptrPerformanceLogThread =
            boost::dynamic_pointer_cast<CSolrPerformanceLogThread>(m_ptrPerformanceLogThread)) {
        if (!state.RunState().m_bStopped) {
            ptrPerformanceLogThread->LogStats();
        }
    }

    // Declared before the lock so that the workers are released after it: a worker's destructor
    // must not run while the list is locked.
    std::list<IIdxTransmitterThreadPtr> lstReleased;
    {
        auto_lock lock(&state.m_lockWorkers, true);

        // A worker still in the middle of its batches takes what is queued, partial batches
        // included, instead of leaving it to the failures file below.
        state.Queue().Flush();

        // Every worker is asked first and then each is waited for, so that they end together
        // and the stop costs about the longest worker's end rather than the sum of them.
        for (const IIdxTransmitterThreadPtr &ptrWorker : state.m_lstWorkers) {
            ptrWorker->InternalStop();
        }
        for (const IIdxTransmitterThreadPtr &ptrWorker : state.m_lstWorkers) {
            ptrWorker->Stop(true);
        }

        // With every worker ended, its error is final and its counters complete.
        for (const IIdxTransmitterThreadPtr &ptrWorker : state.m_lstWorkers) {
            // Once the transmitter is aborted the job learns of the failure through the
            // push-failed flag and the failure reason, not through a worker's error.
            if (!state.Abort().IsAborted()) {
                CKyError workerError = ptrWorker->GetError();
                if (workerError.IsError()) {
                    IDX_LOG_ERROR("Transmitter thread returned failure, error=%s",
                                  workerError.AsString().c_str());
                    if (!result.IsError()) {
                        result = workerError;
                    }
                }
            }
            ptrWorker->LogPerformanceCounters();
        }
        IDX_LOG(5, "Successfully terminated all the transmitter threads");

        if (bLiveCrawl && state.RunState().m_ptrPeriodicCommitThread) {
            // After the workers it asks for offsets: a cycle still waiting for them is abandoned,
            // and this returns once the thread has quit.
            state.RunState().m_ptrPeriodicCommitThread->Uninitialize();
        }

        // Without a subclient folder the joined path would be a relative "Temp" in whatever the
        // process's working folder is; that folder is not ours to remove.
        const std::string &strSubClientDir = state.m_ptrOptions->GetSubClientDir();
        if (!strSubClientDir.empty()) {
            const std::string strTemp = FXPath::Join(strSubClientDir, kTempFolder);
            if (FXFile::Exists(strTemp)) {
                CKyError removeError = FXFile::RemoveDirectoryTree(strTemp);
                if (removeError.IsError()) {
                    IDX_LOG_ERROR("Failed to remove folder=[%s], error=%s", strTemp.c_str(),
                                  removeError.AsString().c_str());
                }
            }
        }

        lstReleased.swap(state.m_lstWorkers);
        state.RunState().m_bStopped = true;
        // With every worker ended, whatever is still queued will never be sent; it is recorded
        // while the failures file is still open.
        state.ClearQueuedItems("the transmitter stopped before they were sent");
        state.CloseSolrFailuresFile();
        // No worker settles anything any more: the items they settled last are freed now.
        state.Queue().ReleaseSettled();

        if (result.IsError()) {
            return result.Push(FXLOC);
        }
    }

    // At most once per transmitter: the flag is set only after a request that succeeded. An
    // aborted job has not indexed the folders it would describe, and its engine may be the very
    // reason of the abort: nothing is posted.
    const CTransmitterOptionsPtr &ptrOptions = state.m_ptrOptions;
    if (ptrOptions->IsPushOnlyMetaData() && !state.RunState().m_bFolderStatsSent &&
        !ptrOptions->IsVMContentIndexing() && !state.Abort().IsAborted()) {
        IIdxTransmitterThreadPtr ptrWorker = GetIdxTransmitterThreadObj();
        if (!ptrWorker) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        CKyError statsError = ptrWorker->SendComputeFolderStats();
        if (statsError.IsError()) {
            return statsError.Push(FXLOC);
        }
        state.RunState().m_bFolderStatsSent = true;
    }

    if (bLiveCrawl) {
        const std::string strReason = state.GetSolrFailureReason();
        if (!strReason.empty()) {
            IDX_LOG_ERROR("[Error] Solrtransmitter encountered failure [%s]", strReason.c_str());
            return FXErrorUtil::ErrorErrNo(FXLOC, -1, "%s", strReason.c_str());
        }
    }
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::Commit() try {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    // Whatever is still queued is taken at once rather than after its linger. (Normally the
    // queue is empty here: the job's end has drained it and stopped the workers.)
    state.Queue().Flush();
    if (state.GetItemsQueued() == 0) {
        return CKyError::Success();
    }

    // The commit moves the restart position past the items sent so far: those listed as failed
    // meanwhile must be on the disk before a later attempt can start after them.
    state.SyncSolrFailuresFile();

    // A worker made for this one request and never started: the commit runs on this thread.
    IIdxTransmitterThreadPtr ptrWorker = GetIdxTransmitterThreadObj();
    if (!ptrWorker) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    CKyError error = ptrWorker->SendCommit();
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::WaitAndCommit() try {
    CKyError error = WaitForQueueToEmpty();
    if (error.IsError()) {
        IDX_LOG_ERROR("WaitForQueueToEmpty failed, error=%s", error.AsString().c_str());
    }
    error = Stop();
    if (error.IsError()) {
        IDX_LOG_ERROR("Stop failed, error=%s", error.AsString().c_str());
    }
    error = Commit();
    if (error.IsError()) {
        IDX_LOG_ERROR("Commit failed, error=%s", error.AsString().c_str());
    }

    const CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    LogTransmitterTimers(0, state, true);

    CSolrTransmitterCallbackPtr ptrCallback = state.m_ptrOptions->GetCallback();
    if (ptrCallback) {
        ptrCallback->UpdateAndLogJobStatistics();
    }
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

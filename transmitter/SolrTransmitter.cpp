#include "transmitter/SolrTransmitter.h"

#include <boost/make_shared.hpp>

#include "foundation/ErrorCodes.h"
#include "foundation/Locks.h"
#include "foundation/MakeSharedNothrow.h"
#include "platform/EventThread.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrPerformanceLogThread.h"
#include "transmitter/SolrPeriodicCommitThread.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterAssembly.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// A worker that could not start has refused the job: 995, with the worker's own reason (the text
// is the message itself, never a format). Whatever errno the job's thread last saw has nothing
// to do with it; a reason that an errno caused says so itself.
CKyError WorkerStartFailure(const FXCodeLocation &location, const std::string &strReason) {
    return strReason.empty() ? FXErrorUtil::ErrorWin32(location, EIdxError::eOperationAborted)
                             : FXErrorUtil::ErrorWin32(location, EIdxError::eOperationAborted, "%s",
                                                       strReason.c_str());
}

} // namespace

CSolrTransmitter::CSolrTransmitter(eIDX_Transmitter_Type eType)
    : m_ptrSolrTransmitterPrivate(boost::make_shared<CSolrTransmitterPrivate>(this, eType)) {}

CSolrTransmitter::~CSolrTransmitter() {
    // A destructor must not throw (the process would end): whatever escapes the last pass is
    // dropped, and the members are released all the same.
    try {
        // The end of a job once more, on this class's own operations: a derived class is
        // already gone at this point. A transmitter that never started has nothing to end: the
        // pass would only log that it was not started, as errors where nothing failed.
        if (m_ptrSolrTransmitterPrivate->IsQueueCreated()) {
            CKyError error = CSolrTransmitter::WaitForQueueToEmpty();
            if (error.IsError()) {
                IDX_LOG_ERROR("WaitForQueueToEmpty failed, error=%s", error.AsString().c_str());
            }
            error = CSolrTransmitter::Stop();
            if (error.IsError()) {
                IDX_LOG_ERROR("Stop failed, error=%s", error.AsString().c_str());
            }
            error = CSolrTransmitter::Commit();
            if (error.IsError()) {
                IDX_LOG_ERROR("Commit failed, error=%s", error.AsString().c_str());
            }
        }
        // Stop empties the worker list on every path that has workers; this makes sure of it,
        // since a listed worker would keep the shared state (and its own thread) alive after we
        // are gone.
        StopAndReleaseWorkers();
    } catch (...) {
    }

    m_ptrHSMLowLevelCtx.reset();
    m_ptrSolrTransmitterPrivate.reset();
    m_ptrPerformanceLogThread.reset();
}

void CSolrTransmitter::StopAndReleaseWorkers() {
    if (!m_ptrSolrTransmitterPrivate) {
        return;
    }
    std::list<IIdxTransmitterThreadPtr> lstWorkers;
    {
        auto_lock lock(&m_ptrSolrTransmitterPrivate->m_lockWorkers, true);
        // The periodic commit thread reads the list: it ends before the list changes.
        if (m_ptrSolrTransmitterPrivate->RunState().m_ptrPeriodicCommitThread) {
            m_ptrSolrTransmitterPrivate->RunState().m_ptrPeriodicCommitThread->Uninitialize();
        }
        for (const IIdxTransmitterThreadPtr &ptrWorker :
             m_ptrSolrTransmitterPrivate->m_lstWorkers) {
            ptrWorker->InternalStop();
        }
        for (const IIdxTransmitterThreadPtr &ptrWorker :
             m_ptrSolrTransmitterPrivate->m_lstWorkers) {
            ptrWorker->Stop(true);
        }
        lstWorkers.swap(m_ptrSolrTransmitterPrivate->m_lstWorkers);
    }
    // Released outside the lock: a worker's destructor may run here.
    lstWorkers.clear();
}

CKyError CSolrTransmitter::Start() try {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    // A performance log thread that a new one replaces ends when this goes, after the lock is
    // released: its pass may be waiting for that lock.
    boost::shared_ptr<CAlertableEventThread> ptrReplacedPerformanceLogThread;
    auto_lock lock(&state.m_lockWorkers, true);

    if (!state.m_lstWorkers.empty()) {
        return CKyError::Success();
    }
    state.RunState().m_bStopped = false;

    CKyError error = state.ConfigureFromBag();
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    error = state.Queue().Create(state.Config().m_nMaxQueueSize);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    for (int32_t i = 0; i < state.Config().m_nTransmitterThreads; ++i) {
        IIdxTransmitterThreadPtr ptrWorker = GetIdxTransmitterThreadObj();
        if (!ptrWorker) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        ptrWorker->Start();
        state.m_lstWorkers.push_back(ptrWorker);
    }

    // A live crawl keeps the list too: its workers fail items like any other (refused by the
    // index server, cleared at an abort or a stop), and an item failed with no list to go to
    // would be in no record at all.
    error = state.OpenSolrFailuresFile();
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    if (state.GetTransmitterType() != eIDX_Transmitter_LiveCrawl) {
        // An index-log worker that could not set up its connection has aborted the transmitter
        // in its start hook (which has run by now): the job learns of it here, with the reason.
        const bool bIndexLog = state.GetTransmitterType() >= eIDX_Transmitter_LogWriter &&
                               state.GetTransmitterType() <= eIDX_Transmitter_FSDirect;
        if (bIndexLog && state.Abort().IsAborted()) {
            return WorkerStartFailure(FXLOC, state.GetSolrFailureReason());
        }
    } else {
        error = InitializePeriodicCommitThread();
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        // A live-crawl worker whose start hook failed has left its reason.
        std::string strReason = state.GetSolrFailureReason();
        if (!strReason.empty()) {
            return WorkerStartFailure(FXLOC, strReason);
        }
    }

    ptrReplacedPerformanceLogThread.swap(m_ptrPerformanceLogThread);
    if (state.Config().m_nDisableSolrPerfThread == 0) {
        m_ptrPerformanceLogThread =
            boost::make_shared_nothrow<CSolrPerformanceLogThread>(m_ptrSolrTransmitterPrivate);
        if (!m_ptrPerformanceLogThread) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        m_ptrPerformanceLogThread->Start();
    }

    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::Abort(bool bFlag) try {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (!state.IsQueueCreated()) {
        return CKyError::Success();
    }

    state.Abort().SetAborted(true);
    // A worker between batches finds what is queued ready at once; it sees the abort and
    // records its batch as failed instead of lingering over it.
    state.Queue().Flush();

    {
        auto_lock lock(&state.m_lockWorkers, true);
        // Every worker is asked before any is waited for, so that they end together.
        for (const IIdxTransmitterThreadPtr &ptrWorker : state.m_lstWorkers) {
            ptrWorker->InternalStop();
        }
        for (const IIdxTransmitterThreadPtr &ptrWorker : state.m_lstWorkers) {
            ptrWorker->Stop(bFlag);
        }
    }

    // One slot back per item removed: a job thread blocked on the full queue wakes, sees the
    // abort flag set above and is refused. The removed items were never sent: they are
    // recorded as failed.
    state.ClearQueuedItems("the job aborted the transmitter");
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::SetMaxQueueSize(int nMaxQueueSize) {
    IDX_LOG(0, "Setting queue Size : [%d]", nMaxQueueSize);
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (state.IsQueueCreated()) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, EIdxError::eGeneralFailure,
            "Queue size cannot be changed after transmitter has started");
    }
    // A queue without a free slot could never take an item, and no abort could free the caller
    // blocked on it.
    if (nMaxQueueSize < 1) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Queue size must be at least 1, given [%d]", nMaxQueueSize);
    }
    state.SetUp().m_nMaxQueueSize = nMaxQueueSize;
    return CKyError::Success();
}

CKyError CSolrTransmitter::SetNumberofTransmitterThreads(int nThreads) {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (state.IsQueueCreated()) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, EIdxError::eGeneralFailure,
            "Transmitter threads cannot be changed after transmitter has started");
    }
    // A negative count is no number of workers, only a mistake that would leave every queued
    // item to the failures file. 0 stays as it always was: Start makes no worker.
    if (nThreads < 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Transmitter threads must not be negative, given [%d]",
                                       nThreads);
    }
    state.SetUp().m_nTransmitterThreads = nThreads;
    return CKyError::Success();
}

CKyError CSolrTransmitter::SetCallback(CSolrTransmitterCallbackPtr ptrCallback) {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (state.IsQueueCreated()) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Callback cannot be changed after transmitter has started");
    }
    state.m_ptrOptions->SetCallback(ptrCallback);
    return CKyError::Success();
}

CKyError CSolrTransmitter::SetOptions(CBagPtr ptrOptionsBag) {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (state.IsQueueCreated()) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, EIdxError::eGeneralFailure,
            "Transmitter options cannot be changed after transmitter has started");
    }
    state.SetUp().m_ptrOptionsBag = ptrOptionsBag;
    return CKyError::Success();
}

void CSolrTransmitter::SetBackupJobClient(TQBkpJobClient *pBackupJobClient) {
    m_ptrSolrTransmitterPrivate->SetUp().m_pBackupJobClient = pBackupJobClient;
}

IIdxTransmitterThreadPtr CSolrTransmitter::GetIdxTransmitterThreadObj() {
    FnMakeTransmitterWorker fnMake = GetTransmitterAssembly().fnMakeWorker;
    if (!fnMake) {
        IDX_LOG_ERROR("The transmitter was given no worker factory");
        return IIdxTransmitterThreadPtr();
    }
    return fnMake(m_ptrSolrTransmitterPrivate);
}

bool CSolrTransmitter::IsAborted() {
    return m_ptrSolrTransmitterPrivate->Abort().IsAborted();
}

bool CSolrTransmitter::IfPushDataToSolrFailed() {
    return m_ptrSolrTransmitterPrivate->IfPushDataToSolrFailed();
}

std::string CSolrTransmitter::GetSolrFailureReason() {
    return m_ptrSolrTransmitterPrivate->GetSolrFailureReason();
}

int64_t CSolrTransmitter::GetFailedItemCount() {
    return m_ptrSolrTransmitterPrivate->GetFailedItemCount();
}

bool CSolrTransmitter::IsNasClient() {
    return m_ptrSolrTransmitterPrivate->m_ptrOptions->IsNasClient();
}

void CSolrTransmitter::PopulateFieldsToPush(const std::vector<std::string> &vecFields) {
    m_ptrSolrTransmitterPrivate->SetUp().m_vecFieldsToPush = vecFields;
}

void CSolrTransmitter::SendPartialData(bool bSendPartialData) {
    m_ptrSolrTransmitterPrivate->SetUp().m_bSendPartialData = bSendPartialData;
}

void CSolrTransmitter::SetCollectID(uint32_t nCollectId) {
    m_ptrSolrTransmitterPrivate->RunState().m_nCollectID = nCollectId;
}

void CSolrTransmitter::SetOffset(int64_t llOffset) {
    m_ptrSolrTransmitterPrivate->RunState().m_llCollectOffset = llOffset;
}

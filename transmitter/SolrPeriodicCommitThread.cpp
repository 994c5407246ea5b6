#include "transmitter/SolrPeriodicCommitThread.h"

#include <algorithm>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "platform/JobClients.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "platform/StringFormat.h"
#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kPlatformSection[] = "FileSystemAgent";
const uint32_t kDefaultCommitIntervalMs = 900000;
const uint32_t kDefaultReplyTimeoutMs = 3600000;
// Uninitialize reports a thread that has not ended after this many of its waits.
const int kQuietWaits = 5;
const uint32_t kStopWaitMs = 500;

// A setting of 0 counts as absent.
uint32_t ReadMilliseconds(const char *szName, uint32_t nDefault) {
    uint32_t nValue = 0;
    if (TQPlatformInfo().getNumber(kPlatformSection, szName, &nValue) != 0 && nValue != 0) {
        IDX_LOG(0, "Found %s[%lu] from registry", szName, static_cast<unsigned long>(nValue));
        return nValue;
    }
    return nDefault;
}

} // namespace

CKyError CSolrTransmitter::InitializePeriodicCommitThread() {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    state.RunState().m_ptrPeriodicCommitThread =
        boost::make_shared_nothrow<CSolrPeriodicCommitThread>();
    if (!state.RunState().m_ptrPeriodicCommitThread) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }

    _CommitThreadInitStruct init;
    init.ptrItemQueuedEvent = state.GetItemQueuedEvent();
    init.nMaxCollectFileId = state.m_ptrOptions->GetMaxCollectFileID();
    init.pQueueLock = state.Queue().GetLock();
    init.pWorkers = &state.m_lstWorkers;
    init.pBackupJobClient = state.Config().m_pBackupJobClient;
    init.pFailuresLedger = &state;
    init.nCommitIntervalMs = ReadMilliseconds("nSolrCommitIntervalMS", kDefaultCommitIntervalMs);
    init.nReplyTimeoutMs = ReadMilliseconds("nSolrCommitTimeoutMS", kDefaultReplyTimeoutMs);
    IDX_LOG(1, "[Commit interval %u MS] [Time out %u MS] [MAX-Collect-ID %u] [Worker count %u]",
            init.nCommitIntervalMs, init.nReplyTimeoutMs, init.nMaxCollectFileId,
            static_cast<unsigned>(state.GetWorkers().size()));

    CKyError error = state.RunState().m_ptrPeriodicCommitThread->Initialize(init);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

CSolrPeriodicCommitThread::CSolrPeriodicCommitThread()
    : m_pWorkers(nullptr), m_wakeEvent(true), m_bQuit(false),
      m_nCommitIntervalMs(kDefaultCommitIntervalMs), m_nReplyTimeoutMs(kDefaultReplyTimeoutMs),
      m_pQueueLock(nullptr), m_bRunning(false), m_bInitialized(false), m_bCommitInProgress(false),
      m_nMaxCollectFileId(0), m_pBackupJobClient(nullptr), m_pFailuresLedger(nullptr),
      m_endedEvent(false), m_ptrOffsetsLock(boost::make_shared<FXCriticalSection>()) {}

CSolrPeriodicCommitThread::~CSolrPeriodicCommitThread() {
    if (m_bInitialized.load()) {
        Uninitialize();
    }
}

CKyError CSolrPeriodicCommitThread::Initialize(_CommitThreadInitStruct &init) {
    m_pWorkers = init.pWorkers;
    m_pQueueLock = init.pQueueLock;
    m_nMaxCollectFileId = init.nMaxCollectFileId;
    m_ptrItemQueuedEvent = init.ptrItemQueuedEvent;
    m_pBackupJobClient = init.pBackupJobClient;
    m_pFailuresLedger = init.pFailuresLedger;
    m_nCommitIntervalMs = init.nCommitIntervalMs;
    m_nReplyTimeoutMs = init.nReplyTimeoutMs;

    if (m_pWorkers == nullptr || m_pQueueLock == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter, "Invalid Parameter");
    }
    // Marked before the thread exists, so that the thread's first cycle sees it.
    m_bInitialized.store(true);
    if (m_thread.createThread(&CSolrPeriodicCommitThread::PeriodicCommitThreadStatic, this) != 0) {
        m_bInitialized.store(false);
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Initializing commit thread failure");
    }
    return CKyError::Success();
}

void *CSolrPeriodicCommitThread::PeriodicCommitThreadStatic(void *pThis) {
    if (pThis == nullptr) {
        IDX_LOG_ERROR("Invalid parameter");
        return nullptr;
    }
    CSolrPeriodicCommitThread *pThread = static_cast<CSolrPeriodicCommitThread *>(pThis);
    try {
        pThread->PeriodicCommitThread();
    } catch (...) {
        // An exception must not end the process; the thread ends and says so.
        pThread->m_bRunning.store(false);
        IDX_LOG_ERROR("Periodic Moniter thread ended by an exception");
    }
    pThread->m_endedEvent.set();
    return nullptr;
}

void CSolrPeriodicCommitThread::PeriodicCommitThread() {
    IDX_LOG(1, "Starting periodic Moniter thread...");
    m_bRunning.store(true);
    while (!m_bQuit.load()) {
        // Whether the wake event was set or the interval ran out makes no difference.
        m_wakeEvent.wait(m_nCommitIntervalMs);
        if (m_bQuit.load()) {
            break;
        }
        CKyError error = CommitItemsAndUpdateRestartSttring();
        if (error.IsError()) {
            IDX_LOG(1, "Comitting process failed [%s]", error.AsString().c_str());
        }
    }
    m_bRunning.store(false);
    IDX_LOG(1, "Periodic Moniter thread has stopped");
}

CKyError CSolrPeriodicCommitThread::CommitItemsAndUpdateRestartSttring() {
    if (!m_bInitialized.load()) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure, "Uninitialized object");
    }

    // The cycle's own reply objects, shared with the requests it places: a worker that answers
    // after the cycle gave up still finds them alive, and its answer counts in no later cycle.
    _CommitParams request;
    request.m_bCommitRequested = true;
    request.m_ptrReplySemaphore = boost::make_shared<TqSemaphore>(0);
    request.m_ptrOffsetsLock = m_ptrOffsetsLock;
    request.m_ptrCommitFailed = boost::make_shared<std::atomic<bool>>(false);

    {
        auto_lock lock(&m_lockInProgress, true);
        if (m_bCommitInProgress) {
            IDX_LOG(1, "Commit-items is already in progress");
            return CKyError::Success();
        }
        // A stop that came first leaves nobody to answer.
        if (m_bQuit.load()) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                           "Commit abandoned, the transmitter is stopping");
        }
        m_bCommitInProgress = true;
        m_ptrWaitingReply = request.m_ptrReplySemaphore;
    }
    // Every way out clears the mark, so the next interval always starts a fresh cycle.
    struct CEndCycle {
        CSolrPeriodicCommitThread &owner;
        ~CEndCycle() {
            auto_lock lock(&owner.m_lockInProgress, true);
            owner.m_bCommitInProgress = false;
            owner.m_ptrWaitingReply.reset();
        }
    } endCycle{*this};

    // The offsets table is the thread's one table, made by the first cycle and emptied by each
    // later one (only the cycle in progress touches it): a table per cycle would cost its 8
    // bytes per collect file again at every interval. A late worker of an abandoned cycle that
    // merges into it adds only offsets it has committed.
    if (!m_ptrCollectFileOffsets) {
        m_ptrCollectFileOffsets = boost::make_shared<std::vector<uint64_t>>(m_nMaxCollectFileId, 0);
    } else {
        auto_lock lock(m_ptrOffsetsLock.get(), true);
        std::fill(m_ptrCollectFileOffsets->begin(), m_ptrCollectFileOffsets->end(), 0);
    }
    request.m_ptrCollectFileOffsets = m_ptrCollectFileOffsets;

    {
        auto_lock lock(m_pQueueLock, true);
        IDX_LOG(3,
                "Commit items waiting flush to complete [Max collect file ID - %u] [Threads - %u] "
                "[semaphore - %p] ",
                m_nMaxCollectFileId, static_cast<unsigned>(m_pWorkers->size()),
                static_cast<void *>(request.m_ptrReplySemaphore.get()));
        for (const IIdxTransmitterThreadPtr &ptrWorker : *m_pWorkers) {
            ptrWorker->SetCommitFlag(request);
        }
        // A broadcast, not the queue's wake-one: every worker runs a pass and answers before its
        // next item, idle workers included. The per-batch wake-up of the queue wakes one worker
        // per batch and would leave idle ones asleep with their request unanswered.
        if (m_ptrItemQueuedEvent) {
            m_ptrItemQueuedEvent->Set();
        }
    }

    uint32_t nAnswers = 0;
    bool bAllAnswered = false;
    for (;;) {
        const bool bTaken = request.m_ptrReplySemaphore->wait(m_nReplyTimeoutMs);
        if (m_bQuit.load()) {
            // The workers are stopped before this thread: no answer will come any more.
            IDX_LOG(1, "Commit abandoned, the transmitter is stopping [response count - %u]",
                    nAnswers);
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                           "Commit abandoned, the transmitter is stopping");
        }
        if (!bTaken) {
            IDX_LOG_ERROR("Commit Timeout[%u] seconds [response count - %u]", m_nReplyTimeoutMs,
                          nAnswers);
            break;
        }
        {
            auto_lock lock(request.m_ptrOffsetsLock.get(), true);
            ++nAnswers;
        }
        if (nAnswers >= m_pWorkers->size()) {
            bAllAnswered = true;
            break;
        }
    }
    if (!bAllAnswered) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure, "Commit timed out");
    }
    IDX_LOG(3, "Commit items waiting flush completed [Response count - %u] [MaxFileID - %u] ",
            nAnswers, m_nMaxCollectFileId);

    if (request.m_ptrCommitFailed->load()) {
        IDX_LOG_ERROR("A transmitter thread failed to commit its index log, the restart string is "
                      "not updated in this cycle");
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure, "Commit failed");
    }
    if (m_nMaxCollectFileId == 0 || m_pBackupJobClient == nullptr) {
        return CKyError::Success();
    }

    IDX_LOG(3, "Constructing restart string");
    std::vector<uint64_t> vecOffsets;
    {
        auto_lock lock(request.m_ptrOffsetsLock.get(), true);
        vecOffsets = *request.m_ptrCollectFileOffsets;
    }
    std::string strRestart = "-o ";
    for (uint32_t nId = 1; nId <= m_nMaxCollectFileId; ++nId) {
        strRestart +=
            FXFormat("%u|%llu@", nId, static_cast<unsigned long long>(vecOffsets[nId - 1]));
    }
    strRestart.pop_back();
    if (FXString::MatchesNoCase(strRestart, "-o")) {
        strRestart.clear();
    }

    // A later attempt starts after these offsets: the items failed before them must already be
    // on the disk.
    if (m_pFailuresLedger != nullptr) {
        m_pFailuresLedger->SyncSolrFailuresFile();
    }
    if (!m_pBackupJobClient->setRestartString(strRestart)) {
        IDX_LOG_ERROR("Update-restart string Failed [%s]", strRestart.c_str());
    } else if (!m_pBackupJobClient->updateInfo(false, nullptr)) {
        IDX_LOG_ERROR("Update-restart info Failed [%s]", strRestart.c_str());
    } else {
        IDX_LOG(3, "restart string has been updated[%s]", strRestart.c_str());
    }
    return CKyError::Success();
}

CKyError CSolrPeriodicCommitThread::Uninitialize() {
    IDX_LOG(1, "Setting Quit-flag");
    m_bQuit.store(true);
    m_wakeEvent.set();
    {
        // A cycle waiting for replies wakes, sees the quit flag and is abandoned.
        auto_lock lock(&m_lockInProgress, true);
        if (m_ptrWaitingReply) {
            m_ptrWaitingReply->release(1);
        }
    }
    if (!m_bInitialized.load()) {
        return CKyError::Success();
    }
    // Joined even when the thread function has not begun yet: it reads this object.
    int nWaits = 0;
    while (m_endedEvent.wait(kStopWaitMs) != TQ_WAIT_OBJECT_0) {
        if (++nWaits >= kQuietWaits) {
            IDX_LOG(1, "Periodic commit moniter thread did not exit on it's own");
        }
    }
    m_thread.join();
    m_bInitialized.store(false);
    return CKyError::Success();
}

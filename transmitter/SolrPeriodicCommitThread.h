// The periodic commit thread of a live-crawl transmitter: every commit interval it asks every
// worker to commit its index log and report, per collect file, the offset of the last item it
// sent; once all have answered it merges the offsets and gives the job a new restart string.
//
// A raw thread (not an event thread) that sleeps on an event of its own, so that a stop ends the
// sleep at once. Each cycle has its own reply semaphore and failure mark, shared with the
// requests it places, so a worker that answers after the cycle gave up is counted only by that
// abandoned cycle; the offsets table is made once and emptied at the start of every cycle. A cycle
// writes a restart string only when every worker answered and every one of them committed.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "foundation/Locks.h"
#include "platform/EventThread.h"
#include "transmitter/TransmitterTypes.h"

class TQBkpJobClient;

// The start parameters; Initialize copies every field.
struct _CommitThreadInitStruct {
    // The transmitter's worker list, not owned. Start fills it before the thread exists and
    // nothing changes it until the thread has ended, so the thread reads it without a lock.
    std::list<IIdxTransmitterThreadPtr> *pWorkers = nullptr;
    // The queue's lock, held while requests are placed; not owned.
    FXLockableResource *pQueueLock = nullptr;
    uint32_t nMaxCollectFileId = 0;
    boost::shared_ptr<FXEvent> ptrItemQueuedEvent;
    // Receives the restart string; not owned, may be null.
    TQBkpJobClient *pBackupJobClient = nullptr;
    // Keeps the failures file, synced before each restart string; not owned, may be null.
    CSolrTransmitterPrivate *pFailuresLedger = nullptr;
    uint32_t nCommitIntervalMs = 900000;
    uint32_t nReplyTimeoutMs = 3600000;
};

class CSolrPeriodicCommitThread {
public:
    CSolrPeriodicCommitThread();
    // Stops the thread when Uninitialize has not, so that it never outlives what it reads.
    ~CSolrPeriodicCommitThread();
    CSolrPeriodicCommitThread(const CSolrPeriodicCommitThread &) = delete;
    CSolrPeriodicCommitThread &operator=(const CSolrPeriodicCommitThread &) = delete;

    // Copies the parameters and starts the thread. 87 "Invalid Parameter" without a worker list
    // or queue lock; 774 "Initializing commit thread failure" when the thread cannot be made.
    CKyError Initialize(_CommitThreadInitStruct &init);

    static void *PeriodicCommitThreadStatic(void *pThis);
    // The thread's loop: sleep one interval, run a cycle, until Uninitialize.
    void PeriodicCommitThread();
    // One commit cycle (see the file comment). 774 "Uninitialized object" before Initialize,
    // "Commit timed out" when a reply did not come within the time-out, "Commit failed" when a
    // worker could not commit, "Commit abandoned" when the transmitter stopped meanwhile; success
    // when a cycle is already running. A refused restart string is only logged.
    CKyError CommitItemsAndUpdateRestartSttring();

    // Sets the quit flag, ends the sleep and abandons a cycle that waits for replies (its workers
    // are gone by now), then waits until the thread function has returned, also when it had not
    // begun yet. Always succeeds.
    CKyError Uninitialize();

    // The thread function has begun and not yet returned.
    bool IsRunning() const { return m_bRunning.load(); }

private:
    std::list<IIdxTransmitterThreadPtr> *m_pWorkers;
    TqThread m_thread;
    TqEvent m_wakeEvent;
    std::atomic<bool> m_bQuit;
    uint32_t m_nCommitIntervalMs;
    uint32_t m_nReplyTimeoutMs;
    FXLockableResource *m_pQueueLock;
    std::atomic<bool> m_bRunning;
    // True from Initialize until Uninitialize has joined the thread.
    std::atomic<bool> m_bInitialized;
    bool m_bCommitInProgress IDX_GUARDED_BY(m_lockInProgress);
    boost::shared_ptr<FXEvent> m_ptrItemQueuedEvent;
    uint32_t m_nMaxCollectFileId;
    TQBkpJobClient *m_pBackupJobClient;
    CSolrTransmitterPrivate *m_pFailuresLedger;
    FXCriticalSection m_lockInProgress;
    // The reply semaphore of the cycle that waits, so that Uninitialize can end its wait.
    boost::shared_ptr<TqSemaphore> m_ptrWaitingReply IDX_GUARDED_BY(m_lockInProgress);
    // Set when the thread function returns; Uninitialize waits on it.
    TqEvent m_endedEvent;
    // The offsets table every cycle hands its workers (made by the first cycle, emptied by each
    // one after), and the lock the workers take to merge into it. Only the thread's cycles
    // replace or empty the table.
    boost::shared_ptr<std::vector<uint64_t>> m_ptrCollectFileOffsets;
    boost::shared_ptr<FXCriticalSection> m_ptrOffsetsLock;
};

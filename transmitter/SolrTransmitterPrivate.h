// The state one transmitter shares with everything that works for it, in groups that each have
// one owner:
// - the configuration fixed at Start (CTransmitterConfiguration and the option record): written
//   on the job's thread before any worker starts, by the facade's setters and the option-bag
//   translation, and read by everybody afterwards without a lock;
// - the abort state (CAbortState): the one answer to "aborted?" and "quit flag?";
// - the bounded item queue (CSolrItemQueue), which keeps its list, slots, lock and event to
//   itself;
// - the worker set: the list and its lock, which only the facade changes;
// - the failure ledger: the push-failed flag, the failure reason, the failures file and the
//   failed count, each behind its lock and reached only through the calls below;
// - the facade's run state and the job thread's collect values, touched on the job's thread only;
// - the queue and end-of-job timers, made with the state and each locking itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/HandleOwners.h"
#include "foundation/KyError.h"
#include "foundation/Locks.h"
#include "platform/Bag.h"
#include "platform/Clock.h"
#include "platform/Item.h"
#include "transmitter/AbortState.h"
#include "transmitter/SolrItemQueue.h"
#include "transmitter/TransmitterOptions.h"
#include "transmitter/TransmitterTypes.h"

class FXEvent;
class TqSemaphore;
class TQBkpJobClient;
class CStubbingFilterInterface;
class CSolrPeriodicCommitThread;

// The configuration fixed at Start, besides the option record. The facade's setters and the
// option-bag translation write it on the job's thread before any worker starts
// (CSolrTransmitterPrivate::SetUp); afterwards everybody reads it without a lock
// (CSolrTransmitterPrivate::Config).
struct CTransmitterConfiguration {
    CBagPtr m_ptrOptionsBag;
    int32_t m_nMaxQueueSize = 100;
    uint32_t m_nQueueTimeoutInMins = 15;
    int32_t m_nTransmitterThreads = 1;
    bool m_bDataConfiguredFromBag = false;
    std::vector<std::string> m_vecFieldsToPush;
    bool m_bSendPartialData = false;
    TQBkpJobClient *m_pBackupJobClient = nullptr; // not owned
    int32_t m_nDisableSolrPerfThread = 0;
};

// What the facade keeps between its calls, on the job's thread only: the periodic commit thread
// of a live-crawl job, whether Stop has ended the workers (cleared by Start: a later Stop, the
// destructor's pass, asks for no other performance pass), whether the folder statistics went to
// the engine, and the collect values the queueing calls give each item.
struct CTransmitterRunState {
    boost::shared_ptr<CSolrPeriodicCommitThread> m_ptrPeriodicCommitThread;
    bool m_bStopped = false;
    bool m_bFolderStatsSent = false;
    uint32_t m_nCollectID = 0xFFFFFFFFu;
    int64_t m_llCollectOffset = -1;
};

// The timers of the queueing calls and the end of the job, made with the state and kept as long
// as it lives; each counts under its own lock. Tests may replace one before the job starts.
struct CTransmitterTimers {
    boost::shared_ptr<CTimeCounter> m_ptrCollectSecurityInfoTimer;
    boost::shared_ptr<CTimeCounter> m_ptrQueueFullWaitTimer;
    boost::shared_ptr<CTimeCounter> m_ptrGetQueuedItemsTimer;
    boost::shared_ptr<CTimeCounter> m_ptrAdditionalPropertiesTimer;
    boost::shared_ptr<CTimeCounter> m_ptrGuidGenerationTimer;
};

class CSolrTransmitterPrivate {
public:
    CSolrTransmitterPrivate(CSolrTransmitter *pTransmitter, eIDX_Transmitter_Type eType);
    ~CSolrTransmitterPrivate();

    CSolrTransmitterPrivate(const CSolrTransmitterPrivate &) = delete;
    CSolrTransmitterPrivate &operator=(const CSolrTransmitterPrivate &) = delete;

    // The queue (see CSolrItemQueue). AddToQueue appends one item, waiting for a free slot. Items
    // leave it only into a batch (CItemBatch), which owns them until each is sent or failed.
    CKyError AddToQueue(CItemPtr ptrItem);
    // Empties the queue into a batch, giving back one slot per item removed. The removed items
    // were never sent: the batch records them as failed (failures file, failed count, push-failed
    // flag), with strReason in the log.
    CKyError ClearQueuedItems(const std::string &strReason = "the transmitter was aborted");
    size_t GetQueueLength() const { return m_queue.GetLength(); }
    // Items ever queued; never decreases.
    int64_t GetItemsQueued() const { return m_queue.GetItemsQueued(); }
    CSolrItemQueue &Queue() { return m_queue; }

    bool IfPushDataToSolrFailed();
    void SetPushDataToSolrFailed(bool bFailed);

    std::string GetSolrFailureReason() const;
    void SetSolrFailureReason(const std::string &strReason);
    // The reason of an engine request that failed for good. It replaces the reason of an earlier
    // failed request, so that the job learns of the last failure, but never a reason given
    // otherwise (an abort's, the failures file's), which says why the job could not go on.
    void SetFailedRequestReason(const std::string &strReason);
    // The reason of an abort: the first one given stays, but it replaces a failed request's.
    void SetAbortReason(const std::string &strReason);

    CSolrTransmitterCallbackPtr GetCallback();
    boost::shared_ptr<FXEvent> GetItemQueuedEvent();
    bool IsDataConfiguredFromBag() const;

    // A copy of the worker list, taken under its lock (the facade changes the list itself).
    std::list<IIdxTransmitterThreadPtr> GetWorkers() const;

    // True once Start has made the queue's free slots; it stays until destruction.
    bool IsQueueCreated() const { return m_queue.IsCreated(); }

    // Failures file (SolrFailuresFile.cpp).
    CKyError OpenSolrFailuresFile();
    static int64_t CountLines(const std::string &strPath);
    // Writes one line per name and flushes the lines to the file before it returns, so that a
    // host killed later keeps them. With failure logging disabled nothing is written, but the
    // names still count as failed items.
    CKyError AddItemToSolrFailures(const std::vector<std::string> &vecItems);
    // The name a failed item is listed under: its path, or in a virtual-machine or
    // collaboration-site job the fully qualified name its record carries. The item is the job's
    // object and may throw when asked; then the item cannot be listed: false, the push-failed
    // flag is set and the log says so, so that the items failed with it are still listed.
    bool GetFailureName(const CItem &item, std::string &strName);
    // Items that will not be indexed, by the names they are listed under: sets the push-failed
    // flag, writes the names to the failures file (a failed write is logged) and logs how many
    // and why.
    void RecordItemsAsFailed(const std::vector<std::string> &vecNames,
                             const std::string &strReason);
    // Puts what was written on the disk (fsync), so that it outlives the machine as well: at
    // Stop, and before a commit or a restart position lets a later attempt start after the
    // items listed. Nothing to do while the file is not open.
    void SyncSolrFailuresFile();
    // Syncs and closes the file.
    void CloseSolrFailuresFile();
    int64_t GetFailedItemCount();

    // Translates the option bag, when one was given, into the option record and the
    // configuration, with the translation startup/ passes in (transmitter/TransmitterAssembly.h,
    // startup/OptionBagTranslation.cpp). The job's thread, before any worker starts.
    CKyError ConfigureFromBag();

    // The configuration fixed at Start (see CTransmitterConfiguration): read by everybody.
    const CTransmitterConfiguration &Config() const { return m_config; }
    // The same, to write: the facade's setters and the option-bag translation, on the job's
    // thread before any worker starts.
    CTransmitterConfiguration &SetUp() { return m_config; }
    // The transmitter's type, given at construction.
    eIDX_Transmitter_Type GetTransmitterType() const { return m_eTransmitterType; }
    // The abort state: "aborted?" and "quit flag?" for everybody.
    CAbortState &Abort() const { return *m_ptrOptions->m_pAbortState; }
    // The facade's run state and collect values: the job's thread only.
    CTransmitterRunState &RunState() { return m_runState; }
    CTransmitterTimers &Timers() { return m_timers; }
    const CTransmitterTimers &Timers() const { return m_timers; }
    // The engine's route, as the first worker (or one-shot request) that set its handle up
    // decided it from the engine's ping URL: -1 until then, 0 for the direct connection, 1 for
    // the dynamic-TPPM route. Every later one takes it without asking the engine again, so that
    // an engine that takes connections and never answers costs one wait, not one per worker.
    // Any worker, atomically.
    std::atomic<int> &EngineRoute() { return m_nEngineRoute; }

    // The option record (configuration fixed at Start, read without a lock; its abort questions
    // are the abort state's). Made with the state, never replaced.
    const CTransmitterOptionsPtr m_ptrOptions;

private:
    // The facade starts, stops and aborts the workers under the worker-list lock and sets the
    // stub filter up once under its lock; a performance pass copies the worker list under the
    // worker-list lock and sums the workers from its copy.
    friend class CSolrTransmitter;
    friend class CSolrPerformanceLogThread;

    CSolrTransmitter *const m_pTransmitter; // not owned
    const eIDX_Transmitter_Type m_eTransmitterType;
    CTransmitterConfiguration m_config;
    CTransmitterRunState m_runState;
    CTransmitterTimers m_timers;
    std::atomic<int> m_nEngineRoute{-1};

    // The worker set: the facade changes the list; anybody may copy it (GetWorkers).
    mutable FXCriticalSection m_lockWorkers;
    std::list<IIdxTransmitterThreadPtr> m_lstWorkers IDX_GUARDED_BY(m_lockWorkers);
    // The stub filter: the facade's queueing calls set it up once.
    FXCriticalSection m_lockStubFilters;
    boost::shared_ptr<CStubbingFilterInterface> m_ptrStubFilter IDX_GUARDED_BY(m_lockStubFilters);
    bool m_bStubFiltersInitialized IDX_GUARDED_BY(m_lockStubFilters);
    // The queue: after the option record, whose abort flag and batch size it reads.
    CSolrItemQueue m_queue;
    // The failure ledger: reached only through the calls above; each part behind its lock.
    mutable FXCriticalSection m_lockPushFailed;
    bool m_bPushDataToSolrFailed IDX_GUARDED_BY(m_lockPushFailed);
    mutable FXCriticalSection m_lockFailureReason;
    std::string m_strSolrFailureReason IDX_GUARDED_BY(m_lockFailureReason);
    // The reason is a failed request's, which a later failure or an abort replaces.
    bool m_bReasonOfFailedRequest IDX_GUARDED_BY(m_lockFailureReason);
    mutable FXCriticalSection m_lockFailuresFile;
    auto_fileptr m_fpSolrFailures IDX_GUARDED_BY(m_lockFailuresFile);
    int64_t m_llFailedItemCount IDX_GUARDED_BY(m_lockFailuresFile);
};

// The state one transmitter shares with everything that works for it: the bounded item queue,
// the worker list, the option record, the failures file, the push-failed flag, the failure reason
// and the queue timers.
//
// The facade, the workers and the helper threads read and write the plain fields directly; each
// guarded field names its lock at its declaration. The queue is a type of its own
// (CSolrItemQueue) that keeps its list, slots, lock and event to itself. The operations here are
// the queue calls, the flag and reason accessors and the failures file; the option-bag
// translation is a member too but lives with the start-up code (startup/ConfigureFromBag*.cpp).
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
#include "transmitter/SolrItemQueue.h"
#include "transmitter/TransmitterTypes.h"

class FXEvent;
class TqSemaphore;
class TQBkpJobClient;
class CStubbingFilterInterface;
class CSolrPeriodicCommitThread;

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

    // Option-bag translation (startup/ConfigureFromBag.cpp, startup/ConfigureFromBagLogWriter.cpp).
    CKyError ConfigureFromBag();
    CKyError ConfigureFromBag_LogWriter();
    CKyError Configure_IndexingServer();

    // Fields, in declaration order; a guarded field names the lock every reader and writer holds
    // ("none": written on the job's thread only while no other thread reads it).
    CSolrTransmitter *m_pTransmitter;         // none; not owned
    CBagPtr m_ptrOptionsBag;                  // none
    eIDX_Transmitter_Type m_eTransmitterType; // none
    int32_t m_nMaxQueueSize;                  // none
    uint32_t m_nQueueTimeoutInMins;           // none
    int32_t m_nTransmitterThreads;            // none
    CTransmitterOptionsPtr m_ptrOptions;      // the record's own
    bool m_bDataConfiguredFromBag;            // none
    boost::shared_ptr<CTimeCounter> m_ptrCollectSecurityInfoTimer;
    boost::shared_ptr<CTimeCounter> m_ptrQueueFullWaitTimer;
    boost::shared_ptr<CTimeCounter> m_ptrGetQueuedItemsTimer;
    boost::shared_ptr<CTimeCounter> m_ptrGuidGenerationTimer; // made by whoever measures it
    std::vector<std::string> m_vecFieldsToPush;               // none
    bool m_bSendPartialData;                                  // none
    boost::shared_ptr<CSolrPeriodicCommitThread> m_ptrPeriodicCommitThread; // none
    TQBkpJobClient *m_pBackupJobClient;                                     // none; not owned
    uint32_t m_nCollectID;                                                  // none
    int64_t m_llCollectOffset;                                              // none
    int32_t m_nDisableSolrPerfThread;                                       // none
    boost::shared_ptr<CTimeCounter> m_ptrAdditionalPropertiesTimer;
    bool m_bFolderStatsSent; // none
    // The engine's route, as the first worker (or one-shot request) that set its handle up
    // decided it from the engine's ping URL: -1 until then, 0 for the direct connection, 1 for
    // the dynamic-TPPM route. Every later one takes it without asking the engine again, so that
    // an engine that takes connections and never answers costs one wait, not one per worker.
    std::atomic<int> m_nEngineRoute{-1};
    // Set once Stop has ended the workers, cleared by Start: a later Stop (the destructor's pass)
    // asks for no other performance pass.
    bool m_bStopped; // none

private:
    // The facade starts, stops and aborts the workers under the worker-list lock and sets the
    // stub filter up once under its lock; a performance pass copies the worker list under the
    // worker-list lock and sums the workers from its copy.
    friend class CSolrTransmitter;
    friend class CSolrPerformanceLogThread;

    mutable FXCriticalSection m_lockWorkers;
    std::list<IIdxTransmitterThreadPtr> m_lstWorkers IDX_GUARDED_BY(m_lockWorkers);
    FXCriticalSection m_lockStubFilters;
    boost::shared_ptr<CStubbingFilterInterface> m_ptrStubFilter IDX_GUARDED_BY(m_lockStubFilters);
    bool m_bStubFiltersInitialized IDX_GUARDED_BY(m_lockStubFilters);
    // The queue: after the option record, whose abort flag and batch size it reads.
    CSolrItemQueue m_queue;
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

// The state one transmitter shares with everything that works for it: the bounded item queue
// (list, free-slot semaphore, lock, one item-queued event), the worker list, the option record,
// the failures file, the push-failed flag, the failure reason and the queue timers.
//
// A plain record: the facade, the workers and the helper threads read and write the fields
// directly, each under the lock named beside it. The operations here are the queue, the flag and
// reason accessors and the failures file; the option-bag translation is a member too but lives
// with the start-up code (startup/ConfigureFromBag*.cpp).
#pragma once

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

    // Appends one item, waiting without limit for a free slot. 995 once the transmitter is
    // aborted (tested before and after the wait); 774 "Transmitter was not started" when no
    // free-slot semaphore exists yet. An exception inside (the job's quit query, the append)
    // comes back as an error, with the slot it had taken given back.
    CKyError AddToQueue(CItemPtr ptrItem);
    // Moves at most nMaxItems of the oldest items into lstItems (emptied first) and frees one
    // slot per item moved. Never waits.
    CKyError GetQueuedItems(std::list<CItemPtr> &lstItems, int nMaxItems);
    // Empties the queue, giving back one slot per item removed.
    CKyError ClearQueuedItems();
    // Number of items now queued, read under the queue lock.
    size_t GetQueueLength();

    bool IfPushDataToSolrFailed();
    void SetPushDataToSolrFailed(bool bFailed);

    std::string GetSolrFailureReason() const;
    void SetSolrFailureReason(const std::string &strReason);

    CSolrTransmitterCallbackPtr GetCallback();
    boost::shared_ptr<FXEvent> GetItemQueuedEvent();
    bool IsDataConfiguredFromBag() const;

    // True once Start has made the free-slot semaphore; it stays until destruction.
    bool IsQueueCreated() const { return static_cast<bool>(m_ptrQueueSemaphore); }

    // Failures file (SolrFailuresFile.cpp).
    CKyError OpenSolrFailuresFile();
    static int64_t CountLines(const std::string &strPath);
    CKyError AddItemToSolrFailures(const std::vector<std::string> &vecItems);
    // Items that will not be indexed: sets the push-failed flag, writes their names to the
    // failures file (a failed write is logged) and empties the list.
    void RecordItemsAsFailed(std::list<CItemPtr> &lstItems);
    void CloseSolrFailuresFile();
    int64_t GetFailedItemCount();

    // Option-bag translation (startup/ConfigureFromBag.cpp, startup/ConfigureFromBagLogWriter.cpp).
    CKyError ConfigureFromBag();
    CKyError ConfigureFromBag_LogWriter();
    CKyError Configure_IndexingServer();

    // Fields, in declaration order; the comment names the lock every reader and writer holds
    // ("none": written on the job's thread only while no other thread reads it).
    CSolrTransmitter *m_pTransmitter;                   // none; not owned
    CBagPtr m_ptrOptionsBag;                            // none
    eIDX_Transmitter_Type m_eTransmitterType;           // none
    boost::shared_ptr<TqSemaphore> m_ptrQueueSemaphore; // none; made by Start
    int32_t m_nMaxQueueSize;                            // none
    mutable FXCriticalSection m_lockQueue;
    FXCriticalSection m_lockStubFilters;
    std::list<CItemPtr> m_lstQueuedItems; // queue lock
    int64_t m_llItemsQueued;              // queue lock
    int64_t m_llFailedItemCount;          // failures-file lock
    uint32_t m_nQueueTimeoutInMins;       // none
    int32_t m_nTransmitterThreads;        // none
    FXCriticalSection m_lockWorkers;
    std::list<IIdxTransmitterThreadPtr> m_lstWorkers; // worker-list lock
    CTransmitterOptionsPtr m_ptrOptions;              // the record's own
    FXCriticalSection m_lockPushFailed;
    bool m_bPushDataToSolrFailed;                    // push-failed lock
    bool m_bDataConfiguredFromBag;                   // none
    boost::shared_ptr<FXEvent> m_ptrItemQueuedEvent; // the event's own
    FXCriticalSection m_lockFailuresFile;
    auto_fileptr m_fpSolrFailures;      // failures-file lock
    std::string m_strSolrFailureReason; // queue lock
    boost::shared_ptr<CTimeCounter> m_ptrCollectSecurityInfoTimer;
    boost::shared_ptr<CTimeCounter> m_ptrQueueFullWaitTimer;
    boost::shared_ptr<CTimeCounter> m_ptrGetQueuedItemsTimer;
    boost::shared_ptr<CTimeCounter> m_ptrGuidGenerationTimer;    // made by whoever measures it
    std::vector<std::string> m_vecFieldsToPush;                  // none
    bool m_bSendPartialData;                                     // none
    boost::shared_ptr<CStubbingFilterInterface> m_ptrStubFilter; // stub-filter lock
    bool m_bStubFiltersInitialized;                              // stub-filter lock
    boost::shared_ptr<CSolrPeriodicCommitThread> m_ptrPeriodicCommitThread; // none
    TQBkpJobClient *m_pBackupJobClient;                                     // none; not owned
    uint32_t m_nCollectID;                                                  // none
    int64_t m_llCollectOffset;                                              // none
    int32_t m_nDisableSolrPerfThread;                                       // none
    boost::shared_ptr<CTimeCounter> m_ptrAdditionalPropertiesTimer;
    bool m_bFolderStatsSent; // none
};

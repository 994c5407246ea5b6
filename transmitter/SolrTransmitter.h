// The transmitter object a job drives: configured by four setters, started, fed items through its
// bounded queue, then drained, stopped and committed.
//
// The object holds almost nothing itself: its state is CSolrTransmitterPrivate, shared with every
// worker. The virtual operations are the points a host (or a test) may replace; in particular
// GetIdxTransmitterThreadObj decides which worker class serves the transmitter type. What is
// thrown inside an operation (an allocation, the job's own callback, a replaced factory) comes
// back as its error value, never as an exception.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"
#include "platform/Bag.h"
#include "platform/Item.h"
#include "transmitter/TransmitterTypes.h"

class CAlertableEventThread;
class CXHSMLowLevelCtx;
class TQBkpJobClient;
class CAnalyticsItemAddInfo;
class CStubbingFilterInterface;
typedef boost::shared_ptr<CAnalyticsItemAddInfo> CAnalyticsItemAddInfoPtr;

class IDX_EXPORT CSolrTransmitter {
public:
    explicit CSolrTransmitter(eIDX_Transmitter_Type eType = eIDX_Transmitter_Solr);
    // Runs the end of a job once more (wait, stop, commit; errors only logged) and makes sure no
    // worker thread outlives the object.
    virtual ~CSolrTransmitter();

    CSolrTransmitter(const CSolrTransmitter &) = delete;
    CSolrTransmitter &operator=(const CSolrTransmitter &) = delete;

    // Runs the option-bag translation, makes the free-slot semaphore and the workers, opens the
    // failures file and starts the performance log thread. Success at once while workers exist.
    virtual CKyError Start();

    // End of a job.
    virtual CKyError WaitForQueueToEmpty();
    virtual CKyError Commit();
    virtual CKyError Stop();

    // Sets the abort flag, stops every worker and empties the queue so that a blocked queueing
    // call wakes and is refused with 995. Nothing happens before Start.
    virtual CKyError Abort(bool bFlag);

    // Queues a ready item unchanged.
    virtual CKyError AddToQueue(CItemPtr ptrItem);

    // One-shot engine requests, on a worker made for the call and never started
    // (transmitter/SolrTransmitterEngineRequests.cpp, as is IsSolrEngineRunning; GetRestartString
    // is defined with the engine worker, engine/SolrTransmitterRestart.cpp).
    virtual CKyError ClearDataSource(const std::string &strDataSource);
    virtual CKyError PruneAuditSource(const std::string &strEventTime, const std::string &strAppId);
    virtual CKyError SyncAuditAndMainSource(int32_t nEventBits, const std::string &strAppId);

    virtual bool IfPushDataToSolrFailed();
    virtual std::string GetSolrFailureReason();
    virtual CKyError IsSolrEngineRunning(bool &bRunning);
    virtual CKyError WaitAndCommit();

    // A new, unstarted worker of the class the transmitter type selects; empty when it cannot be
    // made. It asks the worker factory that startup/ passes in (transmitter/TransmitterAssembly.h,
    // logwriter/TransmitterWorkerFactory.cpp).
    virtual IIdxTransmitterThreadPtr GetIdxTransmitterThreadObj();

    // Not owned; allowed at any time.
    virtual void SetBackupJobClient(TQBkpJobClient *pBackupJobClient);

    // Setters, refused with 774 once Start has made the free-slot semaphore. A queue size below 1
    // and a negative worker count are refused with 87.
    CKyError SetMaxQueueSize(int nMaxQueueSize);
    CKyError SetNumberofTransmitterThreads(int nThreads);
    CKyError SetCallback(CSolrTransmitterCallbackPtr ptrCallback);
    CKyError SetOptions(CBagPtr ptrOptionsBag);

    // Queueing family. The item form attaches an analytics record with the given values; the
    // path forms look the item up first (a leading "UNC-NT_" stands for a network path).
    CKyError BuildAndAddToQueue(CItemPtr ptrItem, unsigned int nCollectId,
                                long long llCollectOffset, bool bSkippedForArchiving, bool bIsStub,
                                CAnalyticsItemAddInfoPtr ptrAddInfo);
    CKyError BuildAndAddToQueue(const std::string &strPath, unsigned int nCollectId,
                                long long llCollectOffset, bool bIsStub, bool bSelectedForAccess);
    CKyError BuildAndAddToQueue(const std::string &strItemPath, const std::string &strParentPath,
                                unsigned int nCollectId, long long llCollectOffset, bool bIsStub,
                                bool bSelectedForAccess);
    CKyError BuildAndAddToQueue(const std::string &strPath, CAnalyticsItemAddInfoPtr ptrAddInfo,
                                bool bSelectedForAccess);
    CKyError BuildAndAddToQueue(const std::string &strPath, const std::string &strContentId,
                                const std::string &strItemURL);
    CKyError BuildAndAddDeletedItemsToQueue(const std::string &strPath);
    CKyError InitializeStubFilters(const std::string &strPath);

    CKyError GetRestartString(int nCollectIds, std::string &strRestartString);

    // Queries and switches; none depends on Start.
    bool IsAborted();
    int64_t GetFailedItemCount();
    bool IsNasClient();
    void PopulateFieldsToPush(const std::vector<std::string> &vecFields);
    void SendPartialData(bool bSendPartialData);
    void SetCollectID(uint32_t nCollectId);
    void SetOffset(int64_t llOffset);

protected:
    CKyError InitializePeriodicCommitThread();

    boost::shared_ptr<CAlertableEventThread> m_ptrPerformanceLogThread;
    CSolrTransmitterPrivatePtr m_ptrSolrTransmitterPrivate;
    boost::shared_ptr<CXHSMLowLevelCtx> m_ptrHSMLowLevelCtx;

private:
    // Stops (and joins) every listed worker and empties the list; the workers hold the shared
    // state, so this is what lets it go.
    void StopAndReleaseWorkers();
    // The stub filter of the path-queueing forms, set up from the first path they are given.
    CKyError GetStubFilter(const std::string &strPath,
                           boost::shared_ptr<CStubbingFilterInterface> &ptrFilter);
    // The item form's work once its caller has checked the queue and the item: attaches the
    // analytics record and queues the item.
    CKyError QueueWithAnalytics(CItemPtr ptrItem, unsigned int nCollectId,
                                long long llCollectOffset, bool bSkippedForArchiving, bool bIsStub,
                                CAnalyticsItemAddInfoPtr ptrAddInfo);
};

// The index-engine worker of a transmitter (type 0, and any unknown type): drains the shared
// queue in batches, hands each batch to the sender the job's mode selects, makes the control
// requests and keeps its own performance counters. Everything it says to the index engine goes
// through the exchange it owns (engine/EngineExchange.h): the post, answer reading, the failure
// policy, the retry wait and the cancel check.
//
// The class is spread over several units: life cycle and batch loop (SolrTransmitterThread.cpp),
// control requests (SolrTransmitterThreadControl.cpp), counters
// (SolrTransmitterThreadCounters.cpp). The web-service plug-in's task is set up and finished by
// the functions of engine/WebServiceTask.h. What the worker sends is its sender's business (an
// IItemSender made by the factory it is given, documents/ItemSenderFactory.h), chosen once at its
// start.
//
// A worker made for one request (ping, commit, clear, prune, sync, folder statistics) is never
// started: it has no timers and its exchange sets the HTTP handle up on its first post. Every
// engine request of a worker runs on one thread at a time (its own, or the caller's for such a
// worker).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include "engine/EngineExchange.h"
#include "engine/ItemSender.h"
#include "platform/Clock.h"
#include "platform/Item.h"
#include "platform/KyXml.h"
#include "platform/TQLibCurl.h"
#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrThreadPerfCounters.h"

class CItemBatch;

class CFilterSet;

namespace TQLX_ContentIndexing {
// The web-service plug-in's handler (platform/CIWebServiceHandler.h), loaded at run time.
class ICIWSHandler;
class CCIItemInfo;
typedef boost::shared_ptr<CCIItemInfo> CCIItemInfoPtr;
} // namespace TQLX_ContentIndexing
namespace App {
class NameValueMap;
} // namespace App

class CSolrTransmitterThread : public CIdxTransmitterThread {
public:
    // Nothing is started or connected; the exchange's HTTP handle is made but not set up.
    // fnMakeSender makes the worker's sender when it starts (documents/ItemSenderFactory.h).
    CSolrTransmitterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                           CTransmitterOptionsPtr ptrOptions, FItemSenderFactory fnMakeSender);
    // Logs the counters (when the start made them) and stops the thread if it still runs.
    ~CSolrTransmitterThread() override;

    // Event-thread hooks (SolrTransmitterThread.cpp); the loop is the base's (OnEvent).
    void OnStart() override;
    // The worker takes ready batches only: while a partial batch lingers in the queue its wait
    // ends when the linger is over (CIdxTransmitterThread::WaitForEventOrLinger).
    uint32_t WaitForEvent() override;
    void OnStop() override;

    // The worker's exchange with the engine; the senders and tests post through it.
    CEngineExchange &Exchange() { return m_exchange; }

    // Control requests (SolrTransmitterThreadControl.cpp), posted through the exchange. A failed
    // request is logged and reported as success; only the ping reports its outcome.
    CKyError SendCommit() override;
    bool IsIdxEngineRunning() override;
    CKyError SendDeleteDataSourceContent(const std::string &strDataSource) override;
    CKyError PruneAuditCore(const std::string &strEventTime, const std::string &strAppId) override;
    CKyError SendComputeFolderStats() override;
    CKyError SyncAuditAndMainCore(int32_t nEventBits, const std::string &strAppId) override;

    // Performance counters (SolrTransmitterThreadCounters.cpp). Both do nothing until the start
    // hook has made the timers; GetPerformanceCounters may run on another thread while the
    // worker works.
    CKyError LogPerformanceCounters() override;
    CKyError GetPerformanceCounters(SolrThreadPerfCounters &counters);
    // GetPerformanceCounters for the performance log thread: always true (a worker whose start
    // did not make its timers leaves the counters as they are).
    bool ReadPerformanceCounters(SolrThreadPerfCounters &counters) override;

    // ---- What the senders and builders (documents/) use of the worker ----
    // The timers of the worker's performance counters (SolrTransmitterThreadCounters.cpp).
    enum class ETimer {
        ePostRequest,
        eReadContent,
        eGenerateCRC32,
        eSendVMItems,
        eChangeTime,
        eOwnerAndAcl,
        eSendItems,
        eBuildItems
    };
    // Null until the start hook has made the timers.
    CTimeCounter *GetTimer(ETimer eTimer) const;
    CTransmitterOptions &GetOptions() const { return *m_ptrOptions; }
    CSolrTransmitterPrivate &GetSharedState() const { return *m_ptrSolrTransmitterPrivate; }
    // One metadata request of llItems items went out (whether it succeeded or not).
    void NoteTransmitted(int64_t llItems);
    // The web-service plug-in's handler; null until the start hook made it (and for other jobs).
    const boost::shared_ptr<TQLX_ContentIndexing::ICIWSHandler> &GetWebServiceHandler() const {
        return m_ptrWebServiceHandler;
    }
    // The job's filters, filled by the start hook.
    struct SJobFilters {
        boost::shared_ptr<CFilterSet> ptrInclude;
        boost::shared_ptr<CFilterSet> ptrExclude;
        boost::shared_ptr<CFilterSet> ptrExcludePaths;
    };
    const SJobFilters &GetFilters() const { return m_filters; }
    // A web-service sender's batch when the worker has no handler (its start ended before the
    // handler was made): every item fails and the transmitter aborts with the start's error.
    CKyError RefuseWebServiceBatch(CItemBatch &batch);

protected:
    // The worker loop's work (CIdxTransmitterThread::OnEvent): batches of the job's batch size,
    // each handed to the sender chosen at the start (made then if the worker never started); a
    // failed batch is logged and the loop goes on.
    int GetBatchSize() override;
    CKyError ProcessBatch(CItemBatch &batch) override;
    bool OnBatchError(const CKyError &error, std::string &strAbortReason) override;

    // Fields, in declaration order. All are used on the worker's own thread only, except the
    // counters-ready flag, the timers and the two totals, which the performance thread reads.
    std::atomic<bool> m_bCountersReady;
    boost::shared_ptr<TQLX_ContentIndexing::ICIWSHandler> m_ptrWebServiceHandler;
    // Why a web-service job's start ended without a handler; success while there is no reason.
    CKyError m_webServiceStartError;
    boost::shared_ptr<CTimeCounter> m_ptrReadContentTimer;
    boost::shared_ptr<CTimeCounter> m_ptrGenerateCRC32Timer;
    boost::shared_ptr<CTimeCounter> m_ptrSendVMItemsTimer;
    SJobFilters m_filters;
    boost::shared_ptr<CTimeCounter> m_ptrChangeTimeTimer;
    boost::shared_ptr<CTimeCounter> m_ptrOwnerAndAclTimer;
    // Fed by the metadata sender after each post, whether it succeeded or not.
    std::atomic<int64_t> m_llTransmittedItems;
    std::atomic<int64_t> m_llTransmittedPackets;
    boost::shared_ptr<CTimeCounter> m_ptrSendItemsTimer;
    boost::shared_ptr<CTimeCounter> m_ptrBuildItemsTimer;

    // How the worker's sender is made, and the sender, chosen once when the worker starts.
    FItemSenderFactory m_fnMakeSender;
    std::unique_ptr<IItemSender> m_ptrSender;

    // Made with the worker; its post-request timer is made at the start with the others.
    CEngineExchange m_exchange;
};

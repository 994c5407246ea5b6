// Life cycle of the index-engine worker: construction, start (HTTP handle, web-service plug-in,
// filters, timers), the batch loop, the choice of the sender and the stop.
#include "engine/SolrTransmitterThread.h"

#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "engine/WebServiceTask.h"
#include "foundation/ErrorCodes.h"
#include "foundation/StringHelpers.h"
#include "platform/CIWebServiceHandler.h"
#include "platform/FilterSet.h"
#include "platform/LogWriter.h"
#include "platform/TQLibCurl.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// The collaboration-site web service on the local machine.
const char *const kSPWebServiceUrl = "http://localhost:81/IndexGateway/api/TqWebService.svc";
const int kSPWebServiceMode = 2;
const int kSPApplicationType = 78;
const int kVMApplicationType = 106;
// Where the virtual-machine catalogue options keep the web-service mode and URL.
const int32_t kVMModeTag = 63;
const int32_t kVMUrlIndex = 28;
const int32_t kVMUrlTag = 64;

} // namespace

CSolrTransmitterThread::CSolrTransmitterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                                               CTransmitterOptionsPtr ptrOptions,
                                               FItemSenderFactory fnMakeSender)
    : CIdxTransmitterThread(ptrSolrTransmitterPrivate, ptrOptions), m_bCountersReady(false),
      m_ptrIncludeFilters(boost::make_shared<CFilterSet>()),
      m_ptrExcludeFilters(boost::make_shared<CFilterSet>()),
      m_ptrExcludePaths(boost::make_shared<CFilterSet>()), m_llTransmittedItems(0),
      m_llTransmittedPackets(0), m_fnMakeSender(std::move(fnMakeSender)),
      m_exchange(ptrOptions, ptrSolrTransmitterPrivate, boost::make_shared<TQLibCurl>(),
                 SEngineExchangeOwner{[this] { return IsStopRequested(); },
                                      [this] { return IsRunning(); },
                                      [this](const CKyError &error, const std::string &strReason) {
                                          AbortThread(error, strReason);
                                      }}) {}

CSolrTransmitterThread::~CSolrTransmitterThread() {
    // The hooks use the members below: the thread must be over before any of them goes.
    StopBeforeDestruction();
    LogPerformanceCounters();
}

void CSolrTransmitterThread::OnStart() {
    // Chosen first: a start that ends early still leaves a sender, which fails what it is given
    // (a web-service sender without its handler refuses the batch).
    try {
        if (!m_ptrSender && m_fnMakeSender) {
            m_ptrSender = m_fnMakeSender(*this);
        }
    } catch (...) {
        // No memory for the sender: the first batch asks again (SendBatch).
        CKyError error = ErrorFromCaughtException(FXLOC);
        IDX_LOG_ERROR("Failed to make the sender, error=%s", error.AsString().c_str());
    }
    {
        CKyError error = InitializeJobThread();
        if (error.IsError()) {
            // A web-service job's worker then has no handler: its batches are refused with this.
            m_webServiceStartError = error;
            return;
        }
    }

    CEngineExchange::LoadTqCurlLib();

    CKyError error = m_exchange.InitializeCurlObject();
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to initialize curl object, error=%s", error.AsString().c_str());
        AbortThread(error, std::string());
        return;
    }

    if (m_ptrOptions->IsVMContentIndexing()) {
        VirtualServer::VMCatalogOptions &vmOptions = m_ptrOptions->GetVMCatalogOptions();
        const int nMode = static_cast<int32_t>(vmOptions.getint64(kVMModeTag));
        error = InitializeWebServiceHandler(
            m_ptrOptions, m_ptrSolrTransmitterPrivate, m_ptrWebServiceHandler, nMode,
            vmOptions.getstring(kVMUrlIndex, kVMUrlTag), kVMApplicationType);
    } else if (m_ptrOptions->IsSPContentIndexing()) {
        error = InitializeWebServiceHandler(m_ptrOptions, m_ptrSolrTransmitterPrivate,
                                            m_ptrWebServiceHandler, kSPWebServiceMode,
                                            kSPWebServiceUrl, kSPApplicationType);
    }
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to initialize web service object, error=%s",
                      error.AsString().c_str());
        m_webServiceStartError = error;
        AbortThread(error, std::string());
        return;
    }

    // A refused pattern is skipped: one bad filter must not stop the job.
    for (const std::string &strFilter : m_ptrOptions->GetIncludeFiltersSet()) {
        m_ptrIncludeFilters->AddFilterItem(strFilter, 1);
    }
    for (const std::string &strFilter : m_ptrOptions->GetExcludeFiltersSet()) {
        m_ptrExcludeFilters->AddFilterItem(strFilter, 1);
    }
    for (const std::string &strPath : m_ptrOptions->GetExcludePaths()) {
        IDX_LOG(2, "Excluding path [%s]", strPath.c_str());
        m_ptrExcludePaths->AddFilterItem(strPath, 1);
    }

    m_exchange.MakePostRequestTimer();
    m_ptrReadContentTimer = boost::make_shared<CTimeCounter>("ReadContent");
    m_ptrGenerateCRC32Timer = boost::make_shared<CTimeCounter>("GenerateCRC32");
    m_ptrSendVMItemsTimer = boost::make_shared<CTimeCounter>("SendVMItemsToWebService");
    m_ptrChangeTimeTimer = boost::make_shared<CTimeCounter>("ChangeTime");
    m_ptrOwnerAndAclTimer = boost::make_shared<CTimeCounter>("OwnerAndAcl");
    m_ptrSendItemsTimer = boost::make_shared<CTimeCounter>("SendItems");
    m_ptrBuildItemsTimer = boost::make_shared<CTimeCounter>("BuildItems");
    // Published last: the performance thread reads the timers only once it sees this.
    m_bCountersReady.store(true, std::memory_order_release);
}

void CSolrTransmitterThread::OnEvent() {
    if (m_ptrSolrTransmitterPrivate->Abort().IsAborted(CAbortState::eNotAbortedLogged)) {
        AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted), std::string());
        return;
    }

    SetIdle(false);

    const int nMaxItems = m_ptrOptions->GetMaxItemsPerTransaction();
    // The items each batch settles go back to the queue with the next take; what the last batch
    // of the pass leaves goes back when the pass ends.
    std::list<CItemPtr> lstSettled;
    CSettledItemsReturn settledReturn(m_ptrSolrTransmitterPrivate->Queue(), lstSettled);
    for (;;) {
        // The batch owns what it takes until each item is sent or failed; whatever it still
        // holds when it goes (an error, an exception, an abort) is recorded as failed.
        CItemBatch batch(*m_ptrSolrTransmitterPrivate, lstSettled);
        // A full batch, or a partial one that has lingered or was flushed; a younger partial
        // batch stays queued for more items, and the wait that follows ends when it has
        // lingered.
        bool bLeftEmpty = false;
        batch.TakeBatchFromQueue(nMaxItems, &bLeftEmpty);
        if (batch.IsEmpty()) {
            NoteQueueLeftEmpty(bLeftEmpty);
            // Stays busy until the next wait marks it idle, so the end-of-job wait never sees an
            // idle worker that is still between its last batch and its wait.
            return;
        }

        CKyError error;
        try {
            error = SendBatch(batch);
        } catch (...) {
            // An exception out of a sender (no memory for a document or a file's content, the
            // job's own callback) is that batch's error like any other. Left to the thread
            // framework it would end this worker without a word: the queue no longer drained
            // and, once it is full, the job's thread waiting for ever.
            error = ErrorFromCaughtException(FXLOC);
            batch.SetReason("an exception ended the sender (the error is logged as \"Send "
                            "failed\")");
        }
        if (error.IsError()) {
            IDX_LOG_ERROR("Send failed, error=%s", error.AsString().c_str());
        }

        if (m_ptrSolrTransmitterPrivate->Abort().IsAborted(CAbortState::eNotAbortedLogged)) {
            batch.SetReason("the transmitter was aborted before they were sent");
            AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted),
                        std::string());
            SetIdle(true);
            return;
        }
    }
}

uint32_t CSolrTransmitterThread::WaitForEvent() {
    return WaitForEventOrLinger(m_ptrOptions->GetMaxItemsPerTransaction());
}

CKyError CSolrTransmitterThread::SendBatch(CItemBatch &batch) {
    if (!m_ptrSender && m_fnMakeSender) {
        m_ptrSender = m_fnMakeSender(*this);
    }
    if (!m_ptrSender) {
        CKyError error =
            FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure, "The worker has no sender");
        batch.FailAll("the worker has no sender");
        return error;
    }
    return m_ptrSender->Send(batch);
}

CKyError CSolrTransmitterThread::RefuseWebServiceBatch(CItemBatch &batch) {
    CKyError error = m_webServiceStartError;
    if (!error.IsError()) {
        error = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                        "The worker has no web-service handler");
    }
    IDX_LOG_ERROR("No web-service handler to send %zu items to, error=%s", batch.GetSize(),
                  error.AsString().c_str());
    batch.FailAll("the worker could not make its web-service handler, error=" + error.AsString());
    AbortThread(error, std::string());
    return error;
}

void CSolrTransmitterThread::OnStop() {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 5);

    if (HasError()) {
        return;
    }
    FinishWebServiceTask(*m_ptrOptions, m_ptrSolrTransmitterPrivate->Abort(),
                         m_ptrWebServiceHandler.get());
}

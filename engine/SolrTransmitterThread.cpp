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
    : CIdxTransmitterThread(ptrSolrTransmitterPrivate, ptrOptions),
      m_bCountersReady(false), m_filters{boost::make_shared<CFilterSet>(),
                                         boost::make_shared<CFilterSet>(),
                                         boost::make_shared<CFilterSet>()},
      m_llTransmittedItems(0), m_llTransmittedPackets(0), m_fnMakeSender(std::move(fnMakeSender)),
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
        // No memory for the sender: the first batch asks again (ProcessBatch).
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
        m_filters.ptrInclude->AddFilterItem(strFilter, 1);
    }
    for (const std::string &strFilter : m_ptrOptions->GetExcludeFiltersSet()) {
        m_filters.ptrExclude->AddFilterItem(strFilter, 1);
    }
    for (const std::string &strPath : m_ptrOptions->GetExcludePaths()) {
        IDX_LOG(2, "Excluding path [%s]", strPath.c_str());
        m_filters.ptrExcludePaths->AddFilterItem(strPath, 1);
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

int CSolrTransmitterThread::GetBatchSize() {
    return m_ptrOptions->GetMaxItemsPerTransaction();
}

bool CSolrTransmitterThread::OnBatchError(const CKyError &error, std::string &) {
    // The senders settle each item by the failure policy: a failed batch does not end the job.
    IDX_LOG_ERROR("Send failed, error=%s", error.AsString().c_str());
    return false;
}

uint32_t CSolrTransmitterThread::WaitForEvent() {
    return WaitForEventOrLinger(GetBatchSize());
}

CKyError CSolrTransmitterThread::ProcessBatch(CItemBatch &batch) {
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

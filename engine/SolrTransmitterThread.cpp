// Life cycle of the index-engine worker: construction, start (HTTP handle, web-service plug-in,
// filters, timers), the batch loop and the stop.
#include "engine/SolrTransmitterThread.h"

#include <curl/curl.h>

#include <string>
#include <vector>

#include <boost/make_shared.hpp>

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

std::atomic<bool> CSolrTransmitterThread::m_bCurlWrapperloaded{false};

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

// The engine answers a worker's requests with a short status document (an error page with a
// stack trace at worst). The handle keeps no more than this of an answer, so that a misdirected
// URL or a broken proxy cannot make every worker hold hundreds of megabytes; a longer answer is
// cut there and the request counts by its HTTP status.
const size_t kMaxEngineAnswerBytes = 1024 * 1024;

} // namespace

CSolrTransmitterThread::CSolrTransmitterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                                               CTransmitterOptionsPtr ptrOptions)
    : CIdxTransmitterThread(ptrSolrTransmitterPrivate, ptrOptions), m_bCountersReady(false),
      m_llConsecutiveFailures(0), m_ptrCurl(boost::make_shared<TQLibCurl>()),
      m_ptrIncludeFilters(boost::make_shared<CFilterSet>()),
      m_ptrExcludeFilters(boost::make_shared<CFilterSet>()),
      m_ptrExcludePaths(boost::make_shared<CFilterSet>()), m_setCompressedExtensions{"7Z",  "ZIP",
                                                                                     "TGZ", "GZ",
                                                                                     "BZ2", "TBZ2",
                                                                                     "XZ",  "TXZ"},
      m_bUseDynamicTppm(false), m_llTransmittedItems(0), m_llTransmittedPackets(0) {
    m_ptrCurl->SetMaxAnswerSize(kMaxEngineAnswerBytes, true);
    m_ptrCurl->SetCancelCheck([this](const TQLibCurl::STransferState &state) {
        return ShouldGiveUpTransfer(state.bStarting, state.llElapsedMs, state.llIdleMs);
    });
}

CSolrTransmitterThread::~CSolrTransmitterThread() {
    // The hooks use the members below: the thread must be over before any of them goes.
    StopBeforeDestruction();
    LogPerformanceCounters();
}

CKyError CSolrTransmitterThread::LoadTqCurlLib() {
    m_bCurlWrapperloaded.store(true);
    return CKyError::Success();
}

std::atomic<long> CSolrTransmitterThread::s_nPingIdleSecondsForTest{0};

void CSolrTransmitterThread::SetPingIdleLimitForTest(long nSeconds) {
    s_nPingIdleSecondsForTest.store(nSeconds);
}

bool CSolrTransmitterThread::PingWithIdleLimit(const std::function<bool()> &fnPing) {
    const long nForTest = s_nPingIdleSecondsForTest.load();
    const long nSeconds = nForTest > 0 ? nForTest : kPingIdleSeconds;
    // Put back on every way out: the job's own requests keep the handle's long limit.
    struct CRestoreStallLimit {
        TQLibCurl &curl;
        ~CRestoreStallLimit() {
            curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_LOW_SPEED_TIME,
                                                       TQLibCurl::kDefaultStallSeconds);
        }
    } restore{*m_ptrCurl};
    if (!m_ptrCurl->TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_LOW_SPEED_TIME, nSeconds)) {
        IDX_LOG_ERROR("Failed to set the ping's idle limit, error=%s",
                      m_ptrCurl->GetLastErrorText().c_str());
    }
    return fnPing();
}

CKyError CSolrTransmitterThread::InitializeCurlObject() {
    if (!m_ptrCurl->TQLibCurlInit(kXmlHeaderLine, true, true, nullptr)) {
        IDX_LOG_ERROR("Failed to initialize curl object");
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to initialize curl object");
    }
    if (!m_ptrCurl->TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_NOSIGNAL, 1)) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to set curl option:[CURLOPT_NOSIGNAL]");
    }

    if (!m_ptrOptions->IsVMContentIndexing() && !m_ptrOptions->IsSPContentIndexing()) {
        std::string strPingUrl;
        if (m_ptrOptions->IsAuditingContext()) {
            strPingUrl = m_ptrOptions->GetAuditSolrUrl();
            const std::string strUpdate = "update";
            if (strPingUrl.size() >= strUpdate.size() &&
                FXString::MatchesNoCase(strPingUrl.substr(strPingUrl.size() - strUpdate.size()),
                                        strUpdate)) {
                strPingUrl.resize(strPingUrl.size() - strUpdate.size());
            }
        } else {
            strPingUrl = m_ptrOptions->GetBaseSolrUrl();
        }
        strPingUrl += "admin/ping";

        m_bUseDynamicTppm = m_ptrOptions->GetUseDynamicTppm();
        IDX_LOG(4, "BaseSolrUrl=[%s], GetSolrClientName=[%s]", strPingUrl.c_str(),
                m_ptrOptions->GetSolrClientName().c_str());
        std::atomic<int> &nRoute = m_ptrSolrTransmitterPrivate->EngineRoute();
        const int nDecided = nRoute.load();
        if (nDecided >= 0) {
            m_bUseDynamicTppm = nDecided != 0;
        } else {
            const bool bAnswered = PingWithIdleLimit([&] {
                return m_ptrCurl->TQLibCurlDynamiceTppmCheck(
                    strPingUrl, m_ptrOptions->GetSolrClientName(), m_bUseDynamicTppm);
            });
            if (!bAnswered) {
                IDX_LOG(2, "Failed to decide if dynamictppm option must be used, proceeding "
                           "further with direct connection");
            }
            nRoute.store(m_bUseDynamicTppm ? 1 : 0);
        }
    }

    m_strHttpHeader = kXmlHeaderLine;
    return CKyError::Success();
}

void CSolrTransmitterThread::OnStart() {
    {
        CKyError error = InitializeJobThread();
        if (error.IsError()) {
            // A web-service job's worker then has no handler: its batches are refused with this.
            m_webServiceStartError = error;
            return;
        }
    }

    if (!m_bCurlWrapperloaded.load()) {
        LoadTqCurlLib();
    }

    CKyError error = InitializeCurlObject();
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to initialize curl object, error=%s", error.AsString().c_str());
        AbortThread(error, std::string());
        return;
    }

    if (m_ptrOptions->IsVMContentIndexing()) {
        VirtualServer::VMCatalogOptions &vmOptions = m_ptrOptions->GetVMCatalogOptions();
        const int nMode = static_cast<int32_t>(vmOptions.getint64(kVMModeTag));
        error = InitializeWebServiceHandler(nMode, vmOptions.getstring(kVMUrlIndex, kVMUrlTag),
                                            kVMApplicationType);
    } else if (m_ptrOptions->IsSPContentIndexing()) {
        error =
            InitializeWebServiceHandler(kSPWebServiceMode, kSPWebServiceUrl, kSPApplicationType);
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

    m_ptrPostRequestTimer = boost::make_shared<CTimeCounter>("PostRequest");
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
    if (m_ptrOptions->IsVMContentIndexing()) {
        return SendVMItemsToWebService(batch);
    }
    if (m_ptrOptions->IsSPContentIndexing()) {
        return SendSPItemsToWebService(batch);
    }
    if (m_ptrOptions->IsAuditingContext() && !m_ptrOptions->GetAuditSolrUrl().empty()) {
        return SendAuditItems(batch);
    }
    if (m_ptrOptions->IsPushOnlyMetaData()) {
        return SendItems(batch);
    }
    return SendItemsWithContent(batch);
}

void CSolrTransmitterThread::OnStop() {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 5);

    if (HasError()) {
        return;
    }
    FinishWebServiceTask();
}

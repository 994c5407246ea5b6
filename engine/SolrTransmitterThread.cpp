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

bool CSolrTransmitterThread::IsTransmitterThreadAborted() {
    return m_ptrOptions->IsAborted();
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
        std::atomic<int> &nRoute = m_ptrSolrTransmitterPrivate->m_nEngineRoute;
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

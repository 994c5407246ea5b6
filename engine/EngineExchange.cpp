// The index-engine worker's one HTTP path: the handle's set-up, post, read the answer into a
// status, let the failure policy decide on a retry, and report the final outcome.
#include "engine/EngineExchange.h"

#include <curl/curl.h>

#include <cstdint>
#include <string_view>
#include <utility>

#include <boost/make_shared.hpp>

#include "engine/EngineStatus.h"
#include "foundation/ErrorCodes.h"
#include "foundation/StringHelpers.h"
#include "platform/LogWriter.h"
#include "platform/TQLibCurl.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// URLs must fit a 64 KiB buffer with its terminating zero. A longer one is refused whole rather
// than cut, since a cut URL would post to another address or lose literal parameters silently.
const size_t kMaxUrlBytes = 65536;

const char *const kJsonHeaderLine = "Content-Type: text/json";

// The engine answers a worker's requests with a short status document (an error page with a
// stack trace at worst). The handle keeps no more than this of an answer, so that a misdirected
// URL or a broken proxy cannot make every worker hold hundreds of megabytes; a longer answer is
// cut there and the request counts by its HTTP status.
const size_t kMaxEngineAnswerBytes = 1024 * 1024;

// A request in flight when the end of the work is asked for is given up once it has moved no
// byte for this long, or this long after the end was seen at the latest: an answer that is
// arriving is still taken, a stalled one is not waited for.
const int64_t kInFlightIdleLimitMs = 200;
const int64_t kInFlightGraceMs = 500;
// A request made after the end was asked for is given up once it has moved no byte for this
// long: an engine that answers still gets it, a stalled one cannot hold the job.
const int64_t kIdleLimitAfterEndMs = 2000;
// How often a transfer asks the abort test, which asks the job's own quit query.
const int64_t kAbortPollMs = 900;

// Longest piece of the engine's error message that a log line or the job's failure reason quotes:
// an answer may be as long as the whole bounded body.
const size_t kMaxQuotedMessageBytes = 1024;

// At most nMaxBytes of strText, cut before a UTF-8 sequence rather than inside it.
std::string QuoteUpTo(const std::string &strText, size_t nMaxBytes) {
    if (strText.size() <= nMaxBytes) {
        return strText;
    }
    size_t nCut = nMaxBytes;
    while (nCut > 0 && (static_cast<unsigned char>(strText[nCut]) & 0xC0) == 0x80) {
        --nCut;
    }
    return strText.substr(0, nCut) + "...";
}

// What is known of a failed request, for the error it returns and the job's failure reason: the
// status, the engine's message and the HTTP client's own text, each when there is one.
std::string DescribeFailure(uint32_t nStatus, const std::string &strMessage,
                            const std::string &strClientError) {
    std::string strWhat = "status=[" + std::to_string(nStatus) + "]";
    if (!strMessage.empty()) {
        strWhat += ", message=[" + strMessage + "]";
    }
    if (!strClientError.empty()) {
        strWhat += ", error=[" + strClientError + "]";
    }
    return strWhat;
}

// The URL without its query, which literal parameters are added to.
std::string_view UrlPath(const std::string &strUrl) {
    return std::string_view(strUrl).substr(0, strUrl.find('?'));
}

} // namespace

std::atomic<bool> CEngineExchange::s_bCurlWrapperloaded{false};
std::atomic<long> CEngineExchange::s_nPingIdleSecondsForTest{0};

CEngineExchange::CEngineExchange(CTransmitterOptionsPtr ptrOptions,
                                 CSolrTransmitterPrivatePtr ptrState,
                                 boost::shared_ptr<TQLibCurl> ptrCurl, SEngineExchangeOwner owner)
    : m_ptrOptions(std::move(ptrOptions)), m_ptrState(std::move(ptrState)),
      m_ptrCurl(std::move(ptrCurl)), m_owner(std::move(owner)) {
    m_ptrCurl->SetMaxAnswerSize(kMaxEngineAnswerBytes, true);
    m_ptrCurl->SetCancelCheck([this](const TQLibCurl::STransferState &state) {
        return ShouldGiveUpTransfer(state.bStarting, state.llElapsedMs, state.llIdleMs);
    });
}

CKyError CEngineExchange::LoadTqCurlLib() {
    s_bCurlWrapperloaded.store(true);
    return CKyError::Success();
}

void CEngineExchange::SetPingIdleLimitForTest(long nSeconds) {
    s_nPingIdleSecondsForTest.store(nSeconds);
}

void CEngineExchange::MakePostRequestTimer() {
    m_ptrPostRequestTimer = boost::make_shared<CTimeCounter>("PostRequest");
}

bool CEngineExchange::PingWithIdleLimit(const std::function<bool()> &fnPing) {
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

CKyError CEngineExchange::Ping(const std::string &strUrl) {
    // The handle is set up before the ping's idle limit is put on it: setting it up puts the
    // handle's own limit back.
    CKyError error;
    if (m_strHttpHeader.empty()) {
        error = InitializeCurlObject();
    }
    if (!error.IsError()) {
        PingWithIdleLimit([&] {
            error = PostItems2(strUrl, std::string(), kJsonHeaderLine);
            return !error.IsError();
        });
    }
    return error;
}

CKyError CEngineExchange::InitializeCurlObject() {
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
        std::atomic<int> &nRoute = m_ptrState->EngineRoute();
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

bool CEngineExchange::ShouldGiveUpTransfer(bool bStarting, int64_t llElapsedMs, int64_t llIdleMs) {
    if (bStarting) {
        // The job's quit query is not asked here: a request that ends within a second asks the
        // job nothing more than it did before.
        m_bAbortSeen = m_ptrState->Abort().IsAbortFlagSet();
        m_llLastAbortPollMs = 0;
        m_llEndSeenAtMs = -1;
        m_bEndedBeforeTransfer = m_bAbortSeen || m_owner.fnIsStopRequested();
        return m_bAbortSeen && m_owner.fnIsRunning();
    }
    // The stop request and the transmitter's abort flag are read on every call; the full abort
    // test asks the job's quit query, so it runs only about once a second (the abort is sticky:
    // once seen, it stays).
    if (!m_bAbortSeen) {
        m_bAbortSeen = m_ptrState->Abort().IsAbortFlagSet();
    }
    if (!m_bAbortSeen && llElapsedMs - m_llLastAbortPollMs >= kAbortPollMs) {
        m_llLastAbortPollMs = llElapsedMs;
        // An exception out of the job's quit query counts as "not aborted".
        m_bAbortSeen = m_ptrState->Abort().IsAborted(CAbortState::eNotAbortedQuiet);
    }
    if (!m_owner.fnIsStopRequested() && !m_bAbortSeen) {
        return false;
    }
    if (m_bEndedBeforeTransfer) {
        return llIdleMs >= kIdleLimitAfterEndMs;
    }
    if (m_llEndSeenAtMs < 0) {
        m_llEndSeenAtMs = llElapsedMs;
    }
    return llIdleMs >= kInFlightIdleLimitMs || llElapsedMs - m_llEndSeenAtMs >= kInFlightGraceMs;
}

bool CEngineExchange::ExpectsEngineAnswer(const std::string &strUrl) const {
    const std::string_view svPath = UrlPath(strUrl);
    for (const std::string *pUrl :
         {&m_ptrOptions->GetCompleteSolrUrl(), &m_ptrOptions->GetCompleteSolrExtractUrl(),
          &m_ptrOptions->GetAuditSolrUrl()}) {
        if (!pUrl->empty() && UrlPath(*pUrl) == svPath) {
            return true;
        }
    }
    return false;
}

void CEngineExchange::NoteFailedRequest(const std::string &strReason) {
    m_ptrState->SetPushDataToSolrFailed(true);
    m_ptrState->SetFailedRequestReason(strReason);
}

CKyError CEngineExchange::PostItems2(const std::string &strUrl, const std::string &strBody,
                                     const std::string &strHeaderLine) {
    return PostRequest(strUrl, strBody.data(), strBody.size(), nullptr, strHeaderLine);
}

CKyError CEngineExchange::PostItemsFromMemory(const std::string &strUrl, const char *pBody,
                                              size_t nLength, const std::string &strHeaderLine) {
    return PostRequest(strUrl, pBody, nLength, nullptr, strHeaderLine);
}

CKyError CEngineExchange::PostItemsFromSource(const std::string &strUrl,
                                              TQLibCurl::CBodySource &source,
                                              const std::string &strHeaderLine) {
    return PostRequest(strUrl, nullptr, 0, &source, strHeaderLine);
}

CKyError CEngineExchange::PostRequest(const std::string &strUrl, const char *pBody, size_t nLength,
                                      TQLibCurl::CBodySource *pSource,
                                      const std::string &strHeaderLine) {
    // The whole call, waits of the failure policy included; a worker that never started has no
    // timer and measures nothing.
    CAutoTimeCounter timer(m_ptrPostRequestTimer.get());

    if (strUrl.size() >= kMaxUrlBytes) {
        NoteFailedRequest("Index Engine request not sent, its URL of " +
                          std::to_string(strUrl.size()) + " bytes is too long. ");
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "URL of %zu bytes not sent: URLs must be shorter than %zu "
                                       "bytes",
                                       strUrl.size(), kMaxUrlBytes);
    }
    // An engine address that was never configured (an audit URL outside auditing jobs, say)
    // cannot become reachable by waiting: no request, no retries.
    if (strUrl.empty()) {
        NoteFailedRequest("Index Engine request not sent, there is no URL to post to. ");
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter, "No URL to post to");
    }

    if (m_strHttpHeader.empty()) {
        CKyError error = InitializeCurlObject();
        if (error.IsError()) {
            return error.Push(FXLOC, "Failed to initialise curl object");
        }
    }

    // The handle keeps the line, and the header list it makes of it, from one request to the
    // next: only a request with another line changes them.
    if (!m_ptrCurl->TQLibCurlSetHeaderLine(strHeaderLine)) {
        IDX_LOG_ERROR("Failed to append content type header to curl object, content type=%s",
                      strHeaderLine.c_str());
    }

    const std::string &strClientName = m_ptrOptions->GetSolrClientName();
    const bool bExpectsAnswer = ExpectsEngineAnswer(strUrl);
    std::string strAnswer;
    std::string strMessage;
    // The engine's own words on the failure, from either kind of error answer.
    std::string strAnswerMessage;
    for (;;) {
        bool bRetry = false;
        IDX_LOG(6, "Making http request, url=[%s]", strUrl.c_str());
        // The body goes straight from the caller's text, or from its source while it is sent: a
        // content push may be large.
        bool bSendFailed =
            pSource ? !m_ptrCurl->TQLibCurlSendHttpReqFromSource(strUrl, *pSource, false,
                                                                 strClientName, m_bUseDynamicTppm)
                    : !m_ptrCurl->TQLibCurlSendHttpReq2(1, strUrl, pBody, nLength, false,
                                                        strClientName, m_bUseDynamicTppm);
        size_t nAnswerLength = 0;
        const char *pAnswer = m_ptrCurl->GetHttpResponse(nAnswerLength, false);
        if (!pAnswer) {
            nAnswerLength = 0;
        }
        uint32_t nStatus = static_cast<uint32_t>(m_ptrCurl->GetHttpErrorCode());
        IDX_LOG(6, "http response=[%s], URL=[%s]", pAnswer ? pAnswer : "", strUrl.c_str());

        const TQLibCurl::EFailure eFailure =
            bSendFailed ? m_ptrCurl->GetLastFailure() : TQLibCurl::EFailure::eNone;
        if (eFailure == TQLibCurl::EFailure::eCancelled) {
            IDX_LOG_ERROR("http post given up, the transmitter is aborted or the worker is "
                          "stopping, Request=[%s], error=%s",
                          strUrl.c_str(), m_ptrCurl->GetLastErrorText().c_str());
            NoteFailedRequest("Index Engine request given up, the transmitter is aborted or the "
                              "worker is stopping. ");
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                           "http post failed: given up, the transmitter is "
                                           "aborted or the worker is stopping");
        }
        if (eFailure == TQLibCurl::EFailure::eBodyUnreadable) {
            // The content changed or vanished under the request: sending it again cannot help.
            IDX_LOG_ERROR("http post failed, its body could not be read, Request=[%s], error=%s",
                          strUrl.c_str(), m_ptrCurl->GetLastErrorText().c_str());
            NoteFailedRequest("Index Engine request failed, its body could not be read, error=[" +
                              m_ptrCurl->GetLastErrorText() + "]. ");
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                           "http post failed: its body could not be "
                                           "read");
        }
        if (eFailure == TQLibCurl::EFailure::eUnusableUrl) {
            // No wait mends the URL itself: its batch is failed now rather than retried until
            // the queue times out.
            IDX_LOG_ERROR("http post failed, the URL cannot be used, Request=[%s], error=%s",
                          strUrl.c_str(), m_ptrCurl->GetLastErrorText().c_str());
            NoteFailedRequest("Index Engine request failed, URL [" + strUrl +
                              "] cannot be used, error=[" + m_ptrCurl->GetLastErrorText() + "]. ");
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                           "URL [%s] cannot be used: %s", strUrl.c_str(),
                                           m_ptrCurl->GetLastErrorText().c_str());
        }

        strMessage.clear();
        strAnswerMessage.clear();
        if (!bSendFailed && nStatus == EEngineStatus::eOk && nAnswerLength == 0 && bExpectsAnswer) {
            // The engine answers every update, extract and commit with a status document: no
            // body means that nothing is known to have been done.
            bSendFailed = true;
            nStatus = EEngineStatus::eEmptyAnswer;
            IDX_LOG(6, "Empty response to solr post request");
        } else if (nStatus != EEngineStatus::eOk) {
            // A 200 answer is never parsed, so the answer is only copied when it will be read.
            strAnswer.assign(pAnswer ? pAnswer : "", nAnswerLength);
            std::string strEngineMessage;
            CKyError parseError = ParseResult(strAnswer, nStatus, strMessage, &strEngineMessage);
            if (parseError.IsError()) {
                IDX_LOG_ERROR("Failed to parse http response, error=%s",
                              parseError.AsString().c_str());
            }
            strAnswerMessage = QuoteUpTo(strMessage.empty() ? strEngineMessage : strMessage,
                                         kMaxQuotedMessageBytes);
        }

        if (!bSendFailed) {
            break;
        }

        IDX_LOG_ERROR("http post failed, Request=[%s], retCode=[%lu], message=[%s]", strUrl.c_str(),
                      static_cast<unsigned long>(nStatus), strAnswerMessage.c_str());
        if (eFailure != TQLibCurl::EFailure::eNone) {
            IDX_LOG_ERROR("HTTP client error=[%s], HTTP status=[%lld], Request=[%s]",
                          m_ptrCurl->GetLastErrorText().c_str(),
                          static_cast<long long>(m_ptrCurl->GetHttpErrorCode()), strUrl.c_str());
        }
        HandleHttpError(nStatus, strMessage, bRetry);

        if (bRetry && (m_owner.fnIsStopRequested() || m_ptrState->Abort().IsAborted())) {
            IDX_LOG(1,
                    "Not retrying http request, the transmitter is aborted or the worker is "
                    "stopping, url=[%s]",
                    strUrl.c_str());
            bRetry = false;
        }
        if (bRetry) {
            if (!m_ptrCurl->TQLibCurlSetHeaderLine(strHeaderLine)) {
                IDX_LOG_ERROR(
                    "Failed to append content type header to curl object, content type=[%s]",
                    strHeaderLine.c_str());
            }
            continue;
        }

        const std::string strFailure = DescribeFailure(
            nStatus, strAnswerMessage,
            eFailure != TQLibCurl::EFailure::eNone ? m_ptrCurl->GetLastErrorText() : "");
        NoteFailedRequest("Index Engine request failed, " + strFailure + ". ");
        if (nStatus == EEngineStatus::eBadRequest) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eEngineBadRequest,
                                           "http post failed, %s", strFailure.c_str());
        }
        if (nStatus != EEngineStatus::eCompletedWithErrors) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                           "http post failed, %s", strFailure.c_str());
        }
        // 595: the engine took the request but some of it failed; the job is marked as
        // completed with errors through the push-failed flag and the request counts as done.
        break;
    }

    // Only one of several workers that succeed at once withdraws the pending reason.
    if (g_bEventSent.exchange(false)) {
        CSolrTransmitterCallbackPtr ptrCallback = m_ptrOptions->GetCallback();
        if (ptrCallback) {
            ptrCallback->ResetJobPendingReason();
        }
    }
    m_llConsecutiveFailures = 0;
    return CKyError::Success();
}

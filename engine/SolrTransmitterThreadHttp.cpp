// The index-engine worker's one HTTP path: post, read the answer into a status, let the failure
// policy decide on a retry, and report the final outcome.
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/EngineStatus.h"
#include "engine/SolrTransmitterThread.h"
#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
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

// Longest piece of an outside text (a status element) that a log line quotes.
const size_t kMaxQuotedBytes = 64;
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

// The engine's status element: a decimal number of at most 32 bits, blanks around it allowed.
// Anything else (a sign, other characters, no digits, a larger number) is not a status.
bool ReadStatusElement(const std::string &strText, uint32_t &nStatus) {
    const size_t nFirst = strText.find_first_not_of(" \t\r\n");
    if (nFirst == std::string::npos) {
        return false;
    }
    const size_t nLast = strText.find_last_not_of(" \t\r\n");
    uint64_t ullValue = 0;
    for (size_t i = nFirst; i <= nLast; ++i) {
        const char c = strText[i];
        if (c < '0' || c > '9') {
            return false;
        }
        ullValue = ullValue * 10 + static_cast<uint64_t>(c - '0');
        if (ullValue > UINT32_MAX) {
            return false;
        }
    }
    nStatus = static_cast<uint32_t>(ullValue);
    return true;
}

bool HasAttributeValue(const CKyXNode &node, const char *szName, const char *szValue) {
    std::string strValue;
    return node.GetAttribute(szName, strValue) && strValue == szValue;
}

// The text of the first str element named "msg" (document order) that lies below an lst element
// named "error", as the XPath .//lst[@name="error"]//str[@name="msg"] selects it, in one pass
// over the document: the XPath searches below every nested error list again, which costs the
// square of the answer's size for an answer of nested lists.
CKyError FindEngineErrorMessage(const CKyXDocumentPtr &ptrDocument, std::string &strMessage) {
    strMessage.clear();
    struct SPending {
        CKyXNode node;
        bool bBelowErrorList;
    };
    std::vector<SPending> vecPending;
    CKyXNode root = ptrDocument->GetRoot();
    if (root.IsEmpty()) {
        return CKyError::Success();
    }
    vecPending.push_back({root, false});
    while (!vecPending.empty()) {
        SPending pending = vecPending.back();
        vecPending.pop_back();
        const std::string strName = pending.node.GetName();
        if (pending.bBelowErrorList && strName == "str" &&
            HasAttributeValue(pending.node, "name", "msg")) {
            return pending.node.GetText(strMessage);
        }
        const bool bBelow = pending.bBelowErrorList ||
                            (strName == "lst" && HasAttributeValue(pending.node, "name", "error"));
        std::vector<CKyXNode> vecChildren = pending.node.GetChildren();
        // Last child first, so that the first child is taken next: document order.
        for (auto it = vecChildren.rbegin(); it != vecChildren.rend(); ++it) {
            vecPending.push_back({*it, bBelow});
        }
    }
    return CKyError::Success();
}

} // namespace

bool CSolrTransmitterThread::ShouldGiveUpTransfer(bool bStarting, int64_t llElapsedMs,
                                                  int64_t llIdleMs) {
    if (bStarting) {
        // The job's quit query is not asked here: a request that ends within a second asks the
        // job nothing more than it did before.
        m_bAbortSeen = m_ptrSolrTransmitterPrivate->Abort().IsAbortFlagSet();
        m_llLastAbortPollMs = 0;
        m_llEndSeenAtMs = -1;
        m_bEndedBeforeTransfer = m_bAbortSeen || IsStopRequested();
        return m_bAbortSeen && IsRunning();
    }
    // The stop request and the transmitter's abort flag are read on every call; the full abort
    // test asks the job's quit query, so it runs only about once a second (the abort is sticky:
    // once seen, it stays).
    if (!m_bAbortSeen) {
        m_bAbortSeen = m_ptrSolrTransmitterPrivate->Abort().IsAbortFlagSet();
    }
    if (!m_bAbortSeen && llElapsedMs - m_llLastAbortPollMs >= kAbortPollMs) {
        m_llLastAbortPollMs = llElapsedMs;
        // An exception out of the job's quit query counts as "not aborted".
        m_bAbortSeen =
            m_ptrSolrTransmitterPrivate->Abort().IsAborted(CAbortState::eNotAbortedQuiet);
    }
    if (!IsStopRequested() && !m_bAbortSeen) {
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

bool CSolrTransmitterThread::ExpectsEngineAnswer(const std::string &strUrl) const {
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

void CSolrTransmitterThread::NoteFailedRequest(const std::string &strReason) {
    m_ptrSolrTransmitterPrivate->SetPushDataToSolrFailed(true);
    m_ptrSolrTransmitterPrivate->SetFailedRequestReason(strReason);
}

CKyError CSolrTransmitterThread::PostItems2(const std::string &strUrl, const std::string &strBody,
                                            const std::string &strHeaderLine) {
    return PostRequest(strUrl, strBody.data(), strBody.size(), nullptr, strHeaderLine);
}

CKyError CSolrTransmitterThread::PostItemsFromMemory(const std::string &strUrl, const char *pBody,
                                                     size_t nLength,
                                                     const std::string &strHeaderLine) {
    return PostRequest(strUrl, pBody, nLength, nullptr, strHeaderLine);
}

CKyError CSolrTransmitterThread::PostItemsFromSource(const std::string &strUrl,
                                                     TQLibCurl::CBodySource &source,
                                                     const std::string &strHeaderLine) {
    return PostRequest(strUrl, nullptr, 0, &source, strHeaderLine);
}

CKyError CSolrTransmitterThread::PostRequest(const std::string &strUrl, const char *pBody,
                                             size_t nLength, TQLibCurl::CBodySource *pSource,
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

        if (bRetry && (IsStopRequested() || m_ptrSolrTransmitterPrivate->Abort().IsAborted())) {
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

CKyError CSolrTransmitterThread::ParseResult(const std::string &strAnswer, uint32_t &nStatus,
                                             std::string &strMessage, std::string *pEngineMessage) {
    if (nStatus == EEngineStatus::eOk) {
        return CKyError::Success();
    }
    if (strAnswer.empty()) {
        nStatus = EEngineStatus::eEmptyAnswer;
        IDX_LOG(6, "Empty response to solr post request");
        return CKyError::Success();
    }

    CKyXDocumentPtr ptrDocument = boost::make_shared_nothrow<CKyXDocument>();
    if (!ptrDocument) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    CKyError error = ptrDocument->LoadFromString(strAnswer);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    // An HTML error page (from the engine's web container): its first "pre" holds the reason.
    CKyXNodePtr ptrHtml;
    if (!ptrDocument->GetNode<CKyXNode>(ptrHtml, "html").IsError()) {
        error = SelectNodeGetText(ptrDocument, ".//pre", strMessage);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        FXString::TrimWhiteSpace(strMessage);
        if (!strMessage.empty()) {
            FXString::RemoveRight(strMessage, ".");
        }
        if (!strMessage.empty()) {
            return CKyError::Success();
        }
    }

    // An engine answer: its status element is the status the failure policy sees.
    CKyXNodePtr ptrResponse;
    error = ptrDocument->GetNode<CKyXNode>(ptrResponse, "response");
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    std::string strStatus;
    bool bFound = false;
    error = SelectNodeGetText(ptrDocument, ".//int[@name=\"status\"]", strStatus, &bFound);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    if (!bFound) {
        // Some other XML answer (a proxy's, a servlet's): its HTTP status is all we know.
        IDX_LOG(6, "No status element in the answer, keeping status=[%u]", nStatus);
        return CKyError::Success();
    }
    uint32_t nEngineStatus = 0;
    if (!ReadStatusElement(strStatus, nEngineStatus)) {
        // A wrapped number would turn an error into a success (4294967296 reads as 0) or into
        // another code: the answer is malformed, and only its HTTP status is known.
        IDX_LOG(1, "Malformed status element [%s] in the answer, keeping status=[%u]",
                strStatus.substr(0, kMaxQuotedBytes).c_str(), nStatus);
        return CKyError::Success();
    }
    nStatus = nEngineStatus;
    if (nStatus == 0) {
        return CKyError::Success();
    }

    std::string strEngineMessage;
    error = FindEngineErrorMessage(ptrDocument, strEngineMessage);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    IDX_LOG(6, "Processing failed, message=[%s], status=[%u]", strEngineMessage.c_str(), nStatus);
    if (pEngineMessage) {
        *pEngineMessage = std::move(strEngineMessage);
    }
    return CKyError::Success();
}

CKyError CSolrTransmitterThread::SelectNodeGetText(const CKyXDocumentPtr &ptrDocument,
                                                   const std::string &strXPath,
                                                   std::string &strText, bool *pbFound) {
    strText.clear();
    if (pbFound) {
        *pbFound = false;
    }
    if (!ptrDocument) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "No document to select [%s] in", strXPath.c_str());
    }

    CKyXPathNodeSet nodeSet;
    CKyError error = ptrDocument->SelectNodes(strXPath, nodeSet);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    if (pbFound) {
        *pbFound = !nodeSet.empty();
    }
    // An empty selection gives an empty node, whose text is empty: callers rely on that.
    CKyXNodePtr ptrNode;
    error = nodeSet.Node(0).GetNodeAs<CKyXNode>(ptrNode);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = ptrNode->GetText(strText);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

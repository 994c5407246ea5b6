// The index-engine worker's one HTTP path: post, read the answer into a status, let the failure
// policy decide on a retry, and report the final outcome.
#include <cstdlib>

#include "engine/SolrTransmitterThread.h"
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

const uint32_t kStatusOk = 200;
const uint32_t kStatusBadRequest = 400;
const uint32_t kStatusCompletedWithErrors = 595;
const uint32_t kStatusEmptyAnswer = 999;

} // namespace

CKyError CSolrTransmitterThread::PostItems2(const std::string &strUrl, const std::string &strBody,
                                            const std::string &strHeaderLine) {
    // The whole call, waits of the failure policy included; a worker that never started has no
    // timer and measures nothing.
    CAutoTimeCounter timer(m_ptrPostRequestTimer.get());

    if (strUrl.size() >= kMaxUrlBytes) {
        m_ptrSolrTransmitterPrivate->SetPushDataToSolrFailed(true);
        return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                       "URL of %zu bytes not sent: URLs must be shorter than %zu "
                                       "bytes",
                                       strUrl.size(), kMaxUrlBytes);
    }
    // An engine address that was never configured (an audit URL outside auditing jobs, say)
    // cannot become reachable by waiting: no request, no retries.
    if (strUrl.empty()) {
        m_ptrSolrTransmitterPrivate->SetPushDataToSolrFailed(true);
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "No URL to post to");
    }

    if (m_strHttpHeader.empty()) {
        CKyError error = InitializeCurlObject();
        if (error.IsError()) {
            return error.Push(FXLOC, "Failed to initialise curl object");
        }
    }

    m_ptrCurl->TQLibCurlFreeHttpHeaderList();
    if (!m_ptrCurl->TQLibCurlAppendHeader(0, strHeaderLine)) {
        IDX_LOG_ERROR("Failed to append content type header to curl object, content type=%s",
                      strHeaderLine.c_str());
    }

    const std::string &strClientName = m_ptrOptions->GetSolrClientName();
    std::string strAnswer;
    std::string strMessage;
    for (;;) {
        bool bRetry = false;
        IDX_LOG(6, "Making http request, url=[%s]", strUrl.c_str());
        // The body goes straight from the caller's text: a content push may be large.
        const bool bSendFailed = !m_ptrCurl->TQLibCurlSendHttpReq2(
            1, strUrl, strBody.data(), strBody.size(), false, strClientName, m_bUseDynamicTppm);
        size_t nAnswerLength = 0;
        const char *pAnswer = m_ptrCurl->GetHttpResponse(nAnswerLength, false);
        uint32_t nStatus = static_cast<uint32_t>(m_ptrCurl->GetHttpErrorCode());
        IDX_LOG(6, "http response=[%s], URL=[%s]", pAnswer ? pAnswer : "", strUrl.c_str());

        // A 200 answer is never parsed, so the answer is only copied when it will be read.
        strMessage.clear();
        if (nStatus != kStatusOk) {
            strAnswer.assign(pAnswer ? pAnswer : "", pAnswer ? nAnswerLength : 0);
            CKyError parseError = ParseResult(strAnswer, nStatus, strMessage);
            if (parseError.IsError()) {
                IDX_LOG_ERROR("Failed to parse http response, error=%s",
                              parseError.AsString().c_str());
            }
        }

        if (!bSendFailed) {
            break;
        }

        IDX_LOG_ERROR("http post failed, Request=[%s], retCode=[%lu]", strUrl.c_str(),
                      static_cast<unsigned long>(nStatus));
        HandleHttpError(nStatus, strMessage, bRetry);

        if (bRetry && !MayRetry()) {
            IDX_LOG(1,
                    "Not retrying http request, the transmitter is aborted or the worker is "
                    "stopping, url=[%s]",
                    strUrl.c_str());
            bRetry = false;
        }
        if (bRetry) {
            m_ptrCurl->TQLibCurlFreeHttpHeaderList();
            if (!m_ptrCurl->TQLibCurlAppendHeader(0, strHeaderLine)) {
                IDX_LOG_ERROR(
                    "Failed to append content type header to curl object, content type=[%s]",
                    strHeaderLine.c_str());
            }
            continue;
        }

        m_ptrSolrTransmitterPrivate->SetPushDataToSolrFailed(true);
        if (nStatus == kStatusBadRequest) {
            return FXErrorUtil::ErrorWin32(FXLOC, 400, "http post failed");
        }
        if (nStatus != kStatusCompletedWithErrors) {
            return FXErrorUtil::ErrorWin32(FXLOC, 774, "http post failed");
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
                                             std::string &strMessage) {
    if (nStatus == kStatusOk) {
        return CKyError::Success();
    }
    if (strAnswer.empty()) {
        nStatus = kStatusEmptyAnswer;
        IDX_LOG(6, "Empty response to solr post request");
        return CKyError::Success();
    }

    CKyXDocumentPtr ptrDocument = boost::make_shared_nothrow<CKyXDocument>();
    if (!ptrDocument) {
        return FXErrorUtil::ErrorWin32(FXLOC, 14);
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
    nStatus = static_cast<uint32_t>(strtoul(strStatus.c_str(), nullptr, 10));
    if (nStatus == 0) {
        return CKyError::Success();
    }

    std::string strEngineMessage;
    error = SelectNodeGetText(ptrDocument, ".//lst[@name=\"error\"]//str[@name=\"msg\"]",
                              strEngineMessage);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    IDX_LOG(6, "Processing failed, message=[%s], status=[%u]", strEngineMessage.c_str(), nStatus);
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
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "No document to select [%s] in",
                                       strXPath.c_str());
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

// What the exchange makes of a failed request: the engine's answer read into a status, and the
// failure policy on it (which failed requests are sent again and after what wait, when the job is
// told that the engine is failing, and when the worker gives up or aborts the transmitter).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/EngineExchange.h"
#include "engine/EngineStatus.h"
#include "foundation/ErrorCodes.h"
#include "foundation/Locks.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "platform/Clock.h"
#include "platform/KyXml.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

std::atomic<bool> g_bEventSent{false};

namespace {

const char *const kSettingsSection = "FileSystemAgent";

const uint32_t kOutOfMemoryWaitSeconds = 60;
const uint32_t kNotRespondingWaitSeconds = 30;
const uint32_t kEmptyAnswerWaitSeconds = 10;
const uint32_t kResilientWaitSeconds = 10;

// A stop or an abort ends a wait within this time (and a virtual clock still runs it in slices).
const uint32_t kWaitSliceMs = 200;

const char *const kEngineDownReason =
    "Failed to push data to Index Engine. Please verify that the Index Engine is running. ";

// Longest piece of an outside text (a status element) that a log line quotes.
const size_t kMaxQuotedBytes = 64;

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

// The text of the first node the XPath selects (empty when none). pbFound, when given, tells
// whether any node was selected.
CKyError SelectNodeGetText(const CKyXDocumentPtr &ptrDocument, const std::string &strXPath,
                           std::string &strText, bool *pbFound = nullptr) {
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

} // namespace

bool CEngineExchange::WaitBeforeRetry(uint32_t nMilliseconds) {
    for (;;) {
        // A failed request is retried only while the worker is not asked to stop and the
        // transmitter is not aborted.
        if (m_owner.fnIsStopRequested() || m_ptrState->Abort().IsAborted()) {
            IDX_LOG(1, "Not retrying http request, the transmitter is aborted or the worker is "
                       "stopping");
            return false;
        }
        if (nMilliseconds == 0) {
            return true;
        }
        const uint32_t nSlice = std::min(nMilliseconds, kWaitSliceMs);
        KYSLEEP_InTeRnAl(nSlice);
        nMilliseconds -= nSlice;
    }
}

CKyError CEngineExchange::HandleHttpError(uint32_t nStatus, const std::string &strMessage,
                                          bool &bRetry) {
    // Read on every failure, so that a change applies from the next one on.
    TQPlatformInfo platformInfo;
    uint32_t nResilientScan = 1;
    uint32_t nResilientScanRetryCount = 0;
    platformInfo.getNumber(kSettingsSection, "nResilientScan", &nResilientScan);
    platformInfo.getNumber(kSettingsSection, "nResilientScanRetryCount", &nResilientScanRetryCount);

    const long long llMaxFailures = m_ptrOptions->GetMaxConsecutiveFailuresThreshold();
    bool bHandled = false;
    std::string strReason;

    switch (nStatus) {
    case EEngineStatus::eBadRequest:
        IDX_LOG(1, "Received error [%s]. Badly formed request", strMessage.c_str());
        bRetry = false;
        break;

    case EEngineStatus::eOutOfMemory: {
        const long long llMaxMem = m_ptrOptions->GetMaxRetryOnMemoryFailures();
        const int64_t llEarlier = m_llConsecutiveFailures++;
        if (llEarlier <= llMaxMem && !m_ptrState->Abort().IsAborted()) {
            IDX_LOG(1,
                    "Thread going to sleep for %d seconds while waiting to recover from out of "
                    "memory error",
                    static_cast<int>(kOutOfMemoryWaitSeconds));
            bRetry = WaitBeforeRetry(kOutOfMemoryWaitSeconds * 1000);
        } else {
            IDX_LOG(1,
                    "Max retry count for out of memory error has reached the threshold of %lld "
                    "minutes",
                    llMaxMem);
            strReason = "Index Engine ran out of memory. ";
            bHandled = true;
        }
        break;
    }

    case EEngineStatus::eOutOfDiskSpace:
        if (nResilientScanRetryCount != 0) {
            ++m_llConsecutiveFailures;
        }
        IDX_LOG(1, "Index Engine ran out of disk space");
        strReason = "Index Engine ran out of disk space. ";
        bHandled = true;
        break;

    case EEngineStatus::eIndexServerError:
        IDX_LOG(1, "Received error [%s] from Index server", strMessage.c_str());
        break;

    case EEngineStatus::ePushFailed:
    case EEngineStatus::ePushFailedOther:
        if (nResilientScanRetryCount != 0) {
            ++m_llConsecutiveFailures;
        }
        IDX_LOG(1, "Push data to solr failed, error=%s", strMessage.c_str());
        strReason = strMessage + ". ";
        bHandled = true;
        break;

    case EEngineStatus::eCompletedWithErrors:
        IDX_LOG(1,
                "Received error [%s] from Index server. Job will be marked as \"completed with "
                "errors.\"",
                strMessage.c_str());
        break;

    case EEngineStatus::eFleetServerDown:
        // Counted as 592 is, so that a retry limit ends an unbroken run of these too.
        if (nResilientScanRetryCount != 0) {
            ++m_llConsecutiveFailures;
        }
        IDX_LOG(1, "Fleetserver is not reachable or services are down");
        strReason = "Fleetserver is not reachable or services are down. ";
        bHandled = true;
        break;

    case EEngineStatus::eNotResponding:
    case EEngineStatus::eEmptyAnswer: {
        // Only a job that has queued something is known to need the engine: a failing
        // start-up request (ping, clear) must fail at once.
        if (m_ptrState->GetItemsQueued() <= 0) {
            break;
        }
        const int64_t llCount = ++m_llConsecutiveFailures;
        const bool bNotResponding = nStatus == EEngineStatus::eNotResponding;
        const long long llLimit = bNotResponding ? 3 * llMaxFailures : llMaxFailures;
        if (llCount < llLimit && !m_ptrState->Abort().IsAborted()) {
            if (bNotResponding) {
                IDX_LOG(1,
                        "Thread going to sleep for %d seconds while waiting for server to start "
                        "responding, current consecutive failures=%lld",
                        static_cast<int>(kNotRespondingWaitSeconds),
                        static_cast<long long>(llCount));
                bRetry = WaitBeforeRetry(kNotRespondingWaitSeconds * 1000);
            } else {
                IDX_LOG(1,
                        "Thread going to sleep for %d seconds while waiting for server to start "
                        "responding, current consecutive failures= %lld",
                        static_cast<int>(kEmptyAnswerWaitSeconds), static_cast<long long>(llCount));
                bRetry = WaitBeforeRetry(kEmptyAnswerWaitSeconds * 1000);
            }
        } else {
            IDX_LOG(0,
                    "Consecutive post request failures have reached the "
                    "MaxConsecutiveFailure[%lld]",
                    llMaxFailures);
            strReason = kEngineDownReason;
            bHandled = true;
        }
        break;
    }

    default:
        break;
    }

    if (!bHandled) {
        return CKyError::Success();
    }

    if (nResilientScan == 0) {
        CKyError error = FXErrorUtil::ErrorTQResult(FXLOC, static_cast<int32_t>(nStatus), "%s",
                                                    strReason.c_str());
        m_owner.fnAbort(error, strReason);
        bRetry = false;
        return CKyError::Success();
    }

    // Once per failure episode, however many workers of the process fail.
    if (!g_bEventSent.exchange(true)) {
        CSolrTransmitterCallbackPtr ptrCallback = m_ptrOptions->GetCallback();
        if (ptrCallback) {
            ptrCallback->SetJobPendingReason(
                static_cast<long>(nStatus),
                FXString::Format("Failed to push data to Index Engine. Please verify that the "
                                 "Index Engine is running. Error Code[ %d ]",
                                 static_cast<int>(nStatus)));
        }
    }

    if (nResilientScanRetryCount == 0 ||
        m_llConsecutiveFailures <= static_cast<int64_t>(nResilientScanRetryCount)) {
        bRetry = WaitBeforeRetry(kResilientWaitSeconds * 1000);
    } else {
        bRetry = false;
    }
    return CKyError::Success();
}

CKyError CEngineExchange::ParseResult(const std::string &strAnswer, uint32_t &nStatus,
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

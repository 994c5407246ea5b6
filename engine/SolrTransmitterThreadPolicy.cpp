// The engine failure policy of the index-engine worker: which failed requests are sent again and
// after what wait, when the job is told that the engine is failing, and when the worker gives up
// or aborts the transmitter.
#include <algorithm>

#include "engine/EngineStatus.h"
#include "engine/SolrTransmitterThread.h"
#include "foundation/Locks.h"
#include "foundation/StringHelpers.h"
#include "platform/Clock.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

std::atomic<bool> g_bEventSent{false};

namespace {

const char *const kSettingsSection = "FileSystemAgent";

// Engine status codes the policy knows (besides the HTTP status 400).

const uint32_t kOutOfMemoryWaitSeconds = 60;
const uint32_t kNotRespondingWaitSeconds = 30;
const uint32_t kEmptyAnswerWaitSeconds = 10;
const uint32_t kResilientWaitSeconds = 10;

// A stop or an abort ends a wait within this time (and a virtual clock still runs it in slices).
const uint32_t kWaitSliceMs = 200;

const char *const kEngineDownReason =
    "Failed to push data to Index Engine. Please verify that the Index Engine is running. ";

} // namespace

bool CSolrTransmitterThread::WaitBeforeRetry(uint32_t nMilliseconds) {
    for (;;) {
        // A failed request is retried only while the worker is not asked to stop and the
        // transmitter is not aborted.
        if (IsStopRequested() || m_ptrSolrTransmitterPrivate->Abort().IsAborted()) {
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

CKyError CSolrTransmitterThread::HandleHttpError(uint32_t nStatus, const std::string &strMessage,
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
        if (llEarlier <= llMaxMem && !m_ptrSolrTransmitterPrivate->Abort().IsAborted()) {
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
        if (m_ptrSolrTransmitterPrivate->GetItemsQueued() <= 0) {
            break;
        }
        const int64_t llCount = ++m_llConsecutiveFailures;
        const bool bNotResponding = nStatus == EEngineStatus::eNotResponding;
        const long long llLimit = bNotResponding ? 3 * llMaxFailures : llMaxFailures;
        if (llCount < llLimit && !m_ptrSolrTransmitterPrivate->Abort().IsAborted()) {
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
        AbortThread(error, strReason);
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

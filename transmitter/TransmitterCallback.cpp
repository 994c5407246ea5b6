// The job callbacks: the do-nothing base and the implementation over the job-manager clients.
#include "transmitter/TransmitterCallback.h"

#include "foundation/Accessors.h"
#include "foundation/Locks.h"
#include "platform/JobClients.h"
#include "platform/LogWriter.h"

namespace {

// The job manager's message id of the "index engine is failing" pending cause.
const unsigned int kJobPendingReasonMessageId = 0x4800006A;
// Message type of a critical event.
const int kCriticalEventMessageType = 300;

} // namespace

CSolrTransmitterCallback::~CSolrTransmitterCallback() {
    m_ptrAuditCallback.reset();
}

CKyError CSolrTransmitterCallback::InitializeThread() {
    return CKyError::Success();
}

CKyError CSolrTransmitterCallback::UpdateProgress(long long, long long, long long) {
    return CKyError::Success();
}

bool CSolrTransmitterCallback::IsQuitFlagSet() {
    return false;
}

CKyError CSolrTransmitterCallback::SetJobPendingReason(long, const std::string &) {
    return CKyError::Success();
}

CKyError CSolrTransmitterCallback::ResetJobPendingReason() {
    return CKyError::Success();
}

CKyError CSolrTransmitterCallback::UpdateAndLogJobStatistics() {
    return CKyError::Success();
}

CTransmitterCallback::CTransmitterCallback()
    : m_pJobCtrlClient(nullptr), m_pBkpJobClient(nullptr), m_llTotalItems(0), m_llSolrFailures(0),
      m_llTotalUnCompressedSize(0), m_llReportedItems(0), m_llReportedFailures(0),
      m_llReportedUnCompressedSize(0), m_llItemCountUpdateInterval(100),
      m_ptrLockCounters(std::make_unique<FXCriticalSection>()) {}

CTransmitterCallback::CTransmitterCallback(boost::shared_ptr<FXAccessToken> ptrAccessToken,
                                           TQJobCtrlClient *pJobCtrlClient,
                                           TQBkpJobClient *pBkpJobClient,
                                           long long llItemCountUpdateInterval)
    : m_ptrAccessToken(ptrAccessToken), m_pJobCtrlClient(pJobCtrlClient),
      m_pBkpJobClient(pBkpJobClient), m_llTotalItems(0), m_llSolrFailures(0),
      m_llTotalUnCompressedSize(0), m_llReportedItems(0), m_llReportedFailures(0),
      m_llReportedUnCompressedSize(0), m_llItemCountUpdateInterval(llItemCountUpdateInterval),
      m_ptrLockCounters(std::make_unique<FXCriticalSection>()) {}

CTransmitterCallback::~CTransmitterCallback() {}

void CTransmitterCallback::SetAuditCallback(
    boost::shared_ptr<CFSSolrAckCallbackInterface> ptrAuditCallback) {
    m_ptrAuditCallback = ptrAuditCallback;
}

CKyError CTransmitterCallback::InitializeThread() {
    // Entry and exit lines only: the worker's start shows in the log at level 1.
    TQDebugFunction trace(__PRETTY_FUNCTION__, 1);
    return CKyError::Success();
}

void CTransmitterCallback::ReportOutstanding() {
    long long llItems = m_llTotalItems - m_llReportedItems;
    if (llItems > 0) {
        m_pBkpJobClient->addFilesIndexed(llItems);
        m_llReportedItems = m_llTotalItems;
    }

    long long llFailures = m_llSolrFailures - m_llReportedFailures;
    if (llFailures > 0) {
        m_pBkpJobClient->addContentIdxFileFailures(tqcast::toLong(llFailures));
        m_llReportedFailures = m_llSolrFailures;
    }

    long long llBytes = m_llTotalUnCompressedSize - m_llReportedUnCompressedSize;
    if (llBytes > 0) {
        if (m_pBkpJobClient->setUnCompBytesToAdd(llBytes)) {
            m_llReportedUnCompressedSize = m_llTotalUnCompressedSize;
        } else {
            // The reported value stays, so the whole difference is offered again next time.
            IDX_LOG(1, "ERROR! cannot set uncompressed bytes with Job Manager");
        }
    }

    if (!m_pBkpJobClient->updateInfo(false, nullptr)) {
        IDX_LOG_ERROR("Failed to update job progress");
    }
}

CKyError CTransmitterCallback::UpdateProgress(long long llItemsIndexed,
                                              long long llUnCompressedBytes,
                                              long long llFailedItems) {
    auto_lock lock(m_ptrLockCounters.get(), true);
    // The totals add up whether or not there is a job to report to: the final statistics line
    // tells them all the same.
    m_llTotalItems += llItemsIndexed;
    m_llSolrFailures += llFailedItems;
    m_llTotalUnCompressedSize += llUnCompressedBytes;
    if (m_pBkpJobClient == nullptr) {
        IDX_LOG(3, "Job object is NULL, will not be updating JM stats");
        return CKyError::Success();
    }

    // Nothing is reported, not even failures or bytes, until the item count has grown by a step.
    if (m_llTotalItems - m_llReportedItems < m_llItemCountUpdateInterval) {
        return CKyError::Success();
    }
    ReportOutstanding();
    return CKyError::Success();
}

CKyError CTransmitterCallback::UpdateAndLogJobStatistics() {
    // The reported values advance here too, so a second call (the facade's destructor can end a
    // job that WaitAndCommit already ended) does not hand the job the same numbers twice.
    auto_lock lock(m_ptrLockCounters.get(), true);
    if (m_pBkpJobClient != nullptr) {
        ReportOutstanding();
    } else {
        IDX_LOG(3, "Job object is NULL, will not be updating JM stats");
    }
    IDX_LOG(0, "TotalItems[%lld], SolrFailures[%lld], TotalUnCompressedSize[%lld]", m_llTotalItems,
            m_llSolrFailures, m_llTotalUnCompressedSize);
    return CKyError::Success();
}

CKyError CTransmitterCallback::SetJobPendingReason(long, const std::string &strReason) {
    if (m_pBkpJobClient != nullptr) {
        IDX_LOG_ERROR("Setting JPR and critical event : %s ", strReason.c_str());
        *m_pBkpJobClient << strReason.c_str();
        m_pBkpJobClient->setPendingCauseAndCriticalEvent(
            kJobPendingReasonMessageId, 0, false, kCriticalEventMessageType, false, 0, 0, 0, 0);
    } else {
        IDX_LOG_ERROR("Job object is not initialized.");
    }
    return CKyError::Success();
}

CKyError CTransmitterCallback::ResetJobPendingReason() {
    IDX_LOG(0, "Clearing out JPR as job resumed");
    if (m_pBkpJobClient != nullptr) {
        m_pBkpJobClient->resetPendingCause(nullptr, 0, 0);
    }
    return CKyError::Success();
}

bool CTransmitterCallback::IsQuitFlagSet() {
    if (m_pJobCtrlClient == nullptr) {
        return false;
    }
    return m_pJobCtrlClient->checkQuitFlag() != 0;
}

// The job callbacks: the one channel through which a transmitter reports to the job that drives it
// (worker start, progress, the job's quit flag, pending reasons while the engine fails, final
// statistics).
//
// CSolrTransmitterCallback does nothing and succeeds, so a job that wants no reporting can pass
// one and a job may derive its own. CTransmitterCallback is the library's implementation over the
// hosting job's job-manager clients. The order of the virtual operations is part of the exported
// interface, since jobs derive from these classes: do not reorder them.
#pragma once

#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"
#include "transmitter/TransmitterTypes.h"

class FXAccessToken;
class FXCriticalSection;
class TQJobCtrlClient;
class TQBkpJobClient;
// The hosting job's acknowledgement callback; the library only keeps it for the job.
class CFSSolrAckCallbackInterface;

// The smallest abort interface: something that can be asked whether the work is to stop.
class IDX_EXPORT CAbortOperationCheck {
public:
    virtual ~CAbortOperationCheck() {}
    virtual bool IsAborted() { return false; }
};

class IDX_EXPORT CSolrTransmitterCallback : public CAbortOperationCheck {
public:
    CSolrTransmitterCallback() {}
    ~CSolrTransmitterCallback() override;

    // Called by every worker as it starts.
    virtual CKyError InitializeThread();
    // Called after each batch; note the argument order (items, bytes, failures).
    virtual CKyError UpdateProgress(long long llItemsIndexed, long long llUnCompressedBytes,
                                    long long llFailedItems);
    virtual bool IsQuitFlagSet();
    // The code is not used by the library's implementation: the caller puts it into the text.
    virtual CKyError SetJobPendingReason(long nCode, const std::string &strReason);
    virtual CKyError ResetJobPendingReason();
    // The final flush at the end of the job, after every worker has stopped.
    virtual CKyError UpdateAndLogJobStatistics();

protected:
    boost::shared_ptr<CFSSolrAckCallbackInterface> m_ptrAuditCallback;
};

// Reports to the job manager through the job's clients, which the job owns and keeps alive for
// as long as the callback can be called. Progress is reported in steps of
// m_llItemCountUpdateInterval items so the job manager is not called for every batch.
class IDX_EXPORT CTransmitterCallback : public CSolrTransmitterCallback {
public:
    CTransmitterCallback();
    CTransmitterCallback(boost::shared_ptr<FXAccessToken> ptrAccessToken,
                         TQJobCtrlClient *pJobCtrlClient, TQBkpJobClient *pBkpJobClient,
                         long long llItemCountUpdateInterval);
    ~CTransmitterCallback() override;

    CTransmitterCallback(const CTransmitterCallback &) = delete;
    CTransmitterCallback &operator=(const CTransmitterCallback &) = delete;

    CKyError InitializeThread() override;
    CKyError UpdateProgress(long long llItemsIndexed, long long llUnCompressedBytes,
                            long long llFailedItems) override;
    bool IsQuitFlagSet() override;
    CKyError SetJobPendingReason(long nCode, const std::string &strReason) override;
    CKyError ResetJobPendingReason() override;
    CKyError UpdateAndLogJobStatistics() override;

    void SetAuditCallback(boost::shared_ptr<CFSSolrAckCallbackInterface> ptrAuditCallback);

private:
    // Reports whatever is outstanding of the three totals, then asks the job to update.
    // Called with the counters' lock held.
    void ReportOutstanding();

    boost::shared_ptr<FXAccessToken> m_ptrAccessToken;
    TQJobCtrlClient *m_pJobCtrlClient;
    TQBkpJobClient *m_pBkpJobClient;
    long long m_llTotalItems;
    long long m_llSolrFailures;
    long long m_llTotalUnCompressedSize;
    long long m_llReportedItems;
    long long m_llReportedFailures;
    long long m_llReportedUnCompressedSize;
    long long m_llItemCountUpdateInterval;
    // Made with the callback; held through a pointer so that a host including this header does not
    // need the lock's own header.
    const std::unique_ptr<FXCriticalSection> m_ptrLockCounters;
};

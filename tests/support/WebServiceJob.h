// Fixtures for virtual-machine and collaboration-site jobs on the stand-in web-service plug-in: an
// option record set up as such a job's translation leaves it, and a job callback that records
// every progress report and can fail the worker's start, raise the job's quit flag or make its quit
// query throw.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "platform/Item.h"
#include "platform/testing/WebServicePlugin.h"

#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

class CSolrTransmitterPrivate;

namespace idxtest {

// The values the virtual-machine job below is given.
struct VMJobValues {
    static constexpr const char *kUrl = "http://127.0.0.1:81/vm-index";
    // Catalogue field 63: beyond 32 bits, so the mode handed over is its low half, -2.
    static constexpr int64_t kModeField = 0x1FFFFFFFELL;
    static constexpr const char *kAppGuid = "APP-GUID-1";
    static constexpr const char *kVMGuid = "4223AA00-VM";
    static constexpr const char *kVMName = "vm-one";
    static constexpr long long kJobId = 4711;
    static constexpr unsigned int kClientId = 17;
    static constexpr unsigned int kApplicationNumber = 4000000000u;
};

// A virtual-machine content-indexing job in its backup phase (failures go to
// "SolrBackupFailures.tqf" in strSubClientDir), items sent with content where the include filters
// say so.
void SetUpVMJob(CTransmitterOptions &options, const std::string &strSubClientDir);
// A collaboration-site content-indexing job in its backup phase.
void SetUpSPJob(CTransmitterOptions &options, const std::string &strSubClientDir);

struct ProgressReport {
    long long llItems;
    long long llSecond; // bytes, or items sent with content
    long long llFailed;
    bool operator==(const ProgressReport &other) const {
        return llItems == other.llItems && llSecond == other.llSecond && llFailed == other.llFailed;
    }
};

class ProgressCallback : public CSolrTransmitterCallback {
public:
    CKyError InitializeThread() override;
    CKyError UpdateProgress(long long llItemsIndexed, long long llSecond,
                            long long llFailedItems) override;
    bool IsQuitFlagSet() override;

    // InitializeThread answers with this error from now on.
    void FailInitializeThread(const CKyError &error);
    // The quit flag shows after nQueries more queries (0: at the next one); -1 never.
    void QuitAfter(int nQueries);
    // The query after nQueries more throws std::runtime_error("quit query refused"), once, as a
    // job's own code may; -1 never.
    void RefuseQuitQueryAfter(int nQueries);

    std::vector<ProgressReport> Reports() const;

private:
    mutable std::mutex m_lock;
    CKyError m_initializeError;
    int m_nQuitAfter = -1;
    int m_nRefuseAfter = -1;
    std::vector<ProgressReport> m_vecReports;
};

typedef boost::shared_ptr<ProgressCallback> ProgressCallbackPtr;

// Where the items handed to the plug-in ended, one path per item: each record the plug-in took
// and that is not in the failures file (delivered), then each line of the failures file. An item
// delivered twice, or listed twice, is there twice.
std::multiset<std::string> DeliveredOrFailed(const std::vector<WebServiceCall> &vecPushed,
                                             const std::string &strFailures);

// After a sender threw in the middle of vecItems: the failed count of the transmitter is the
// number of lines of its failures file, its push-failed flag is set, and each item is either
// delivered or listed, once.
void ExpectEachItemDeliveredOrListedOnce(const std::vector<CItemPtr> &vecItems,
                                         const std::vector<WebServiceCall> &vecPushed,
                                         const std::string &strFailures,
                                         CSolrTransmitterPrivate &state);

} // namespace idxtest

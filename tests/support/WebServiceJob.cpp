#include "tests/support/WebServiceJob.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/MessageRecords.h"
#include "transmitter/SolrTransmitterPrivate.h"

namespace idxtest {

namespace {

void SetUpWebServiceJob(CTransmitterOptions &options, const std::string &strSubClientDir) {
    options.SetSubClientDir(strSubClientDir);
    options.SetScanPhase(false);
    options.SetPushOnlyMetaData(false);
    options.SetJobId(VMJobValues::kJobId);
    options.SetClientId(VMJobValues::kClientId);
    options.SetApplicationNumber(VMJobValues::kApplicationNumber);
}

} // namespace

void SetUpVMJob(CTransmitterOptions &options, const std::string &strSubClientDir) {
    SetUpWebServiceJob(options, strSubClientDir);
    options.SetVMContentIndexing(true);
    options.SetAppGUID(VMJobValues::kAppGuid);
    options.SetVMGUID(VMJobValues::kVMGuid);
    options.SetVMName(VMJobValues::kVMName);
    VirtualServer::VMCatalogOptions catalog;
    catalog.setint64(27, 63, VMJobValues::kModeField);
    catalog.setstring(28, 64, VMJobValues::kUrl);
    options.SetVMCatalogOptions(catalog);
}

void SetUpSPJob(CTransmitterOptions &options, const std::string &strSubClientDir) {
    SetUpWebServiceJob(options, strSubClientDir);
    options.SetSPContentIndexing(true);
}

CKyError ProgressCallback::InitializeThread() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_initializeError;
}

CKyError ProgressCallback::UpdateProgress(long long llItemsIndexed, long long llSecond,
                                          long long llFailedItems) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_vecReports.push_back(ProgressReport{llItemsIndexed, llSecond, llFailedItems});
    return CKyError::Success();
}

bool ProgressCallback::IsQuitFlagSet() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nRefuseAfter == 0) {
        m_nRefuseAfter = -1;
        throw std::runtime_error("quit query refused");
    }
    if (m_nRefuseAfter > 0) {
        --m_nRefuseAfter;
    }
    if (m_nQuitAfter < 0) {
        return false;
    }
    if (m_nQuitAfter == 0) {
        return true;
    }
    --m_nQuitAfter;
    return false;
}

void ProgressCallback::FailInitializeThread(const CKyError &error) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_initializeError = error;
}

void ProgressCallback::QuitAfter(int nQueries) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nQuitAfter = nQueries;
}

void ProgressCallback::RefuseQuitQueryAfter(int nQueries) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nRefuseAfter = nQueries;
}

std::vector<ProgressReport> ProgressCallback::Reports() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vecReports;
}

std::multiset<std::string> DeliveredOrFailed(const std::vector<WebServiceCall> &vecPushed,
                                             const std::string &strFailures) {
    std::multiset<std::string> setFailed;
    std::istringstream stream(strFailures);
    for (std::string strLine; std::getline(stream, strLine);) {
        setFailed.insert(strLine);
    }
    std::multiset<std::string> setEnded(setFailed);
    for (const WebServiceCall &call : vecPushed) {
        if (call.nError == 0 && setFailed.count(call.strPath) == 0) {
            setEnded.insert(call.strPath);
        }
    }
    return setEnded;
}

void ExpectEachItemDeliveredOrListedOnce(const std::vector<CItemPtr> &vecItems,
                                         const std::vector<WebServiceCall> &vecPushed,
                                         const std::string &strFailures,
                                         CSolrTransmitterPrivate &state) {
    EXPECT_EQ(state.GetFailedItemCount(), std::count(strFailures.begin(), strFailures.end(), '\n'));
    EXPECT_TRUE(state.IfPushDataToSolrFailed());
    std::multiset<std::string> setQueued;
    for (const CItemPtr &ptrItem : vecItems) {
        setQueued.insert(ptrItem->GetPath());
    }
    EXPECT_EQ(DeliveredOrFailed(vecPushed, strFailures), setQueued);
}

} // namespace idxtest

#include "tests/support/engine/EngineWorkerRig.h"

#include <boost/make_shared.hpp>

#include "documents/ItemSenderFactory.h"
#include "foundation/Locks.h"
#include "platform/FilterSet.h"

namespace idxtest {

void PointOptionsAtStub(CTransmitterOptions &options, const EngineStub &stub,
                        const std::string &strHostUrl) {
    const auto on = [&](const std::string &strUrl) {
        return strHostUrl.empty() ? strUrl : strHostUrl + strUrl.substr(stub.HostUrl().size());
    };
    options.SetBaseSolrUrl(on(stub.BaseUrl()));
    options.SetCompleteSolrUrl(on(stub.UpdateUrl()));
    options.SetCompleteSolrExtractUrl(on(stub.ExtractUrl()));
    options.SetAuditSolrUrl(on(stub.AuditUrl()));
    options.SetSolrClientName("idxtest-client");
    options.SetPushOnlyMetaData(true);
    // The backup phase: progress is reported per batch, failures go to "SolrBackupFailures.tqf".
    options.SetScanPhase(false);
}

InspectableSolrWorker::~InspectableSolrWorker() {
    StopBeforeDestruction();
}

bool InspectableSolrWorker::IsExcludedPath(const std::string &strPath) const {
    return m_filters.ptrExcludePaths->IsIn(strPath);
}

void InspectableSolrWorker::AddTransmitted(int64_t llItems, int64_t llPackets) {
    m_llTransmittedItems += llItems;
    m_llTransmittedPackets += llPackets;
}

boost::shared_ptr<CTimeCounter> InspectableSolrWorker::Timer(const std::string &strName) const {
    for (const boost::shared_ptr<CTimeCounter> &ptrTimer :
         {m_exchange.PostRequestTimer(), m_ptrReadContentTimer, m_ptrGenerateCRC32Timer,
          m_ptrSendVMItemsTimer, m_ptrChangeTimeTimer, m_ptrOwnerAndAclTimer, m_ptrSendItemsTimer,
          m_ptrBuildItemsTimer}) {
        if (ptrTimer && ptrTimer->GetName() == strName) {
            return ptrTimer;
        }
    }
    return boost::shared_ptr<CTimeCounter>();
}

OneShotRig::OneShotRig(const EngineStub &stub)
    : ptrState(boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr)),
      ptrOptions(ptrState->m_ptrOptions) {
    PointOptionsAtStub(*ptrOptions, stub);
    ptrWorker = boost::make_shared<InspectableSolrWorker>(ptrState, ptrOptions, &MakeItemSender);
}

void OneShotRig::MarkItemsQueued(int64_t llItems) {
    ptrState->Queue().SetItemsQueuedForTest(ptrState->GetItemsQueued() + llItems);
}

CKyError RecordingCallback::InitializeThread() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_nInitialized;
    return CKyError::Success();
}

CKyError RecordingCallback::UpdateProgress(long long llItemsIndexed,
                                           long long /*llUnCompressedBytes*/,
                                           long long /*llFailedItems*/) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_vecProgressItems.push_back(llItemsIndexed);
    m_cv.notify_all();
    m_cv.wait(guard, [this] { return !m_bHold; });
    return CKyError::Success();
}

CKyError RecordingCallback::SetJobPendingReason(long nCode, const std::string &strReason) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_vecPendingReasons.emplace_back(nCode, strReason);
    return CKyError::Success();
}

CKyError RecordingCallback::ResetJobPendingReason() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_nResets;
    return CKyError::Success();
}

bool RecordingCallback::IsQuitFlagSet() {
    return m_bQuit.load();
}

void RecordingCallback::SetQuitFlag(bool bQuit) {
    m_bQuit.store(bQuit);
}

void RecordingCallback::HoldProgress() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bHold = true;
}

void RecordingCallback::ReleaseProgress() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bHold = false;
    }
    m_cv.notify_all();
}

bool RecordingCallback::WaitForProgress(size_t nCount, int nMilliseconds) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_cv.wait_for(guard, std::chrono::milliseconds(nMilliseconds),
                         [&] { return m_vecProgressItems.size() >= nCount; });
}

std::vector<std::pair<long, std::string>> RecordingCallback::PendingReasons() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vecPendingReasons;
}

int RecordingCallback::ResetCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nResets;
}

int RecordingCallback::InitializeCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nInitialized;
}

std::vector<long long> RecordingCallback::ProgressItems() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vecProgressItems;
}

size_t CountDocs(const std::string &strBody) {
    size_t nCount = 0;
    for (size_t nPos = strBody.find("<doc>"); nPos != std::string::npos;
         nPos = strBody.find("<doc>", nPos + 5)) {
        ++nCount;
    }
    return nCount;
}

} // namespace idxtest

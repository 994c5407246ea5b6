#include "tests/support/logwriter/LogWriterTestSupport.h"

#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <boost/make_shared.hpp>

#include "foundation/FileData.h"
#include "platform/ItemLookup.h"
#include "tests/support/TempDir.h"

namespace idxtest {

namespace {

// The producer's own record: what no handler took over goes with the item.
class ProducerLiveCrawlRecord : public CLiveCrawlInterface {
public:
    using CLiveCrawlInterface::CLiveCrawlInterface;
    // The tests attach only cloud records, whatever agent type the item claims.
    ~ProducerLiveCrawlRecord() override {
        delete static_cast<IdxMetadata::CloudIdxMetadata *>(getInterfaceInstance());
    }
};

class ThrowingFileSystemItem : public CFindFirstItem {
public:
    using CFindFirstItem::CFindFirstItem;
    CTimeStamp GetModificationTime() const override { throw std::runtime_error("item refused"); }
};

void ApplySpec(CItem &item, const FileItemSpec &spec) {
    item.SetPath(spec.strPath);
    if (!spec.strParentPath.empty()) {
        item.SetParentPath(spec.strParentPath);
    }
    item.SetFolder(spec.bFolder);
    item.SetSize(spec.ullSize);
    item.SetAttributes(spec.nAttributes);
    item.SetTimes(CTimeStamp(), FromUnixTime(spec.llModified), FromUnixTime(spec.llAccessed),
                  FromUnixTime(spec.llChanged));
}

} // namespace

CTimeStamp FromUnixTime(int64_t llSeconds) {
    if (llSeconds == 0) {
        return CTimeStamp();
    }
    return CTimeStamp(llSeconds * 10000000LL + CTimeStamp::kUnixEpochTicks);
}

CItemPtr MakeFileItem(const FileItemSpec &spec) {
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ApplySpec(*ptrItem, spec);
    return ptrItem;
}

CItemPtr MakeDeletedItem(const FileItemSpec &spec) {
    CItemPtr ptrItem = MakeFileItem(spec);
    auto *pAnalytics = new CAnalyticsItemUnix(ptrItem);
    pAnalytics->SetItemDeleted(true);
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, pAnalytics);
    return ptrItem;
}

CItemPtr MakeLiveCrawlItem(const LiveCrawlItemSpec &spec) {
    struct stat status;
    memset(&status, 0, sizeof(status));
    status.st_mode = spec.bFolder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    FXFile::CFileData fileData(spec.strPath, FXFile::CFileData::eParentAndName, &status);
    boost::shared_ptr<CFindFirstItem> ptrItem =
        spec.bTimesThrow
            ? boost::make_shared<ThrowingFileSystemItem>(CBagPtr(), spec.strPath, spec.strPath,
                                                         fileData)
            : boost::make_shared<CFindFirstItem>(CBagPtr(), spec.strPath, spec.strPath, fileData);
    ptrItem->SetSize(spec.ullSize);
    ptrItem->SetTimes(CTimeStamp(), FromUnixTime(spec.llModified), CTimeStamp(),
                      FromUnixTime(spec.llChanged));
    IdxMetadata::CloudIdxMetadata *pCloud = nullptr;
    if (spec.bWithCloudRecord) {
        pCloud = new IdxMetadata::CloudIdxMetadata();
        pCloud->setstring(1, 1, "cloud:" + spec.strPath);
    }
    ptrItem->AddInterface(EItemInterfaceId::eLiveCrawl,
                          new ProducerLiveCrawlRecord(spec.bDeleted, spec.eAgentType, pCloud,
                                                      spec.ullOffset, spec.nCollectFileId));
    return ptrItem;
}

CKyError JobProgressCallback::InitializeThread() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_nInitializeCalls;
    if (m_bFailInitialize) {
        return FXErrorUtil::ErrorWin32(FXLOC, 5, "the job refused the thread");
    }
    return CKyError::Success();
}

CKyError JobProgressCallback::UpdateProgress(long long llItemsIndexed,
                                             long long llUnCompressedBytes,
                                             long long llFailedItems) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_vecProgress.push_back(Progress{llItemsIndexed, llUnCompressedBytes, llFailedItems});
    return CKyError::Success();
}

void JobProgressCallback::FailInitializeThread(bool bFail) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bFailInitialize = bFail;
}

std::vector<JobProgressCallback::Progress> JobProgressCallback::ProgressReports() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vecProgress;
}

int JobProgressCallback::InitializeThreadCalls() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nInitializeCalls;
}

JobProgressCallback::Progress JobProgressCallback::Totals() {
    std::lock_guard<std::mutex> guard(m_lock);
    Progress totals{0, 0, 0};
    for (const Progress &progress : m_vecProgress) {
        totals.llItems += progress.llItems;
        totals.llBytes += progress.llBytes;
        totals.llFailed += progress.llFailed;
    }
    return totals;
}

bool WaitUntil(const std::function<bool()> &fnDone, int nMilliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    while (!fnDone()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return fnDone();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

uint32_t HeaderU32(const CXFileHeader &header, size_t nOffset) {
    uint32_t nValue = 0;
    memcpy(&nValue, reinterpret_cast<const uint8_t *>(&header) + nOffset, sizeof(nValue));
    return nValue;
}

uint64_t HeaderU64(const CXFileHeader &header, size_t nOffset) {
    uint64_t ullValue = 0;
    memcpy(&ullValue, reinterpret_cast<const uint8_t *>(&header) + nOffset, sizeof(ullValue));
    return ullValue;
}

std::vector<std::string> FileLines(const std::string &strPath) {
    std::vector<std::string> vecLines;
    const std::string strContent = ReadWholeFile(strPath);
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = strContent.find('\n', nStart)) != std::string::npos;
         nStart = nEnd + 1) {
        vecLines.push_back(strContent.substr(nStart, nEnd - nStart));
    }
    return vecLines;
}

} // namespace idxtest

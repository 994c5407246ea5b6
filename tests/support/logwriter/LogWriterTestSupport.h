// Fixtures for the index-log tests: items as the walk or a live-crawl producer gives them, a job
// callback that records what it is told, a transmitter built by the library's own worker factory
// with its state in reach, and a wait on a condition.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "platform/FileHeader.h"
#include "platform/IndexRecords.h"
#include "platform/Item.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"

namespace idxtest {

// Unix seconds as a time stamp; 0 gives a clear stamp.
CTimeStamp FromUnixTime(int64_t llSeconds);

// What a plain item of the walk answers.
struct FileItemSpec {
    std::string strPath{};
    std::string strParentPath{}; // the path's parent when left empty
    bool bFolder = false;
    uint64_t ullSize = 0;
    uint32_t nAttributes = 0;
    int64_t llModified = 0; // Unix seconds; 0 leaves the stamp clear
    int64_t llChanged = 0;
    int64_t llAccessed = 0;
};
CItemPtr MakeFileItem(const FileItemSpec &spec);
// An item whose analytics record says it was deleted; its own values are those given.
CItemPtr MakeDeletedItem(const FileItemSpec &spec);

// A live-crawl item: a file-system item (made from a status, not from the disk) with its
// live-crawl record. With bWithCloudRecord the record carries a cloud agent's metadata record
// holding the text "cloud:<path>" at index 1, tag 1. A record that no handler took over is freed
// with the item, as its producer would.
struct LiveCrawlItemSpec {
    std::string strPath{};
    uint32_t nCollectFileId = 1;
    uint64_t ullOffset = 0;
    bool bDeleted = false;
    bool bFolder = false;
    uint64_t ullSize = 0;
    int64_t llModified = 0;
    int64_t llChanged = 0;
    LiveCrawlAgentType eAgentType = LIVECRAWL_AGENT_CLOUD_ITEM;
    bool bWithCloudRecord = true;
    // Reading the item's modification time throws std::runtime_error("item refused"), as a
    // broken item object of the job would.
    bool bTimesThrow = false;
};
CItemPtr MakeLiveCrawlItem(const LiveCrawlItemSpec &spec);

// Records what the workers tell the job; InitializeThread can be made to fail.
class JobProgressCallback : public CSolrTransmitterCallback {
public:
    struct Progress {
        long long llItems;
        long long llBytes;
        long long llFailed;
    };

    CKyError InitializeThread() override;
    CKyError UpdateProgress(long long llItemsIndexed, long long llUnCompressedBytes,
                            long long llFailedItems) override;

    void FailInitializeThread(bool bFail);
    std::vector<Progress> ProgressReports();
    int InitializeThreadCalls();
    // Sums of every report so far.
    Progress Totals();

private:
    std::mutex m_lock;
    bool m_bFailInitialize = false;
    int m_nInitializeCalls = 0;
    std::vector<Progress> m_vecProgress;
};

// A transmitter with the library's own workers.
class LogWriterTransmitter : public CSolrTransmitter {
public:
    explicit LogWriterTransmitter(eIDX_Transmitter_Type eType) : CSolrTransmitter(eType) {}
    CSolrTransmitterPrivate &State() { return *m_ptrSolrTransmitterPrivate; }
    CSolrTransmitterPrivatePtr StatePtr() { return m_ptrSolrTransmitterPrivate; }
    CTransmitterOptions &Options() { return *m_ptrSolrTransmitterPrivate->m_ptrOptions; }
};

// Waits (for real, polling every few milliseconds, at most nMilliseconds) until fnDone answers
// true; returns its last answer.
bool WaitUntil(const std::function<bool()> &fnDone, int nMilliseconds = 10000);

// A 32- or 64-bit value of the header at a byte offset, read as the index server reads it.
uint32_t HeaderU32(const CXFileHeader &header, size_t nOffset);
uint64_t HeaderU64(const CXFileHeader &header, size_t nOffset);

// The lines of a failures file, without their line ends.
std::vector<std::string> FileLines(const std::string &strPath);

} // namespace idxtest

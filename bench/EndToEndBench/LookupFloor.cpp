#include "bench/EndToEndBench/LookupFloor.h"

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include "bench/EndToEndBench/TreeMaker.h"

namespace idxbench {

namespace {

// Hands out the batches that the lookup thread has released, in order, to whichever posting
// thread asks first, as the library's queue gives its batches to whichever worker is free. One
// lock round per batch on each side.
class ReleasedBatches : public RequestDealer {
public:
    explicit ReleasedBatches(size_t nBatches) : m_nBatches(nBatches) {}

    bool Next(size_t /*nThread*/, size_t &nRequest) override {
        std::unique_lock<std::mutex> guard(m_lock);
        m_cv.wait(guard, [this] { return m_nTaken < m_nReleased || m_nTaken == m_nBatches; });
        if (m_nTaken == m_nBatches) {
            return false;
        }
        nRequest = m_nTaken++;
        return true;
    }

    // Batches [0, nReleased) may now be posted.
    void Release(size_t nReleased) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_nReleased = nReleased;
        }
        // The last release also tells every idle thread that nothing more comes.
        if (nReleased == m_nBatches) {
            m_cv.notify_all();
        } else {
            m_cv.notify_one();
        }
    }

private:
    const size_t m_nBatches;
    std::mutex m_lock;
    std::condition_variable m_cv;
    size_t m_nReleased = 0;
    size_t m_nTaken = 0;
};

} // namespace

FloorResult RunLookupFloor(const BenchConfig &config, const std::string &strPingUrl,
                           const std::string &strTree,
                           const std::vector<ReplayRequest> &vecBatches) {
    FloorResult result;
    ReleasedBatches dealer(vecBatches.size());
    auto fnLookUp = [&] {
        ThreadName name("floor-lookup");
        const double dCpuStart = ThreadCpuSeconds();
        size_t nBatch = 0;
        long long llBatchEnd = vecBatches.empty() ? 0 : vecBatches[0].llItems;
        for (long long i = 0; i < config.llItems; ++i) {
            // The path is made here, as the job makes it before it queues the item.
            const std::string strPath = FilePath(strTree, i);
            struct stat status;
            if (lstat(strPath.c_str(), &status) != 0) {
                ++result.llFailedLookups;
            }
            while (nBatch < vecBatches.size() && i + 1 == llBatchEnd) {
                dealer.Release(++nBatch);
                llBatchEnd += nBatch < vecBatches.size() ? vecBatches[nBatch].llItems : 0;
            }
        }
        // Batches beyond the items (none when they add up) would otherwise never go.
        if (nBatch < vecBatches.size()) {
            dealer.Release(vecBatches.size());
        }
        result.dLookupCpuSeconds = ThreadCpuSeconds() - dCpuStart;
    };
    result.posting = PostRequests(config, strPingUrl, vecBatches, "floor-post",
                                  EBodyWork::eSendOnly, dealer, fnLookUp);
    return result;
}

} // namespace idxbench

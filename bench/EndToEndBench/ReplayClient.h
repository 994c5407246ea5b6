// The plain libcurl side of the end-to-end benchmark: posts a list of requests on as many threads
// as the library has workers, one keep-alive handle per thread, and times it. The list is either
// what the library sent (as the null engine recorded it), or full batches built here with the
// library's own document builder, or the library's extract requests with the bytes of their
// files.
#pragma once

#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "platform/Bag.h"

namespace idxbench {

// One POST of a replay: the body is strBody, or the content of strFile read when it is sent.
struct ReplayRequest {
    std::string strUrl;
    std::string strContentType;
    std::string strBody;
    std::string strFile;
};

struct ReplayResult {
    double dSeconds = 0;
    double dCpuSeconds = 0;
    long long llFailedPosts = 0;
};

// The update bodies the metadata sender posts for the tree in batches of the given sizes
// (vecBatchSizes[k] batches of k items), the items in queue order: "<add>", then "<doc>" and the
// item's metadata document and "</doc>" per item, then "</add>". False when the sizes do not
// add up to the tree.
bool BuildBatches(const BenchConfig &config, const CBagPtr &ptrBag, const std::string &strTree,
                  const std::string &strUrl, const std::vector<long long> &vecBatchSizes,
                  std::vector<ReplayRequest> &vecRequests);

// Each thread keeps one handle (and so one connection), as each library worker does; thread t
// sends requests t, t + threads, ... The connections are opened (with a ping) before the clock
// starts, so the replay measures sending alone. A request with a file reads it whole into a
// buffer the thread reuses, then posts that buffer (no hash: that is the library's own work).
ReplayResult RunReplay(const BenchConfig &config, const std::string &strPingUrl,
                       const std::vector<ReplayRequest> &vecRequests);

} // namespace idxbench

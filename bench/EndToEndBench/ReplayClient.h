// The plain libcurl side of the end-to-end benchmark: posts a list of update requests on as many
// threads as the library has workers, one keep-alive handle per thread, and times it. The list
// is either what the library sent (as the stand-in recorded it) or full batches built here with
// the library's own document builder.
#pragma once

#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "platform/Bag.h"

namespace idxbench {

// One POST of a replay.
struct ReplayRequest {
    std::string strUrl;
    std::string strBody;
};

struct ReplayResult {
    double dSeconds = 0;
    double dCpuSeconds = 0;
    long long llFailedPosts = 0;
};

// The update bodies the metadata sender posts for the tree if every batch is full.
bool BuildFullBatches(const BenchConfig &config, const CBagPtr &ptrBag, const std::string &strTree,
                      const std::string &strUrl, std::vector<ReplayRequest> &vecRequests);

// Each thread keeps one handle (and so one connection), as each library worker does; thread t
// sends requests t, t + threads, ... The connections are opened (with a ping) before the clock
// starts, so the replay measures sending alone.
ReplayResult RunReplay(const BenchConfig &config, const std::string &strPingUrl,
                       const std::vector<ReplayRequest> &vecRequests);

} // namespace idxbench

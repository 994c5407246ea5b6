// The lookup floor of the end-to-end benchmark: what queueing and sending the job's items costs
// at the least. One thread looks up each item's path with lstat, in the order the job queues
// them, and once it has looked up a batch's worth it hands that batch (the library's own
// documents, built beforehand) to the posting threads, which post it as the replays do.
#pragma once

#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "bench/EndToEndBench/ReplayClient.h"

namespace idxbench {

struct FloorResult {
    ReplayResult posting;          // timed from the first lookup to the last answer
    double dLookupCpuSeconds = 0;  // the thread that looked the items up
    long long llFailedLookups = 0; // paths lstat could not look up
};

// vecBatches are document batches of the config.llItems files of strTree, items in queue order
// (each request's llItems says how many it holds); batch k is handed over once the items it
// ends with have been looked up.
FloorResult RunLookupFloor(const BenchConfig &config, const std::string &strPingUrl,
                           const std::string &strTree,
                           const std::vector<ReplayRequest> &vecBatches);

} // namespace idxbench

// The library side of the end-to-end benchmark: the option bag of a transmitter aimed at the null
// engine (metadata mode, or content push of every file), and one run of that transmitter over the
// file tree, timed from Start to the answer of the last batch (seen through the progress
// callback) and to the return of WaitAndCommit, with the CPU time of the queueing thread apart
// from the process's.
#pragma once

#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "bench/EndToEndBench/NullEngine.h"
#include "platform/Bag.h"

namespace idxbench {

struct LibraryResult {
    bool bOk = false;
    double dDrainSeconds = 0;        // Start to the answer of the last batch
    double dTotalSeconds = 0;        // Start to the return of WaitAndCommit
    double dCpuSeconds = 0;          // the whole process
    double dJobThreadCpuSeconds = 0; // the thread that queued the items and waited for the end
    double dStartEpoch = 0;          // wall-clock seconds at Start
    long long llIndexed = 0;
    long long llFailed = 0;
    long long llBatches = 0;              // progress reports: one per document batch
    std::vector<long long> vecBatchSizes; // [size]: how many batches had that many items
    long lPeakRssKb = 0;
};

// With bContent every file of the tree is pushed with its content (up to 4 GiB each).
CBagPtr MakeOptionsBag(const NullEngine &engine, const std::string &strSubClient, int nBatch,
                       bool bContent);

// Queues the config.llItems files of strTree through a transmitter set up from ptrBag; bOk is
// false when the last batch was never answered.
LibraryResult RunLibrary(const BenchConfig &config, const CBagPtr &ptrBag,
                         const std::string &strTree);

} // namespace idxbench

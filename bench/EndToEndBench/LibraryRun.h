// The library side of the end-to-end benchmark: the option bag of a metadata-mode transmitter
// aimed at a stand-in, and one run of that transmitter over the file tree, timed from Start to
// the answer of the last batch (seen through the progress callback) and to the return of
// WaitAndCommit.
#pragma once

#include <string>

#include "bench/EndToEndBench/BenchRun.h"
#include "platform/Bag.h"
#include "tests/support/engine/EngineStubProcess.h"

namespace idxbench {

struct LibraryResult {
    bool bOk = false;
    double dDrainSeconds = 0; // Start to the answer of the last batch
    double dTotalSeconds = 0; // Start to the return of WaitAndCommit
    double dCpuSeconds = 0;
    long long llIndexed = 0;
    long long llFailed = 0;
    long long llBatches = 0;
    long lPeakRssKb = 0;
};

CBagPtr MakeOptionsBag(const idxtest::EngineStubProcess &stub, const std::string &strSubClient,
                       int nBatch);

// Queues the config.llItems files of strTree through a transmitter set up from ptrBag; bOk is
// false when the last batch was never answered.
LibraryResult RunLibrary(const BenchConfig &config, const CBagPtr &ptrBag,
                         const std::string &strTree);

} // namespace idxbench

// What the end-to-end benchmark prints once it has measured: the library's figures, each
// replay's, the ratios of the two sides and the PASS or WARN line of each target. A WARN says a
// target was missed or that the figures cannot be compared; it does not change the exit status.
#pragma once

#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "bench/EndToEndBench/LibraryRun.h"
#include "bench/EndToEndBench/ReplayClient.h"
#include "tests/support/engine/EngineStub.h"

namespace idxbench {

// The line that opens the report of a run.
void ReportRun(const BenchConfig &config, int nLibraryPort);

// The library phase: what it indexed and sent (from the stand-in's recording), how fast, at what
// cost, and a WARN for what makes it slower than it is (listen-queue overflows, llOverflows) or
// makes the exact replay differ from it (a content type other than text/xml).
void ReportLibrary(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<idxtest::RecordedUpdate> &vecRecorded, long long llOverflows);

// Both replays, the ratios of the library to each, and the throughput targets.
void ReportReplays(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<ReplayRequest> &vecExact, const ReplayResult &exact,
                   const std::vector<ReplayRequest> &vecFull, const ReplayResult &full);

// The memory target: peak RSS with the large run against the small one.
void ReportRss(long lSmall, long lLarge);

} // namespace idxbench

// What the end-to-end benchmark prints once it has measured: the library's figures, each
// replay's, the ratios of the two sides and the PASS or WARN line of each target. A WARN says a
// target was missed or that the figures cannot be compared; it does not change the exit status.
#pragma once

#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "bench/EndToEndBench/LibraryRun.h"
#include "bench/EndToEndBench/NullEngine.h"
#include "bench/EndToEndBench/ReplayClient.h"

namespace idxbench {

// The line that opens the report of a run.
void ReportRun(const BenchConfig &config, const NullEngine &engine);

// The library phase of a metadata run: what it indexed and sent (document batches from the
// progress reports, requests from the null engine's recording), how fast, at what cost, with a
// WARN for listen-queue overflows (llOverflows), which make it slower than it is.
void ReportLibrary(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<RecordedRequest> &vecRecorded, long long llOverflows);

// Both replays of a metadata run, the ratios of the library to each, and the targets.
void ReportReplays(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<ReplayRequest> &vecExact, const ReplayResult &exact,
                   const std::vector<ReplayRequest> &vecFull, const ReplayResult &full);

// Content push of the files against the replay of the same extract requests.
void ReportContent(const BenchConfig &config, const LibraryResult &library, size_t nExtractRequests,
                   const ReplayResult &replay);

// Hashing speed: the hash alone over llBytes in memory (information), and the library's time
// from Start to the first bytes of the extract request of one file of llBytes (the target).
void ReportHash(long long llBytes, double dHashOnlySeconds, double dUntilRequestSeconds, bool bOk);

// The memory target: peak RSS with the large run against the small one.
void ReportRss(long lSmall, long lLarge);

} // namespace idxbench

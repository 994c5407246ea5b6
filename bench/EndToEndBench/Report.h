// What the end-to-end benchmark prints once it has measured: the library's figures, each
// replay's and floor's, the ratios of the two sides and the PASS or FAIL line of each target
// (the value beside the target). The ratios against the plain replays are information only; the
// targets are set against the floors, which do the work every item needs. A WARN says that the
// figures cannot be compared. Neither changes the exit status.
#pragma once

#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "bench/EndToEndBench/LibraryRun.h"
#include "bench/EndToEndBench/LookupFloor.h"
#include "bench/EndToEndBench/NullEngine.h"
#include "bench/EndToEndBench/PhpClient.h"
#include "bench/EndToEndBench/ReplayClient.h"

namespace idxbench {

// The line that opens the report of a run.
void ReportRun(const BenchConfig &config, const NullEngine &engine);

// The library phase of a metadata run: what it indexed and sent (document batches from the
// progress reports, requests from the null engine's recording), how fast, at what cost, with a
// WARN for listen-queue overflows (llOverflows), which make it slower than it is.
void ReportLibrary(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<RecordedRequest> &vecRecorded, long long llOverflows);

// Both replays and the lookup floor of a metadata run, the ratios of the library to each, and
// the targets: throughput against the floor, the workers' CPU against the full-batch replay's,
// the job thread's CPU beyond the floor's lookup thread.
void ReportReplays(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<ReplayRequest> &vecExact, const ReplayResult &exact,
                   const std::vector<ReplayRequest> &vecFull, const ReplayResult &full,
                   const FloorResult &floor);

// The PHP extension client posting the same full batches from as many processes as the library
// has workers: its docs/s, the library's docs/s (items/s with the end of the job) against it and
// that target; a SKIP line with the reason where it was not measured.
void ReportPhpClient(const BenchConfig &config, const LibraryResult &library,
                     const PhpClientResult &php);

// Content push of the files against the replay of the same extract requests (information) and
// against the hashing replay, which takes each body's SHA-512 before it posts it (the target).
void ReportContent(const BenchConfig &config, const LibraryResult &library, size_t nExtractRequests,
                   const ReplayResult &replay, const ReplayResult &hashing);

// Hashing speed: the hash alone over llBytes in memory (information), and the library's time
// from Start to the first bytes of the extract request of one file of llBytes (the target).
void ReportHash(long long llBytes, double dHashOnlySeconds, double dUntilRequestSeconds, bool bOk);

// The memory target: peak RSS with the large run against the small one.
void ReportRss(long lSmall, long lLarge);

} // namespace idxbench

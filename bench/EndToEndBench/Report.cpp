#include "bench/EndToEndBench/Report.h"

#include <algorithm>
#include <cstdio>

namespace idxbench {

namespace {

const double kOwnReplayTarget = 0.7;    // library / replay of its own requests
const double kFullBatchTarget = 0.5;    // library / replay of full batches
const double kMeanBatchTarget = 0.9;    // mean batch / batch limit
const double kWorkerCpuTarget = 3.0;    // worker CPU per item / full-batch replay CPU per item
const double kEndOfJobTargetMs = 100.0; // last answer to the return of WaitAndCommit
const double kContentTarget = 0.9;      // content push / replay of its extract requests
const double kHashTargetMBps = 500.0;   // a large file hashed before its request starts
const double kRssTarget = 1.2;          // peak RSS, large run / small run

const char *Verdict(bool bMet) {
    return bMet ? "PASS" : "WARN";
}

double Per100k(double dSeconds, long long llItems) {
    return dSeconds * 100000.0 / static_cast<double>(std::max(1LL, llItems));
}

// Throughput figures of one replay, printed as one line.
void PrintReplay(const char *szName, const BenchConfig &config,
                 const std::vector<ReplayRequest> &vecRequests, const ReplayResult &replay) {
    size_t nBytes = 0;
    for (const ReplayRequest &request : vecRequests) {
        nBytes += request.strBody.size();
    }
    const double dN = static_cast<double>(config.llItems);
    printf("%s: %zu requests (%.1f MiB), %lld failed; %.0f items/s (%.3f s); CPU %.3f s per "
           "100k items\n",
           szName, vecRequests.size(), static_cast<double>(nBytes) / (1024.0 * 1024.0),
           replay.llFailedPosts, dN / replay.dSeconds, replay.dSeconds,
           Per100k(replay.dCpuSeconds, config.llItems));
}

} // namespace

void ReportRun(const BenchConfig &config, const NullEngine &engine) {
    printf("end-to-end%s: %lld files, %d workers, batches of %d, queue of %d; null engine: nginx "
           "on 127.0.0.1:%d with %d worker processes\n",
           config.bContent ? " content push" : "", config.llItems, config.nWorkers, config.nBatch,
           config.nQueueSize, engine.Port(), engine.WorkerProcesses());
}

void ReportLibrary(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<RecordedRequest> &vecRecorded, long long llOverflows) {
    const double dN = static_cast<double>(config.llItems);
    // One progress report per document batch; the other requests are the job's own (pings,
    // commits, folder statistics).
    const long long llPosts =
        std::count_if(vecRecorded.begin(), vecRecorded.end(),
                      [](const RecordedRequest &request) { return request.strMethod == "POST"; });
    const double dMeanBatch = library.llBatches == 0 ? 0.0
                                                     : static_cast<double>(library.llIndexed) /
                                                           static_cast<double>(library.llBatches);
    printf("library: %lld indexed, %lld failed; %zu requests (%lld document batches, mean batch "
           "%.2f items of at most %d; %lld other POSTs)\n",
           library.llIndexed, library.llFailed, vecRecorded.size(), library.llBatches, dMeanBatch,
           config.nBatch, llPosts - library.llBatches);
    printf("library: %.0f items/s with the end of the job (WaitAndCommit returned after %.3f s); "
           "%.0f items/s to the last answer (%.3f s)\n",
           dN / library.dTotalSeconds, library.dTotalSeconds, dN / library.dDrainSeconds,
           library.dDrainSeconds);
    const double dWorkerCpu = library.dCpuSeconds - library.dJobThreadCpuSeconds;
    printf("library: CPU per 100k items %.3f s: job thread %.3f s, workers and the library's other "
           "threads %.3f s; peak RSS %ld KiB\n",
           Per100k(library.dCpuSeconds, config.llItems),
           Per100k(library.dJobThreadCpuSeconds, config.llItems),
           Per100k(dWorkerCpu, config.llItems), library.lPeakRssKb);
    printf("library: end of job (last answer to the return of WaitAndCommit) %.1f ms\n",
           (library.dTotalSeconds - library.dDrainSeconds) * 1000.0);
    if (llOverflows > 0) {
        printf("WARN: %lld connection(s) overflowed a listen queue during the library phase; "
               "each waited about a second for a retry\n",
               llOverflows);
    }
    printf("%s: mean batch %.2f items, %.0f%% of the limit %d (target >= %.0f%%)\n",
           Verdict(dMeanBatch >= kMeanBatchTarget * config.nBatch), dMeanBatch,
           100.0 * dMeanBatch / config.nBatch, config.nBatch, kMeanBatchTarget * 100.0);
    const double dEndMs = (library.dTotalSeconds - library.dDrainSeconds) * 1000.0;
    printf("%s: end of job %.1f ms with %d workers (target < %.0f ms)\n",
           Verdict(library.bOk && dEndMs < kEndOfJobTargetMs), dEndMs, config.nWorkers,
           kEndOfJobTargetMs);
}

void ReportReplays(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<ReplayRequest> &vecExact, const ReplayResult &exact,
                   const std::vector<ReplayRequest> &vecFull, const ReplayResult &full) {
    PrintReplay("replay of the library's own batches", config, vecExact, exact);
    PrintReplay("replay of full batches (the library's builder)", config, vecFull, full);

    const double dOwn = exact.dSeconds / library.dTotalSeconds;
    const double dFull = full.dSeconds / library.dTotalSeconds;
    printf("ratio library/own-request replay: %.2f with the end of the job (%.2f to the last "
           "answer)\n",
           dOwn, exact.dSeconds / library.dDrainSeconds);
    printf("ratio library/full-batch replay: %.2f with the end of the job (%.2f to the last "
           "answer)\n",
           dFull, full.dSeconds / library.dDrainSeconds);
    const double dWorkerCpu = library.dCpuSeconds - library.dJobThreadCpuSeconds;
    const double dCpuRatio = full.dCpuSeconds > 0 ? dWorkerCpu / full.dCpuSeconds : 0.0;
    printf("worker CPU per item / full-batch replay CPU per item: %.2f\n", dCpuRatio);

    const bool bClean =
        library.bOk && library.llFailed == 0 && exact.llFailedPosts == 0 && full.llFailedPosts == 0;
    if (!bClean) {
        printf("WARN: failures during the run: the figures above are not comparable\n");
    }
    printf("%s: throughput %.2f of the replay of the library's own requests (target >= %.1f)\n",
           Verdict(bClean && dOwn >= kOwnReplayTarget), dOwn, kOwnReplayTarget);
    printf("%s: throughput %.2f of the full-batch replay (target >= %.1f)\n",
           Verdict(bClean && dFull >= kFullBatchTarget), dFull, kFullBatchTarget);
    printf("%s: worker CPU per item %.2f times the full-batch replay's (target <= %.1f)\n",
           Verdict(bClean && dCpuRatio > 0 && dCpuRatio <= kWorkerCpuTarget), dCpuRatio,
           kWorkerCpuTarget);
}

void ReportContent(const BenchConfig &config, const LibraryResult &library, size_t nExtractRequests,
                   const ReplayResult &replay) {
    const double dN = static_cast<double>(config.llItems);
    const double dMiB = dN * static_cast<double>(config.llFileBytes) / (1024.0 * 1024.0);
    printf("library: %lld pushed, %lld failed, %zu extract requests; %.1f files/s, %.0f MiB/s "
           "with the end of the job (%.3f s; %.3f s to the last answer); CPU %.4f s per file "
           "(job thread %.4f s)\n",
           library.llIndexed, library.llFailed, nExtractRequests, dN / library.dTotalSeconds,
           dMiB / library.dTotalSeconds, library.dTotalSeconds, library.dDrainSeconds,
           library.dCpuSeconds / dN, library.dJobThreadCpuSeconds / dN);
    printf("replay of the extract requests (each file read, then posted): %lld failed; %.1f "
           "files/s, %.0f MiB/s (%.3f s); CPU %.4f s per file\n",
           replay.llFailedPosts, dN / replay.dSeconds, dMiB / replay.dSeconds, replay.dSeconds,
           replay.dCpuSeconds / dN);
    const double dRatio = replay.dSeconds / library.dTotalSeconds;
    const double dCpuRatio =
        replay.dCpuSeconds > 0
            ? (library.dCpuSeconds - library.dJobThreadCpuSeconds) / replay.dCpuSeconds
            : 0.0;
    printf("worker CPU per file / replay CPU per file: %.2f\n", dCpuRatio);
    const bool bClean = library.bOk && library.llFailed == 0 && replay.llFailedPosts == 0 &&
                        nExtractRequests == static_cast<size_t>(config.llItems);
    if (!bClean) {
        printf("WARN: failures or files not pushed with their content: the figures are not "
               "comparable\n");
    }
    printf("%s: content push %.2f of the replay of its extract requests (target >= %.1f)\n",
           Verdict(bClean && dRatio >= kContentTarget), dRatio, kContentTarget);
}

void ReportHash(long long llBytes, double dHashOnlySeconds, double dUntilRequestSeconds, bool bOk) {
    const double dMB = static_cast<double>(llBytes) / 1e6;
    printf("hash alone (SHA-512 over %.0f MB in memory, 1 MiB at a time): %.0f MB/s\n", dMB,
           dMB / dHashOnlySeconds);
    if (!bOk) {
        printf("WARN: the %.0f MB file was not pushed with its content: no hashing speed\n", dMB);
        return;
    }
    const double dRate = dMB / dUntilRequestSeconds;
    printf("library: a %.0f MB file's extract request started %.3f s after Start\n", dMB,
           dUntilRequestSeconds);
    printf("%s: a %.0f MB file (in the page cache) hashed at %.0f MB/s before its request "
           "(target >= %.0f MB/s)\n",
           Verdict(dRate >= kHashTargetMBps), dMB, dRate, kHashTargetMBps);
}

void ReportRss(long lSmall, long lLarge) {
    const double dRatio = static_cast<double>(lLarge) / static_cast<double>(lSmall);
    printf("%s: peak RSS ratio %.2f (target <= %.1f)\n", Verdict(dRatio <= kRssTarget), dRatio,
           kRssTarget);
}

} // namespace idxbench

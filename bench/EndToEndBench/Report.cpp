#include "bench/EndToEndBench/Report.h"

#include <algorithm>
#include <cstdio>

namespace idxbench {

namespace {

const double kLookupFloorTarget = 0.75;     // library items/s / lookup floor items/s
const double kMeanBatchTarget = 0.9;        // mean batch / batch limit
const double kWorkerCpuTarget = 2.5;        // worker CPU per item / full-batch replay CPU per item
const double kJobThreadExtraTargetUs = 1.0; // job thread CPU per item - floor lookup thread's
const double kOtherClientTarget = 1.3;      // docs/s / a C extension client's from 15 processes
const double kEndOfJobTargetMs = 100.0;     // last answer to the return of WaitAndCommit
const double kContentTarget = 0.9;          // content push / hashing replay of its extract requests
const double kHashTargetMBps = 500.0;       // a large file hashed before its request starts
const double kRssTarget = 1.2;              // peak RSS, large run / small run

const char *Verdict(bool bMet) {
    return bMet ? "PASS" : "FAIL";
}

double PerItemUs(double dSeconds, long long llItems) {
    return dSeconds * 1e6 / static_cast<double>(std::max(1LL, llItems));
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
                   const std::vector<ReplayRequest> &vecFull, const ReplayResult &full,
                   const FloorResult &floor) {
    PrintReplay("replay of the library's own batches", config, vecExact, exact);
    PrintReplay("replay of full batches (the library's builder)", config, vecFull, full);
    PrintReplay("lookup floor (lstat per item, full batches handed over as looked up)", config,
                vecFull, floor.posting);
    const double dFloorPostingCpu = floor.posting.dCpuSeconds - floor.dLookupCpuSeconds;
    printf("lookup floor: lookup thread CPU %.2f us per item (%lld lookups failed), posting "
           "threads %.3f s per 100k items\n",
           PerItemUs(floor.dLookupCpuSeconds, config.llItems), floor.llFailedLookups,
           Per100k(dFloorPostingCpu, config.llItems));

    const double dN = static_cast<double>(config.llItems);
    const double dOwn = exact.dSeconds / library.dTotalSeconds;
    const double dFull = full.dSeconds / library.dTotalSeconds;
    const double dFloor = floor.posting.dSeconds / library.dTotalSeconds;
    printf("ratio library/own-request replay (information): %.2f with the end of the job (%.2f to "
           "the last answer)\n",
           dOwn, exact.dSeconds / library.dDrainSeconds);
    printf("ratio library/full-batch replay (information): %.2f with the end of the job (%.2f to "
           "the last answer)\n",
           dFull, full.dSeconds / library.dDrainSeconds);
    printf("ratio library/lookup floor: %.2f with the end of the job (%.2f to the last answer)\n",
           dFloor, floor.posting.dSeconds / library.dDrainSeconds);
    const double dWorkerCpu = library.dCpuSeconds - library.dJobThreadCpuSeconds;
    const double dCpuRatio = full.dCpuSeconds > 0 ? dWorkerCpu / full.dCpuSeconds : 0.0;
    printf("worker CPU per item / full-batch replay CPU per item: %.2f (/ the lookup floor's "
           "posting threads: %.2f)\n",
           dCpuRatio, dFloorPostingCpu > 0 ? dWorkerCpu / dFloorPostingCpu : 0.0);
    const double dJobUs = PerItemUs(library.dJobThreadCpuSeconds, config.llItems);
    const double dLookupUs = PerItemUs(floor.dLookupCpuSeconds, config.llItems);

    const bool bClean = library.bOk && library.llFailed == 0 && exact.llFailedPosts == 0 &&
                        full.llFailedPosts == 0 && floor.posting.llFailedPosts == 0 &&
                        floor.llFailedLookups == 0;
    if (!bClean) {
        printf("WARN: failures during the run: the figures above are not comparable\n");
    }
    printf("%s: throughput %.2f of the lookup floor (%.0f against %.0f items/s; target >= %.2f)\n",
           Verdict(bClean && dFloor >= kLookupFloorTarget), dFloor, dN / library.dTotalSeconds,
           dN / floor.posting.dSeconds, kLookupFloorTarget);
    printf("%s: worker CPU per item %.2f times the full-batch replay's (target <= %.1f)\n",
           Verdict(bClean && dCpuRatio > 0 && dCpuRatio <= kWorkerCpuTarget), dCpuRatio,
           kWorkerCpuTarget);
    printf("%s: job thread CPU per item %.2f us beyond the lookup floor's lookup thread (%.2f "
           "against %.2f us; target <= %.1f us)\n",
           Verdict(bClean && dJobUs - dLookupUs <= kJobThreadExtraTargetUs), dJobUs - dLookupUs,
           dJobUs, dLookupUs, kJobThreadExtraTargetUs);
}

void ReportPhpClient(const BenchConfig &config, const LibraryResult &library,
                     const PhpClientResult &php) {
    if (!php.bMeasured) {
        printf("SKIP: docs/s against a C extension client posting the same full batches from %d "
               "processes (target >= %.1f): %s\n",
               config.nWorkers, kOtherClientTarget, php.strNotMeasured.c_str());
        return;
    }
    const double dN = static_cast<double>(config.llItems);
    const double dRatio = php.dSeconds / library.dTotalSeconds;
    printf("php extension client: %lld requests, %lld failed; %.0f docs/s (%.3f s to the last "
           "answer; %.3f s to the end of the last php process)\n",
           php.llRequests, php.llFailed, dN / php.dSeconds, php.dSeconds, php.dSecondsToEnd);
    printf("ratio library/php extension client: %.2f (target >= %.1f)\n", dRatio,
           kOtherClientTarget);
    const bool bClean = library.bOk && library.llFailed == 0 && php.llFailed == 0;
    if (!bClean) {
        printf("WARN: failures in the library phase or the php extension client: the docs/s "
               "are not comparable\n");
    }
    printf("%s: docs/s %.2f times a C extension client's posting the same full batches from %d "
           "php processes (%.0f against %.0f docs/s; target >= %.1f)\n",
           Verdict(bClean && dRatio >= kOtherClientTarget), dRatio, config.nWorkers,
           dN / library.dTotalSeconds, dN / php.dSeconds, kOtherClientTarget);
}

void ReportContent(const BenchConfig &config, const LibraryResult &library, size_t nExtractRequests,
                   const ReplayResult &replay, const ReplayResult &hashing) {
    const double dN = static_cast<double>(config.llItems);
    const double dMiB = dN * static_cast<double>(config.llFileBytes) / (1024.0 * 1024.0);
    printf("library: %lld pushed, %lld failed, %zu extract requests; %.1f files/s, %.0f MiB/s "
           "with the end of the job (%.3f s; %.3f s to the last answer); CPU %.4f s per file "
           "(job thread %.4f s)\n",
           library.llIndexed, library.llFailed, nExtractRequests, dN / library.dTotalSeconds,
           dMiB / library.dTotalSeconds, library.dTotalSeconds, library.dDrainSeconds,
           library.dCpuSeconds / dN, library.dJobThreadCpuSeconds / dN);
    const char *const aszNames[] = {"replay of the extract requests (each file read, then posted)",
                                    "hashing replay of the extract requests (each file read, its "
                                    "SHA-512 taken, then posted)"};
    const ReplayResult *const apReplays[] = {&replay, &hashing};
    const double dWorkerCpu = library.dCpuSeconds - library.dJobThreadCpuSeconds;
    double adRatio[2], adCpuRatio[2];
    for (size_t i = 0; i < 2; ++i) {
        const ReplayResult &result = *apReplays[i];
        printf("%s: %lld failed; %.1f files/s, %.0f MiB/s (%.3f s); CPU %.4f s per file\n",
               aszNames[i], result.llFailedPosts, dN / result.dSeconds, dMiB / result.dSeconds,
               result.dSeconds, result.dCpuSeconds / dN);
        adRatio[i] = result.dSeconds / library.dTotalSeconds;
        adCpuRatio[i] = result.dCpuSeconds > 0 ? dWorkerCpu / result.dCpuSeconds : 0.0;
    }
    printf("ratio content push/replay (information): %.2f; worker CPU per file / replay CPU per "
           "file: %.2f\n",
           adRatio[0], adCpuRatio[0]);
    printf("ratio content push/hashing replay: %.2f; worker CPU per file / hashing replay CPU per "
           "file: %.2f\n",
           adRatio[1], adCpuRatio[1]);
    const bool bClean = library.bOk && library.llFailed == 0 && replay.llFailedPosts == 0 &&
                        hashing.llFailedPosts == 0 &&
                        nExtractRequests == static_cast<size_t>(config.llItems);
    if (!bClean) {
        printf("WARN: failures or files not pushed with their content: the figures are not "
               "comparable\n");
    }
    printf("%s: content push %.2f of the hashing replay of its extract requests (target >= "
           "%.1f)\n",
           Verdict(bClean && adRatio[1] >= kContentTarget), adRatio[1], kContentTarget);
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

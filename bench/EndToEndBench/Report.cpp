#include "bench/EndToEndBench/Report.h"

#include <algorithm>
#include <cstdio>

namespace idxbench {

namespace {

const double kThroughputTarget = 0.7;
const double kRssTarget = 1.2;
// Above this the replay is bound by the stand-in's answer time rather than by sending.
const double kSlowAnswerMs = 20.0;

// Throughput figures of one replay, printed as one line; returns the time per request and thread.
double PrintReplay(const char *szName, const BenchConfig &config,
                   const std::vector<ReplayRequest> &vecRequests, const ReplayResult &replay) {
    size_t nBytes = 0;
    for (const ReplayRequest &request : vecRequests) {
        nBytes += request.strBody.size();
    }
    const double dN = static_cast<double>(config.llItems);
    // With every thread busy, each thread's share of the time per request it made.
    const double dThreads = static_cast<double>(
        std::min<size_t>(static_cast<size_t>(config.nWorkers), vecRequests.size()));
    const double dLatencyMs = replay.dSeconds * 1000.0 * dThreads /
                              static_cast<double>(std::max<size_t>(1, vecRequests.size()));
    printf("%s: %zu requests (%.1f MiB), %lld failed; %.0f items/s (%.3f s); %.3f CPU s per "
           "100k items; %.2f ms per request and thread\n",
           szName, vecRequests.size(), static_cast<double>(nBytes) / (1024.0 * 1024.0),
           replay.llFailedPosts, dN / replay.dSeconds, replay.dSeconds,
           replay.dCpuSeconds * 100000.0 / dN, dLatencyMs);
    return dLatencyMs;
}

} // namespace

void ReportRun(const BenchConfig &config, int nLibraryPort) {
    printf("end-to-end: %lld files, %d workers, batches of %d, queue of %d, stand-in on port %d\n",
           config.llItems, config.nWorkers, config.nBatch, config.nQueueSize, nLibraryPort);
}

void ReportLibrary(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<idxtest::RecordedUpdate> &vecRecorded, long long llOverflows) {
    const double dN = static_cast<double>(config.llItems);
    // Document batches are "<add>" bodies; the rest (the commit of the end of the job) is
    // replayed too, as recorded.
    size_t nAdds = 0, nOtherType = 0;
    for (const idxtest::RecordedUpdate &update : vecRecorded) {
        nAdds += update.strBody.compare(0, 5, "<add>") == 0 ? 1 : 0;
        nOtherType += update.strContentType == "text/xml" ? 0 : 1;
    }
    printf("library: %lld indexed, %lld failed; %zu update requests (%zu document batches, "
           "mean batch %.2f items; %zu other), %lld progress reports\n",
           library.llIndexed, library.llFailed, vecRecorded.size(), nAdds,
           nAdds == 0 ? 0.0 : static_cast<double>(library.llIndexed) / static_cast<double>(nAdds),
           vecRecorded.size() - nAdds, library.llBatches);
    printf("library: %.0f items/s to the last answer (%.3f s); %.0f items/s with the end of the "
           "job (WaitAndCommit returned after %.3f s)\n",
           dN / library.dDrainSeconds, library.dDrainSeconds, dN / library.dTotalSeconds,
           library.dTotalSeconds);
    printf("library: %.3f CPU s per 100k items; peak RSS %ld KiB\n",
           library.dCpuSeconds * 100000.0 / dN, library.lPeakRssKb);
    if (llOverflows > 0) {
        printf("WARN: %lld connection(s) overflowed a listen queue during the library phase; "
               "each waited about a second for a retry\n",
               llOverflows);
    }
    if (nOtherType > 0) {
        printf("WARN: %zu recorded request(s) had a content type other than text/xml; the replay "
               "sends text/xml\n",
               nOtherType);
    }
}

void ReportReplays(const BenchConfig &config, const LibraryResult &library,
                   const std::vector<ReplayRequest> &vecExact, const ReplayResult &exact,
                   const std::vector<ReplayRequest> &vecFull, const ReplayResult &full) {
    const double dLatencyMs =
        PrintReplay("replay (the library's requests)", config, vecExact, exact);
    PrintReplay("full-batch floor (rebuilt full batches)", config, vecFull, full);

    const double dRatio = exact.dSeconds / library.dDrainSeconds;
    const double dRatioTotal = exact.dSeconds / library.dTotalSeconds;
    printf("ratio library/replay: %.2f to the last answer, %.2f with the end of the job\n", dRatio,
           dRatioTotal);
    printf("ratio library/full-batch floor (information): %.2f to the last answer, %.2f with the "
           "end of the job\n",
           full.dSeconds / library.dDrainSeconds, full.dSeconds / library.dTotalSeconds);
    const bool bClean =
        library.bOk && library.llFailed == 0 && exact.llFailedPosts == 0 && full.llFailedPosts == 0;
    if (!bClean) {
        printf("WARN: failures during the run: the figures above are not comparable\n");
    }
    // A stand-in that is slow to answer bounds both sides alike: the ratio then says nothing
    // about the library, and a pass would mislead.
    const bool bMeaningful = dLatencyMs <= kSlowAnswerMs;
    if (!bMeaningful) {
        printf("WARN: the stand-in needs %.1f ms per request: both sides wait on its answers, so "
               "the ratios hide the library's own cost\n",
               dLatencyMs);
    }
    const char *szVerdict = bClean && bMeaningful && dRatio >= kThroughputTarget ? "PASS" : "WARN";
    printf("%s: throughput ratio to the last answer %.2f (target >= %.1f)\n", szVerdict, dRatio,
           kThroughputTarget);
    szVerdict = bClean && bMeaningful && dRatioTotal >= kThroughputTarget ? "PASS" : "WARN";
    printf("%s: throughput ratio with the end of the job %.2f (target >= %.1f)\n", szVerdict,
           dRatioTotal, kThroughputTarget);
}

void ReportRss(long lSmall, long lLarge) {
    const double dRatio = static_cast<double>(lLarge) / static_cast<double>(lSmall);
    printf("%s: peak RSS ratio %.2f (target <= %.1f)\n", dRatio <= kRssTarget ? "PASS" : "WARN",
           dRatio, kRssTarget);
}

} // namespace idxbench

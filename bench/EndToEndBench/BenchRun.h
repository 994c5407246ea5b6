// What the units of the end-to-end benchmark share: the settings of a run, and the clock and the
// process readings (CPU time, peak RSS) both sides are measured with.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <string>

namespace idxbench {

typedef std::chrono::steady_clock Clock;

// The defaults are the library's: 15 workers, batches of at most 20 items.
struct BenchConfig {
    long long llItems = 200000;
    int nWorkers = 15;
    int nBatch = 20;
    int nQueueSize = 10000;
    std::string strNginx;
    bool bRssCheck = false;
    bool bLibraryOnly = false; // a child of --rss-check: library phase only, one result line
    bool bContent = false;     // content push of llItems files of nFileBytes each
    long long llFileBytes = 0; // size of each file of the tree; 0: one short line each
};

inline double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

inline double CpuSeconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double EpochSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// CPU time of the calling thread alone.
inline double ThreadCpuSeconds() {
    struct rusage usage;
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline long PeakRssKb() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace idxbench

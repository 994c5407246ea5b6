// What the units of the end-to-end benchmark share: the settings of a run, and the clock and the
// process readings (CPU time, peak RSS) both sides are measured with.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <string>

namespace idxbench {

typedef std::chrono::steady_clock Clock;

struct BenchConfig {
    long long llItems = 20000;
    int nWorkers = 15;
    int nBatch = 20;
    int nQueueSize = 10000;
    std::string strStub;
    bool bRssCheck = false;
    bool bLibraryOnly = false; // a child of --rss-check: library phase only, one result line
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

inline long PeakRssKb() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace idxbench

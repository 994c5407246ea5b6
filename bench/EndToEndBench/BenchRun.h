// What the units of the end-to-end benchmark share: the settings of a run, and the clock and the
// process readings (CPU time, peak RSS) both sides are measured with.
#pragma once

#include <pthread.h>
#include <sys/resource.h>

#include <chrono>
#include <string>

namespace idxbench {

typedef std::chrono::steady_clock Clock;

// The client name the transmitter is given, which its workers send as their User-Agent, as the
// replays do.
const char *const kClientName = "bench-client";

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

// Names the calling thread while it lives (at most 15 characters), so that a profile of a run
// (perf report --sort comm) tells the phases apart; a thread started meanwhile takes the name.
class ThreadName {
public:
    explicit ThreadName(const char *szName) {
        if (pthread_getname_np(pthread_self(), m_szOld, sizeof(m_szOld)) != 0) {
            m_szOld[0] = '\0';
        }
        pthread_setname_np(pthread_self(), szName);
    }
    ~ThreadName() {
        if (m_szOld[0]) {
            pthread_setname_np(pthread_self(), m_szOld);
        }
    }
    ThreadName(const ThreadName &) = delete;
    ThreadName &operator=(const ThreadName &) = delete;

private:
    char m_szOld[16];
};

} // namespace idxbench

#include "transmitter/SolrPerformanceLogThread.h"

#include <chrono>
#include <list>
#include <string>

#include "foundation/Locks.h"
#include "platform/Clock.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrThreadPerfCounters.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterTimerLines.h"

namespace {

const char kSection[] = "FileSystemAgent";
const char kIntervalSetting[] = "SolrTransmitterPerfLogInterval";

// How often LogStats looks at the clock and at the thread while it waits; a pass that ends wakes
// it at once.
constexpr std::chrono::milliseconds kStatsWaitSlice(100);

// The worker timers a pass sums, in the order of their lines: each line names the timer, says
// what its time was spent on and gives the time in seconds.
struct SWorkerTime {
    const char *szName;
    const char *szMeasured;
    double SolrThreadPerfCounters::*pdSeconds;
};

const SWorkerTime kWorkerTimes[] = {
    {"PostRequest", "posting requests to the index engine",
     &SolrThreadPerfCounters::m_dPostRequest},
    {"ReadContent", "reading file content", &SolrThreadPerfCounters::m_dReadContent},
    {"GenerateCRC32", "computing CRC-32 checksums", &SolrThreadPerfCounters::m_dGenerateCRC32},
    {"SendVMItemsToWebService", "handing items to the web-service plug-in",
     &SolrThreadPerfCounters::m_dSendVMItemsToWebService},
    {"ChangeTime", "making version keys from change times", &SolrThreadPerfCounters::m_dChangeTime},
    {"OwnerAndAcl", "adding owner and security fields", &SolrThreadPerfCounters::m_dOwnerAndAcl},
    {"SendItems", "sending metadata batches, building included",
     &SolrThreadPerfCounters::m_dSendItems},
    {"BuildItems", "building item documents", &SolrThreadPerfCounters::m_dBuildItems},
};

void LogTime(const char *szFormat, const SWorkerTime &time, double dSeconds) {
    if (dSeconds > g_dMetricMinVal) {
        IDX_LOG(0, szFormat, time.szName, time.szMeasured, dSeconds);
    }
}

} // namespace

CSolrPerformanceLogThread::CSolrPerformanceLogThread(
    CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate)
    : m_ptrSolrTransmitterPrivate(ptrSolrTransmitterPrivate), m_ullPassesRequested(0),
      m_ullPassesAnswered(0) {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 2);
    unsigned long ulInterval = kDefaultIntervalSeconds;
    TQPlatformInfo().getNumber(kSection, kIntervalSetting, &ulInterval);
    if (ulInterval == 0) {
        ulInterval = kDefaultIntervalSeconds;
    }
    SetTimeout(CTimeInterval::FromSeconds(static_cast<int64_t>(ulInterval)));
}

CSolrPerformanceLogThread::~CSolrPerformanceLogThread() {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 2);
    // A pass reads the shared state: the thread ends before the state can go.
    StopBeforeDestruction();
    m_ptrSolrTransmitterPrivate.reset();
}

void CSolrPerformanceLogThread::OnEvent() {
    LogPerfCounters();
}

void CSolrPerformanceLogThread::OnTimeout() {
    LogPerfCounters();
}

void CSolrPerformanceLogThread::LogPerfCounters() {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 2);
    uint64_t ullAnswering = 0;
    {
        std::lock_guard<std::mutex> guard(m_lockPasses);
        ullAnswering = m_ullPassesRequested;
    }
    // Whatever ends the pass, its requests count as answered: LogStats never waits on a pass that
    // is over.
    struct CAnswer {
        CSolrPerformanceLogThread &thread;
        uint64_t ullAnswering;
        ~CAnswer() {
            {
                std::lock_guard<std::mutex> guard(thread.m_lockPasses);
                if (thread.m_ullPassesAnswered < ullAnswering) {
                    thread.m_ullPassesAnswered = ullAnswering;
                }
            }
            thread.m_cvPassDone.notify_all();
        }
    } answer{*this, ullAnswering};

    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    // Read before the worker-list lock is taken: no pass holds two locks of the shared state.
    const long long llQueueLength = static_cast<long long>(state.GetQueueLength());

    // The lock is held only to copy the list: a worker that does not answer, or a log line that
    // takes long, must not keep Stop (which takes the lock once LogStats has given up on this
    // pass) from ending the workers. The copies keep the workers alive while they are read.
    std::list<IIdxTransmitterThreadPtr> lstWorkers;
    {
        auto_lock lock(&state.m_lockWorkers, true);
        lstWorkers = state.m_lstWorkers;
    }

    SolrThreadPerfCounters sums;
    for (const IIdxTransmitterThreadPtr &ptrWorker : lstWorkers) {
        SolrThreadPerfCounters counters;
        if (!ptrWorker->ReadPerformanceCounters(counters)) {
            continue; // an index-log worker has no such figures
        }
        for (const SWorkerTime &time : kWorkerTimes) {
            sums.*time.pdSeconds += counters.*time.pdSeconds;
        }
        sums.m_llTransmittedItems += counters.m_llTransmittedItems;
        sums.m_llPackets += counters.m_llPackets;
        sums.m_llBuilds += counters.m_llBuilds;
        sums.m_llSends += counters.m_llSends;
    }
    // Let go before the lines are written: a worker that Stop released meanwhile ends here.
    lstWorkers.clear();

    for (const SWorkerTime &time : kWorkerTimes) {
        LogTime("%s (%s), total of all workers: %f seconds", time, sums.*time.pdSeconds);
    }
    IDX_LOG(1, "Cumulative stats for threads:%d", state.Config().m_nTransmitterThreads);
    // With no configured worker every sum is 0, and so is every average.
    if (state.Config().m_nTransmitterThreads > 0) {
        const double dThreads = static_cast<double>(state.Config().m_nTransmitterThreads);
        for (const SWorkerTime &time : kWorkerTimes) {
            LogTime("\t%s (%s), average per worker: %f seconds", time,
                    sums.*time.pdSeconds / dThreads);
        }
    }

    LogTransmitterTimers(1, state, false);

    IDX_LOG(1, "NrOfSends:%lld, NrOfBuilds:%lld", static_cast<long long>(sums.m_llSends),
            static_cast<long long>(sums.m_llBuilds));
    IDX_LOG(1, "Total Transmitted %lld items, Total Packets:%lld",
            static_cast<long long>(sums.m_llTransmittedItems),
            static_cast<long long>(sums.m_llPackets));
    IDX_LOG(1, "%lld items in queue", llQueueLength);
}

void CSolrPerformanceLogThread::LogStats() {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 2);
    if (!IsRunning() || IsStopRequested()) {
        IDX_LOG(0, "Performance log thread is not running, no performance pass is written");
        return;
    }

    uint64_t ullWanted = 0;
    {
        std::lock_guard<std::mutex> guard(m_lockPasses);
        ullWanted = ++m_ullPassesRequested;
    }
    SetEvent();

    const CTimeStamp tsStart = CTimeStamp::Now();
    const CTimeInterval limit =
        CTimeInterval::FromSeconds(static_cast<int64_t>(kStatsWaitLimitSeconds));
    std::unique_lock<std::mutex> lock(m_lockPasses);
    while (m_ullPassesAnswered < ullWanted) {
        if (!IsRunning() || IsStopRequested()) {
            IDX_LOG(0, "Performance log thread ended before the requested performance pass");
            return;
        }
        if (CTimeStamp::Now() - tsStart > limit) {
            IDX_LOG_ERROR("The performance pass did not complete within %u seconds, skipping it",
                          kStatsWaitLimitSeconds);
            return;
        }
        m_cvPassDone.wait_for(lock, kStatsWaitSlice);
    }
}

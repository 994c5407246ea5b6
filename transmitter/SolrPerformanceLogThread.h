// The transmitter's account of its own speed: an event thread that sums the performance figures of
// every index-engine worker and logs them with the transmitter's own timers, the counts and the
// queue length, once every "SolrTransmitterPerfLogInterval" seconds (a day unless set) and once
// more on request when the transmitter stops (LogStats).
//
// A pass only reads: it takes the worker-list lock just long enough to copy the list, so that a
// worker that does not answer, or a log line that takes long, never holds the lock that Stop
// needs; and it reads the workers' timers and totals without their participation, so it never
// holds a worker up.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/EventThread.h"
#include "transmitter/TransmitterTypes.h"

class CSolrPerformanceLogThread : public CAlertableEventThread {
public:
    // The interval when "SolrTransmitterPerfLogInterval" is absent or 0.
    static constexpr uint32_t kDefaultIntervalSeconds = 86400;
    // How long LogStats waits for its pass, on the platform clock. A pass takes microseconds
    // unless something holds the worker-list lock; the end of a job must not wait on that.
    static constexpr uint32_t kStatsWaitLimitSeconds = 60;

    // Keeps the shared state and sets the time-out from the platform setting; starts nothing.
    explicit CSolrPerformanceLogThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate);
    // Ends the thread while the shared state is still held, then lets the state go.
    ~CSolrPerformanceLogThread() override;

    // Each runs one pass.
    void OnEvent() override;
    void OnTimeout() override;

    // One pass; runs on the performance thread only.
    void LogPerfCounters();

    // Asks the thread for a pass and returns once a pass that began after the request has ended.
    // Returns at once, with a log line, when the thread is not running, and gives up with a log
    // line after kStatsWaitLimitSeconds: the caller is the end of a job, which must not hang.
    void LogStats();

private:
    CSolrTransmitterPrivatePtr m_ptrSolrTransmitterPrivate;

    // Requests of LogStats and the passes that answered them: a pass answers every request made
    // before it began. Guarded by m_lockPasses.
    std::mutex m_lockPasses;
    std::condition_variable m_cvPassDone;
    uint64_t m_ullPassesRequested;
    uint64_t m_ullPassesAnswered;
};

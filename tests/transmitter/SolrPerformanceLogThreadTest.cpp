// The performance log thread over test workers (which, like the index-log workers, carry no
// index-engine figures): its interval, what a pass writes from the transmitter's own state, that a
// pass leaves that state as it found it, the one pass of Stop, the switch that turns the thread
// off, the bounds of LogStats and that a pass stuck in a worker holds Stop no longer than them. The
// sums over index-engine workers are tested with those workers
// (tests/engine/SolrTransmitterThreadCountersTest.cpp).
#include "transmitter/SolrPerformanceLogThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

using idxtest::MakeTestItem;

const char kPassHeading[] = "Cumulative stats for threads:";

// A test worker held at a gate until the test lets it go: in its start (the transmitter's Start
// holds the worker-list lock meanwhile), or when a performance pass asks for its figures (the pass
// is stuck in the worker meanwhile).
class GatedWorker : public idxtest::TestTransmitterThread {
public:
    enum class EAt { eStart, eFigures };
    class Gate {
    public:
        // Called by the worker: tells that it is there and waits until the gate opens.
        void Pass() {
            std::unique_lock<std::mutex> lock(m_lock);
            m_bReached = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return m_bOpen; });
        }
        bool WaitReached() {
            std::unique_lock<std::mutex> lock(m_lock);
            return m_cv.wait_for(lock, std::chrono::seconds(5), [this] { return m_bReached; });
        }
        void Open() {
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_bOpen = true;
            }
            m_cv.notify_all();
        }

    private:
        std::mutex m_lock;
        std::condition_variable m_cv;
        bool m_bReached = false;
        bool m_bOpen = false;
    };
    GatedWorker(CSolrTransmitterPrivatePtr ptrState, CTransmitterOptionsPtr ptrOptions, Gate &gate,
                EAt eAt)
        : TestTransmitterThread(ptrState, ptrOptions), m_gate(gate), m_eAt(eAt) {}
    ~GatedWorker() override { StopBeforeDestruction(); }

    void OnStart() override {
        if (m_eAt == EAt::eStart) {
            m_gate.Pass();
        }
    }
    bool ReadPerformanceCounters(SolrThreadPerfCounters &) override {
        if (m_eAt == EAt::eFigures) {
            m_gate.Pass();
        }
        return false;
    }

private:
    Gate &m_gate;
    const EAt m_eAt;
};

// A transmitter of test workers whose failures file goes to a folder of its own, with its
// performance log thread in reach; with a gate its factory makes gated workers.
class PerfTransmitter : public idxtest::TestSolrTransmitter {
public:
    explicit PerfTransmitter(const idxtest::TempDir &dir) {
        State().m_ptrOptions->SetSubClientDir(dir.Path());
    }
    boost::shared_ptr<CSolrPerformanceLogThread> PerformanceLogThread() {
        return boost::dynamic_pointer_cast<CSolrPerformanceLogThread>(m_ptrPerformanceLogThread);
    }
    IIdxTransmitterThreadPtr GetIdxTransmitterThreadObj() override {
        if (m_pGate == nullptr) {
            return TestSolrTransmitter::GetIdxTransmitterThreadObj();
        }
        return boost::make_shared<GatedWorker>(StatePtr(), State().m_ptrOptions, *m_pGate,
                                               m_eGatedAt);
    }

    GatedWorker::Gate *m_pGate = nullptr;
    GatedWorker::EAt m_eGatedAt = GatedWorker::EAt::eStart;
};

// Waits (for real, polling every 2 ms, at most 5 s) until the predicate holds.
template <typename TPredicate> bool WaitFor(TPredicate predicate) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Moves the virtual clock past the limit of LogStats's wait, again and again, until bDone (as
// WaitFor).
bool PassTheStatsWaitLimitUntil(const std::atomic<bool> &bDone) {
    return WaitFor([&] {
        idxtest::VirtualClock::Advance((CSolrPerformanceLogThread::kStatsWaitLimitSeconds + 1) *
                                       1000);
        return bDone.load();
    });
}

// Where the first captured line holding the text is, or -1.
int IndexOf(const std::vector<idxtest::CapturedLogLine> &vecLines, const std::string &strText) {
    for (size_t i = 0; i < vecLines.size(); ++i) {
        if (vecLines[i].strText.find(strText) != std::string::npos) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

class SolrPerformanceLogThreadTest : public ::testing::Test {
protected:
    SolrPerformanceLogThreadTest() : m_log(7) {}

    idxtest::PlatformSettingsScope m_settings;
    idxtest::LogCapture m_log;
    idxtest::TempDir m_dir;
};

TEST_F(SolrPerformanceLogThreadTest, IntervalComesFromThePlatformSetting) {
    struct Case {
        const char *szSetting; // null: absent
        int64_t llSeconds;
    };
    for (const Case &c : {Case{nullptr, 86400}, Case{"0", 86400}, Case{"60", 60}}) {
        SCOPED_TRACE(c.szSetting ? c.szSetting : "absent");
        if (c.szSetting) {
            idxtest::SetPlatformSetting("FileSystemAgent", "SolrTransmitterPerfLogInterval",
                                        c.szSetting);
        } else {
            idxtest::ClearPlatformSetting("FileSystemAgent", "SolrTransmitterPerfLogInterval");
        }
        auto ptrState = boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
        CSolrPerformanceLogThread thread(ptrState);
        EXPECT_EQ(thread.GetTimeout().GetTicks(), c.llSeconds * 10000000);
    }
}

TEST_F(SolrPerformanceLogThreadTest, PassWritesTheTransmitterFiguresAndChangesNothing) {
    PerfTransmitter transmitter(m_dir);
    ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(2).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());
    boost::shared_ptr<CSolrPerformanceLogThread> ptrThread = transmitter.PerformanceLogThread();
    ASSERT_TRUE(ptrThread);
    ASSERT_TRUE(ptrThread->IsRunning());

    for (const idxtest::TestTransmitterThreadPtr &ptrWorker : transmitter.Workers()) {
        ptrWorker->SetPaused(true);
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_FALSE(transmitter.AddToQueue(MakeTestItem("/p/f" + std::to_string(i))).IsError());
    }
    CSolrTransmitterPrivate &state = transmitter.State();
    *state.Timers().m_ptrCollectSecurityInfoTimer += CTimeInterval::FromMilliseconds(1500);
    // Exactly the threshold is not worth a line (the queueing above measured its own waits).
    state.Timers().m_ptrQueueFullWaitTimer->Reset();
    *state.Timers().m_ptrQueueFullWaitTimer += CTimeInterval::FromMilliseconds(100);
    *state.Timers().m_ptrAdditionalPropertiesTimer += CTimeInterval::FromMilliseconds(250);

    auto Snapshot = [&state] {
        std::vector<std::string> vecState;
        for (const auto *pTimer :
             {&state.Timers().m_ptrCollectSecurityInfoTimer,
              &state.Timers().m_ptrQueueFullWaitTimer, &state.Timers().m_ptrGetQueuedItemsTimer,
              &state.Timers().m_ptrAdditionalPropertiesTimer}) {
            vecState.push_back((*pTimer)->AsString());
        }
        vecState.push_back(std::to_string(state.GetQueueLength()));
        vecState.push_back(std::to_string(state.GetItemsQueued()));
        vecState.push_back(std::to_string(state.GetWorkers().size()));
        return vecState;
    };
    const std::vector<std::string> vecBefore = Snapshot();

    m_log.Clear();
    ptrThread->LogStats();

    EXPECT_EQ(Snapshot(), vecBefore);
    EXPECT_EQ(m_log.CountAtLevel("Cumulative stats for threads:2", 1), 1u);
    EXPECT_EQ(m_log.CountAtLevel("CollectSecurityInfo (job thread reading owner and security "
                                 "information): 1.500 seconds in 1 samples",
                                 1),
              1u);
    EXPECT_EQ(m_log.CountAtLevel(
                  "Additionalproperties (reading additional item properties): 0.250 seconds "
                  "in 1 samples",
                  1),
              1u);
    EXPECT_EQ(m_log.Count("AddToQueue Queue-full wait"), 0u);
    EXPECT_EQ(m_log.CountAtLevel("NrOfSends:0, NrOfBuilds:0", 1), 1u);
    EXPECT_EQ(m_log.CountAtLevel("Total Transmitted 0 items, Total Packets:0", 1), 1u);
    EXPECT_EQ(m_log.CountAtLevel("3 items in queue", 1), 1u);
    // The test workers carry no index-engine figures: no total and no average.
    for (const char *szTime : {"PostRequest (", "ReadContent (", "GenerateCRC32 (", "ChangeTime (",
                               "OwnerAndA", "SendItems (", "BuildItems ("}) {
        EXPECT_EQ(m_log.Count(szTime), 0u) << szTime;
    }

    // The held items go to the failures file rather than keep the end of the job waiting.
    EXPECT_FALSE(transmitter.Abort(true).IsError());
}

TEST_F(SolrPerformanceLogThreadTest, StopWritesOnePassWhileTheWorkersAreListed) {
    {
        PerfTransmitter transmitter(m_dir);
        ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(2).IsError());
        ASSERT_FALSE(transmitter.Start().IsError());

        m_log.Clear();
        ASSERT_FALSE(transmitter.Stop().IsError());

        const std::vector<idxtest::CapturedLogLine> vecLines = m_log.Lines();
        EXPECT_EQ(m_log.CountAtLevel("Cumulative stats for threads:2", 1), 1u);
        const int nPass = IndexOf(vecLines, "0 items in queue");
        const int nWorkersEnded = IndexOf(vecLines, "Successfully terminated all the transmitter");
        ASSERT_GE(nPass, 0);
        ASSERT_GE(nWorkersEnded, 0);
        EXPECT_LT(nPass, nWorkersEnded);
        // The thread lives on with the transmitter, but the figures have been told: a second
        // Stop, and the destructor's pass after it, write no other summary.
        EXPECT_TRUE(transmitter.PerformanceLogThread()->IsRunning());
        m_log.Clear();
        ASSERT_FALSE(transmitter.Stop().IsError());
    }
    EXPECT_EQ(m_log.Count(kPassHeading), 0u);
    EXPECT_EQ(m_log.Count("Total Transmitted"), 0u);
}

TEST_F(SolrPerformanceLogThreadTest, SwitchedOffThereIsNoThreadAndNoPass) {
    PerfTransmitter transmitter(m_dir);
    transmitter.State().SetUp().m_nDisableSolrPerfThread = 1;
    ASSERT_FALSE(transmitter.Start().IsError());
    EXPECT_FALSE(transmitter.PerformanceLogThread());

    m_log.Clear();
    ASSERT_FALSE(transmitter.Stop().IsError());
    EXPECT_EQ(m_log.Count(kPassHeading), 0u);
    EXPECT_EQ(m_log.Count("Performance log thread"), 0u);
}

TEST_F(SolrPerformanceLogThreadTest, StartAfterStopReplacesTheThread) {
    PerfTransmitter transmitter(m_dir);
    ASSERT_FALSE(transmitter.Start().IsError());
    boost::weak_ptr<CSolrPerformanceLogThread> ptrFirst = transmitter.PerformanceLogThread();
    ASSERT_FALSE(transmitter.Stop().IsError());

    ASSERT_FALSE(transmitter.Start().IsError());
    boost::shared_ptr<CSolrPerformanceLogThread> ptrSecond = transmitter.PerformanceLogThread();
    ASSERT_TRUE(ptrSecond);
    EXPECT_TRUE(ptrSecond->IsRunning());
    // The first thread ended and was let go.
    EXPECT_TRUE(ptrFirst.expired());
    // The run that started again has figures of its own to tell when it stops.
    m_log.Clear();
    ASSERT_FALSE(transmitter.Stop().IsError());
    EXPECT_EQ(m_log.Count(kPassHeading), 1u);
}

TEST_F(SolrPerformanceLogThreadTest, LogStatsReturnsAtOnceWhenTheThreadDoesNotRun) {
    auto ptrState = boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
    CSolrPerformanceLogThread neverStarted(ptrState);
    CSolrPerformanceLogThread ended(ptrState);
    ASSERT_FALSE(ended.Start().IsError());
    ASSERT_FALSE(ended.Stop(true).IsError());

    for (CSolrPerformanceLogThread *pThread : {&neverStarted, &ended}) {
        m_log.Clear();
        pThread->LogStats();
        EXPECT_EQ(m_log.CountAtLevel("Performance log thread is not running", 0), 1u);
        EXPECT_EQ(m_log.Count(kPassHeading), 0u);
    }
}

TEST_F(SolrPerformanceLogThreadTest, LogStatsGivesUpOnAPassThatCannotRun) {
    idxtest::VirtualClock clock;
    PerfTransmitter transmitter(m_dir);
    ASSERT_FALSE(transmitter.Start().IsError());
    boost::shared_ptr<CSolrPerformanceLogThread> ptrThread = transmitter.PerformanceLogThread();
    ASSERT_FALSE(transmitter.Stop().IsError());

    // A second Start holds the worker-list lock while its worker starts, which keeps a pass of
    // the first thread from running.
    GatedWorker::Gate gate;
    transmitter.m_pGate = &gate;
    std::thread starter([&] { EXPECT_FALSE(transmitter.Start().IsError()); });
    ASSERT_TRUE(gate.WaitReached());
    m_log.Clear();
    std::atomic<bool> bReturned{false};
    std::thread caller([&] {
        ptrThread->LogStats();
        bReturned.store(true);
    });
    // The wait is bounded on the platform clock: it ends once the clock has passed the limit.
    EXPECT_TRUE(PassTheStatsWaitLimitUntil(bReturned));
    EXPECT_EQ(m_log.CountAtLevel("The performance pass did not complete within 60 seconds", -1),
              1u);
    EXPECT_EQ(m_log.Count(kPassHeading), 0u);

    gate.Open();
    starter.join();
    caller.join();
    // Once the lock is free the pass that was asked for runs after all.
    EXPECT_TRUE(WaitFor([&] { return m_log.Count(kPassHeading) == 1; }));
    EXPECT_NE(transmitter.PerformanceLogThread(), ptrThread);
}

TEST_F(SolrPerformanceLogThreadTest, APassStuckInAWorkerHoldsStopOnlyUntilTheWaitLimit) {
    idxtest::VirtualClock clock;
    PerfTransmitter transmitter(m_dir);
    GatedWorker::Gate gate;
    transmitter.m_pGate = &gate;
    transmitter.m_eGatedAt = GatedWorker::EAt::eFigures;
    ASSERT_FALSE(transmitter.Start().IsError());

    m_log.Clear();
    CKyError stopResult;
    std::atomic<bool> bStopped{false};
    std::thread stopper([&] {
        stopResult = transmitter.Stop();
        bStopped.store(true);
    });
    ASSERT_TRUE(gate.WaitReached());
    // Once LogStats has given up on the pass, nothing of the pass keeps Stop from the workers.
    EXPECT_TRUE(PassTheStatsWaitLimitUntil(bStopped));
    EXPECT_EQ(m_log.CountAtLevel("The performance pass did not complete within 60 seconds", -1),
              1u);

    gate.Open();
    stopper.join();
    EXPECT_FALSE(stopResult.IsError()) << stopResult.AsString();
    EXPECT_TRUE(transmitter.State().GetWorkers().empty());
    // The worker answers at last, and the pass ends with the figures it could gather.
    EXPECT_TRUE(WaitFor([&] { return m_log.Count(kPassHeading) == 1; }));
}

} // namespace

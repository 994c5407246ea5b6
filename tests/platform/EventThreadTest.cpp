#include "platform/EventThread.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/LogCapture.h"
#include "platform/testing/VirtualClock.h"

namespace {

using Clock = std::chrono::steady_clock;

// Polls a condition until it holds or a generous deadline passes.
bool WaitUntil(const std::function<bool()> &fnCondition, int nMilliseconds = 10000) {
    const auto tpEnd = Clock::now() + std::chrono::milliseconds(nMilliseconds);
    while (!fnCondition()) {
        if (Clock::now() > tpEnd) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void SleepMs(int nMilliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds));
}

// What a probe thread did; shared so that it outlives the thread object.
struct CHookLog {
    std::mutex m_lock;
    std::vector<std::string> m_vecHooks;
    std::atomic<int> m_nEvents{0};
    std::atomic<int> m_nTimeouts{0};
    std::atomic<int> m_nStops{0};
    std::atomic<int> m_nWaits{0};
    std::atomic<bool> m_bWaiting{false};
    std::atomic<bool> m_bInHook{false};
    std::atomic<bool> m_bOverlap{false};
    std::thread::id m_idStartThread;

    std::vector<std::string> Hooks() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_vecHooks;
    }
};

// An event thread that records its hooks and runs optional test code inside them.
class CProbeThread : public CAlertableEventThread {
public:
    CProbeThread() = default;
    explicit CProbeThread(boost::shared_ptr<FXEvent> &ptrEvent) : CAlertableEventThread(ptrEvent) {}
    ~CProbeThread() override { StopBeforeDestruction(); }

    std::shared_ptr<CHookLog> m_ptrLog = std::make_shared<CHookLog>();
    std::function<void()> m_fnOnStart;
    std::function<void()> m_fnOnEvent;
    std::function<void()> m_fnOnTimeout;

    uint32_t WaitForEvent() override {
        ++m_ptrLog->m_nWaits;
        m_ptrLog->m_bWaiting = true;
        const uint32_t nResult = CAlertableEventThread::WaitForEvent();
        m_ptrLog->m_bWaiting = false;
        return nResult;
    }
    void OnStart() override {
        Enter("OnStart");
        m_ptrLog->m_idStartThread = std::this_thread::get_id();
        Call(m_fnOnStart);
        Leave();
    }
    void OnRun() override {
        Enter("OnRun");
        Leave();
    }
    void OnEvent() override {
        Enter("OnEvent");
        ++m_ptrLog->m_nEvents;
        Call(m_fnOnEvent);
        Leave();
    }
    void OnTimeout() override {
        Enter("OnTimeout");
        ++m_ptrLog->m_nTimeouts;
        Call(m_fnOnTimeout);
        Leave();
    }
    void OnStop() override {
        Enter("OnStop");
        ++m_ptrLog->m_nStops;
        Leave();
    }

private:
    void Enter(const char *szHook) {
        if (m_ptrLog->m_bInHook.exchange(true)) {
            m_ptrLog->m_bOverlap = true;
        }
        std::lock_guard<std::mutex> guard(m_ptrLog->m_lock);
        m_ptrLog->m_vecHooks.push_back(szHook);
    }
    void Leave() { m_ptrLog->m_bInHook = false; }
    static void Call(const std::function<void()> &fn) {
        if (fn) {
            fn();
        }
    }
};

// Holds a hook until the test opens it.
class CGate {
public:
    void Pass() { m_future.wait(); }
    void Open() { m_promise.set_value(); }

private:
    std::promise<void> m_promise;
    std::shared_future<void> m_future = m_promise.get_future().share();
};

TEST(EventThreadTest, StartReturnsAfterOnStartRanOnTheNewThread) {
    CProbeThread thread;
    std::atomic<bool> bStartDone{false};
    thread.m_fnOnStart = [&] {
        SleepMs(30);
        bStartDone = true;
    };
    ASSERT_FALSE(thread.Start().IsError());
    EXPECT_TRUE(bStartDone.load());
    EXPECT_NE(thread.m_ptrLog->m_idStartThread, std::this_thread::get_id());
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_TRUE(thread.Start().IsError());
    EXPECT_TRUE(thread.StartSynchronously().IsError());
    EXPECT_FALSE(thread.Stop(true).IsError());
    EXPECT_FALSE(thread.IsRunning());
}

TEST(EventThreadTest, OneSetWakesEveryWaitingWorkerAndEachSetIsSeen) {
    const int kWorkers = 4;
    boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
    std::vector<std::unique_ptr<CProbeThread>> vecWorkers;
    for (int i = 0; i < kWorkers; ++i) {
        vecWorkers.push_back(std::make_unique<CProbeThread>(ptrEvent));
        ASSERT_FALSE(vecWorkers.back()->Start().IsError());
    }
    auto allWaitingAfter = [&](int nEvents) {
        return WaitUntil([&] {
            for (auto &ptrWorker : vecWorkers) {
                if (ptrWorker->m_ptrLog->m_nEvents < nEvents || !ptrWorker->m_ptrLog->m_bWaiting) {
                    return false;
                }
            }
            return true;
        });
    };
    ASSERT_TRUE(allWaitingAfter(0));

    ptrEvent->Set();
    EXPECT_TRUE(allWaitingAfter(1));

    // One Set per worker, made at once: every worker wakes.
    for (int i = 0; i < kWorkers; ++i) {
        ptrEvent->Set();
    }
    EXPECT_TRUE(allWaitingAfter(2));
    for (auto &ptrWorker : vecWorkers) {
        EXPECT_LE(ptrWorker->m_ptrLog->m_nEvents.load(), 1 + kWorkers);
        EXPECT_FALSE(ptrWorker->Stop(true).IsError());
    }
}

TEST(EventThreadTest, SetOneWakesOneWaitingThreadAndIsSeenByABusyOne) {
    boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
    const int kWorkers = 3;
    std::vector<std::unique_ptr<CProbeThread>> vecWorkers;
    for (int i = 0; i < kWorkers; ++i) {
        vecWorkers.push_back(std::make_unique<CProbeThread>(ptrEvent));
        ASSERT_FALSE(vecWorkers.back()->Start().IsError());
    }
    auto totalEvents = [&] {
        int nTotal = 0;
        for (auto &ptrWorker : vecWorkers) {
            nTotal += ptrWorker->m_ptrLog->m_nEvents.load();
        }
        return nTotal;
    };
    ASSERT_TRUE(WaitUntil([&] {
        for (auto &ptrWorker : vecWorkers) {
            if (!ptrWorker->m_ptrLog->m_bWaiting) {
                return false;
            }
        }
        return true;
    }));

    ptrEvent->SetOne();
    EXPECT_TRUE(WaitUntil([&] { return totalEvents() == 1; }));
    SleepMs(20);
    EXPECT_EQ(1, totalEvents());

    // A thread that was not woken still sees the set when it waits again after another wake.
    for (int i = 0; i < kWorkers; ++i) {
        ptrEvent->SetOne();
    }
    EXPECT_TRUE(WaitUntil([&] { return totalEvents() >= 1 + kWorkers; }));
    for (auto &ptrWorker : vecWorkers) {
        EXPECT_FALSE(ptrWorker->Stop(true).IsError());
    }
}

// A wait that ends by its time-out leaves the waiting threads as they were, wherever it stood
// among them: the sets made afterwards end each of the others.
TEST(EventThreadTest, WaitThatTimesOutAmongOthersLeavesThemWaiting) {
    FXEvent event(0);
    std::atomic<int> nSeen{0};
    std::vector<std::thread> vecLong;
    std::vector<std::thread> vecShort;
    for (int i = 0; i < 3; ++i) {
        vecLong.emplace_back([&] {
            if (event.WaitForSetReal(TQ_INFINITE) == TQ_WAIT_OBJECT_0) {
                ++nSeen;
            }
        });
        vecShort.emplace_back(
            [&] { EXPECT_EQ(static_cast<uint32_t>(TQ_WAIT_TIMEOUT), event.WaitForSetReal(20)); });
    }
    for (std::thread &waiter : vecShort) {
        waiter.join();
    }
    for (int i = 1; i <= 3; ++i) {
        event.SetOne();
        EXPECT_TRUE(WaitUntil([&] { return nSeen.load() >= i; })) << i;
    }
    for (std::thread &waiter : vecLong) {
        waiter.join();
    }
    EXPECT_EQ(3, nSeen.load());
}

TEST(EventThreadTest, SetWhileBusyIsSeenAtTheNextWait) {
    boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
    CProbeThread worker(ptrEvent);
    CGate gate;
    std::atomic<bool> bInFirstEvent{false};
    worker.m_fnOnEvent = [&] {
        if (worker.m_ptrLog->m_nEvents == 1) {
            bInFirstEvent = true;
            gate.Pass();
        }
    };
    ASSERT_FALSE(worker.Start().IsError());
    ptrEvent->Set();
    ASSERT_TRUE(WaitUntil([&] { return bInFirstEvent.load(); }));
    ptrEvent->Set();
    gate.Open();
    EXPECT_TRUE(WaitUntil([&] { return worker.m_ptrLog->m_nEvents == 2; }));
    EXPECT_TRUE(WaitUntil([&] { return worker.m_ptrLog->m_bWaiting.load(); }));
    SleepMs(20);
    EXPECT_EQ(worker.m_ptrLog->m_nEvents.load(), 2);
}

TEST(EventThreadTest, SetBeforeTheFirstWaitIsNotLost) {
    struct Case {
        const char *szName;
        bool bSetBeforeStart;
    };
    for (const Case &c : {Case{"set before Start", true}, Case{"set during OnStart", false}}) {
        boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
        CProbeThread worker(ptrEvent);
        if (c.bSetBeforeStart) {
            ptrEvent->Set();
        } else {
            worker.m_fnOnStart = [&] { ptrEvent->Set(); };
        }
        ASSERT_FALSE(worker.Start().IsError());
        EXPECT_TRUE(WaitUntil([&] { return worker.m_ptrLog->m_nEvents == 1; })) << c.szName;
    }
}

TEST(EventThreadTest, StopTrueJoinsAndNoHookRunsAfterIt) {
    boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
    CProbeThread worker(ptrEvent);
    worker.SetTimeout(CTimeInterval::FromMilliseconds(2));
    ASSERT_FALSE(worker.Start().IsError());
    ptrEvent->Set();
    ASSERT_TRUE(WaitUntil(
        [&] { return worker.m_ptrLog->m_nEvents >= 1 && worker.m_ptrLog->m_nTimeouts >= 2; }));

    EXPECT_FALSE(worker.Stop(true).IsError());
    const std::vector<std::string> vecHooks = worker.m_ptrLog->Hooks();
    ASSERT_GE(vecHooks.size(), 4u);
    EXPECT_EQ(vecHooks[0], "OnStart");
    EXPECT_EQ(vecHooks[1], "OnRun");
    EXPECT_EQ(vecHooks.back(), "OnStop");
    EXPECT_EQ(worker.m_ptrLog->m_nStops.load(), 1);
    EXPECT_FALSE(worker.m_ptrLog->m_bOverlap.load());
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(worker.WaitForStop(CTimeInterval()));

    ptrEvent->Set();
    worker.SetEvent();
    SleepMs(30);
    EXPECT_EQ(worker.m_ptrLog->Hooks().size(), vecHooks.size());
}

TEST(EventThreadTest, StopFalseOnlyRequestsTheStop) {
    CProbeThread worker;
    CGate gate;
    std::atomic<bool> bInEvent{false};
    worker.m_fnOnEvent = [&] {
        bInEvent = true;
        gate.Pass();
    };
    ASSERT_FALSE(worker.Start().IsError());
    worker.SetEvent();
    ASSERT_TRUE(WaitUntil([&] { return bInEvent.load(); }));

    EXPECT_FALSE(worker.Stop(false).IsError());
    EXPECT_TRUE(worker.IsStopRequested());
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_FALSE(worker.WaitForStop(CTimeInterval::FromMilliseconds(20)));
    EXPECT_EQ(worker.m_ptrLog->m_nStops.load(), 0);

    gate.Open();
    EXPECT_TRUE(worker.WaitForStop(CTimeInterval::FromSeconds(10)));
    EXPECT_EQ(worker.m_ptrLog->m_nStops.load(), 1);
    EXPECT_EQ(worker.m_ptrLog->m_nEvents.load(), 1);
}

TEST(EventThreadTest, StopFromTheThreadsOwnHookEndsItWithoutJoiningItself) {
    struct Case {
        const char *szName;
        std::function<void(CProbeThread &)> fnArrange;
        int nWaits;
    };
    const Case cases[] = {
        {"InternalStop in OnStart",
         [](CProbeThread &t) { t.m_fnOnStart = [&t] { t.InternalStop(); }; }, 0},
        {"Stop(true) in OnEvent",
         [](CProbeThread &t) {
             t.m_fnOnEvent = [&t] { EXPECT_FALSE(t.Stop(true).IsError()); };
             t.m_fnOnStart = [&t] { t.SetEvent(); };
         },
         1},
        {"Stop(false) in OnTimeout",
         [](CProbeThread &t) {
             t.SetTimeout(CTimeInterval::FromMilliseconds(5));
             t.m_fnOnTimeout = [&t] { t.Stop(false); };
         },
         1},
    };
    for (const Case &c : cases) {
        CProbeThread thread;
        c.fnArrange(thread);
        ASSERT_FALSE(thread.Start().IsError()) << c.szName;
        EXPECT_TRUE(thread.WaitForStop(CTimeInterval::FromSeconds(10))) << c.szName;
        EXPECT_EQ(thread.m_ptrLog->m_nStops.load(), 1) << c.szName;
        EXPECT_EQ(thread.m_ptrLog->m_nWaits.load(), c.nWaits) << c.szName;
        EXPECT_FALSE(thread.Stop(true).IsError()) << c.szName;
    }
}

TEST(EventThreadTest, NeverStartedThreadStartsNothingAndWaitsForNothing) {
    boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
    std::shared_ptr<CHookLog> ptrLog;
    const auto tpStart = Clock::now();
    {
        CProbeThread worker(ptrEvent);
        ptrLog = worker.m_ptrLog;
        ptrEvent->Set();
        worker.InternalStop();
        EXPECT_FALSE(worker.IsRunning());
        EXPECT_TRUE(worker.WaitForStop(CTimeInterval()));
        EXPECT_FALSE(worker.Stop(false).IsError());
        EXPECT_FALSE(worker.Stop(true).IsError());
    }
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tpStart).count(),
              1000);
    EXPECT_TRUE(ptrLog->Hooks().empty());
    EXPECT_EQ(ptrLog->m_nWaits.load(), 0);
}

TEST(EventThreadTest, DestroyingARunningThreadStopsAndJoinsIt) {
    auto ptrWorker = std::make_unique<CProbeThread>();
    std::shared_ptr<CHookLog> ptrLog = ptrWorker->m_ptrLog;
    ASSERT_FALSE(ptrWorker->Start().IsError());
    ASSERT_TRUE(WaitUntil([&] { return ptrLog->m_bWaiting.load(); }));
    ptrWorker.reset();
    EXPECT_EQ(ptrLog->m_nStops.load(), 1);
    EXPECT_EQ(ptrLog->Hooks().back(), "OnStop");
}

TEST(EventThreadTest, TimeoutRunsOnTimeoutAndAClearIntervalWaitsWithoutLimit) {
    CProbeThread timed;
    timed.SetTimeout(CTimeInterval::FromMilliseconds(10));
    EXPECT_EQ(timed.GetTimeout().AsMilliseconds(), 10);
    CProbeThread untimed;
    EXPECT_TRUE(untimed.GetTimeout().IsClear());
    ASSERT_FALSE(timed.Start().IsError());
    ASSERT_FALSE(untimed.Start().IsError());

    EXPECT_TRUE(WaitUntil([&] { return timed.m_ptrLog->m_nTimeouts >= 3; }));
    EXPECT_EQ(timed.m_ptrLog->m_nEvents.load(), 0);
    // The untimed thread may not have reached its first wait yet, however long the timed one ran.
    ASSERT_TRUE(WaitUntil([&] { return untimed.m_ptrLog->m_bWaiting.load(); }));
    EXPECT_EQ(untimed.m_ptrLog->m_nTimeouts.load(), 0);
    EXPECT_EQ(untimed.m_ptrLog->m_nWaits.load(), 1);

    untimed.SetEvent();
    EXPECT_TRUE(WaitUntil([&] { return untimed.m_ptrLog->m_nEvents == 1; }));
    EXPECT_EQ(untimed.m_ptrLog->m_nTimeouts.load(), 0);
}

TEST(EventThreadTest, LongTimeoutPassesOnTheVirtualClock) {
    idxtest::VirtualClock clock;
    CProbeThread thread;
    thread.SetTimeout(CTimeInterval::FromSeconds(90));
    ASSERT_FALSE(thread.Start().IsError());
    ASSERT_TRUE(WaitUntil([&] { return thread.m_ptrLog->m_bWaiting.load(); }));
    SleepMs(30);
    EXPECT_EQ(thread.m_ptrLog->m_nTimeouts.load(), 0);
    idxtest::VirtualClock::Advance(90000);
    EXPECT_TRUE(WaitUntil([&] { return thread.m_ptrLog->m_nTimeouts == 1; }));
    EXPECT_FALSE(thread.Stop(true).IsError());
}

TEST(EventThreadTest, StoppingOneWorkerLeavesTheOthersWaiting) {
    boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
    CProbeThread stopped(ptrEvent);
    CProbeThread other(ptrEvent);
    ASSERT_FALSE(stopped.Start().IsError());
    ASSERT_FALSE(other.Start().IsError());
    ASSERT_TRUE(WaitUntil(
        [&] { return stopped.m_ptrLog->m_bWaiting.load() && other.m_ptrLog->m_bWaiting.load(); }));

    EXPECT_FALSE(stopped.Stop(true).IsError());
    EXPECT_EQ(stopped.m_ptrLog->m_nStops.load(), 1);
    SleepMs(20);
    EXPECT_EQ(other.m_ptrLog->Hooks().size(), 2u); // OnStart, OnRun
    EXPECT_EQ(other.m_ptrLog->m_nWaits.load(), 1);

    ptrEvent->Set();
    EXPECT_TRUE(WaitUntil([&] { return other.m_ptrLog->m_nEvents == 1; }));
    EXPECT_EQ(stopped.m_ptrLog->m_nEvents.load(), 0);
}

TEST(EventThreadTest, StartSynchronouslyRunsTheWholeLifeOnTheCaller) {
    CProbeThread thread;
    thread.m_fnOnEvent = [&] { thread.InternalStop(); };
    thread.SetEvent();
    EXPECT_FALSE(thread.StartSynchronously().IsError());
    EXPECT_EQ(thread.m_ptrLog->m_idStartThread, std::this_thread::get_id());
    EXPECT_EQ(thread.m_ptrLog->Hooks(),
              (std::vector<std::string>{"OnStart", "OnRun", "OnEvent", "OnStop"}));
    EXPECT_TRUE(thread.WaitForStop(CTimeInterval()));
}

TEST(EventThreadTest, ExceptionInAHookIsLoggedAndEndsTheThreadThroughOnStop) {
    idxtest::LogCapture capture;
    CProbeThread thread;
    thread.m_fnOnEvent = [] { throw std::runtime_error("broken batch"); };
    ASSERT_FALSE(thread.Start().IsError());
    thread.SetEvent();
    EXPECT_TRUE(thread.WaitForStop(CTimeInterval::FromSeconds(10)));
    EXPECT_EQ(thread.m_ptrLog->m_nStops.load(), 1);
    EXPECT_EQ(capture.CountAtLevel("broken batch", -1), 1u);
}

TEST(EventThreadTest, EventWaitSeesEachSetOncePerThread) {
    FXEvent event(0);
    auto tpStart = Clock::now();
    EXPECT_EQ(event.WaitForSet(30), static_cast<uint32_t>(TQ_WAIT_TIMEOUT));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tpStart).count(),
              25);

    event.Set();
    event.Set();
    EXPECT_EQ(event.WaitForSet(0), 0u);
    EXPECT_EQ(event.WaitForSet(0), static_cast<uint32_t>(TQ_WAIT_TIMEOUT));
    // Another thread has its own view and still sees the Sets.
    EXPECT_EQ(std::async(std::launch::async, [&] { return event.WaitForSet(0); }).get(), 0u);

    auto result = std::async(std::launch::async, [&] { return event.WaitForSet(TQ_INFINITE); });
    SleepMs(10);
    event.Set();
    EXPECT_EQ(result.get(), 0u);
}

void *RecordArgument(void *pArgument) {
    SleepMs(20);
    static_cast<std::atomic<int> *>(pArgument)->fetch_add(1);
    return nullptr;
}

TEST(EventThreadTest, RawThreadRunsItsFunctionAndIsJoined) {
    std::atomic<int> nRuns{0};
    {
        TqThread thread;
        EXPECT_EQ(thread.createThread(nullptr, &nRuns), EINVAL);
        EXPECT_EQ(thread.join(), ESRCH);
        ASSERT_EQ(thread.createThread(&RecordArgument, &nRuns), 0);
        EXPECT_TRUE(thread.isCreated());
        EXPECT_EQ(thread.createThread(&RecordArgument, &nRuns), EBUSY);
        EXPECT_EQ(thread.join(), 0);
        EXPECT_EQ(nRuns.load(), 1);
        EXPECT_EQ(thread.join(), ESRCH);
        ASSERT_EQ(thread.createThread(&RecordArgument, &nRuns), 0);
    }
    // The destructor joined the second thread.
    EXPECT_EQ(nRuns.load(), 2);
}

} // namespace

TEST(EventThreadTest, RealClockWaitEndsWhileTheVirtualClockStandsStill) {
    idxtest::VirtualClock clock;
    boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
    const int64_t llTicks = idxtest::VirtualClock::Ticks();
    // Nothing moves the virtual clock here: a wait measured on it would never end.
    EXPECT_EQ(TQ_WAIT_TIMEOUT, ptrEvent->WaitForSetReal(2));
    EXPECT_EQ(llTicks, idxtest::VirtualClock::Ticks());
    ptrEvent->Set();
    EXPECT_EQ(TQ_WAIT_OBJECT_0, ptrEvent->WaitForSetReal(TQ_INFINITE));
}

TEST(EventThreadTest, RealClockWaitEndsAtASetAndAtAStop) {
    boost::shared_ptr<FXEvent> ptrEvent(new FXEvent(0));
    CProbeThread worker(ptrEvent);
    std::atomic<int> nInWait{0};
    std::atomic<uint32_t> arrResults[2] = {{0xFFFF}, {0xFFFF}};
    worker.m_fnOnEvent = [&] {
        const int nIndex = nInWait.load();
        nInWait = nIndex + 1;
        // An hour: only a set or the stop can end this wait.
        arrResults[nIndex] = ptrEvent->WaitForSetReal(3600u * 1000u);
    };
    ASSERT_FALSE(worker.Start().IsError());
    ptrEvent->Set();
    ASSERT_TRUE(WaitUntil([&] { return nInWait.load() == 1; }));
    ptrEvent->Set();
    ASSERT_TRUE(WaitUntil([&] { return arrResults[0].load() != 0xFFFF; }));
    EXPECT_EQ(TQ_WAIT_OBJECT_0, arrResults[0].load());

    ptrEvent->Set();
    ASSERT_TRUE(WaitUntil([&] { return nInWait.load() == 2; }));
    EXPECT_FALSE(worker.Stop(true).IsError());
    EXPECT_EQ(TQ_WAIT_IO_COMPLETION, arrResults[1].load());
}

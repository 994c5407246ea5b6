// The periodic commit thread against workers that answer its requests as a live-crawl worker
// does: one reply per request, offsets merged under the cycle's lock, a failure mark when the
// index log could not be committed. Waits that the cycle makes run on the virtual clock.
#include "transmitter/SolrPeriodicCommitThread.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/JobClients.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const uint32_t kNeverMs = 0xFFFFFFFFu; // an interval the tests never let pass
const uint32_t kTimeoutMs = 3600000;

// Answers each commit request on the pass that finds it: merges its own offsets (or marks the
// cycle failed), then replies once. A silent worker keeps the request and never replies.
class AnsweringWorker : public CIdxTransmitterThread {
public:
    AnsweringWorker(CSolrTransmitterPrivatePtr ptrState, std::vector<uint64_t> vecOffsets)
        : CIdxTransmitterThread(ptrState, ptrState->m_ptrOptions),
          m_vecOffsets(std::move(vecOffsets)) {}
    ~AnsweringWorker() override { StopBeforeDestruction(); }

    // Its own pass takes no items.
    CKyError ProcessBatch(CItemBatch &) override { return CKyError::Success(); }
    bool OnBatchError(const CKyError &, std::string &) override { return false; }

    void OnEvent() override {
        SetIdle(false);
        _CommitParams request = TakeCommitParams();
        if (request.m_bCommitRequested) {
            bool bSilent = false;
            std::vector<uint64_t> vecFound;
            {
                auto_lock lock(request.m_ptrOffsetsLock.get(), true);
                vecFound = *request.m_ptrCollectFileOffsets;
            }
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_vecTables.push_back({request.m_ptrCollectFileOffsets, vecFound});
                bSilent = m_bSilent;
                if (bSilent) {
                    m_held = request;
                } else {
                    ++m_nAnswers;
                }
            }
            if (!bSilent) {
                Answer(request);
            }
            m_cv.notify_all();
        }
        SetIdle(true);
    }

    // Replies to the request it holds, as a late answer to an abandoned cycle would.
    void AnswerHeld() {
        _CommitParams held;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            held = m_held;
            m_held = _CommitParams();
        }
        if (held.m_bCommitRequested) {
            Answer(held);
        }
    }

    void SetSilent(bool bSilent) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bSilent = bSilent;
    }
    void SetFailCommit(bool bFail) { m_bFailCommit = bFail; }
    int Answers() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_nAnswers;
    }
    // Each offsets table a request handed over (kept alive), with what it held on arrival.
    typedef std::pair<boost::shared_ptr<std::vector<uint64_t>>, std::vector<uint64_t>> Table;
    std::vector<Table> Tables() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_vecTables;
    }
    bool HoldsRequest() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_held.m_bCommitRequested;
    }
    bool WaitForAnswers(int nAnswers) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, std::chrono::seconds(10),
                             [&] { return m_nAnswers >= nAnswers; });
    }

    CKyError SendCommit() override { return CKyError::Success(); }
    bool IsIdxEngineRunning() override { return false; }
    CKyError LogPerformanceCounters() override { return CKyError::Success(); }
    CKyError SendDeleteDataSourceContent(const std::string &) override {
        return CKyError::Success();
    }
    CKyError PruneAuditCore(const std::string &, const std::string &) override {
        return CKyError::Success();
    }
    CKyError SyncAuditAndMainCore(int32_t, const std::string &) override {
        return CKyError::Success();
    }

private:
    void Answer(const _CommitParams &request) {
        if (m_bFailCommit) {
            request.m_ptrCommitFailed->store(true);
        } else {
            auto_lock lock(request.m_ptrOffsetsLock.get(), true);
            std::vector<uint64_t> &vecTable = *request.m_ptrCollectFileOffsets;
            for (size_t i = 0; i < vecTable.size() && i < m_vecOffsets.size(); ++i) {
                vecTable[i] = std::max(vecTable[i], m_vecOffsets[i]);
            }
        }
        request.m_ptrReplySemaphore->release(1);
    }

    const std::vector<uint64_t> m_vecOffsets;
    std::atomic<bool> m_bFailCommit{false};
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_bSilent = false;
    _CommitParams m_held;
    int m_nAnswers = 0;
    std::vector<Table> m_vecTables;
};

typedef boost::shared_ptr<AnsweringWorker> AnsweringWorkerPtr;

class SolrPeriodicCommitThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_ptrState =
            boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_LiveCrawl);
    }
    void TearDown() override {
        for (const AnsweringWorkerPtr &ptrWorker : m_vecWorkers) {
            ptrWorker->Stop(true);
        }
    }

    AnsweringWorkerPtr AddWorker(std::vector<uint64_t> vecOffsets) {
        auto ptrWorker = boost::make_shared<AnsweringWorker>(m_ptrState, std::move(vecOffsets));
        EXPECT_FALSE(ptrWorker->Start().IsError());
        m_vecWorkers.push_back(ptrWorker);
        m_lstWorkers.push_back(ptrWorker);
        return ptrWorker;
    }

    _CommitThreadInitStruct Init(uint32_t nMaxCollectFileId, TQBkpJobClient *pClient,
                                 uint32_t nIntervalMs = kNeverMs) {
        _CommitThreadInitStruct init;
        init.pWorkers = &m_lstWorkers;
        init.pQueueLock = m_ptrState->Queue().GetLock();
        init.nMaxCollectFileId = nMaxCollectFileId;
        init.ptrItemQueuedEvent = m_ptrState->GetItemQueuedEvent();
        init.pBackupJobClient = pClient;
        init.nCommitIntervalMs = nIntervalMs;
        init.nReplyTimeoutMs = kTimeoutMs;
        return init;
    }

    idxtest::VirtualClock m_clock;
    idxtest::JobManager m_job;
    TQBkpJobClient m_client;
    CSolrTransmitterPrivatePtr m_ptrState;
    std::vector<AnsweringWorkerPtr> m_vecWorkers;
    std::list<IIdxTransmitterThreadPtr> m_lstWorkers;
};

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// Moves the virtual clock on in steps until fnDone answers true (at most about ten seconds of
// real time). A wait that another thread is about to begin computes its deadline from the clock
// it then finds, so one step could land before that wait and never end it: steps repeat.
template <class Done> bool AdvanceUntil(Done fnDone, uint32_t nStepMs) {
    for (int i = 0; i < 2000; ++i) {
        if (fnDone()) {
            return true;
        }
        idxtest::VirtualClock::Advance(nStepMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return fnDone();
}

// Runs one cycle on a thread of its own and, once fnReady answers true, moves the virtual clock on
// so that its waits for replies run out; returns the cycle's result.
CKyError RunCycleWhileTimePasses(
    CSolrPeriodicCommitThread &thread, std::function<bool()> fnReady = [] { return true; }) {
    CKyError error;
    std::atomic<bool> bDone{false};
    std::thread cycle([&] {
        error = thread.CommitItemsAndUpdateRestartSttring();
        bDone.store(true);
    });
    EXPECT_TRUE(AdvanceUntil(fnReady, 0));
    EXPECT_TRUE(AdvanceUntil([&] { return bDone.load(); }, kTimeoutMs));
    cycle.join();
    return error;
}

} // namespace

TEST_F(SolrPeriodicCommitThreadTest, ACycleMergesTheLargestOffsetsIntoTheRestartString) {
    // Collect file 2 was touched by nobody: its pair still appears, with offset 0.
    AddWorker({4096, 0, 7});
    AddWorker({100, 0, 1200});
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(3, &m_client);
    ASSERT_FALSE(thread.Initialize(init).IsError());
    idxtest::LogCapture capture(3);

    EXPECT_FALSE(thread.CommitItemsAndUpdateRestartSttring().IsError());
    EXPECT_EQ("-o 1|4096@2|0@3|1200", m_job.Snapshot().strRestartString);
    EXPECT_EQ(1u, capture.CountAtLevel("restart string has been updated[-o 1|4096@2|0@3|1200]", 3));
    EXPECT_EQ(1u,
              capture.CountAtLevel(
                  "Commit items waiting flush completed [Response count - 2] [MaxFileID - 3]", 3));
    EXPECT_FALSE(thread.Uninitialize().IsError());
    EXPECT_FALSE(thread.IsRunning());
}

TEST_F(SolrPeriodicCommitThreadTest, EveryWorkerAnswersEachCycleExactlyOnceIdleOnesIncluded) {
    // All three wait idle on the item event: only the cycle's own wake-up reaches them.
    std::vector<AnsweringWorkerPtr> vecWorkers = {AddWorker({1}), AddWorker({2}), AddWorker({3})};
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(1, &m_client);
    ASSERT_FALSE(thread.Initialize(init).IsError());

    for (int nCycle = 1; nCycle <= 3; ++nCycle) {
        SCOPED_TRACE(nCycle);
        EXPECT_FALSE(thread.CommitItemsAndUpdateRestartSttring().IsError());
        for (const AnsweringWorkerPtr &ptrWorker : vecWorkers) {
            EXPECT_EQ(nCycle, ptrWorker->Answers());
        }
        EXPECT_EQ("-o 1|3", m_job.Snapshot().strRestartString);
    }
}

// The table costs 8 bytes per collect file: it is made once, not again at every interval, and
// every cycle finds it empty.
TEST_F(SolrPeriodicCommitThreadTest, EveryCycleHandsOutTheOneOffsetsTableEmptiedAgain) {
    AnsweringWorkerPtr ptrWorker = AddWorker({5, 0, 9});
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(3, &m_client);
    ASSERT_FALSE(thread.Initialize(init).IsError());

    for (int nCycle = 1; nCycle <= 3; ++nCycle) {
        EXPECT_FALSE(thread.CommitItemsAndUpdateRestartSttring().IsError());
        EXPECT_EQ("-o 1|5@2|0@3|9", m_job.Snapshot().strRestartString);
    }
    const std::vector<AnsweringWorker::Table> vecTables = ptrWorker->Tables();
    ASSERT_EQ(vecTables.size(), 3u);
    for (const AnsweringWorker::Table &table : vecTables) {
        EXPECT_EQ(table.first, vecTables[0].first);
        EXPECT_EQ(table.second, std::vector<uint64_t>(3, 0));
    }
}

TEST_F(SolrPeriodicCommitThreadTest, AWorkerThatCouldNotCommitKeepsTheOldRestartString) {
    m_job.SetRestartString("-o 1|10");
    AddWorker({5000});
    AnsweringWorkerPtr ptrFailing = AddWorker({6000});
    ptrFailing->SetFailCommit(true);
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(1, &m_client);
    ASSERT_FALSE(thread.Initialize(init).IsError());

    CKyError error = thread.CommitItemsAndUpdateRestartSttring();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_TRUE(HasText(error, "Commit failed"));
    EXPECT_EQ("-o 1|10", m_job.Snapshot().strRestartString);

    // The next cycle is a fresh one: with every commit good, the string moves on.
    ptrFailing->SetFailCommit(false);
    EXPECT_FALSE(thread.CommitItemsAndUpdateRestartSttring().IsError());
    EXPECT_EQ("-o 1|6000", m_job.Snapshot().strRestartString);
}

TEST_F(SolrPeriodicCommitThreadTest, ASilentWorkerTimesTheCycleOutAndItsLateAnswerCountsNowhere) {
    AnsweringWorkerPtr ptrAnswering = AddWorker({10});
    AnsweringWorkerPtr ptrSilent = AddWorker({20});
    ptrSilent->SetSilent(true);
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(1, &m_client);
    ASSERT_FALSE(thread.Initialize(init).IsError());
    idxtest::LogCapture capture(3);

    // The other worker's reply is in before the time runs out: the cycle takes it first.
    CKyError error = RunCycleWhileTimePasses(
        thread, [&] { return ptrAnswering->Answers() == 1 && ptrSilent->HoldsRequest(); });
    EXPECT_TRUE(HasText(error, "Commit timed out"));
    EXPECT_EQ(1u, capture.CountAtLevel("Commit Timeout[3600000] seconds [response count - 1]", -1));
    EXPECT_EQ("", m_job.Snapshot().strRestartString);

    // A late reply to the abandoned cycle does not count as an answer of the next one.
    ptrSilent->SetSilent(false);
    ptrSilent->AnswerHeld();
    EXPECT_FALSE(thread.CommitItemsAndUpdateRestartSttring().IsError());
    EXPECT_EQ(1, ptrSilent->Answers());
    EXPECT_EQ("-o 1|20", m_job.Snapshot().strRestartString);
}

TEST_F(SolrPeriodicCommitThreadTest, WithoutWorkersACycleWaitsOneTimeOutAndFails) {
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(2, &m_client);
    ASSERT_FALSE(thread.Initialize(init).IsError());
    const int64_t llBefore = idxtest::VirtualClock::Ticks();

    CKyError error = RunCycleWhileTimePasses(thread);
    EXPECT_TRUE(HasText(error, "Commit timed out"));
    EXPECT_GE(idxtest::VirtualClock::Ticks() - llBefore, int64_t(kTimeoutMs) * 10000);
    EXPECT_EQ("", m_job.Snapshot().strRestartString);
}

TEST_F(SolrPeriodicCommitThreadTest, NoRestartStringWithoutCollectFilesOrClient) {
    struct Case {
        uint32_t nMaxId;
        bool bClient;
    };
    for (const Case &c : {Case{0, true}, Case{2, false}}) {
        SCOPED_TRACE(c.nMaxId);
        AnsweringWorkerPtr ptrWorker = m_vecWorkers.empty() ? AddWorker({9, 9}) : m_vecWorkers[0];
        const int nBefore = ptrWorker->Answers();
        CSolrPeriodicCommitThread thread;
        _CommitThreadInitStruct init = Init(c.nMaxId, c.bClient ? &m_client : nullptr);
        ASSERT_FALSE(thread.Initialize(init).IsError());

        EXPECT_FALSE(thread.CommitItemsAndUpdateRestartSttring().IsError());
        // The workers were still asked to commit.
        EXPECT_EQ(nBefore + 1, ptrWorker->Answers());
        EXPECT_EQ(0, m_job.Snapshot().nUpdateInfoCalls);
    }
}

TEST_F(SolrPeriodicCommitThreadTest, ARefusedRestartStringIsOnlyLogged) {
    AddWorker({8});
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(1, &m_client);
    ASSERT_FALSE(thread.Initialize(init).IsError());
    idxtest::LogCapture capture(0);

    m_job.RefuseRestartString(true);
    EXPECT_FALSE(thread.CommitItemsAndUpdateRestartSttring().IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("Update-restart string Failed [-o 1|8]", -1));
    m_job.RefuseRestartString(false);
    m_job.RefuseUpdateInfo(true);
    EXPECT_FALSE(thread.CommitItemsAndUpdateRestartSttring().IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("Update-restart info Failed [-o 1|8]", -1));
    EXPECT_EQ("", m_job.Snapshot().strRestartString);
}

TEST_F(SolrPeriodicCommitThreadTest, TheThreadRunsACycleEachIntervalUntilUninitialized) {
    AnsweringWorkerPtr ptrWorker = AddWorker({77});
    const uint32_t nIntervalMs = 60000;
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(1, &m_client, nIntervalMs);
    ASSERT_FALSE(thread.Initialize(init).IsError());
    EXPECT_EQ(0, ptrWorker->Answers());

    ASSERT_TRUE(AdvanceUntil([&] { return ptrWorker->Answers() >= 2; }, nIntervalMs));

    idxtest::LogCapture capture(1);
    EXPECT_FALSE(thread.Uninitialize().IsError());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(1u, capture.CountAtLevel("Periodic Moniter thread has stopped", 1));
    // A stop never runs a cycle of its own.
    const int nAnswers = ptrWorker->Answers();
    EXPECT_FALSE(thread.Uninitialize().IsError());
    EXPECT_EQ(nAnswers, ptrWorker->Answers());
    EXPECT_EQ("-o 1|77", m_job.Snapshot().strRestartString);
}

TEST_F(SolrPeriodicCommitThreadTest, UninitializeAbandonsACycleThatWaitsForReplies) {
    AnsweringWorkerPtr ptrSilent = AddWorker({5});
    ptrSilent->SetSilent(true);
    const uint32_t nIntervalMs = 1000;
    CSolrPeriodicCommitThread thread;
    _CommitThreadInitStruct init = Init(1, &m_client, nIntervalMs);
    ASSERT_FALSE(thread.Initialize(init).IsError());
    ASSERT_TRUE(AdvanceUntil([&] { return ptrSilent->HoldsRequest(); }, nIntervalMs));
    const int64_t llBefore = idxtest::VirtualClock::Ticks();

    // The worker that holds the request is gone: nothing waits for the hour-long time-out.
    ptrSilent->Stop(true);
    idxtest::LogCapture capture(1);
    EXPECT_FALSE(thread.Uninitialize().IsError());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_LT(idxtest::VirtualClock::Ticks() - llBefore, int64_t(kTimeoutMs) * 10000);
    EXPECT_TRUE(capture.Contains("Commit abandoned, the transmitter is stopping"));
    EXPECT_EQ("", m_job.Snapshot().strRestartString);
    // The abandoned cycle's objects live on in the request the worker still holds.
    ptrSilent->AnswerHeld();
}

TEST_F(SolrPeriodicCommitThreadTest, InitializeRefusesMissingPartsAndAnUninitializedObjectFails) {
    CSolrPeriodicCommitThread thread;
    EXPECT_TRUE(HasText(thread.CommitItemsAndUpdateRestartSttring(), "Uninitialized object"));
    EXPECT_FALSE(thread.Uninitialize().IsError());

    for (int nMissing = 0; nMissing < 2; ++nMissing) {
        CSolrPeriodicCommitThread other;
        _CommitThreadInitStruct init = Init(1, &m_client);
        if (nMissing == 0) {
            init.pWorkers = nullptr;
        } else {
            init.pQueueLock = nullptr;
        }
        CKyError error = other.Initialize(init);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
        EXPECT_TRUE(HasText(error, "Invalid Parameter"));
        EXPECT_FALSE(other.IsRunning());
        EXPECT_FALSE(other.Uninitialize().IsError());
    }
    EXPECT_EQ(nullptr, CSolrPeriodicCommitThread::PeriodicCommitThreadStatic(nullptr));
}

TEST_F(SolrPeriodicCommitThreadTest, UninitializeRightAfterInitializeWaitsForTheThread) {
    // Whether or not the thread function has begun, the object outlives it.
    for (int i = 0; i < 20; ++i) {
        auto ptrThread = boost::make_shared<CSolrPeriodicCommitThread>();
        _CommitThreadInitStruct init = Init(1, &m_client);
        ASSERT_FALSE(ptrThread->Initialize(init).IsError());
        EXPECT_FALSE(ptrThread->Uninitialize().IsError());
        EXPECT_FALSE(ptrThread->IsRunning());
        ptrThread.reset();
    }
}

namespace {

// A live-crawl transmitter whose workers answer commit requests with fixed offsets.
class LiveCrawlTransmitter : public CSolrTransmitter {
public:
    LiveCrawlTransmitter() : CSolrTransmitter(eIDX_Transmitter_LiveCrawl) {}
    ~LiveCrawlTransmitter() override { Stop(); }

    IIdxTransmitterThreadPtr GetIdxTransmitterThreadObj() override {
        auto ptrWorker = boost::make_shared<AnsweringWorker>(
            m_ptrSolrTransmitterPrivate,
            std::vector<uint64_t>{static_cast<uint64_t>(m_vecWorkers.size() + 1) * 100, 0});
        m_vecWorkers.push_back(ptrWorker);
        return ptrWorker;
    }
    CSolrTransmitterPrivate &State() { return *m_ptrSolrTransmitterPrivate; }

    std::vector<AnsweringWorkerPtr> m_vecWorkers;
};

} // namespace

TEST(SolrPeriodicCommitThreadStartTest, StartRunsTheThreadWithTheSettingsAndStopEndsIt) {
    struct Case {
        const char *szInterval; // nullptr: absent
        const char *szTimeout;
        uint32_t nInterval;
        uint32_t nTimeout;
    };
    const Case cases[] = {
        {nullptr, nullptr, 900000, 3600000},
        {"0", "0", 900000, 3600000},
        {"5000", "7000", 5000, 7000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nInterval);
        idxtest::PlatformSettingsScope settings;
        idxtest::VirtualClock clock;
        idxtest::JobManager job;
        if (c.szInterval) {
            idxtest::SetPlatformSetting("FileSystemAgent", "nSolrCommitIntervalMS", c.szInterval);
            idxtest::SetPlatformSetting("FileSystemAgent", "nSolrCommitTimeoutMS", c.szTimeout);
        }
        TQBkpJobClient client;
        LiveCrawlTransmitter transmitter;
        transmitter.State().m_ptrOptions->SetMaxCollectFileID(2);
        transmitter.SetBackupJobClient(&client);
        transmitter.SetNumberofTransmitterThreads(2);
        idxtest::LogCapture capture(1);

        ASSERT_FALSE(transmitter.Start().IsError());
        ASSERT_TRUE(transmitter.State().RunState().m_ptrPeriodicCommitThread);
        EXPECT_EQ(1u, capture.CountAtLevel("[Commit interval " + std::to_string(c.nInterval) +
                                               " MS] [Time out " + std::to_string(c.nTimeout) +
                                               " MS] [MAX-Collect-ID 2] [Worker count 2]",
                                           1));
        EXPECT_EQ(c.nInterval == 5000 ? 1u : 0u,
                  capture.Count("Found nSolrCommitIntervalMS[5000] from registry"));
        EXPECT_EQ(c.nInterval == 5000 ? 1u : 0u,
                  capture.Count("Found nSolrCommitTimeoutMS[7000] from registry"));

        ASSERT_TRUE(AdvanceUntil([&] { return job.Snapshot().strRestartString == "-o 1|200@2|0"; },
                                 c.nInterval));
        std::string strRestart;
        EXPECT_FALSE(transmitter.GetRestartString(2, strRestart).IsError());
        EXPECT_EQ("-o 1|200@2|0", strRestart);

        EXPECT_FALSE(transmitter.Stop().IsError());
        EXPECT_FALSE(transmitter.State().RunState().m_ptrPeriodicCommitThread->IsRunning());
        EXPECT_EQ(1u, capture.CountAtLevel("Periodic Moniter thread has stopped", 1));
    }
}

// The end of a job over test workers: the wait for the queue, Stop, Commit and WaitAndCommit.
// Long waits run on the virtual clock; the job's quit query is the hook through which a test acts
// at a given moment of the wait, since the wait asks it first on every poll.
#include "transmitter/SolrTransmitter.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include "foundation/FileData.h"
#include "foundation/Locks.h"
#include "platform/Clock.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::MakeTestItem;
using idxtest::TempDir;

namespace {

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

constexpr int64_t kTicksPerSecond = 10000000;

// What the workers of one transmitter are asked, in order, as "<worker>:<call>" (workers are
// numbered by the factory call that made them, from 1), and the answers they are to give.
struct WorkerJournal {
    std::mutex lock;
    std::vector<std::string> vecCalls;
    std::atomic<bool> bForceBusy{false};
    CKyError commitResult;
    CKyError folderStatsResult;

    void Record(int nWorker, const std::string &strCall) {
        std::lock_guard<std::mutex> guard(lock);
        vecCalls.push_back(std::to_string(nWorker) + ":" + strCall);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> guard(lock);
        return vecCalls;
    }
    size_t Count(const std::string &strCall) {
        std::lock_guard<std::mutex> guard(lock);
        size_t nCount = 0;
        for (const std::string &strEntry : vecCalls) {
            if (strEntry.substr(strEntry.find(':') + 1) == strCall) {
                ++nCount;
            }
        }
        return nCount;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(lock);
        vecCalls.clear();
    }
};

class JournalWorker : public idxtest::TestTransmitterThread {
public:
    JournalWorker(CSolrTransmitterPrivatePtr ptrState, CTransmitterOptionsPtr ptrOptions,
                  WorkerJournal &journal, int nIndex)
        : TestTransmitterThread(ptrState, ptrOptions), m_journal(journal), m_nIndex(nIndex) {}
    ~JournalWorker() override { StopBeforeDestruction(); }

    void InternalStop() override {
        m_journal.Record(m_nIndex, "InternalStop");
        TestTransmitterThread::InternalStop();
    }
    CKyError Stop(bool bWait) override {
        m_journal.Record(m_nIndex, bWait ? "Stop(true)" : "Stop(false)");
        return TestTransmitterThread::Stop(bWait);
    }
    CKyError GetError() const override {
        m_journal.Record(m_nIndex, "GetError");
        return TestTransmitterThread::GetError();
    }
    CKyError LogPerformanceCounters() override {
        m_journal.Record(m_nIndex, "LogPerformanceCounters");
        return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not supported");
    }
    CKyError SendCommit() override {
        m_journal.Record(m_nIndex, "SendCommit");
        return m_journal.commitResult;
    }
    CKyError SendComputeFolderStats() override {
        m_journal.Record(m_nIndex, "SendComputeFolderStats");
        return m_journal.folderStatsResult;
    }
    bool IsTransmitterIdle() override {
        return !m_journal.bForceBusy.load() && TestTransmitterThread::IsTransmitterIdle();
    }

private:
    WorkerJournal &m_journal;
    const int m_nIndex;
};

typedef boost::shared_ptr<JournalWorker> JournalWorkerPtr;

// The job's callback: the quit flag, a hook run on every quit query, and the statistics call.
class ScriptedCallback : public CSolrTransmitterCallback {
public:
    bool IsQuitFlagSet() override {
        if (m_fnOnQuitQuery) {
            m_fnOnQuitQuery();
        }
        return m_bQuit.load();
    }
    CKyError UpdateAndLogJobStatistics() override {
        ++m_nStatistics;
        return FXErrorUtil::ErrorWin32(FXLOC, 50, "statistics not taken");
    }

    std::atomic<bool> m_bQuit{false};
    std::function<void()> m_fnOnQuitQuery;
    std::atomic<int> m_nStatistics{0};
};

class JournalTransmitter : public CSolrTransmitter {
public:
    explicit JournalTransmitter(eIDX_Transmitter_Type eType) : CSolrTransmitter(eType) {}

    // The base destructor runs the end of a job once more, on the library's own engine worker,
    // which would try to reach an engine these tests never configure. Everything a test needs
    // has run by now, so the last pass is left nothing to do: the workers are stopped here (the
    // folder statistics go to a test worker) and nothing counts as ever queued.
    ~JournalTransmitter() override {
        Stop();
        CSolrTransmitterPrivate &state = State();
        state.RunState().m_bFolderStatsSent = true;
        state.Queue().SetItemsQueuedForTest(0);
    }

    IIdxTransmitterThreadPtr GetIdxTransmitterThreadObj() override {
        ++m_nFactoryCalls;
        if (m_bFailFactory) {
            return IIdxTransmitterThreadPtr();
        }
        JournalWorkerPtr ptrWorker = boost::make_shared<JournalWorker>(
            m_ptrSolrTransmitterPrivate, m_ptrSolrTransmitterPrivate->m_ptrOptions, m_journal,
            m_nFactoryCalls);
        m_vecWorkers.push_back(ptrWorker);
        return ptrWorker;
    }

    CKyError Abort(bool bFlag) override {
        ++m_nAborts;
        return CSolrTransmitter::Abort(bFlag);
    }

    CSolrTransmitterPrivate &State() { return *m_ptrSolrTransmitterPrivate; }
    // The factory's workers that are still alive, in the order they were made.
    std::vector<JournalWorkerPtr> Workers() {
        std::vector<JournalWorkerPtr> vecWorkers;
        for (const auto &weakWorker : m_vecWorkers) {
            if (JournalWorkerPtr ptrWorker = weakWorker.lock()) {
                vecWorkers.push_back(ptrWorker);
            }
        }
        return vecWorkers;
    }

    WorkerJournal m_journal;
    bool m_bFailFactory = false;
    int m_nFactoryCalls = 0;
    int m_nAborts = 0;
    std::vector<boost::weak_ptr<JournalWorker>> m_vecWorkers;
};

class SolrTransmitterEndOfJobTest : public ::testing::Test {
protected:
    std::unique_ptr<JournalTransmitter>
    MakeTransmitter(int nWorkers, eIDX_Transmitter_Type eType = eIDX_Transmitter_Solr) {
        auto ptrTransmitter = std::make_unique<JournalTransmitter>(eType);
        CSolrTransmitterPrivate &state = ptrTransmitter->State();
        state.m_ptrOptions->SetSubClientDir(m_dir.Path());
        EXPECT_FALSE(ptrTransmitter->SetCallback(m_ptrCallback).IsError());
        EXPECT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(nWorkers).IsError());
        return ptrTransmitter;
    }

    // Queues the items while every worker is paused, so that they stay in the queue.
    static void QueuePaused(JournalTransmitter &transmitter, int nItems) {
        for (const JournalWorkerPtr &ptrWorker : transmitter.Workers()) {
            ptrWorker->SetPaused(true);
        }
        for (int i = 0; i < nItems; ++i) {
            ASSERT_FALSE(transmitter.AddToQueue(MakeTestItem("/q/" + std::to_string(i))).IsError());
        }
    }

    // Ticks the virtual clock moved since the test began.
    int64_t ElapsedTicks() const { return idxtest::VirtualClock::Ticks() - m_llStartTicks; }

    TempDir m_dir;
    boost::shared_ptr<ScriptedCallback> m_ptrCallback = boost::make_shared<ScriptedCallback>();
    idxtest::VirtualClock m_clock;
    const int64_t m_llStartTicks = idxtest::VirtualClock::Ticks();
};

} // namespace

TEST_F(SolrTransmitterEndOfJobTest, WaitSucceedsAtTheFirstPollWhenNothingIsLeft) {
    for (int nWorkers : {0, 2}) {
        SCOPED_TRACE(nWorkers);
        auto ptrTransmitter = MakeTransmitter(nWorkers);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        const int64_t llBefore = idxtest::VirtualClock::Ticks();
        idxtest::LogCapture capture(2);

        EXPECT_FALSE(ptrTransmitter->WaitForQueueToEmpty().IsError());
        EXPECT_EQ(llBefore, idxtest::VirtualClock::Ticks());
        EXPECT_EQ(1u, capture.CountAtLevel("All the transmitter threads are completed", 2));
        EXPECT_EQ(0, ptrTransmitter->m_nAborts);
    }
}

TEST_F(SolrTransmitterEndOfJobTest, WaitReturnsOnceTheWorkersHaveDrainedTheQueue) {
    auto ptrTransmitter = MakeTransmitter(3);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    // Polls on the virtual clock cost almost nothing, so a slow machine must not turn the
    // workers' real time into a time-out.
    ptrTransmitter->State().SetUp().m_nQueueTimeoutInMins = 600;
    for (int i = 0; i < 40; ++i) {
        ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/d/" + std::to_string(i))).IsError());
    }

    EXPECT_FALSE(ptrTransmitter->WaitForQueueToEmpty().IsError());
    EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
    // A worker records its batch before it goes idle, so every item is counted here. Whether a
    // worker is idle right now is not asserted: the item event wakes every worker, and one that
    // wakes after the others drained the queue is briefly busy with nothing to take.
    size_t nTaken = 0;
    for (const JournalWorkerPtr &ptrWorker : ptrTransmitter->Workers()) {
        nTaken += ptrWorker->TakenItems().size();
    }
    EXPECT_EQ(40u, nTaken);
}

TEST_F(SolrTransmitterEndOfJobTest, WaitPollsEverySecondWhileAWorkerIsBusy) {
    auto ptrTransmitter = MakeTransmitter(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    ptrTransmitter->m_journal.bForceBusy = true;
    m_ptrCallback->m_fnOnQuitQuery = [&] {
        if (ElapsedTicks() >= 5 * kTicksPerSecond) {
            ptrTransmitter->m_journal.bForceBusy = false;
        }
    };

    EXPECT_FALSE(ptrTransmitter->WaitForQueueToEmpty().IsError());
    EXPECT_EQ(5 * kTicksPerSecond, ElapsedTicks());
    m_ptrCallback->m_fnOnQuitQuery = nullptr;
}

TEST_F(SolrTransmitterEndOfJobTest, QuitFlagAbortsTheTransmitterAndFailsTheWait) {
    struct Case {
        int nQuitAfterSeconds;
    };
    for (const Case &c : {Case{0}, Case{3}}) {
        SCOPED_TRACE(c.nQuitAfterSeconds);
        auto ptrTransmitter = MakeTransmitter(1);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        QueuePaused(*ptrTransmitter, 4);
        const int64_t llBefore = idxtest::VirtualClock::Ticks();
        m_ptrCallback->m_fnOnQuitQuery = [&] {
            if (idxtest::VirtualClock::Ticks() - llBefore >=
                c.nQuitAfterSeconds * kTicksPerSecond) {
                m_ptrCallback->m_bQuit = true;
            }
        };
        idxtest::LogCapture capture(0);

        CKyError error = ptrTransmitter->WaitForQueueToEmpty();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1359));
        EXPECT_TRUE(HasText(error, "Recieved quit flag"));
        EXPECT_EQ(1u,
                  capture.CountAtLevel("Recieved quit flag; Aborting Solr transmitter threads", 0));
        EXPECT_EQ(c.nQuitAfterSeconds * kTicksPerSecond, idxtest::VirtualClock::Ticks() - llBefore);
        EXPECT_EQ(1, ptrTransmitter->m_nAborts);
        EXPECT_TRUE(ptrTransmitter->IsAborted());
        EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());

        m_ptrCallback->m_fnOnQuitQuery = nullptr;
        m_ptrCallback->m_bQuit = false;
    }
}

TEST_F(SolrTransmitterEndOfJobTest, QueuedItemsWithoutAnyWorkerFailTheWaitAndAreRecordedAtStop) {
    auto ptrTransmitter = MakeTransmitter(0);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/orphan")).IsError());

    CKyError error = ptrTransmitter->WaitForQueueToEmpty();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1359));
    EXPECT_TRUE(HasText(
        error, "Cannot wait for queued items when no transmitter threads exist to process them"));
    EXPECT_EQ(0, ElapsedTicks());
    EXPECT_EQ(0, ptrTransmitter->m_nAborts);
    EXPECT_FALSE(ptrTransmitter->IsAborted());
    EXPECT_EQ(1u, ptrTransmitter->State().GetQueueLength());

    // Nothing will ever send the item: the stop records it as failed instead of dropping it.
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
    EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
    EXPECT_EQ(1, ptrTransmitter->GetFailedItemCount());
    EXPECT_EQ("/orphan\n", idxtest::ReadWholeFile(m_dir / "SolrScanFailures.tqf"));
}

TEST_F(SolrTransmitterEndOfJobTest, ItemsLeftBehindByStopAreRecordedAsFailed) {
    auto ptrTransmitter = MakeTransmitter(1);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    QueuePaused(*ptrTransmitter, 2);
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());

    // Stop ended the worker before it could take the two items: nothing will send them, so they
    // are in the failures file rather than left queued.
    EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
    EXPECT_EQ(2, ptrTransmitter->GetFailedItemCount());
    EXPECT_EQ("/q/0\n/q/1\n", idxtest::ReadWholeFile(m_dir / "SolrScanFailures.tqf"));
}

TEST_F(SolrTransmitterEndOfJobTest, UnchangedQueueGivesUpAfterTheTimeOut) {
    struct Case {
        uint32_t nTimeoutMinutes;
        int64_t llGivesUpAfterSeconds;
        const char *szTimeoutText;
    };
    // The wait gives up at the first poll at which more than the time-out has passed; polls are
    // one second apart.
    const Case cases[] = {
        {15, 901, "Timeout=[900.000 sec]"},
        {1, 61, "Timeout=[60.000 sec]"},
        {0, 1, "Timeout=[0.000 sec]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nTimeoutMinutes);
        auto ptrTransmitter = MakeTransmitter(1);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        ptrTransmitter->State().SetUp().m_nQueueTimeoutInMins = c.nTimeoutMinutes;
        QueuePaused(*ptrTransmitter, 5);
        const int64_t llBefore = idxtest::VirtualClock::Ticks();
        idxtest::LogCapture capture(0);

        CKyError error = ptrTransmitter->WaitForQueueToEmpty();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 258));
        EXPECT_TRUE(HasText(error, "Wait abandoned, queue size did not change"));
        EXPECT_TRUE(HasText(error, c.szTimeoutText));
        EXPECT_EQ(c.llGivesUpAfterSeconds * kTicksPerSecond,
                  idxtest::VirtualClock::Ticks() - llBefore);
        // The line names 600 seconds whatever the time-out is.
        EXPECT_EQ(1u, capture.CountAtLevel(
                          "Queue size has not decreased in 600 seconds, abandoning wait, "
                          "QueueSize=[5]",
                          -1));
        EXPECT_EQ(1, ptrTransmitter->m_nAborts);
        EXPECT_TRUE(ptrTransmitter->IsAborted());
        EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
    }
}

TEST_F(SolrTransmitterEndOfJobTest, ChangeOfTheQueueLengthEitherWayRestartsTheTimeOut) {
    struct Case {
        const char *szName;
        int nChange; // items added (positive) or taken (negative) 30 seconds into the wait
        const char *szQueueSize;
    };
    const Case cases[] = {
        {"job still queueing", 2, "QueueSize=[12]"},
        {"worker took some", -3, "QueueSize=[7]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        auto ptrTransmitter = MakeTransmitter(1);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        CSolrTransmitterPrivate &state = ptrTransmitter->State();
        state.SetUp().m_nQueueTimeoutInMins = 1;
        QueuePaused(*ptrTransmitter, 10);
        const int64_t llBefore = idxtest::VirtualClock::Ticks();
        bool bChanged = false;
        m_ptrCallback->m_fnOnQuitQuery = [&] {
            if (bChanged || idxtest::VirtualClock::Ticks() - llBefore < 30 * kTicksPerSecond) {
                return;
            }
            bChanged = true;
            if (c.nChange > 0) {
                for (int i = 0; i < c.nChange; ++i) {
                    state.AddToQueue(MakeTestItem("/late"));
                }
            } else {
                idxtest::TakeQueued(state, -c.nChange);
            }
        };
        idxtest::LogCapture capture(0);

        CKyError error = ptrTransmitter->WaitForQueueToEmpty();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 258));
        // Changed at 30 s, so the minute runs from there: the wait gives up at 91 s, not 61 s.
        EXPECT_EQ(91 * kTicksPerSecond, idxtest::VirtualClock::Ticks() - llBefore);
        EXPECT_EQ(1u, capture.Count(c.szQueueSize));
        m_ptrCallback->m_fnOnQuitQuery = nullptr;
    }
}

TEST_F(SolrTransmitterEndOfJobTest, BusyWorkerWithAnEmptyQueueIsNoChangeAndTimesOut) {
    auto ptrTransmitter = MakeTransmitter(1);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    ptrTransmitter->State().SetUp().m_nQueueTimeoutInMins = 1;
    ptrTransmitter->m_journal.bForceBusy = true;

    CKyError error = ptrTransmitter->WaitForQueueToEmpty();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 258));
    EXPECT_EQ(61 * kTicksPerSecond, ElapsedTicks());
    ptrTransmitter->m_journal.bForceBusy = false;
}

TEST_F(SolrTransmitterEndOfJobTest, StopAsksEveryWorkerInOrderAndReturnsTheFirstWorkerError) {
    auto ptrTransmitter = MakeTransmitter(3);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    std::vector<JournalWorkerPtr> vecWorkers = ptrTransmitter->Workers();
    ASSERT_EQ(3u, vecWorkers.size());
    vecWorkers[0]->SetError(FXErrorUtil::ErrorWin32(FXLOC, 1117, "first worker failed"));
    vecWorkers[2]->SetError(FXErrorUtil::ErrorWin32(FXLOC, 1236, "third worker failed"));
    std::vector<boost::weak_ptr<JournalWorker>> vecWeak(vecWorkers.begin(), vecWorkers.end());
    vecWorkers.clear();
    const int64_t llBefore = idxtest::VirtualClock::Ticks();
    idxtest::LogCapture capture(0);

    CKyError error = ptrTransmitter->Stop();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1117));
    EXPECT_TRUE(HasText(error, "first worker failed"));
    EXPECT_FALSE(HasText(error, "third worker failed"));
    // Both errors are logged; only the first is returned.
    EXPECT_EQ(2u, capture.CountAtLevel("Transmitter thread returned failure, error=", -1));
    EXPECT_EQ(1u, capture.CountAtLevel("first worker failed", -1));
    EXPECT_EQ(1u, capture.CountAtLevel("third worker failed", -1));

    // All are asked to stop, then all are waited for together; each one's error and counters
    // are read once it has ended, in list order.
    const std::vector<std::string> vecExpected = {
        "1:InternalStop", "2:InternalStop",
        "3:InternalStop", "1:Stop(true)",
        "2:Stop(true)",   "3:Stop(true)",
        "1:GetError",     "1:LogPerformanceCounters",
        "2:GetError",     "2:LogPerformanceCounters",
        "3:GetError",     "3:LogPerformanceCounters",
    };
    EXPECT_EQ(vecExpected, ptrTransmitter->m_journal.Calls());
    // No pause between the workers; a worker error ends Stop before the folder statistics.
    EXPECT_EQ(0, idxtest::VirtualClock::Ticks() - llBefore);
    EXPECT_EQ(3, ptrTransmitter->m_nFactoryCalls);
    EXPECT_FALSE(ptrTransmitter->State().RunState().m_bFolderStatsSent);
    EXPECT_TRUE(ptrTransmitter->State().GetWorkers().empty());
    for (const auto &weakWorker : vecWeak) {
        EXPECT_TRUE(weakWorker.expired());
    }
    EXPECT_TRUE(ptrTransmitter->State().AddItemToSolrFailures({"/after"}).IsError());
}

TEST_F(SolrTransmitterEndOfJobTest, StopOfAnAbortedTransmitterReadsNoWorkerError) {
    auto ptrTransmitter = MakeTransmitter(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    for (const JournalWorkerPtr &ptrWorker : ptrTransmitter->Workers()) {
        ptrWorker->SetError(FXErrorUtil::ErrorWin32(FXLOC, 995));
    }
    ptrTransmitter->State().m_ptrOptions->SetAborted(true);
    const int64_t llBefore = idxtest::VirtualClock::Ticks();
    idxtest::LogCapture capture(0);

    EXPECT_FALSE(ptrTransmitter->Stop().IsError());
    const std::vector<std::string> vecExpected = {
        "1:InternalStop", "2:InternalStop",           "1:Stop(true)",
        "2:Stop(true)",   "1:LogPerformanceCounters", "2:LogPerformanceCounters",
    };
    // Nor does an aborted job post folder statistics (no worker is made for them).
    EXPECT_EQ(vecExpected, ptrTransmitter->m_journal.Calls());
    EXPECT_EQ(2, ptrTransmitter->m_nFactoryCalls);
    EXPECT_EQ(llBefore, idxtest::VirtualClock::Ticks());
    EXPECT_FALSE(capture.Contains("Transmitter thread returned failure"));
    EXPECT_TRUE(ptrTransmitter->State().GetWorkers().empty());
}

TEST_F(SolrTransmitterEndOfJobTest, StopRemovesTheTempFolderAndClosesTheFailuresFile) {
    m_dir.WriteFile("Temp/extracted/member.txt", "scratch");
    m_dir.WriteFile("keep.txt", "not scratch");
    auto ptrTransmitter = MakeTransmitter(1);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    ASSERT_FALSE(ptrTransmitter->State().AddItemToSolrFailures({"/failed"}).IsError());

    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
    EXPECT_FALSE(FXFile::Exists(m_dir / "Temp"));
    EXPECT_TRUE(FXFile::Exists(m_dir / "keep.txt"));
    EXPECT_EQ("/failed\n", idxtest::ReadWholeFile(m_dir / "SolrScanFailures.tqf"));
    EXPECT_TRUE(ptrTransmitter->State().AddItemToSolrFailures({"/late"}).IsError());

    // A second Stop after the folder came back removes it again.
    m_dir.WriteFile("Temp/again.txt", "scratch");
    EXPECT_FALSE(ptrTransmitter->Stop().IsError());
    EXPECT_FALSE(FXFile::Exists(m_dir / "Temp"));
}

TEST_F(SolrTransmitterEndOfJobTest, FolderStatisticsAreSentAtMostOncePerTransmitter) {
    struct Case {
        const char *szName;
        bool bPushOnlyMetaData;
        bool bVMContentIndexing;
        bool bStatsFail;
        bool bFactoryFails;
        uint32_t nFirstError;     // 0: the first Stop succeeds
        size_t nRequestsAfterTwo; // folder-statistics requests after two Stops
        bool bAborted = false;
    };
    const Case cases[] = {
        {"sent once", true, false, false, false, 0, 1},
        {"content push", false, false, false, false, 0, 0},
        {"virtual machine", true, true, false, false, 0, 0},
        {"failed request is retried", true, false, true, false, 1117, 2},
        {"no worker for the request", true, false, false, true, 14, 0},
        {"aborted job", true, false, false, false, 0, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        auto ptrTransmitter = MakeTransmitter(1);
        CSolrTransmitterPrivate &state = ptrTransmitter->State();
        state.m_ptrOptions->SetPushOnlyMetaData(c.bPushOnlyMetaData);
        state.m_ptrOptions->SetVMContentIndexing(c.bVMContentIndexing);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        if (c.bStatsFail) {
            ptrTransmitter->m_journal.folderStatsResult =
                FXErrorUtil::ErrorWin32(FXLOC, 1117, "statistics refused");
        }
        ptrTransmitter->m_bFailFactory = c.bFactoryFails;
        if (c.bAborted) {
            ASSERT_FALSE(ptrTransmitter->Abort(true).IsError());
        }

        CKyError first = ptrTransmitter->Stop();
        if (c.nFirstError == 0) {
            EXPECT_FALSE(first.IsError());
        } else {
            EXPECT_TRUE(FXErrorUtil::IsWin32(first, c.nFirstError));
        }
        // Whatever the statistics did, the workers are gone and the file is closed.
        EXPECT_TRUE(state.GetWorkers().empty());
        EXPECT_TRUE(state.AddItemToSolrFailures({"/x"}).IsError());
        EXPECT_EQ(c.nFirstError == 0 && c.nRequestsAfterTwo == 1,
                  state.RunState().m_bFolderStatsSent);

        ptrTransmitter->Stop();
        EXPECT_EQ(c.nRequestsAfterTwo, ptrTransmitter->m_journal.Count("SendComputeFolderStats"));
        ptrTransmitter->m_bFailFactory = false;
        ptrTransmitter->m_journal.folderStatsResult = CKyError::Success();
    }
}

TEST_F(SolrTransmitterEndOfJobTest, LiveCrawlStopReportsTheStoredFailureReason) {
    auto ptrTransmitter = MakeTransmitter(1, eIDX_Transmitter_LiveCrawl);
    const std::string strReason = "Index connection initialization failed %s %n";
    ptrTransmitter->State().SetSolrFailureReason(strReason);
    {
        idxtest::LogCapture capture(0);
        CKyError error = ptrTransmitter->Stop();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
        EXPECT_EQ(1u,
                  capture.CountAtLevel("[Error] Solrtransmitter encountered failure previously[" +
                                           strReason + "]",
                                       -1));
    }
    ptrTransmitter->Start();
    ASSERT_TRUE(ptrTransmitter->State().IsQueueCreated());
    idxtest::LogCapture capture(0);

    CKyError error = ptrTransmitter->Stop();
    // A system (errno) error whose message is the reason, taken as text, not as a format.
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(0u, FXErrorUtil::GetWin32(error));
    EXPECT_TRUE(HasText(error, strReason));
    EXPECT_EQ(1u,
              capture.CountAtLevel(
                  "[Error] Solrtransmitter encountered failure previously[" + strReason + "]", -1));
    EXPECT_EQ(1u, capture.CountAtLevel(
                      "[Error] Solrtransmitter encountered failure [" + strReason + "]", -1));
    EXPECT_TRUE(ptrTransmitter->State().GetWorkers().empty());
}

TEST_F(SolrTransmitterEndOfJobTest, CommitAsksAFreshWorkerOnlyWhenSomethingWasQueued) {
    struct Case {
        const char *szName;
        bool bStart;
        int nItems;
        bool bFactoryFails;
        bool bCommitFails;
        uint32_t nError; // 0: success
        size_t nCommits;
    };
    const Case cases[] = {
        {"never started", false, 0, false, false, 0, 0},
        {"nothing queued", true, 0, false, false, 0, 0},
        {"items queued", true, 3, false, false, 0, 1},
        {"commit refused", true, 3, false, true, 1117, 1},
        {"no worker for the commit", true, 3, true, false, 14, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        auto ptrTransmitter = MakeTransmitter(1);
        if (c.bStart) {
            ASSERT_FALSE(ptrTransmitter->Start().IsError());
        }
        for (int i = 0; i < c.nItems; ++i) {
            ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/c")).IsError());
        }
        if (c.bCommitFails) {
            ptrTransmitter->m_journal.commitResult =
                FXErrorUtil::ErrorWin32(FXLOC, 1117, "commit refused");
        }
        const int nFactoryCallsBefore = ptrTransmitter->m_nFactoryCalls;
        ptrTransmitter->m_bFailFactory = c.bFactoryFails;

        CKyError error = ptrTransmitter->Commit();
        if (c.nError == 0) {
            EXPECT_FALSE(error.IsError());
        } else {
            EXPECT_TRUE(FXErrorUtil::IsWin32(error, c.nError));
        }
        EXPECT_EQ(c.nCommits, ptrTransmitter->m_journal.Count("SendCommit"));
        EXPECT_EQ(c.nItems == 0 ? 0 : 1, ptrTransmitter->m_nFactoryCalls - nFactoryCallsBefore);
        if (c.nCommits == 1) {
            // The commit went to the worker made for it, which was never started.
            const std::string strCommitWorker = std::to_string(ptrTransmitter->m_nFactoryCalls);
            EXPECT_EQ(strCommitWorker + ":SendCommit", ptrTransmitter->m_journal.Calls().back());
            EXPECT_EQ(size_t(c.bStart ? 1 : 0), ptrTransmitter->Workers().size());
        }
        ptrTransmitter->m_bFailFactory = false;
        ptrTransmitter->m_journal.commitResult = CKyError::Success();
    }
}

TEST_F(SolrTransmitterEndOfJobTest, WaitAndCommitOnATransmitterThatNeverStarted) {
    auto ptrTransmitter = MakeTransmitter(1);
    idxtest::LogCapture capture(0);

    EXPECT_FALSE(ptrTransmitter->WaitAndCommit().IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("WaitForQueueToEmpty failed, error=", -1));
    EXPECT_EQ(1u, capture.CountAtLevel("Stop failed, error=", -1));
    EXPECT_FALSE(capture.Contains("Commit failed"));
    EXPECT_EQ(0, ptrTransmitter->m_nFactoryCalls);
    EXPECT_EQ(1, m_ptrCallback->m_nStatistics.load());
}

TEST_F(SolrTransmitterEndOfJobTest, WaitAndCommitDrainsStopsAndCommitsAndAlwaysSucceeds) {
    for (bool bCommitFails : {false, true}) {
        SCOPED_TRACE(bCommitFails);
        m_ptrCallback->m_nStatistics = 0;
        auto ptrTransmitter = MakeTransmitter(2);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        ptrTransmitter->State().SetUp().m_nQueueTimeoutInMins = 600;
        for (int i = 0; i < 25; ++i) {
            ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/w")).IsError());
        }
        if (bCommitFails) {
            ptrTransmitter->m_journal.commitResult =
                FXErrorUtil::ErrorWin32(FXLOC, 1117, "commit refused");
        }
        idxtest::LogCapture capture(0);

        EXPECT_FALSE(ptrTransmitter->WaitAndCommit().IsError());
        EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
        EXPECT_TRUE(ptrTransmitter->State().GetWorkers().empty());
        EXPECT_EQ(2u, ptrTransmitter->m_journal.Count("Stop(true)"));
        EXPECT_EQ(1u, ptrTransmitter->m_journal.Count("SendComputeFolderStats"));
        EXPECT_EQ(1u, ptrTransmitter->m_journal.Count("SendCommit"));
        EXPECT_EQ(bCommitFails ? 1u : 0u, capture.CountAtLevel("Commit failed, error=", -1));
        EXPECT_FALSE(capture.Contains("WaitForQueueToEmpty failed"));
        EXPECT_FALSE(capture.Contains("Stop failed"));
        EXPECT_EQ(1, m_ptrCallback->m_nStatistics.load());
    }
}

TEST_F(SolrTransmitterEndOfJobTest, WaitAndCommitLogsEachTimerAboveATenthOfASecondOnce) {
    auto ptrTransmitter = MakeTransmitter(1);
    CSolrTransmitterPrivate &state = ptrTransmitter->State();
    // An unnamed counter still gets the line's own label.
    state.Timers().m_ptrGuidGenerationTimer = boost::make_shared<CTimeCounter>();
    struct Case {
        boost::shared_ptr<CTimeCounter> ptrTimer;
        int64_t llTicks;
        const char *szLine; // nullptr: not logged
    };
    const Case cases[] = {
        {state.Timers().m_ptrCollectSecurityInfoTimer, 1000000, nullptr},
        {state.Timers().m_ptrQueueFullWaitTimer, 1000001,
         "AddToQueue Queue-full wait (job thread waiting for a free queue slot): 0.100 seconds "
         "in 1 samples"},
        {state.Timers().m_ptrGetQueuedItemsTimer, 25000000,
         "GetQueuedItems (workers taking items from the queue): 2.500 seconds in 1 samples"},
        {state.Timers().m_ptrAdditionalPropertiesTimer, 0, nullptr},
        {state.Timers().m_ptrGuidGenerationTimer, 10000000,
         "Guid generation (generating the file identifiers of the index log): 1.000 seconds in "
         "1 samples"},
    };
    std::vector<std::string> vecExpected;
    for (const Case &c : cases) {
        c.ptrTimer->Reset();
        if (c.llTicks != 0) {
            *c.ptrTimer += CTimeInterval(c.llTicks);
        }
        if (c.szLine) {
            vecExpected.push_back(c.szLine);
        }
    }
    idxtest::LogCapture capture(0);

    EXPECT_FALSE(ptrTransmitter->WaitAndCommit().IsError());
    std::vector<std::string> vecTimerLines;
    for (const idxtest::CapturedLogLine &line : capture.Lines()) {
        if (line.nLevel == 0 && line.strText.find(" seconds in ") != std::string::npos) {
            vecTimerLines.push_back(line.strText);
        }
    }
    EXPECT_EQ(vecExpected, vecTimerLines);
    EXPECT_FALSE(capture.Contains("CollectSecurityInfo"));
}

// Every way the end of a job or an abort can remove queued items: none of them is lost, each is
// in the failures file and counted, and the log says why.
TEST_F(SolrTransmitterEndOfJobTest, ItemsRemovedFromTheQueueUnsentAreRecordedAsFailed) {
    struct Case {
        const char *szName;
        std::function<void(JournalTransmitter &, ScriptedCallback &)> fnRemove;
        const char *szReason;
    };
    const Case cases[] = {
        {"the job aborts", [](JournalTransmitter &t, ScriptedCallback &) { t.Abort(true); },
         "the job aborted the transmitter"},
        {"the quit flag ends the wait",
         [](JournalTransmitter &t, ScriptedCallback &callback) {
             callback.m_bQuit = true;
             EXPECT_TRUE(FXErrorUtil::IsWin32(t.WaitForQueueToEmpty(), 1359));
             callback.m_bQuit = false;
         },
         "the job aborted the transmitter"},
        {"the queue time-out ends the wait",
         [](JournalTransmitter &t, ScriptedCallback &) {
             t.State().SetUp().m_nQueueTimeoutInMins = 1;
             EXPECT_TRUE(FXErrorUtil::IsWin32(t.WaitForQueueToEmpty(), 258));
         },
         "the job aborted the transmitter"},
        {"Stop ends the workers first", [](JournalTransmitter &t, ScriptedCallback &) { t.Stop(); },
         "the transmitter stopped before they were sent"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        TempDir dir;
        auto ptrTransmitter = MakeTransmitter(1);
        ptrTransmitter->State().m_ptrOptions->SetSubClientDir(dir.Path());
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        QueuePaused(*ptrTransmitter, 5);
        idxtest::LogCapture capture(0);

        c.fnRemove(*ptrTransmitter, *m_ptrCallback);

        EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
        EXPECT_EQ(5, ptrTransmitter->GetFailedItemCount());
        EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
        EXPECT_EQ(1u, capture.CountAtLevel("5 items not indexed, recorded as failed, reason=[" +
                                               std::string(c.szReason) + "]",
                                           -1));
        ptrTransmitter->State().CloseSolrFailuresFile();
        EXPECT_EQ("/q/0\n/q/1\n/q/2\n/q/3\n/q/4\n",
                  idxtest::ReadWholeFile(dir / "SolrScanFailures.tqf"));
    }
}

#include "transmitter/SolrTransmitter.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include "foundation/Locks.h"
#include "platform/JobClients.h"
#include "platform/testing/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::CountFreeSlots;
using idxtest::MakeTestItem;
using idxtest::TempDir;
using idxtest::TestSolrTransmitter;
using idxtest::TestTransmitterThreadPtr;

namespace {

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// A transmitter whose failures file goes to a folder of its own.
class SolrTransmitterTest : public ::testing::Test {
protected:
    boost::shared_ptr<TestSolrTransmitter>
    MakeTransmitter(eIDX_Transmitter_Type eType = eIDX_Transmitter_Solr) {
        auto ptrTransmitter = boost::make_shared<TestSolrTransmitter>(eType);
        ptrTransmitter->State().m_ptrOptions->SetSubClientDir(m_dir.Path());
        return ptrTransmitter;
    }

    TempDir m_dir;
};

} // namespace

TEST_F(SolrTransmitterTest, SettersStoreTheirValuesBeforeStart) {
    auto ptrTransmitter = MakeTransmitter();
    CSolrTransmitterCallbackPtr ptrCallback = boost::make_shared<CSolrTransmitterCallback>();
    CBagPtr ptrBag = boost::make_shared<CBag>();

    EXPECT_FALSE(ptrTransmitter->SetMaxQueueSize(7).IsError());
    EXPECT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(3).IsError());
    EXPECT_FALSE(ptrTransmitter->SetCallback(ptrCallback).IsError());
    EXPECT_FALSE(ptrTransmitter->SetOptions(ptrBag).IsError());

    CSolrTransmitterPrivate &state = ptrTransmitter->State();
    EXPECT_EQ(7, state.Config().m_nMaxQueueSize);
    EXPECT_EQ(3, state.Config().m_nTransmitterThreads);
    EXPECT_EQ(ptrCallback, state.m_ptrOptions->GetCallback());
    EXPECT_EQ(ptrBag, state.Config().m_ptrOptionsBag);
}

TEST_F(SolrTransmitterTest, SettersAreRefusedOnceStarted) {
    auto ptrTransmitter = MakeTransmitter();
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    CSolrTransmitterPrivate &state = ptrTransmitter->State();
    CSolrTransmitterCallbackPtr ptrCallback = boost::make_shared<CSolrTransmitterCallback>();

    struct Case {
        const char *szMessage;
        CKyError error;
    };
    idxtest::LogCapture capture(0);
    const Case cases[] = {
        {"Queue size cannot be changed after transmitter has started",
         ptrTransmitter->SetMaxQueueSize(50)},
        {"Transmitter threads cannot be changed after transmitter has started",
         ptrTransmitter->SetNumberofTransmitterThreads(4)},
        {"Callback cannot be changed after transmitter has started",
         ptrTransmitter->SetCallback(ptrCallback)},
        {"Transmitter options cannot be changed after transmitter has started",
         ptrTransmitter->SetOptions(boost::make_shared<CBag>())},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szMessage);
        EXPECT_TRUE(FXErrorUtil::IsWin32(c.error, 774));
        EXPECT_TRUE(HasText(c.error, c.szMessage));
    }
    // The queue-size line is written even for the refused call.
    EXPECT_EQ(1u, capture.CountAtLevel("Setting queue Size : [50]", 0));
    EXPECT_EQ(100, state.Config().m_nMaxQueueSize);
    EXPECT_EQ(1, state.Config().m_nTransmitterThreads);
    EXPECT_FALSE(state.m_ptrOptions->GetCallback());
    EXPECT_FALSE(state.Config().m_ptrOptionsBag);

    // Stopping does not make the transmitter unstarted for the setters.
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrTransmitter->SetMaxQueueSize(5), 774));
}

TEST_F(SolrTransmitterTest, QueueSizeBelowOneIsRefusedButZeroWorkersAreAllowed) {
    auto ptrTransmitter = MakeTransmitter();
    for (int nSize : {0, -1, -100}) {
        SCOPED_TRACE(nSize);
        EXPECT_TRUE(FXErrorUtil::IsWin32(ptrTransmitter->SetMaxQueueSize(nSize), 87));
        EXPECT_EQ(100, ptrTransmitter->State().Config().m_nMaxQueueSize);
    }
    EXPECT_FALSE(ptrTransmitter->SetMaxQueueSize(1).IsError());
    EXPECT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(0).IsError());
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_EQ(0, ptrTransmitter->FactoryCalls());
    EXPECT_EQ(1, CountFreeSlots(*ptrTransmitter->State().Queue().GetFreeSlotsForTest()));
}

// No worker would ever take a queued item, so every item would end in the failures file.
TEST_F(SolrTransmitterTest, NegativeWorkerCountIsRefused) {
    auto ptrTransmitter = MakeTransmitter();
    for (int nThreads : {-1, -2, -1000}) {
        SCOPED_TRACE(nThreads);
        CKyError error = ptrTransmitter->SetNumberofTransmitterThreads(nThreads);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << error.AsString();
        EXPECT_TRUE(HasText(error, "[" + std::to_string(nThreads) + "]"));
        EXPECT_EQ(1, ptrTransmitter->State().Config().m_nTransmitterThreads);
    }
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_EQ(1, ptrTransmitter->FactoryCalls());
}

TEST_F(SolrTransmitterTest, StartWithDefaultsMakesOneStartedWorker) {
    auto ptrTransmitter = MakeTransmitter();
    ASSERT_FALSE(ptrTransmitter->Start().IsError());

    EXPECT_EQ(1, ptrTransmitter->FactoryCalls());
    auto vecWorkers = ptrTransmitter->Workers();
    ASSERT_EQ(1u, vecWorkers.size());
    EXPECT_EQ(1, vecWorkers[0]->StartCount());
    EXPECT_TRUE(vecWorkers[0]->IsRunning());
    EXPECT_EQ(100, CountFreeSlots(*ptrTransmitter->State().Queue().GetFreeSlotsForTest()));
}

TEST_F(SolrTransmitterTest, SecondStartWhileRunningChangesNothing) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->SetNumberofTransmitterThreads(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    boost::shared_ptr<TqSemaphore> ptrSemaphore =
        ptrTransmitter->State().Queue().GetFreeSlotsForTest();

    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_EQ(2, ptrTransmitter->FactoryCalls());
    EXPECT_EQ(ptrSemaphore, ptrTransmitter->State().Queue().GetFreeSlotsForTest());
    for (const TestTransmitterThreadPtr &ptrWorker : ptrTransmitter->Workers()) {
        EXPECT_EQ(1, ptrWorker->StartCount());
    }
}

TEST_F(SolrTransmitterTest, StartAfterStopRunsTheWholeSequenceAgain) {
    auto ptrTransmitter = MakeTransmitter();
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    boost::shared_ptr<TqSemaphore> ptrFirstSemaphore =
        ptrTransmitter->State().Queue().GetFreeSlotsForTest();
    boost::weak_ptr<idxtest::TestTransmitterThread> weakFirst =
        ptrTransmitter->WeakWorkers().front();

    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
    EXPECT_TRUE(weakFirst.expired());
    EXPECT_TRUE(ptrTransmitter->State().GetWorkers().empty());

    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    // Two starts, and the one-shot worker through which Stop sends the folder statistics.
    EXPECT_EQ(3, ptrTransmitter->FactoryCalls());
    EXPECT_NE(ptrFirstSemaphore, ptrTransmitter->State().Queue().GetFreeSlotsForTest());
    ASSERT_EQ(1u, ptrTransmitter->Workers().size());
    EXPECT_TRUE(ptrTransmitter->Workers()[0]->IsRunning());
}

TEST_F(SolrTransmitterTest, ZeroWorkersLeaveTheListEmptySoAnotherStartRunsAgain) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->SetNumberofTransmitterThreads(0);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    boost::shared_ptr<TqSemaphore> ptrFirst = ptrTransmitter->State().Queue().GetFreeSlotsForTest();
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_NE(ptrFirst, ptrTransmitter->State().Queue().GetFreeSlotsForTest());
}

TEST_F(SolrTransmitterTest, FailedWorkerAllocationEndsStartWithTheWorkersMadeSoFar) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->SetNumberofTransmitterThreads(3);
    ptrTransmitter->FailFactoryAfter(2);

    CKyError error = ptrTransmitter->Start();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 14));
    EXPECT_EQ(2u, ptrTransmitter->State().GetWorkers().size());
    // No failures file was opened.
    EXPECT_TRUE(ptrTransmitter->State().AddItemToSolrFailures({"/x"}).IsError());
    // With workers listed, a further Start succeeds at once.
    EXPECT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_EQ(3, ptrTransmitter->FactoryCalls());
}

TEST_F(SolrTransmitterTest, FailuresFileThatCannotBeOpenedFailsStart) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->State().m_ptrOptions->SetSubClientDir(m_dir / "no-such-folder");

    CKyError error = ptrTransmitter->Start();
    ASSERT_TRUE(error.IsError());
    EXPECT_TRUE(HasText(error, "Failed to open solr failures file [" + (m_dir / "no-such-folder") +
                                   "/SolrScanFailures.tqf] for writing: the transmitter does "
                                   "not start, since items that fail could not be listed"));
    EXPECT_EQ("Failed to open solr failures file. ", ptrTransmitter->GetSolrFailureReason());
    // The workers keep running until the transmitter is stopped.
    ASSERT_EQ(1u, ptrTransmitter->Workers().size());
    EXPECT_TRUE(ptrTransmitter->Workers()[0]->IsRunning());
}

TEST_F(SolrTransmitterTest, BackupPhaseStartReportsEarlierFailures) {
    m_dir.WriteFile("SolrBackupFailures.tqf", "/a\n/b\n");
    m_dir.WriteFile("scan_Failures.tqf", "/c\n");
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->State().m_ptrOptions->SetScanPhase(false);

    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_EQ(3, ptrTransmitter->GetFailedItemCount());
    EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
}

TEST_F(SolrTransmitterTest, DisabledFailureLoggingStartsWithoutAFile) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->State().m_ptrOptions->SetDisableFailureLogging(true);
    ptrTransmitter->State().m_ptrOptions->SetSubClientDir(m_dir / "no-such-folder");
    idxtest::LogCapture capture(0);

    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("Failure logging is disabled.", 0));
    EXPECT_EQ("", ptrTransmitter->GetSolrFailureReason());
}

TEST_F(SolrTransmitterTest, AbortBeforeStartDoesNothing) {
    auto ptrTransmitter = MakeTransmitter();
    EXPECT_FALSE(ptrTransmitter->Abort(true).IsError());
    EXPECT_FALSE(ptrTransmitter->IsAborted());
}

TEST_F(SolrTransmitterTest, AbortEmptiesTheQueueGivingBackOneSlotPerItem) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->SetNumberofTransmitterThreads(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    for (const TestTransmitterThreadPtr &ptrWorker : ptrTransmitter->Workers()) {
        ptrWorker->SetPaused(true);
    }
    for (int i = 0; i < 30; ++i) {
        ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/q")).IsError());
    }
    CSolrTransmitterPrivate &state = ptrTransmitter->State();
    EXPECT_EQ(70, CountFreeSlots(*state.Queue().GetFreeSlotsForTest()));

    EXPECT_FALSE(ptrTransmitter->Abort(false).IsError());
    EXPECT_TRUE(ptrTransmitter->IsAborted());
    EXPECT_EQ(0u, state.GetQueueLength());
    EXPECT_EQ(100, CountFreeSlots(*state.Queue().GetFreeSlotsForTest()));
    // Workers already stopped are asked again without harm.
    EXPECT_FALSE(ptrTransmitter->Abort(true).IsError());
    for (const TestTransmitterThreadPtr &ptrWorker : ptrTransmitter->Workers()) {
        EXPECT_FALSE(ptrWorker->IsRunning());
    }
    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrTransmitter->AddToQueue(MakeTestItem("/late")), 995));
}

TEST_F(SolrTransmitterTest, AbortWakesAJobThreadBlockedOnAFullQueue) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->SetMaxQueueSize(2);
    ptrTransmitter->SetNumberofTransmitterThreads(0);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/1")).IsError());
    ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/2")).IsError());

    std::vector<std::thread> vecBlocked;
    std::vector<CKyError> vecResults(3);
    for (int i = 0; i < 3; ++i) {
        vecBlocked.emplace_back(
            [&, i] { vecResults[i] = ptrTransmitter->AddToQueue(MakeTestItem("/blocked")); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(2u, ptrTransmitter->State().GetQueueLength());

    EXPECT_FALSE(ptrTransmitter->Abort(true).IsError());
    for (auto &thread : vecBlocked) {
        thread.join();
    }
    for (const CKyError &result : vecResults) {
        EXPECT_TRUE(FXErrorUtil::IsWin32(result, 995));
    }
    EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
}

TEST_F(SolrTransmitterTest, WorkersDrainWhatIsQueued) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->SetMaxQueueSize(3);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    for (int i = 0; i < 20; ++i) {
        ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/d" + std::to_string(i))).IsError());
    }
    TestTransmitterThreadPtr ptrWorker = ptrTransmitter->Workers().at(0);
    ASSERT_TRUE(ptrWorker->WaitForTaken(20));
    std::vector<CItemPtr> vecTaken = ptrWorker->TakenItems();
    for (size_t i = 0; i < vecTaken.size(); ++i) {
        EXPECT_EQ("/d" + std::to_string(i), vecTaken[i]->GetPath());
    }
}

TEST_F(SolrTransmitterTest, FailureReasonOfAnAbortingWorkerComesBackIntact) {
    auto ptrTransmitter = MakeTransmitter();
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    TestTransmitterThreadPtr ptrWorker = ptrTransmitter->Workers().at(0);
    const std::string strReason = "disk 100% full: %s %n %d";
    ptrWorker->AbortOnNextEvent(FXErrorUtil::ErrorWin32(FXLOC, 995), strReason);
    ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/x")).IsError());

    ASSERT_TRUE(ptrWorker->WaitForStop(CTimeInterval::FromSeconds(5)));
    EXPECT_EQ(strReason, ptrTransmitter->GetSolrFailureReason());
    EXPECT_TRUE(ptrTransmitter->IsAborted());
}

TEST_F(SolrTransmitterTest, QueriesAndSwitchesWriteTheSharedState) {
    auto ptrTransmitter = MakeTransmitter();
    CSolrTransmitterPrivate &state = ptrTransmitter->State();
    TQBkpJobClient backupJobClient;

    ptrTransmitter->SetBackupJobClient(&backupJobClient);
    ptrTransmitter->PopulateFieldsToPush({"DocumentType", "SecurityInfo"});
    ptrTransmitter->SendPartialData(true);
    ptrTransmitter->SetCollectID(12);
    ptrTransmitter->SetOffset(4096);
    state.m_ptrOptions->SetIsNasClient(true);
    state.SetPushDataToSolrFailed(true);

    EXPECT_EQ(&backupJobClient, state.Config().m_pBackupJobClient);
    EXPECT_EQ((std::vector<std::string>{"DocumentType", "SecurityInfo"}),
              state.Config().m_vecFieldsToPush);
    EXPECT_TRUE(state.Config().m_bSendPartialData);
    EXPECT_EQ(12u, state.RunState().m_nCollectID);
    EXPECT_EQ(4096, state.RunState().m_llCollectOffset);
    EXPECT_TRUE(ptrTransmitter->IsNasClient());
    EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
    EXPECT_EQ(0, ptrTransmitter->GetFailedItemCount());
}

TEST_F(SolrTransmitterTest, EndOfJobOperationsOnATransmitterThatNeverStarted) {
    auto ptrTransmitter = MakeTransmitter();
    CKyError wait = ptrTransmitter->WaitForQueueToEmpty();
    CKyError stop = ptrTransmitter->Stop();
    EXPECT_TRUE(FXErrorUtil::IsWin32(wait, 774));
    EXPECT_TRUE(HasText(wait, "Transmitter was not started"));
    EXPECT_TRUE(FXErrorUtil::IsWin32(stop, 774));
    EXPECT_TRUE(HasText(stop, "Transmitter was not started"));
    EXPECT_FALSE(ptrTransmitter->Commit().IsError());
}

TEST_F(SolrTransmitterTest, DestroyingATransmitterThatNeverStartedLogsNoError) {
    for (eIDX_Transmitter_Type eType : {eIDX_Transmitter_Solr, eIDX_Transmitter_LiveCrawl}) {
        SCOPED_TRACE(eType);
        idxtest::LogCapture capture(0);
        { CSolrTransmitter transmitter(eType); }
        { MakeTransmitter(eType); }
        for (const idxtest::CapturedLogLine &line : capture.Lines()) {
            EXPECT_NE(line.nLevel, -1) << line.strText;
        }
    }
}

TEST_F(SolrTransmitterTest, StopJoinsTheWorkersAndClosesTheFailuresFile) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->SetNumberofTransmitterThreads(3);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    CSolrTransmitterPrivate &state = ptrTransmitter->State();
    ASSERT_FALSE(state.AddItemToSolrFailures({"/failed"}).IsError());

    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
    EXPECT_TRUE(state.GetWorkers().empty());
    for (const auto &weakWorker : ptrTransmitter->WeakWorkers()) {
        EXPECT_TRUE(weakWorker.expired());
    }
    EXPECT_TRUE(state.AddItemToSolrFailures({"/after-stop"}).IsError());
    EXPECT_EQ("/failed\n", idxtest::ReadWholeFile(m_dir / "SolrScanFailures.tqf"));
    // A second Stop has nothing left to stop.
    EXPECT_FALSE(ptrTransmitter->Stop().IsError());
}

TEST_F(SolrTransmitterTest, DestroyingARunningTransmitterReleasesWorkersAndState) {
    boost::weak_ptr<CSolrTransmitterPrivate> weakState;
    std::vector<boost::weak_ptr<idxtest::TestTransmitterThread>> vecWeakWorkers;
    {
        auto ptrTransmitter = MakeTransmitter();
        ptrTransmitter->SetNumberofTransmitterThreads(4);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/pending")).IsError());
        weakState = ptrTransmitter->StatePtr();
        vecWeakWorkers = ptrTransmitter->WeakWorkers();
    }
    EXPECT_TRUE(weakState.expired());
    for (const auto &weakWorker : vecWeakWorkers) {
        EXPECT_TRUE(weakWorker.expired());
    }
}

namespace {

// A transmitter whose worker factory can be made to run out of memory, and a job callback whose
// quit query can be made to throw: what the exported operations meet when allocation fails or the
// job's own code throws.
class ThrowingFactoryTransmitter : public TestSolrTransmitter {
public:
    IIdxTransmitterThreadPtr GetIdxTransmitterThreadObj() override {
        if (m_bThrow) {
            throw std::bad_alloc();
        }
        return TestSolrTransmitter::GetIdxTransmitterThreadObj();
    }
    bool m_bThrow = false;
};

class ThrowingQuitQueryCallback : public CSolrTransmitterCallback {
public:
    bool IsQuitFlagSet() override {
        if (m_bThrow) {
            throw std::runtime_error("job manager connection reset");
        }
        return false;
    }
    std::atomic<bool> m_bThrow{false};
};

} // namespace

TEST_F(SolrTransmitterTest, ExceptionsInsideAnOperationComeBackAsItsError) {
    struct Case {
        const char *szName;
        bool bStart;     // started (and one item queued) before the operation
        bool bFactory;   // the factory throws std::bad_alloc
        bool bQuitQuery; // the job's quit query throws
        std::function<CKyError(CSolrTransmitter &)> fnCall;
        uint32_t nError;
        const char *szText;
    };
    const Case cases[] = {
        {"Start, no memory for a worker", false, true, false,
         [](CSolrTransmitter &t) { return t.Start(); }, 14, ""},
        {"Commit, no memory for its worker", true, true, false,
         [](CSolrTransmitter &t) { return t.Commit(); }, 14, ""},
        {"Stop, no memory for the folder statistics", true, true, false,
         [](CSolrTransmitter &t) { return t.Stop(); }, 14, ""},
        {"wait, quit query throws", true, false, true,
         [](CSolrTransmitter &t) { return t.WaitForQueueToEmpty(); }, 1359,
         "job manager connection reset"},
        {"queueing, quit query throws", true, false, true,
         [](CSolrTransmitter &t) {
             return t.BuildAndAddToQueue(MakeTestItem("/q"), 1, 0, false, false,
                                         CAnalyticsItemAddInfoPtr());
         },
         1359, "job manager connection reset"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        auto ptrTransmitter = boost::make_shared<ThrowingFactoryTransmitter>();
        ptrTransmitter->State().m_ptrOptions->SetSubClientDir(m_dir.Path());
        auto ptrCallback = boost::make_shared<ThrowingQuitQueryCallback>();
        ptrTransmitter->SetCallback(ptrCallback);
        if (c.bStart) {
            ASSERT_FALSE(ptrTransmitter->Start().IsError());
            ASSERT_FALSE(ptrTransmitter->AddToQueue(MakeTestItem("/queued")).IsError());
        }
        ptrTransmitter->m_bThrow = c.bFactory;
        ptrCallback->m_bThrow = c.bQuitQuery;

        CKyError error;
        EXPECT_NO_THROW(error = c.fnCall(*ptrTransmitter));
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, c.nError)) << error.AsString();
        EXPECT_TRUE(HasText(error, c.szText)) << error.AsString();

        ptrTransmitter->m_bThrow = false;
        ptrCallback->m_bThrow = false;
    }
}

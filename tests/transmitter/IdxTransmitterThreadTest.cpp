#include "transmitter/IdxTransmitterThread.h"

#include <chrono>
#include <thread>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "foundation/Locks.h"
#include "platform/testing/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::CountFreeSlots;
using idxtest::MakeTestItem;
using idxtest::TestTransmitterThread;
using idxtest::TestTransmitterThreadPtr;

namespace {

class IdxTransmitterThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_ptrState = boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
        m_ptrState->Queue().Create(10);
    }

    TestTransmitterThreadPtr MakeWorker() {
        return boost::make_shared<TestTransmitterThread>(m_ptrState, m_ptrState->m_ptrOptions);
    }

    void Queue(int nItems) {
        for (int i = 0; i < nItems; ++i) {
            ASSERT_FALSE(m_ptrState->AddToQueue(MakeTestItem("/q" + std::to_string(i))).IsError());
        }
    }

    CSolrTransmitterPrivatePtr m_ptrState;
};

} // namespace

TEST_F(IdxTransmitterThreadTest, NewWorkerIsIdleWithoutErrorAndSharesTheOptions) {
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    EXPECT_TRUE(ptrWorker->IsTransmitterIdle());
    EXPECT_FALSE(ptrWorker->GetError().IsError());
    EXPECT_EQ(m_ptrState->m_ptrOptions, ptrWorker->GetTransmitterOptions());
    EXPECT_FALSE(ptrWorker->SendComputeFolderStats().IsError());
    EXPECT_FALSE(ptrWorker->IsRunning());
    EXPECT_EQ(0, ptrWorker->StartCount());
}

TEST_F(IdxTransmitterThreadTest, FirstErrorStaysAndGetErrorIsAnIndependentCopy) {
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    ptrWorker->SetError(CKyError::Success());
    EXPECT_FALSE(ptrWorker->GetError().IsError());

    ptrWorker->SetError(FXErrorUtil::ErrorWin32(FXLOC, 5, "first"));
    ptrWorker->SetError(FXErrorUtil::ErrorWin32(FXLOC, 6, "second"));
    CKyError copy = ptrWorker->GetError();
    EXPECT_EQ(5u, FXErrorUtil::GetWin32(copy));

    copy.Push(FXLOC, "added to the copy only");
    EXPECT_EQ(std::string::npos, ptrWorker->GetError().AsString().find("added to the copy only"));
}

TEST_F(IdxTransmitterThreadTest, AbortThreadMarksTheTransmitterAndEmptiesTheQueue) {
    idxtest::TempDir dir;
    m_ptrState->m_ptrOptions->SetSubClientDir(dir.Path());
    ASSERT_FALSE(m_ptrState->OpenSolrFailuresFile().IsError());
    Queue(4);
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    idxtest::LogCapture capture(1);

    CKyError error = FXErrorUtil::ErrorWin32(FXLOC, 995, "quit seen");
    EXPECT_FALSE(ptrWorker->AbortThread(error, "engine is gone").IsError());

    EXPECT_EQ(995u, FXErrorUtil::GetWin32(ptrWorker->GetError()));
    EXPECT_EQ("engine is gone", m_ptrState->GetSolrFailureReason());
    EXPECT_TRUE(m_ptrState->m_ptrOptions->IsAborted());
    EXPECT_TRUE(ptrWorker->IsStopRequested());
    EXPECT_EQ(0u, m_ptrState->GetQueueLength());
    EXPECT_EQ(10, CountFreeSlots(*m_ptrState->Queue().GetFreeSlotsForTest()));
    EXPECT_EQ(1u,
              capture.CountAtLevel("Aborting solr transmission, error: " + error.AsString(), 1));
    // The four items were never sent: they count as failed, with the abort's reason logged.
    EXPECT_EQ(4, m_ptrState->GetFailedItemCount());
    EXPECT_TRUE(m_ptrState->IfPushDataToSolrFailed());
    EXPECT_TRUE(capture.Contains("4 items not indexed, recorded as failed, reason=[a transmitter "
                                 "thread aborted, error=" +
                                 error.AsString() + ", reason=engine is gone]"));
    // A blocked job thread would now be refused.
    EXPECT_TRUE(FXErrorUtil::IsWin32(m_ptrState->AddToQueue(MakeTestItem("/late")), 995));
}

TEST_F(IdxTransmitterThreadTest, SecondAbortOfTheSameWorkerChangesNothing) {
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    ptrWorker->AbortThread(FXErrorUtil::ErrorWin32(FXLOC, 995), "first reason");
    idxtest::LogCapture capture(1);

    EXPECT_FALSE(ptrWorker->AbortThread(FXErrorUtil::ErrorWin32(FXLOC, 774), "second").IsError());
    EXPECT_EQ(995u, FXErrorUtil::GetWin32(ptrWorker->GetError()));
    EXPECT_EQ("first reason", m_ptrState->GetSolrFailureReason());
    EXPECT_FALSE(capture.Contains("Aborting solr transmission"));
}

TEST_F(IdxTransmitterThreadTest, AbortAfterAnotherWorkerAbortedStillStopsThisOne) {
    TestTransmitterThreadPtr ptrFirst = MakeWorker();
    TestTransmitterThreadPtr ptrSecond = MakeWorker();
    ptrFirst->AbortThread(FXErrorUtil::ErrorWin32(FXLOC, 995), "first reason");

    EXPECT_FALSE(ptrSecond->AbortThread(FXErrorUtil::ErrorWin32(FXLOC, 774), "later").IsError());
    EXPECT_EQ(774u, FXErrorUtil::GetWin32(ptrSecond->GetError()));
    EXPECT_TRUE(ptrSecond->IsStopRequested());
    // The first reason given stays.
    EXPECT_EQ("first reason", m_ptrState->GetSolrFailureReason());
}

TEST_F(IdxTransmitterThreadTest, AbortWithAnEmptyReasonLeavesTheReasonAlone) {
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    ptrWorker->AbortThread(FXErrorUtil::ErrorWin32(FXLOC, 995), "");
    EXPECT_EQ("", m_ptrState->GetSolrFailureReason());

    m_ptrState->SetSolrFailureReason("kept");
    TestTransmitterThreadPtr ptrOther = MakeWorker();
    ptrOther->AbortThread(FXErrorUtil::ErrorWin32(FXLOC, 995), "");
    EXPECT_EQ("kept", m_ptrState->GetSolrFailureReason());
}

TEST_F(IdxTransmitterThreadTest, StartedWorkersAllWakeOnTheSharedEventAndDrainTheQueue) {
    TestTransmitterThreadPtr ptrFirst = MakeWorker();
    TestTransmitterThreadPtr ptrSecond = MakeWorker();
    ASSERT_FALSE(ptrFirst->Start().IsError());
    ASSERT_FALSE(ptrSecond->Start().IsError());
    EXPECT_EQ(1, ptrFirst->StartCount());

    Queue(1);
    // One queued item wakes one idle worker, which takes it.
    for (int i = 0; i < 500 && ptrFirst->TakenItems().size() + ptrSecond->TakenItems().size() < 1;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(1u, ptrFirst->TakenItems().size() + ptrSecond->TakenItems().size());

    Queue(6);
    for (int i = 0; i < 500 && ptrFirst->TakenItems().size() + ptrSecond->TakenItems().size() < 7;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(7u, ptrFirst->TakenItems().size() + ptrSecond->TakenItems().size());
    EXPECT_EQ(0u, m_ptrState->GetQueueLength());

    ptrFirst->InternalStop();
    ptrSecond->InternalStop();
    ptrFirst->Stop(true);
    ptrSecond->Stop(true);
    EXPECT_FALSE(ptrFirst->IsRunning());
    EXPECT_TRUE(ptrFirst->IsTransmitterIdle());
}

TEST_F(IdxTransmitterThreadTest, BurstsWithPausesBetweenThemLeaveNoItemBehind) {
    // Each item wakes at most one idle worker; items that a busy worker does not see woken for
    // must still be taken, whatever the timing of the workers' return to their wait.
    std::vector<TestTransmitterThreadPtr> vecWorkers;
    for (int i = 0; i < 4; ++i) {
        vecWorkers.push_back(MakeWorker());
        ASSERT_FALSE(vecWorkers.back()->Start().IsError());
    }
    auto taken = [&] {
        size_t nTaken = 0;
        for (const auto &ptrWorker : vecWorkers) {
            nTaken += ptrWorker->TakenItems().size();
        }
        return nTaken;
    };
    size_t nQueued = 0;
    for (int nBurst = 0; nBurst < 200; ++nBurst) {
        const int nItems = 1 + nBurst % 7;
        Queue(nItems);
        nQueued += static_cast<size_t>(nItems);
        if (nBurst % 3 == 0) {
            std::this_thread::yield();
        }
    }
    for (int i = 0; i < 2000 && taken() < nQueued; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(nQueued, taken());
    EXPECT_EQ(0u, m_ptrState->GetQueueLength());
    for (const auto &ptrWorker : vecWorkers) {
        ptrWorker->InternalStop();
        ptrWorker->Stop(true);
    }
}

TEST_F(IdxTransmitterThreadTest, WaitMarksTheWorkerIdleAndHonoursTheTimeOut) {
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    ptrWorker->SetIdle(false);
    ptrWorker->SetTimeout(CTimeInterval::FromMilliseconds(20));
    idxtest::LogCapture capture(5);
    ASSERT_FALSE(ptrWorker->Start().IsError());

    for (int i = 0; i < 500 && ptrWorker->TimeoutCount() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(ptrWorker->TimeoutCount(), 2);
    EXPECT_TRUE(ptrWorker->IsTransmitterIdle());
    EXPECT_GE(capture.CountAtLevel("Recieved signal on WaitForEvent", 5), 2u);
    ptrWorker->Stop(true);
}

TEST_F(IdxTransmitterThreadTest, AbortFromTheWorkersOwnHookEndsItsLoop) {
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    ptrWorker->AbortOnNextEvent(FXErrorUtil::ErrorWin32(FXLOC, 995), "from the hook");
    ASSERT_FALSE(ptrWorker->Start().IsError());
    // One item: the wake-up it causes aborts the transmitter, so a second would be refused.
    Queue(1);

    EXPECT_TRUE(ptrWorker->WaitForStop(CTimeInterval::FromSeconds(5)));
    EXPECT_EQ("from the hook", m_ptrState->GetSolrFailureReason());
    EXPECT_TRUE(m_ptrState->m_ptrOptions->IsAborted());
    EXPECT_EQ(0u, m_ptrState->GetQueueLength());
    ptrWorker->Stop(true);
    EXPECT_TRUE(ptrWorker->TakenItems().empty());
}

TEST_F(IdxTransmitterThreadTest, CommitRequestIsPlacedReadAndDropped) {
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    EXPECT_FALSE(ptrWorker->GetCommitParams().m_bCommitRequested);

    _CommitParams params;
    params.m_bCommitRequested = true;
    params.m_ptrReplySemaphore = boost::make_shared<TqSemaphore>(0);
    params.m_ptrCollectFileOffsets = boost::make_shared<std::vector<uint64_t>>(3, 0);
    params.m_ptrOffsetsLock = boost::make_shared<FXCriticalSection>();
    ptrWorker->SetCommitFlag(params);

    // The request keeps the cycle's objects alive after the asker dropped them.
    boost::weak_ptr<TqSemaphore> weakSemaphore = params.m_ptrReplySemaphore;
    params = _CommitParams();
    EXPECT_FALSE(weakSemaphore.expired());

    _CommitParams placed = ptrWorker->GetCommitParams();
    EXPECT_TRUE(placed.m_bCommitRequested);
    ASSERT_TRUE(placed.m_ptrCollectFileOffsets);
    EXPECT_EQ(3u, placed.m_ptrCollectFileOffsets->size());
    placed = _CommitParams();

    ptrWorker->ClearCommitFlag();
    EXPECT_FALSE(ptrWorker->GetCommitParams().m_bCommitRequested);
    EXPECT_TRUE(weakSemaphore.expired());
}

TEST_F(IdxTransmitterThreadTest, TakingTheCommitRequestDropsItInTheSameStep) {
    TestTransmitterThreadPtr ptrWorker = MakeWorker();
    EXPECT_FALSE(ptrWorker->TakeCommitParams().m_bCommitRequested);

    _CommitParams first;
    first.m_bCommitRequested = true;
    first.m_ptrReplySemaphore = boost::make_shared<TqSemaphore>(0);
    ptrWorker->SetCommitFlag(first);
    _CommitParams taken = ptrWorker->TakeCommitParams();
    EXPECT_TRUE(taken.m_bCommitRequested);
    EXPECT_EQ(first.m_ptrReplySemaphore, taken.m_ptrReplySemaphore);
    EXPECT_FALSE(ptrWorker->GetCommitParams().m_bCommitRequested);

    // A request placed while the taken one is being answered waits for the next pass.
    _CommitParams second = first;
    second.m_ptrReplySemaphore = boost::make_shared<TqSemaphore>(0);
    ptrWorker->SetCommitFlag(second);
    EXPECT_EQ(second.m_ptrReplySemaphore, ptrWorker->TakeCommitParams().m_ptrReplySemaphore);
    EXPECT_FALSE(ptrWorker->TakeCommitParams().m_bCommitRequested);
}

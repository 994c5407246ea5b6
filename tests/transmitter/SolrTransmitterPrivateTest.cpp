#include "transmitter/SolrTransmitterPrivate.h"

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "foundation/Locks.h"
#include "platform/EventThread.h"
#include "platform/testing/LogCapture.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::CountFreeSlots;
using idxtest::MakeTestItem;

namespace {

// A shared state with a free-slot semaphore of the given capacity, as Start leaves it.
CSolrTransmitterPrivatePtr MakeStartedState(int nCapacity) {
    CSolrTransmitterPrivatePtr ptrState =
        boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
    ptrState->SetUp().m_nMaxQueueSize = nCapacity;
    ptrState->Queue().Create(nCapacity);
    return ptrState;
}

// Short real wait used only to see that a blocked call has not completed.
constexpr auto kBlockedCheck = std::chrono::milliseconds(50);
constexpr auto kCompletes = std::chrono::seconds(5);

} // namespace

TEST(SolrTransmitterPrivateTest, NewStateHoldsTheDocumentedDefaults) {
    CSolrTransmitterPrivate state(nullptr, eIDX_Transmitter_Solr);
    EXPECT_FALSE(state.IfPushDataToSolrFailed());
    EXPECT_EQ(4294967295u, state.RunState().m_nCollectID);
    EXPECT_EQ(-1, state.RunState().m_llCollectOffset);
    EXPECT_EQ(15u, state.Config().m_nQueueTimeoutInMins);
    EXPECT_EQ(100, state.Config().m_nMaxQueueSize);
    EXPECT_EQ(1, state.Config().m_nTransmitterThreads);
    EXPECT_EQ(0, state.Config().m_nDisableSolrPerfThread);
    EXPECT_EQ("", state.GetSolrFailureReason());
    EXPECT_FALSE(state.IsQueueCreated());
    EXPECT_FALSE(state.IsDataConfiguredFromBag());
    EXPECT_TRUE(state.m_ptrOptions);
    EXPECT_TRUE(state.GetItemQueuedEvent());
    EXPECT_EQ(state.Queue().GetItemQueuedEvent(), state.GetItemQueuedEvent());
    EXPECT_TRUE(state.Timers().m_ptrCollectSecurityInfoTimer);
    EXPECT_TRUE(state.Timers().m_ptrQueueFullWaitTimer);
    EXPECT_TRUE(state.Timers().m_ptrGetQueuedItemsTimer);
    EXPECT_TRUE(state.Timers().m_ptrAdditionalPropertiesTimer);
    // Made with the state, which outlives the index-log workers that count it.
    EXPECT_TRUE(state.Timers().m_ptrGuidGenerationTimer);
    EXPECT_EQ(0, state.GetItemsQueued());
    EXPECT_EQ(0, state.GetFailedItemCount());
}

TEST(SolrTransmitterPrivateTest, QueueingBeforeStartIsRefusedWithoutTouchingTheQueue) {
    CSolrTransmitterPrivate state(nullptr, eIDX_Transmitter_Solr);
    CKyError error = state.AddToQueue(MakeTestItem("/a"));
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_NE(std::string::npos, error.AsString().find("Transmitter was not started"));
    EXPECT_EQ(0u, state.GetQueueLength());
    EXPECT_EQ(0, state.GetItemsQueued());
}

TEST(SolrTransmitterPrivateTest, CallBeyondCapacityBlocksUntilOneItemIsTaken) {
    const int nCapacity = 3;
    CSolrTransmitterPrivatePtr ptrState = MakeStartedState(nCapacity);
    for (int i = 0; i < nCapacity; ++i) {
        ASSERT_FALSE(ptrState->AddToQueue(MakeTestItem("/f" + std::to_string(i))).IsError());
    }

    auto blocked = std::async(std::launch::async,
                              [&] { return ptrState->AddToQueue(MakeTestItem("/extra")); });
    EXPECT_EQ(std::future_status::timeout, blocked.wait_for(kBlockedCheck));
    EXPECT_EQ(3u, ptrState->GetQueueLength());

    std::list<CItemPtr> lstTaken = idxtest::TakeQueued(*ptrState, 1);
    ASSERT_EQ(1u, lstTaken.size());
    EXPECT_EQ("/f0", lstTaken.front()->GetPath());

    ASSERT_EQ(std::future_status::ready, blocked.wait_for(kCompletes));
    EXPECT_FALSE(blocked.get().IsError());
    EXPECT_EQ(3u, ptrState->GetQueueLength());
    EXPECT_EQ(4, ptrState->GetItemsQueued());
}

TEST(SolrTransmitterPrivateTest, AbortedQueueRefusesAtOnceAndCountsNothing) {
    CSolrTransmitterPrivatePtr ptrState = MakeStartedState(2);
    ptrState->m_ptrOptions->SetAborted(true);
    // Even with no free slot left, the refusal does not wait for one.
    ptrState->Queue().GetFreeSlotsForTest()->wait();
    ptrState->Queue().GetFreeSlotsForTest()->wait();

    CKyError error = ptrState->AddToQueue(MakeTestItem("/a"));
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 995));
    EXPECT_EQ(0, ptrState->GetItemsQueued());
    EXPECT_EQ(0u, ptrState->GetQueueLength());
}

TEST(SolrTransmitterPrivateTest, EveryCallerBlockedOnAFullQueueIsRefusedWhenItIsAborted) {
    // One queued item frees one slot; three callers are waiting for it.
    CSolrTransmitterPrivatePtr ptrState = MakeStartedState(1);
    ASSERT_FALSE(ptrState->AddToQueue(MakeTestItem("/first")).IsError());

    std::vector<std::future<CKyError>> vecBlocked;
    for (int i = 0; i < 3; ++i) {
        vecBlocked.push_back(std::async(std::launch::async, [&, i] {
            return ptrState->AddToQueue(MakeTestItem("/blocked" + std::to_string(i)));
        }));
    }
    for (auto &blocked : vecBlocked) {
        EXPECT_EQ(std::future_status::timeout, blocked.wait_for(std::chrono::milliseconds(10)));
    }

    ptrState->m_ptrOptions->SetAborted(true);
    ASSERT_FALSE(ptrState->ClearQueuedItems().IsError());

    for (auto &blocked : vecBlocked) {
        ASSERT_EQ(std::future_status::ready, blocked.wait_for(kCompletes));
        EXPECT_TRUE(FXErrorUtil::IsWin32(blocked.get(), 995));
    }
    EXPECT_EQ(0u, ptrState->GetQueueLength());
    EXPECT_EQ(1, ptrState->GetItemsQueued());
}

namespace {

// A job callback whose quit query throws on its nth call (counted from 1) and answers "go on"
// otherwise.
class ThrowingQuitQuery : public CSolrTransmitterCallback {
public:
    explicit ThrowingQuitQuery(int nThrowOnCall) : m_nThrowOnCall(nThrowOnCall) {}
    bool IsQuitFlagSet() override {
        if (++m_nCalls == m_nThrowOnCall) {
            throw std::runtime_error("quit query lost its connection");
        }
        return false;
    }

private:
    const int m_nThrowOnCall;
    std::atomic<int> m_nCalls{0};
};

} // namespace

TEST(SolrTransmitterPrivateTest, AnAbortTestThatThrowsIsAnErrorAndLeavesNoSlotTaken) {
    // The queue tests the abort flag (and with it the job's quit query) before and after it
    // waits for a slot.
    struct Case {
        const char *szName;
        int nThrowOnCall;
    };
    for (const Case &c : {Case{"before the wait", 1}, Case{"after the wait", 2}}) {
        SCOPED_TRACE(c.szName);
        CSolrTransmitterPrivatePtr ptrState = MakeStartedState(1);
        ptrState->m_ptrOptions->SetCallback(boost::make_shared<ThrowingQuitQuery>(c.nThrowOnCall));

        CKyError error;
        EXPECT_NO_THROW(error = ptrState->AddToQueue(MakeTestItem("/refused")));
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1359));
        EXPECT_NE(std::string::npos, error.AsString().find("quit query lost its connection"));
        EXPECT_EQ(0u, ptrState->GetQueueLength());
        EXPECT_EQ(0, ptrState->GetItemsQueued());

        // The only slot is free again: the next item goes in without waiting.
        EXPECT_EQ(1, CountFreeSlots(*ptrState->Queue().GetFreeSlotsForTest()));
        auto next = std::async(std::launch::async,
                               [&] { return ptrState->AddToQueue(MakeTestItem("/next")); });
        if (next.wait_for(kCompletes) != std::future_status::ready) {
            ptrState->Queue().GetFreeSlotsForTest()->release(1); // let the blocked call end
            ADD_FAILURE() << "the queue lost its only slot";
        }
        EXPECT_FALSE(next.get().IsError());
        EXPECT_EQ(1u, ptrState->GetQueueLength());
    }
}

TEST(SolrTransmitterPrivateTest, ABatchTakesAtMostTheLimitOldestFirst) {
    struct Case {
        int nMaxItems;
        size_t nExpectedTaken;
    };
    const Case cases[] = {{0, 0}, {-4, 0}, {2, 2}, {5, 5}, {50, 5}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nMaxItems);
        CSolrTransmitterPrivatePtr ptrState = MakeStartedState(5);
        for (int i = 0; i < 5; ++i) {
            ASSERT_FALSE(ptrState->AddToQueue(MakeTestItem("/i" + std::to_string(i))).IsError());
        }
        ASSERT_EQ(0, CountFreeSlots(*ptrState->Queue().GetFreeSlotsForTest()));

        std::list<CItemPtr> lstTaken = idxtest::TakeQueued(*ptrState, c.nMaxItems);

        ASSERT_EQ(c.nExpectedTaken, lstTaken.size());
        int nIndex = 0;
        for (const CItemPtr &ptrItem : lstTaken) {
            EXPECT_EQ("/i" + std::to_string(nIndex++), ptrItem->GetPath());
        }
        EXPECT_EQ(5u - c.nExpectedTaken, ptrState->GetQueueLength());
        EXPECT_EQ(static_cast<int>(c.nExpectedTaken),
                  CountFreeSlots(*ptrState->Queue().GetFreeSlotsForTest()));
    }
}

TEST(SolrTransmitterPrivateTest, ABatchTakingFromAnEmptyQueueStaysEmpty) {
    CSolrTransmitterPrivatePtr ptrState = MakeStartedState(4);
    EXPECT_TRUE(idxtest::TakeQueued(*ptrState, 10).empty());
    EXPECT_EQ(4, CountFreeSlots(*ptrState->Queue().GetFreeSlotsForTest()));
}

TEST(SolrTransmitterPrivateTest, ClearQueuedItemsGivesBackExactlyOneSlotPerItem) {
    for (int nQueued : {0, 1, 7}) {
        SCOPED_TRACE(nQueued);
        CSolrTransmitterPrivatePtr ptrState = MakeStartedState(10);
        for (int i = 0; i < nQueued; ++i) {
            ASSERT_FALSE(ptrState->AddToQueue(MakeTestItem("/c")).IsError());
        }
        ASSERT_FALSE(ptrState->ClearQueuedItems().IsError());
        EXPECT_EQ(0u, ptrState->GetQueueLength());
        EXPECT_EQ(10, CountFreeSlots(*ptrState->Queue().GetFreeSlotsForTest()));
        EXPECT_EQ(nQueued, ptrState->GetItemsQueued());
    }
}

TEST(SolrTransmitterPrivateTest, EveryAppendSetsTheItemQueuedEventAndLogsTheLength) {
    CSolrTransmitterPrivatePtr ptrState = MakeStartedState(10);
    boost::shared_ptr<FXEvent> ptrEvent = ptrState->GetItemQueuedEvent();
    // This thread has seen nothing yet: a first wait would see earlier sets too, so take them.
    ptrEvent->WaitForSet(0);

    idxtest::LogCapture capture(7);
    ASSERT_FALSE(ptrState->AddToQueue(MakeTestItem("/x")).IsError());
    EXPECT_EQ(0u, ptrEvent->WaitForSet(0));
    EXPECT_NE(0u, ptrEvent->WaitForSet(0));
    ASSERT_FALSE(ptrState->AddToQueue(MakeTestItem("/y")).IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("1 items in queue", 7));
    EXPECT_EQ(1u, capture.CountAtLevel("2 items in queue", 7));
}

TEST(SolrTransmitterPrivateTest, QueueTimersGainOneSamplePerCall) {
    CSolrTransmitterPrivatePtr ptrState = MakeStartedState(3);
    ASSERT_FALSE(ptrState->AddToQueue(MakeTestItem("/a")).IsError());
    ASSERT_FALSE(ptrState->AddToQueue(MakeTestItem("/b")).IsError());
    EXPECT_EQ(2u, ptrState->Timers().m_ptrQueueFullWaitTimer->GetTotalSamples());
    idxtest::TakeQueued(*ptrState, 1);
    idxtest::TakeQueued(*ptrState, 1);
    EXPECT_EQ(2u, ptrState->Timers().m_ptrGetQueuedItemsTimer->GetTotalSamples());
}

TEST(SolrTransmitterPrivateTest, FailureReasonIsReplacedAndKeptVerbatim) {
    CSolrTransmitterPrivate state(nullptr, eIDX_Transmitter_Solr);
    state.SetSolrFailureReason("first");
    state.SetSolrFailureReason("100% failed %s %n");
    EXPECT_EQ("100% failed %s %n", state.GetSolrFailureReason());
}

TEST(SolrTransmitterPrivateTest, AFailedRequestsReasonGivesWayToTheNextFailureAndToAnAbort) {
    enum ESetter { eFailedRequest, eAbort, eOther };
    struct Step {
        ESetter eSetter;
        const char *szReason;
        const char *szAfter;
    };
    const struct {
        const char *szName;
        std::vector<Step> vecSteps;
    } cases[] = {
        {"the last failed request is named",
         {{eFailedRequest, "404", "404"}, {eFailedRequest, "500", "500"}}},
        {"an abort replaces a failed request's reason, and a later request does not replace it",
         {{eFailedRequest, "404", "404"},
          {eAbort, "disk full", "disk full"},
          {eFailedRequest, "500", "disk full"},
          {eAbort, "later abort", "disk full"}}},
        {"a reason given otherwise stays",
         {{eOther, "no failures file", "no failures file"},
          {eFailedRequest, "404", "no failures file"},
          {eAbort, "disk full", "no failures file"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szName);
        CSolrTransmitterPrivate state(nullptr, eIDX_Transmitter_Solr);
        for (const Step &step : c.vecSteps) {
            if (step.eSetter == eFailedRequest) {
                state.SetFailedRequestReason(step.szReason);
            } else if (step.eSetter == eAbort) {
                state.SetAbortReason(step.szReason);
            } else {
                state.SetSolrFailureReason(step.szReason);
            }
            EXPECT_EQ(step.szAfter, state.GetSolrFailureReason());
        }
    }
}

TEST(SolrTransmitterPrivateTest, PushFailedFlagAndCallbackAccessors) {
    CSolrTransmitterPrivate state(nullptr, eIDX_Transmitter_Solr);
    state.SetPushDataToSolrFailed(true);
    EXPECT_TRUE(state.IfPushDataToSolrFailed());

    EXPECT_FALSE(state.GetCallback());
    CSolrTransmitterCallbackPtr ptrCallback = boost::make_shared<CSolrTransmitterCallback>();
    state.m_ptrOptions->SetCallback(ptrCallback);
    EXPECT_EQ(ptrCallback, state.GetCallback());
}

TEST(SolrTransmitterPrivateTest, ConcurrentProducersAndConsumersLoseNothing) {
    CSolrTransmitterPrivatePtr ptrState = MakeStartedState(4);
    const int nProducers = 3;
    const int nPerProducer = 200;
    std::atomic<int> nTaken{0};
    std::atomic<bool> bDone{false};

    std::vector<std::thread> vecConsumers;
    for (int c = 0; c < 2; ++c) {
        vecConsumers.emplace_back([&] {
            while (!bDone.load() || ptrState->GetQueueLength() > 0) {
                const std::list<CItemPtr> lstItems = idxtest::TakeQueued(*ptrState, 2);
                nTaken += static_cast<int>(lstItems.size());
                if (lstItems.empty()) {
                    std::this_thread::yield();
                }
            }
        });
    }
    std::vector<std::thread> vecProducers;
    for (int p = 0; p < nProducers; ++p) {
        vecProducers.emplace_back([&] {
            for (int i = 0; i < nPerProducer; ++i) {
                EXPECT_FALSE(ptrState->AddToQueue(MakeTestItem("/p")).IsError());
            }
        });
    }
    for (auto &producer : vecProducers) {
        producer.join();
    }
    bDone = true;
    for (auto &consumer : vecConsumers) {
        consumer.join();
    }
    EXPECT_EQ(nProducers * nPerProducer, nTaken.load());
    EXPECT_EQ(nProducers * nPerProducer, ptrState->GetItemsQueued());
    EXPECT_EQ(4, CountFreeSlots(*ptrState->Queue().GetFreeSlotsForTest()));
}

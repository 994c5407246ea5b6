// The item queue's batches: which appends wake a worker, what a worker may take (a full batch,
// a partial batch once it has lingered or been flushed, never more than its limit), what the
// linger wait tells a worker, and the end-of-job wait's wake-ups. Where a partial batch must be
// seen held back, the linger is made an hour long, so that no assertion depends on how fast the
// machine runs.
#include "transmitter/SolrItemQueue.h"

#include <chrono>
#include <functional>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include "platform/EventThread.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::CountFreeSlots;
using idxtest::MakeTestItem;

namespace {

constexpr uint32_t kHourMs = 3600u * 1000u;

// Waits (for real, polling every millisecond) until the predicate holds; false after 5 s.
template <typename TPredicate> bool WaitUntil(TPredicate predicate) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class SolrItemQueueTest : public ::testing::Test {
protected:
    // A queue of the given capacity whose batches hold nBatch items.
    void Make(int nCapacity, int nBatch, uint32_t nLingerMs = kHourMs) {
        // The transmitter's own queue: items leave it only into a batch, which needs the state.
        m_ptrState = boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
        m_ptrState->m_ptrOptions->SetMaxItemsPerTransaction(nBatch);
        m_ptrQueue = &m_ptrState->Queue();
        ASSERT_FALSE(m_ptrQueue->Create(nCapacity).IsError());
        m_ptrQueue->SetLingerForTest(nLingerMs);
        // This thread has not looked at the event yet; it starts from here.
        m_ptrQueue->GetItemQueuedEvent()->WaitForSet(0);
    }

    void AddItems(int nFirst, int nCount) {
        for (int i = nFirst; i < nFirst + nCount; ++i) {
            ASSERT_FALSE(m_ptrQueue->Add(MakeTestItem("/b/" + std::to_string(i))).IsError());
        }
    }

    // Takes a ready batch as a worker does (or, bReadyOnly false, the oldest items whether
    // ready or not), settles its items as sent and answers their paths.
    std::vector<std::string> TakeBatch(int nMaxItems, bool bReadyOnly = true) {
        CItemBatch batch(*m_ptrState);
        if (bReadyOnly) {
            batch.TakeBatchFromQueue(nMaxItems);
        } else {
            batch.TakeFromQueue(nMaxItems);
        }
        std::vector<std::string> vecPaths;
        for (const CItemPtr &ptrItem : batch.GetItems()) {
            vecPaths.push_back(ptrItem->GetPath());
        }
        batch.SentAll();
        return vecPaths;
    }

    static std::vector<std::string> Paths(int nFirst, int nCount) {
        std::vector<std::string> vecPaths;
        for (int i = nFirst; i < nFirst + nCount; ++i) {
            vecPaths.push_back("/b/" + std::to_string(i));
        }
        return vecPaths;
    }

    // True when the item-queued event was set since this thread last looked.
    bool EventWasSet() { return m_ptrQueue->GetItemQueuedEvent()->WaitForSet(0) == 0; }

    CSolrTransmitterPrivatePtr m_ptrState;
    CSolrItemQueue *m_ptrQueue = nullptr;
};

} // namespace

TEST_F(SolrItemQueueTest, AWorkerIsWokenByTheFirstItemAndByEachFullBatchOnly) {
    Make(100, 5);
    std::vector<bool> vecWoken;
    for (int i = 0; i < 11; ++i) {
        AddItems(i, 1);
        vecWoken.push_back(EventWasSet());
    }
    // Lengths 1, 5 and 10.
    const std::vector<bool> vecExpected = {true,  false, false, false, true, false,
                                           false, false, false, true,  false};
    EXPECT_EQ(vecExpected, vecWoken);
}

TEST_F(SolrItemQueueTest, AnItemStartingAnEmptyQueueWakesNobodyWhileAWorkerWatchesTheLinger) {
    Make(100, 5);
    {
        CSolrItemQueue::CLingerWatch watch(*m_ptrQueue);
        // Nothing queued: nothing to watch.
        EXPECT_EQ(TQ_INFINITE, watch.LeftMs(5));
        EXPECT_FALSE(watch.IsWatching());

        AddItems(0, 2);
        EXPECT_TRUE(EventWasSet());
        EXPECT_GT(watch.LeftMs(5), 0u);
        EXPECT_TRUE(watch.IsWatching());
        EXPECT_EQ(1, m_ptrQueue->GetLingerWatchersForTest());
        // Asking again while the batch is still partial keeps one watch, not two.
        watch.LeftMs(5);
        EXPECT_EQ(1, m_ptrQueue->GetLingerWatchersForTest());

        // Another worker takes the queued items; the next item finds the watcher and wakes
        // nobody, but a full batch still wakes a worker.
        TakeBatch(5, false);
        AddItems(2, 1);
        EXPECT_FALSE(EventWasSet());
        AddItems(3, 4);
        EXPECT_TRUE(EventWasSet());

        // A ready batch ends the watch: the next item to start an empty queue wakes a worker
        // again.
        EXPECT_EQ(0u, watch.LeftMs(5));
        EXPECT_FALSE(watch.IsWatching());
        EXPECT_EQ(0, m_ptrQueue->GetLingerWatchersForTest());
        TakeBatch(5, false);
        AddItems(7, 1);
        EXPECT_TRUE(EventWasSet());

        // Watching again, until the wait ends for another reason (a stop) below.
        EXPECT_GT(watch.LeftMs(5), 0u);
        EXPECT_TRUE(watch.IsWatching());
    }
    // The watch ended with the wait.
    EXPECT_EQ(0, m_ptrQueue->GetLingerWatchersForTest());
    TakeBatch(5, false);
    AddItems(8, 1);
    EXPECT_TRUE(EventWasSet());
}

TEST_F(SolrItemQueueTest, APartialBatchIsHeldBackUntilItFillsAndABatchNeverExceedsTheLimit) {
    Make(100, 5);
    AddItems(0, 3);
    EXPECT_TRUE(TakeBatch(5).empty());
    EXPECT_EQ(3u, m_ptrQueue->GetLength());
    const uint32_t nLeft = m_ptrQueue->GetLingerLeftMs(5);
    EXPECT_GT(nLeft, 0u);
    EXPECT_LE(nLeft, kHourMs);

    AddItems(3, 9);
    EXPECT_EQ(Paths(0, 5), TakeBatch(5));
    EXPECT_EQ(Paths(5, 5), TakeBatch(5));
    // Two items left, younger than the linger.
    EXPECT_TRUE(TakeBatch(5).empty());
    EXPECT_EQ(2u, m_ptrQueue->GetLength());
    // Every slot of a taken item is back; the two queued ones are still taken.
    EXPECT_EQ(98, CountFreeSlots(*m_ptrQueue->GetFreeSlotsForTest()));
    // A caller with a smaller limit finds a full batch of its own.
    EXPECT_EQ(Paths(10, 1), TakeBatch(1));
    EXPECT_TRUE(TakeBatch(0).empty());
    EXPECT_TRUE(TakeBatch(-3).empty());
}

TEST_F(SolrItemQueueTest, AFlushMakesWhatIsQueuedReadyAtOnceButNotWhatComesLater) {
    Make(100, 20);
    AddItems(0, 7);
    EventWasSet();

    m_ptrQueue->Flush();
    EXPECT_TRUE(EventWasSet());
    EXPECT_EQ(0u, m_ptrQueue->GetLingerLeftMs(20));
    AddItems(7, 3);
    // The flushed items go in one batch, which takes the later ones along up to the limit.
    EXPECT_EQ(Paths(0, 5), TakeBatch(5));
    EXPECT_EQ(Paths(5, 5), TakeBatch(5));

    AddItems(10, 2);
    EXPECT_GT(m_ptrQueue->GetLingerLeftMs(5), 0u);
    EXPECT_EQ(0u, m_ptrQueue->GetLingerLeftMs(2));
    EXPECT_TRUE(TakeBatch(5).empty());

    // A flush of an empty queue wakes nobody.
    m_ptrQueue->Flush();
    EXPECT_EQ(Paths(10, 2), TakeBatch(5));
    EventWasSet();
    m_ptrQueue->Flush();
    EXPECT_FALSE(EventWasSet());
    EXPECT_EQ(TQ_INFINITE, m_ptrQueue->GetLingerLeftMs(5));
}

TEST_F(SolrItemQueueTest, APartialBatchIsTakenOnceItHasLingeredWhateverTheVirtualClockDoes) {
    // The linger is measured on the real clock: a virtual clock that nobody advances must not
    // keep the item queued.
    idxtest::VirtualClock clock;
    Make(10, 20, CSolrItemQueue::kLingerMilliseconds);
    AddItems(0, 1);
    ASSERT_TRUE(WaitUntil([&] { return m_ptrQueue->GetLingerLeftMs(20) == 0; }));
    EXPECT_EQ(Paths(0, 1), TakeBatch(20));
    EXPECT_EQ(TQ_INFINITE, m_ptrQueue->GetLingerLeftMs(5));
}

TEST_F(SolrItemQueueTest, TakingOrRemovingItemsWakesTheEndOfJobWaitAndAppendingDoesNot) {
    Make(100, 5);
    CWakeableSleep &sleep = m_ptrQueue->GetActivitySleep();
    struct Case {
        const char *szName;
        std::function<void(CSolrItemQueue &)> fnChange;
        bool bWakes;
    };
    const Case cases[] = {
        {"append", [](CSolrItemQueue &queue) { queue.Add(MakeTestItem("/w")); }, false},
        {"young partial batch held back", [this](CSolrItemQueue &) { TakeBatch(5); }, false},
        {"take", [this](CSolrItemQueue &) { TakeBatch(1, false); }, true},
        {"remove all",
         [this](CSolrItemQueue &queue) {
             queue.Add(MakeTestItem("/r"));
             m_ptrState->ClearQueuedItems("removed by the test");
         },
         true},
        {"a worker goes idle", [](CSolrItemQueue &queue) { queue.NoteWorkerIdle(); }, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        const uint64_t ullMark = sleep.GetMark();
        c.fnChange(*m_ptrQueue);
        EXPECT_EQ(c.bWakes, sleep.GetMark() != ullMark);
    }
}

// Items a worker settled are freed by the appends that come after, one each, oldest first, by the
// appending thread; a stop frees the rest; and beyond the bound the returning thread frees them.
TEST_F(SolrItemQueueTest, SettledItemsAreFreedOneByEachLaterAppendAndTheRestAtTheRelease) {
    Make(100, 5);
    AddItems(0, 3);
    std::list<CItemPtr> lstSettled;
    {
        CItemBatch batch(*m_ptrState, lstSettled);
        batch.TakeFromQueue(3);
        batch.SentAll();
    }
    std::vector<boost::weak_ptr<CItem>> vecWeak(lstSettled.begin(), lstSettled.end());
    m_ptrQueue->ReturnSettled(lstSettled);
    EXPECT_TRUE(lstSettled.empty());
    EXPECT_EQ(3u, m_ptrQueue->GetSettledLengthForTest());
    for (const auto &weakItem : vecWeak) {
        EXPECT_FALSE(weakItem.expired());
    }

    // An append on another thread frees the oldest one, and the new item is queued in its place.
    std::thread appender([&] { AddItems(10, 1); });
    appender.join();
    EXPECT_TRUE(vecWeak[0].expired());
    EXPECT_FALSE(vecWeak[1].expired());
    EXPECT_EQ(2u, m_ptrQueue->GetSettledLengthForTest());
    m_ptrQueue->Flush();
    EXPECT_EQ(Paths(10, 1), TakeBatch(5));

    m_ptrQueue->ReleaseSettled();
    EXPECT_EQ(0u, m_ptrQueue->GetSettledLengthForTest());
    for (const auto &weakItem : vecWeak) {
        EXPECT_TRUE(weakItem.expired());
    }

    // Filled to the bound, the queue takes no more: the returning thread frees them at once.
    std::list<CItemPtr> lstMany;
    for (size_t i = 0; i < CSolrItemQueue::kMaxSettledItems; ++i) {
        lstMany.push_back(MakeTestItem("/s"));
    }
    m_ptrQueue->ReturnSettled(lstMany);
    EXPECT_EQ(CSolrItemQueue::kMaxSettledItems, m_ptrQueue->GetSettledLengthForTest());
    CItemPtr ptrOneMore = MakeTestItem("/over");
    const boost::weak_ptr<CItem> weakOneMore = ptrOneMore;
    std::list<CItemPtr> lstOneMore = {std::move(ptrOneMore)};
    m_ptrQueue->ReturnSettled(lstOneMore);
    EXPECT_TRUE(lstOneMore.empty());
    EXPECT_TRUE(weakOneMore.expired());
    EXPECT_EQ(CSolrItemQueue::kMaxSettledItems, m_ptrQueue->GetSettledLengthForTest());
}

// The batch that owns taken items: whatever leaves a batch unsettled, its items end in the
// failures file and the failed count, and settled items are recorded exactly once.
#include "transmitter/ItemBatch.h"

#include <functional>
#include <stdexcept>
#include <string>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/testing/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::MakeTestItem;

namespace {

class ItemBatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_ptrState = boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
        m_ptrState->m_ptrOptions->SetSubClientDir(m_dir.Path());
        ASSERT_FALSE(m_ptrState->Queue().Create(10).IsError());
        ASSERT_FALSE(m_ptrState->OpenSolrFailuresFile().IsError());
    }

    void Queue(int nItems) {
        for (int i = 0; i < nItems; ++i) {
            ASSERT_FALSE(m_ptrState->AddToQueue(MakeTestItem("/i" + std::to_string(i))).IsError());
        }
    }

    std::string FailuresFile() {
        m_ptrState->CloseSolrFailuresFile();
        return idxtest::ReadWholeFile(m_dir / "SolrScanFailures.tqf");
    }

    idxtest::TempDir m_dir;
    CSolrTransmitterPrivatePtr m_ptrState;
};

} // namespace

TEST_F(ItemBatchTest, WhatLeavesABatchUnsettledIsRecordedOnce) {
    struct Case {
        const char *szName;
        std::function<void(CItemBatch &)> fnWork;
        const char *szFailures;
        int64_t llSent;
    };
    const Case cases[] = {
        {"every item sent", [](CItemBatch &b) { b.SentAll(); }, "", 3},
        {"nothing settled", [](CItemBatch &) {}, "/i0\n/i1\n/i2\n", 0},
        {"first failed, rest sent",
         [](CItemBatch &b) {
             b.FailFront("refused");
             b.SentAll();
         },
         "/i0\n", 2},
        {"first sent, then the sender gave up",
         [](CItemBatch &b) {
             b.SentFront();
             b.FailAll("gave up");
         },
         "/i1\n/i2\n", 1},
        {"failures written early are not written again",
         [](CItemBatch &b) {
             b.FailFront("refused");
             b.RecordFailures();
             b.SentFront();
         },
         "/i0\n/i2\n", 1},
        {"an exception in the middle",
         [](CItemBatch &b) {
             b.SentFront();
             throw std::runtime_error("sender failed");
         },
         "/i1\n/i2\n", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        SetUp();
        Queue(3);
        int64_t llSent = -1;
        try {
            CItemBatch batch(*m_ptrState);
            batch.TakeFromQueue(20);
            ASSERT_EQ(3u, batch.GetSize());
            struct Counts {
                CItemBatch &batch;
                int64_t &llSent;
                ~Counts() { llSent = batch.GetSentCount(); }
            } counts{batch, llSent};
            c.fnWork(batch);
        } catch (const std::runtime_error &) {
        }
        EXPECT_EQ(c.llSent, llSent);
        const std::string strFailures = FailuresFile();
        EXPECT_EQ(c.szFailures, strFailures);
        const int64_t llLines =
            static_cast<int64_t>(std::count(strFailures.begin(), strFailures.end(), '\n'));
        EXPECT_EQ(llLines, m_ptrState->GetFailedItemCount());
        EXPECT_EQ(llLines > 0, m_ptrState->IfPushDataToSolrFailed());
        EXPECT_EQ(llSent + llLines, 3);
    }
}

TEST_F(ItemBatchTest, TakingFreesSlotsAndAnItemHandedOnBelongsToTheOtherBatch) {
    Queue(4);
    idxtest::LogCapture capture(0);
    {
        CItemBatch metadata(*m_ptrState, "metadata request not sent");
        {
            CItemBatch batch(*m_ptrState);
            batch.TakeFromQueue(3);
            EXPECT_EQ(3u, batch.GetSize());
            EXPECT_EQ(1u, m_ptrState->GetQueueLength());
            EXPECT_EQ(9, idxtest::CountFreeSlots(*m_ptrState->Queue().GetFreeSlotsForTest()));
            batch.MoveFrontTo(metadata);
            batch.SentAll();
        }
        // The item handed on is still owned: it is not in the file yet.
        EXPECT_EQ(0, m_ptrState->GetFailedItemCount());
        EXPECT_EQ(1u, metadata.GetSize());
    }
    EXPECT_EQ("/i0\n", FailuresFile());
    EXPECT_EQ(1u,
              capture.CountAtLevel(
                  "1 items not indexed, recorded as failed, reason=[metadata request not sent], "
                  "first item=[/i0]",
                  -1));
}

TEST_F(ItemBatchTest, EachReasonIsLoggedWithItsOwnItems) {
    Queue(3);
    idxtest::LogCapture capture(0);
    {
        CItemBatch batch(*m_ptrState, "left over");
        batch.TakeFromQueue(3);
        batch.FailFront("first reason");
        batch.FailFront("second reason");
    }
    EXPECT_TRUE(capture.Contains("reason=[first reason], first item=[/i0]"));
    EXPECT_TRUE(capture.Contains("reason=[second reason], first item=[/i1]"));
    EXPECT_TRUE(capture.Contains("reason=[left over], first item=[/i2]"));
    EXPECT_EQ("/i0\n/i1\n/i2\n", FailuresFile());
}

TEST_F(ItemBatchTest, AnItemReportedFailedAfterItWasHandedOverIsRecordedWithTheBatch) {
    Queue(3);
    idxtest::LogCapture capture(0);
    {
        CItemBatch batch(*m_ptrState);
        batch.TakeFromQueue(3);
        batch.SentFront();
        batch.SentFront();
        // The receiver refuses the third item and reports the first one failed with it.
        batch.FailFront("refused");
        batch.FailHandedOver("/i0", "refused");
        batch.FailHandedOver("/from-an-earlier-batch", "refused later");
        EXPECT_EQ(3, batch.GetFailedCount());
        EXPECT_EQ(2, batch.GetSentCount());
        EXPECT_TRUE(batch.IsEmpty());
    }
    EXPECT_EQ("/i2\n/i0\n/from-an-earlier-batch\n", FailuresFile());
    EXPECT_EQ(3, m_ptrState->GetFailedItemCount());
    EXPECT_TRUE(capture.Contains("2 items not indexed, recorded as failed, reason=[refused], "
                                 "first item=[/i2]"));
    EXPECT_TRUE(capture.Contains("reason=[refused later], first item=[/from-an-earlier-batch]"));
}

namespace {

// An item whose path cannot be read: the job's item object throws when it is asked for it.
class NamelessItem : public CItem {
public:
    const std::string &GetPath() const override { throw std::runtime_error("path refused"); }
};

} // namespace

TEST_F(ItemBatchTest, AnItemWhosePathCannotBeReadNeverTakesTheOthersWithIt) {
    enum EWay { eFailedBySender, eHeldAtAnException, eLeftInTheQueue };
    const struct {
        const char *szName;
        EWay eWay;
    } cases[] = {{"failed by the sender", eFailedBySender},
                 {"held when an exception ends the batch", eHeldAtAnException},
                 {"still queued when the queue is cleared", eLeftInTheQueue}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szName);
        SetUp();
        idxtest::LogCapture capture(0);
        ASSERT_FALSE(m_ptrState->AddToQueue(MakeTestItem("/i0")).IsError());
        ASSERT_FALSE(m_ptrState->AddToQueue(boost::make_shared<NamelessItem>()).IsError());
        ASSERT_FALSE(m_ptrState->AddToQueue(MakeTestItem("/i2")).IsError());
        if (c.eWay == eLeftInTheQueue) {
            ASSERT_FALSE(m_ptrState->ClearQueuedItems("the queue was cleared").IsError());
            EXPECT_EQ(0u, m_ptrState->GetQueueLength());
        } else {
            bool bSenderThrew = false;
            try {
                CItemBatch batch(*m_ptrState);
                batch.TakeFromQueue(20);
                ASSERT_EQ(3u, batch.GetSize());
                if (c.eWay == eHeldAtAnException) {
                    throw std::runtime_error("sender failed");
                }
                batch.FailAll("refused");
                EXPECT_TRUE(batch.IsEmpty());
                // The nameless item counts among the batch's failures (a sender reports them).
                EXPECT_EQ(3, batch.GetFailedCount());
            } catch (const std::runtime_error &e) {
                bSenderThrew = true;
                EXPECT_EQ(std::string("sender failed"), e.what());
            }
            EXPECT_EQ(c.eWay == eHeldAtAnException, bSenderThrew);
        }
        // Its neighbours are listed and counted; the item itself is named in the log.
        EXPECT_EQ("/i0\n/i2\n", FailuresFile());
        EXPECT_EQ(2, m_ptrState->GetFailedItemCount());
        EXPECT_TRUE(m_ptrState->IfPushDataToSolrFailed());
        EXPECT_EQ(1u, capture.CountAtLevel("An item's path could not be read", -1));
    }
}

// What a batch settles, sent or failed, goes back to the queue when the batch ends, for the
// appends to free; an item handed on belongs to the other batch and goes back with it.
TEST_F(ItemBatchTest, SettledItemsGoBackToTheQueueWhenTheBatchEnds) {
    Queue(4);
    CSolrItemQueue &queue = m_ptrState->Queue();
    {
        CItemBatch other(*m_ptrState);
        {
            CItemBatch batch(*m_ptrState);
            batch.TakeFromQueue(4);
            batch.SentFront();
            batch.FailFront("refused");
            batch.MoveFrontTo(other);
            EXPECT_EQ(0u, queue.GetSettledLengthForTest());
        }
        // The one left held was failed by the batch's end, and settled with the others.
        EXPECT_EQ(3u, queue.GetSettledLengthForTest());
        EXPECT_EQ(1u, other.GetSize());
        other.SentAll();
    }
    EXPECT_EQ(4u, queue.GetSettledLengthForTest());
    EXPECT_EQ("/i1\n/i3\n", FailuresFile());
}

TEST_F(ItemBatchTest, ABatchWithASettledListLeavesItsItemsThereForTheNextTakeToHandBack) {
    // Batches of two from three items: a partial batch that is not ready stays queued, and a
    // take says whether it left the queue empty.
    Queue(3);
    CSolrItemQueue &queue = m_ptrState->Queue();
    std::list<CItemPtr> lstSettled;
    {
        CItemBatch batch(*m_ptrState, lstSettled);
        EXPECT_FALSE(batch.TakeBatchFromQueue(2));
        EXPECT_EQ(2u, batch.GetSize());
        batch.SentFront();
        batch.FailFront("refused");
    }
    // Nothing went to the queue: the two settled items wait in the owner's list.
    EXPECT_EQ(0u, queue.GetSettledLengthForTest());
    EXPECT_EQ(2u, lstSettled.size());
    {
        CItemBatch batch(*m_ptrState, lstSettled);
        // One item is queued, younger than the linger: nothing is taken, but the settled items
        // go back with the take.
        queue.SetLingerForTest(3600u * 1000u);
        EXPECT_FALSE(batch.TakeBatchFromQueue(2));
        EXPECT_TRUE(batch.IsEmpty());
        EXPECT_TRUE(lstSettled.empty());
        EXPECT_EQ(2u, queue.GetSettledLengthForTest());

        m_ptrState->Queue().Flush();
        EXPECT_TRUE(batch.TakeBatchFromQueue(2));
        EXPECT_EQ(1u, batch.GetSize());
        batch.SentAll();
    }
    EXPECT_EQ(1u, lstSettled.size());
    // What a pass leaves in the list goes back when it ends.
    { CSettledItemsReturn settledReturn(queue, lstSettled); }
    EXPECT_TRUE(lstSettled.empty());
    EXPECT_EQ(3u, queue.GetSettledLengthForTest());
    EXPECT_EQ("/i1\n", FailuresFile());
}

TEST_F(ItemBatchTest, ABatchThatCannotRecordItsFailuresSaysHowManyItemsItLost) {
    // Two failed by the sender and one still held: three names the batch's end must record.
    Queue(4);
    idxtest::LogCapture capture(0);
    // The recording fails where it starts, as it would without memory for its log line.
    capture.SetObserver([](const idxtest::CapturedLogLine &line) {
        if (line.strText.find("items not indexed") != std::string::npos) {
            throw std::runtime_error("no memory");
        }
    });
    {
        CItemBatch batch(*m_ptrState);
        batch.TakeFromQueue(4);
        batch.SentFront();
        batch.FailFront("refused");
        batch.FailFront("refused");
    }
    capture.SetObserver(nullptr);
    EXPECT_EQ(1u, capture.CountAtLevel("Failed to record 3 failed items", -1));
    EXPECT_TRUE(m_ptrState->IfPushDataToSolrFailed());
}

// The performance figures of an index-engine worker: nothing before its start made the timers,
// then the timer totals worth a line, the item and packet totals, and the copy the performance
// log thread sums.
#include "engine/SolrTransmitterThread.h"

#include <gtest/gtest.h>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::EngineRoute;
using idxtest::EngineStub;

class SolrTransmitterThreadCountersTest : public ::testing::Test {
protected:
    SolrTransmitterThreadCountersTest() : m_log(7) { g_bEventSent.store(false); }
    ~SolrTransmitterThreadCountersTest() override { g_bEventSent.store(false); }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::VirtualClock m_clock;
    idxtest::LogCapture m_log;
    EngineStub m_stub;
};

TEST_F(SolrTransmitterThreadCountersTest, WorkerThatNeverStartedReportsNothing) {
    {
        idxtest::OneShotRig rig(m_stub);
        ASSERT_FALSE(rig.ptrWorker
                         ->PostItems2(m_stub.UpdateUrl(), "<commit />",
                                      CSolrTransmitterThread::kXmlHeaderLine)
                         .IsError());
        rig.ptrWorker->AddTransmitted(5, 1);

        SolrThreadPerfCounters counters;
        counters.m_dPostRequest = 7;
        counters.m_llTransmittedItems = 7;
        EXPECT_FALSE(rig.ptrWorker->GetPerformanceCounters(counters).IsError());
        EXPECT_FALSE(rig.ptrWorker->LogPerformanceCounters().IsError());

        EXPECT_EQ(counters.m_dPostRequest, 7);
        EXPECT_EQ(counters.m_llTransmittedItems, 7);
        EXPECT_EQ(counters.m_llPackets, 0);
    }
    // Neither the request nor the destructor wrote a counter line.
    EXPECT_EQ(m_log.Count("Total Transmitted"), 0u);
    EXPECT_EQ(m_log.Count("PostRequest:"), 0u);
}

TEST_F(SolrTransmitterThreadCountersTest, StartedWorkerReportsItsTimersAndTotals) {
    {
        idxtest::OneShotRig rig(m_stub);
        rig.MarkItemsQueued(1);
        ASSERT_FALSE(rig.ptrWorker->Start().IsError());
        // One failed attempt and one 10-second wait before the engine answers: all of it is
        // engine time of the worker.
        m_stub.DropNext(EngineRoute::Update, 1);
        ASSERT_FALSE(rig.ptrWorker
                         ->PostItems2(m_stub.UpdateUrl(), "<commit />",
                                      CSolrTransmitterThread::kXmlHeaderLine)
                         .IsError());
        rig.ptrWorker->AddTransmitted(47, 3);

        SolrThreadPerfCounters counters;
        EXPECT_FALSE(rig.ptrWorker->GetPerformanceCounters(counters).IsError());
        EXPECT_GE(counters.m_dPostRequest, 10.0);
        EXPECT_EQ(counters.m_dReadContent, 0);
        EXPECT_EQ(counters.m_llTransmittedItems, 47);
        EXPECT_EQ(counters.m_llPackets, 3);
        EXPECT_EQ(counters.m_llSends, 0);
        EXPECT_EQ(counters.m_llBuilds, 0);

        m_log.Clear();
        EXPECT_FALSE(rig.ptrWorker->LogPerformanceCounters().IsError());
        EXPECT_EQ(m_log.CountAtLevel("PostRequest: ", 4), 1u);
        // Timers at 0 are not worth a line.
        EXPECT_EQ(m_log.Count("ReadContent:"), 0u);
        EXPECT_EQ(m_log.Count("OwnerAndAcl:"), 0u);
        EXPECT_EQ(m_log.CountAtLevel("Total Transmitted 47 items, Total Packets:3", 5), 1u);

        rig.ptrWorker->Stop(true);
        m_log.Clear();
    }
    // The destructor reports once more.
    EXPECT_EQ(m_log.CountAtLevel("Total Transmitted 47 items, Total Packets:3", 5), 1u);
}

} // namespace

// The performance figures of an index-engine worker: nothing before its start made the timers,
// then the timer totals worth a line, the item and packet totals, and the copy the performance
// log thread sums over the index-engine workers of a transmitter.
#include "documents/ItemSenderFactory.h"
#include "engine/SolrTransmitterThread.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"
#include "transmitter/SolrPerformanceLogThread.h"

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
        ASSERT_FALSE(
            rig.ptrWorker->Exchange()
                .PostItems2(m_stub.UpdateUrl(), "<commit />", CEngineExchange::kXmlHeaderLine)
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
        ASSERT_FALSE(
            rig.ptrWorker->Exchange()
                .PostItems2(m_stub.UpdateUrl(), "<commit />", CEngineExchange::kXmlHeaderLine)
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

// The beginnings of a pass's level-0 lines of one worker timer: the sum over the workers and the
// average per worker, each naming what the timer measured; the seconds follow.
struct TimeLines {
    std::string strTotal;
    std::string strAverage;
};
TimeLines LinesOf(const std::string &strTimer, const std::string &strMeasured) {
    const std::string strLabel = strTimer + " (" + strMeasured + "), ";
    return {strLabel + "total of all workers: ", "\t" + strLabel + "average per worker: "};
}
const TimeLines kPostRequest = LinesOf("PostRequest", "posting requests to the index engine");
const TimeLines kSendItems = LinesOf("SendItems", "sending metadata batches, building included");

// The number a captured line at that level gives after the text, or -1 when no line has it.
double NumberAfter(const idxtest::LogCapture &log, const std::string &strText, int nLevel) {
    for (const idxtest::CapturedLogLine &line : log.Lines()) {
        if (line.nLevel == nLevel && line.strText.compare(0, strText.size(), strText) == 0) {
            return std::strtod(line.strText.c_str() + strText.size(), nullptr);
        }
    }
    return -1;
}

// A job whose third worker start is refused: that worker runs without its timers.
class ThirdStartRefused : public idxtest::RecordingCallback {
public:
    CKyError InitializeThread() override {
        RecordingCallback::InitializeThread();
        return InitializeCount() == 3 ? FXErrorUtil::ErrorWin32(FXLOC, 5) : CKyError::Success();
    }
};

// An index-engine transmitter whose factory makes, in turn: an index-engine worker, a worker of
// another kind, and two more index-engine workers; the test reaches them and the performance log
// thread.
class MixedTransmitter : public idxtest::EngineTransmitter {
public:
    IIdxTransmitterThreadPtr GetIdxTransmitterThreadObj() override {
        CSolrTransmitterPrivatePtr ptrState = m_ptrSolrTransmitterPrivate;
        if (++m_nMade == 2) {
            return boost::make_shared<idxtest::TestTransmitterThread>(ptrState,
                                                                      ptrState->m_ptrOptions);
        }
        auto ptrWorker = boost::make_shared<idxtest::InspectableSolrWorker>(
            ptrState, ptrState->m_ptrOptions, &MakeItemSender);
        m_vecEngineWorkers.push_back(ptrWorker);
        return ptrWorker;
    }
    boost::shared_ptr<CSolrPerformanceLogThread> PerformanceLogThread() {
        return boost::dynamic_pointer_cast<CSolrPerformanceLogThread>(m_ptrPerformanceLogThread);
    }

    int m_nMade = 0;
    std::vector<idxtest::InspectableSolrWorkerPtr> m_vecEngineWorkers;
};

TEST_F(SolrTransmitterThreadCountersTest, PassSumsTheIndexEngineWorkersAndAveragesOverTheCount) {
    idxtest::TempDir dir;
    MixedTransmitter transmitter;
    idxtest::PointOptionsAtStub(transmitter.Options(), m_stub);
    transmitter.Options().SetSubClientDir(dir.Path());
    ASSERT_FALSE(transmitter.SetCallback(boost::make_shared<ThirdStartRefused>()).IsError());
    ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(4).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());
    ASSERT_EQ(transmitter.m_vecEngineWorkers.size(), 3u);
    const idxtest::InspectableSolrWorkerPtr ptrFirst = transmitter.m_vecEngineWorkers[0];
    const idxtest::InspectableSolrWorkerPtr ptrSecond = transmitter.m_vecEngineWorkers[1];
    const idxtest::InspectableSolrWorkerPtr ptrCutShort = transmitter.m_vecEngineWorkers[2];
    ASSERT_TRUE(ptrFirst->CountersReady() && ptrSecond->CountersReady());
    ASSERT_FALSE(ptrCutShort->CountersReady());

    *ptrFirst->Timer("PostRequest") += CTimeInterval::FromSeconds(3);
    *ptrSecond->Timer("PostRequest") += CTimeInterval::FromSeconds(1);
    // 0.1 s is not worth a line, one tick more is.
    *ptrFirst->Timer("ChangeTime") += CTimeInterval::FromMilliseconds(100);
    *ptrSecond->Timer("ReadContent") += CTimeInterval(1000001);
    *ptrFirst->Timer("OwnerAndAcl") += CTimeInterval::FromMilliseconds(500);
    *ptrSecond->Timer("OwnerAndAcl") += CTimeInterval::FromMilliseconds(700);
    *ptrFirst->Timer("BuildItems") += CTimeInterval::FromMilliseconds(10);
    *ptrFirst->Timer("BuildItems") += CTimeInterval::FromMilliseconds(10);
    *ptrSecond->Timer("BuildItems") += CTimeInterval::FromMilliseconds(10);
    *ptrSecond->Timer("SendItems") += CTimeInterval::FromSeconds(2);
    ptrFirst->AddTransmitted(40, 2);
    ptrSecond->AddTransmitted(7, 1);
    // Its totals are not ready: they count for nothing.
    ptrCutShort->AddTransmitted(5, 1);

    m_log.Clear();
    transmitter.PerformanceLogThread()->LogStats();

    struct Line {
        std::string strText;
        int nLevel;
    };
    const TimeLines readContent = LinesOf("ReadContent", "reading file content");
    const TimeLines ownerAndAcl = LinesOf("OwnerAndAcl", "adding owner and security fields");
    for (const Line &line :
         {Line{kPostRequest.strTotal + "4.000000 seconds", 0},
          Line{kPostRequest.strAverage + "1.000000 seconds", 0},
          Line{readContent.strTotal + "0.100000 seconds", 0},
          Line{ownerAndAcl.strTotal + "1.200000 seconds", 0},
          Line{ownerAndAcl.strAverage + "0.300000 seconds", 0},
          Line{kSendItems.strTotal + "2.000000 seconds", 0},
          Line{kSendItems.strAverage + "0.500000 seconds", 0},
          Line{"Cumulative stats for threads:4", 1}, Line{"NrOfSends:1, NrOfBuilds:3", 1},
          Line{"Total Transmitted 47 items, Total Packets:3", 1}, Line{"0 items in queue", 1}}) {
        EXPECT_EQ(m_log.CountAtLevel(line.strText, line.nLevel), 1u) << line.strText;
    }
    // At or below 0.1 s: the ChangeTime total, the ReadContent average, the build times.
    for (const std::string &strText :
         {std::string("ChangeTime ("), readContent.strAverage, std::string("BuildItems (")}) {
        EXPECT_EQ(m_log.Count(strText), 0u) << strText;
    }
}

TEST_F(SolrTransmitterThreadCountersTest, StopWritesOnePassWithWhatTheWorkersDid) {
    idxtest::TempDir dir;
    idxtest::EngineTransmitter transmitter;
    idxtest::PointOptionsAtStub(transmitter.Options(), m_stub);
    transmitter.Options().SetSubClientDir(dir.Path());
    transmitter.Options().SetMaxItemsPerTransaction(5);
    ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(2).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());

    // One post is answered only after a failed attempt and a 10-second wait.
    m_stub.DropNext(EngineRoute::Update, 1);
    const int nItems = 23;
    for (int i = 0; i < nItems; ++i) {
        const std::string strPath = dir.WriteFile("tree/f" + std::to_string(i) + ".txt", "x");
        ASSERT_FALSE(transmitter.BuildAndAddToQueue(strPath, 1, i, false, false).IsError());
    }
    ASSERT_FALSE(transmitter.WaitForQueueToEmpty().IsError());
    ASSERT_EQ(m_stub.DocumentCount(), static_cast<size_t>(nItems));
    size_t nPosts = 0;
    for (const idxtest::EngineRequest &request : m_stub.Requests(EngineRoute::Update)) {
        if (request.nStatus == 200 && request.strBody.find("<add>") != std::string::npos) {
            ++nPosts;
        }
    }

    m_log.Clear();
    ASSERT_FALSE(transmitter.Stop().IsError());

    EXPECT_EQ(m_log.CountAtLevel("Cumulative stats for threads:2", 1), 1u);
    const std::string strPosts = std::to_string(nPosts);
    EXPECT_EQ(m_log.CountAtLevel("NrOfSends:" + strPosts + ", NrOfBuilds:23", 1), 1u);
    EXPECT_EQ(m_log.CountAtLevel("Total Transmitted 23 items, Total Packets:" + strPosts, 1), 1u);
    EXPECT_EQ(m_log.CountAtLevel("0 items in queue", 1), 1u);

    // The times: the wait before the retry is engine time of a send, and each average is its
    // total over the two workers.
    const double dPostRequest = NumberAfter(m_log, kPostRequest.strTotal, 0);
    const double dSendItems = NumberAfter(m_log, kSendItems.strTotal, 0);
    EXPECT_GE(dPostRequest, 10.0);
    EXPECT_GE(dSendItems, dPostRequest);
    EXPECT_NEAR(NumberAfter(m_log, kPostRequest.strAverage, 0), dPostRequest / 2, 1e-5);
    EXPECT_NEAR(NumberAfter(m_log, kSendItems.strAverage, 0), dSendItems / 2, 1e-5);
}

TEST_F(SolrTransmitterThreadCountersTest, PassReadsAWorkerInTheMiddleOfItsSend) {
    idxtest::TempDir dir;
    MixedTransmitter transmitter;
    idxtest::PointOptionsAtStub(transmitter.Options(), m_stub);
    transmitter.Options().SetSubClientDir(dir.Path());
    auto ptrCallback = boost::make_shared<idxtest::RecordingCallback>();
    ASSERT_FALSE(transmitter.SetCallback(ptrCallback).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());

    // The worker is held in its send, after the post, while a pass reads it: the pass does not
    // wait for the worker.
    ptrCallback->HoldProgress();
    const std::string strPath = dir.WriteFile("f.txt", "x");
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strPath, 1, 0, false, false).IsError());
    ASSERT_TRUE(ptrCallback->WaitForProgress(1));
    m_log.Clear();
    transmitter.PerformanceLogThread()->LogStats();
    EXPECT_EQ(m_log.CountAtLevel("Total Transmitted 1 items, Total Packets:1", 1), 1u);
    // The send that is still running has not been counted yet; its build has.
    EXPECT_EQ(m_log.CountAtLevel("NrOfSends:0, NrOfBuilds:1", 1), 1u);
    ptrCallback->ReleaseProgress();
    ASSERT_FALSE(transmitter.WaitForQueueToEmpty().IsError());
    EXPECT_EQ(m_stub.DocumentCount(), 1u);
}

} // namespace

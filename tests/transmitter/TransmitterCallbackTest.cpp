// The job callbacks: batched progress, the final flush, pending reasons and the quit flag, as
// the job manager sees them.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <nlohmann/json.hpp>

#include "platform/JobClients.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "transmitter/TransmitterCallback.h"

namespace {

typedef std::vector<std::string> Names;

// A callback over fresh job clients, with a job manager reset for each test.
class TransmitterCallbackTest : public ::testing::Test {
protected:
    CTransmitterCallback &Callback(long long llStep) {
        m_ptrCallback = boost::make_shared<CTransmitterCallback>(
            boost::make_shared<FXAccessToken>("tester"), &m_jobCtrl, &m_bkpJob, llStep);
        return *m_ptrCallback;
    }

    // The reports of one kind, as the JSON the job manager recorded.
    std::vector<nlohmann::json> Events(const std::string &strName) const {
        std::vector<nlohmann::json> vecFound;
        for (const std::string &strEvent : m_jobManager.Snapshot().vecEvents) {
            nlohmann::json event = nlohmann::json::parse(strEvent);
            if (event.value("event", "") == strName) {
                vecFound.push_back(event);
            }
        }
        return vecFound;
    }

    idxtest::JobManager m_jobManager;
    TQJobCtrlClient m_jobCtrl;
    TQBkpJobClient m_bkpJob;
    boost::shared_ptr<CTransmitterCallback> m_ptrCallback;
};

TEST_F(TransmitterCallbackTest, BaseCallbackDoesNothingAndSucceeds) {
    idxtest::LogCapture capture(7);
    CSolrTransmitterCallback callback;
    EXPECT_FALSE(callback.IsAborted());
    EXPECT_FALSE(callback.InitializeThread().IsError());
    EXPECT_FALSE(callback.UpdateProgress(10, 20, 30).IsError());
    EXPECT_FALSE(callback.IsQuitFlagSet());
    EXPECT_FALSE(callback.SetJobPendingReason(1168, "engine down").IsError());
    EXPECT_FALSE(callback.ResetJobPendingReason().IsError());
    EXPECT_FALSE(callback.UpdateAndLogJobStatistics().IsError());
    EXPECT_TRUE(m_jobManager.EventNames().empty());
    EXPECT_TRUE(capture.Lines().empty());
}

TEST_F(TransmitterCallbackTest, ProgressIsReportedOncePerStep) {
    CTransmitterCallback &callback = Callback(1000);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(callback.UpdateProgress(200, 0, 1).IsError());
    }
    EXPECT_TRUE(m_jobManager.EventNames().empty());

    EXPECT_FALSE(callback.UpdateProgress(200, 0, 1).IsError());
    EXPECT_EQ((Names{"addFilesIndexed", "addContentIdxFileFailures", "updateInfo"}),
              m_jobManager.EventNames());
    idxtest::JobManagerSnapshot job = m_jobManager.Snapshot();
    EXPECT_EQ(1000, job.llFilesIndexed);
    EXPECT_EQ(5, job.llContentIdxFailures);
    EXPECT_EQ(0, job.llUnCompBytes);
    EXPECT_EQ(1, job.nUpdateInfoCalls);
    EXPECT_EQ(false, Events("updateInfo").at(0).value("final", true));

    // The next report comes only after another full step.
    EXPECT_FALSE(callback.UpdateProgress(999, 0, 0).IsError());
    EXPECT_EQ(1, m_jobManager.Snapshot().nUpdateInfoCalls);
    EXPECT_FALSE(callback.UpdateProgress(1, 0, 0).IsError());
    EXPECT_EQ(2000, m_jobManager.Snapshot().llFilesIndexed);
}

TEST_F(TransmitterCallbackTest, StepDecidesHowOftenTheJobHearsOfProgress) {
    const struct {
        long long llStep;
        int nCalls;
        int nExpectedUpdates;
    } cases[] = {{0, 5, 5}, {-3, 5, 5}, {1, 5, 5}, {2, 5, 2}, {100, 250, 2}, {1000, 999, 0}};
    for (const auto &c : cases) {
        idxtest::JobManager::Reset();
        CTransmitterCallback &callback = Callback(c.llStep);
        for (int i = 0; i < c.nCalls; ++i) {
            callback.UpdateProgress(1, 10, 0);
        }
        idxtest::JobManagerSnapshot job = m_jobManager.Snapshot();
        EXPECT_EQ(c.nExpectedUpdates, job.nUpdateInfoCalls) << "step " << c.llStep;
        // Everything up to the last report has reached the job, bytes included.
        EXPECT_EQ(job.llFilesIndexed * 10, job.llUnCompBytes) << "step " << c.llStep;
    }
}

TEST_F(TransmitterCallbackTest, WithoutABackupJobClientTheTotalsStillAddUp) {
    CTransmitterCallback defaultConstructed;
    CTransmitterCallback controlOnly(boost::make_shared<FXAccessToken>("tester"), &m_jobCtrl,
                                     nullptr, 1);
    for (CTransmitterCallback *pCallback : {&defaultConstructed, &controlOnly}) {
        idxtest::LogCapture capture(3);
        EXPECT_FALSE(pCallback->UpdateProgress(500, 4096, 1).IsError());
        EXPECT_FALSE(pCallback->UpdateProgress(9521, 0, 2).IsError());
        EXPECT_FALSE(pCallback->IsQuitFlagSet());
        EXPECT_FALSE(pCallback->UpdateAndLogJobStatistics().IsError());
        EXPECT_TRUE(m_jobManager.EventNames().empty());
        EXPECT_EQ(3u, capture.CountAtLevel("Job object is NULL, will not be updating JM stats", 3));
        // There is no job to tell, yet the job's log still gets the truth.
        EXPECT_EQ(1u, capture.CountAtLevel(
                          "TotalItems[10021], SolrFailures[3], TotalUnCompressedSize[4096]", 0));
    }
}

TEST_F(TransmitterCallbackTest, FailuresAloneWaitForTheFinalFlush) {
    CTransmitterCallback &callback = Callback(1000);
    EXPECT_FALSE(callback.UpdateProgress(0, 0, 20).IsError());
    EXPECT_TRUE(m_jobManager.EventNames().empty());

    idxtest::LogCapture capture(0);
    EXPECT_FALSE(callback.UpdateAndLogJobStatistics().IsError());
    EXPECT_EQ((Names{"addContentIdxFileFailures", "updateInfo"}), m_jobManager.EventNames());
    EXPECT_EQ(20, m_jobManager.Snapshot().llContentIdxFailures);
    EXPECT_EQ(1u,
              capture.CountAtLevel("TotalItems[0], SolrFailures[20], TotalUnCompressedSize[0]", 0));
}

TEST_F(TransmitterCallbackTest, SecondFinalFlushDoesNotReportTheSameNumbersAgain) {
    CTransmitterCallback &callback = Callback(1000);
    callback.UpdateProgress(150, 4096, 2);
    EXPECT_FALSE(callback.UpdateAndLogJobStatistics().IsError());
    idxtest::JobManagerSnapshot first = m_jobManager.Snapshot();
    EXPECT_EQ(150, first.llFilesIndexed);
    EXPECT_EQ(2, first.llContentIdxFailures);
    EXPECT_EQ(4096, first.llUnCompBytes);

    EXPECT_FALSE(callback.UpdateAndLogJobStatistics().IsError());
    idxtest::JobManagerSnapshot second = m_jobManager.Snapshot();
    EXPECT_EQ(150, second.llFilesIndexed);
    EXPECT_EQ(2, second.llContentIdxFailures);
    EXPECT_EQ(4096, second.llUnCompBytes);
    EXPECT_EQ(1u, Events("addFilesIndexed").size());
    EXPECT_EQ(1u, Events("addContentIdxFileFailures").size());
    EXPECT_EQ(1u, Events("setUnCompBytesToAdd").size());

    // What comes after a flush is still reported by the next one.
    callback.UpdateProgress(3, 0, 0);
    callback.UpdateAndLogJobStatistics();
    EXPECT_EQ(153, m_jobManager.Snapshot().llFilesIndexed);
}

TEST_F(TransmitterCallbackTest, RefusedBytesAreOfferedAgainWithTheNextReport) {
    CTransmitterCallback &callback = Callback(10);
    m_jobManager.RefuseUnCompBytes(true);
    idxtest::LogCapture capture(1);
    callback.UpdateProgress(10, 100, 0);
    EXPECT_EQ(1u, capture.CountAtLevel("ERROR! cannot set uncompressed bytes with Job Manager", 1));
    idxtest::JobManagerSnapshot job = m_jobManager.Snapshot();
    EXPECT_EQ(1, job.nUpdateInfoCalls);
    EXPECT_EQ(10, job.llFilesIndexed);
    EXPECT_EQ(0, job.llUnCompBytes);

    m_jobManager.RefuseUnCompBytes(false);
    callback.UpdateProgress(10, 50, 0);
    std::vector<nlohmann::json> vecBytes = Events("setUnCompBytesToAdd");
    ASSERT_EQ(2u, vecBytes.size());
    EXPECT_EQ(150, vecBytes[1].value("bytes", 0LL));
    EXPECT_EQ(150, m_jobManager.Snapshot().llUnCompBytes);
}

TEST_F(TransmitterCallbackTest, RefusedJobUpdateIsAnErrorLine) {
    CTransmitterCallback &callback = Callback(1);
    m_jobManager.RefuseUpdateInfo(true);
    idxtest::LogCapture capture(0);
    EXPECT_FALSE(callback.UpdateProgress(1, 0, 0).IsError());
    EXPECT_FALSE(callback.UpdateAndLogJobStatistics().IsError());
    EXPECT_EQ(2u, capture.CountAtLevel("Failed to update job progress", -1));
}

TEST_F(TransmitterCallbackTest, ConcurrentProgressLosesNothing) {
    CTransmitterCallback &callback = Callback(100);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                callback.UpdateProgress(1, 3, i % 2);
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    idxtest::JobManagerSnapshot job = m_jobManager.Snapshot();
    EXPECT_EQ(4000, job.llFilesIndexed); // a whole number of steps
    EXPECT_EQ(40, job.nUpdateInfoCalls);
    idxtest::LogCapture capture(0);
    callback.UpdateAndLogJobStatistics();
    job = m_jobManager.Snapshot();
    EXPECT_EQ(4000, job.llFilesIndexed);
    EXPECT_EQ(2000, job.llContentIdxFailures);
    EXPECT_EQ(12000, job.llUnCompBytes);
    EXPECT_EQ(1u, capture.Count("TotalItems[4000], SolrFailures[2000], "
                                "TotalUnCompressedSize[12000]"));
}

TEST_F(TransmitterCallbackTest, PendingReasonCarriesItsTextAndIsClearedOnce) {
    CTransmitterCallback &callback = Callback(1000);
    const std::string strReason = "Index server unreachable (status 590), 100% of posts failed %s";
    idxtest::LogCapture capture(0);
    EXPECT_FALSE(callback.SetJobPendingReason(590, strReason).IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("Setting JPR and critical event : " + strReason + " ", -1));

    idxtest::JobManagerSnapshot job = m_jobManager.Snapshot();
    EXPECT_TRUE(job.bPendingCause);
    EXPECT_EQ(0x4800006Au, job.nPendingCauseMessageId);
    EXPECT_EQ(Names{strReason}, job.vecPendingCauseArguments);
    EXPECT_EQ(1, job.nPendingCausesSet);
    nlohmann::json set = Events("setPendingCauseAndCriticalEvent").at(0);
    EXPECT_EQ(300, set.value("messageType", 0));
    EXPECT_FALSE(set.value("failJob", true));
    EXPECT_EQ(11, set["arguments"].at(0).value("type", 0));

    EXPECT_FALSE(callback.ResetJobPendingReason().IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("Clearing out JPR as job resumed", 0));
    job = m_jobManager.Snapshot();
    EXPECT_FALSE(job.bPendingCause);
    EXPECT_EQ(1, job.nPendingCausesReset);

    // A second episode carries only its own text.
    callback.SetJobPendingReason(597, "second episode");
    EXPECT_EQ(Names{"second episode"}, m_jobManager.Snapshot().vecPendingCauseArguments);
    EXPECT_EQ(2, m_jobManager.Snapshot().nPendingCausesSet);
}

TEST_F(TransmitterCallbackTest, PendingReasonWithoutAJobIsAnErrorLine) {
    CTransmitterCallback callback;
    idxtest::LogCapture capture(0);
    EXPECT_FALSE(callback.SetJobPendingReason(590, "engine down").IsError());
    EXPECT_FALSE(callback.ResetJobPendingReason().IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("Job object is not initialized.", -1));
    EXPECT_EQ(1u, capture.CountAtLevel("Clearing out JPR as job resumed", 0));
    EXPECT_FALSE(capture.Contains("Setting JPR"));
    EXPECT_TRUE(m_jobManager.EventNames().empty());
}

TEST_F(TransmitterCallbackTest, QuitFlagIsAskedOnEveryCall) {
    CTransmitterCallback &callback = Callback(1000);
    EXPECT_FALSE(callback.IsQuitFlagSet());
    m_jobManager.SetQuitFlag(true);
    EXPECT_TRUE(callback.IsQuitFlagSet());
    m_jobManager.SetQuitFlag(false);
    EXPECT_FALSE(callback.IsQuitFlagSet());
    // The callback itself is never the abort test.
    m_jobManager.SetQuitFlag(true);
    EXPECT_FALSE(callback.IsAborted());

    CTransmitterCallback withoutControl(nullptr, nullptr, &m_bkpJob, 10);
    EXPECT_FALSE(withoutControl.IsQuitFlagSet());
}

TEST_F(TransmitterCallbackTest, InitializeThreadTracesAtLevelOne) {
    CTransmitterCallback &callback = Callback(1000);
    {
        idxtest::LogCapture capture(1);
        EXPECT_FALSE(callback.InitializeThread().IsError());
        EXPECT_EQ(1u, capture.CountAtLevel("Entering", 1));
        EXPECT_EQ(1u, capture.CountAtLevel("Leaving", 1));
    }
    idxtest::LogCapture quiet(0);
    EXPECT_FALSE(callback.InitializeThread().IsError());
    EXPECT_TRUE(quiet.Lines().empty());
}

TEST_F(TransmitterCallbackTest, AuditCallbackIsKeptForTheJob) {
    auto ptrAck = boost::make_shared<CFSSolrAckCallbackInterface>();
    {
        CTransmitterCallback &callback = Callback(1000);
        callback.SetAuditCallback(ptrAck);
        EXPECT_EQ(2, ptrAck.use_count());
        callback.SetAuditCallback(boost::shared_ptr<CFSSolrAckCallbackInterface>());
        EXPECT_EQ(1, ptrAck.use_count());
        callback.SetAuditCallback(ptrAck);
    }
    m_ptrCallback.reset();
    EXPECT_EQ(1, ptrAck.use_count());
}

} // namespace

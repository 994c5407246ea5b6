#include "platform/JobClients.h"

#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

// Points IDX_JOB_EVENTS at a file for the life of the fixture and restores what was there.
class ScopedEventsFile {
public:
    explicit ScopedEventsFile(const std::string &strPath) {
        const char *szOld = getenv("IDX_JOB_EVENTS");
        m_bHadOld = szOld != nullptr;
        m_strOld = szOld ? szOld : "";
        setenv("IDX_JOB_EVENTS", strPath.c_str(), 1);
    }
    ~ScopedEventsFile() {
        if (m_bHadOld) {
            setenv("IDX_JOB_EVENTS", m_strOld.c_str(), 1);
        } else {
            unsetenv("IDX_JOB_EVENTS");
        }
    }

private:
    bool m_bHadOld;
    std::string m_strOld;
};

std::vector<nlohmann::json> ParseLines(const std::string &strText) {
    std::vector<nlohmann::json> vecObjects;
    std::istringstream stream(strText);
    std::string strLine;
    while (std::getline(stream, strLine)) {
        vecObjects.push_back(nlohmann::json::parse(strLine));
    }
    return vecObjects;
}

class JobClientsTest : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("IDX_JOB_EVENTS"); }

    idxtest::JobManager m_jobManager;
    TQBkpJobClient m_bkpClient;
    TQJobCtrlClient m_ctrlClient;
};

TEST_F(JobClientsTest, CountsAreOfferedAndShownOnlyAfterUpdateInfo) {
    m_bkpClient.addFilesIndexed(1000);
    m_bkpClient.addContentIdxFileFailures(5);
    EXPECT_TRUE(m_bkpClient.setUnCompBytesToAdd(4096));

    idxtest::JobManagerSnapshot before = m_jobManager.Snapshot();
    EXPECT_EQ(before.llOfferedFilesIndexed, 1000);
    EXPECT_EQ(before.llOfferedContentIdxFailures, 5);
    EXPECT_EQ(before.llOfferedUnCompBytes, 4096);
    EXPECT_EQ(before.llFilesIndexed, 0);

    EXPECT_TRUE(m_bkpClient.updateInfo(false, nullptr));
    m_bkpClient.addFilesIndexed(7);
    EXPECT_TRUE(m_bkpClient.updateInfo(false, nullptr));

    idxtest::JobManagerSnapshot after = m_jobManager.Snapshot();
    EXPECT_EQ(after.llFilesIndexed, 1007);
    EXPECT_EQ(after.llContentIdxFailures, 5);
    EXPECT_EQ(after.llUnCompBytes, 4096);
    EXPECT_EQ(after.llOfferedFilesIndexed, 0);
    EXPECT_EQ(after.nUpdateInfoCalls, 2);
    EXPECT_EQ(m_jobManager.EventNames(),
              (std::vector<std::string>{"addFilesIndexed", "addContentIdxFileFailures",
                                        "setUnCompBytesToAdd", "updateInfo", "addFilesIndexed",
                                        "updateInfo"}));

    nlohmann::json update = nlohmann::json::parse(after.vecEvents[3]);
    EXPECT_EQ(update["filesIndexed"], 1000);
    EXPECT_EQ(update["contentIdxFailures"], 5);
    EXPECT_EQ(update["unCompBytes"], 4096);
    EXPECT_EQ(update["accepted"], true);
    EXPECT_EQ(update["seq"], 4);
    EXPECT_EQ(update["jobId"], 1);
}

TEST_F(JobClientsTest, RefusalsKeepWhatWasOffered) {
    m_jobManager.RefuseUnCompBytes(true);
    EXPECT_FALSE(m_bkpClient.setUnCompBytesToAdd(100));
    EXPECT_EQ(m_jobManager.Snapshot().llOfferedUnCompBytes, 0);
    m_jobManager.RefuseUnCompBytes(false);
    EXPECT_TRUE(m_bkpClient.setUnCompBytesToAdd(300));

    m_bkpClient.addFilesIndexed(10);
    m_jobManager.RefuseUpdateInfo(true);
    EXPECT_FALSE(m_bkpClient.updateInfo(false, nullptr));
    idxtest::JobManagerSnapshot refused = m_jobManager.Snapshot();
    EXPECT_EQ(refused.llFilesIndexed, 0);
    EXPECT_EQ(refused.llOfferedFilesIndexed, 10);

    m_jobManager.RefuseUpdateInfo(false);
    EXPECT_TRUE(m_bkpClient.updateInfo(true, nullptr));
    idxtest::JobManagerSnapshot accepted = m_jobManager.Snapshot();
    EXPECT_EQ(accepted.llFilesIndexed, 10);
    EXPECT_EQ(accepted.llUnCompBytes, 300);
    EXPECT_EQ(accepted.nUpdateInfoCalls, 2);
}

TEST_F(JobClientsTest, PendingCauseCarriesTheEventTextUntilReset) {
    m_bkpClient << "Failed to push data to Index Engine. Error Code[ 590 ]";
    EXPECT_EQ(
        m_bkpClient.setPendingCauseAndCriticalEvent(0x4800006A, 0, false, 300, false, 0, 0, 0, 0),
        0);
    idxtest::JobManagerSnapshot set = m_jobManager.Snapshot();
    EXPECT_TRUE(set.bPendingCause);
    EXPECT_EQ(set.nPendingCauseMessageId, 0x4800006Au);
    EXPECT_EQ(set.vecPendingCauseArguments,
              (std::vector<std::string>{"Failed to push data to Index Engine. Error Code[ 590 ]"}));
    nlohmann::json event = nlohmann::json::parse(set.vecEvents.back());
    EXPECT_EQ(event["event"], "setPendingCauseAndCriticalEvent");
    EXPECT_EQ(event["messageId"], 1207959658u);
    EXPECT_EQ(event["messageType"], 300);
    ASSERT_EQ(event["arguments"].size(), 1u);
    EXPECT_EQ(event["arguments"][0]["type"], 11);

    EXPECT_EQ(m_bkpClient.resetPendingCause(nullptr, 0, 0), 0);
    idxtest::JobManagerSnapshot reset = m_jobManager.Snapshot();
    EXPECT_FALSE(reset.bPendingCause);
    EXPECT_TRUE(reset.vecPendingCauseArguments.empty());
    EXPECT_EQ(reset.nPendingCausesSet, 1);
    EXPECT_EQ(reset.nPendingCausesReset, 1);
    EXPECT_EQ(nlohmann::json::parse(reset.vecEvents.back())["wasPending"], true);

    // The arguments were used up by the first event.
    m_bkpClient.setPendingCauseAndCriticalEvent(0x4800006A, 0, false, 300, false, 0, 0, 0, 0);
    EXPECT_TRUE(m_jobManager.Snapshot().vecPendingCauseArguments.empty());
}

TEST_F(JobClientsTest, RestartStringReachesTheJobWithUpdateInfo) {
    std::string strRestart = "stale";
    m_bkpClient.getRestartString(strRestart, JM_RESTART_LOOKUP_JOB);
    EXPECT_EQ(strRestart, "");

    EXPECT_TRUE(m_bkpClient.setRestartString("-o 1|4096@2|0@3|1200"));
    m_bkpClient.getRestartString(strRestart, JM_RESTART_LOOKUP_JOB);
    EXPECT_EQ(strRestart, "");
    EXPECT_TRUE(m_bkpClient.updateInfo(false, nullptr));
    m_bkpClient.getRestartString(strRestart, JM_RESTART_LOOKUP_JOB);
    EXPECT_EQ(strRestart, "-o 1|4096@2|0@3|1200");

    m_jobManager.RefuseRestartString(true);
    EXPECT_FALSE(m_bkpClient.setRestartString("-o 1|1"));
    EXPECT_TRUE(m_bkpClient.updateInfo(false, nullptr));
    EXPECT_EQ(m_jobManager.Snapshot().strRestartString, "-o 1|4096@2|0@3|1200");

    // What a restarted job finds.
    m_jobManager.SetRestartString("-o 2|77");
    m_bkpClient.getRestartString(strRestart, JM_RESTART_LOOKUP_JOB);
    EXPECT_EQ(strRestart, "-o 2|77");
}

TEST_F(JobClientsTest, QuitFlagJobIdentityAndTaskOptionsAreScripted) {
    EXPECT_EQ(m_ctrlClient.checkQuitFlag(), 0);
    m_jobManager.SetQuitFlag(true);
    EXPECT_NE(m_ctrlClient.checkQuitFlag(), 0);
    m_jobManager.SetQuitFlag(false);
    EXPECT_EQ(m_ctrlClient.checkQuitFlag(), 0);

    EXPECT_EQ(m_ctrlClient.GetJobID(), 1);
    EXPECT_STREQ(m_bkpClient.GetJobToken(), "1");
    m_jobManager.SetJobId(4242);
    m_jobManager.SetJobToken("4242:7:1");
    EXPECT_EQ(m_ctrlClient.GetJobID(), 4242);
    EXPECT_EQ(EvEvent::getJobId(), 4242);
    EXPECT_STREQ(m_bkpClient.GetJobToken(), "4242:7:1");

    std::string strUser = "untouched";
    EXPECT_NE(EvTask(4242, 0, nullptr, false)
                  .getOptionString(EvTask::kOptionStartedByUser, strUser, nullptr),
              0);
    EXPECT_EQ(strUser, "untouched");
    m_jobManager.SetTaskOption(EvTask::kOptionStartedByUser, "alice");
    EXPECT_EQ(EvTask(4242, 0, nullptr, false)
                  .getOptionString(EvTask::kOptionStartedByUser, strUser, nullptr),
              0);
    EXPECT_EQ(strUser, "alice");
    // A task of another job knows nothing of this job's options.
    std::string strOther;
    EXPECT_NE(EvTask(7, 0, nullptr, false)
                  .getOptionString(EvTask::kOptionStartedByUser, strOther, nullptr),
              0);
}

TEST_F(JobClientsTest, AnOperatorNamesTheStartingUserWhenTheJobManagerHasNone) {
    struct Case {
        const char *szEnvironment;
        const char *szOnRecord;
        int nResult;
        const char *szUser;
    };
    const Case cases[] = {
        {"bob", nullptr, 0, "bob"},
        {"", nullptr, 2, "untouched"},
        {nullptr, nullptr, 2, "untouched"},
        {"bob", "alice", 0, "alice"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szEnvironment ? c.szEnvironment : "(unset)");
        if (c.szEnvironment) {
            setenv("IDX_JOB_STARTED_BY", c.szEnvironment, 1);
        } else {
            unsetenv("IDX_JOB_STARTED_BY");
        }
        if (c.szOnRecord) {
            m_jobManager.SetTaskOption(EvTask::kOptionStartedByUser, c.szOnRecord);
        } else {
            m_jobManager.RemoveTaskOption(EvTask::kOptionStartedByUser);
        }
        std::string strUser = "untouched";
        EXPECT_EQ(c.nResult, EvTask(m_ctrlClient.GetJobID(), 0, nullptr, false)
                                 .getOptionString(EvTask::kOptionStartedByUser, strUser, nullptr));
        EXPECT_EQ(c.szUser, strUser);
        // Only the starting user comes from the environment.
        std::string strOther = "untouched";
        EvTask(m_ctrlClient.GetJobID(), 0, nullptr, false).getOptionString(1, strOther, nullptr);
        EXPECT_EQ("untouched", strOther);
    }
    unsetenv("IDX_JOB_STARTED_BY");
}

TEST_F(JobClientsTest, EveryReportIsAppendedToTheEventsFileAsOneJsonLine) {
    idxtest::TempDir dir;
    std::string strFile = dir.WriteFile("job-events.jsonl", "{\"event\":\"earlier\"}\n");
    ScopedEventsFile events(strFile);

    m_bkpClient.addFilesIndexed(3);
    // Bytes from outside need not be UTF-8; the line must stay valid JSON all the same.
    m_bkpClient << "reason with \"quotes\", a\nnewline and \xff\xfe bytes";
    m_bkpClient.setPendingCauseAndCriticalEvent(0x4800006A, 0, false, 300, false, 0, 0, 0, 0);
    m_bkpClient.resetPendingCause(nullptr, 0, 0);
    m_bkpClient.setRestartString("-o 1|10");
    m_bkpClient.updateInfo(false, nullptr);

    std::vector<nlohmann::json> vecLines = ParseLines(idxtest::ReadWholeFile(strFile));
    ASSERT_EQ(vecLines.size(), 6u);
    EXPECT_EQ(vecLines[0]["event"], "earlier");
    for (size_t i = 1; i < vecLines.size(); ++i) {
        EXPECT_EQ(vecLines[i]["seq"], static_cast<int>(i));
        EXPECT_EQ(vecLines[i]["jobId"], 1);
        EXPECT_TRUE(vecLines[i].contains("timeMs"));
    }
    EXPECT_EQ(vecLines[1]["event"], "addFilesIndexed");
    EXPECT_EQ(vecLines[1]["count"], 3);
    std::string strArgument = vecLines[2]["arguments"][0]["text"];
    EXPECT_EQ(strArgument.rfind("reason with \"quotes\", a\nnewline and ", 0), 0u);
    EXPECT_EQ(vecLines[3]["event"], "resetPendingCause");
    EXPECT_EQ(vecLines[4]["restartString"], "-o 1|10");
    EXPECT_EQ(vecLines[5]["restartString"], "-o 1|10");
}

TEST_F(JobClientsTest, AnEventsFileThatCannotBeWrittenIsLoggedOnceAndReportsStillCount) {
    idxtest::TempDir dir;
    ScopedEventsFile events(dir / "no-such-folder/events.jsonl");
    idxtest::LogCapture log;

    m_bkpClient.addFilesIndexed(1);
    m_bkpClient.addFilesIndexed(2);
    EXPECT_TRUE(m_bkpClient.updateInfo(false, nullptr));

    EXPECT_EQ(log.Count("Failed to append job events to ["), 1u);
    EXPECT_EQ(m_jobManager.Snapshot().llFilesIndexed, 3);
}

TEST_F(JobClientsTest, ReportsFromManyThreadsAllCount) {
    const int kThreads = 8;
    const int kCallsPerThread = 250;
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < kThreads; ++t) {
        vecThreads.emplace_back([this] {
            for (int i = 0; i < kCallsPerThread; ++i) {
                m_bkpClient.addFilesIndexed(2);
                m_bkpClient.addContentIdxFileFailures(1);
            }
        });
    }
    for (std::thread &thread : vecThreads) {
        thread.join();
    }
    m_bkpClient.updateInfo(false, nullptr);
    idxtest::JobManagerSnapshot snapshot = m_jobManager.Snapshot();
    EXPECT_EQ(snapshot.llFilesIndexed, 2LL * kThreads * kCallsPerThread);
    EXPECT_EQ(snapshot.llContentIdxFailures, 1LL * kThreads * kCallsPerThread);
    EXPECT_EQ(snapshot.vecEvents.size(), 2u * kThreads * kCallsPerThread + 1);
    EXPECT_EQ(nlohmann::json::parse(snapshot.vecEvents.back())["seq"],
              2 * kThreads * kCallsPerThread + 1);
}

// A job of millions of items reports without end: what is kept in memory for tests stays within
// a fixed number of the latest reports, and says how many older ones it let go.
TEST_F(JobClientsTest, KeptReportsAreBoundedToTheLatest) {
    const size_t nKept = idxtest::JobManager::MaxEventsKept();
    ASSERT_GT(nKept, 0u);
    const size_t nExtra = 5;
    for (size_t i = 0; i < nKept + nExtra; ++i) {
        m_bkpClient.addFilesIndexed(1);
    }
    idxtest::JobManagerSnapshot snapshot = m_jobManager.Snapshot();
    ASSERT_EQ(snapshot.vecEvents.size(), nKept);
    EXPECT_EQ(snapshot.llDroppedEvents, static_cast<long long>(nExtra));
    EXPECT_EQ(nlohmann::json::parse(snapshot.vecEvents.front())["seq"], nExtra + 1);
    EXPECT_EQ(nlohmann::json::parse(snapshot.vecEvents.back())["seq"], nKept + nExtra);
    // The counts themselves lose nothing.
    EXPECT_EQ(snapshot.llOfferedFilesIndexed, static_cast<long long>(nKept + nExtra));
}

// With an events file the file is the record: nothing piles up in memory.
TEST_F(JobClientsTest, ReportsGoOnlyToTheEventsFileWhenOneIsNamed) {
    idxtest::TempDir dir;
    std::string strFile = dir / "job-events.jsonl";
    ScopedEventsFile events(strFile);

    const int kReports = 50;
    for (int i = 0; i < kReports; ++i) {
        m_bkpClient.addFilesIndexed(1);
    }
    EXPECT_TRUE(m_bkpClient.updateInfo(false, nullptr));

    idxtest::JobManagerSnapshot snapshot = m_jobManager.Snapshot();
    EXPECT_TRUE(snapshot.vecEvents.empty());
    EXPECT_EQ(snapshot.llDroppedEvents, 0);
    EXPECT_EQ(snapshot.llFilesIndexed, kReports);
    std::vector<nlohmann::json> vecLines = ParseLines(idxtest::ReadWholeFile(strFile));
    ASSERT_EQ(vecLines.size(), static_cast<size_t>(kReports) + 1);
    EXPECT_EQ(vecLines.back()["event"], "updateInfo");
    EXPECT_EQ(vecLines.back()["seq"], kReports + 1);
}

TEST(JobManagerTest, ResetsOnConstructionAndDestruction) {
    TQBkpJobClient client;
    {
        idxtest::JobManager jobManager;
        jobManager.SetQuitFlag(true);
        jobManager.SetJobId(9);
        client.addFilesIndexed(5);
        client.updateInfo(false, nullptr);
    }
    idxtest::JobManager fresh;
    idxtest::JobManagerSnapshot snapshot = fresh.Snapshot();
    EXPECT_FALSE(snapshot.bQuitFlag);
    EXPECT_EQ(snapshot.llJobId, 1);
    EXPECT_EQ(snapshot.llFilesIndexed, 0);
    EXPECT_TRUE(snapshot.vecEvents.empty());
}

} // namespace

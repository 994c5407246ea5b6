// The live-crawl worker against the stand-in index server: the index command of each item, the
// offsets per collect file, its answers to the periodic commit, what happens to an item the
// index server or the agent's handler refuses or that throws while it is sent, and a worker whose
// start-up failed.
#include "logwriter/IdxLogWriterLiveCrawlThread.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/JobClients.h"
#include "platform/ObjectGuid.h"
#include "platform/testing/IndexServer.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/logwriter/LogWriterTestSupport.h"
#include "transmitter/SolrPeriodicCommitThread.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::IndexServerCall;
using idxtest::LiveCrawlItemSpec;
using idxtest::LogWriterTransmitter;
using idxtest::WaitUntil;

namespace {

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

class IdxLogWriterLiveCrawlThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The periodic thread never runs a cycle of its own unless a test lets its interval pass:
        // the tests run cycles themselves.
        idxtest::SetPlatformSetting("FileSystemAgent", "nSolrCommitIntervalMS", "4294967295");
    }

    std::unique_ptr<LogWriterTransmitter> MakeTransmitter(int nWorkers,
                                                          uint32_t nMaxCollectFileId = 3) {
        auto ptrTransmitter = std::make_unique<LogWriterTransmitter>(eIDX_Transmitter_LiveCrawl);
        CTransmitterOptions &options = ptrTransmitter->Options();
        options.SetSubClientDir(m_dir.Path());
        options.SetFleetId(2);
        options.SetApplicationNumber(7);
        options.SetAppType(33);
        options.SetBackupType(1);
        options.SetJobToken("job-token");
        options.SetIndexingServerMangledName("idx-mangled");
        options.SetIndexingServerClientName("idx-client");
        options.SetIndexingConnectionFlags(0x100);
        options.SetMaxCollectFileID(nMaxCollectFileId);
        ptrTransmitter->SetBackupJobClient(&m_client);
        EXPECT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(nWorkers).IsError());
        EXPECT_FALSE(ptrTransmitter->SetCallback(m_ptrCallback).IsError());
        return ptrTransmitter;
    }

    // Queues the items and waits until the index server has seen nCommands commands.
    void QueueAndWait(LogWriterTransmitter &transmitter, const std::vector<CItemPtr> &vecItems,
                      size_t nCommands) {
        for (const CItemPtr &ptrItem : vecItems) {
            ASSERT_FALSE(transmitter.AddToQueue(ptrItem).IsError());
        }
        ASSERT_TRUE(WaitUntil([&] {
            return m_server.CallsNamed("sendFileInfoV2").size() >= nCommands &&
                   transmitter.State().GetQueueLength() == 0;
        }));
    }

    // One commit cycle, run by the transmitter's own periodic commit object.
    static CKyError Cycle(LogWriterTransmitter &transmitter) {
        return transmitter.State()
            .RunState()
            .m_ptrPeriodicCommitThread->CommitItemsAndUpdateRestartSttring();
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::TempDir m_dir;
    idxtest::IndexServer m_server;
    idxtest::JobManager m_job;
    idxtest::VirtualClock m_clock;
    TQBkpJobClient m_client;
    boost::shared_ptr<idxtest::JobProgressCallback> m_ptrCallback =
        boost::make_shared<idxtest::JobProgressCallback>();
};

} // namespace

TEST_F(IdxLogWriterLiveCrawlThreadTest, EachItemBecomesOneIndexCommand) {
    auto ptrTransmitter = MakeTransmitter(1);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    // The live-crawl worker does not tell the job it started.
    EXPECT_EQ(0, m_ptrCallback->InitializeThreadCalls());
    QueueAndWait(
        *ptrTransmitter,
        {idxtest::MakeLiveCrawlItem({"/lc/f.txt", 1, 10, false, false, 42, 1700000123, 1700000456}),
         idxtest::MakeLiveCrawlItem({"/lc/dir", 1, 20, false, true}),
         idxtest::MakeLiveCrawlItem({"/lc/gone.txt", 2, 30, true})},
        3);
    ASSERT_FALSE(Cycle(*ptrTransmitter).IsError());
    ptrTransmitter->Stop();

    EXPECT_EQ((std::vector<std::string>{"initialize", "sendFileInfoV2", "sendFileInfoV2",
                                        "sendFileInfoV2", "updateRestartInfo", "backupDone"}),
              m_server.CallNames(1));
    const std::vector<IndexServerCall> vecCalls = m_server.Calls(1);
    EXPECT_EQ((std::vector<uint64_t>{2, 7, 33, 1, 0x100}), vecCalls[0].vecNumbers);
    EXPECT_EQ(0u, vecCalls[4].vecNumbers[0]);
    EXPECT_EQ(1u, vecCalls[5].vecNumbers[0]);

    struct Expected {
        const char *szName;
        int64_t llOperation;
        int64_t llModified;
        int64_t llSize;
        bool bFolder;
    };
    const Expected expected[] = {{"/lc/f.txt", 0, 1700000123, 42, false},
                                 {"/lc/dir", 0, 0, 0, true},
                                 {"/lc/gone.txt", 2, 0, 0, false}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(expected[i].szName);
        const IndexServerCall &call = vecCalls[1 + i];
        ASSERT_TRUE(call.ptrRecord && call.ptrDbInfo);
        const CNMessageBase &command = *call.ptrRecord;
        EXPECT_EQ(48, command.GetFamily());
        EXPECT_EQ(216, command.GetType());
        EXPECT_EQ(expected[i].llOperation, command.getint64(1));
        const CNMessageBase *pItemRecord = command.getObject(2, 2);
        ASSERT_NE(nullptr, pItemRecord);
        const CNMessageBase *pFile = pItemRecord->getObject(1, 1);
        const CNMessageBase *pMetadata = pItemRecord->getObject(3, 3);
        ASSERT_TRUE(pFile && pMetadata);
        EXPECT_EQ(expected[i].szName, pFile->getstring(12, 12));
        std::string strObjectGuid;
        GetObjectGuid(expected[i].szName, false, '/', strObjectGuid);
        EXPECT_EQ(strObjectGuid, pFile->getstring(16, 28));
        EXPECT_EQ(strObjectGuid, pFile->getstring(14, 20));
        EXPECT_FALSE(pFile->getstring(17, 32).empty());
        EXPECT_EQ(expected[i].llModified, pFile->getint64(6));
        EXPECT_EQ(expected[i].llSize, pFile->getint64(1));
        EXPECT_EQ(expected[i].bFolder, pFile->isSet(9));
        // The agent's handler put the cloud record into the item metadata.
        const CNMessageBase *pCloud = pMetadata->getObject(69, 69);
        ASSERT_NE(nullptr, pCloud);
        EXPECT_EQ(std::string("cloud:") + expected[i].szName, pCloud->getstring(1, 1));
        // The database information goes empty.
        EXPECT_FALSE(call.ptrDbInfo->isSet(1));
        EXPECT_EQ(0, call.ptrDbInfo->GetType());
    }
    EXPECT_EQ(3, m_ptrCallback->Totals().llItems);
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, ACycleMergesTheWorkersOffsetsIntoTheRestartString) {
    auto ptrTransmitter = MakeTransmitter(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    // Collect file 2 is never touched; ids 0 and 4 lie outside the table and store nothing.
    QueueAndWait(*ptrTransmitter,
                 {idxtest::MakeLiveCrawlItem({"/lc/a", 1, 4096}),
                  idxtest::MakeLiveCrawlItem({"/lc/b", 3, 1200}),
                  idxtest::MakeLiveCrawlItem({"/lc/c", 0, 9999}),
                  idxtest::MakeLiveCrawlItem({"/lc/d", 4, 8888})},
                 4);

    ASSERT_FALSE(Cycle(*ptrTransmitter).IsError());
    EXPECT_EQ("-o 1|4096@2|0@3|1200", m_job.Snapshot().strRestartString);
    std::string strRestart;
    EXPECT_FALSE(ptrTransmitter->GetRestartString(3, strRestart).IsError());
    EXPECT_EQ("-o 1|4096@2|0@3|1200", strRestart);
    EXPECT_EQ(2u, m_server.CallsNamed("updateRestartInfo").size());
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, AWorkerKeepsTheOffsetOfTheLastItemItSentEvenWhenSmaller) {
    auto ptrTransmitter = MakeTransmitter(1);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    QueueAndWait(*ptrTransmitter,
                 {idxtest::MakeLiveCrawlItem({"/lc/a", 1, 500}),
                  idxtest::MakeLiveCrawlItem({"/lc/b", 1, 300})},
                 2);
    ASSERT_FALSE(Cycle(*ptrTransmitter).IsError());
    EXPECT_EQ("-o 1|300@2|0@3|0", m_job.Snapshot().strRestartString);
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, EveryWorkerCommitsOncePerCycleIdleOnesIncluded) {
    auto ptrTransmitter = MakeTransmitter(3);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    for (size_t nCycle = 1; nCycle <= 3; ++nCycle) {
        SCOPED_TRACE(nCycle);
        ASSERT_FALSE(Cycle(*ptrTransmitter).IsError());
        for (int nConnection = 1; nConnection <= 3; ++nConnection) {
            size_t nCommits = 0;
            for (const std::string &strName : m_server.CallNames(nConnection)) {
                nCommits += strName == "updateRestartInfo";
            }
            EXPECT_EQ(nCycle, nCommits) << nConnection;
        }
        EXPECT_EQ("-o 1|0@2|0@3|0", m_job.Snapshot().strRestartString);
    }
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, AFailedCommitWritesNoRestartStringAndTheNextCycleMovesOn) {
    m_job.SetRestartString("-o 1|1@2|0@3|0");
    auto ptrTransmitter = MakeTransmitter(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    QueueAndWait(*ptrTransmitter, {idxtest::MakeLiveCrawlItem({"/lc/a", 1, 70})}, 1);
    m_server.FailCall("updateRestartInfo", 2);
    idxtest::LogCapture capture(0);

    CKyError error = Cycle(*ptrTransmitter);
    EXPECT_TRUE(HasText(error, "Commit failed")) << error.AsString();
    EXPECT_EQ("-o 1|1@2|0@3|0", m_job.Snapshot().strRestartString);
    ASSERT_TRUE(WaitUntil([&] {
        return ptrTransmitter->GetSolrFailureReason().find("Failed to commit IDX-Log") !=
               std::string::npos;
    }));
    EXPECT_EQ(1u, capture.Count("Commit items failure ["));
    // The worker is not aborted: the next item goes out and the next cycle commits.
    EXPECT_FALSE(ptrTransmitter->IsAborted());
    QueueAndWait(*ptrTransmitter, {idxtest::MakeLiveCrawlItem({"/lc/b", 2, 80})}, 2);
    EXPECT_FALSE(Cycle(*ptrTransmitter).IsError());
    EXPECT_EQ("-o 1|70@2|80@3|0", m_job.Snapshot().strRestartString);
    ptrTransmitter->Stop();
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, WithoutCollectFilesItemsGoOutAndCommitsMergeNothing) {
    auto ptrTransmitter = MakeTransmitter(1, 0);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    QueueAndWait(*ptrTransmitter, {idxtest::MakeLiveCrawlItem({"/lc/a", 1, 50})}, 1);
    ASSERT_FALSE(Cycle(*ptrTransmitter).IsError());
    EXPECT_EQ(1u, m_server.CallsNamed("updateRestartInfo").size());
    EXPECT_EQ("", m_job.Snapshot().strRestartString);
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, EachRequestGetsOneReplyWhateverItHolds) {
    struct Case {
        const char *szName;
        bool bLock;
        size_t nTableSize;
        bool bFails;
    };
    const Case cases[] = {
        {"a table of another size is left alone", true, 2, false},
        {"a request without its lock is refused", false, 3, true},
    };
    auto ptrTransmitter = MakeTransmitter(1);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    QueueAndWait(*ptrTransmitter, {idxtest::MakeLiveCrawlItem({"/lc/a", 1, 50})}, 1);
    IIdxTransmitterThreadPtr ptrWorker = ptrTransmitter->State().GetWorkers().front();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::LogCapture capture(0);
        _CommitParams request;
        request.m_bCommitRequested = true;
        request.m_ptrReplySemaphore = boost::make_shared<TqSemaphore>(0);
        request.m_ptrCollectFileOffsets =
            boost::make_shared<std::vector<uint64_t>>(c.nTableSize, 7);
        if (c.bLock) {
            request.m_ptrOffsetsLock = boost::make_shared<FXCriticalSection>();
        }
        request.m_ptrCommitFailed = boost::make_shared<std::atomic<bool>>(false);
        ptrWorker->SetCommitFlag(request);
        ptrTransmitter->State().GetItemQueuedEvent()->Set();

        // One reply, and only one.
        EXPECT_TRUE(request.m_ptrReplySemaphore->wait(uint64_t(10000)));
        EXPECT_FALSE(request.m_ptrReplySemaphore->wait(uint64_t(0)));
        EXPECT_EQ(c.bFails, request.m_ptrCommitFailed->load());
        EXPECT_EQ(std::vector<uint64_t>(c.nTableSize, 7), *request.m_ptrCollectFileOffsets);
        EXPECT_FALSE(ptrWorker->GetCommitParams().m_bCommitRequested);
        if (c.bFails) {
            ASSERT_TRUE(WaitUntil([&] { return capture.Contains("Commit items failure ["); }));
            EXPECT_TRUE(capture.Contains("Invalid Commit parameters found"));
        }
    }
    ptrTransmitter->Stop();
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, ARefusedItemIsRecordedAsFailedAndTheNextOneGoesOn) {
    struct Case {
        const char *szName;
        LiveCrawlItemSpec spec;
        bool bFailSend;
        const char *szText;
    };
    const Case cases[] = {
        {"index server refuses", {"/lc/refused", 1, 900}, true, "Failed to add metadata"},
        {"agent without a handler",
         {"/lc/agent0", 1, 900, false, false, 0, 0, 0, LIVECRAWL_AGENT_NONE},
         false,
         "Populate item failed [Agent type - 0]"},
        {"cloud item without its record",
         {"/lc/norecord", 1, 900, false, false, 0, 0, 0, LIVECRAWL_AGENT_CLOUD_ITEM, false},
         false,
         "[Error] NULL interface "},
        // The exception comes while the item is held, between the worker taking it and settling
        // it.
        {"the item throws while its command is built",
         {"/lc/throws", 1, 900, false, false, 0, 0, 0, LIVECRAWL_AGENT_CLOUD_ITEM, true, true},
         false,
         "Unexpected exception: item refused"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::IndexServer::Reset();
        m_ptrCallback = boost::make_shared<idxtest::JobProgressCallback>();
        auto ptrTransmitter = MakeTransmitter(1);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        if (c.bFailSend) {
            m_server.FailCall("sendFileInfoV2", 2);
        }
        idxtest::LogCapture capture(0);
        QueueAndWait(*ptrTransmitter,
                     {idxtest::MakeLiveCrawlItem({"/lc/first", 1, 100}),
                      idxtest::MakeLiveCrawlItem(c.spec),
                      idxtest::MakeLiveCrawlItem({"/lc/last", 3, 300})},
                     c.bFailSend ? 3 : 2);
        ASSERT_TRUE(WaitUntil([&] { return m_ptrCallback->ProgressReports().size() == 3; }));

        EXPECT_FALSE(ptrTransmitter->IsAborted());
        EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
        EXPECT_NE(std::string::npos, ptrTransmitter->GetSolrFailureReason().find(c.szText))
            << ptrTransmitter->GetSolrFailureReason();
        EXPECT_EQ(1u, capture.Count("Send item to index-server failed, error="));
        EXPECT_EQ(1u, capture.Count("items not indexed, recorded as failed"));
        EXPECT_EQ(1u, capture.Count(std::string("first item=[") + c.spec.strPath + "]"));
        // Progress goes out as increments: 3 items, 2 sent, 1 failed.
        const auto totals = m_ptrCallback->Totals();
        EXPECT_EQ(3, totals.llItems);
        EXPECT_EQ(2, totals.llBytes);
        EXPECT_EQ(1, totals.llFailed);
        // The refused item's offset is not recorded.
        ASSERT_FALSE(Cycle(*ptrTransmitter).IsError());
        EXPECT_EQ("-o 1|100@2|0@3|300", m_job.Snapshot().strRestartString);
        ptrTransmitter->Stop();
        EXPECT_EQ(std::vector<std::string>{c.spec.strPath},
                  idxtest::FileLines(m_dir / "SolrScanFailures.tqf"));
        EXPECT_EQ(1, ptrTransmitter->GetFailedItemCount());
    }
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, ItemsThatCannotBeIndexedAreNeverCountedAsSent) {
    auto ptrTransmitter = MakeTransmitter(1);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    // A plain item of the walk is no file-system item; a file-system item without its live-crawl
    // record has nothing to index by. The root is passed over without a word.
    idxtest::LogCapture capture(0);
    CItemPtr ptrPlain = idxtest::MakeFileItem({"/lc/plain"});
    CItemPtr ptrNoRecord = idxtest::MakeLiveCrawlItem({"/lc/norecord"});
    ptrNoRecord->AddInterface(EItemInterfaceId::eLiveCrawl, nullptr);
    ASSERT_FALSE(ptrTransmitter->AddToQueue(ptrPlain).IsError());
    ASSERT_FALSE(ptrTransmitter->AddToQueue(ptrNoRecord).IsError());
    ASSERT_FALSE(ptrTransmitter->AddToQueue(idxtest::MakeLiveCrawlItem({"/"})).IsError());
    ASSERT_TRUE(WaitUntil([&] { return m_ptrCallback->ProgressReports().size() == 3; }));

    EXPECT_TRUE(capture.Contains("Item [/lc/plain] is not a file-system item"));
    EXPECT_TRUE(capture.Contains("Item doesnt have Live crawl interface"));
    const auto totals = m_ptrCallback->Totals();
    EXPECT_EQ(2, totals.llItems);
    EXPECT_EQ(0, totals.llBytes);
    EXPECT_EQ(2, totals.llFailed);
    EXPECT_TRUE(m_server.CallsNamed("sendFileInfoV2").empty());
    ptrTransmitter->Stop();
    EXPECT_EQ((std::vector<std::string>{"/lc/plain", "/lc/norecord"}),
              idxtest::FileLines(m_dir / "SolrScanFailures.tqf"));
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, AWorkerWhoseStartFailedNeverUsesItsConnection) {
    struct Case {
        const char *szName;
        std::function<void(idxtest::IndexServer &)> fnScript;
        const char *szReason;
        std::vector<std::string> vecCalls;
    };
    const Case cases[] = {
        {"no connection object",
         [](idxtest::IndexServer &s) { s.FailConnection(); },
         "Index connection object instantiation failed",
         {}},
        {"initialize refused",
         [](idxtest::IndexServer &s) { s.FailCall("initialize"); },
         "Index connection instantiation failed",
         {"initialize"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::IndexServer::Reset();
        c.fnScript(m_server);
        auto ptrTransmitter = MakeTransmitter(1);
        idxtest::LogCapture capture(0);

        // Whatever the job's thread last saw in errno is no part of the worker's failure.
        errno = EEXIST;
        CKyError error = ptrTransmitter->Start();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 995)) << error.AsString();
        EXPECT_TRUE(HasText(error, c.szReason)) << error.AsString();
        EXPECT_FALSE(HasText(error, "errno")) << error.AsString();
        EXPECT_EQ(c.szReason, ptrTransmitter->GetSolrFailureReason());

        // A commit request gets its one answer, as a failure, and no restart string.
        error = Cycle(*ptrTransmitter);
        EXPECT_TRUE(HasText(error, "Commit failed")) << error.AsString();
        EXPECT_EQ("", m_job.Snapshot().strRestartString);

        // The first item fails, and the transmitter is aborted.
        ASSERT_FALSE(ptrTransmitter->AddToQueue(idxtest::MakeLiveCrawlItem({"/lc/a"})).IsError());
        ASSERT_TRUE(WaitUntil([&] { return ptrTransmitter->IsAborted(); }));
        EXPECT_TRUE(FXErrorUtil::IsWin32(
            ptrTransmitter->AddToQueue(idxtest::MakeLiveCrawlItem({"/x"})), 995));
        EXPECT_NE(std::string::npos, ptrTransmitter->GetSolrFailureReason().find(
                                         "Live-Crawl module intialization failed"));
        EXPECT_TRUE(capture.Contains("first item=[/lc/a]"));
        ptrTransmitter->Stop();
        EXPECT_EQ(std::vector<std::string>{"/lc/a"},
                  idxtest::FileLines(m_dir / "SolrScanFailures.tqf"));
        // No backup-done flag on a connection that did not initialise.
        EXPECT_EQ(c.vecCalls, m_server.CallNames(1));
    }
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, StoppingWhileACycleWaitsAbandonsItAtOnce) {
    idxtest::SetPlatformSetting("FileSystemAgent", "nSolrCommitIntervalMS", "60000");
    auto ptrTransmitter = MakeTransmitter(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    // The job aborts: the workers are gone, so the next cycle waits for answers that never come.
    ASSERT_FALSE(ptrTransmitter->Abort(true).IsError());
    idxtest::LogCapture capture(3);
    for (int i = 0; i < 2000 && !capture.Contains("Commit items waiting flush to complete"); ++i) {
        idxtest::VirtualClock::Advance(60000);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(capture.Contains("Commit items waiting flush to complete"));

    ptrTransmitter->Stop();
    EXPECT_FALSE(ptrTransmitter->State().RunState().m_ptrPeriodicCommitThread->IsRunning());
    EXPECT_TRUE(capture.Contains("Commit abandoned, the transmitter is stopping"));
    EXPECT_FALSE(capture.Contains("Commit Timeout"));
    EXPECT_EQ("", m_job.Snapshot().strRestartString);
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, ThePeriodicThreadGivesTheJobItsRestartString) {
    idxtest::SetPlatformSetting("FileSystemAgent", "nSolrCommitIntervalMS", "60000");
    auto ptrTransmitter = MakeTransmitter(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    QueueAndWait(*ptrTransmitter,
                 {idxtest::MakeLiveCrawlItem({"/lc/a", 1, 4096}),
                  idxtest::MakeLiveCrawlItem({"/lc/b", 3, 1200})},
                 2);
    for (int i = 0; i < 2000 && m_job.Snapshot().strRestartString.empty(); ++i) {
        idxtest::VirtualClock::Advance(60000);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ("-o 1|4096@2|0@3|1200", m_job.Snapshot().strRestartString);
    std::string strRestart;
    EXPECT_FALSE(ptrTransmitter->GetRestartString(3, strRestart).IsError());
    EXPECT_EQ("-o 1|4096@2|0@3|1200", strRestart);
    EXPECT_FALSE(ptrTransmitter->WaitAndCommit().IsError());
    for (int nConnection = 1; nConnection <= 2; ++nConnection) {
        EXPECT_EQ("backupDone", m_server.CallNames(nConnection).back());
    }
}

TEST_F(IdxLogWriterLiveCrawlThreadTest, EngineRequestsAnswerWithoutARequest) {
    auto ptrState =
        boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_LiveCrawl);
    CIdxLogWriterThreadLiveCrawl worker(ptrState, ptrState->m_ptrOptions);
    idxtest::LogCapture capture(7);

    EXPECT_FALSE(worker.SendCommit().IsError());
    EXPECT_FALSE(worker.IsIdxEngineRunning());
    EXPECT_FALSE(worker.LogPerformanceCounters().IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(worker.SendDeleteDataSourceContent("ds"), 50));
    EXPECT_TRUE(FXErrorUtil::IsWin32(worker.PruneAuditCore("t", "1"), 50));
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_TRUE(FXErrorUtil::IsWin32(worker.SyncAuditAndMainCore(1, "1"), 50));
    EXPECT_EQ(1u, capture.CountAtLevel("Not supported", -1));
    EXPECT_FALSE(worker.IsInitialized());
    EXPECT_EQ(0, m_server.ConnectionsMade());
}

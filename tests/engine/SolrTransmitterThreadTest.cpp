// The index-engine worker's life cycle and batch loop, end to end: files queued on an
// index-engine transmitter reach the engine stand-in through the worker's sender, in batches of
// the configured size; the start sets the worker up or aborts the transmitter; aborts before and
// after a batch; a non-resilient engine failure aborts the transmitter, and an abort ends a
// worker's retry wait early.
#include "engine/SolrTransmitterThread.h"
#include "documents/SPItemSender.h"
#include "documents/VMItemSender.h"
#include "tests/support/documents/DocumentTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "platform/testing/WebServicePlugin.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::EngineRoute;
using idxtest::EngineStub;

const char *const kSection = "FileSystemAgent";

class SolrTransmitterThreadTest : public ::testing::Test {
protected:
    SolrTransmitterThreadTest() : m_log(7) {
        g_bEventSent.store(false);
        m_ptrCallback = boost::make_shared<idxtest::RecordingCallback>();
    }
    ~SolrTransmitterThreadTest() override {
        m_ptrCallback->ReleaseProgress();
        g_bEventSent.store(false);
    }

    // An index-engine transmitter on the stand-in with one worker, metadata only.
    std::unique_ptr<idxtest::EngineTransmitter> MakeTransmitter(int nItemsPerTransaction = 20) {
        auto ptrTransmitter = std::make_unique<idxtest::EngineTransmitter>();
        idxtest::PointOptionsAtStub(ptrTransmitter->Options(), m_stub);
        ptrTransmitter->Options().SetSubClientDir(m_dir.Path());
        ptrTransmitter->Options().SetMaxItemsPerTransaction(nItemsPerTransaction);
        EXPECT_FALSE(ptrTransmitter->SetCallback(m_ptrCallback).IsError());
        return ptrTransmitter;
    }

    boost::shared_ptr<CSolrTransmitterThread> WorkerOf(idxtest::EngineTransmitter &transmitter) {
        const std::list<IIdxTransmitterThreadPtr> lstWorkers = transmitter.State().GetWorkers();
        if (lstWorkers.empty()) {
            return boost::shared_ptr<CSolrTransmitterThread>();
        }
        return boost::dynamic_pointer_cast<CSolrTransmitterThread>(lstWorkers.front());
    }

    std::string File(int nIndex) {
        return m_dir.WriteFile("files/f" + std::to_string(nIndex) + ".txt",
                               "content " + std::to_string(nIndex));
    }

    CKyError Queue(idxtest::EngineTransmitter &transmitter, int nIndex) {
        return transmitter.BuildAndAddToQueue(File(nIndex), 1, 100 + nIndex, false, false);
    }

    std::vector<size_t> DocsPerUpdate() {
        std::vector<size_t> vecDocs;
        for (const idxtest::EngineRequest &request : m_stub.Requests(EngineRoute::Update)) {
            vecDocs.push_back(idxtest::CountDocs(request.strBody));
        }
        return vecDocs;
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::LogCapture m_log;
    idxtest::TempDir m_dir;
    EngineStub m_stub;
    idxtest::RecordingCallbackPtr m_ptrCallback;
};

TEST_F(SolrTransmitterThreadTest, OneWorkerTakesBatchesOfTheItemsPerTransaction) {
    auto ptrTransmitter = MakeTransmitter(20);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());

    // The worker reports the progress of its first batch and is held there while 45 more items
    // are queued, so that it finds them all waiting when it goes on.
    m_ptrCallback->HoldProgress();
    ASSERT_FALSE(Queue(*ptrTransmitter, 0).IsError());
    ASSERT_TRUE(m_ptrCallback->WaitForProgress(1));
    for (int i = 1; i <= 45; ++i) {
        ASSERT_FALSE(Queue(*ptrTransmitter, i).IsError());
    }
    m_ptrCallback->ReleaseProgress();
    ASSERT_TRUE(m_ptrCallback->WaitForProgress(4));
    ASSERT_TRUE(idxtest::WaitUntil([&] { return WorkerOf(*ptrTransmitter)->IsTransmitterIdle(); }));

    EXPECT_EQ(DocsPerUpdate(), (std::vector<size_t>{1, 20, 20, 5}));
    EXPECT_EQ(m_ptrCallback->ProgressItems(), (std::vector<long long>{1, 20, 20, 5}));
    EXPECT_EQ(m_stub.DocumentCount(), 46u);
    EXPECT_EQ(ptrTransmitter->State().GetQueueLength(), 0u);
    EXPECT_FALSE(ptrTransmitter->IfPushDataToSolrFailed());
    for (const idxtest::EngineRequest &request : m_stub.Requests(EngineRoute::Update)) {
        EXPECT_EQ(request.Header("Content-Type"), "text/xml");
    }

    SolrThreadPerfCounters counters;
    WorkerOf(*ptrTransmitter)->GetPerformanceCounters(counters);
    EXPECT_EQ(counters.m_llTransmittedItems, 46);
    EXPECT_EQ(counters.m_llPackets, 4);
    EXPECT_EQ(counters.m_llSends, 4);
    EXPECT_EQ(m_ptrCallback->InitializeCount(), 1);
}

TEST_F(SolrTransmitterThreadTest, EachBatchGoesToTheSenderTheJobsModeSelects) {
    struct ModeCase {
        const char *szName;
        bool bPushOnlyMetaData;
        bool bAuditing;
        bool bAuditUrl;
        size_t nUpdates;
        size_t nExtracts;
    };
    const std::vector<ModeCase> vecCases = {
        {"metadata only", true, false, true, 1, 0},
        {"metadata with content", false, false, true, 0, 1},
        {"auditing context: the audit sender keeps the batch to itself", true, true, true, 0, 0},
        {"auditing context without an audit URL", true, true, false, 1, 0},
    };
    for (const ModeCase &mode : vecCases) {
        SCOPED_TRACE(mode.szName);
        m_stub.ClearRequests();
        auto ptrTransmitter = MakeTransmitter(20);
        CTransmitterOptions &options = ptrTransmitter->Options();
        options.SetPushOnlyMetaData(mode.bPushOnlyMetaData);
        options.SetIncludeFiltersSet({"txt"});
        options.SetAuditingContext(mode.bAuditing);
        if (!mode.bAuditUrl) {
            options.SetAuditSolrUrl("");
        }
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        auto ptrWorker = WorkerOf(*ptrTransmitter);

        ASSERT_FALSE(Queue(*ptrTransmitter, 0).IsError());
        ASSERT_TRUE(idxtest::WaitUntil([&] {
            return ptrTransmitter->State().GetQueueLength() == 0 && ptrWorker->IsTransmitterIdle();
        }));

        EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), mode.nUpdates);
        EXPECT_EQ(m_stub.Requests(EngineRoute::Extract).size(), mode.nExtracts);
        EXPECT_FALSE(ptrTransmitter->IfPushDataToSolrFailed());
    }
}

namespace {

// A job callback that throws where the job's own code runs on a worker: in the worker's thread
// set-up, in its progress report (once), or in its quit query on the nth call made from a
// worker's thread.
class ThrowingJobCallback : public idxtest::RecordingCallback {
public:
    ThrowingJobCallback(bool bThrowOnInitialize, bool bThrowOnProgress, int nThrowOnWorkerQuery)
        : m_idJobThread(std::this_thread::get_id()), m_bThrowOnInitialize(bThrowOnInitialize),
          m_bThrowOnProgress(bThrowOnProgress), m_nThrowOnWorkerQuery(nThrowOnWorkerQuery) {}

    CKyError InitializeThread() override {
        if (m_bThrowOnInitialize.exchange(false)) {
            throw std::runtime_error("thread set-up refused");
        }
        return RecordingCallback::InitializeThread();
    }
    CKyError UpdateProgress(long long llItems, long long llBytes, long long llFailed) override {
        if (m_bThrowOnProgress.exchange(false)) {
            throw std::runtime_error("progress report refused");
        }
        return RecordingCallback::UpdateProgress(llItems, llBytes, llFailed);
    }
    bool IsQuitFlagSet() override {
        if (std::this_thread::get_id() != m_idJobThread &&
            ++m_nWorkerQueries == m_nThrowOnWorkerQuery) {
            throw std::runtime_error("quit query refused");
        }
        return false;
    }

private:
    const std::thread::id m_idJobThread;
    std::atomic<bool> m_bThrowOnInitialize;
    std::atomic<bool> m_bThrowOnProgress;
    const int m_nThrowOnWorkerQuery;
    std::atomic<int> m_nWorkerQueries{0};
};

} // namespace

TEST_F(SolrTransmitterThreadTest, AnExceptionFromTheJobsCodeNeverEndsAWorker) {
    struct Case {
        const char *szName;
        bool bContentPush;
        bool bThrowOnInitialize;
        bool bThrowOnProgress;
        // The worker asks the quit flag when it wakes, then the content sender before each item.
        int nThrowOnWorkerQuery;
        const char *szErrorLine; // the error line that reports the exception, once
        const char *szError;
        int64_t llFailed; // items of the first batch recorded as failed
    };
    // A worker that stopped draining would keep the end-of-job wait (run once more when the
    // transmitter goes) until its time-out: virtual time, so that a failure here ends soon.
    idxtest::VirtualClock clock;
    const Case cases[] = {
        {"thread set-up throws", false, true, false, 0,
         "InitializeThread failed, error=", "thread set-up refused", 0},
        {"quit query throws when the worker wakes", false, false, false, 1,
         "Abort test failed, error=", "quit query refused", 0},
        {"progress report throws after the post", false, false, true, 0,
         "Send failed, error=", "progress report refused", 0},
        {"quit query throws before the first item is pushed", true, false, false, 2,
         "Send failed, error=", "quit query refused", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        m_log.Clear();
        m_stub.ClearRequests();
        m_stub.ClearDocuments();
        m_ptrCallback = boost::make_shared<ThrowingJobCallback>(
            c.bThrowOnInitialize, c.bThrowOnProgress, c.nThrowOnWorkerQuery);
        auto ptrTransmitter = MakeTransmitter(20);
        // A small queue: a worker that stopped draining it would block the job at once.
        ASSERT_FALSE(ptrTransmitter->SetMaxQueueSize(2).IsError());
        ptrTransmitter->Options().SetPushOnlyMetaData(!c.bContentPush);
        ptrTransmitter->Options().SetIncludeFiltersSet({"txt"});
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        const int64_t llFailedBefore = ptrTransmitter->GetFailedItemCount();

        const std::string strFirst = File(0);
        ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strFirst, 1, 0, false, false).IsError());
        EXPECT_TRUE(idxtest::WaitUntil([&] { return m_log.Contains(c.szErrorLine); }));

        // Should the queue stop draining, the abort frees this thread instead of a hang.
        std::promise<void> queued;
        std::future<void> queuedFuture = queued.get_future();
        std::thread guard([&] {
            if (queuedFuture.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
                ptrTransmitter->Abort(true);
            }
        });
        std::vector<CKyError> vecResults;
        for (int i = 1; i <= 5; ++i) {
            vecResults.push_back(Queue(*ptrTransmitter, i));
        }
        queued.set_value();
        guard.join();
        for (const CKyError &result : vecResults) {
            EXPECT_FALSE(result.IsError()) << result.AsString();
        }
        auto ptrWorker = WorkerOf(*ptrTransmitter);
        ASSERT_TRUE(idxtest::WaitUntil([&] {
            return ptrTransmitter->State().GetQueueLength() == 0 && ptrWorker->IsTransmitterIdle();
        }));

        EXPECT_EQ(m_log.CountAtLevel(c.szErrorLine, -1), 1u);
        EXPECT_EQ(m_log.Count(c.szError), 1u);
        EXPECT_FALSE(ptrTransmitter->IsAborted());
        EXPECT_EQ(ptrTransmitter->GetFailedItemCount() - llFailedBefore, c.llFailed);
        if (c.bContentPush) {
            EXPECT_EQ(m_stub.Requests(EngineRoute::Extract).size(), 5u);
            ptrTransmitter->State().CloseSolrFailuresFile();
            EXPECT_NE(idxtest::ReadWholeFile(m_dir / "SolrBackupFailures.tqf").find(strFirst),
                      std::string::npos);
        } else {
            EXPECT_EQ(m_stub.DocumentCount(), 6u);
        }
    }
}

TEST_F(SolrTransmitterThreadTest, SenderErrorIsLoggedAndTheNextBatchIsStillTaken) {
    auto ptrTransmitter = MakeTransmitter(20);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    m_stub.FailNext(EngineRoute::Update, 1, 400, EngineStub::ErrorAnswer(400, "bad document"));

    m_ptrCallback->HoldProgress();
    const std::string strFailed = File(0);
    ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strFailed, 1, 1, false, false).IsError());
    ASSERT_TRUE(m_ptrCallback->WaitForProgress(1));
    ASSERT_FALSE(Queue(*ptrTransmitter, 1).IsError());
    ASSERT_FALSE(Queue(*ptrTransmitter, 2).IsError());
    m_ptrCallback->ReleaseProgress();
    ASSERT_TRUE(m_ptrCallback->WaitForProgress(2));
    ASSERT_TRUE(idxtest::WaitUntil([&] { return WorkerOf(*ptrTransmitter)->IsTransmitterIdle(); }));

    EXPECT_EQ(DocsPerUpdate(), (std::vector<size_t>{1, 2}));
    EXPECT_EQ(m_stub.DocumentCount(), 2u);
    EXPECT_EQ(m_log.CountAtLevel("Send failed, error=", -1), 1u);
    EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
    EXPECT_FALSE(ptrTransmitter->IsAborted());
    ptrTransmitter->State().CloseSolrFailuresFile();
    EXPECT_EQ(idxtest::ReadWholeFile(m_dir / "SolrBackupFailures.tqf"), strFailed + "\n");
}

TEST_F(SolrTransmitterThreadTest, AbortSeenAfterABatchEndsTheLoopWith995) {
    auto ptrTransmitter = MakeTransmitter(20);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    auto ptrWorker = WorkerOf(*ptrTransmitter);

    m_ptrCallback->HoldProgress();
    ASSERT_FALSE(Queue(*ptrTransmitter, 0).IsError());
    ASSERT_TRUE(m_ptrCallback->WaitForProgress(1));
    ASSERT_FALSE(Queue(*ptrTransmitter, 1).IsError());
    // The job's quit flag, as the option record learns of it.
    ptrTransmitter->Options().SetAborted(true);
    m_ptrCallback->ReleaseProgress();

    // The error is kept before the abort empties the queue; the worker marks itself idle last.
    ASSERT_TRUE(idxtest::WaitUntil(
        [&] { return ptrWorker->GetError().IsError() && ptrWorker->IsTransmitterIdle(); }));
    EXPECT_EQ(FXErrorUtil::GetWin32(ptrWorker->GetError()), 995u);
    EXPECT_EQ(ptrTransmitter->State().GetQueueLength(), 0u);
    EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
}

// The worker loop every kind shares: an abort seen while a batch is in hand writes the batch's
// own failures to the failures file first, then what the abort took from the queue.
TEST_F(SolrTransmitterThreadTest, AnAbortWithABatchInHandListsTheBatchBeforeTheQueue) {
    auto ptrTransmitter = MakeTransmitter(20);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    auto ptrWorker = WorkerOf(*ptrTransmitter);
    m_stub.FailNext(EngineRoute::Update, 1, 400, EngineStub::ErrorAnswer(400, "bad document"));

    // The engine refuses the first batch; its worker is held in the progress report that follows,
    // with the refused item still in its batch, while more items are queued and the job quits.
    m_ptrCallback->HoldProgress();
    std::vector<std::string> vecFiles = {File(0)};
    ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(vecFiles[0], 1, 100, false, false).IsError());
    ASSERT_TRUE(m_ptrCallback->WaitForProgress(1));
    for (int i = 1; i <= 3; ++i) {
        vecFiles.push_back(File(i));
        ASSERT_FALSE(Queue(*ptrTransmitter, i).IsError());
    }
    ptrTransmitter->Options().SetAborted(true);
    m_ptrCallback->ReleaseProgress();

    ASSERT_TRUE(idxtest::WaitUntil(
        [&] { return ptrWorker->GetError().IsError() && ptrWorker->IsTransmitterIdle(); }));
    EXPECT_EQ(FXErrorUtil::GetWin32(ptrWorker->GetError()), 995u);
    EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
    EXPECT_EQ(ptrTransmitter->GetFailedItemCount(), 4);
    ptrTransmitter->State().CloseSolrFailuresFile();
    std::string strExpected;
    for (const std::string &strFile : vecFiles) {
        strExpected += strFile + "\n";
    }
    EXPECT_EQ(idxtest::ReadWholeFile(m_dir / "SolrBackupFailures.tqf"), strExpected);
}

// The same order when the work itself aborts the transmitter: here the failure policy of a job
// that is not resilient, in the middle of the worker's batch, while more items wait in the queue.
TEST_F(SolrTransmitterThreadTest, AnAbortFromWithinTheBatchListsTheBatchBeforeTheQueue) {
    idxtest::SetPlatformSetting("FileSystemAgent", "nResilientScan", "0");
    auto ptrTransmitter = MakeTransmitter(2);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    auto ptrWorker = WorkerOf(*ptrTransmitter);

    std::vector<std::string> vecFiles;
    for (int i = 0; i < 5; ++i) {
        vecFiles.push_back(File(i));
    }
    // The engine refuses the first batch with a status this job does not retry, and three more
    // items are queued behind it while the engine holds its answer.
    std::atomic<bool> bQueuedBehind{false};
    idxtest::EngineScript refusal;
    refusal.nStatus = 500;
    refusal.strBody = EngineStub::ErrorAnswer(594, "push failed");
    refusal.fnOnArrival = [&] {
        for (int i = 2; i < 5; ++i) {
            EXPECT_FALSE(ptrTransmitter->BuildAndAddToQueue(vecFiles[i], 1, 100 + i, false, false)
                             .IsError());
        }
        bQueuedBehind.store(true);
    };
    m_stub.Script(EngineRoute::Update, refusal);
    for (int i = 0; i < 2; ++i) {
        ASSERT_FALSE(
            ptrTransmitter->BuildAndAddToQueue(vecFiles[i], 1, 100 + i, false, false).IsError());
    }

    ASSERT_TRUE(idxtest::WaitUntil(
        [&] { return ptrWorker->GetError().IsError() && ptrWorker->IsTransmitterIdle(); }));
    EXPECT_TRUE(bQueuedBehind.load());
    EXPECT_EQ(ptrTransmitter->GetFailedItemCount(), 5);
    ptrTransmitter->State().CloseSolrFailuresFile();
    std::string strExpected;
    for (const std::string &strFile : vecFiles) {
        strExpected += strFile + "\n";
    }
    EXPECT_EQ(idxtest::ReadWholeFile(m_dir / "SolrBackupFailures.tqf"), strExpected);
}

TEST_F(SolrTransmitterThreadTest, WakeUpOfAnAbortedTransmitterSendsNothing) {
    auto ptrTransmitter = MakeTransmitter(20);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    auto ptrWorker = WorkerOf(*ptrTransmitter);
    ptrTransmitter->Options().SetAborted(true);

    ptrWorker->SetEvent();

    ASSERT_TRUE(idxtest::WaitUntil([&] { return ptrWorker->GetError().IsError(); }));
    EXPECT_EQ(FXErrorUtil::GetWin32(ptrWorker->GetError()), 995u);
    EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 0u);
    ptrWorker->Stop(true);
    EXPECT_EQ(m_log.Count("OnStop success"), 0u);
}

TEST_F(SolrTransmitterThreadTest, StartSetsUpTheHandleFiltersAndTimers) {
    idxtest::OneShotRig rig(m_stub);
    rig.ptrOptions->SetCallback(m_ptrCallback);
    rig.ptrOptions->SetExcludePaths({"/data/skip", "/data/also"});
    rig.ptrOptions->SetIncludeFiltersSet({"*.txt"});

    ASSERT_FALSE(rig.ptrWorker->Start().IsError());

    EXPECT_EQ(m_ptrCallback->InitializeCount(), 1);
    EXPECT_EQ(rig.ptrWorker->HttpHeader(), "Content-Type: text/xml");
    EXPECT_TRUE(rig.ptrWorker->CountersReady());
    EXPECT_TRUE(rig.ptrWorker->IsExcludedPath("/data/skip"));
    EXPECT_FALSE(rig.ptrWorker->IsExcludedPath("/data/keep"));
    // The dynamic-TPPM check asked the engine's ping URL.
    ASSERT_EQ(m_stub.Requests(EngineRoute::Ping).size(), 1u);
    EXPECT_EQ(m_stub.Requests(EngineRoute::Ping)[0].strPath, "/solr/collection1/admin/ping");
    EXPECT_EQ(m_log.CountAtLevel(
                  "BaseSolrUrl=[" + m_stub.PingUrl() + "], GetSolrClientName=[idxtest-client]", 4),
              1u);
    std::vector<std::string> vecExcluded;
    for (const idxtest::CapturedLogLine &line : m_log.Lines()) {
        if (line.strText.rfind("Excluding path [", 0) == 0 && line.nLevel == 2) {
            vecExcluded.push_back(line.strText);
        }
    }
    EXPECT_EQ(vecExcluded, (std::vector<std::string>{"Excluding path [/data/skip]",
                                                     "Excluding path [/data/also]"}));

    rig.ptrWorker->Stop(true);
    EXPECT_EQ(m_log.CountAtLevel("OnStop success", 5), 1u);
}

TEST_F(SolrTransmitterThreadTest, PingUrlOfTheAuditingContextIsTheAuditCoresBase) {
    idxtest::OneShotRig rig(m_stub);
    rig.ptrOptions->SetAuditingContext(true);
    rig.ptrOptions->SetAuditSolrUrl(m_stub.BaseUrl(EngineStub::kAuditCore) + "UPDATE");

    ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());

    ASSERT_EQ(m_stub.Requests(EngineRoute::Ping).size(), 1u);
    EXPECT_EQ(m_stub.Requests(EngineRoute::Ping)[0].strCore, EngineStub::kAuditCore);
}

TEST_F(SolrTransmitterThreadTest, WebServiceJobFailsAtStartAndAbortsTheTransmitter) {
    // The abort of a virtual-machine worker pauses a second; the virtual clock makes it free.
    idxtest::VirtualClock clock;
    idxtest::WebServicePlugin plugin;
    // The plug-in refuses to set its handler up, answering "not supported".
    plugin.FailCall("Initialize", 50);
    for (int nMode = 0; nMode < 2; ++nMode) {
        SCOPED_TRACE(nMode == 0 ? "virtual machine" : "collaboration site");
        m_log.Clear();
        auto ptrTransmitter = MakeTransmitter(20);
        ptrTransmitter->Options().SetVMContentIndexing(nMode == 0);
        ptrTransmitter->Options().SetSPContentIndexing(nMode == 1);

        ASSERT_FALSE(ptrTransmitter->Start().IsError());

        EXPECT_TRUE(ptrTransmitter->IsAborted());
        auto ptrWorker = WorkerOf(*ptrTransmitter);
        ASSERT_TRUE(ptrWorker);
        EXPECT_EQ(FXErrorUtil::GetWin32(ptrWorker->GetError()), 50u);
        EXPECT_EQ(m_log.CountAtLevel("Failed to initialize web service object, error=", -1), 1u);
        EXPECT_TRUE(m_log.Contains("Web service refused Initialize"));
        CKyError error = Queue(*ptrTransmitter, 0);
        EXPECT_EQ(FXErrorUtil::GetWin32(error), 995u);
        // No engine traffic for these jobs, not even the dynamic-TPPM check.
        EXPECT_EQ(m_stub.RequestCount(), 0u);
    }
}

TEST_F(SolrTransmitterThreadTest, WebServiceSendersWithoutAHandlerRecordTheirBatchAsFailed) {
    idxtest::OneShotRig rig(m_stub);
    rig.ptrOptions->SetSubClientDir(m_dir.Path());
    ASSERT_FALSE(rig.ptrState->OpenSolrFailuresFile().IsError());
    std::list<CItemPtr> lstItems = {idxtest::MakeTestItem("/vm/a"), idxtest::MakeTestItem("/vm/b")};
    std::list<CItemPtr> lstSiteItems = {idxtest::MakeTestItem("/site/c")};

    // A worker that was never started has no web-service handler.
    CVMItemSender vmSender(*rig.ptrWorker);
    CSPItemSender siteSender(*rig.ptrWorker);
    CKyError error = idxtest::SendAsBatch(vmSender, *rig.ptrState, lstItems);
    CKyError siteError = idxtest::SendAsBatch(siteSender, *rig.ptrState, lstSiteItems);

    EXPECT_EQ(FXErrorUtil::GetWin32(error), 774u);
    EXPECT_EQ(FXErrorUtil::GetWin32(siteError), 774u);
    EXPECT_TRUE(lstItems.empty());
    EXPECT_TRUE(rig.ptrState->IfPushDataToSolrFailed());
    EXPECT_TRUE(rig.ptrOptions->IsAborted());
    rig.ptrState->CloseSolrFailuresFile();
    EXPECT_EQ(idxtest::ReadWholeFile(m_dir / "SolrBackupFailures.tqf"), "/vm/a\n/vm/b\n/site/c\n");
}

TEST_F(SolrTransmitterThreadTest, NonResilientFailureAbortsTheTransmitterWithItsReason) {
    idxtest::SetPlatformSetting(kSection, "nResilientScan", "0");
    auto ptrTransmitter = MakeTransmitter(20);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    m_stub.FailNext(EngineRoute::Update, 1, 592);

    const std::string strFailed = File(0);
    ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strFailed, 1, 1, false, false).IsError());
    ASSERT_TRUE(idxtest::WaitUntil([&] { return ptrTransmitter->IsAborted(); }));
    ASSERT_TRUE(m_ptrCallback->WaitForProgress(1));

    EXPECT_EQ(ptrTransmitter->GetSolrFailureReason(), "Index Engine ran out of disk space. ");
    EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
    CKyError error = Queue(*ptrTransmitter, 1);
    EXPECT_EQ(FXErrorUtil::GetWin32(error), 995u);
    EXPECT_TRUE(m_log.Contains("Aborting scan, solr transmitter has stopped"));
    EXPECT_TRUE(m_ptrCallback->PendingReasons().empty());
    EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
    ptrTransmitter->State().CloseSolrFailuresFile();
    EXPECT_EQ(idxtest::ReadWholeFile(m_dir / "SolrBackupFailures.tqf"), strFailed + "\n");
}

TEST_F(SolrTransmitterThreadTest, AbortEndsAWorkersRetryWaitEarly) {
    // Real clock: the resilient wait is 10 s, and neither an abort nor a stop of the transmitter
    // may have to sit it out.
    struct EndCase {
        const char *szName;
        std::function<CKyError(idxtest::EngineTransmitter &)> fnEnd;
    };
    const std::vector<EndCase> vecCases = {
        {"abort", [](idxtest::EngineTransmitter &t) { return t.Abort(true); }},
        {"stop", [](idxtest::EngineTransmitter &t) { return t.Stop(); }},
    };
    for (const EndCase &end : vecCases) {
        SCOPED_TRACE(end.szName);
        m_log.Clear();
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        g_bEventSent.store(false);
        m_ptrCallback = boost::make_shared<idxtest::RecordingCallback>();
        auto ptrTransmitter = MakeTransmitter(20);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        // The backup phase counts the failures an earlier case left in the folder.
        const int64_t llFailedBefore = ptrTransmitter->GetFailedItemCount();
        m_stub.FailNext(EngineRoute::Update, 1000, 592);

        const std::string strFailed = File(0);
        ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strFailed, 1, 1, false, false).IsError());
        ASSERT_TRUE(
            idxtest::WaitUntil([&] { return m_ptrCallback->PendingReasons().size() == 1; }));

        const auto start = std::chrono::steady_clock::now();
        ASSERT_FALSE(end.fnEnd(*ptrTransmitter).IsError());
        const auto elapsed = std::chrono::steady_clock::now() - start;

        EXPECT_LT(elapsed, std::chrono::seconds(3));
        EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
        EXPECT_TRUE(m_log.Contains("Not retrying http request"));
        EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
        // The item the worker gave up on is recorded, not lost.
        EXPECT_EQ(ptrTransmitter->GetFailedItemCount(), llFailedBefore + 1);
        // The engine recovers, so that the end of the job the transmitter's destructor runs
        // once more is not kept waiting either.
        m_stub.ClearScripts();
    }
}

} // namespace

TEST_F(SolrTransmitterThreadTest, NoItemIsLeftBehindByTheLingerAndNoBatchExceedsTheLimit) {
    // The linger is measured on the real clock: while this virtual clock stands still, a partial
    // batch must still reach the engine before the job ends.
    idxtest::VirtualClock clock;
    struct Step {
        int nItems;
        // Wait until the engine holds everything queued so far before the next step (a pause
        // of the job), or go on at once.
        bool bPause;
    };
    struct Case {
        const char *szName;
        std::vector<Step> vecSteps;
    };
    const Case cases[] = {
        {"a single item", {{1, true}}},
        {"bursts and pauses", {{7, true}, {45, true}, {3, true}, {20, true}, {1, true}}},
        {"a job that ends right after its last item", {{33, false}}},
        {"a pause, then an end right after a burst", {{2, true}, {26, false}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        m_stub.ClearDocuments();
        m_stub.ClearRequests();
        auto ptrTransmitter = MakeTransmitter(20);
        ASSERT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(3).IsError());
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        // Polls on the virtual clock cost almost nothing: a slow machine must not turn the
        // workers' real time into a queue time-out.
        ptrTransmitter->State().SetUp().m_nQueueTimeoutInMins = 1000000;

        size_t nQueued = 0;
        for (const Step &step : c.vecSteps) {
            for (int i = 0; i < step.nItems; ++i) {
                ASSERT_FALSE(Queue(*ptrTransmitter, static_cast<int>(nQueued)).IsError());
                ++nQueued;
            }
            if (step.bPause) {
                ASSERT_TRUE(idxtest::WaitUntil([&] { return m_stub.DocumentCount() == nQueued; }));
            }
        }
        ASSERT_FALSE(ptrTransmitter->WaitAndCommit().IsError());

        EXPECT_EQ(nQueued, m_stub.DocumentCount());
        EXPECT_EQ(0, ptrTransmitter->GetFailedItemCount());
        EXPECT_FALSE(ptrTransmitter->IfPushDataToSolrFailed());
        size_t nPosted = 0;
        for (size_t nDocs : DocsPerUpdate()) {
            EXPECT_LE(nDocs, 20u);
            nPosted += nDocs;
        }
        EXPECT_EQ(nQueued, nPosted);
    }
}

TEST_F(SolrTransmitterThreadTest, WorkersPostOnlyFullBatchesUntilTheEndOfTheJobFlushesTheRest) {
    auto ptrTransmitter = MakeTransmitter(20);
    ASSERT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(3).IsError());
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    // An hour-long linger: a partial batch leaves the queue only through the flush of the job's
    // end, whatever the speed of the job and the workers.
    ptrTransmitter->State().Queue().SetLingerForTest(3600u * 1000u);

    for (int i = 0; i < 47; ++i) {
        ASSERT_FALSE(Queue(*ptrTransmitter, i).IsError());
    }
    ASSERT_TRUE(idxtest::WaitUntil([&] { return m_stub.DocumentCount() == 40u; }));
    EXPECT_EQ(7u, ptrTransmitter->State().GetQueueLength());
    ASSERT_FALSE(ptrTransmitter->WaitAndCommit().IsError());

    std::vector<size_t> vecSizes;
    for (size_t nDocs : DocsPerUpdate()) {
        if (nDocs > 0) {
            vecSizes.push_back(nDocs);
        }
    }
    std::sort(vecSizes.begin(), vecSizes.end());
    EXPECT_EQ((std::vector<size_t>{7, 20, 20}), vecSizes);
    EXPECT_EQ(47u, m_stub.DocumentCount());
    EXPECT_EQ(0, ptrTransmitter->GetFailedItemCount());
}

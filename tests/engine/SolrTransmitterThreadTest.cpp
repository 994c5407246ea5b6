// The index-engine worker's life cycle and batch loop, end to end: files queued on an
// index-engine transmitter reach the engine stand-in through the worker's sender, in batches of
// the configured size; the start sets the worker up or aborts the transmitter; aborts before and
// after a batch; a non-resilient engine failure aborts the transmitter, and an abort ends a
// worker's retry wait early.
#include "engine/SolrTransmitterThread.h"

#include <gtest/gtest.h>

#include <chrono>

#include <boost/make_shared.hpp>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
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
        auto_lock lock(&transmitter.State().m_lockWorkers, true);
        if (transmitter.State().m_lstWorkers.empty()) {
            return boost::shared_ptr<CSolrTransmitterThread>();
        }
        return boost::dynamic_pointer_cast<CSolrTransmitterThread>(
            transmitter.State().m_lstWorkers.front());
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

    ASSERT_FALSE(rig.ptrWorker->InitializeCurlObject().IsError());

    ASSERT_EQ(m_stub.Requests(EngineRoute::Ping).size(), 1u);
    EXPECT_EQ(m_stub.Requests(EngineRoute::Ping)[0].strCore, EngineStub::kAuditCore);
}

TEST_F(SolrTransmitterThreadTest, WebServiceJobFailsAtStartAndAbortsTheTransmitter) {
    // The abort of a virtual-machine worker pauses a second; the virtual clock makes it free.
    idxtest::VirtualClock clock;
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
        EXPECT_TRUE(m_log.Contains("Web-service plug-in is not available"));
        CKyError error = Queue(*ptrTransmitter, 0);
        EXPECT_EQ(FXErrorUtil::GetWin32(error), 995u);
        // No engine traffic for these jobs, not even the dynamic-TPPM check.
        EXPECT_EQ(m_stub.RequestCount(), 0u);
    }
}

TEST_F(SolrTransmitterThreadTest, WebServiceSendersRecordTheirBatchAsFailed) {
    idxtest::OneShotRig rig(m_stub);
    rig.ptrOptions->SetSubClientDir(m_dir.Path());
    ASSERT_FALSE(rig.ptrState->OpenSolrFailuresFile().IsError());
    std::list<CItemPtr> lstItems = {idxtest::MakeTestItem("/vm/a"), idxtest::MakeTestItem("/vm/b")};
    std::list<CItemPtr> lstSiteItems = {idxtest::MakeTestItem("/site/c")};

    CKyError error = rig.ptrWorker->SendVMItemsToWebService(lstItems);
    CKyError siteError = rig.ptrWorker->SendSPItemsToWebService(lstSiteItems);

    EXPECT_EQ(FXErrorUtil::GetWin32(error), 50u);
    EXPECT_EQ(FXErrorUtil::GetWin32(siteError), 50u);
    EXPECT_TRUE(lstItems.empty());
    EXPECT_TRUE(rig.ptrState->IfPushDataToSolrFailed());
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
    // Real clock: the resilient wait is 10 s, and the abort must not have to sit it out.
    auto ptrTransmitter = MakeTransmitter(20);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    m_stub.FailNext(EngineRoute::Update, 1000, 592);

    ASSERT_FALSE(Queue(*ptrTransmitter, 0).IsError());
    ASSERT_TRUE(idxtest::WaitUntil([&] { return m_ptrCallback->PendingReasons().size() == 1; }));

    const auto start = std::chrono::steady_clock::now();
    ASSERT_FALSE(ptrTransmitter->Abort(true).IsError());
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_LT(elapsed, std::chrono::seconds(3));
    EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
    EXPECT_TRUE(m_log.Contains("Not retrying http request"));
    EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
}

} // namespace

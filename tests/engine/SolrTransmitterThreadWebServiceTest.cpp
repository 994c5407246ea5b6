// Virtual-machine and collaboration-site jobs end to end on the stand-in web-service plug-in: each
// worker loads the plug-in, sets its own handler up with the job's values and submits the task;
// every queued item reaches the plug-in once; a clean stop finishes the task once, even when the
// job's quit query throws in the stop hook; a start that fails, and failures that reach the
// threshold, abort the transmitter with nothing lost.
//
// WebServicePluginLoadTest runs apart, with a library search path of its own (tests/CMakeLists):
// without the plug-in, or with a library that lacks its entry point.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "engine/SolrTransmitterThread.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/VirtualClock.h"
#include "platform/testing/WebServicePlugin.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "tests/support/WebServiceJob.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::VMJobValues;

const char kPluginFile[] = "libTqCIWebServiceHandler.so";
const char kSiteUrl[] = "http://localhost:81/IndexGateway/api/TqWebService.svc";

// Whether the plug-in library is loaded in this process now.
bool IsPluginLoaded() {
    void *pHandle = dlopen(kPluginFile, RTLD_NOW | RTLD_NOLOAD);
    if (pHandle == nullptr) {
        return false;
    }
    dlclose(pHandle);
    return true;
}

class WebServiceJobTest : public ::testing::Test {
protected:
    WebServiceJobTest() : m_log(5) {}

    std::unique_ptr<idxtest::EngineTransmitter> MakeTransmitter(bool bVM, int nWorkers = 1) {
        auto ptrTransmitter = std::make_unique<idxtest::EngineTransmitter>();
        if (bVM) {
            idxtest::SetUpVMJob(ptrTransmitter->Options(), m_dir.Path());
        } else {
            idxtest::SetUpSPJob(ptrTransmitter->Options(), m_dir.Path());
        }
        ptrTransmitter->Options().SetMaxItemsPerTransaction(5);
        EXPECT_FALSE(ptrTransmitter->SetCallback(m_ptrCallback).IsError());
        EXPECT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(nWorkers).IsError());
        // Polls on the virtual clock cost almost nothing: the workers' real time must not add up
        // to a time-out.
        ptrTransmitter->State().SetUp().m_nQueueTimeoutInMins = 600;
        return ptrTransmitter;
    }

    static boost::shared_ptr<CSolrTransmitterThread> WorkerOf(idxtest::EngineTransmitter &t) {
        const std::list<IIdxTransmitterThreadPtr> lstWorkers = t.State().GetWorkers();
        if (lstWorkers.empty()) {
            return boost::shared_ptr<CSolrTransmitterThread>();
        }
        return boost::dynamic_pointer_cast<CSolrTransmitterThread>(lstWorkers.front());
    }

    std::vector<int> Handlers() const {
        std::vector<int> vecHandlers;
        for (const idxtest::WebServiceCall &call : m_plugin.Calls("getTqCIWebServiceHandle")) {
            vecHandlers.push_back(call.nHandler);
        }
        return vecHandlers;
    }

    // The calls of one operation made on one handler.
    std::vector<idxtest::WebServiceCall> CallsOf(int nHandler, const std::string &strOperation) {
        std::vector<idxtest::WebServiceCall> vecCalls;
        for (const idxtest::WebServiceCall &call : m_plugin.Calls(strOperation)) {
            if (call.nHandler == nHandler) {
                vecCalls.push_back(call);
            }
        }
        return vecCalls;
    }

    std::vector<std::string> PushedPaths(bool bAcceptedOnly = false) const {
        std::vector<std::string> vecPaths;
        for (const idxtest::WebServiceCall &call : m_plugin.Items()) {
            if (!bAcceptedOnly || call.nError == 0) {
                vecPaths.push_back(call.strPath);
            }
        }
        std::sort(vecPaths.begin(), vecPaths.end());
        return vecPaths;
    }

    std::string FailuresFile() const {
        return idxtest::ReadWholeFile(m_dir / "SolrBackupFailures.tqf");
    }

    // The abort of a virtual-machine worker pauses a second, the end-of-job wait polls every
    // second: the virtual clock makes both free.
    idxtest::VirtualClock m_clock;
    idxtest::LogCapture m_log;
    idxtest::WebServicePlugin m_plugin;
    idxtest::TempDir m_dir;
    // No web-service job may say anything to an index engine; this one would hear it.
    idxtest::EngineStub m_stub;
    idxtest::ProgressCallbackPtr m_ptrCallback = boost::make_shared<idxtest::ProgressCallback>();
};

const std::vector<std::string> kSetUpCalls = {"getTqCIWebServiceHandle",
                                              "SetSubClientDir",
                                              "SetMode",
                                              "SetAbortCheck",
                                              "SetJobId",
                                              "Initialize",
                                              "SetBatchLimits",
                                              "SetOptionFlag",
                                              "SetPushOnlyMetadata",
                                              "SubmitTask"};

TEST_F(WebServiceJobTest, AVirtualMachineJobSetsUpAHandlerPerWorkerAndFinishesItsTaskOnce) {
    {
        auto ptrTransmitter = MakeTransmitter(true, 2);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        ASSERT_FALSE(ptrTransmitter->IsAborted());
        EXPECT_TRUE(IsPluginLoaded());

        // Each worker made its own handler and set it up in the order the plug-in needs.
        const std::vector<int> vecHandlers = Handlers();
        ASSERT_EQ(vecHandlers.size(), 2u);
        EXPECT_NE(vecHandlers[0], vecHandlers[1]);
        for (int nHandler : vecHandlers) {
            SCOPED_TRACE(nHandler);
            EXPECT_EQ(m_plugin.Operations(nHandler), kSetUpCalls);
            EXPECT_EQ(CallsOf(nHandler, "getTqCIWebServiceHandle")[0].Argument("vm"), "1");
            EXPECT_EQ(CallsOf(nHandler, "SetSubClientDir")[0].Argument("value"), m_dir.Path());
            // Catalogue field 63 narrowed to 32 bits, then widened back.
            EXPECT_EQ(CallsOf(nHandler, "SetMode")[0].Argument("value"), "-2");
            EXPECT_EQ(CallsOf(nHandler, "SetAbortCheck")[0].Argument("value"), "1");
            EXPECT_EQ(CallsOf(nHandler, "SetJobId")[0].Argument("value"), "4711");
            const idxtest::WebServiceCall limits = CallsOf(nHandler, "SetBatchLimits")[0];
            EXPECT_EQ(limits.Argument("itemsPerTransaction"), "5");
            EXPECT_EQ(limits.Argument("second"), "0");
            EXPECT_EQ(CallsOf(nHandler, "SetOptionFlag")[0].Argument("value"), "1");
            EXPECT_EQ(CallsOf(nHandler, "SetPushOnlyMetadata")[0].Argument("value"), "0");
            const idxtest::WebServiceCall submit = CallsOf(nHandler, "SubmitTask")[0];
            EXPECT_EQ(submit.Argument("url"), VMJobValues::kUrl);
            EXPECT_EQ(submit.Argument("applicationNumber"), "4000000000");
            EXPECT_EQ(submit.Argument("clientId"), "17");
            EXPECT_EQ(submit.Argument("jobId"), "4711");
            EXPECT_EQ(submit.Argument("applicationType"), "106");
        }

        std::vector<std::string> vecQueued;
        for (int i = 0; i < 23; ++i) {
            vecQueued.push_back("/vm/item" + std::to_string(100 + i));
            ASSERT_FALSE(
                ptrTransmitter->AddToQueue(idxtest::MakeTestItem(vecQueued.back())).IsError());
        }
        ASSERT_FALSE(ptrTransmitter->WaitAndCommit().IsError());

        EXPECT_EQ(PushedPaths(), vecQueued);
        for (int nHandler : vecHandlers) {
            const std::vector<idxtest::WebServiceCall> vecFinish =
                CallsOf(nHandler, "FinishVMTask");
            ASSERT_EQ(vecFinish.size(), 1u);
            EXPECT_EQ(vecFinish[0].Argument("value"), "0");
            EXPECT_TRUE(CallsOf(nHandler, "FinishTask").empty());
            // The stop let the workers go, and each handler with its worker.
            const std::vector<std::string> vecOperations = m_plugin.Operations(nHandler);
            EXPECT_EQ(std::vector<std::string>(vecOperations.end() - 2, vecOperations.end()),
                      (std::vector<std::string>{"FinishVMTask", "~ICIWSHandler"}));
        }
        EXPECT_FALSE(ptrTransmitter->IfPushDataToSolrFailed());
        EXPECT_EQ(FailuresFile(), "");
        // Every handler deleted, and then the library let go.
        EXPECT_EQ(m_plugin.HandlersAlive(), 0);
        EXPECT_FALSE(IsPluginLoaded());
    }
    // The transmitter's own end-of-job pass finds nothing left to finish.
    EXPECT_EQ(m_plugin.Calls("FinishVMTask").size(), 2u);
    EXPECT_EQ(m_plugin.Calls("~ICIWSHandler").size(), 2u);
    EXPECT_EQ(m_stub.RequestCount(), 0u);
}

TEST_F(WebServiceJobTest, ACollaborationSiteJobHandsItsItemsToTheLocalWebService) {
    {
        auto ptrTransmitter = MakeTransmitter(false);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        const std::vector<int> vecHandlers = Handlers();
        ASSERT_EQ(vecHandlers.size(), 1u);
        const int nHandler = vecHandlers[0];
        EXPECT_EQ(m_plugin.Operations(nHandler), kSetUpCalls);
        EXPECT_EQ(CallsOf(nHandler, "getTqCIWebServiceHandle")[0].Argument("vm"), "0");
        EXPECT_EQ(CallsOf(nHandler, "SetMode")[0].Argument("value"), "2");
        const idxtest::WebServiceCall submit = CallsOf(nHandler, "SubmitTask")[0];
        EXPECT_EQ(submit.Argument("url"), kSiteUrl);
        EXPECT_EQ(submit.Argument("applicationType"), "78");

        const std::string strFile = m_dir.WriteFile("site/doc.txt", "x");
        ASSERT_FALSE(
            ptrTransmitter->BuildAndAddToQueue(strFile, "content-7", "http://site.local/doc.txt")
                .IsError());
        ASSERT_FALSE(ptrTransmitter->WaitAndCommit().IsError());

        const std::vector<idxtest::WebServiceCall> vecItems = m_plugin.Items();
        ASSERT_EQ(vecItems.size(), 1u);
        EXPECT_EQ(vecItems[0].strOperation, "PushItem");
        EXPECT_EQ(vecItems[0].strPath, strFile);
        EXPECT_EQ(vecItems[0].strContentId, "content-7");
        const std::vector<idxtest::WebServiceCall> vecFinish = CallsOf(nHandler, "FinishTask");
        ASSERT_EQ(vecFinish.size(), 1u);
        EXPECT_EQ(vecFinish[0].Argument("value"), "0");
        EXPECT_TRUE(CallsOf(nHandler, "FinishVMTask").empty());
    }
    EXPECT_EQ(m_plugin.Calls("FinishTask").size(), 1u);
    EXPECT_EQ(m_stub.RequestCount(), 0u);
}

TEST_F(WebServiceJobTest, AStartThatFailsAbortsTheTransmitterAndFinishesNothing) {
    struct Case {
        const char *szOperation;
        uint32_t nScripted;
        uint32_t nStartError;
        int nHandlersLeft; // alive until the worker goes
    };
    const Case cases[] = {{"getTqCIWebServiceHandle", 774, 14, 0},
                          {"Initialize", 1359, 1359, 1},
                          {"SubmitTask", 774, 995, 1}};
    for (bool bVM : {true, false}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(bVM ? "virtual machine, " : "collaboration site, ") +
                         c.szOperation);
            m_plugin.Reset();
            m_log.Clear();
            m_plugin.FailCall(c.szOperation, c.nScripted);
            {
                auto ptrTransmitter = MakeTransmitter(bVM);
                ptrTransmitter->Start();

                EXPECT_TRUE(ptrTransmitter->IsAborted());
                auto ptrWorker = WorkerOf(*ptrTransmitter);
                ASSERT_TRUE(ptrWorker);
                EXPECT_EQ(FXErrorUtil::GetWin32(ptrWorker->GetError()), c.nStartError);
                EXPECT_EQ(m_log.CountAtLevel("Failed to initialize web service object, error=", -1),
                          1u);
                EXPECT_EQ(FXErrorUtil::GetWin32(
                              ptrTransmitter->AddToQueue(idxtest::MakeTestItem("/late"))),
                          995u);
                EXPECT_EQ(m_plugin.HandlersAlive(), c.nHandlersLeft);
                ASSERT_FALSE(ptrTransmitter->Stop().IsError());
            }
            EXPECT_EQ(m_plugin.HandlersAlive(), 0);
            EXPECT_TRUE(m_plugin.Calls("FinishVMTask").empty());
            EXPECT_TRUE(m_plugin.Calls("FinishTask").empty());
            EXPECT_TRUE(m_plugin.Items().empty());
            EXPECT_EQ(m_log.CountAtLevel("OnStop success", 5), 0u);
        }
    }
    // The refused task names the web service it was for.
    EXPECT_EQ(m_log.CountAtLevel(std::string("Failed to get submit task to indexing web service "
                                             "URL ") +
                                     kSiteUrl + ", error=",
                                 -1),
              1u);
    EXPECT_EQ(m_stub.RequestCount(), 0u);
}

TEST_F(WebServiceJobTest, ThePluginsAbortCheckIsTheTransmittersAbortTest) {
    auto ptrTransmitter = MakeTransmitter(true);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    const int nHandler = Handlers().at(0);
    bool bAborted = true;
    ASSERT_TRUE(m_plugin.CallAbortCheck(nHandler, bAborted));
    EXPECT_FALSE(bAborted);

    ASSERT_FALSE(ptrTransmitter->Abort(true).IsError());
    ASSERT_TRUE(m_plugin.CallAbortCheck(nHandler, bAborted));
    EXPECT_TRUE(bAborted);
}

TEST_F(WebServiceJobTest, FailuresReachingTheThresholdAbortTheJobWithNothingLost) {
    long long llQueued = 0;
    long long llFailed = 0;
    {
        auto ptrTransmitter = MakeTransmitter(true);
        ptrTransmitter->Options().SetMaxConsecutiveFailuresThreshold(1);
        idxtest::WebServiceItemFailure failure;
        failure.strPath = "/vm/i3";
        m_plugin.FailItem(failure);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());

        for (int i = 0; i < 40; ++i) {
            CKyError error =
                ptrTransmitter->AddToQueue(idxtest::MakeTestItem("/vm/i" + std::to_string(i)));
            if (error.IsError()) {
                EXPECT_EQ(FXErrorUtil::GetWin32(error), 995u);
                break;
            }
            ++llQueued;
        }
        ASSERT_TRUE(idxtest::WaitUntil([&] { return ptrTransmitter->IsAborted(); }));
        EXPECT_EQ(FXErrorUtil::GetWin32(ptrTransmitter->AddToQueue(idxtest::MakeTestItem("/x"))),
                  995u);
        auto ptrWorker = WorkerOf(*ptrTransmitter);
        ASSERT_TRUE(ptrWorker);
        ASSERT_TRUE(idxtest::WaitUntil([&] { return ptrWorker->IsTransmitterIdle(); }));
        EXPECT_EQ(FXErrorUtil::GetWin32(ptrWorker->GetError()), 995u);
        ptrTransmitter->Stop();
        llFailed = ptrTransmitter->State().GetFailedItemCount();
    }
    EXPECT_EQ(m_log.CountAtLevel(
                  "Max indexing errors exceeded threshold limit for sending data to index", -1),
              1u);
    const std::string strFailures = FailuresFile();
    EXPECT_NE(strFailures.find("/vm/i3\n"), std::string::npos);
    const long long llListed = std::count(strFailures.begin(), strFailures.end(), '\n');
    EXPECT_EQ(llListed, llFailed);
    // Every queued item was taken by the plug-in or listed, none both.
    const std::vector<std::string> vecAccepted = PushedPaths(true);
    EXPECT_EQ(static_cast<long long>(vecAccepted.size()) + llListed, llQueued);
    for (const std::string &strPath : vecAccepted) {
        EXPECT_EQ(strFailures.find(strPath + "\n"), std::string::npos) << strPath;
    }
    EXPECT_TRUE(m_plugin.Calls("FinishVMTask").empty());
}

TEST_F(WebServiceJobTest, AWorkerWhoseStartWasCutShortListsItsItemsAndAbortsTheJob) {
    m_ptrCallback->FailInitializeThread(FXErrorUtil::ErrorWin32(FXLOC, 1359, "refused"));
    {
        auto ptrTransmitter = MakeTransmitter(true);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        EXPECT_FALSE(ptrTransmitter->IsAborted());
        ASSERT_FALSE(ptrTransmitter->AddToQueue(idxtest::MakeTestItem("/vm/a")).IsError());
        ASSERT_TRUE(idxtest::WaitUntil([&] { return ptrTransmitter->IsAborted(); }));
        auto ptrWorker = WorkerOf(*ptrTransmitter);
        ASSERT_TRUE(ptrWorker);
        ASSERT_TRUE(idxtest::WaitUntil([&] { return ptrWorker->IsTransmitterIdle(); }));
        EXPECT_EQ(FXErrorUtil::GetWin32(ptrWorker->GetError()), 1359u);
        ptrTransmitter->Stop();
    }
    EXPECT_EQ(m_plugin.HandlersMade(), 0);
    EXPECT_EQ(FailuresFile(), "/vm/a\n");
}

TEST_F(WebServiceJobTest, AJobsQuitQueryThatThrowsInTheStopHookStillFinishesTheTask) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(false);
    idxtest::SetUpVMJob(*set.ptrOptions, m_dir.Path());
    set.ptrOptions->SetCallback(m_ptrCallback);
    set.ptrWorker->OnStart();
    ASSERT_FALSE(set.ptrWorker->HasError()) << set.ptrWorker->GetError().AsString();
    const int nHandler = Handlers().at(0);
    m_ptrCallback->RefuseQuitQueryAfter(0);

    EXPECT_NO_THROW(set.ptrWorker->OnStop());
    // The query counts as "not aborted", as in the plug-in's own abort check.
    EXPECT_EQ(CallsOf(nHandler, "FinishVMTask").size(), 1u);
    EXPECT_EQ(m_log.CountAtLevel("Abort test failed, error=", -1), 1u);
}

// Run by ctest with a library search path on which the plug-in is missing
// (IDX_TEST_WEBSERVICE_PLUGIN=missing) or lacks its entry point (=no-entry-point).
class WebServicePluginLoadTest : public ::testing::Test {
protected:
    void ExpectStartFails(const char *szSetUp, uint32_t nError, const char *szMessage) {
        const char *szRun = getenv("IDX_TEST_WEBSERVICE_PLUGIN");
        if (szRun == nullptr || std::string(szRun) != szSetUp) {
            GTEST_SKIP() << "needs the library search path ctest gives it";
        }
        idxtest::VirtualClock clock;
        idxtest::TempDir dir;
        for (bool bVM : {true, false}) {
            SCOPED_TRACE(bVM ? "virtual machine" : "collaboration site");
            idxtest::LogCapture log(0);
            idxtest::EngineTransmitter transmitter;
            if (bVM) {
                idxtest::SetUpVMJob(transmitter.Options(), dir.Path());
            } else {
                idxtest::SetUpSPJob(transmitter.Options(), dir.Path());
            }
            transmitter.Start();

            EXPECT_TRUE(transmitter.IsAborted());
            const std::list<IIdxTransmitterThreadPtr> lstWorkers = transmitter.State().GetWorkers();
            ASSERT_FALSE(lstWorkers.empty());
            const IIdxTransmitterThreadPtr ptrWorker = lstWorkers.front();
            const CKyError error = ptrWorker->GetError();
            EXPECT_EQ(FXErrorUtil::GetWin32(error), nError);
            EXPECT_NE(error.AsString().find(szMessage), std::string::npos) << error.AsString();
            EXPECT_EQ(log.CountAtLevel("Failed to initialize web service object, error=", -1), 1u);
            EXPECT_EQ(FXErrorUtil::GetWin32(transmitter.AddToQueue(idxtest::MakeTestItem("/a"))),
                      995u);
            transmitter.Stop();
        }
    }
};

TEST_F(WebServicePluginLoadTest, MissingLibraryFailsTheStartWithTheLoadersError) {
    ExpectStartFails("missing", 126, "ModuleName=[libTqCIWebServiceHandler.so]");
}

TEST_F(WebServicePluginLoadTest, MissingEntryPointFailsTheStartWithTheLoadersError) {
    ExpectStartFails("no-entry-point", 127, "getTqCIWebServiceHandle");
}

} // namespace

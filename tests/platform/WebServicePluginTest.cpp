// The stand-in web-service plug-in, loaded by file name from the library search path as the
// library loads it: it records every call with its arguments, keeps its failed list, refuses
// what tests script and what comes out of order, and writes its calls to a file for an operator.
#include "platform/testing/WebServicePlugin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <nlohmann/json.hpp>

#include "platform/CIWebServiceHandler.h"
#include "platform/KyLibrary.h"
#include "tests/support/TempDir.h"

namespace {

using TQLX_ContentIndexing::CCIItemInfo;
using TQLX_ContentIndexing::CCIItemInfoPtr;
using TQLX_ContentIndexing::ICIWSHandler;

class WebServicePluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_library.Load("libTqCIWebServiceHandler.so").IsError())
            << "the stand-in plug-in must be on the library search path (LD_LIBRARY_PATH)";
        void *pAddress = nullptr;
        ASSERT_FALSE(m_library.GetAddress("getTqCIWebServiceHandle", pAddress).IsError());
        m_pfnGetHandle = reinterpret_cast<PFN_getTqCIWebServiceHandle>(pAddress);
    }

    boost::shared_ptr<ICIWSHandler> MakeHandler(bool bVM = true) {
        return boost::shared_ptr<ICIWSHandler>(m_pfnGetHandle(bVM));
    }

    // A handler through Initialize and a submitted task.
    boost::shared_ptr<ICIWSHandler> MakeReadyHandler() {
        boost::shared_ptr<ICIWSHandler> ptrHandler = MakeHandler();
        EXPECT_TRUE(ptrHandler);
        EXPECT_FALSE(ptrHandler->Initialize().IsError());
        std::string strOutput;
        EXPECT_FALSE(
            ptrHandler->SubmitTask("http://127.0.0.1:81/svc", 4, 2, 7, 106, strOutput).IsError());
        return ptrHandler;
    }

    static CCIItemInfoPtr Record(const std::string &strPath,
                                 std::vector<App::NameValueMap> vecProperties = {}) {
        return boost::make_shared<CCIItemInfo>("ver", "cid " + strPath, strPath, 1, vecProperties);
    }

    static App::NameValueMap Pair(const std::string &strName, const std::string &strValue) {
        App::NameValueMap pair;
        pair.setstring(1, 1, strName);
        pair.setstring(2, 5, strValue);
        return pair;
    }

    static std::vector<std::string> Paths(const std::vector<CCIItemInfoPtr> &vecRecords) {
        std::vector<std::string> vecPaths;
        for (const CCIItemInfoPtr &ptrRecord : vecRecords) {
            vecPaths.push_back(ptrRecord->GetPath());
        }
        return vecPaths;
    }

    idxtest::WebServicePlugin m_plugin;
    CKyLibrary m_library;
    PFN_getTqCIWebServiceHandle m_pfnGetHandle = nullptr;
};

TEST_F(WebServicePluginTest, RecordsEveryCallWithItsArguments) {
    boost::shared_ptr<ICIWSHandler> ptrHandler = MakeHandler(true);
    ASSERT_TRUE(ptrHandler);
    EXPECT_EQ(m_plugin.HandlersMade(), 1);
    EXPECT_EQ(m_plugin.HandlersAlive(), 1);
    const int nHandler = m_plugin.Calls("getTqCIWebServiceHandle").at(0).nHandler;
    EXPECT_GT(nHandler, 0);

    ptrHandler->SetSubClientDir("/jobs/sub");
    ptrHandler->SetMode(-2);
    ptrHandler->SetAbortCheck([] { return false; });
    ptrHandler->SetJobId(77);
    ASSERT_FALSE(ptrHandler->Initialize().IsError());
    ptrHandler->SetBatchLimits(20, 0);
    ptrHandler->SetOptionFlag(true);
    ptrHandler->SetPushOnlyMetadata(false);
    std::string strOutput;
    ASSERT_FALSE(
        ptrHandler->SubmitTask("http://127.0.0.1:81/svc", 4000000000u, -3, 77, 106, strOutput)
            .IsError());
    EXPECT_FALSE(strOutput.empty());

    std::vector<App::NameValueMap> vecProperties = {Pair("ParentGUID", "5"), Pair("EXT_NAME", "")};
    CCIItemInfoPtr ptrRecord =
        boost::make_shared<CCIItemInfo>("v1", "vm!AB", "/a.txt", 1, vecProperties);
    EXPECT_TRUE(vecProperties.empty());
    ASSERT_FALSE(ptrHandler->PushItem(ptrRecord).IsError());
    ASSERT_FALSE(ptrHandler->PushItemMetadata(Record("/dir")).IsError());
    EXPECT_FALSE(ptrHandler->FinishVMTask(0).IsError());
    bool bValue = false;
    EXPECT_FALSE(ptrHandler->FinishTask(bValue).IsError());
    ptrHandler.reset();
    EXPECT_EQ(m_plugin.HandlersAlive(), 0);

    EXPECT_EQ(m_plugin.Operations(nHandler),
              (std::vector<std::string>{"getTqCIWebServiceHandle", "SetSubClientDir", "SetMode",
                                        "SetAbortCheck", "SetJobId", "Initialize", "SetBatchLimits",
                                        "SetOptionFlag", "SetPushOnlyMetadata", "SubmitTask",
                                        "PushItem", "PushItemMetadata", "FinishVMTask",
                                        "FinishTask", "~ICIWSHandler"}));
    EXPECT_EQ(m_plugin.Calls("getTqCIWebServiceHandle")[0].Argument("vm"), "1");
    EXPECT_EQ(m_plugin.Calls("SetSubClientDir")[0].Argument("value"), "/jobs/sub");
    EXPECT_EQ(m_plugin.Calls("SetMode")[0].Argument("value"), "-2");
    EXPECT_EQ(m_plugin.Calls("SetAbortCheck")[0].Argument("value"), "1");
    EXPECT_EQ(m_plugin.Calls("SetJobId")[0].Argument("value"), "77");
    EXPECT_EQ(m_plugin.Calls("SetBatchLimits")[0].Argument("itemsPerTransaction"), "20");
    EXPECT_EQ(m_plugin.Calls("SetBatchLimits")[0].Argument("second"), "0");
    EXPECT_EQ(m_plugin.Calls("SetOptionFlag")[0].Argument("value"), "1");
    EXPECT_EQ(m_plugin.Calls("SetPushOnlyMetadata")[0].Argument("value"), "0");
    const idxtest::WebServiceCall submit = m_plugin.Calls("SubmitTask")[0];
    EXPECT_EQ(submit.Argument("url"), "http://127.0.0.1:81/svc");
    EXPECT_EQ(submit.Argument("applicationNumber"), "4000000000");
    EXPECT_EQ(submit.Argument("clientId"), "-3");
    EXPECT_EQ(submit.Argument("jobId"), "77");
    EXPECT_EQ(submit.Argument("applicationType"), "106");
    EXPECT_EQ(m_plugin.Calls("FinishVMTask")[0].Argument("value"), "0");
    EXPECT_EQ(m_plugin.Calls("FinishTask")[0].Argument("value"), "0");

    const std::vector<idxtest::WebServiceCall> vecItems = m_plugin.Items();
    ASSERT_EQ(vecItems.size(), 2u);
    EXPECT_EQ(vecItems[0].strOperation, "PushItem");
    EXPECT_EQ(vecItems[0].strVersionGuid, "v1");
    EXPECT_EQ(vecItems[0].strContentId, "vm!AB");
    EXPECT_EQ(vecItems[0].strPath, "/a.txt");
    EXPECT_EQ(vecItems[0].nDocumentType, 1);
    EXPECT_EQ(vecItems[0].vecProperties, (std::vector<std::pair<std::string, std::string>>{
                                             {"ParentGUID", "5"}, {"EXT_NAME", ""}}));
    EXPECT_EQ(vecItems[1].strOperation, "PushItemMetadata");
    EXPECT_EQ(vecItems[1].strPath, "/dir");
    for (const idxtest::WebServiceCall &call : m_plugin.Calls()) {
        EXPECT_EQ(call.nError, 0u) << call.strOperation;
    }
}

TEST_F(WebServicePluginTest, ScriptedCallRefusals) {
    m_plugin.FailCall("getTqCIWebServiceHandle", 14, 1);
    EXPECT_FALSE(MakeHandler());
    EXPECT_EQ(m_plugin.Calls("getTqCIWebServiceHandle").at(0).nHandler, 0);
    EXPECT_EQ(m_plugin.Calls("getTqCIWebServiceHandle").at(0).nError, 14u);

    boost::shared_ptr<ICIWSHandler> ptrHandler = MakeHandler();
    ASSERT_TRUE(ptrHandler);
    m_plugin.FailCall("Initialize", 1359, 2);
    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrHandler->Initialize(), 1359));
    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrHandler->Initialize(), 1359));
    EXPECT_FALSE(ptrHandler->Initialize().IsError());

    // A call that gives no answer cannot be scripted to fail.
    EXPECT_THROW(m_plugin.FailCall("SetMode"), std::invalid_argument);
    m_plugin.FailCall("SubmitTask");
    std::string strOutput;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(
            FXErrorUtil::IsWin32(ptrHandler->SubmitTask("http://x", 1, 1, 1, 78, strOutput), 774));
    }
    EXPECT_EQ(m_plugin.Calls("SubmitTask").size(), 3u);
    EXPECT_EQ(m_plugin.Calls("SubmitTask")[2].nError, 774u);
}

TEST_F(WebServicePluginTest, ScriptedItemFailuresFillTheFailedList) {
    boost::shared_ptr<ICIWSHandler> ptrHandler = MakeReadyHandler();
    ptrHandler->SetBatchLimits(3, 0);
    idxtest::WebServiceItemFailure listed;
    listed.strPath = "/bad";
    listed.nError = 1359;
    m_plugin.FailItem(listed);
    idxtest::WebServiceItemFailure unlisted;
    unlisted.strPath = "/quiet";
    unlisted.bListed = false;
    m_plugin.FailItem(unlisted);
    idxtest::WebServiceItemFailure withEarlier;
    withEarlier.strPath = "/late";
    withEarlier.vecAlsoListed = {"/early", "/never-pushed"};
    m_plugin.FailItem(withEarlier);

    CCIItemInfoPtr ptrBad = Record("/bad");
    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrHandler->PushItem(ptrBad), 1359));
    ASSERT_EQ(ptrHandler->GetFailedItems().size(), 1u);
    // The very record handed over.
    EXPECT_EQ(ptrHandler->GetFailedItems()[0], ptrBad);
    ptrHandler->ClearFailedItems();
    EXPECT_TRUE(ptrHandler->GetFailedItems().empty());

    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrHandler->PushItemMetadata(Record("/quiet")), 774));
    EXPECT_TRUE(ptrHandler->GetFailedItems().empty());

    EXPECT_FALSE(ptrHandler->PushItem(Record("/early")).IsError());
    EXPECT_FALSE(ptrHandler->PushItem(Record("/ok")).IsError());
    EXPECT_TRUE(ptrHandler->PushItem(Record("/late")).IsError());
    EXPECT_EQ(Paths(ptrHandler->GetFailedItems()), (std::vector<std::string>{"/early", "/late"}));
    ptrHandler->ClearFailedItems();

    // A transaction as large as the batch limit is delivered and let go: its records can no
    // longer fail.
    for (const char *szPath : {"/early", "/b", "/c", "/d"}) {
        EXPECT_FALSE(ptrHandler->PushItem(Record(szPath)).IsError());
    }
    EXPECT_TRUE(ptrHandler->PushItem(Record("/late")).IsError());
    EXPECT_EQ(Paths(ptrHandler->GetFailedItems()), (std::vector<std::string>{"/late"}));

    EXPECT_EQ(m_plugin.Calls("GetFailedItems").size(), 6u);
    EXPECT_EQ(m_plugin.Calls("ClearFailedItems").size(), 2u);
}

TEST_F(WebServicePluginTest, RefusesCallsOutOfOrder) {
    boost::shared_ptr<ICIWSHandler> ptrHandler = MakeHandler();
    std::string strOutput;
    EXPECT_TRUE(
        FXErrorUtil::IsWin32(ptrHandler->SubmitTask("http://x", 1, 1, 1, 78, strOutput), 87));
    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrHandler->PushItem(Record("/a")), 87));
    EXPECT_EQ(Paths(ptrHandler->GetFailedItems()), (std::vector<std::string>{"/a"}));
    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrHandler->PushItem(CCIItemInfoPtr()), 87));

    ASSERT_FALSE(ptrHandler->Initialize().IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(ptrHandler->PushItem(Record("/b")), 87));
    ASSERT_FALSE(ptrHandler->SubmitTask("http://x", 1, 1, 1, 78, strOutput).IsError());
    EXPECT_FALSE(ptrHandler->PushItem(Record("/c")).IsError());
}

TEST_F(WebServicePluginTest, TheAbortCheckCanBeCalledWhileItsHandlerLives) {
    boost::shared_ptr<ICIWSHandler> ptrHandler = MakeHandler();
    const int nHandler = m_plugin.Calls("getTqCIWebServiceHandle").at(0).nHandler;
    bool bAnswer = false;
    EXPECT_FALSE(m_plugin.CallAbortCheck(nHandler, bAnswer));

    int nCalls = 0;
    ptrHandler->SetAbortCheck([&nCalls] { return ++nCalls == 2; });
    ASSERT_TRUE(m_plugin.CallAbortCheck(nHandler, bAnswer));
    EXPECT_FALSE(bAnswer);
    ASSERT_TRUE(m_plugin.CallAbortCheck(nHandler, bAnswer));
    EXPECT_TRUE(bAnswer);

    ptrHandler.reset();
    EXPECT_FALSE(m_plugin.CallAbortCheck(nHandler, bAnswer));
    EXPECT_EQ(nCalls, 2);
}

TEST_F(WebServicePluginTest, WithACallsFileTheFileKeepsTheCalls) {
    idxtest::TempDir dir;
    const std::string strFile = dir / "calls.jsonl";
    ASSERT_EQ(setenv("IDX_WEBSERVICE_CALLS", strFile.c_str(), 1), 0);
    {
        boost::shared_ptr<ICIWSHandler> ptrHandler = MakeReadyHandler();
        std::vector<App::NameValueMap> vecProperties = {Pair("FILE_NAME", "a.txt"),
                                                        Pair("FilePath", "C:/a.txt")};
        EXPECT_FALSE(ptrHandler
                         ->PushItem(boost::make_shared<CCIItemInfo>("v", "vm!1", "/mnt/a.txt", 1,
                                                                    vecProperties))
                         .IsError());
    }
    unsetenv("IDX_WEBSERVICE_CALLS");
    EXPECT_TRUE(m_plugin.Calls().empty());

    std::istringstream lines(idxtest::ReadWholeFile(strFile));
    std::vector<nlohmann::json> vecCalls;
    for (std::string strLine; std::getline(lines, strLine);) {
        vecCalls.push_back(nlohmann::json::parse(strLine));
    }
    ASSERT_EQ(vecCalls.size(), 5u);
    EXPECT_EQ(vecCalls[0]["call"], "getTqCIWebServiceHandle");
    EXPECT_EQ(vecCalls[2]["call"], "SubmitTask");
    EXPECT_EQ(vecCalls[2]["args"]["applicationType"], "106");
    const nlohmann::json &push = vecCalls[3];
    EXPECT_EQ(push["call"], "PushItem");
    EXPECT_EQ(push["error"], 0);
    EXPECT_EQ(push["item"]["path"], "/mnt/a.txt");
    EXPECT_EQ(push["item"]["contentId"], "vm!1");
    EXPECT_EQ(push["item"]["properties"],
              nlohmann::json::parse(R"([["FILE_NAME","a.txt"],["FilePath","C:/a.txt"]])"));
    EXPECT_EQ(vecCalls[4]["call"], "~ICIWSHandler");
    for (size_t i = 0; i < vecCalls.size(); ++i) {
        EXPECT_EQ(vecCalls[i]["seq"], static_cast<long long>(i + 1));
    }
}

} // namespace

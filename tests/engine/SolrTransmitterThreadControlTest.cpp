// The worker's control requests over real HTTP against the engine stand-in: the exact URL, header
// line and body of each, what a failure does, and the values that come from outside (data-source
// names, application ids, URLs) kept from changing the request's structure.
#include "engine/SolrTransmitterThread.h"

#include <gtest/gtest.h>

#include "tests/support/RefusingPort.h"

#include <functional>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::EngineRequest;
using idxtest::EngineRoute;
using idxtest::EngineStub;

std::string PathOf(const std::string &strUrl, const EngineStub &stub) {
    return strUrl.substr(stub.HostUrl().size());
}

class SolrTransmitterThreadControlTest : public ::testing::Test {
protected:
    SolrTransmitterThreadControlTest() : m_log(7), m_rig(m_stub) { g_bEventSent.store(false); }

    // The requests a control request made, without the handle set-up's probe of the ping URL.
    std::vector<EngineRequest> RequestsOf(EngineRoute eRoute) {
        std::vector<EngineRequest> vecRequests;
        for (const EngineRequest &request : m_stub.Requests(eRoute)) {
            if (request.strMethod == "POST") {
                vecRequests.push_back(request);
            }
        }
        return vecRequests;
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::LogCapture m_log;
    EngineStub m_stub;
    idxtest::OneShotRig m_rig;
};

struct ControlCase {
    const char *szName;
    std::function<CKyError(CSolrTransmitterThread &)> fnRequest;
    EngineRoute eRoute;
    std::string strPath;
    std::string strContentType;
    std::string strBody;
};

TEST_F(SolrTransmitterThreadControlTest, EachRequestPostsItsExactUrlHeaderAndBody) {
    const std::string strMain = PathOf(m_stub.UpdateUrl(), m_stub);
    const std::string strAudit = PathOf(m_stub.AuditUrl(), m_stub);
    const std::vector<ControlCase> vecCases = {
        {"commit", [](CSolrTransmitterThread &w) { return w.SendCommit(); }, EngineRoute::Update,
         strMain, "text/xml", "<commit />"},
        {"folder statistics", [](CSolrTransmitterThread &w) { return w.SendComputeFolderStats(); },
         EngineRoute::FolderStats, "/solr/rest/collection1/computefolderstats", "text/xml", ""},
        {"prune up to a time",
         [](CSolrTransmitterThread &w) { return w.PruneAuditCore("2024-05-01T00:00:00Z", "42"); },
         EngineRoute::Update, strAudit, "text/xml",
         "<delete><query>ApplicationId:42 AND EventTime:[* TO 2024-05-01T00:00:00Z]</query>"
         "</delete>"},
        {"prune a whole application",
         [](CSolrTransmitterThread &w) { return w.PruneAuditCore("", "42"); }, EngineRoute::Update,
         strAudit, "text/xml", "<delete><query>ApplicationId:42 </query></delete>"},
        {"delete a data source",
         [](CSolrTransmitterThread &w) { return w.SendDeleteDataSourceContent("ds7"); },
         EngineRoute::Update, strMain, "text/xml",
         "<delete><query>data_source:ds7</query></delete>"},
        {"delete without a data source",
         [](CSolrTransmitterThread &w) { return w.SendDeleteDataSourceContent(""); },
         EngineRoute::Update, strMain, "text/xml",
         "<delete><query>DocumentType:(1 OR 4)</query></delete>"},
        {"delete escapes the name",
         [](CSolrTransmitterThread &w) {
             return w.SendDeleteDataSourceContent("a&b</query><commit/>");
         },
         EngineRoute::Update, strMain, "text/xml",
         "<delete><query>data_source:a&amp;b&lt;/query&gt;&lt;commit/&gt;</query></delete>"},
        {"prune escapes its values",
         [](CSolrTransmitterThread &w) { return w.PruneAuditCore("\"now\"", "<1>"); },
         EngineRoute::Update, strAudit, "text/xml",
         "<delete><query>ApplicationId:&lt;1&gt; AND EventTime:[* TO &quot;now&quot;]</query>"
         "</delete>"},
        {"ping",
         [](CSolrTransmitterThread &w) {
             return w.IsIdxEngineRunning() ? CKyError::Success()
                                           : FXErrorUtil::ErrorWin32(FXLOC, 1168);
         },
         EngineRoute::Ping, "/solr/collection1/admin/ping", "text/json", ""},
    };

    for (const ControlCase &control : vecCases) {
        SCOPED_TRACE(control.szName);
        m_stub.ClearRequests();

        CKyError error = control.fnRequest(*m_rig.ptrWorker);

        EXPECT_FALSE(error.IsError()) << error.AsString();
        std::vector<EngineRequest> vecRequests = RequestsOf(control.eRoute);
        ASSERT_EQ(vecRequests.size(), 1u);
        EXPECT_EQ(vecRequests[0].strPath, control.strPath);
        EXPECT_EQ(vecRequests[0].strQuery, "");
        EXPECT_EQ(vecRequests[0].Header("Content-Type"), control.strContentType);
        EXPECT_EQ(vecRequests[0].strBody, control.strBody);
        EXPECT_EQ(vecRequests[0].nStatus, 200);
        size_t nPosts = 0;
        for (const EngineRequest &request : m_stub.Requests()) {
            nPosts += request.strMethod == "POST" ? 1 : 0;
        }
        EXPECT_EQ(nPosts, 1u) << "no other request";
    }
    EXPECT_FALSE(m_rig.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_log.CountAtLevel("Solr engine is up and running", 0), 1u);
}

TEST_F(SolrTransmitterThreadControlTest, DeleteQueriesRemoveWhatTheyName) {
    m_stub.PutDocument({{"contentid", "k1"}, {"data_source", "ds7"}});
    m_stub.PutDocument({{"contentid", "k2"}, {"data_source", "ds8"}});
    m_stub.PutDocument({{"contentid", "k3"}, {"DocumentType", "1"}});

    m_rig.ptrWorker->SendDeleteDataSourceContent("ds7");
    EXPECT_FALSE(m_stub.Document("k1").has_value());
    EXPECT_TRUE(m_stub.Document("k2").has_value());

    m_rig.ptrWorker->SendDeleteDataSourceContent("");
    EXPECT_FALSE(m_stub.Document("k3").has_value());
    EXPECT_TRUE(m_stub.Document("k2").has_value());
}

TEST_F(SolrTransmitterThreadControlTest, SyncPostsAnEncodedFormToTheMonitoringRoute) {
    ASSERT_FALSE(m_rig.ptrWorker->SyncAuditAndMainCore(-1, "42").IsError());

    std::vector<EngineRequest> vecRequests = RequestsOf(EngineRoute::MonitoringSync);
    ASSERT_EQ(vecRequests.size(), 1u);
    const EngineRequest &request = vecRequests[0];
    EXPECT_EQ(request.strPath, "/solr/rest/monitoring/sync/42");
    EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.nStatus, 200);
    auto encode = [](std::string strText) {
        std::string strOut;
        for (char c : strText) {
            if (c == ':' || c == '/') {
                strOut += c == ':' ? "%3A" : "%2F";
            } else {
                strOut += c;
            }
        }
        return strOut;
    };
    EXPECT_EQ(request.strBody, "eventBits=4294967295&sourceUrl=" + encode(m_stub.AuditUrl()) +
                                   "&targetUrl=" + encode(m_stub.UpdateUrl()));
    EXPECT_EQ(m_log.CountAtLevel("SyncAuditAndMainCore QUERY:" + request.strBody, 1), 1u);
}

TEST_F(SolrTransmitterThreadControlTest, SyncFormSurvivesUrlsWithQueryCharacters) {
    // A URL with its own "&" and "=" must stay one form value.
    const std::string strAudit = m_stub.AuditUrl() + "?a=1&b=2";
    m_rig.ptrOptions->SetAuditSolrUrl(strAudit);

    ASSERT_FALSE(m_rig.ptrWorker->SyncAuditAndMainCore(5, "7").IsError());

    std::vector<EngineRequest> vecRequests = RequestsOf(EngineRoute::MonitoringSync);
    ASSERT_EQ(vecRequests.size(), 1u);
    const std::string &strBody = vecRequests[0].strBody;
    EXPECT_EQ(strBody.find("eventBits=5&sourceUrl="), 0u);
    EXPECT_NE(strBody.find("%3Fa%3D1%26b%3D2&targetUrl="), std::string::npos) << strBody;
}

TEST_F(SolrTransmitterThreadControlTest, SyncWithoutApplicationIdSendsNothing) {
    EXPECT_FALSE(m_rig.ptrWorker->SyncAuditAndMainCore(3, "").IsError());
    EXPECT_EQ(m_stub.RequestCount(), 0u);
    EXPECT_EQ(m_log.CountAtLevel("PruneAuditAndMainCore not called as ApplicationId is 0", -1), 1u);
}

TEST_F(SolrTransmitterThreadControlTest, CommitGoesToTheAuditCoreInAuditingContext) {
    m_rig.ptrOptions->SetAuditingContext(true);
    m_rig.ptrWorker->SendCommit();
    EXPECT_EQ(m_stub.CommitCount(EngineStub::kAuditCore), 1);
    EXPECT_EQ(m_stub.CommitCount(EngineStub::kMainCore), 0);
}

TEST_F(SolrTransmitterThreadControlTest, CommitOfWebServiceJobsSendsNothing) {
    for (int nMode = 0; nMode < 2; ++nMode) {
        idxtest::OneShotRig rig(m_stub);
        rig.ptrOptions->SetVMContentIndexing(nMode == 0);
        rig.ptrOptions->SetSPContentIndexing(nMode == 1);
        EXPECT_FALSE(rig.ptrWorker->SendCommit().IsError());
    }
    EXPECT_EQ(m_stub.RequestCount(), 0u);
}

TEST_F(SolrTransmitterThreadControlTest, FolderStatisticsRewriteThePathOnly) {
    // A user name "solr" puts "/solr" into the authority ("//solr@..."): it must stay there.
    const std::string strHostPort = m_stub.HostUrl().substr(std::string("http://").size());
    m_rig.ptrOptions->SetCompleteSolrUrl("http://solr@" + strHostPort +
                                         "/solr/collection1/update?wt=xml");
    m_rig.ptrWorker->SendComputeFolderStats();

    // Every "/solr" of the path is rewritten, also inside a longer segment.
    m_rig.ptrOptions->SetCompleteSolrUrl(m_stub.HostUrl() + "/solr/solrcore/update");
    m_rig.ptrWorker->SendComputeFolderStats();

    std::vector<EngineRequest> vecRequests;
    for (const EngineRequest &request : m_stub.Requests()) {
        if (request.strMethod == "POST") {
            vecRequests.push_back(request);
        }
    }
    ASSERT_EQ(vecRequests.size(), 2u);
    EXPECT_EQ(vecRequests[0].eRoute, EngineRoute::FolderStats);
    EXPECT_EQ(vecRequests[0].strPath, "/solr/rest/collection1/computefolderstats");
    EXPECT_EQ(vecRequests[0].strQuery, "");
    EXPECT_EQ(vecRequests[1].strPath, "/solr/rest/solr/restcore/computefolderstats");
    EXPECT_EQ(m_log.CountAtLevel("Sending request to [http://solr@" + strHostPort +
                                     "/solr/rest/collection1/computefolderstats] compute folder "
                                     "statistics",
                                 0),
              1u);
}

TEST_F(SolrTransmitterThreadControlTest, FailedRequestsReportSuccessAndLeaveThePushFailedFlag) {
    struct FailureCase {
        const char *szName;
        std::function<CKyError(CSolrTransmitterThread &)> fnRequest;
        EngineRoute eRoute;
        std::string strLogLine;
    };
    const std::vector<FailureCase> vecCases = {
        {"commit", [](CSolrTransmitterThread &w) { return w.SendCommit(); }, EngineRoute::Update,
         "Failed to send commit to solr, error="},
        {"delete", [](CSolrTransmitterThread &w) { return w.SendDeleteDataSourceContent("x"); },
         EngineRoute::Update, "Failed to delete data source content, error="},
        {"prune", [](CSolrTransmitterThread &w) { return w.PruneAuditCore("", "1"); },
         EngineRoute::Update, "Failed to PruneAuditCore, error="},
        {"sync", [](CSolrTransmitterThread &w) { return w.SyncAuditAndMainCore(1, "1"); },
         EngineRoute::MonitoringSync, "Failed to SyncAuditAndMainCore, error="},
        {"folder statistics", [](CSolrTransmitterThread &w) { return w.SendComputeFolderStats(); },
         EngineRoute::FolderStats, "Failed to send computefolderstats to solr, error="},
    };
    for (const FailureCase &failure : vecCases) {
        SCOPED_TRACE(failure.szName);
        idxtest::OneShotRig rig(m_stub);
        ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
        m_stub.FailNext(failure.eRoute, 1, 400);
        m_log.Clear();

        EXPECT_FALSE(failure.fnRequest(*rig.ptrWorker).IsError());

        EXPECT_TRUE(rig.ptrState->IfPushDataToSolrFailed());
        EXPECT_EQ(m_log.CountAtLevel(failure.strLogLine, -1), 1u);
    }
}

TEST_F(SolrTransmitterThreadControlTest, PingOfAnEngineThatDoesNotAnswerIsFalseAtOnce) {
    // Nothing queued: an engine without answer is not waited for.
    idxtest::RefusingPort refusing;
    m_rig.ptrOptions->SetBaseSolrUrl(refusing.Url("/solr/collection1/"));
    const std::string strUrl = refusing.Url("/solr/collection1/admin/ping");

    EXPECT_FALSE(m_rig.ptrWorker->IsIdxEngineRunning());

    EXPECT_EQ(m_log.CountAtLevel("Solr ping request to server failed, URL[" + strUrl + "]", -1),
              1u);
    // The line says why: what the HTTP client reported of the connection.
    std::vector<std::string> vecPingLines;
    for (const idxtest::CapturedLogLine &line : m_log.Lines()) {
        if (line.nLevel == -1 && line.strText.find("Solr ping request") != std::string::npos) {
            vecPingLines.push_back(line.strText);
        }
    }
    ASSERT_EQ(vecPingLines.size(), 1u);
    EXPECT_NE(vecPingLines[0].find("curl error 7:"), std::string::npos) << vecPingLines[0];
    EXPECT_EQ(m_log.Count("Thread going to sleep"), 0u);
}

} // namespace

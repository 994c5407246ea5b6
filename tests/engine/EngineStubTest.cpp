// The engine stand-in over real HTTP, with a plain HTTP client: what it stores, what it refuses,
// what it answers to the select form of the restart query, and how its scripts misbehave.
#include "tests/support/engine/EngineStub.h"
#include "platform/ContentIndexingMessages.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <thread>

extern char **environ;

namespace {

using idxtest::EngineRoute;
using idxtest::EngineStub;

class EngineStubTest : public ::testing::Test {
protected:
    EngineStubTest() : m_client(m_stub.HostUrl()) {
        // Paths are sent exactly as written, like the library's URLs.
        m_client.set_url_encode(false);
        m_client.set_keep_alive(false);
    }

    // Path and query of one of the stub's URLs.
    std::string PathOf(const std::string &strUrl) const {
        return strUrl.substr(m_stub.HostUrl().size());
    }
    httplib::Result PostXml(const std::string &strBody,
                            const std::string &strCore = "collection1") {
        return m_client.Post(PathOf(m_stub.UpdateUrl(strCore)).c_str(), strBody, "text/xml");
    }
    httplib::Result Get(const std::string &strUrl) { return m_client.Get(PathOf(strUrl).c_str()); }

    EngineStub m_stub;
    httplib::Client m_client;
};

std::string Field(const std::string &strName, const std::string &strValue,
                  const std::string &strUpdate = "set") {
    std::string strAttr = strUpdate.empty() ? "" : " update=\"" + strUpdate + "\"";
    return "<field name=\"" + strName + "\"" + strAttr + "><![CDATA[" + strValue + "]]></field>";
}

std::string Doc(const std::string &strKey, const std::string &strFields) {
    return "<doc>" + Field("contentid", strKey, "") + strFields + "</doc>";
}

// Status and message of an engine-style XML answer.
void ReadEngineAnswer(const std::string &strBody, int &nStatus, std::string &strMessage) {
    pugi::xml_document xml;
    ASSERT_TRUE(xml.load_string(strBody.c_str())) << strBody;
    nStatus = xml.select_node("/response/lst[@name='responseHeader']/int[@name='status']")
                  .node()
                  .text()
                  .as_int(-1);
    strMessage =
        xml.select_node("/response/lst[@name='error']/str[@name='msg']").node().text().get();
}

TEST_F(EngineStubTest, AtomicUpdatesSetAndAddFieldsOfTheDocumentNamedByContentId) {
    auto res = PostXml(
        "<add>" +
        Doc("k1", Field("FileName", "a.txt") + Field("FileAccessedByUserName", "alice", "add")) +
        Doc("k2", Field("FileName", "x]]]]><![CDATA[>y")) + "</add>");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    int nStatus = -1;
    std::string strMessage;
    ReadEngineAnswer(res->body, nStatus, strMessage);
    EXPECT_EQ(0, nStatus);

    res =
        PostXml("<add>" +
                Doc("k1", Field("FileName", "b.txt") +
                              Field("FileAccessedByUserName", "bob", "add") + Field("Size", "12")) +
                "</add>");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);

    auto doc = m_stub.Document("k1");
    ASSERT_TRUE(doc);
    EXPECT_EQ("k1", doc->Value("contentid"));
    EXPECT_EQ(std::vector<std::string>({"b.txt"}), doc->Values("FileName"));
    EXPECT_EQ(std::vector<std::string>({"alice", "bob"}), doc->Values("FileAccessedByUserName"));
    EXPECT_EQ("12", doc->Value("Size"));
    EXPECT_FALSE(doc->bExtracted);
    // A value split between two CDATA sections is one value again.
    EXPECT_EQ("x]]>y", m_stub.Document("k2")->Value("FileName"));

    // A document without update attributes replaces the stored one whole.
    res = PostXml("<add>" + Doc("k1", Field("Plain", "p", "")) + "</add>");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    doc = m_stub.Document("k1");
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->Has("FileName"));
    EXPECT_EQ("p", doc->Value("Plain"));
    EXPECT_EQ(2u, m_stub.DocumentCount());
}

TEST_F(EngineStubTest, CommitsAreCountedPerCore) {
    for (const char *szBody : {"<commit />", "<commit/>", "<commit waitSearcher=\"false\"/>"}) {
        auto res = PostXml(szBody);
        ASSERT_TRUE(res);
        EXPECT_EQ(200, res->status) << szBody;
    }
    ASSERT_TRUE(PostXml("<commit />", EngineStub::kAuditCore));
    EXPECT_EQ(3, m_stub.CommitCount(EngineStub::kMainCore));
    EXPECT_EQ(1, m_stub.CommitCount(EngineStub::kAuditCore));
    EXPECT_EQ(4, m_stub.CommitCount());
}

TEST_F(EngineStubTest, DeleteQueriesRemoveTheMatchingDocuments) {
    struct Case {
        const char *szDelete;
        std::vector<std::string> vecRemaining;
    } cases[] = {
        {"<delete><query>data_source:ds1</query></delete>", {"d2", "d3", "d4"}},
        {"<delete><query>DocumentType:(1 OR 4)</query></delete>", {"d3"}},
        {"<delete><query>ApplicationId:app7 AND EventTime:[* TO 2024-02-01T00:00:00Z]</query>"
         "</delete>",
         {"d2", "d3", "d4"}},
        {"<delete><query>ApplicationId:app7 </query></delete>", {"d3", "d4"}},
        {"<delete><query>FileName:\"a b.txt\"</query></delete>", {"d1", "d3", "d4"}},
        {"<delete><id>d4</id><query>Size:[10 TO *]</query></delete>", {"d1", "d2"}},
        {"<delete><query>*:*</query></delete>", {}},
    };
    for (const Case &c : cases) {
        m_stub.ClearDocuments();
        m_stub.PutDocument({{"contentid", "d1"},
                            {"data_source", "ds1"},
                            {"DocumentType", "1"},
                            {"ApplicationId", "app7"},
                            {"EventTime", "2024-01-15T10:00:00Z"}});
        m_stub.PutDocument({{"contentid", "d2"},
                            {"data_source", "ds2"},
                            {"DocumentType", "4"},
                            {"ApplicationId", "app7"},
                            {"EventTime", "2024-03-01T00:00:00Z"},
                            {"FileName", "a b.txt"}});
        m_stub.PutDocument({{"contentid", "d3"}, {"DocumentType", "2"}, {"Size", "100"}});
        m_stub.PutDocument({{"contentid", "d4"}, {"DocumentType", "1"}, {"Size", "9"}});
        auto res = PostXml(c.szDelete);
        ASSERT_TRUE(res);
        EXPECT_EQ(200, res->status) << c.szDelete << "\n" << res->body;
        std::vector<std::string> vecKeys;
        for (const auto &entry : m_stub.Documents())
            vecKeys.push_back(entry.first);
        EXPECT_EQ(c.vecRemaining, vecKeys) << c.szDelete;
    }
}

TEST_F(EngineStubTest, MalformedBodiesGet400WithAnEngineErrorAnswerAndChangeNothing) {
    const std::string strGood = Doc("k9", Field("FileName", "ok"));
    struct Case {
        std::string strBody;
        std::string strContentType;
    } cases[] = {
        {"<add><doc>", "text/xml"},
        {"", "text/xml"},
        {"<add><doc>" + Field("FileName", "no key") + "</doc></add>", "text/xml"},
        {"<add>" + Doc("k1", Field("Size", "1", "inc")) + "</add>", "text/xml"},
        {"<add><doc>" + Field("contentid", "k1", "set") + "</doc></add>", "text/xml"},
        {"<add>" + Doc("k1", "<field update=\"set\">x</field>") + "</add>", "text/xml"},
        {"<add>" + Doc("k1", "<field name=\"a\" update=\"set\"><b/></field>") + "</add>",
         "text/xml"},
        {"<add>" + strGood + "<junk/></add>", "text/xml"},
        {"<add>" + strGood + "</add><add/>", "text/xml"},
        {"<add>" +
             Doc("k1", Field("FileName", "bad\xff"
                                         "byte")) +
             "</add>",
         "text/xml"},
        {"<add>" +
             Doc("k1", Field("FileName", "ctl\x01"
                                         "char")) +
             "</add>",
         "text/xml"},
        {"<add>" + Doc("k1", Field("FileName", "nonchar\xEF\xBF\xBE")) + "</add>", "text/xml"},
        {"<add>" + Doc("k1", "<field name=\"a\" update=\"set\">&#1;</field>") + "</add>",
         "text/xml"},
        // The schema's integer fields take whole numbers only, never an empty text.
        {"<add>" + Doc("k1", Field("ClientId", "", "")) + "</add>", "text/xml"},
        {"<add>" + Doc("k1", Field("ApplicationId", "", "set")) + "</add>", "text/xml"},
        {"<add>" + Doc("k1", Field("JobId", "7x", "")) + "</add>", "text/xml"},
        {"<add>" + Doc("k1", Field("Size", "-", "")) + "</add>", "text/xml"},
        {"<add>" + Doc("k1", Field("CollectOffset", "18446744073709551616", "")) + "</add>",
         "text/xml"},
        {"<optimize/>", "text/xml"},
        {"<delete><query>a:1 OR b:2</query></delete>", "text/xml"},
        {"<delete><query>DocumentType:(1 OR</query></delete>", "text/xml"},
        {"<add>" + strGood + "</add>", "application/x-www-form-urlencoded"},
    };
    for (const Case &c : cases) {
        auto res =
            m_client.Post(PathOf(m_stub.UpdateUrl()).c_str(), c.strBody, c.strContentType.c_str());
        ASSERT_TRUE(res) << c.strBody;
        EXPECT_EQ(400, res->status) << c.strBody;
        int nStatus = -1;
        std::string strMessage;
        ReadEngineAnswer(res->body, nStatus, strMessage);
        EXPECT_EQ(400, nStatus) << c.strBody;
        EXPECT_FALSE(strMessage.empty()) << c.strBody;
        EXPECT_NE(std::string::npos, res->body.find("<int name=\"code\">400</int>"));
    }
    EXPECT_EQ(0u, m_stub.DocumentCount());
    EXPECT_EQ(0, m_stub.CommitCount());
}

TEST_F(EngineStubTest, ExtractStoresTheLiteralsAndTheRawBytes) {
    const std::string strBytes("PK\x03\x04\x00\xff body\r\n", 13);
    const std::string strQuery = "?&literal.contentid=k5&literal.FileName=a%20b%26c.txt"
                                 "&literal.FileContentHash=ABCDEF&literal.Tag=t1&literal.Tag=t2";
    auto res = m_client.Post((PathOf(m_stub.ExtractUrl()) + strQuery).c_str(), strBytes,
                             "application/octet-stream");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);

    auto doc = m_stub.Document("k5");
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->bExtracted);
    EXPECT_EQ(strBytes, doc->strContent);
    EXPECT_EQ("a b&c.txt", doc->Value("FileName"));
    EXPECT_EQ("ABCDEF", doc->Value("FileContentHash"));
    EXPECT_EQ(std::vector<std::string>({"t1", "t2"}), doc->Values("Tag"));

    auto vecRequests = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(1u, vecRequests.size());
    EXPECT_EQ(strQuery.substr(1), vecRequests[0].strQuery);
    ASSERT_EQ(5u, vecRequests[0].vecParams.size());
    EXPECT_EQ("literal.contentid", vecRequests[0].vecParams[0].first);
    EXPECT_EQ("literal.Tag", vecRequests[0].vecParams[4].first);
    EXPECT_EQ("application/octet-stream", vecRequests[0].Header("content-type"));
    EXPECT_EQ(strBytes, vecRequests[0].strBody);

    // The other extract path, and a push without a key is refused.
    res = m_client.Post((PathOf(m_stub.UpdateUrl()) + "/extract?literal.FileName=x").c_str(), "x",
                        "application/octet-stream");
    ASSERT_TRUE(res);
    EXPECT_EQ(400, res->status);

    // Literals of the schema's integer fields take whole numbers of 64 bits only.
    const std::pair<const char *, int> typedCases[] = {
        {"?literal.contentid=k6&literal.ClientId=", 400},
        {"?literal.contentid=k7&literal.ApplicationId=0&literal.JobId=-1"
         "&literal.CollectOffset=18446744073709551615",
         200},
    };
    for (const auto &[szQuery, nStatus] : typedCases) {
        res = m_client.Post((PathOf(m_stub.ExtractUrl()) + szQuery).c_str(), "x",
                            "application/octet-stream");
        ASSERT_TRUE(res) << szQuery;
        EXPECT_EQ(nStatus, res->status) << szQuery;
    }
    EXPECT_FALSE(m_stub.Document("k6"));
    EXPECT_TRUE(m_stub.Document("k7"));
}

TEST_F(EngineStubTest, ParametersThatAreNotUtf8AfterDecodingAreRefused) {
    struct ParameterCase {
        std::string strQuery;
        int nStatus;
    };
    const std::vector<ParameterCase> vecCases = {
        {"?literal.contentid=k1&literal.FileName=inv%ff%fe.txt", 400},
        {"?literal.contentid=k2&literal.FileName%c3=x", 400},
        {"?literal.contentid=k3&literal.FileName=%c3%28", 400},
        {"?literal.contentid=k4&literal.FileName=inv%ef%bf%bd%ef%bf%bd.txt", 200},
        {"?literal.contentid=k5&literal.FileName=stra%c3%9fe", 200},
    };
    for (const ParameterCase &test : vecCases) {
        auto res = m_client.Post((PathOf(m_stub.ExtractUrl()) + test.strQuery).c_str(), "bytes",
                                 "application/octet-stream");
        ASSERT_TRUE(res) << test.strQuery;
        EXPECT_EQ(test.nStatus, res->status) << test.strQuery;
    }
    EXPECT_EQ(2u, m_stub.DocumentCount());
    auto doc = m_stub.Document("k4");
    ASSERT_TRUE(doc);
    EXPECT_EQ("inv\xEF\xBF\xBD\xEF\xBF\xBD.txt", doc->Value("FileName"));
    ASSERT_TRUE(m_stub.Document("k5"));
    // Every route decodes its parameters the same way.
    auto res = Get(m_stub.SelectUrl() + "?q=%ff&wt=json");
    ASSERT_TRUE(res);
    EXPECT_EQ(400, res->status);
}

TEST_F(EngineStubTest, SelectAnswersTheRestartQueryFormAsTypedJson) {
    m_stub.PutDocument(
        {{"contentid", "a"}, {"JobId", "77"}, {"CollectId", "1"}, {"CollectOffset", "100"}});
    m_stub.PutDocument(
        {{"contentid", "b"}, {"JobId", "77"}, {"CollectId", "1"}, {"CollectOffset", "4096"}});
    m_stub.PutDocument(
        {{"contentid", "c"}, {"JobId", "77"}, {"CollectId", "1"}, {"CollectOffset", "2000"}});
    m_stub.PutDocument(
        {{"contentid", "d"}, {"JobId", "78"}, {"CollectId", "1"}, {"CollectOffset", "99999"}});
    m_stub.PutDocument({{"contentid", "e"},
                        {"JobId", "77"},
                        {"CollectId", "3"},
                        {"CollectOffset", "18446744073709551615"}});
    m_stub.PutDocument({{"contentid", "f"},
                        {"JobId", "77"},
                        {"CollectId", "3"},
                        {"CollectOffset", "18446744073709551614"}});
    struct Case {
        int nCollectId;
        size_t nFound;
        const char *szTopOffset; // nullptr: no document
    } cases[] = {{1, 3, "4096"}, {2, 0, nullptr}, {3, 2, "18446744073709551615"}};
    for (const Case &c : cases) {
        std::string strUrl = m_stub.SelectUrl() + "?q=CollectId:" + std::to_string(c.nCollectId) +
                             "%20AND%20JobId:77&wt=json&rows=1&sort=CollectOffset%20desc";
        auto res = Get(strUrl);
        ASSERT_TRUE(res);
        ASSERT_EQ(200, res->status) << res->body;
        auto json = nlohmann::json::parse(res->body);
        EXPECT_EQ(0, json["responseHeader"]["status"]);
        EXPECT_EQ(c.nFound, json["response"]["numFound"].get<size_t>());
        EXPECT_EQ(0, json["response"]["start"]);
        const auto &docs = json["response"]["docs"];
        ASSERT_TRUE(docs.is_array());
        if (c.szTopOffset == nullptr) {
            EXPECT_TRUE(docs.empty());
            continue;
        }
        ASSERT_EQ(1u, docs.size());
        EXPECT_TRUE(docs[0]["CollectId"].is_number_integer());
        EXPECT_EQ(c.nCollectId, docs[0]["CollectId"].get<int>());
        EXPECT_EQ(std::stoull(c.szTopOffset), docs[0]["CollectOffset"].get<unsigned long long>());
    }

    // Field list, and queries the stand-in cannot judge are refused rather than guessed.
    auto res = Get(m_stub.SelectUrl() + "?q=JobId:78&wt=json&fl=contentid,CollectOffset");
    ASSERT_TRUE(res);
    auto json = nlohmann::json::parse(res->body);
    EXPECT_EQ(nlohmann::json::parse(R"([{"contentid":"d","CollectOffset":99999}])"),
              json["response"]["docs"]);
    for (const char *szQuery :
         {"?q=JobId:77%20OR%20JobId:78&wt=json", "?q=JobId:77", "?wt=json",
          "?q=JobId:77&wt=json&sort=CollectOffset%20up", "?q=JobId:77&wt=json&rows=x"}) {
        res = Get(m_stub.SelectUrl() + szQuery);
        ASSERT_TRUE(res);
        EXPECT_EQ(400, res->status) << szQuery;
    }
}

TEST_F(EngineStubTest, ScriptedFailuresComeFirstThenTheRouteWorksAgain) {
    m_stub.FailNext(EngineRoute::Update, 2, 590);
    const std::string strBody = "<add>" + Doc("k1", Field("FileName", "a")) + "</add>";
    std::vector<int> vecStatus;
    for (int i = 0; i < 3; ++i) {
        auto res = PostXml(strBody);
        ASSERT_TRUE(res);
        vecStatus.push_back(res->status);
        if (res->status != 200) {
            int nStatus = -1;
            std::string strMessage;
            ReadEngineAnswer(res->body, nStatus, strMessage);
            EXPECT_EQ(590, nStatus);
        }
        // Other routes are not affected by the update route's script.
        auto resPing = Get(m_stub.PingUrl());
        ASSERT_TRUE(resPing);
        EXPECT_EQ(200, resPing->status);
    }
    EXPECT_EQ(std::vector<int>({590, 590, 200}), vecStatus);
    EXPECT_EQ(1u, m_stub.DocumentCount());

    std::vector<int> vecLogged;
    for (const auto &request : m_stub.Requests(EngineRoute::Update)) {
        vecLogged.push_back(request.nStatus);
    }
    EXPECT_EQ(vecStatus, vecLogged);

    // A scripted body is answered as given, here an empty one and an HTML error page.
    idxtest::EngineScript script;
    script.nStatus = 503;
    m_stub.Script(EngineRoute::Update, script);
    script.strBody = EngineStub::HtmlErrorPage(500, "Server is shutting down.");
    script.strContentType = "text/html";
    m_stub.Script(EngineRoute::Update, script);
    auto res = PostXml(strBody);
    ASSERT_TRUE(res);
    EXPECT_EQ(503, res->status);
    EXPECT_EQ("", res->body);
    res = PostXml(strBody);
    ASSERT_TRUE(res);
    pugi::xml_document xml;
    ASSERT_TRUE(xml.load_string(res->body.c_str())) << res->body;
    EXPECT_STREQ("    Server is shutting down.", xml.select_node("//pre").node().text().get());
}

TEST_F(EngineStubTest, DelayedAnswersWaitAndStopCutsTheWaitShort) {
    m_stub.DelayNext(EngineRoute::Ping, 60);
    auto tStart = std::chrono::steady_clock::now();
    auto res = Get(m_stub.PingUrl());
    auto nElapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - tStart)
                          .count();
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    EXPECT_GE(nElapsedMs, 60);

    m_stub.DelayNext(EngineRoute::Ping, 60000);
    std::thread threadClient([this] { Get(m_stub.PingUrl()); });
    for (int i = 0; i < 2000 && m_stub.RequestCount() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(2u, m_stub.RequestCount());
    tStart = std::chrono::steady_clock::now();
    m_stub.Stop();
    threadClient.join();
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(5));
}

TEST_F(EngineStubTest, DroppedConnectionsGiveNoAnswerAndLaterRequestsAreServed) {
    m_stub.DropNext(EngineRoute::Update, 1);
    const std::string strBody = "<add>" + Doc("k1", Field("FileName", "a")) + "</add>";
    auto res = PostXml(strBody);
    EXPECT_FALSE(res);
    EXPECT_EQ(httplib::Error::Read, res.error());
    res = PostXml(strBody);
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);

    auto vecRequests = m_stub.Requests(EngineRoute::Update);
    ASSERT_EQ(2u, vecRequests.size());
    EXPECT_EQ(0, vecRequests[0].nStatus);
    EXPECT_EQ(200, vecRequests[1].nStatus);
    EXPECT_EQ(strBody, vecRequests[0].strBody);
}

TEST_F(EngineStubTest, RequestLogKeepsEveryRequestInOrderWithItsRoute) {
    httplib::Headers headers = {{"X-Client-Name", "client7"}};
    ASSERT_TRUE(m_client.Post(PathOf(m_stub.PingUrl()).c_str(), headers, "", "text/json"));
    ASSERT_TRUE(m_client.Post(PathOf(m_stub.FolderStatsUrl()).c_str(), "", "text/xml"));
    const std::string strForm =
        "eventBits=4294967295&sourceUrl=" + m_stub.AuditUrl() + "&targetUrl=" + m_stub.UpdateUrl();
    auto res = m_client.Post(PathOf(m_stub.SyncUrl("app7")).c_str(), strForm,
                             "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    // The sync is a form post; a body without a form content type is refused.
    res = m_client.Post(PathOf(m_stub.SyncUrl("app7")).c_str(), strForm, "text/xml");
    ASSERT_TRUE(res);
    EXPECT_EQ(400, res->status);
    res = Get(m_stub.HostUrl() + "/solr/collection1/nothing?x=1");
    ASSERT_TRUE(res);
    EXPECT_EQ(404, res->status);
    pugi::xml_document xml;
    ASSERT_TRUE(xml.load_string(res->body.c_str())) << res->body;
    EXPECT_STREQ("    Not Found", xml.select_node("//pre").node().text().get());

    auto vecRequests = m_stub.Requests();
    ASSERT_EQ(5u, vecRequests.size());
    struct Expected {
        EngineRoute eRoute;
        const char *szMethod;
        std::string strPath;
        const char *szCore;
        int nStatus;
    } expected[] = {
        {EngineRoute::Ping, "POST", "/solr/collection1/admin/ping", "collection1", 200},
        {EngineRoute::FolderStats, "POST", "/solr/rest/collection1/computefolderstats",
         "collection1", 200},
        {EngineRoute::MonitoringSync, "POST", "/solr/rest/monitoring/sync/app7", "", 200},
        {EngineRoute::MonitoringSync, "POST", "/solr/rest/monitoring/sync/app7", "", 400},
        {EngineRoute::Other, "GET", "/solr/collection1/nothing", "", 404},
    };
    for (size_t i = 0; i < vecRequests.size(); ++i) {
        EXPECT_EQ(expected[i].eRoute, vecRequests[i].eRoute) << i;
        EXPECT_EQ(expected[i].szMethod, vecRequests[i].strMethod) << i;
        EXPECT_EQ(expected[i].strPath, vecRequests[i].strPath) << i;
        EXPECT_EQ(expected[i].szCore, vecRequests[i].strCore) << i;
        EXPECT_EQ(expected[i].nStatus, vecRequests[i].nStatus) << i;
    }
    EXPECT_EQ("client7", vecRequests[0].Header("x-client-name"));
    EXPECT_EQ("text/json", vecRequests[0].Header("Content-Type"));
    EXPECT_EQ(strForm, vecRequests[2].strBody);
    EXPECT_EQ("x=1", vecRequests[4].strQuery);
    EXPECT_EQ("1", vecRequests[4].Param("x"));
    EXPECT_STREQ("monitoring-sync", idxtest::EngineRouteName(vecRequests[2].eRoute));
    EXPECT_TRUE(m_stub.WaitForRequests(5, 1000));

    m_stub.ClearRequests();
    EXPECT_TRUE(m_stub.Requests().empty());
    EXPECT_EQ(5u, m_stub.RequestCount());
}

TEST_F(EngineStubTest, SearchExportAnswersASearchRequestWithItsScriptedLines) {
    std::string strRequest;
    ASSERT_EQ(PyxContentIndexing::TQSearchReq().serialize(strRequest, false), 0);
    std::string strOtherRecord;
    ASSERT_EQ(CNMessageBase(14, 168).serialize(strOtherRecord, false), 0);
    const std::string strPath = "/Stream/ExportSearchResults?writer=1";

    // No lines scripted: an empty answer.
    auto res = m_client.Post(strPath.c_str(), strRequest, "text/xml");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    EXPECT_EQ("", res->body);

    m_stub.SetExportLines({"/a/b.txt", "/a/c d.txt"});
    struct Case {
        std::string strPath;
        std::string strBody;
        int nStatus;
        const char *szAnswer; // null: an engine error answer
    };
    const Case cases[] = {
        {strPath, strRequest, 200, "/a/b.txt\n/a/c d.txt\n"},
        // A base URL ending in "/" puts two slashes before the path.
        {"/" + strPath, strRequest, 200, "/a/b.txt\n/a/c d.txt\n"},
        {"/Stream/ExportSearchResults", strRequest, 400, nullptr},
        {strPath, strOtherRecord, 400, nullptr},
        {strPath, "<add/>", 400, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.strPath + " " + c.strBody);
        res = m_client.Post(c.strPath.c_str(), c.strBody, "text/xml");
        ASSERT_TRUE(res);
        EXPECT_EQ(c.nStatus, res->status);
        if (c.szAnswer) {
            EXPECT_EQ(c.szAnswer, res->body);
        } else {
            int nStatus = 0;
            std::string strMessage;
            ReadEngineAnswer(res->body, nStatus, strMessage);
            EXPECT_EQ(400, nStatus);
        }
    }
    res = m_client.Get(strPath.c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(405, res->status);

    auto vecRequests = m_stub.Requests(EngineRoute::ExportSearchResults);
    ASSERT_EQ(7u, vecRequests.size());
    EXPECT_EQ("//Stream/ExportSearchResults", vecRequests[2].strPath);
    EXPECT_EQ(strRequest, vecRequests[1].strBody);
    EXPECT_STREQ("export-search-results", idxtest::EngineRouteName(vecRequests[0].eRoute));
}

TEST_F(EngineStubTest, RequestsThatTheHttpLayerRefusesAreLoggedAndAnsweredLikeTheEngine) {
    // A chunked body that is not chunked, which the HTTP server refuses before any route sees it
    // (as it does a POST without Content-Length once its read time-out has passed).
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(m_stub.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr));
    const std::string strRequest =
        "POST " + PathOf(m_stub.PingUrl()) +
        " HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n";
    ASSERT_EQ(static_cast<ssize_t>(strRequest.size()),
              send(fd, strRequest.data(), strRequest.size(), MSG_NOSIGNAL));
    std::string strAnswer;
    char szBuffer[4096];
    for (ssize_t n; (n = recv(fd, szBuffer, sizeof szBuffer, 0)) > 0;)
        strAnswer.append(szBuffer, n);
    close(fd);
    EXPECT_EQ(0u, strAnswer.find("HTTP/1.1 400")) << strAnswer;
    EXPECT_NE(std::string::npos, strAnswer.find("<int name=\"status\">400</int>")) << strAnswer;

    auto vecRequests = m_stub.Requests();
    ASSERT_EQ(1u, vecRequests.size());
    EXPECT_EQ(EngineRoute::Ping, vecRequests[0].eRoute);
    EXPECT_EQ(400, vecRequests[0].nStatus);
    // Answers of the routes themselves keep their own bodies.
    auto res = Get(m_stub.HostUrl() + "/elsewhere");
    ASSERT_TRUE(res);
    EXPECT_NE(std::string::npos, res->body.find("<pre>"));
}

TEST_F(EngineStubTest, DiscardModeAnswersButKeepsNeitherDocumentsNorBodies) {
    m_stub.SetDiscard(true);
    auto res = PostXml("<add>" + Doc("k1", Field("FileName", "a")) + "</add>");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    res = PostXml("<add><doc>");
    ASSERT_TRUE(res);
    EXPECT_EQ(400, res->status);
    res = PostXml("<commit />");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    EXPECT_EQ(0u, m_stub.DocumentCount());
    EXPECT_TRUE(m_stub.Requests().empty());
    EXPECT_EQ(3u, m_stub.RequestCount());
    EXPECT_EQ(1, m_stub.CommitCount());
}

// The recording keeps update requests byte for byte, in arrival order, also when the stand-in
// refuses them or discards what they hold; other routes are not recorded.
TEST_F(EngineStubTest, RecordingKeepsEveryUpdateRequestAsReceivedAlsoInDiscardMode) {
    idxtest::TempDir dir;
    const std::string strFile = dir / "updates.rec";
    std::string strError;
    ASSERT_TRUE(m_stub.RecordUpdates(strFile, strError)) << strError;
    EXPECT_FALSE(m_stub.RecordUpdates(dir / "second.rec", strError));
    m_stub.SetDiscard(true);

    struct Case {
        std::string strCore;
        std::string strBody;
        std::string strType;
        int nStatus;
    };
    const std::vector<Case> vecCases = {
        {"collection1", "<add>" + Doc("k1", Field("FileName", "a")) + "</add>", "text/xml", 200},
        {"audit", "<commit />", "application/xml", 200},
        {"collection1", std::string("<add><doc>\0\xff\xfe", 13), "text/xml", 400},
        {"collection1", "", "text/xml", 400},
        {"collection1", "<add/>", "text/plain", 400},
    };
    for (const Case &c : vecCases) {
        auto res = m_client.Post(PathOf(m_stub.UpdateUrl(c.strCore)).c_str(), c.strBody,
                                 c.strType.c_str());
        ASSERT_TRUE(res);
        EXPECT_EQ(c.nStatus, res->status) << c.strBody;
        // Routes other than update are served but not recorded.
        ASSERT_TRUE(Get(m_stub.PingUrl()));
        ASSERT_TRUE(m_client.Post(PathOf(m_stub.ExtractUrl() + "?literal.contentid=x").c_str(),
                                  c.strBody, "application/octet-stream"));
    }
    ASSERT_TRUE(m_client.Get(PathOf(m_stub.UpdateUrl()).c_str()));
    EXPECT_EQ(vecCases.size(), m_stub.RecordedCount());
    EXPECT_EQ(0u, m_stub.RecordSkippedCount());
    m_stub.Stop();

    std::vector<idxtest::RecordedUpdate> vecRecorded;
    ASSERT_TRUE(idxtest::ReadRecordedUpdates(strFile, vecRecorded, strError)) << strError;
    ASSERT_EQ(vecCases.size(), vecRecorded.size());
    for (size_t i = 0; i < vecCases.size(); ++i) {
        EXPECT_EQ(PathOf(m_stub.UpdateUrl(vecCases[i].strCore)), vecRecorded[i].strTarget);
        EXPECT_EQ(vecCases[i].strType, vecRecorded[i].strContentType);
        EXPECT_EQ(vecCases[i].strBody, vecRecorded[i].strBody) << i;
    }
}

// Past its limit the recording counts requests instead of writing them, so the file holds whole
// records only; a file cut inside a record is refused by the reader.
TEST_F(EngineStubTest, RecordingStopsAtItsLimitWithWholeRecordsAndCutFilesAreRefused) {
    idxtest::TempDir dir;
    const std::string strFile = dir / "updates.rec";
    const std::string strBody = "<add>" + Doc("k1", Field("FileName", "a")) + "</add>";
    const std::string strTarget = PathOf(m_stub.UpdateUrl());
    const unsigned long long ullOne = 24 + strTarget.size() + strlen("text/xml") + strBody.size();
    std::string strError;
    ASSERT_TRUE(m_stub.RecordUpdates(strFile, strError, 2 * ullOne + ullOne / 2)) << strError;
    for (int i = 0; i < 4; ++i) {
        auto res = PostXml(strBody);
        ASSERT_TRUE(res);
        EXPECT_EQ(200, res->status);
    }
    EXPECT_EQ(2u, m_stub.RecordedCount());
    EXPECT_EQ(2u, m_stub.RecordSkippedCount());
    m_stub.Stop();

    std::string strBytes = idxtest::ReadWholeFile(strFile);
    EXPECT_EQ(2 * ullOne, strBytes.size());
    std::vector<idxtest::RecordedUpdate> vecRecorded;
    ASSERT_TRUE(idxtest::ReadRecordedUpdates(strFile, vecRecorded, strError)) << strError;
    ASSERT_EQ(2u, vecRecorded.size());
    EXPECT_EQ(strBody, vecRecorded[1].strBody);

    for (size_t nCut : {size_t(3), size_t(8), size_t(ullOne - 1), size_t(ullOne + 20)}) {
        const std::string strCut = dir / "cut.rec";
        std::ofstream(strCut, std::ios::binary | std::ios::trunc) << strBytes.substr(0, nCut);
        vecRecorded.clear();
        EXPECT_FALSE(idxtest::ReadRecordedUpdates(strCut, vecRecorded, strError)) << nCut;
    }
    EXPECT_FALSE(idxtest::ReadRecordedUpdates(dir / "missing.rec", vecRecorded, strError));
}

// The stand-in executable: port file, SIGTERM, and the dump of what it stored.
TEST(EngineStubProcessTest, ServesUntilTerminatedAndDumpsItsDocuments) {
    char szSelf[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", szSelf, sizeof szSelf - 1), 0);
    std::string strExe = std::string(szSelf);
    strExe = strExe.substr(0, strExe.rfind('/')) + "/idx-engine-stub";
    ASSERT_EQ(0, access(strExe.c_str(), X_OK)) << strExe;

    idxtest::TempDir dir;
    std::string strPortFile = dir / "port", strDumpFile = dir / "dump.json";
    std::string strRecordFile = dir / "updates.rec";
    std::vector<std::string> vecArgs = {strExe,      "--port-file", strPortFile,  "--dump",
                                        strDumpFile, "--record",    strRecordFile};
    std::vector<char *> vecArgv;
    for (std::string &strArg : vecArgs)
        vecArgv.push_back(strArg.data());
    vecArgv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, strExe.c_str(), nullptr, nullptr, vecArgv.data(), environ));

    std::string strPort;
    for (int i = 0; i < 1000 && strPort.empty(); ++i) {
        strPort = idxtest::ReadWholeFile(strPortFile);
        if (strPort.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(strPort.empty());
    httplib::Client client("http://127.0.0.1:" + std::to_string(std::stoi(strPort)));
    auto res =
        client.Post("/solr/collection1/update",
                    "<add>" + Doc("k1", Field("CollectOffset", "4096")) + "</add>", "text/xml");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    ASSERT_TRUE(client.Post("/solr/collection1/update", "<commit />", "text/xml"));

    ASSERT_EQ(0, kill(pid, SIGTERM));
    int nWaitStatus = 0;
    ASSERT_EQ(pid, waitpid(pid, &nWaitStatus, 0));
    ASSERT_TRUE(WIFEXITED(nWaitStatus));
    EXPECT_EQ(0, WEXITSTATUS(nWaitStatus));
    auto json = nlohmann::json::parse(idxtest::ReadWholeFile(strDumpFile));
    EXPECT_EQ(1, json["commits"]);
    EXPECT_EQ(2, json["requests"]);
    EXPECT_EQ(nlohmann::json::parse(R"([{"contentid":"k1","CollectOffset":4096}])"),
              json["documents"]["collection1"]);
    std::vector<idxtest::RecordedUpdate> vecRecorded;
    std::string strError;
    ASSERT_TRUE(idxtest::ReadRecordedUpdates(strRecordFile, vecRecorded, strError)) << strError;
    ASSERT_EQ(2u, vecRecorded.size());
    EXPECT_EQ("<commit />", vecRecorded[1].strBody);
}

} // namespace

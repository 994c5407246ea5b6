// The restart position, the one-shot engine requests and the commits of the end of a job, over
// real HTTP against the engine stand-in.
#include "transmitter/SolrTransmitter.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "foundation/Locks.h"
#include "platform/Bag.h"
#include "platform/JobClients.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "tests/support/engine/EngineStub.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::EngineRequest;
using idxtest::EngineRoute;
using idxtest::EngineScript;
using idxtest::EngineStub;

namespace {

typedef SXTransmitterConfigurationBagId BagId;

const long long kJobId = 77;
const char kClientName[] = "client-7";

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// The library's own transmitter (engine workers from its own factory), with its state in reach.
class EngineTransmitter : public CSolrTransmitter {
public:
    explicit EngineTransmitter(eIDX_Transmitter_Type eType) : CSolrTransmitter(eType) {}
    CSolrTransmitterPrivate &State() { return *m_ptrSolrTransmitterPrivate; }
};

class SolrTransmitterRestartTest : public ::testing::Test {
protected:
    // A transmitter whose option record points at the stand-in, as the translation would set it.
    std::unique_ptr<EngineTransmitter>
    MakeTransmitter(eIDX_Transmitter_Type eType = eIDX_Transmitter_Solr) {
        auto ptrTransmitter = std::make_unique<EngineTransmitter>(eType);
        CTransmitterOptions &options = *ptrTransmitter->State().m_ptrOptions;
        options.SetBaseSolrUrl(m_engine.BaseUrl());
        options.SetCompleteSolrUrl(m_engine.UpdateUrl());
        options.SetAuditSolrUrl(m_engine.AuditUrl());
        options.SetJobId(kJobId);
        options.SetSolrClientName(kClientName);
        options.SetSubClientDir(m_dir.Path());
        return ptrTransmitter;
    }

    // The option bag an index-engine initializer writes, pointing at the stand-in.
    CBagPtr MakeBag() {
        CBagPtr ptrBag = boost::make_shared<CBag>();
        ptrBag->Write(BagId::idUpdateUrl, m_engine.UpdateUrl());
        ptrBag->Write(BagId::idBaseSolrUrl, m_engine.BaseUrl());
        ptrBag->Write(BagId::idCompleteSolrUrl, m_engine.UpdateUrl());
        ptrBag->Write(BagId::idAuditSolrUrl, m_engine.AuditUrl());
        ptrBag->Write(BagId::idSolrClientName, std::string(kClientName));
        ptrBag->Write(BagId::idJobId, kJobId);
        ptrBag->Write(BagId::idSubClientDir, m_dir.Path());
        return ptrBag;
    }

    void PutRestartDocument(const std::string &strKey, long long llJobId, int nCollectId,
                            const std::string &strOffset) {
        std::map<std::string, std::string> mapFields = {
            {"contentid", strKey},
            {"JobId", std::to_string(llJobId)},
            {"CollectId", std::to_string(nCollectId)},
        };
        if (!strOffset.empty()) {
            mapFields["CollectOffset"] = strOffset;
        }
        m_engine.PutDocument(mapFields);
    }

    // The select URL of the restart query for one collect id, as the stand-in received it.
    std::string SelectUrlOf(const EngineRequest &request) const {
        return m_engine.HostUrl() + request.strPath + "?" + request.strQuery;
    }

    // The update requests of one core, body by body.
    std::vector<std::string> UpdateBodies(const std::string &strCore) const {
        std::vector<std::string> vecBodies;
        for (const EngineRequest &request : m_engine.Requests(EngineRoute::Update)) {
            if (request.strCore == strCore) {
                vecBodies.push_back(request.strBody);
            }
        }
        return vecBodies;
    }

    // The end-of-job waits (one second between polls, 100 ms per stopped worker) cost nothing.
    idxtest::VirtualClock m_clock;
    idxtest::JobManager m_job;
    idxtest::TempDir m_dir;
    EngineStub m_engine;
};

} // namespace

TEST_F(SolrTransmitterRestartTest, RestartStringHoldsTheLargestOffsetOfTheJobForEachCollectId) {
    PutRestartDocument("a", kJobId, 1, "100");
    PutRestartDocument("b", kJobId, 1, "4096");
    PutRestartDocument("c", kJobId, 3, "1200");
    PutRestartDocument("d", kJobId, 3, "5");
    // Another job's documents never count, however large their offsets.
    PutRestartDocument("e", kJobId + 1, 1, "999999");
    PutRestartDocument("f", kJobId + 1, 2, "50");
    auto ptrTransmitter = MakeTransmitter();
    idxtest::LogCapture capture(3);

    std::string strRestart;
    ASSERT_FALSE(ptrTransmitter->GetRestartString(3, strRestart).IsError());
    EXPECT_EQ("-o 1|4096@3|1200", strRestart);

    // Per collect id the ping of the dynamic-TPPM check, then the query. The base URL ends
    // with "/": the ping keeps it, the query drops it before "/select".
    std::string strBase = m_engine.BaseUrl();
    ASSERT_EQ('/', strBase.back());
    strBase.pop_back();
    std::vector<EngineRequest> vecRequests = m_engine.Requests();
    ASSERT_EQ(6u, vecRequests.size());
    for (int nId = 1; nId <= 3; ++nId) {
        SCOPED_TRACE(nId);
        const EngineRequest &ping = vecRequests[2 * (nId - 1)];
        const EngineRequest &select = vecRequests[2 * (nId - 1) + 1];
        EXPECT_EQ(EngineRoute::Ping, ping.eRoute);
        EXPECT_EQ(m_engine.PingUrl(), m_engine.HostUrl() + ping.strPath);
        EXPECT_EQ(EngineRoute::Select, select.eRoute);
        EXPECT_EQ("GET", select.strMethod);
        EXPECT_EQ(strBase + "/select?q=CollectId:" + std::to_string(nId) +
                      "%20AND%20JobId:77&wt=json&rows=1&sort=CollectOffset%20desc",
                  SelectUrlOf(select));
        EXPECT_EQ("", select.strBody);
    }
    EXPECT_EQ(1u, capture.CountAtLevel("On restart using BaseSolrUrl=[" + m_engine.PingUrl() +
                                           "], GetSolrClientName=[client-7]",
                                       0));
    EXPECT_EQ(1u, capture.CountAtLevel("Restart string from solr engine [-o 1|4096@3|1200]", 3));
}

TEST_F(SolrTransmitterRestartTest, NoPairGivesTheEmptyText) {
    struct Case {
        int nCollectIds;
        size_t nRequests;
    };
    // The stand-in holds documents of another job only.
    PutRestartDocument("other", kJobId + 1, 1, "10");
    for (const Case &c : {Case{0, 0}, Case{-4, 0}, Case{2, 4}}) {
        SCOPED_TRACE(c.nCollectIds);
        m_engine.ClearRequests();
        auto ptrTransmitter = MakeTransmitter();
        std::string strRestart;
        EXPECT_FALSE(ptrTransmitter->GetRestartString(c.nCollectIds, strRestart).IsError());
        EXPECT_EQ("", strRestart);
        EXPECT_EQ(c.nRequests, m_engine.RequestCount());
    }
}

TEST_F(SolrTransmitterRestartTest, AFailureAtOneCollectIdFailsTheWholeQueryWithAnEmptyText) {
    struct Case {
        const char *szName;
        EngineRoute eRoute; // the route that misbehaves on its second request (collect id 2)
        EngineScript script;
        const char *szMessage;
    };
    auto Answer = [](const std::string &strBody) {
        EngineScript script;
        script.nStatus = 200;
        script.strBody = strBody;
        script.strContentType = "application/json";
        return script;
    };
    EngineScript failed;
    failed.nStatus = 500;
    failed.strBody = EngineStub::ErrorAnswer(500, "Scripted failure");
    EngineScript dropped;
    dropped.bDrop = true;
    EngineScript pingDown;
    pingDown.nStatus = 503;
    pingDown.strBody = EngineStub::ErrorAnswer(503, "Scripted failure");
    const Case cases[] = {
        {"ping refused", EngineRoute::Ping, pingDown, "TQLibCurlDynamiceTppmCheck failed"},
        {"ping dropped", EngineRoute::Ping, dropped, "TQLibCurlDynamiceTppmCheck failed"},
        {"query refused", EngineRoute::Select, failed, "TQLibCurlSendHttpReq2 failed"},
        {"query dropped", EngineRoute::Select, dropped, "TQLibCurlSendHttpReq2 failed"},
        {"not JSON", EngineRoute::Select, Answer("CollectId=2"), "Unserialize failed"},
        {"JSON but no object", EngineRoute::Select, Answer("[1,2]"), "Unserialize failed"},
        {"no response", EngineRoute::Select, Answer(R"({"responseHeader":{"status":0}})"),
         "FindObjectValue failed"},
        {"no docs", EngineRoute::Select, Answer(R"({"response":{"numFound":0}})"),
         "FindArrayValue failed"},
        {"docs not an array", EngineRoute::Select, Answer(R"({"response":{"docs":{}}})"),
         "FindArrayValue failed"},
        {"document without CollectId", EngineRoute::Select,
         Answer(R"({"response":{"docs":[{"CollectOffset":5}]}})"), "GetIntValue failed"},
        {"CollectId beyond 32 bits", EngineRoute::Select,
         Answer(R"({"response":{"docs":[{"CollectId":4294967298,"CollectOffset":5}]}})"),
         "GetIntValue failed"},
        // The query asks for one document: an answer beyond 1 MiB is refused, never held.
        {"answer beyond 1 MiB", EngineRoute::Select,
         Answer(R"({"response":{"docs":[]},"pad":")" + std::string(2 * 1024 * 1024, 'x') + R"("})"),
         "TQLibCurlSendHttpReq2 failed"},
    };
    PutRestartDocument("first", kJobId, 1, "4096");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        m_engine.ClearScripts();
        m_engine.ClearRequests();
        // Collect id 1 is answered as usual, so the failure comes after a pair was written.
        m_engine.Script(c.eRoute, EngineScript());
        m_engine.Script(c.eRoute, c.script);
        auto ptrTransmitter = MakeTransmitter();
        idxtest::LogCapture capture(0);

        std::string strRestart;
        CKyError error = ptrTransmitter->GetRestartString(3, strRestart);
        EXPECT_TRUE(error.IsError());
        EXPECT_TRUE(HasText(error, c.szMessage)) << error.AsString();
        EXPECT_EQ("", strRestart);
        // Nothing is asked about collect id 3.
        EXPECT_EQ(c.eRoute == EngineRoute::Ping ? 1u : 2u,
                  m_engine.Requests(EngineRoute::Select).size());
        EXPECT_EQ(c.eRoute == EngineRoute::Ping ? 1u : 0u,
                  capture.CountAtLevel("Failed to decide if dynamictppm option must be used", -1));
        EXPECT_FALSE(capture.Contains("Restart string from solr engine"));
    }
}

TEST_F(SolrTransmitterRestartTest, NegativeOrMissingStoredOffsetFailsInsteadOfWrapping) {
    struct Case {
        const char *szName;
        const char *szOffset; // "" stores no CollectOffset at all
    };
    for (const Case &c : {Case{"negative", "-5"}, Case{"missing", ""}}) {
        SCOPED_TRACE(c.szName);
        m_engine.ClearDocuments();
        PutRestartDocument("first", kJobId, 1, "4096");
        PutRestartDocument("bad", kJobId, 2, c.szOffset);
        auto ptrTransmitter = MakeTransmitter();

        std::string strRestart = "-o 9|9";
        CKyError error = ptrTransmitter->GetRestartString(2, strRestart);
        EXPECT_TRUE(error.IsError());
        EXPECT_TRUE(HasText(error, "GetUInt64Value failed, CollectOffset of CollectId [2]"))
            << error.AsString();
        EXPECT_EQ("", strRestart);
    }
}

TEST_F(SolrTransmitterRestartTest, LiveCrawlRestartStringIsTheOneTheJobKeeps) {
    m_job.SetRestartString("-o 1|10@2|0@3|7");
    TQBkpJobClient backupJobClient;
    struct Case {
        TQBkpJobClient *pClient;
        const char *szExpected;
    };
    for (const Case &c : {Case{&backupJobClient, "-o 1|10@2|0@3|7"}, Case{nullptr, ""}}) {
        SCOPED_TRACE(c.szExpected);
        auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LiveCrawl);
        ptrTransmitter->SetBackupJobClient(c.pClient);

        std::string strRestart = "left over";
        EXPECT_FALSE(ptrTransmitter->GetRestartString(5, strRestart).IsError());
        EXPECT_EQ(c.szExpected, strRestart);
    }
    EXPECT_EQ(0u, m_engine.RequestCount());
}

TEST_F(SolrTransmitterRestartTest, ControlRequestsGoToTheEngineFollowedByACommit) {
    struct Case {
        const char *szName;
        std::function<CKyError(CSolrTransmitter &)> fnRequest;
        EngineRoute eRoute;
        const char *szCore;
        const char *szBody; // nullptr: not compared here
    };
    const Case cases[] = {
        {"clear data source", [](CSolrTransmitter &t) { return t.ClearDataSource("fs-data-7"); },
         EngineRoute::Update, EngineStub::kMainCore,
         "<delete><query>data_source:fs-data-7</query></delete>"},
        {"prune audit source",
         [](CSolrTransmitter &t) { return t.PruneAuditSource("2024-01-01T00:00:00Z", "12"); },
         EngineRoute::Update, EngineStub::kAuditCore,
         "<delete><query>ApplicationId:12 AND EventTime:[* TO 2024-01-01T00:00:00Z]</query>"
         "</delete>"},
        {"sync audit and main source",
         [](CSolrTransmitter &t) { return t.SyncAuditAndMainSource(3, "12"); },
         EngineRoute::MonitoringSync, "", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        m_engine.ClearRequests();
        // The one-shot requests do not depend on the transmitter's type or on its start.
        auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter);

        EXPECT_FALSE(c.fnRequest(*ptrTransmitter).IsError());
        std::vector<EngineRequest> vecRequests;
        for (const EngineRequest &request : m_engine.Requests()) {
            if (request.eRoute != EngineRoute::Ping) {
                vecRequests.push_back(request);
            }
        }
        ASSERT_EQ(2u, vecRequests.size());
        EXPECT_EQ(c.eRoute, vecRequests[0].eRoute);
        EXPECT_EQ(c.szCore, vecRequests[0].strCore);
        EXPECT_EQ(EngineRoute::Update, vecRequests[1].eRoute);
        EXPECT_EQ(EngineStub::kMainCore, vecRequests[1].strCore);
        EXPECT_EQ("<commit />", vecRequests[1].strBody);
        if (c.szBody) {
            EXPECT_EQ(c.szBody, vecRequests[0].strBody);
        }
        EXPECT_FALSE(ptrTransmitter->State().IsQueueCreated());
    }
}

TEST_F(SolrTransmitterRestartTest, EnginePingAnswersWhetherTheEngineIsUp) {
    auto ptrTransmitter = MakeTransmitter();
    ptrTransmitter->State().SetUp().m_bDataConfiguredFromBag = true;

    bool bRunning = false;
    EXPECT_FALSE(ptrTransmitter->IsSolrEngineRunning(bRunning).IsError());
    EXPECT_TRUE(bRunning);
    EXPECT_FALSE(m_engine.Requests(EngineRoute::Ping).empty());

    m_engine.Stop();
    bRunning = true;
    CKyError error = ptrTransmitter->IsSolrEngineRunning(bRunning);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1168));
    EXPECT_TRUE(HasText(error, "Solr ping request to server failed"));
    EXPECT_FALSE(bRunning);
}

TEST_F(SolrTransmitterRestartTest, EnginePingTranslatesTheOptionsFirstWhenNotYetDone) {
    // An empty record: only the translation of the bag can point the ping at the engine.
    auto ptrTransmitter = std::make_unique<EngineTransmitter>(eIDX_Transmitter_Solr);
    CSolrTransmitterPrivate &state = ptrTransmitter->State();
    ASSERT_FALSE(ptrTransmitter->SetOptions(MakeBag()).IsError());

    bool bRunning = false;
    EXPECT_FALSE(ptrTransmitter->IsSolrEngineRunning(bRunning).IsError());
    EXPECT_TRUE(bRunning);
    EXPECT_TRUE(state.IsDataConfiguredFromBag());
    EXPECT_EQ(m_engine.BaseUrl(), state.m_ptrOptions->GetBaseSolrUrl());
    EXPECT_FALSE(m_engine.Requests(EngineRoute::Ping).empty());

    // A bag the translation refuses: its error comes back and the flag is not touched.
    auto ptrRefused = std::make_unique<EngineTransmitter>(eIDX_Transmitter_Solr);
    CBagPtr ptrBag = MakeBag();
    ptrBag->Remove(BagId::idUpdateUrl);
    ASSERT_FALSE(ptrRefused->SetOptions(ptrBag).IsError());
    m_engine.ClearRequests();
    bRunning = true;
    CKyError error = ptrRefused->IsSolrEngineRunning(bRunning);
    EXPECT_TRUE(error.IsError());
    EXPECT_FALSE(FXErrorUtil::IsWin32(error, 1168));
    EXPECT_TRUE(bRunning);
    EXPECT_FALSE(ptrRefused->State().IsDataConfiguredFromBag());
    EXPECT_TRUE(m_engine.Requests().empty());
}

TEST_F(SolrTransmitterRestartTest, EnginePingDoesNotTranslateAgainOnceWorkersRun) {
    // The index-log translation never marks the options as translated, so only the running
    // workers keep the ping from rewriting the record they read.
    auto ptrTransmitter =
        std::make_unique<idxtest::TestSolrTransmitter>(eIDX_Transmitter_LogWriter);
    CSolrTransmitterPrivate &state = ptrTransmitter->State();
    state.m_ptrOptions->SetBaseSolrUrl(m_engine.BaseUrl());
    CBagPtr ptrBag = boost::make_shared<CBag>();
    ptrBag->Write(BagId::idJobId, 5LL);
    ptrBag->Write(BagId::idSubClientDir, m_dir.Path());
    ASSERT_FALSE(ptrTransmitter->SetOptions(ptrBag).IsError());

    bool bRunning = false;
    EXPECT_FALSE(ptrTransmitter->IsSolrEngineRunning(bRunning).IsError());
    EXPECT_TRUE(bRunning);
    EXPECT_EQ(5, state.m_ptrOptions->GetJobId());

    ptrBag->Write(BagId::idJobId, 6LL);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_EQ(6, state.m_ptrOptions->GetJobId());

    ptrBag->Write(BagId::idJobId, 7LL);
    EXPECT_FALSE(ptrTransmitter->IsSolrEngineRunning(bRunning).IsError());
    EXPECT_TRUE(bRunning);
    EXPECT_EQ(6, state.m_ptrOptions->GetJobId());

    // Once the workers are gone the translation runs again.
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());
    EXPECT_FALSE(ptrTransmitter->IsSolrEngineRunning(bRunning).IsError());
    EXPECT_EQ(7, state.m_ptrOptions->GetJobId());
}

TEST_F(SolrTransmitterRestartTest, CommitIsPostedOnlyOnceSomethingWasQueuedAndAgainAtDestruction) {
    {
        auto ptrTransmitter = MakeTransmitter();
        // No worker: the queued item stays, and only the commits reach the engine.
        ASSERT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(0).IsError());
        ASSERT_FALSE(ptrTransmitter->Start().IsError());

        EXPECT_FALSE(ptrTransmitter->Commit().IsError());
        EXPECT_EQ(0, m_engine.CommitCount());

        ASSERT_FALSE(ptrTransmitter->AddToQueue(idxtest::MakeTestItem("/c/one")).IsError());
        EXPECT_FALSE(ptrTransmitter->Commit().IsError());
        EXPECT_EQ(1, m_engine.CommitCount());
        EXPECT_EQ(std::vector<std::string>{"<commit />"}, UpdateBodies(EngineStub::kMainCore));
    }
    // The destructor's pass: the wait fails (an item and no worker), Stop asks for the folder
    // statistics, and the commit is posted again.
    EXPECT_EQ(2, m_engine.CommitCount());
    EXPECT_EQ(1u, m_engine.Requests(EngineRoute::FolderStats).size());
}

TEST_F(SolrTransmitterRestartTest, WaitAndCommitEndsAJobWithOneCommitAndOneFolderStatistics) {
    {
        auto ptrTransmitter = MakeTransmitter();
        ASSERT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(2).IsError());
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        // Polls on the virtual clock cost almost nothing: the workers' real time must not add
        // up to a time-out.
        ptrTransmitter->State().SetUp().m_nQueueTimeoutInMins = 600;
        for (int i = 0; i < 5; ++i) {
            ASSERT_FALSE(
                ptrTransmitter->AddToQueue(idxtest::MakeTestItem("/w/" + std::to_string(i)))
                    .IsError());
        }

        EXPECT_FALSE(ptrTransmitter->WaitAndCommit().IsError());
        EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
        EXPECT_TRUE(ptrTransmitter->State().GetWorkers().empty());
        EXPECT_EQ(1, m_engine.CommitCount());
        EXPECT_EQ(1u, m_engine.Requests(EngineRoute::FolderStats).size());
        EXPECT_TRUE(ptrTransmitter->State().RunState().m_bFolderStatsSent);
    }
    // The second pass commits again but sends the folder statistics only once.
    EXPECT_EQ(2, m_engine.CommitCount());
    EXPECT_EQ(1u, m_engine.Requests(EngineRoute::FolderStats).size());
}

// The index-engine start-up against the engine stand-in: the management server's reply (scripted
// in-process) and the platform settings become the option bag, the transmitter starts and pings
// the engine; each failure gives its error, text and log line.
#include <climits>
#include <functional>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <boost/any.hpp>
#include <boost/make_shared.hpp>

#include "engine/SolrTransmitterThread.h"
#include "foundation/StringHelpers.h"
#include "platform/JobClients.h"
#include "platform/ManagementData.h"
#include "platform/PlatformInfo.h"
#include "platform/TQPIBase.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/ManagementServer.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "startup/DataSourceQuery.h"
#include "startup/SolrTransmitterInit.h"
#include "tests/support/RefusingPort.h"
#include "tests/support/StartupTestSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

using idxtest::DataSourceReply;
using idxtest::EngineRequest;
using idxtest::EngineRoute;
using idxtest::EngineStub;
typedef idxtest::ProbeSolrTransmitterInit ProbeInit;
typedef SXTransmitterConfigurationBagId BagId;

const char kSection[] = "FileSystemAgent";

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// The stored value under the key, of exactly the type the start-up wrote.
template <typename T> void ExpectBagValue(const CBag &bag, const char *szKey, const T &expected) {
    boost::any stored;
    ASSERT_FALSE(bag.ReadAny(szKey, stored).IsError()) << szKey;
    const T *pValue = boost::any_cast<T>(&stored);
    ASSERT_TRUE(pValue != nullptr) << szKey << " holds " << CBag::TypeName(stored);
    EXPECT_EQ(*pValue, expected) << szKey;
}

std::string BagText(const CBag &bag, const char *szKey) {
    std::string strValue;
    EXPECT_FALSE(bag.Read(szKey, strValue).IsError()) << szKey;
    return strValue;
}

bool BagBool(const CBag &bag, const char *szKey) {
    bool bValue = false;
    EXPECT_FALSE(bag.Read(szKey, bValue).IsError()) << szKey;
    return bValue;
}

// Shortens (or lengthens) the start-up's ping idle limit while it lives.
class PingIdleLimit {
public:
    explicit PingIdleLimit(long nSeconds) { CEngineExchange::SetPingIdleLimitForTest(nSeconds); }
    ~PingIdleLimit() { CEngineExchange::SetPingIdleLimitForTest(0); }
    PingIdleLimit(const PingIdleLimit &) = delete;
    PingIdleLimit &operator=(const PingIdleLimit &) = delete;
};

class SolrTransmitterInitTest : public ::testing::Test {
protected:
    SolrTransmitterInitTest() {
        m_clientInfo.strName = "client-a";
        m_clientInfo.ullId = 5;
        m_subclientInfo.nId = 12;
        m_subclientInfo.strGUID = "GUID-12";
    }

    ApplicationIdPtr Application() const {
        return boost::make_shared<ApplicationId>(boost::make_shared<TQClient>(m_clientInfo),
                                                 boost::make_shared<Subclient>(m_subclientInfo));
    }

    // A reply that points at the stand-in and asks for content indexing of "*.doc".
    DataSourceReply EngineReply() const {
        DataSourceReply reply;
        reply.Url(m_engine.UpdateUrl()).IncludeFilters("*.doc").ContentIndexing(1);
        return reply;
    }

    void Answer(const DataSourceReply &reply) {
        m_server.Answer(kGetClientDataSourceProcedure, 0, reply.Xml());
    }

    CKyError Initialize(ProbeInit &init, bool bUseCache = false, bool bSaveCache = false) {
        return init.InitializeSolrTransmitter(Application(), m_dir.Path(), &m_jobControl,
                                              &m_backupJob, bUseCache, bSaveCache);
    }

    void SetSetting(const std::string &strName, const std::string &strValue) {
        idxtest::SetPlatformSetting(kSection, strName, strValue);
    }

    // The end-of-job waits of a transmitter released by a test cost nothing.
    idxtest::VirtualClock m_clock;
    idxtest::PlatformSettingsScope m_settings;
    idxtest::JobManager m_job;
    idxtest::ManagementServer m_server;
    idxtest::TempDir m_dir;
    EngineStub m_engine;
    TQJobCtrlClient m_jobControl;
    TQBkpJobClient m_backupJob;
    TQClientInfo m_clientInfo;
    SubclientInfo m_subclientInfo;
};

TEST_F(SolrTransmitterInitTest, StartUpFromTheManagementServerWritesEveryOptionAndPingsTheEngine) {
    // The client id's low 32 bits have the top bit set; its OS id says NAS filer.
    m_clientInfo.ullId = 0x180000005ULL;
    m_clientInfo.nOSId = 45;
    m_subclientInfo.bACLCollectionEnabled = true;
    m_subclientInfo.bPreserveAccessTime = true;
    m_job.SetJobId(4711);
    DataSourceReply reply;
    reply.Url(m_engine.UpdateUrl())
        .IncludeFilters("*.doc,*.PDF,notes")
        .ContentIndexing(1)
        .MaxFileSize(0)
        .MinFileSize(4096)
        .CloudValue(0x100000005LL)
        .Monitoring(1)
        .IndexServerClient("index-node", 77)
        .Parameter("a", "1/2")
        .Parameter("x", "a&b")
        .AuditServer("http://127.0.0.1:1/solr/audit/update")
        .ErrorCode(0x100000000LL); // only the low 32 bits count: no error
    Answer(reply);
    SetSetting("nMaxSizePushContentsInKB", "100");

    idxtest::LogCapture capture(0);
    ProbeInit init;
    CKyError error = Initialize(init);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    ASSERT_TRUE(init.ptrMade);
    EXPECT_EQ(init.GetSolrTransmitterInstance(), init.ptrMade);
    EXPECT_EQ(init.GetSolrInitFailureReason(), "");
    CSolrTransmitterPrivate &state = init.ptrMade->State();
    EXPECT_TRUE(state.IsDataConfiguredFromBag());
    EXPECT_TRUE(state.IsQueueCreated());
    EXPECT_EQ(state.Config().m_nMaxQueueSize, 10000);
    EXPECT_EQ(state.Config().m_nTransmitterThreads, 15);
    // The start-up's own ping (each worker also pings as it starts, to choose its connection).
    EXPECT_EQ(capture.Count("Solr engine is up and running"), 1u);
    EXPECT_FALSE(m_engine.Requests(EngineRoute::Ping).empty());
    EXPECT_TRUE(m_engine.Requests(EngineRoute::Update).empty());

    // The question: the client id as a negative 64-bit number, the subclient inside.
    const std::vector<idxtest::StoredProcedureCall> vecCalls = m_server.Calls();
    ASSERT_EQ(vecCalls.size(), 1u);
    EXPECT_EQ(vecCalls[0].nProcedureId, 229627096u);
    EVGui::GetClientDataSourceReq request;
    ASSERT_EQ(request.unserialize(vecCalls[0].strInputXml), 0) << vecCalls[0].strInputXml;
    EXPECT_EQ(request.getint64(1), -2147483643LL);
    CNMessageBase **ppSubclient =
        request.getObjectAccessor(false, false, 2, 2, 0, 0, TqEntities::SubClientEntity::kFamily,
                                  TqEntities::SubClientEntity::kType);
    ASSERT_TRUE(ppSubclient != nullptr);
    EXPECT_EQ((*ppSubclient)->getint64(0), 12);

    const std::string strUrl = m_engine.UpdateUrl();
    const std::string strQuery = "?a=1%2f2&x=a%26b";
    const CBag &bag = *init.Bag();
    ExpectBagValue<long long>(bag, BagId::idJobId, 4711);
    ExpectBagValue<unsigned long long>(bag, BagId::idClientId, 0x80000005ULL);
    ExpectBagValue(bag, BagId::idCollectSecurityInfo, true);
    ExpectBagValue(bag, BagId::idCollectOwnerInfo, true);
    ExpectBagValue(bag, BagId::idRetainVersion, true);
    ExpectBagValue<std::string>(bag, BagId::idAppGUID, "GUID-12");
    ExpectBagValue<unsigned int>(bag, BagId::idAppId, 12);
    ExpectBagValue<int>(bag, BagId::idServerPort, 20000);
    ExpectBagValue<std::string>(bag, BagId::idUpdateUrl, strUrl);
    ExpectBagValue<std::string>(bag, BagId::idCompleteSolrUrl, strUrl + strQuery);
    ExpectBagValue<std::string>(bag, BagId::idCompleteSolrExtractUrl,
                                strUrl + "/tqextract" + strQuery);
    ExpectBagValue<long long>(bag, BagId::idMaxFileSizePushContents, 102400);
    ExpectBagValue<long long>(bag, BagId::idMinFileSizePushContents, 4096);
    // In the scan phase without content in the scan, the transmitter sends metadata.
    ExpectBagValue(bag, BagId::idPushOnlyMetaData, true);
    ExpectBagValue<std::string>(bag, BagId::idIncludeFilters, "*.doc,*.PDF,notes");
    ExpectBagValue<std::string>(bag, BagId::idSubClientDir, m_dir.Path());
    ExpectBagValue<std::string>(bag, BagId::idClientName, "client-a");
    ExpectBagValue<std::string>(bag, BagId::idSolrClientName, "index-node");
    ExpectBagValue<std::string>(bag, BagId::idBaseSolrUrl, m_engine.BaseUrl());
    ExpectBagValue(bag, BagId::idIsScanPhase, true);
    ExpectBagValue(bag, BagId::idPushMetaDataWithCRC, false);
    ExpectBagValue(bag, BagId::idOptimizeContentPush, false);
    ExpectBagValue(bag, BagId::idIsCloudMode, true);
    ExpectBagValue(bag, BagId::idIsDisableFailureLogging, false);
    ExpectBagValue<std::string>(bag, BagId::idMonitorJobResultsDir,
                                FXPath::Join(TQPI_CommClient().getJobResultsDirectory(
                                                 TQPlatformInfo().getPhysicalMachine()),
                                             "Monitor"));
    ExpectBagValue(bag, BagId::idIsPreserveAccessTime, true);
    ExpectBagValue(bag, BagId::idIsNasClient, true);
    ExpectBagValue(bag, BagId::idEnableMonitoring, true);
    // The audit core is used only by a job that pushes monitored events.
    ExpectBagValue<std::string>(bag, BagId::idAuditSolrUrl, "");
    ExpectBagValue(bag, BagId::idUseDynamicTppm, true);
    ExpectBagValue(bag, BagId::idAuditingContext, false);
    EXPECT_EQ(bag.Keys().size(), 31u);

    EXPECT_FALSE(init.IfPushOnlyMetaData());
    EXPECT_FALSE(init.IfPushItemsInScan());
    EXPECT_FALSE(init.IfPushContentInScan());
    EXPECT_TRUE(init.IfCollectOwnerInfo());
    EXPECT_TRUE(init.IfCollectSecurityInfo());
    EXPECT_EQ(init.GetIncludeFilterSet(), (std::set<std::string>{"PDF", "doc", "notes"}));
}

TEST_F(SolrTransmitterInitTest, ExtractUrlAndQueryStringFollowTheContentPushDecision) {
    const std::string strUrl = m_engine.UpdateUrl();
    const struct {
        const char *szCase;
        const char *szIncludeFilters;
        int64_t llContentIndexing;
        bool bParameters;
        const char *szUseTqExtract;
        const char *szOptimized;
        std::string strComplete;
        std::string strExtract;
        bool bPushOnlyMetaData;
        const char *szLog;
    } cases[] = {
        {"content push", "*.txt", 1, false, nullptr, nullptr, strUrl + "?", strUrl + "/tqextract?",
         false, "Solr URL to push data is ["},
        {"optimized, plain extract", "*.txt", 1, true, "0", "1",
         strUrl + "?lanfree=true&a=1%2f2&x=a%26b", strUrl + "/extract?lanfree=true&a=1%2f2&x=a%26b",
         false, "Scan is running on the index server; Optimizing Content push, ClientId=[5]"},
        {"content indexing off", "*.txt", 0, false, "0", "1", strUrl + "?", strUrl + "?", true,
         "PushOnlyMetaData=[1]"},
        {"no include filters", "", 1, false, nullptr, "1", strUrl + "?", strUrl + "?", true,
         "Switching to push only meta data mode as no include filters configured"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szCase);
        idxtest::ResetPlatformSettings();
        if (c.szUseTqExtract) {
            SetSetting("nUseTqExtract", c.szUseTqExtract);
        }
        if (c.szOptimized) {
            SetSetting("nOPtimizedContentPush", c.szOptimized);
        }
        DataSourceReply reply;
        reply.Url(strUrl).IncludeFilters(c.szIncludeFilters).ContentIndexing(c.llContentIndexing);
        if (c.bParameters) {
            reply.Parameter("a", "1/2").Parameter("x", "a&b");
        }
        Answer(reply);

        idxtest::LogCapture capture(1);
        ProbeInit init;
        CKyError error = Initialize(init);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        const CBag &bag = *init.Bag();
        EXPECT_EQ(BagText(bag, BagId::idCompleteSolrUrl), c.strComplete);
        EXPECT_EQ(BagText(bag, BagId::idCompleteSolrExtractUrl), c.strExtract);
        EXPECT_EQ(BagBool(bag, BagId::idOptimizeContentPush), c.bParameters);
        EXPECT_EQ(init.IfPushOnlyMetaData(), c.bPushOnlyMetaData);
        EXPECT_EQ(init.IfPushItemsInScan(), c.bPushOnlyMetaData);
        EXPECT_TRUE(capture.Contains(c.szLog));
    }
}

TEST_F(SolrTransmitterInitTest, PlatformSettingsOverrideTheReplyEachWithItsLogLine) {
    m_subclientInfo.bACLCollectionEnabled = true;
    typedef std::function<void(ProbeInit &, const CBag &)> Check;
    const std::string strAuditUrl = "http://127.0.0.1:1/solr/audit/update";
    const struct {
        const char *szName;
        std::string strValue;
        const char *szLog; // at the levels 0 and 1; nullptr when the setting logs nothing
        bool bPushMonitoredEvents;
        Check fnCheck;
    } cases[] = {
        {"sSolrURL", m_engine.UpdateUrl(), "using solr URL from registry [", false,
         [&](ProbeInit &, const CBag &bag) {
             EXPECT_EQ(BagText(bag, BagId::idUpdateUrl), m_engine.UpdateUrl());
         }},
        {"nMinSizePushContentsInKB", "2", "DocumentMinSizeBytes=[2048]", false,
         [](ProbeInit &, const CBag &bag) {
             ExpectBagValue<long long>(bag, BagId::idMinFileSizePushContents, 2048);
         }},
        {"nPushOnlyMetaData", "1", "PushOnlyMetaData=[1]", false,
         [&](ProbeInit &init, const CBag &bag) {
             EXPECT_TRUE(init.IfPushOnlyMetaData());
             EXPECT_EQ(BagText(bag, BagId::idCompleteSolrExtractUrl), m_engine.UpdateUrl() + "?");
         }},
        {"sIncludeFilters", "*.cpp,.h", "Using IncludeFilters from registry [*.cpp,.h]", false,
         [](ProbeInit &init, const CBag &bag) {
             EXPECT_EQ(BagText(bag, BagId::idIncludeFilters), "*.cpp,.h");
             EXPECT_EQ(init.GetIncludeFilterSet(), (std::set<std::string>{"cpp", "h"}));
         }},
        // Empty pieces name no extension: files without one are not content-pushed.
        {"sIncludeFilters", ",*.cpp,,.h,", "Using IncludeFilters from registry [,*.cpp,,.h,]",
         false,
         [](ProbeInit &init, const CBag &bag) {
             EXPECT_EQ(BagText(bag, BagId::idIncludeFilters), ",*.cpp,,.h,");
             EXPECT_EQ(init.GetIncludeFilterSet(), (std::set<std::string>{"cpp", "h"}));
         }},
        {"nCollectSecurityInfo", "0", "CollectSecurityInfo from registry = [Disabled]", false,
         [](ProbeInit &init, const CBag &bag) {
             EXPECT_FALSE(init.IfCollectSecurityInfo());
             EXPECT_FALSE(BagBool(bag, BagId::idCollectSecurityInfo));
         }},
        {"nCollectOwnerInfo", "0", "CollectOwnerInfo from registry = [Disabled]", false,
         [](ProbeInit &init, const CBag &bag) {
             EXPECT_FALSE(init.IfCollectOwnerInfo());
             EXPECT_FALSE(BagBool(bag, BagId::idCollectOwnerInfo));
         }},
        {"EnableMonitoring_12", "0", "Looking for key:EnableMonitoring_12", false,
         [](ProbeInit &, const CBag &bag) {
             EXPECT_FALSE(BagBool(bag, BagId::idEnableMonitoring));
         }},
        {"nPushMetaDataWithCRC", "1", "CRC push is enabled via registry", false,
         [](ProbeInit &, const CBag &bag) {
             EXPECT_TRUE(BagBool(bag, BagId::idPushMetaDataWithCRC));
         }},
        {"sSolrAuditURL", strAuditUrl, "using audit solr URL from registry [", true,
         [&](ProbeInit &, const CBag &bag) {
             EXPECT_EQ(BagText(bag, BagId::idAuditSolrUrl), strAuditUrl);
         }},
        {"nPushContentInScan", "1", nullptr, false,
         [](ProbeInit &init, const CBag &bag) {
             EXPECT_TRUE(init.IfPushContentInScan());
             EXPECT_TRUE(init.IfPushItemsInScan());
             EXPECT_FALSE(BagBool(bag, BagId::idPushOnlyMetaData));
         }},
        {"UseDynamicTppm", "0", "UseDynamicTppm [0] ", false,
         [](ProbeInit &, const CBag &bag) { EXPECT_FALSE(BagBool(bag, BagId::idUseDynamicTppm)); }},
        {"nItemCountUpdateInterval", "5", "Transmitter item count update interval is 5 ", false,
         [](ProbeInit &, const CBag &) {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::ResetPlatformSettings();
        SetSetting(c.szName, c.strValue);
        DataSourceReply reply = EngineReply();
        reply.Monitoring(1).AuditServer("http://127.0.0.1:1/solr/reply-audit/update");
        if (std::string(c.szName) == "sSolrURL") {
            reply.Url("");
        }
        Answer(reply);

        idxtest::LogCapture capture(1);
        ProbeInit init;
        init.SetIsPushMonitoredEventsToAuditCore(c.bPushMonitoredEvents);
        CKyError error = Initialize(init);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        if (c.szLog) {
            EXPECT_TRUE(capture.Contains(c.szLog));
        }
        c.fnCheck(init, *init.Bag());
    }
}

TEST_F(SolrTransmitterInitTest, JobPushingMonitoredEventsGetsTheAuditCoreAndMetadataOnly) {
    for (bool bReplyHasAuditServer : {true, false}) {
        SCOPED_TRACE(bReplyHasAuditServer);
        DataSourceReply reply = EngineReply();
        if (bReplyHasAuditServer) {
            reply.AuditServer("http://127.0.0.1:1/solr/reply-audit/update");
        }
        Answer(reply);
        ProbeInit init;
        init.SetIsPushMonitoredEventsToAuditCore(true);
        CKyError error = Initialize(init);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        const CBag &bag = *init.Bag();
        EXPECT_EQ(BagText(bag, BagId::idAuditSolrUrl),
                  bReplyHasAuditServer ? "http://127.0.0.1:1/solr/reply-audit/update" : "");
        EXPECT_TRUE(BagBool(bag, BagId::idAuditingContext));
        // The bag's values were fixed before the job's getters were turned to metadata only.
        EXPECT_TRUE(BagBool(bag, BagId::idIsScanPhase));
        EXPECT_TRUE(init.IfPushOnlyMetaData());
        EXPECT_FALSE(init.IfPushItemsInScan());
        EXPECT_FALSE(init.IfPushContentInScan());
    }
}

TEST_F(SolrTransmitterInitTest, EachFailureGivesItsErrorTextAndLogLine) {
    idxtest::RefusingPort refusing;
    const int32_t kTQResultOf42 = FXErrorUtil::ErrorTQResult(FXLOC, 42, "%s", "").GetCode();
    const int32_t kTQResultOf5 = FXErrorUtil::ErrorTQResult(FXLOC, 5, "%s", "").GetCode();
    const int32_t kMalformed =
        FXErrorUtil::ErrorTQResult(FXLOC, CNMessageBase::eMessageMalformed, "%s", "").GetCode();
    const struct {
        const char *szCase;
        std::function<void(ApplicationIdPtr &, TQJobCtrlClient *&)> fnSetUp;
        int32_t nCode; // the error's whole code: domain and number
        const char *szText;
        const char *szReason;
        const char *szErrorLine; // an error-level line; nullptr for none
        bool bTransmitterMade;
    } cases[] = {
        {"no application", [](ApplicationIdPtr &ptrApp, TQJobCtrlClient *&) { ptrApp.reset(); },
         FXErrorUtil::ErrorWin32(FXLOC, 87).GetCode(), "the application is null", "", nullptr,
         false},
        {"no job-control client",
         [](ApplicationIdPtr &, TQJobCtrlClient *&pJob) { pJob = nullptr; },
         FXErrorUtil::ErrorWin32(FXLOC, 87).GetCode(), "the job-control client is null", "",
         nullptr, false},
        {"no client",
         [this](ApplicationIdPtr &ptrApp, TQJobCtrlClient *&) {
             ptrApp = boost::make_shared<ApplicationId>(
                 nullptr, boost::make_shared<Subclient>(m_subclientInfo));
         },
         FXErrorUtil::ErrorWin32(FXLOC, 774).GetCode(), "Failed to get TQClient object", "",
         "pClient is NULL; Not proceeding with Analytics job", false},
        {"no subclient",
         [this](ApplicationIdPtr &ptrApp, TQJobCtrlClient *&) {
             ptrApp = boost::make_shared<ApplicationId>(boost::make_shared<TQClient>(m_clientInfo),
                                                        nullptr);
         },
         FXErrorUtil::ErrorWin32(FXLOC, 774).GetCode(), "Failed to get Subclient object", "",
         "pSubclient is NULL; Not proceeding with Analytics job", false},
        {"stored procedure fails",
         [this](ApplicationIdPtr &, TQJobCtrlClient *&) {
             m_server.Answer(kGetClientDataSourceProcedure, 42, "");
         },
         kTQResultOf42, "Could not execute stored procedure to get the solr URL", "", nullptr,
         false},
        {"answer is no record",
         [this](ApplicationIdPtr &, TQJobCtrlClient *&) {
             m_server.Answer(kGetClientDataSourceProcedure, 0, "<html>busy</html>");
         },
         kMalformed, "Failed to unserialize output XML get the solr URL", "", nullptr, false},
        {"reply carries an error",
         [this](ApplicationIdPtr &, TQJobCtrlClient *&) {
             DataSourceReply reply = EngineReply();
             reply.ErrorCode(0x700000005LL);
             Answer(reply);
         },
         kTQResultOf5, "Error returned while unserializing output XML get the solrURL", "", nullptr,
         false},
        {"no engine URL",
         [this](ApplicationIdPtr &, TQJobCtrlClient *&) {
             DataSourceReply reply;
             reply.IncludeFilters("*.doc");
             Answer(reply);
         },
         FXErrorUtil::ErrorWin32(FXLOC, 13).GetCode(),
         "Failed to get the solr URL for analytics job. Solr transmitter object not initialized",
         "Failed to get the solr URL for analytics job. ",
         "Failed to get the solr URL for analytics job. ", false},
        {"engine does not answer the ping",
         [this, &refusing](ApplicationIdPtr &, TQJobCtrlClient *&) {
             DataSourceReply reply;
             reply.Url(refusing.Url("/solr/collection1/update"));
             Answer(reply);
         },
         FXErrorUtil::ErrorWin32(FXLOC, 1168).GetCode(), "Solr ping request to server failed",
         nullptr, nullptr, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szCase);
        Answer(EngineReply());
        ApplicationIdPtr ptrApplication = Application();
        TQJobCtrlClient *pJobControl = &m_jobControl;
        c.fnSetUp(ptrApplication, pJobControl);

        idxtest::LogCapture capture(0);
        ProbeInit init;
        CKyError error = init.InitializeSolrTransmitter(ptrApplication, m_dir.Path(), pJobControl,
                                                        &m_backupJob, false, false);
        EXPECT_EQ(error.GetCode(), c.nCode) << error.AsString();
        EXPECT_TRUE(HasText(error, c.szText)) << error.AsString();
        if (c.szErrorLine) {
            EXPECT_EQ(capture.CountAtLevel(c.szErrorLine, -1), 1u);
        }
        EXPECT_FALSE(init.GetSolrTransmitterInstance());
        EXPECT_EQ(bool(init.ptrMade), c.bTransmitterMade);
        if (c.szReason) {
            EXPECT_EQ(init.GetSolrInitFailureReason(), c.szReason);
        } else {
            // The transmitter's own reason, or the fixed text when it has none.
            const std::string strReason = init.ptrMade->GetSolrFailureReason();
            EXPECT_EQ(init.GetSolrInitFailureReason(),
                      strReason.empty() ? "Failed to send data to Index Engine. Please verify "
                                          "that the Index Engine is running. "
                                        : strReason);
        }
    }
}

// The start-up's pings against an engine that takes connections and never answers: one route
// check for all the workers, then the engine ping; each gives up at the ping's idle limit (here
// shortened to a second), and the start fails with 1168 and a reason for the operator.
TEST_F(SolrTransmitterInitTest, SilentEngineFailsTheStartUpAfterOnePingWhateverTheWorkerCount) {
    const PingIdleLimit limit(1);
    for (const char *szWorkers : {"1", "6"}) {
        SCOPED_TRACE(szWorkers);
        SetSetting("nTransmitterThreads", szWorkers);
        Answer(EngineReply());
        m_engine.ClearRequests();
        m_engine.StallNext(EngineRoute::Ping, -1);

        ProbeInit init;
        CKyError error = Initialize(init);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1168)) << error.AsString();
        EXPECT_FALSE(init.GetSolrInitFailureReason().empty());
        EXPECT_FALSE(init.GetSolrTransmitterInstance());
        // The first worker's route check stands for every worker; then the engine ping. (The
        // stand-in may log the last request just after the client gave it up.)
        EXPECT_TRUE(idxtest::WaitUntil(
            [&] { return m_engine.Requests(EngineRoute::Ping).size() >= 2; }, 60000));
        EXPECT_EQ(m_engine.Requests(EngineRoute::Ping).size(), 2u);
        m_engine.ReleaseStalls();
        m_engine.ClearScripts();
    }
}

// The job quits while the engine stays silent: the ping in flight and the ones still to come end
// at once, with no idle limit that could end them instead.
TEST_F(SolrTransmitterInitTest, QuitFlagEndsTheStartUpsPingsAgainstASilentEngine) {
    const PingIdleLimit limit(24 * 3600);
    SetSetting("nTransmitterThreads", "4");
    Answer(EngineReply());
    m_engine.StallNext(EngineRoute::Ping, -1);

    ProbeInit init;
    CKyError error;
    std::thread startUp([&] { error = Initialize(init); });
    EXPECT_TRUE(m_engine.WaitForStalled(1, 60000));
    m_job.SetQuitFlag(true);
    startUp.join();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1168)) << error.AsString();
    EXPECT_FALSE(init.GetSolrTransmitterInstance());
    EXPECT_LE(m_engine.Requests(EngineRoute::Ping).size(), 2u);
}

TEST_F(SolrTransmitterInitTest, ReanalysisOnTheFirstAttemptClearsTheDataSourceAfterThePing) {
    const struct {
        bool bReanalyze;
        int nAttempt;
        bool bClears;
    } cases[] = {{true, 1, true}, {true, 2, false}, {false, 1, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.bReanalyze << " attempt " << c.nAttempt);
        Answer(EngineReply());
        m_engine.ClearRequests();
        idxtest::LogCapture capture(0);
        ProbeInit init;
        init.SetReanalyze(c.bReanalyze);
        init.SetAttemptNumber(c.nAttempt);
        CKyError error = Initialize(init);
        ASSERT_FALSE(error.IsError()) << error.AsString();

        // Besides the pings: the delete of the data source and its commit, or nothing.
        std::vector<std::string> vecBodies;
        for (const EngineRequest &request : m_engine.Requests()) {
            if (request.eRoute != EngineRoute::Ping) {
                EXPECT_EQ(request.eRoute, EngineRoute::Update);
                vecBodies.push_back(request.strBody);
            }
        }
        EXPECT_EQ(vecBodies,
                  c.bClears
                      ? (std::vector<std::string>{
                            "<delete><query>DocumentType:(1 OR 4)</query></delete>", "<commit />"})
                      : std::vector<std::string>());
        // The engine answered the ping before the data source was cleared.
        std::vector<std::string> vecOrder;
        for (const idxtest::CapturedLogLine &line : capture.Lines()) {
            for (const char *szText : {"Solr engine is up and running",
                                       "Clearing data source as reanalyze option is selected"}) {
                if (line.strText.find(szText) != std::string::npos) {
                    vecOrder.push_back(szText);
                }
            }
        }
        EXPECT_EQ(vecOrder, c.bClears ? (std::vector<std::string>{
                                            "Solr engine is up and running",
                                            "Clearing data source as reanalyze option is selected"})
                                      : std::vector<std::string>{"Solr engine is up and running"});
    }
}

TEST_F(SolrTransmitterInitTest, QueueSizeAndWorkerCountOutOfRangeAreTakenAsAbsent) {
    Answer(EngineReply());
    const struct {
        const char *szValue;
        int nQueueSize;
        int nWorkers;
    } cases[] = {{"7", 7, 7},
                 {"0", 10000, 15},
                 {"-1", 10000, 15},
                 {"2147483648", 10000, 15},
                 {"2147483647", 2147483647, -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szValue);
        idxtest::ResetPlatformSettings();
        SetSetting("nMaxQueueSize", c.szValue);
        if (c.nWorkers >= 0) {
            SetSetting("nTransmitterThreads", c.szValue);
        }
        idxtest::LogCapture capture(0);
        ProbeInit init;
        CKyError error = Initialize(init);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        EXPECT_EQ(init.ptrMade->State().Config().m_nMaxQueueSize, c.nQueueSize);
        if (c.nWorkers >= 0) {
            EXPECT_EQ(init.ptrMade->State().Config().m_nTransmitterThreads, c.nWorkers);
        }
        EXPECT_EQ(capture.CountAtLevel("is not a count from 1 to 2147483647", -1),
                  c.nQueueSize == 10000 ? 2u : 0u);
    }
}

TEST_F(SolrTransmitterInitTest, ContentPushSizesInKilobytesSaturate) {
    Answer(EngineReply());
    SetSetting("nMaxSizePushContentsInKB", "0x7fffffffffffffff");
    SetSetting("nMinSizePushContentsInKB", "-9223372036854775807");
    ProbeInit init;
    CKyError error = Initialize(init);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    ExpectBagValue<long long>(*init.Bag(), BagId::idMaxFileSizePushContents, LLONG_MAX);
    ExpectBagValue<long long>(*init.Bag(), BagId::idMinFileSizePushContents, LLONG_MIN);
}

TEST_F(SolrTransmitterInitTest, NothingThrownInsideLeavesTheStartUp) {
    Answer(EngineReply());
    const struct {
        ProbeInit::EThrow eThrow;
        uint32_t nError;
        const char *szText;
    } cases[] = {{ProbeInit::EThrow::Memory, 14, ""},
                 {ProbeInit::EThrow::Other, 1359, "factory broke"}};
    for (const auto &c : cases) {
        ProbeInit init;
        init.eThrow = c.eThrow;
        CKyError error = Initialize(init);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, c.nError)) << error.AsString();
        EXPECT_TRUE(HasText(error, c.szText));
        EXPECT_FALSE(init.GetSolrTransmitterInstance());
    }
}

TEST(SolrTransmitterInitUrlencodeTest, LettersDigitsAndFourMarksStayEverythingElseIsEncoded) {
    const struct {
        std::string strIn;
        const char *szOut;
    } cases[] = {
        {"AZaz09-_.~", "AZaz09-_.~"},
        {"\xC3\xA9", "%c3%a9"},
        {"a b/c&d=e?", "a%20b%2fc%26d%3de%3f"},
        {std::string("\0\xFF", 2), "%00%ff"},
        {"", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(CSolrTransmitterInit::Urlencode(c.strIn), c.szOut);
    }
}

} // namespace

// The option-bag translations: the option bag's keys, the index-engine translation with its job
// modes, mandatory addresses, filter sets and platform settings, and the index-log translation.
#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "platform/Bag.h"
#include "platform/EventThread.h"
#include "platform/ManagementData.h"
#include "platform/MessageRecords.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

namespace {

typedef SXTransmitterConfigurationBagId BagId;
typedef std::map<std::string, std::string> StringMap;

// A shared state of the given type holding a fresh, empty option bag.
struct Translation {
    explicit Translation(eIDX_Transmitter_Type eType = eIDX_Transmitter_Solr)
        : state(nullptr, eType), ptrBag(boost::make_shared<CBag>()) {
        state.SetUp().m_ptrOptionsBag = ptrBag;
    }

    CTransmitterOptions &Options() { return *state.m_ptrOptions; }

    // The four engine addresses that a file-system job must have.
    void WriteEngineAddresses() {
        ptrBag->Write(BagId::idUpdateUrl, std::string("http://127.0.0.1:8983/solr/core/update"));
        ptrBag->Write(BagId::idBaseSolrUrl, std::string("http://127.0.0.1:8983/solr/core/"));
        ptrBag->Write(BagId::idCompleteSolrUrl,
                      std::string("http://127.0.0.1:8983/solr/core/update?wt=xml"));
        ptrBag->Write(BagId::idAuditSolrUrl, std::string("http://127.0.0.1:8983/solr/audit/"));
    }

    CSolrTransmitterPrivate state;
    CBagPtr ptrBag;
};

bool IsWin32(const CKyError &error, uint32_t nNumber) {
    return error.IsError() && FXErrorUtil::IsWin32(error, nNumber);
}

class ConfigureFromBagTest : public ::testing::Test {
protected:
    idxtest::PlatformSettingsScope m_settings;
};

TEST_F(ConfigureFromBagTest, KeysAreTheAgreedTexts) {
    const struct {
        const char *szMember;
        const char *szKey;
    } keys[] = {
        {BagId::idIsVMContentIndexing, "isVMContentIndexing:Transmitter"},
        {BagId::idIsSPContentIndexing, "isSPContentIndexing:Transmitter"},
        {BagId::idServer, "Server:Transmitter"},
        {BagId::idServerPort, "ServerPort:Transmitter"},
        {BagId::idUpdateUrl, "UpdateUrl:Transmitter"},
        {BagId::idBaseSolrUrl, "BaseSolrUrl:Transmitter"},
        {BagId::idCompleteSolrUrl, "CompleteSolrUrl:Transmitter"},
        {BagId::idAuditSolrUrl, "AuditSolrUrl:Transmitter"},
        {BagId::idAuditingContext, "AuditingContext:Transmitter"},
        {BagId::idCompleteSolrExtractUrl, "CompleteSolrExtractUrl:Transmitter"},
        {BagId::idSubClientDir, "SubClientDir:Transmitter"},
        {BagId::idClientName, "ClientName:Transmitter"},
        {BagId::idSolrClientName, "SolrClientName:Transmitter"},
        {BagId::idAppId, "AppId:Transmitter"},
        {BagId::idAppGUID, "AppGUID:Transmitter"},
        {BagId::idCollectSecurityInfo, "CollectSecurityInfo:Transmitter"},
        {BagId::idCollectOwnerInfo, "CollectOwnerInfo:Transmitter"},
        {BagId::idIsPreserveAccessTime, "IsPreserveAccessTime:Transmitter"},
        {BagId::idIsNasClient, "IsNasClient:Transmitter"},
        {BagId::idRetainVersion, "RetainVersion:Transmitter"},
        {BagId::idJobId, "JobId:Transmitter"},
        {BagId::idMaxFileSizePushContents, "MaxFileSizePushContents:Transmitter"},
        {BagId::idMinFileSizePushContents, "MinFileSizePushContents:Transmitter"},
        {BagId::idIncludeFilters, "IncludeFilters:Transmitter"},
        {BagId::idExcludeFilters, "ExcludeFilters:Transmitter"},
        {BagId::idClientId, "ClientId:Transmitter"},
        {BagId::idMaxItemsPerTransaction, "MaxItemsPerTransaction:Transmitter"},
        {BagId::idPushOnlyMetaData, "PushOnlyMetaData:Transmitter"},
        {BagId::idIsScanPhase, "IsScanPhase:Transmitter"},
        {BagId::idPushMetaDataWithCRC, "PushMetaDataWithCRC:Transmitter"},
        {BagId::idSchemaFields, "SchemaFields:Transmitter"},
        {BagId::idOptimizeContentPush, "OptimizeContentPush:Transmitter"},
        {BagId::idEnableMonitoring, "EnableMonitoring:Transmitter"},
        {BagId::idIsCloudMode, "IsCloudMode:Transmitter"},
        {BagId::idUseDynamicTppm, "UseDynamicTppm:Transmitter"},
        {BagId::idAbortEvent, "AbortEvent:Transmitter"},
        {BagId::idVMName, "VMName:Transmitter"},
        {BagId::idVMGUID, "VMGUID:Transmitter"},
        {BagId::idVMHypervisor, "VMHypervisor:Transmitter"},
        {BagId::idVMMountPaths, "VMMountPaths:Transmitter"},
        {BagId::idVMCatalogOptions, "VMCatalogOptions:Transmitter"},
        {BagId::idExcludePaths, "ExcludePaths:Transmitter"},
        {BagId::idIsDisableFailureLogging, "IsDisableFailureLogging:Transmitter"},
        {BagId::idFleetId, "FleetId:Transmitter"},
        {BagId::idAppType, "AppType:Transmitter"},
        {BagId::idBackupType, "BackupType:Transmitter"},
        {BagId::idJobToken, "JobToken:Transmitter"},
        {BagId::idIndexingServer, "IndexingServer:Transmitter"},
        {BagId::idIndexingConnectionFlags, "IdexingConnFlags:Transmitter"},
        {BagId::idSnapJobId, "SnapJobId:Transmitter"},
        {BagId::idSnapArchiveFileID, "SnapArchiveFileID:Transmitter"},
        {BagId::idArchiveFileflags, "ArchiveFileFlags:Transmitter"},
        {BagId::idRefTime, "RefTime:RefTime"},
        {BagId::idClientOSId, "ClientOSId:Transmitter"},
        {BagId::idVSACatalogBackupSetGUID, "VSACatalogBackupSetGUID:Transmitter"},
        {BagId::idMaxCollectFileID, "MaxCollectFileID"},
        {BagId::idMonitorJobResultsDir, "MonitorJobResultsDir:Transmitter"},
        {BagId::idIsContentId, "ContentId:Transmitter"},
        {BagId::idIsItemURL, "ItemURL:Transmitter"},
        {BagId::idIsRoot, "IsRoot:Transmitter"},
    };
    std::set<std::string> setSeen;
    for (const auto &key : keys) {
        EXPECT_STREQ(key.szKey, key.szMember);
        EXPECT_TRUE(setSeen.insert(key.szMember).second) << "duplicate key " << key.szMember;
    }
}

TEST_F(ConfigureFromBagTest, NoBagChangesNothing) {
    for (eIDX_Transmitter_Type eType : {eIDX_Transmitter_Solr, eIDX_Transmitter_LogWriter}) {
        Translation t(eType);
        t.state.SetUp().m_ptrOptionsBag.reset();
        idxtest::LogCapture capture(7);
        EXPECT_FALSE(t.state.ConfigureFromBag().IsError());
        EXPECT_FALSE(t.state.IsDataConfiguredFromBag());
        EXPECT_EQ(20, t.Options().GetMaxItemsPerTransaction());
        EXPECT_EQ("", t.Options().GetSubClientDir());
        EXPECT_TRUE(capture.Lines().empty());
    }
}

TEST_F(ConfigureFromBagTest, EmptyBagOfAFileSystemJobFailsOnTheUpdateUrl) {
    Translation t;
    idxtest::LogCapture capture(0);
    CKyError error = t.state.ConfigureFromBag();
    ASSERT_TRUE(error.IsError());
    EXPECT_NE(std::string::npos, error.AsString().find("UpdateUrl:Transmitter"))
        << error.AsString();
    EXPECT_FALSE(t.state.IsDataConfiguredFromBag());
    EXPECT_EQ(1u, capture.CountAtLevel("VM Content Indexing Job:[False]", 0));
    EXPECT_EQ(1u, capture.CountAtLevel("SharePoint Content Indexing Job:[False]", 0));
    // The translation ended before the platform settings.
    EXPECT_FALSE(capture.Contains("nMaxConsecutiveFailures"));
}

TEST_F(ConfigureFromBagTest, EachEngineAddressIsMandatoryInFileSystemMode) {
    const char *const szAddresses[] = {BagId::idUpdateUrl, BagId::idBaseSolrUrl,
                                       BagId::idCompleteSolrUrl, BagId::idAuditSolrUrl};
    for (int nMissing = 0; nMissing < 4; ++nMissing) {
        Translation t;
        t.WriteEngineAddresses();
        t.ptrBag->Remove(szAddresses[nMissing]);
        t.ptrBag->Write(BagId::idAuditingContext, true);
        t.ptrBag->Write(BagId::idSubClientDir, std::string("/var/idx"));

        CKyError error = t.state.ConfigureFromBag();
        ASSERT_TRUE(error.IsError()) << szAddresses[nMissing];
        EXPECT_NE(std::string::npos, error.AsString().find(szAddresses[nMissing]));
        EXPECT_FALSE(t.state.IsDataConfiguredFromBag());
        // The addresses read before the missing one stay in the record; nothing after it is read.
        EXPECT_EQ(nMissing > 1, !t.Options().GetBaseSolrUrl().empty());
        EXPECT_EQ(nMissing > 2, !t.Options().GetCompleteSolrUrl().empty());
        EXPECT_FALSE(t.Options().IsAuditingContext());
        EXPECT_EQ("", t.Options().GetSubClientDir());
    }
}

TEST_F(ConfigureFromBagTest, EmptyAuditUrlIsAccepted) {
    Translation t;
    t.WriteEngineAddresses();
    t.ptrBag->Write(BagId::idAuditSolrUrl, std::string());
    t.ptrBag->Write(BagId::idAuditingContext, true);
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    EXPECT_TRUE(t.state.IsDataConfiguredFromBag());
    EXPECT_EQ("", t.Options().GetAuditSolrUrl());
    EXPECT_TRUE(t.Options().IsAuditingContext());
    EXPECT_EQ("http://127.0.0.1:8983/solr", t.Options().GetRestAPISolrUrl());
}

TEST_F(ConfigureFromBagTest, WebServiceModesNeedNoEngineAddress) {
    const struct {
        bool bVM;
        bool bSP;
        const char *szVMLine;
        const char *szSPLine;
    } cases[] = {
        {true, false, "VM Content Indexing Job:[True]", "SharePoint Content Indexing Job:[False]"},
        {false, true, "VM Content Indexing Job:[False]", "SharePoint Content Indexing Job:[True]"},
        {true, true, "VM Content Indexing Job:[True]", "SharePoint Content Indexing Job:[True]"},
    };
    for (const auto &c : cases) {
        Translation t;
        t.ptrBag->Write(BagId::idIsVMContentIndexing, c.bVM);
        t.ptrBag->Write(BagId::idIsSPContentIndexing, c.bSP);
        // Engine addresses are not read in these modes, even when present.
        t.ptrBag->Write(BagId::idBaseSolrUrl, std::string("http://127.0.0.1:8983/solr/core/"));
        t.ptrBag->Write(BagId::idAuditingContext, true);
        idxtest::LogCapture capture(0);
        ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
        EXPECT_TRUE(t.state.IsDataConfiguredFromBag());
        EXPECT_EQ(c.bVM, t.Options().IsVMContentIndexing());
        EXPECT_EQ(c.bSP, t.Options().IsSPContentIndexing());
        EXPECT_EQ("", t.Options().GetBaseSolrUrl());
        EXPECT_FALSE(t.Options().IsAuditingContext());
        EXPECT_TRUE(capture.Contains(c.szVMLine));
        EXPECT_TRUE(capture.Contains(c.szSPLine));
    }
}

TEST_F(ConfigureFromBagTest, FileSystemBagFillsTheRecord) {
    Translation t;
    CBag &bag = *t.ptrBag;
    t.WriteEngineAddresses();
    bag.Write(BagId::idAuditingContext, true);
    bag.Write(BagId::idServer, std::string("idxhost"));
    bag.Write(BagId::idServerPort, int32_t(20000)); // the initializer writes it signed
    bag.Write(BagId::idCompleteSolrExtractUrl,
              std::string("http://127.0.0.1:8983/solr/core/update/extract?x=1"));
    bag.Write(BagId::idSubClientDir, std::string("/var/idx/sub"));
    bag.Write(BagId::idClientName, std::string("client1"));
    bag.Write(BagId::idSolrClientName, std::string("idxclient"));
    bag.Write(BagId::idAppId, uint32_t(4000000000u));
    bag.Write(BagId::idAppGUID, std::string("GUID-1"));
    bag.Write(BagId::idCollectSecurityInfo, true);
    bag.Write(BagId::idCollectOwnerInfo, true);
    bag.Write(BagId::idIsPreserveAccessTime, true);
    bag.Write(BagId::idIsNasClient, true);
    bag.Write(BagId::idRetainVersion, true);
    bag.Write(BagId::idJobId, 123456789012LL);
    bag.Write(BagId::idMaxFileSizePushContents, 1000LL);
    bag.Write(BagId::idMinFileSizePushContents, 10LL);
    bag.Write(BagId::idClientId, static_cast<unsigned long long>(17)); // written 64-bit
    bag.Write(BagId::idMaxItemsPerTransaction, 0);
    bag.Write(BagId::idPushOnlyMetaData, false);
    bag.Write(BagId::idIsScanPhase, false);
    bag.Write(BagId::idPushMetaDataWithCRC, true);
    bag.WriteAny(BagId::idSchemaFields, StringMap{{"site", "lab"}});
    bag.Write(BagId::idOptimizeContentPush, true);
    bag.Write(BagId::idEnableMonitoring, true);
    bag.Write(BagId::idIsCloudMode, true);
    bag.Write(BagId::idUseDynamicTppm, false);
    bag.Write(BagId::idIsDisableFailureLogging, true);
    // Virtual-machine keys are left alone in file-system mode.
    bag.Write(BagId::idVMName, std::string("vm1"));
    bag.WriteAny(BagId::idExcludePaths, std::list<std::string>{"/tmp"});

    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    const CTransmitterOptions &o = t.Options();
    EXPECT_TRUE(t.state.IsDataConfiguredFromBag());
    EXPECT_EQ("http://127.0.0.1:8983/solr/core/", o.GetBaseSolrUrl());
    EXPECT_EQ("http://127.0.0.1:8983/solr", o.GetRestAPISolrUrl());
    EXPECT_EQ("http://127.0.0.1:8983/solr/core/update?wt=xml", o.GetCompleteSolrUrl());
    EXPECT_EQ("http://127.0.0.1:8983/solr/audit/", o.GetAuditSolrUrl());
    EXPECT_TRUE(o.IsAuditingContext());
    EXPECT_EQ("http://127.0.0.1:8983/solr/core/update/extract?x=1", o.GetCompleteSolrExtractUrl());
    EXPECT_EQ("/var/idx/sub", o.GetSubClientDir());
    EXPECT_EQ("client1", o.GetClientName());
    EXPECT_EQ("idxclient", o.GetSolrClientName());
    EXPECT_EQ(4000000000u, o.GetApplicationNumber());
    EXPECT_EQ("4000000000", o.GetApplicationNumberString());
    EXPECT_EQ("GUID-1", o.GetAppGUID());
    EXPECT_TRUE(o.IsCollectSecurityInfo());
    EXPECT_TRUE(o.IsCollectOwnerInfo());
    EXPECT_TRUE(o.IsNasClient());
    EXPECT_EQ(123456789012LL, o.GetJobId());
    EXPECT_EQ("123456789012", o.GetJobIdString());
    EXPECT_EQ(1000, o.GetMaxFileSizePushContent());
    EXPECT_EQ(10, o.GetMinFileSizePushContent());
    EXPECT_EQ(17u, o.GetClientId());
    EXPECT_EQ("17", o.GetClientIdString());
    EXPECT_EQ(1, o.GetMaxItemsPerTransaction());
    EXPECT_FALSE(o.IsPushOnlyMetaData());
    EXPECT_FALSE(o.IsScanPhase());
    EXPECT_TRUE(o.IsPushMetaDataWithCRC());
    EXPECT_EQ((StringMap{{"site", "lab"}}), o.GetSchemaFieldsMap());
    EXPECT_TRUE(o.IsOptimizeContentPush());
    EXPECT_TRUE(o.IsCloudMode());
    EXPECT_FALSE(o.GetUseDynamicTppm());
    EXPECT_TRUE(o.IsDisableFailureLogging());
    EXPECT_EQ("", o.GetVMName());
    EXPECT_TRUE(o.GetExcludePaths().empty());
}

TEST_F(ConfigureFromBagTest, VirtualMachineBagFillsItsKeys) {
    Translation t;
    CBag &bag = *t.ptrBag;
    VirtualServer::VMCatalogOptions catalog;
    catalog.setstring(28, 64, "http://127.0.0.1:81/svc");
    bag.Write(BagId::idIsVMContentIndexing, true);
    bag.Write(BagId::idVMName, std::string("vm-one"));
    bag.Write(BagId::idVMGUID, std::string("4223-aa"));
    bag.Write(BagId::idVMHypervisor, std::string("hv"));
    bag.WriteAny(BagId::idVMMountPaths, StringMap{{"/mnt/vm/0", "C:"}});
    bag.WriteAny(BagId::idVMCatalogOptions, catalog);
    bag.WriteAny(BagId::idExcludePaths, std::list<std::string>{"/mnt/vm/0/pagefile.sys"});

    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    CTransmitterOptions &o = t.Options();
    EXPECT_EQ("vm-one", o.GetVMName());
    EXPECT_EQ("4223-aa", o.GetVMGUID());
    EXPECT_EQ((StringMap{{"/mnt/vm/0", "C:"}}), o.GetVmMountPathVol());
    EXPECT_EQ("http://127.0.0.1:81/svc", o.GetVMCatalogOptions().getstring(28, 64));
    EXPECT_EQ((std::list<std::string>{"/mnt/vm/0/pagefile.sys"}), o.GetExcludePaths());
}

TEST_F(ConfigureFromBagTest, FilterSetsFollowTheJobMode) {
    enum Mode { eFileSystem, eVM, eSP };
    const struct {
        Mode eMode;
        const char *szInclude;
        const char *szExclude;
        std::set<std::string> setInclude;
        std::set<std::string> setExclude;
    } cases[] = {
        {eVM, "docs,*.tmp", "*.bak", {"/**/*.tmp", "/**/docs"}, {"/**/*.bak"}},
        {eVM, nullptr, "a,b", {}, {"/**/a", "/**/b"}},
        {eFileSystem, "*.doc,*.PDF,notes", "*.bak", {"PDF", "doc", "notes"}, {}},
        {eFileSystem, "a.tar.gz", nullptr, {"gz"}, {}},
        {eFileSystem, "abc.", nullptr, {""}, {}},
        // An empty piece is no extension at all: it would select every file without one.
        {eFileSystem, "*.doc,", nullptr, {"doc"}, {}},
        {eFileSystem, ",,", nullptr, {}, {}},
        {eSP, "*.doc", "*.bak", {}, {}},
    };
    for (const auto &c : cases) {
        Translation t;
        if (c.eMode == eFileSystem) {
            t.WriteEngineAddresses();
        }
        t.ptrBag->Write(BagId::idIsVMContentIndexing, c.eMode == eVM);
        t.ptrBag->Write(BagId::idIsSPContentIndexing, c.eMode == eSP);
        if (c.szInclude) {
            t.ptrBag->Write(BagId::idIncludeFilters, std::string(c.szInclude));
        }
        if (c.szExclude) {
            t.ptrBag->Write(BagId::idExcludeFilters, std::string(c.szExclude));
        }
        ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
        EXPECT_EQ(c.setInclude, t.Options().GetIncludeFiltersSet())
            << (c.szInclude ? c.szInclude : "(none)");
        EXPECT_EQ(c.setExclude, t.Options().GetExcludeFiltersSet())
            << (c.szExclude ? c.szExclude : "(none)");
    }
}

TEST_F(ConfigureFromBagTest, AbsentPlatformSettingsLeaveTheDefaults) {
    Translation t;
    t.WriteEngineAddresses();
    idxtest::ClearPlatformSetting("FileSystemAgent", "nMaxRetryThresholdInMins");
    idxtest::ClearPlatformSetting("FileSystemAgent", "nMaxConsecutiveFailures");
    idxtest::ClearPlatformSetting("FileSystemAgent", "nMaxFailures");
    idxtest::ClearPlatformSetting("FileSystemAgent", "nTransmitterQueueTimeoutInMins");
    idxtest::ClearPlatformSetting("FileSystemAgent", "nDisableSolrPerfThread");
    idxtest::LogCapture capture(0);
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());

    EXPECT_EQ(10, t.Options().GetMaxRetryOnMemoryFailures());
    EXPECT_EQ(10, t.Options().GetMaxConsecutiveFailuresThreshold());
    EXPECT_EQ(15u, t.state.Config().m_nQueueTimeoutInMins);
    EXPECT_EQ(0, t.state.Config().m_nDisableSolrPerfThread);
    EXPECT_EQ(1u, capture.CountAtLevel("nMaxConsecutiveFailures[10]", 0));
    EXPECT_EQ(1u, capture.CountAtLevel("nMaxFailures[500]", 0));
    EXPECT_FALSE(capture.Contains("nMaxRetryThresholdInMins"));
    EXPECT_FALSE(capture.Contains("nTransmitterQueueTimeoutInMins"));
    EXPECT_FALSE(capture.Contains("nDisableSolrPerfThread"));
}

TEST_F(ConfigureFromBagTest, PlatformSettingsOverrideTheDefaults) {
    Translation t;
    t.WriteEngineAddresses();
    idxtest::SetPlatformSetting("FileSystemAgent", "nMaxRetryThresholdInMins", "3");
    idxtest::SetPlatformSetting("FileSystemAgent", "nMaxConsecutiveFailures", "4");
    idxtest::SetPlatformSetting("FileSystemAgent", "nMaxFailures", "5");
    idxtest::SetPlatformSetting("FileSystemAgent", "nTransmitterQueueTimeoutInMins", "30");
    idxtest::SetPlatformSetting("FileSystemAgent", "nDisableSolrPerfThread", "1");
    idxtest::LogCapture capture(0);
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());

    EXPECT_EQ(3, t.Options().GetMaxRetryOnMemoryFailures());
    EXPECT_EQ(4, t.Options().GetMaxConsecutiveFailuresThreshold());
    EXPECT_EQ(30u, t.state.Config().m_nQueueTimeoutInMins);
    EXPECT_EQ(1, t.state.Config().m_nDisableSolrPerfThread);
    EXPECT_EQ(1u, capture.CountAtLevel("nMaxRetryThresholdInMins[3] from registry", 0));
    EXPECT_EQ(1u, capture.CountAtLevel("nMaxConsecutiveFailures[4]", 0));
    EXPECT_EQ(1u, capture.CountAtLevel("nMaxFailures[5]", 0));
    EXPECT_EQ(1u, capture.CountAtLevel("nTransmitterQueueTimeoutInMins[30] from registry", 0));
    EXPECT_EQ(1u, capture.CountAtLevel("nDisableSolrPerfThread[1] from registry", 0));
}

TEST_F(ConfigureFromBagTest, AbortEventFromTheBagAbortsTheRecord) {
    // A usable event, an empty pointer and a value of another type: only the first is kept.
    auto ptrEvent = boost::make_shared<FXEvent>(0u);
    const struct {
        boost::any value;
        bool bKept;
    } cases[] = {
        {ptrEvent, true},
        {boost::shared_ptr<FXEvent>(), false},
        {std::string("not an event"), false},
    };
    for (const auto &c : cases) {
        Translation t;
        t.WriteEngineAddresses();
        t.ptrBag->WriteAny(BagId::idAbortEvent, c.value);
        ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
        EXPECT_TRUE(t.state.IsDataConfiguredFromBag());
        EXPECT_FALSE(t.Options().IsAborted());
        ptrEvent->Set();
        EXPECT_EQ(c.bKept, t.Options().IsAborted());
    }
}

TEST_F(ConfigureFromBagTest, WrongTypeUnderAnUntypedKeyIsInvalidParameterNamingTheKey) {
    const struct {
        bool bVMMode;
        const char *szKey;
    } cases[] = {
        {false, BagId::idSchemaFields}, {true, BagId::idSchemaFields},
        {true, BagId::idVMMountPaths},  {true, BagId::idVMCatalogOptions},
        {true, BagId::idExcludePaths},
    };
    for (const auto &c : cases) {
        Translation t;
        t.WriteEngineAddresses();
        t.ptrBag->Write(BagId::idIsVMContentIndexing, c.bVMMode);
        t.ptrBag->Write(c.szKey, std::string("a text where a record belongs"));
        CKyError error = t.state.ConfigureFromBag();
        EXPECT_TRUE(IsWin32(error, 87)) << c.szKey << ": " << error.AsString();
        EXPECT_NE(std::string::npos, error.AsString().find(c.szKey)) << error.AsString();
        EXPECT_FALSE(t.state.IsDataConfiguredFromBag());
    }
}

// The job meant to set these: the default stays, and an error line says which key was not
// taken, what it held and what it should hold.
TEST_F(ConfigureFromBagTest, WrongTypeUnderATypedKeyKeepsTheDefaultAndIsAnErrorLine) {
    const struct {
        eIDX_Transmitter_Type eType;
        const char *szKey;
        boost::any value;
        const char *szFound;
        const char *szAsked; // nullptr: not checked
        const char *szKept;
        std::function<bool(CTransmitterOptions &)> fnDefaultKept;
    } cases[] = {
        {eIDX_Transmitter_Solr, BagId::idIsScanPhase, int32_t(0), "int32", "bool", "true",
         [](CTransmitterOptions &o) { return o.IsScanPhase(); }},
        {eIDX_Transmitter_Solr, BagId::idIsVMContentIndexing, std::string("true"), "std::string",
         "bool", "false", [](CTransmitterOptions &o) { return !o.IsVMContentIndexing(); }},
        {eIDX_Transmitter_Solr, BagId::idJobId, std::string("42"), "std::string", "int64", "0",
         [](CTransmitterOptions &o) { return o.GetJobId() == 0; }},
        {eIDX_Transmitter_Solr, BagId::idSubClientDir, 5, "int32", "std::string", "",
         [](CTransmitterOptions &o) { return o.GetSubClientDir().empty(); }},
        {eIDX_Transmitter_Solr, BagId::idAbortEvent, std::string("not an event"), "std::string",
         nullptr, "no event", [](CTransmitterOptions &o) { return !o.IsAborted(); }},
        {eIDX_Transmitter_Solr, BagId::idMaxItemsPerTransaction, std::string("250"), "std::string",
         "int32", "20",
         [](CTransmitterOptions &o) {
             return o.GetMaxItemsPerTransaction() ==
                    CTransmitterOptions().GetMaxItemsPerTransaction();
         }},
        {eIDX_Transmitter_LogWriter, BagId::idJobId, std::string("42"), "std::string", "int64", "0",
         [](CTransmitterOptions &o) { return o.GetJobId() == 0; }},
        {eIDX_Transmitter_LiveCrawl, BagId::idMaxCollectFileID, 8.0, "double", "int64", "0",
         [](CTransmitterOptions &o) { return o.GetMaxCollectFileID() == 0; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szKey);
        Translation t(c.eType);
        t.WriteEngineAddresses();
        t.ptrBag->WriteAny(c.szKey, c.value);
        idxtest::LogCapture capture(0);
        ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
        EXPECT_TRUE(c.fnDefaultKept(t.Options()));
        const std::string strLine = std::string("Option [") + c.szKey +
                                    "] holds a value of type [" + c.szFound + "]" +
                                    (c.szAsked ? std::string(", not [") + c.szAsked + "]" : "");
        EXPECT_EQ(1u, capture.CountAtLevel(strLine, -1)) << strLine;
        // The line ends naming the value the record keeps.
        const std::string strKept = std::string("; its default [") + c.szKept + "] is kept";
        EXPECT_EQ(1u, capture.CountAtLevel(c.szAsked ? strLine + strKept : strKept, -1)) << strKept;
    }

    // An integer of another width is read as it is, and an absent key is no news.
    Translation t;
    t.WriteEngineAddresses();
    t.ptrBag->Write(BagId::idJobId, int32_t(42));
    idxtest::LogCapture capture(0);
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    EXPECT_EQ(42, t.Options().GetJobId());
    EXPECT_FALSE(capture.Contains("holds a value of type"));
}

TEST_F(ConfigureFromBagTest, SecondTranslationOfTheSameBagGivesTheSameRecord) {
    Translation t;
    t.WriteEngineAddresses();
    t.ptrBag->Write(BagId::idIncludeFilters, std::string("*.doc,*.txt"));
    t.ptrBag->Write(BagId::idJobId, 5LL);
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    std::set<std::string> setFirst = t.Options().GetIncludeFiltersSet();
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    EXPECT_EQ(setFirst, t.Options().GetIncludeFiltersSet());
    EXPECT_EQ("5", t.Options().GetJobIdString());
    EXPECT_EQ("http://127.0.0.1:8983/solr", t.Options().GetRestAPISolrUrl());
}

TEST_F(ConfigureFromBagTest, IndexLogTranslationOfAnEmptyBagSucceeds) {
    Translation t(eIDX_Transmitter_LogWriter);
    // Platform settings are the index-engine translation's alone.
    idxtest::SetPlatformSetting("FileSystemAgent", "nTransmitterQueueTimeoutInMins", "30");
    idxtest::SetPlatformSetting("FileSystemAgent", "nDisableSolrPerfThread", "1");
    idxtest::LogCapture capture(7);
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    EXPECT_FALSE(t.state.IsDataConfiguredFromBag());
    EXPECT_EQ(15u, t.state.Config().m_nQueueTimeoutInMins);
    EXPECT_EQ(0, t.state.Config().m_nDisableSolrPerfThread);
    EXPECT_EQ(1u, capture.CountAtLevel("Configure_IndexingServer failed with error [", -1));
    EXPECT_TRUE(capture.Contains("IndexingServer:Transmitter"));
    EXPECT_EQ(1u, capture.CountAtLevel("max Collect-File-ID : 0", 0));
    EXPECT_FALSE(capture.Contains("VM Display Name"));
    EXPECT_FALSE(capture.Contains("VM Content Indexing Job"));
    EXPECT_EQ("", t.Options().GetIndexingServerClientName());
    EXPECT_EQ("", t.Options().GetIndexingServerMangledName());
    EXPECT_EQ(0u, t.Options().GetSnapArchiveFileID());
    EXPECT_TRUE(t.Options().IsPushOnlyMetaData());
}

TEST_F(ConfigureFromBagTest, IndexLogBagFillsTheRecord) {
    Translation t(eIDX_Transmitter_BlkLvl);
    CBag &bag = *t.ptrBag;
    bag.Write(BagId::idSubClientDir, std::string("/var/idx/sub"));
    bag.Write(BagId::idClientName, std::string("client1"));
    bag.Write(BagId::idAppId, static_cast<unsigned long long>(12)); // written 64-bit
    bag.Write(BagId::idAppGUID, std::string("GUID-2"));
    bag.Write(BagId::idCollectSecurityInfo, true);
    bag.Write(BagId::idCollectOwnerInfo, true);
    bag.Write(BagId::idJobId, 99LL);
    bag.Write(BagId::idFleetId, 7ul);
    bag.Write(BagId::idClientId, static_cast<unsigned long long>(3));
    bag.Write(BagId::idAppType, 33ul);
    bag.Write(BagId::idBackupType, int32_t(2));
    bag.Write(BagId::idJobToken, "1:2:3");
    bag.Write(BagId::idIndexingConnectionFlags, 0x80ull);
    bag.Write(BagId::idIndexingConnectionFlags, 0x90ull); // a later write replaces
    bag.Write(BagId::idSnapJobId, static_cast<unsigned long long>(444));
    bag.Write(BagId::idSnapArchiveFileID, 555ul);
    bag.Write(BagId::idArchiveFileflags, 0x10ul);
    bag.Write(BagId::idRefTime, 1700000000LL);
    bag.Write(BagId::idClientOSId, 6ul);
    bag.Write(BagId::idVSACatalogBackupSetGUID, std::string("BS-GUID"));
    bag.Write(BagId::idVMGUID, std::string("VM-GUID"));
    bag.WriteAny(BagId::idVMMountPaths, StringMap{{"/mnt/a", "D:"}});
    bag.Write(BagId::idIsDisableFailureLogging, true);
    // Index-engine keys mean nothing here.
    bag.Write(BagId::idMaxItemsPerTransaction, 3);

    idxtest::LogCapture capture(7);
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    const CTransmitterOptions &o = t.Options();
    EXPECT_FALSE(t.state.IsDataConfiguredFromBag());
    EXPECT_EQ("/var/idx/sub", o.GetSubClientDir());
    EXPECT_EQ("client1", o.GetClientName());
    EXPECT_EQ(12u, o.GetApplicationNumber());
    EXPECT_EQ("GUID-2", o.GetAppGUID());
    EXPECT_TRUE(o.IsCollectSecurityInfo());
    EXPECT_TRUE(o.IsCollectOwnerInfo());
    EXPECT_EQ(99, o.GetJobId());
    EXPECT_EQ(7u, o.GetFleetId());
    EXPECT_EQ(3u, o.GetClientId());
    EXPECT_EQ(33u, o.GetAppType());
    EXPECT_EQ(2, o.GetBackupType());
    EXPECT_EQ("1:2:3", o.GetJobToken());
    EXPECT_EQ(0x90u, o.GetIndexingConnectionFlags());
    EXPECT_EQ(444, o.GetSnapJobId());
    EXPECT_EQ(555u, o.GetSnapArchiveFileID());
    EXPECT_EQ(0x10u, o.GetArchiveFileFlags());
    EXPECT_EQ(1700000000L, o.GetRefTime());
    EXPECT_EQ(6u, o.GetClientOSId());
    EXPECT_EQ("BS-GUID", o.GetVSACatalogBackupSetGUID());
    EXPECT_EQ("VM-GUID", o.GetVMGUID());
    EXPECT_EQ((StringMap{{"/mnt/a", "D:"}}), o.GetVmMountPathVol());
    EXPECT_TRUE(o.IsDisableFailureLogging());
    EXPECT_EQ(20, o.GetMaxItemsPerTransaction());
    EXPECT_FALSE(capture.Contains("VM Display Name"));
}

TEST_F(ConfigureFromBagTest, IndexLogTranslationLogsTheVMNameAndCollectFileLimit) {
    Translation t(eIDX_Transmitter_LiveCrawl);
    t.ptrBag->Write(BagId::idVMName, std::string("vm-two"));
    t.ptrBag->Write(BagId::idMaxCollectFileID, 8u);
    idxtest::LogCapture capture(7);
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
    EXPECT_EQ("vm-two", t.Options().GetVMName());
    EXPECT_EQ(8u, t.Options().GetMaxCollectFileID());
    EXPECT_EQ(1u, capture.CountAtLevel("VM Display Name vm-two", 5));
    EXPECT_EQ(1u, capture.CountAtLevel("max Collect-File-ID : 8", 0));
}

// Each worker and the commit cycle keep 8 bytes per collect file: a negative count (which would
// wrap to 4294967295) or one above 1048576 is refused, naming the key, before anything is made.
TEST_F(ConfigureFromBagTest, CollectFileLimitOutsideItsBoundIsInvalidParameterNamingTheKey) {
    const struct {
        boost::any value;
        bool bTaken;
        unsigned int nTaken;
    } cases[] = {
        {uint32_t(0), true, 0},
        {uint32_t(1048576), true, 1048576},
        {int64_t(1048576), true, 1048576},
        {int32_t(-1), false, 0},
        {int64_t(-1), false, 0},
        {uint32_t(4294967295u), false, 0},
        {uint32_t(1048577), false, 0},
        {uint32_t(33554432), false, 0},
        {int64_t(1) << 32, false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(CBag::TypeName(c.value));
        Translation t(eIDX_Transmitter_LiveCrawl);
        t.ptrBag->WriteAny(BagId::idMaxCollectFileID, c.value);
        CKyError error = t.state.ConfigureFromBag();
        if (c.bTaken) {
            ASSERT_FALSE(error.IsError()) << error.AsString();
            EXPECT_EQ(c.nTaken, t.Options().GetMaxCollectFileID());
        } else {
            EXPECT_TRUE(IsWin32(error, 87)) << error.AsString();
            EXPECT_NE(std::string::npos, error.AsString().find("Option [MaxCollectFileID] of "))
                << error.AsString();
            EXPECT_EQ(0u, t.Options().GetMaxCollectFileID());
        }
    }
}

TEST_F(ConfigureFromBagTest, IndexLogTranslationOfTheWrongMountPathTypeIsInvalidParameter) {
    Translation t(eIDX_Transmitter_VSA);
    t.ptrBag->Write(BagId::idVMMountPaths, std::string("/mnt/a=D:"));
    CKyError error = t.state.ConfigureFromBag();
    EXPECT_TRUE(IsWin32(error, 87)) << error.AsString();
    EXPECT_NE(std::string::npos, error.AsString().find(BagId::idVMMountPaths));
}

TEST_F(ConfigureFromBagTest, IndexServerNamesOfAVirtualMachineCatalogue) {
    Translation t(eIDX_Transmitter_VSA);
    t.ptrBag->Write(BagId::idIndexingServer, std::string("idxserver1"));
    ASSERT_FALSE(t.state.ConfigureFromBag().IsError());

    TQClient client("idxserver1", false, 0);
    std::string strMangled;
    client.getNetworkHostnameMangled(strMangled, nullptr);
    EXPECT_EQ("idxserver1", t.Options().GetIndexingServerClientName());
    EXPECT_FALSE(strMangled.empty());
    EXPECT_EQ(strMangled, t.Options().GetIndexingServerMangledName());
}

TEST_F(ConfigureFromBagTest, IndexServerNamesOfTheOtherIndexLogTypes) {
    // The mangled name of a host whose client name differs from it: the translation must give
    // the client name back, not the host.
    const std::string strMangled = MangleHostName("idxhost.lab", "idx client", 8400, 1);
    for (eIDX_Transmitter_Type eType : {eIDX_Transmitter_LogWriter, eIDX_Transmitter_BlkLvl,
                                        eIDX_Transmitter_FSDirect, eIDX_Transmitter_LiveCrawl}) {
        Translation t(eType);
        t.ptrBag->Write(BagId::idIndexingServer, strMangled);
        idxtest::LogCapture capture(7);
        ASSERT_FALSE(t.state.ConfigureFromBag().IsError());
        EXPECT_EQ(strMangled, t.Options().GetIndexingServerMangledName());
        EXPECT_EQ("idx client", t.Options().GetIndexingServerClientName());
        EXPECT_FALSE(capture.Contains("Configure_IndexingServer failed"));
    }
}

} // namespace

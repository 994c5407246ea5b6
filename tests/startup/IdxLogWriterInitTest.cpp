// The five index-log initializers: the option bag each writes from the scanner bag, the refusal
// of the index-engine entry point, and whole jobs from the entry point to the index server's
// backup-done flag, over the stand-in index server.
#include "startup/IdxLogWriterInit.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "foundation/FileData.h"
#include "logwriter/IdxLogWriterLiveCrawlThread.h"
#include "logwriter/IdxLogWriterThreadBlkLvl.h"
#include "logwriter/IdxLogWriterThreadFSDirect.h"
#include "logwriter/IdxLogWriterThreadVSA.h"
#include "platform/JobClients.h"
#include "platform/ManagementData.h"
#include "platform/testing/IndexServer.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "startup/IdxLogWriterInitBlkLvl.h"
#include "startup/IdxLogWriterInitFSDirect.h"
#include "startup/IdxLogWriterInitVSA.h"
#include "startup/IdxLogWriterLiveCrawlInit.h"
#include "startup/ScannerConfigurationBagId.h"
#include "tests/support/TempDir.h"
#include "tests/support/logwriter/LogWriterTestSupport.h"
#include "transmitter/TransmitterConfigurationBagId.h"

using idxtest::IndexServerCall;
using idxtest::WaitUntil;

namespace {

typedef SXTransmitterConfigurationBagId BagId;
typedef SXScannerConfigurationBagId ScannerId;

const unsigned long kBlockLevelArchiveFile = 55;

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

std::unique_ptr<CIdxLogWriterInit> MakeInit(eIDX_Transmitter_Type eType) {
    switch (eType) {
    case eIDX_Transmitter_VSA:
        return std::make_unique<CIdxLogWriterInitVSA>();
    case eIDX_Transmitter_BlkLvl:
        return std::make_unique<CIdxLogWriterInitBlkLvl>(kBlockLevelArchiveFile);
    case eIDX_Transmitter_FSDirect:
        return std::make_unique<CIdxLogWriterInitFSDirect>();
    case eIDX_Transmitter_LiveCrawl:
        return std::make_unique<CIdxLogWriterLiveCrawlInit>();
    default:
        return std::make_unique<CIdxLogWriterInit>();
    }
}

const eIDX_Transmitter_Type kTypes[] = {eIDX_Transmitter_LogWriter, eIDX_Transmitter_VSA,
                                        eIDX_Transmitter_BlkLvl, eIDX_Transmitter_FSDirect,
                                        eIDX_Transmitter_LiveCrawl};

// The text form of a bag value: its type and its value.
std::string BagEntry(const CBag &bag, const char *szKey) {
    boost::any value;
    if (bag.ReadAny(szKey, value).IsError()) {
        return "absent";
    }
    std::string strValue;
    if (const std::string *pText = boost::any_cast<std::string>(&value)) {
        strValue = *pText;
    } else if (const bool *pFlag = boost::any_cast<bool>(&value)) {
        strValue = *pFlag ? "true" : "false";
    } else {
        // Integers of every width read as a 64-bit value.
        long long llValue = 0;
        if (!bag.Read(szKey, llValue).IsError()) {
            strValue = std::to_string(llValue);
        }
    }
    return CBag::TypeName(value) + ":" + strValue;
}

class IdxLogWriterInitTest : public ::testing::Test {
protected:
    // A job's scanner bag with a value under every key the initializers read.
    CBagPtr FullScannerBag() {
        CBagPtr ptrBag = boost::make_shared<CBag>();
        ptrBag->Write(ScannerId::idFleetId, uint64_t(3));
        ptrBag->Write(ScannerId::idAppId, uint64_t(7));
        ptrBag->Write(ScannerId::idAppType, uint64_t(33));
        ptrBag->Write(ScannerId::idAppIdGUID, "app-guid");
        ptrBag->Write(ScannerId::idClientID, uint64_t(9));
        ptrBag->Write(ScannerId::idClientName, "client-9");
        ptrBag->Write(ScannerId::idJobResultFolderPath, m_dir.Path());
        ptrBag->Write(ScannerId::idStoreNode, m_strStoreNode);
        ptrBag->Write(ScannerId::idSnapJobID, uint64_t(12));
        ptrBag->Write(ScannerId::idAfileID, uint64_t(40));
        ptrBag->Write(ScannerId::idVSACatalogingRefTime, int64_t(1600000000));
        ptrBag->Write(ScannerId::idVSAClientOSID, uint64_t(211));
        ptrBag->Write(ScannerId::idVSACatalogBackupSetGUID, "backup-set");
        ptrBag->Write(ScannerId::idBackupType, int32_t(1));
        ptrBag->Write(ScannerId::idVSACatalogVMGUID, "vm-guid");
        ptrBag->Write(ScannerId::idVSACatalogVMName, "vm-name");
        ptrBag->Write(ScannerId::idIsDisableFailureLogging, false);
        ptrBag->Write(ScannerId::idMaxCollectFileID, uint32_t(3));
        ptrBag->WriteAny(ScannerId::idVMMountPaths,
                         std::map<std::string, std::string>{{"/vm", "vol-vm"}});
        return ptrBag;
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::VirtualClock m_clock;
    idxtest::JobManager m_job;
    idxtest::IndexServer m_server;
    idxtest::TempDir m_dir;
    TQJobCtrlClient m_jobCtrl;
    TQBkpJobClient m_backupJob;
    const std::string m_strStoreNode = MangleHostName("index-host", "index-client");
};

} // namespace

TEST_F(IdxLogWriterInitTest, ANewInitializerHoldsNothingAndRefusesTheEngineEntryPoint) {
    for (eIDX_Transmitter_Type eType : kTypes) {
        SCOPED_TRACE(eType);
        std::unique_ptr<CIdxLogWriterInit> ptrInit = MakeInit(eType);
        EXPECT_FALSE(ptrInit->GetSolrTransmitterInstance());
        EXPECT_EQ("", ptrInit->GetSolrInitFailureReason());

        CKyError error = ptrInit->InitializeSolrTransmitter(ApplicationIdPtr(), m_dir.Path(),
                                                            &m_jobCtrl, &m_backupJob, false, false);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
        EXPECT_TRUE(HasText(error, "Not supported, use the correct method to initialize"));
        EXPECT_FALSE(ptrInit->GetSolrTransmitterInstance());
        EXPECT_EQ("", ptrInit->GetSolrInitFailureReason());
    }
    EXPECT_EQ(0u, CIdxLogWriterInitBlkLvl(0).GetArchiveFileId());
    EXPECT_EQ(kBlockLevelArchiveFile,
              CIdxLogWriterInitBlkLvl(kBlockLevelArchiveFile).GetArchiveFileId());
    EXPECT_TRUE(m_server.Calls().empty());
}

TEST_F(IdxLogWriterInitTest, EachFactoryMakesATransmitterOfItsType) {
    auto typeOf = [](const IIdxTransmitterThreadPtr &ptrWorker) {
        IIdxTransmitterThread *pWorker = ptrWorker.get();
        if (dynamic_cast<CIdxLogWriterThreadVSA *>(pWorker)) {
            return eIDX_Transmitter_VSA;
        }
        if (dynamic_cast<CIdxLogWriterThreadBlkLvl *>(pWorker)) {
            return eIDX_Transmitter_BlkLvl;
        }
        if (dynamic_cast<CIdxLogWriterThreadFSDirect *>(pWorker)) {
            return eIDX_Transmitter_FSDirect;
        }
        if (dynamic_cast<CIdxLogWriterThreadLiveCrawl *>(pWorker)) {
            return eIDX_Transmitter_LiveCrawl;
        }
        if (dynamic_cast<CIdxLogWriterThread *>(pWorker)) {
            return eIDX_Transmitter_LogWriter;
        }
        return eIDX_Transmitter_Solr;
    };
    for (eIDX_Transmitter_Type eType : kTypes) {
        SCOPED_TRACE(eType);
        std::unique_ptr<CIdxLogWriterInit> ptrInit = MakeInit(eType);
        CSolrTransmitterPtr ptrTransmitter;
        EXPECT_FALSE(ptrInit->GetTransmitterObj(ptrTransmitter).IsError());
        ASSERT_TRUE(ptrTransmitter);
        EXPECT_EQ(eType, typeOf(ptrTransmitter->GetIdxTransmitterThreadObj()));
        // The factory does not keep what it made.
        EXPECT_FALSE(ptrInit->GetSolrTransmitterInstance());
    }
}

TEST_F(IdxLogWriterInitTest, AnEmptyScannerBagGivesTheDefaultsAndEachVariantItsValues) {
    struct Case {
        eIDX_Transmitter_Type eType;
        const char *szArchiveFileId;
        const char *szArchiveFlags;
        const char *szConnectionFlags;
        const char *szFailureLogging;
        const char *szMaxCollectFileId;
    };
    const Case cases[] = {
        {eIDX_Transmitter_LogWriter, "unsigned long:0", "absent", "unsigned long:128", "bool:false",
         "absent"},
        {eIDX_Transmitter_VSA, "unsigned long:0", "absent", "unsigned long:128", "bool:false",
         "absent"},
        {eIDX_Transmitter_BlkLvl, "unsigned long:55", "unsigned long:532", "unsigned long:144",
         "bool:false", "absent"},
        {eIDX_Transmitter_FSDirect, "unsigned long:0", "absent", "unsigned long:1", "bool:true",
         "absent"},
        {eIDX_Transmitter_LiveCrawl, "unsigned long:0", "absent", "unsigned long:256", "bool:false",
         "uint32:0"},
    };
    m_job.SetJobId(77);
    m_job.SetJobToken("token-77");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.eType);
        std::unique_ptr<CIdxLogWriterInit> ptrInit = MakeInit(c.eType);
        CBagPtr ptrScanner = boost::make_shared<CBag>();
        CBagPtr ptrOptions = boost::make_shared<CBag>();
        ASSERT_FALSE(
            ptrInit->InitializeTransmitterOptions(ptrScanner, &m_jobCtrl, &m_backupJob, ptrOptions)
                .IsError());
        const CBag &bag = *ptrOptions;

        const std::map<std::string, std::string> expected = {
            {BagId::idJobId, "int64:77"},
            {BagId::idCollectSecurityInfo, "bool:false"},
            {BagId::idCollectOwnerInfo, "bool:true"},
            {BagId::idFleetId, "unsigned long:2"},
            {BagId::idAppId, "unsigned long:0"},
            {BagId::idAppType, "unsigned long:0"},
            {BagId::idAppGUID, "std::string:"},
            {BagId::idClientId, "unsigned long:0"},
            {BagId::idClientName, "std::string:"},
            {BagId::idSubClientDir, "std::string:"},
            {BagId::idJobToken, "std::string:token-77"},
            {BagId::idIndexingServer, "std::string:"},
            {BagId::idSnapJobId, "unsigned long:0"},
            {BagId::idSnapArchiveFileID, c.szArchiveFileId},
            {BagId::idArchiveFileflags, c.szArchiveFlags},
            {BagId::idIndexingConnectionFlags, c.szConnectionFlags},
            {BagId::idRefTime, "long:0"},
            {BagId::idClientOSId, "unsigned long:210"},
            {BagId::idVSACatalogBackupSetGUID, "std::string:"},
            {BagId::idBackupType, "int32:0"},
            {BagId::idVMGUID, "std::string:"},
            {BagId::idVMName, "std::string:"},
            {BagId::idIsDisableFailureLogging, c.szFailureLogging},
            {BagId::idMaxCollectFileID, c.szMaxCollectFileId},
            {BagId::idVMMountPaths, "absent"},
        };
        for (const auto &entry : expected) {
            EXPECT_EQ(entry.second, BagEntry(bag, entry.first.c_str())) << entry.first;
        }
        // Nothing else is written.
        size_t nPresent = 0;
        for (const auto &entry : expected) {
            nPresent += entry.second != "absent";
        }
        EXPECT_EQ(nPresent, bag.Keys().size());
    }
}

TEST_F(IdxLogWriterInitTest, ScannerValuesReachTheOptionBagUnderTheirKeys) {
    CIdxLogWriterInitVSA init;
    CBagPtr ptrScanner = FullScannerBag();
    // The direct job's failure logging stays off whatever the bag says; here the bag says on.
    ptrScanner->Write(ScannerId::idIsDisableFailureLogging, true);
    CBagPtr ptrOptions = boost::make_shared<CBag>();
    idxtest::LogCapture capture(3);
    ASSERT_FALSE(init.InitializeTransmitterOptions(ptrScanner, &m_jobCtrl, &m_backupJob, ptrOptions)
                     .IsError());
    const CBag &bag = *ptrOptions;
    EXPECT_EQ("unsigned long:3", BagEntry(bag, BagId::idFleetId));
    EXPECT_EQ("unsigned long:7", BagEntry(bag, BagId::idAppId));
    EXPECT_EQ("unsigned long:33", BagEntry(bag, BagId::idAppType));
    EXPECT_EQ("std::string:app-guid", BagEntry(bag, BagId::idAppGUID));
    EXPECT_EQ("unsigned long:9", BagEntry(bag, BagId::idClientId));
    EXPECT_EQ("std::string:client-9", BagEntry(bag, BagId::idClientName));
    EXPECT_EQ("std::string:" + m_dir.Path(), BagEntry(bag, BagId::idSubClientDir));
    EXPECT_EQ("std::string:" + m_strStoreNode, BagEntry(bag, BagId::idIndexingServer));
    EXPECT_EQ("unsigned long:12", BagEntry(bag, BagId::idSnapJobId));
    EXPECT_EQ("unsigned long:40", BagEntry(bag, BagId::idSnapArchiveFileID));
    EXPECT_EQ("long:1600000000", BagEntry(bag, BagId::idRefTime));
    EXPECT_EQ("unsigned long:211", BagEntry(bag, BagId::idClientOSId));
    EXPECT_EQ("std::string:backup-set", BagEntry(bag, BagId::idVSACatalogBackupSetGUID));
    EXPECT_EQ("int32:1", BagEntry(bag, BagId::idBackupType));
    EXPECT_EQ("std::string:vm-guid", BagEntry(bag, BagId::idVMGUID));
    EXPECT_EQ("std::string:vm-name", BagEntry(bag, BagId::idVMName));
    EXPECT_EQ("bool:true", BagEntry(bag, BagId::idIsDisableFailureLogging));
    boost::any mountPaths;
    ASSERT_FALSE(bag.ReadAny(BagId::idVMMountPaths, mountPaths).IsError());
    typedef std::map<std::string, std::string> MountPaths;
    EXPECT_EQ((MountPaths{{"/vm", "vol-vm"}}), boost::any_cast<MountPaths>(mountPaths));
    EXPECT_EQ(1u, capture.CountAtLevel("Fleet ID : 3", 2));
    EXPECT_EQ(1u, capture.CountAtLevel("Job token: 1", 2));
    EXPECT_EQ(1u, capture.CountAtLevel("Backup Type: 1", 2));

    // Mount paths of another type are refused by name.
    ptrScanner->Write(ScannerId::idVMMountPaths, "not a map");
    CBagPtr ptrRefused = boost::make_shared<CBag>();
    CKyError error =
        init.InitializeTransmitterOptions(ptrScanner, &m_jobCtrl, &m_backupJob, ptrRefused);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
    EXPECT_TRUE(HasText(error, "VMMountPaths"));

    CIdxLogWriterInitFSDirect direct;
    ptrScanner->Write(ScannerId::idIsDisableFailureLogging, false);
    CBagPtr ptrDirect = boost::make_shared<CBag>();
    ASSERT_FALSE(
        direct.InitializeTransmitterOptions(ptrScanner, &m_jobCtrl, &m_backupJob, ptrDirect)
            .IsError());
    EXPECT_EQ("bool:true", BagEntry(*ptrDirect, BagId::idIsDisableFailureLogging));
    EXPECT_EQ("unsigned long:1", BagEntry(*ptrDirect, BagId::idIndexingConnectionFlags));
    EXPECT_EQ("unsigned long:40", BagEntry(*ptrDirect, BagId::idSnapArchiveFileID));

    CIdxLogWriterLiveCrawlInit liveCrawl;
    CBagPtr ptrLiveCrawl = boost::make_shared<CBag>();
    ASSERT_FALSE(
        liveCrawl.InitializeTransmitterOptions(ptrScanner, &m_jobCtrl, &m_backupJob, ptrLiveCrawl)
            .IsError());
    EXPECT_EQ("uint32:3", BagEntry(*ptrLiveCrawl, BagId::idMaxCollectFileID));
    EXPECT_EQ(1u, capture.CountAtLevel("max CollectFile-ID : 3", 3));
}

// A scanner's count of collect files sizes a table in every worker and in every commit cycle:
// -1 must not become 4294967295 (32 GiB a worker), and no count above 1048576 is taken.
TEST_F(IdxLogWriterInitTest, LiveCrawlRefusesACollectFileCountOutsideItsBound) {
    const struct {
        boost::any value;
        const char *szWritten; // nullptr: refused
    } cases[] = {
        {uint32_t(1048576), "uint32:1048576"},
        {int32_t(0), "uint32:0"},
        {int32_t(-1), nullptr},
        {uint32_t(4294967295u), nullptr},
        {uint32_t(1048577), nullptr},
        {int64_t(-4294967295LL), nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(CBag::TypeName(c.value));
        CBagPtr ptrScanner = FullScannerBag();
        ptrScanner->WriteAny(ScannerId::idMaxCollectFileID, c.value);
        CBagPtr ptrOptions = boost::make_shared<CBag>();
        idxtest::LogCapture capture(0);
        CIdxLogWriterLiveCrawlInit liveCrawl;
        CKyError error = liveCrawl.InitializeTransmitterOptions(ptrScanner, &m_jobCtrl,
                                                                &m_backupJob, ptrOptions);
        if (c.szWritten) {
            ASSERT_FALSE(error.IsError()) << error.AsString();
            EXPECT_EQ(c.szWritten, BagEntry(*ptrOptions, BagId::idMaxCollectFileID));
        } else {
            EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << error.AsString();
            EXPECT_TRUE(HasText(error, "Scanner value [MaxCollectFileID] of ")) << error.AsString();
            EXPECT_EQ(1u, capture.CountAtLevel("Scanner value [MaxCollectFileID] of ", -1));
            EXPECT_EQ("absent", BagEntry(*ptrOptions, BagId::idMaxCollectFileID));
        }
    }
}

TEST_F(IdxLogWriterInitTest, PlatformSettingsSwitchCollectionOnButNeverOff) {
    struct Case {
        const char *szSecurity; // nullptr: absent
        const char *szOwner;
        bool bSetSecurity; // SetCollectSecurityInfo before the translation
        bool bSetOwner;
        const char *szExpectedSecurity;
        const char *szExpectedOwner;
    };
    const Case cases[] = {
        {nullptr, nullptr, false, true, "bool:false", "bool:true"},
        {nullptr, nullptr, true, false, "bool:true", "bool:false"},
        {"0", "0", false, true, "bool:false", "bool:true"},
        {"5", nullptr, false, false, "bool:true", "bool:false"},
        {nullptr, "1", false, false, "bool:false", "bool:true"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.szSecurity ? c.szSecurity : "-") + "/" +
                     (c.szOwner ? c.szOwner : "-"));
        idxtest::ResetPlatformSettings();
        if (c.szSecurity) {
            idxtest::SetPlatformSetting("FileSystemAgent", "nCollectSecurityInfo", c.szSecurity);
        }
        if (c.szOwner) {
            idxtest::SetPlatformSetting("FileSystemAgent", "nCollectOwnerInfo", c.szOwner);
        }
        CIdxLogWriterInit init;
        init.SetCollectSecurityInfo(c.bSetSecurity);
        init.SetCollectOwnerInfo(c.bSetOwner);
        CBagPtr ptrScanner = boost::make_shared<CBag>();
        CBagPtr ptrOptions = boost::make_shared<CBag>();
        idxtest::LogCapture capture(0);
        ASSERT_FALSE(
            init.InitializeTransmitterOptions(ptrScanner, &m_jobCtrl, &m_backupJob, ptrOptions)
                .IsError());
        EXPECT_EQ(c.szExpectedSecurity, BagEntry(*ptrOptions, BagId::idCollectSecurityInfo));
        EXPECT_EQ(c.szExpectedOwner, BagEntry(*ptrOptions, BagId::idCollectOwnerInfo));
        EXPECT_EQ(1u, capture.Count("CollectOwnerInfo=["));
    }
}

TEST_F(IdxLogWriterInitTest, ABlockLevelJobAsksTheArchiveManagerForTheFlags) {
    CIdxLogWriterInitBlkLvl init(kBlockLevelArchiveFile);
    CBagPtr ptrScanner = FullScannerBag();
    GetAfileInfoRetCC_t reply;
    reply.ullAfileFlags = 0x1;
    m_server.SetAfileInfoReply(reply);
    CBagPtr ptrOptions = boost::make_shared<CBag>();
    ASSERT_FALSE(init.InitializeTransmitterOptions(ptrScanner, &m_jobCtrl, &m_backupJob, ptrOptions)
                     .IsError());
    EXPECT_EQ("unsigned long:" + std::to_string(0x215),
              BagEntry(*ptrOptions, BagId::idArchiveFileflags));
    // The constructor's id, not the scanner's.
    EXPECT_EQ("unsigned long:55", BagEntry(*ptrOptions, BagId::idSnapArchiveFileID));
    ASSERT_EQ(1u, m_server.Calls(0).size());
    EXPECT_EQ((std::vector<uint64_t>{55, 0, 3}), m_server.Calls(0)[0].vecNumbers);

    // A refusal ends the start-up before any transmitter starts.
    m_server.FailCall("getAfileInfo");
    CKyError error = init.InitializeIdxTransmitter(ptrScanner, &m_jobCtrl, &m_backupJob,
                                                   CSolrTransmitterCallbackPtr());
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_TRUE(HasText(error, "getAfileInfo failed for archiveId: 55"));
    EXPECT_FALSE(init.GetSolrTransmitterInstance());
    EXPECT_EQ("", init.GetSolrInitFailureReason());
    EXPECT_EQ(0, m_server.ConnectionsMade());
}

TEST_F(IdxLogWriterInitTest, EachInitializerRunsAWholeJobToTheBackupDoneFlag) {
    struct Case {
        eIDX_Transmitter_Type eType;
        uint64_t ullFlags;
        uint64_t ullArchiveFile;
        uint64_t ullArchiveFlags;
        bool bFailuresFile;
    };
    const Case cases[] = {
        {eIDX_Transmitter_LogWriter, 0x80, 40, 0, true},
        {eIDX_Transmitter_VSA, 0x80, 40, 0, true},
        {eIDX_Transmitter_BlkLvl, 0x90, 55, 0x214, true},
        {eIDX_Transmitter_FSDirect, 1, 40, 0, false},
        {eIDX_Transmitter_LiveCrawl, 0x100, 0, 0, true},
    };
    idxtest::SetPlatformSetting("FileSystemAgent", "nTransmitterThreads", "1");
    m_job.SetJobToken("token-5");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.eType);
        idxtest::IndexServer::Reset();
        idxtest::TempDir dir;
        std::unique_ptr<CIdxLogWriterInit> ptrInit = MakeInit(c.eType);
        CBagPtr ptrScanner = FullScannerBag();
        ptrScanner->Write(ScannerId::idJobResultFolderPath, dir.Path());
        auto ptrCallback = boost::make_shared<idxtest::JobProgressCallback>();

        ASSERT_FALSE(
            ptrInit->InitializeIdxTransmitter(ptrScanner, &m_jobCtrl, &m_backupJob, ptrCallback)
                .IsError());
        CSolrTransmitterPtr ptrTransmitter = ptrInit->GetSolrTransmitterInstance();
        ASSERT_TRUE(ptrTransmitter);
        std::vector<CItemPtr> vecItems;
        if (c.eType == eIDX_Transmitter_LiveCrawl) {
            vecItems = {idxtest::MakeLiveCrawlItem({"/job/a", 1, 10}),
                        idxtest::MakeLiveCrawlItem({"/job/b", 3, 20})};
        } else {
            vecItems = {idxtest::MakeFileItem({"/job/a"}), idxtest::MakeFileItem({"/job/b"})};
        }
        for (const CItemPtr &ptrItem : vecItems) {
            ASSERT_FALSE(ptrTransmitter->AddToQueue(ptrItem).IsError());
        }
        // The end-of-job wait counts its time-out on the virtual clock: the items are sent first.
        ASSERT_TRUE(WaitUntil([&] { return ptrCallback->Totals().llItems == 2; }));
        EXPECT_FALSE(ptrTransmitter->WaitAndCommit().IsError());

        const std::vector<IndexServerCall> vecCalls = m_server.Calls(1);
        ASSERT_FALSE(vecCalls.empty());
        // The scanner's values went the whole way: bag, option record, connection.
        EXPECT_EQ((std::vector<uint64_t>{3, 7, 33, 1, c.ullFlags}), vecCalls[0].vecNumbers);
        std::string strHost, strClient;
        int nPort = 0, nFlags = 0;
        DemangleHostName(m_strStoreNode.c_str(), strHost, strClient, nPort, nFlags);
        if (c.eType == eIDX_Transmitter_VSA) {
            // A virtual-machine job names the index server by its client.
            std::string strMangled;
            TQClient(m_strStoreNode, false, 0).getNetworkHostnameMangled(strMangled, nullptr);
            EXPECT_EQ((std::vector<std::string>{"token-5", strMangled, m_strStoreNode}),
                      vecCalls[0].vecTexts);
        } else {
            EXPECT_EQ((std::vector<std::string>{"token-5", m_strStoreNode, strClient}),
                      vecCalls[0].vecTexts);
        }
        if (c.eType == eIDX_Transmitter_LiveCrawl) {
            EXPECT_EQ((std::vector<std::string>{"initialize", "sendFileInfoV2", "sendFileInfoV2",
                                                "backupDone"}),
                      m_server.CallNames(1));
        } else {
            EXPECT_EQ(
                (std::vector<std::string>{"initialize", "setStreamJobId", "sendAfileInfo",
                                          "sendMetaDataInfo", "sendFileInfo", "sendMetaDataInfo",
                                          "sendFileInfo", "sendAfileInfo", "backupDone"}),
                m_server.CallNames(1));
            EXPECT_EQ((std::vector<uint64_t>{3, c.ullArchiveFile, c.ullArchiveFile, 1, 0,
                                             c.ullArchiveFlags, 7, 12, 0}),
                      vecCalls[7].vecNumbers);
            EXPECT_EQ(1u, vecCalls[6].vecNumbers[0]);
        }
        EXPECT_EQ(2, ptrCallback->Totals().llItems);
        EXPECT_EQ(c.bFailuresFile, FXFile::Exists(dir / "SolrScanFailures.tqf"));
        EXPECT_EQ("", ptrInit->GetSolrInitFailureReason());
    }
}

TEST_F(IdxLogWriterInitTest, WithoutSettingsTheQueueHoldsTenThousandAndFifteenWorkersRun) {
    CIdxLogWriterInit init;
    CBagPtr ptrScanner = boost::make_shared<CBag>();
    ptrScanner->Write(ScannerId::idJobResultFolderPath, m_dir.Path());
    idxtest::LogCapture capture(0);
    ASSERT_FALSE(init.InitializeIdxTransmitter(ptrScanner, &m_jobCtrl, &m_backupJob,
                                               CSolrTransmitterCallbackPtr())
                     .IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("Setting queue Size : [10000]", 0));
    ASSERT_TRUE(WaitUntil([&] { return m_server.CallsNamed("sendAfileInfo").size() == 15; }));
    EXPECT_EQ(15, m_server.ConnectionsMade());
    init.GetSolrTransmitterInstance()->Stop();
}

TEST_F(IdxLogWriterInitTest, QueueSizeAndWorkerCountOutOfRangeAreTakenAsAbsent) {
    const struct {
        const char *szValue;
        int nQueueSize;
        int nWorkers;
    } cases[] = {{"7", 7, 7},
                 {"0", 10000, 15},
                 {"-1", 10000, 15},
                 {"2147483648", 10000, 15},
                 {"4294967297", 10000, 15}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szValue);
        idxtest::IndexServer::Reset();
        idxtest::SetPlatformSetting("FileSystemAgent", "nMaxQueueSize", c.szValue);
        idxtest::SetPlatformSetting("FileSystemAgent", "nTransmitterThreads", c.szValue);
        CIdxLogWriterInit init;
        CBagPtr ptrScanner = boost::make_shared<CBag>();
        ptrScanner->Write(ScannerId::idJobResultFolderPath, m_dir.Path());
        idxtest::LogCapture capture(0);
        ASSERT_FALSE(init.InitializeIdxTransmitter(ptrScanner, &m_jobCtrl, &m_backupJob,
                                                   CSolrTransmitterCallbackPtr())
                         .IsError());
        EXPECT_EQ(1u, capture.CountAtLevel(
                          "Setting queue Size : [" + std::to_string(c.nQueueSize) + "]", 0));
        EXPECT_EQ(c.nQueueSize == 10000 ? 2u : 0u,
                  capture.CountAtLevel("is not a count from 1 to 2147483647", -1));
        // Each worker announces the archive file once it has its connection.
        ASSERT_TRUE(WaitUntil([&] {
            return m_server.CallsNamed("sendAfileInfo").size() == static_cast<size_t>(c.nWorkers);
        }));
        EXPECT_EQ(c.nWorkers, m_server.ConnectionsMade());
        init.GetSolrTransmitterInstance()->Stop();
    }
}

TEST_F(IdxLogWriterInitTest, AConnectionThatCannotStartLeavesItsReasonInTheInitializer) {
    idxtest::SetPlatformSetting("FileSystemAgent", "nTransmitterThreads", "1");
    for (eIDX_Transmitter_Type eType : kTypes) {
        SCOPED_TRACE(eType);
        idxtest::IndexServer::Reset();
        std::unique_ptr<CIdxLogWriterInit> ptrInit = MakeInit(eType);
        m_server.FailCall("initialize");
        idxtest::LogCapture capture(0);

        CKyError error = ptrInit->InitializeIdxTransmitter(
            FullScannerBag(), &m_jobCtrl, &m_backupJob, CSolrTransmitterCallbackPtr());
        EXPECT_TRUE(error.IsError());
        EXPECT_EQ("Index connection instantiation failed", ptrInit->GetSolrInitFailureReason());
        EXPECT_EQ(1u, capture.Count("Solr start failed, error="));
        EXPECT_FALSE(ptrInit->GetSolrTransmitterInstance());

        // A later start that succeeds keeps its transmitter; the first failure's text stays.
        ASSERT_FALSE(ptrInit
                         ->InitializeIdxTransmitter(FullScannerBag(), &m_jobCtrl, &m_backupJob,
                                                    CSolrTransmitterCallbackPtr())
                         .IsError());
        ASSERT_TRUE(ptrInit->GetSolrTransmitterInstance());
        EXPECT_EQ("Index connection instantiation failed", ptrInit->GetSolrInitFailureReason());
        ptrInit->GetSolrTransmitterInstance()->Stop();
    }
}

TEST_F(IdxLogWriterInitTest, BothClientsAreNeeded) {
    CIdxLogWriterInit init;
    for (bool bJobCtrl : {false, true}) {
        CKyError error = init.InitializeIdxTransmitter(
            boost::make_shared<CBag>(), bJobCtrl ? &m_jobCtrl : nullptr,
            bJobCtrl ? nullptr : &m_backupJob, CSolrTransmitterCallbackPtr());
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
        EXPECT_FALSE(init.GetSolrTransmitterInstance());
    }
    EXPECT_EQ(0, m_server.ConnectionsMade());
}

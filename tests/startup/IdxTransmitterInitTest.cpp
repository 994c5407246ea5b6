// The initializer family: what a new initializer holds, the transmitter type each class's factory
// makes, the refusals of the entry point that belongs to the other family, and the index-log
// entry point keeping the transmitter it started.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "platform/JobClients.h"
#include "platform/testing/IndexServer.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "startup/IdxLogWriterInit.h"
#include "startup/IdxLogWriterInitBlkLvl.h"
#include "startup/IdxLogWriterInitFSDirect.h"
#include "startup/IdxLogWriterInitVSA.h"
#include "startup/IdxLogWriterLiveCrawlInit.h"
#include "startup/ScannerConfigurationBagId.h"
#include "startup/SolrTransmitterInit.h"
#include "tests/support/TempDir.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/TransmitterCallback.h"

namespace {

// The archive file id a block-level initializer keeps.
class BlkLvlProbe : public CIdxLogWriterInitBlkLvl {
public:
    using CIdxLogWriterInitBlkLvl::CIdxLogWriterInitBlkLvl;
    unsigned long ArchiveFileID() const { return m_nArchiveFileID; }
};

struct FamilyMember {
    const char *szClass;
    std::function<std::unique_ptr<CIdxTransmitterInit>()> fnMake;
    eIDX_Transmitter_Type eType;
    // The line the worker factory logs for the type; none for the index engine.
    const char *szWorkerLine;
};

std::vector<FamilyMember> Family() {
    return {
        {"CSolrTransmitterInit", [] { return std::make_unique<CSolrTransmitterInit>(); },
         eIDX_Transmitter_Solr, nullptr},
        {"CIdxLogWriterInit", [] { return std::make_unique<CIdxLogWriterInit>(); },
         eIDX_Transmitter_LogWriter, "Instantiating LogWriter thread"},
        {"CIdxLogWriterInitVSA", [] { return std::make_unique<CIdxLogWriterInitVSA>(); },
         eIDX_Transmitter_VSA, "Instantiating VSA LogWriter thread"},
        {"CIdxLogWriterInitBlkLvl", [] { return std::make_unique<CIdxLogWriterInitBlkLvl>(9); },
         eIDX_Transmitter_BlkLvl, "Instantiating block level LogWriter thread"},
        {"CIdxLogWriterInitFSDirect", [] { return std::make_unique<CIdxLogWriterInitFSDirect>(); },
         eIDX_Transmitter_FSDirect, "Instantiating FS Direct LogWriter thread"},
        {"CIdxLogWriterLiveCrawlInit",
         [] { return std::make_unique<CIdxLogWriterLiveCrawlInit>(); }, eIDX_Transmitter_LiveCrawl,
         "Instantiating LogWriter Live Crawl thread"},
    };
}

const char *const kWorkerLines[] = {
    "Instantiating LogWriter thread", "Instantiating VSA LogWriter thread",
    "Instantiating block level LogWriter thread", "Instantiating FS Direct LogWriter thread",
    "Instantiating LogWriter Live Crawl thread"};

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

TEST(IdxTransmitterInitTest, EachFactoryMakesItsClassesTransmitterType) {
    for (const FamilyMember &member : Family()) {
        SCOPED_TRACE(member.szClass);
        std::unique_ptr<CIdxTransmitterInit> ptrInit = member.fnMake();
        EXPECT_FALSE(ptrInit->GetSolrTransmitterInstance());
        EXPECT_EQ(ptrInit->GetSolrInitFailureReason(), "");

        CSolrTransmitterPtr ptrTransmitter;
        ASSERT_FALSE(ptrInit->GetTransmitterObj(ptrTransmitter).IsError());
        ASSERT_TRUE(ptrTransmitter);
        // The factory does not keep what it made: only a started transmitter is kept.
        EXPECT_FALSE(ptrInit->GetSolrTransmitterInstance());

        // The transmitter type shows in the worker its factory chooses: an index-engine worker
        // without a line, or the index-log type's line.
        idxtest::LogCapture capture(2);
        IIdxTransmitterThreadPtr ptrWorker = ptrTransmitter->GetIdxTransmitterThreadObj();
        for (const char *szLine : kWorkerLines) {
            const bool bExpected =
                member.szWorkerLine != nullptr && std::string(member.szWorkerLine) == szLine;
            EXPECT_EQ(capture.Count(szLine), bExpected ? 1u : 0u) << szLine;
        }
        EXPECT_FALSE(capture.Contains("Unknown transmitter type"));
        EXPECT_TRUE(ptrWorker);
    }
}

TEST(IdxTransmitterInitTest, TheOtherFamilysEntryPointIsRefusedAndChangesNothing) {
    TQJobCtrlClient jobControl;
    TQBkpJobClient backupJob;
    for (const FamilyMember &member : Family()) {
        SCOPED_TRACE(member.szClass);
        std::unique_ptr<CIdxTransmitterInit> ptrInit = member.fnMake();
        idxtest::LogCapture capture(7);
        CKyError error;
        if (member.eType == eIDX_Transmitter_Solr) {
            error = ptrInit->InitializeIdxTransmitter(
                boost::make_shared<CBag>(), &jobControl, &backupJob,
                boost::make_shared<CSolrTransmitterCallback>());
        } else {
            error = ptrInit->InitializeSolrTransmitter(ApplicationIdPtr(), "/nowhere", &jobControl,
                                                       &backupJob, true, true);
        }
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774)) << error.AsString();
        EXPECT_TRUE(HasText(error, "Not supported, use the correct method to initialize"));
        EXPECT_TRUE(capture.Lines().empty());
        EXPECT_FALSE(ptrInit->GetSolrTransmitterInstance());
        EXPECT_EQ(ptrInit->GetSolrInitFailureReason(), "");
    }
}

// Each index-log class's entry point starts a transmitter of its type and keeps it; what goes into
// its option bag and over its index-server connections is in IdxLogWriterInitTest.
TEST(IdxTransmitterInitTest, IndexLogStartUpKeepsTheStartedTransmitter) {
    TQJobCtrlClient jobControl;
    TQBkpJobClient backupJob;
    idxtest::PlatformSettingsScope settings;
    idxtest::SetPlatformSetting("FileSystemAgent", "nTransmitterThreads", "1");
    idxtest::VirtualClock clock;
    idxtest::IndexServer server;
    idxtest::TempDir dir;
    for (const FamilyMember &member : Family()) {
        if (member.eType == eIDX_Transmitter_Solr) {
            continue;
        }
        SCOPED_TRACE(member.szClass);
        idxtest::IndexServer::Reset();
        std::unique_ptr<CIdxTransmitterInit> ptrInit = member.fnMake();
        CBagPtr ptrScanner = boost::make_shared<CBag>();
        ptrScanner->Write(SXScannerConfigurationBagId::idJobResultFolderPath, dir.Path());
        CKyError error = ptrInit->InitializeIdxTransmitter(
            ptrScanner, &jobControl, &backupJob, boost::make_shared<CSolrTransmitterCallback>());
        ASSERT_FALSE(error.IsError()) << error.AsString();
        CSolrTransmitterPtr ptrTransmitter = ptrInit->GetSolrTransmitterInstance();
        ASSERT_TRUE(ptrTransmitter);
        EXPECT_EQ(ptrInit->GetSolrInitFailureReason(), "");
        // The one worker opened its own index-server connection.
        EXPECT_EQ(server.ConnectionsMade(), 1);
        EXPECT_FALSE(ptrTransmitter->Stop().IsError());
    }
}

TEST(IdxTransmitterInitTest, BlockLevelInitializerKeepsItsArchiveFileId) {
    for (unsigned long ulId : {0UL, 1UL, 0xFFFFFFFFFFFFFFFFUL}) {
        EXPECT_EQ(BlkLvlProbe(ulId).ArchiveFileID(), ulId);
    }
}

} // namespace

// The configuration cache file: its layout, reading back what was saved, the files that must fail
// to read (and must not exhaust memory doing so), and a start-up that takes its settings from the
// file instead of the management server.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "platform/JobClients.h"
#include "platform/ManagementData.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/ManagementServer.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "startup/SolrTransmitterConfigCache.h"
#include "startup/SolrTransmitterInit.h"
#include "tests/support/StartupTestSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"
#include "tests/support/logwriter/LogWriterTestSupport.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

typedef FSSolrTransmitterConfigCacheParams Params;
typedef SXTransmitterConfigurationBagId BagId;

// Every setting of the record, so that two records can be compared whole.
std::vector<std::string> Fields(const Params &p) {
    return {std::to_string(p.m_nVersion),
            p.m_strClientName,
            std::to_string(p.m_nClientId),
            std::to_string(p.m_nAppId),
            std::to_string(p.m_bIsNasClient),
            p.m_strAuditSolrUrl,
            p.m_strUnusedText,
            std::to_string(p.m_bEnableMonitoring),
            std::to_string(p.m_bIsCloudModeFirst),
            p.m_strAppGUID,
            p.m_strMonitorJobResultsDirFirst,
            p.m_strSubClientDir,
            std::to_string(p.m_bCollectSecurityInfo),
            std::to_string(p.m_bCollectOwnerInfo),
            p.m_strUpdateUrl,
            p.m_strCompleteSolrExtractUrl,
            p.m_strCompleteSolrUrl,
            std::to_string(p.m_llMaxFileSizePushContents),
            std::to_string(p.m_llMinFileSizePushContents),
            std::to_string(p.m_bPushOnlyMetaData),
            p.m_strIncludeFilters,
            p.m_strSolrClientName,
            p.m_strBaseSolrUrl,
            std::to_string(p.m_bIsScanPhase),
            std::to_string(p.m_bPushMetaDataWithCRC),
            std::to_string(p.m_bOptimizeContentPush),
            std::to_string(p.m_bIsCloudMode),
            std::to_string(p.m_bIsDisableFailureLogging),
            p.m_strMonitorJobResultsDir,
            std::to_string(p.m_bIsPreserveAccessTime)};
}

// A record in which every setting differs from its default.
Params FilledRecord() {
    Params p;
    p.m_nVersion = 3;
    p.m_strClientName = "client-a";
    p.m_nClientId = 0x80000005u;
    p.m_nAppId = 12;
    p.m_bIsNasClient = true;
    p.m_strAuditSolrUrl = "http://127.0.0.1:1/solr/audit/update";
    p.m_strUnusedText = std::string("bytes\0kept", 10);
    p.m_bEnableMonitoring = true;
    p.m_bIsCloudModeFirst = true;
    p.m_strAppGUID = "GUID-12";
    p.m_strMonitorJobResultsDirFirst = "/jr/Monitor";
    p.m_strSubClientDir = "/sub";
    p.m_bCollectSecurityInfo = true;
    p.m_bCollectOwnerInfo = true;
    p.m_strUpdateUrl = "http://127.0.0.1:1/solr/c/update";
    p.m_strCompleteSolrExtractUrl = "http://127.0.0.1:1/solr/c/update/tqextract?a=1";
    p.m_strCompleteSolrUrl = "http://127.0.0.1:1/solr/c/update?a=1";
    p.m_llMaxFileSizePushContents = -1;
    p.m_llMinFileSizePushContents = 1LL << 40;
    p.m_bPushOnlyMetaData = false;
    p.m_strIncludeFilters = "*.doc,notes";
    p.m_strSolrClientName = "index-node";
    p.m_strBaseSolrUrl = "http://127.0.0.1:1/solr/c/";
    p.m_bIsScanPhase = true;
    p.m_bPushMetaDataWithCRC = true;
    p.m_bOptimizeContentPush = true;
    p.m_bIsCloudMode = true;
    p.m_bIsDisableFailureLogging = true;
    p.m_strMonitorJobResultsDir = "/jr/Monitor";
    p.m_bIsPreserveAccessTime = true;
    return p;
}

// Writes tokens of its own choosing, as another writer of the file could.
class TokenWriter : public CSerializedBase {
public:
    using CSerializedBase::AddToken;
};

template <typename T> std::string Bytes(T value) {
    return std::string(reinterpret_cast<const char *>(&value), sizeof(value));
}

// One record of a cache file: its 8-byte length, then its bytes.
std::string Record(const std::string &strData) {
    return Bytes<uint64_t>(strData.size()) + strData;
}

std::string TokenData(const Params &params) {
    CSerializedBuffer buffer;
    EXPECT_FALSE(params.Save(&buffer).IsError());
    return std::string(buffer.GetBuffer(), buffer.GetBufferSize());
}

std::string CacheFile(uint64_t ullRecords, const std::string &strRecords, uint32_t nVersion = 1) {
    return Bytes<uint32_t>(nVersion) + Bytes<uint64_t>(ullRecords) + strRecords;
}

// A bag value as text with its type, for comparing two bags key by key.
std::string AnyText(const boost::any &value) {
    if (const std::string *p = boost::any_cast<std::string>(&value)) {
        return "text " + *p;
    }
    if (const bool *p = boost::any_cast<bool>(&value)) {
        return *p ? "bool true" : "bool false";
    }
    if (const int *p = boost::any_cast<int>(&value)) {
        return "int " + std::to_string(*p);
    }
    if (const unsigned int *p = boost::any_cast<unsigned int>(&value)) {
        return "uint " + std::to_string(*p);
    }
    if (const long long *p = boost::any_cast<long long>(&value)) {
        return "ll " + std::to_string(*p);
    }
    if (const unsigned long long *p = boost::any_cast<unsigned long long>(&value)) {
        return "ull " + std::to_string(*p);
    }
    return "type " + CBag::TypeName(value);
}

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// The names in a folder.
std::set<std::string> Names(const std::string &strFolder) {
    std::set<std::string> setNames;
    for (const auto &entry : std::filesystem::directory_iterator(strFolder)) {
        setNames.insert(entry.path().filename().string());
    }
    return setNames;
}

std::string BagText(const CBag &bag, const char *szKey) {
    std::string strValue;
    EXPECT_FALSE(bag.Read(szKey, strValue).IsError()) << szKey;
    return strValue;
}

// The lines of a failures file, in any order: which worker lists its batch first is not fixed.
std::multiset<std::string> LinesOf(const std::string &strPath) {
    const std::vector<std::string> vecLines = idxtest::FileLines(strPath);
    return std::multiset<std::string>(vecLines.begin(), vecLines.end());
}

TEST(SolrTransmitterConfigCacheTest, SavedRecordReadsBackWholeFromTheFilesLayout) {
    idxtest::TempDir dir;
    const std::string strFile = dir / "FSSolrTransmitter_config.tqf";
    CSolrTransmitterInit init;
    std::vector<Params> vecRecords = {Params(), FilledRecord()};
    for (Params &saved : vecRecords) {
        ASSERT_FALSE(init.SaveToCache(strFile, saved).IsError());

        // 4-byte version 1, 8-byte count 1, 8-byte length of the rest.
        const std::string strContent = idxtest::ReadWholeFile(strFile);
        ASSERT_GE(strContent.size(), 20u);
        uint32_t nVersion = 0;
        uint64_t ullCount = 0;
        uint64_t ullLength = 0;
        memcpy(&nVersion, strContent.data(), 4);
        memcpy(&ullCount, strContent.data() + 4, 8);
        memcpy(&ullLength, strContent.data() + 12, 8);
        EXPECT_EQ(nVersion, 1u);
        EXPECT_EQ(ullCount, 1u);
        EXPECT_EQ(ullLength, strContent.size() - 20);

        Params read;
        read.m_strClientName = "overwritten";
        ASSERT_FALSE(init.InitializeFromCache(strFile, read).IsError());
        EXPECT_EQ(Fields(read), Fields(saved));
    }
}

TEST(SolrTransmitterConfigCacheTest, FilesThatCannotBeReadFailBeforeAnythingIsAllocated) {
    idxtest::TempDir dir;
    Params first;
    first.m_strClientName = "first";
    first.m_nAppId = 1;
    Params second;
    second.m_strClientName = "second";
    const std::string strFirst = TokenData(first);
    const std::string strSecond = TokenData(second);
    CSerializedBuffer unknown;
    TokenWriter::AddToken(&unknown, 20, std::string("no such token"));
    TokenWriter::AddToken(&unknown, 99, 5);
    TokenWriter::AddToken(&unknown, Params::eClientName, std::string("after unknown ones"));
    TokenWriter().Save(&unknown);
    const std::string strUnknown(unknown.GetBuffer(), unknown.GetBufferSize());

    const char kVersion[] = "Failed to read the version information from file '";
    const char kEntries[] = "Failed to read the number of entries information from file  '";
    const char kConfig[] = "Failed to read the config information from file '";
    const char kNoRecord[] = "No config record in file '";
    const struct {
        const char *szCase;
        std::string strContent;
        const char *szError; // nullptr: the read succeeds
        const char *szClientName;
    } cases[] = {
        {"empty", "", kVersion, ""},
        {"version only", Bytes<uint32_t>(1), kEntries, ""},
        {"no record length", CacheFile(1, ""), kEntries, ""},
        {"length past the end", CacheFile(1, Bytes<uint64_t>(1000) + "short"), kConfig, ""},
        {"length of 2^64-1", CacheFile(1, Bytes<uint64_t>(UINT64_MAX) + strFirst), kConfig, ""},
        {"record over 1 MiB", CacheFile(1, Record(std::string((1 << 20) + 1, '\0'))), kConfig, ""},
        {"damaged tokens", CacheFile(1, Record(strFirst.substr(0, strFirst.size() - 3) + "xyz")),
         kConfig, ""},
        {"cut in the second record",
         CacheFile(2, Record(strFirst) + Record(strSecond).substr(0, 20)), kConfig, "first"},
        // A file of no record holds no settings: it is no cache to start from.
        {"no record", CacheFile(0, ""), kNoRecord, ""},
        {"no record, bytes after", CacheFile(0, Record(strFirst)), kNoRecord, ""},
        {"another version", CacheFile(1, Record(strFirst), 7), nullptr, "first"},
        {"the second record wins", CacheFile(2, Record(strFirst) + Record(strSecond)), nullptr,
         "second"},
        {"unknown token ids", CacheFile(1, Record(strUnknown)), nullptr, "after unknown ones"},
    };
    CSolrTransmitterInit init;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szCase);
        const std::string strFile = dir.WriteFile("cache.tqf", c.strContent);
        Params read;
        CKyError error = init.InitializeFromCache(strFile, read);
        if (c.szError) {
            EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1627)) << error.AsString();
            EXPECT_TRUE(HasText(error, c.szError + strFile + "'")) << error.AsString();
        } else {
            EXPECT_FALSE(error.IsError()) << error.AsString();
        }
        EXPECT_EQ(read.m_strClientName, c.szClientName);
    }
    // The second record kept the first's application id, which it does not change.
    Params read;
    init.InitializeFromCache(
        dir.WriteFile("two.tqf", CacheFile(2, Record(strFirst) + Record(strUnknown))), read);
    EXPECT_EQ(read.m_nAppId, 1u);
    EXPECT_EQ(read.m_strClientName, "after unknown ones");

    // A file that is not there is the open's error.
    EXPECT_TRUE(init.InitializeFromCache(dir / "absent.tqf", read).IsError());
}

class SolrTransmitterStartUpCacheTest : public ::testing::Test {
protected:
    SolrTransmitterStartUpCacheTest() {
        m_clientInfo.strName = "client-a";
        m_clientInfo.ullId = 5;
        m_subclientInfo.nId = 12;
        m_subclientInfo.strGUID = "GUID-12";
        m_subclientInfo.bACLCollectionEnabled = true;
        idxtest::DataSourceReply reply;
        reply.Url(m_engine.UpdateUrl()).IncludeFilters("*.doc").ContentIndexing(1).CloudValue(5);
        m_server.Answer(kGetClientDataSourceProcedure, 0, reply.Xml());
    }

    CKyError Initialize(idxtest::ProbeSolrTransmitterInit &init, const std::string &strFolder,
                        bool bUseCache, bool bSaveCache) {
        ApplicationIdPtr ptrApplication =
            boost::make_shared<ApplicationId>(boost::make_shared<TQClient>(m_clientInfo),
                                              boost::make_shared<Subclient>(m_subclientInfo));
        return init.InitializeSolrTransmitter(ptrApplication, strFolder, &m_jobControl,
                                              &m_backupJob, bUseCache, bSaveCache);
    }

    idxtest::VirtualClock m_clock;
    idxtest::PlatformSettingsScope m_settings;
    idxtest::JobManager m_job;
    idxtest::ManagementServer m_server;
    idxtest::TempDir m_dir;
    idxtest::EngineStub m_engine;
    TQJobCtrlClient m_jobControl;
    TQBkpJobClient m_backupJob;
    TQClientInfo m_clientInfo;
    SubclientInfo m_subclientInfo;
};

TEST_F(SolrTransmitterStartUpCacheTest, StartUpFromTheCacheAsksNoManagementServer) {
    // A scan-phase start-up saves what it resolved.
    CBagPtr ptrSavedBag;
    {
        idxtest::ProbeSolrTransmitterInit init;
        ASSERT_FALSE(Initialize(init, m_dir.Path(), false, true).IsError());
        ptrSavedBag = init.Bag();
    }
    ASSERT_EQ(m_server.Calls().size(), 1u);
    Params saved;
    CSolrTransmitterInit reader;
    ASSERT_FALSE(
        reader.InitializeFromCache(m_dir / "FSSolrTransmitter_config.tqf", saved).IsError());
    // Both copies of the cloud-mode flag and of the monitoring folder.
    EXPECT_TRUE(saved.m_bIsCloudModeFirst);
    EXPECT_TRUE(saved.m_bIsCloudMode);
    EXPECT_FALSE(saved.m_strMonitorJobResultsDir.empty());
    EXPECT_EQ(saved.m_strMonitorJobResultsDirFirst, saved.m_strMonitorJobResultsDir);

    // The backup phase of the same job, in another folder that holds a copy of the file: the
    // cached settings stand for what the management server and the platform settings gave; the
    // job's own phase, failure-logging switch and folder are the job's now, and the
    // push-only-metadata value is worked out from its phase.
    idxtest::TempDir other;
    other.WriteFile("FSSolrTransmitter_config.tqf",
                    idxtest::ReadWholeFile(m_dir / "FSSolrTransmitter_config.tqf"));
    idxtest::LogCapture capture(0);
    idxtest::ProbeSolrTransmitterInit init;
    init.SetIsScanPhase(false);
    init.SetDisableFailureLogging(true);
    init.SetCollectOwnerInfo(false);
    CKyError error = Initialize(init, other.Path(), true, false);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    EXPECT_EQ(m_server.Calls().size(), 1u);
    EXPECT_TRUE(init.GetSolrTransmitterInstance());
    EXPECT_EQ(capture.Count("Solr engine is up and running"), 1u);
    EXPECT_FALSE(capture.Contains("InitializeFromCache failed"));

    // Every value as the first start-up wrote it, except the four that follow the job now.
    const std::map<std::string, std::pair<std::string, std::string>> mapJobsOwn = {
        {BagId::idPushOnlyMetaData, {"bool true", "bool false"}},
        {BagId::idIsScanPhase, {"bool true", "bool false"}},
        {BagId::idIsDisableFailureLogging, {"bool false", "bool true"}},
        {BagId::idSubClientDir, {"text " + m_dir.Path(), "text " + other.Path()}},
    };
    const CBag &bag = *init.Bag();
    ASSERT_EQ(bag.Keys(), ptrSavedBag->Keys());
    for (const std::string &strKey : ptrSavedBag->Keys()) {
        boost::any cached;
        boost::any first;
        bag.ReadAny(strKey, cached);
        ptrSavedBag->ReadAny(strKey, first);
        const auto itOwn = mapJobsOwn.find(strKey);
        if (itOwn != mapJobsOwn.end()) {
            EXPECT_EQ(AnyText(first), itOwn->second.first) << strKey;
            EXPECT_EQ(AnyText(cached), itOwn->second.second) << strKey;
        } else {
            EXPECT_EQ(AnyText(cached), AnyText(first)) << strKey;
        }
    }
    EXPECT_TRUE(init.IfCollectOwnerInfo());
    EXPECT_TRUE(init.IfCollectSecurityInfo());
    EXPECT_FALSE(init.IfPushOnlyMetaData());
    EXPECT_TRUE(init.GetIncludeFilterSet().empty());
}

// A job saves the cache in its scan phase and starts its backup phase from it, in the same
// folder: each phase keeps its own failures list, and the backup phase's documents carry the
// collect fields that its restart position is read from.
TEST_F(SolrTransmitterStartUpCacheTest, BackupPhaseStartedFromTheScanPhasesCacheKeepsItsOwnPhase) {
    idxtest::TempDir tree;
    const std::string strScanA = tree.WriteFile("scan-a.txt", "a");
    const std::string strScanB = tree.WriteFile("scan-b.txt", "b");
    const std::string strRefused = tree.WriteFile("refused.txt", "c");
    const std::string strFirst = tree.WriteFile("first.txt", "d");
    const std::string strSecond = tree.WriteFile("second.txt", "e");

    // The scan phase: the engine refuses every batch, so both items are listed.
    m_engine.FailNext(idxtest::EngineRoute::Update, 1000, 400);
    {
        idxtest::ProbeSolrTransmitterInit init;
        init.SetIsScanPhase(true);
        ASSERT_FALSE(Initialize(init, m_dir.Path(), false, true).IsError());
        CSolrTransmitterPtr ptrTransmitter = init.GetSolrTransmitterInstance();
        ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strScanA, 1, 10, false, false).IsError());
        ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strScanB, 1, 20, false, false).IsError());
        ASSERT_FALSE(ptrTransmitter->WaitAndCommit().IsError());
        EXPECT_EQ(ptrTransmitter->GetFailedItemCount(), 2);
    }
    const std::multiset<std::string> setScanList = {strScanA, strScanB};
    ASSERT_EQ(LinesOf(m_dir / "SolrScanFailures.tqf"), setScanList);
    EXPECT_TRUE(m_engine.Documents().empty());
    m_engine.ClearScripts();

    // The backup phase, from the cache; an earlier attempt of it left one line.
    m_dir.WriteFile("SolrBackupFailures.tqf", "/earlier/attempt.txt\n");
    m_engine.FailNext(idxtest::EngineRoute::Update, 1, 400);
    idxtest::ProbeSolrTransmitterInit init;
    init.SetIsScanPhase(false);
    ASSERT_FALSE(Initialize(init, m_dir.Path(), true, false).IsError());
    EXPECT_EQ(m_server.Calls().size(), 1u);
    CSolrTransmitterPtr ptrTransmitter = init.GetSolrTransmitterInstance();
    // The earlier attempt's line counts; the refused item is alone in its batch.
    EXPECT_EQ(ptrTransmitter->GetFailedItemCount(), 1);
    ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strRefused, 2, 30, false, false).IsError());
    ASSERT_TRUE(
        idxtest::WaitUntil([&] { return ptrTransmitter->GetFailedItemCount() == 2; }, 60000));
    ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strFirst, 2, 40, false, false).IsError());
    ASSERT_FALSE(ptrTransmitter->BuildAndAddToQueue(strSecond, 3, 50, false, false).IsError());
    ASSERT_FALSE(ptrTransmitter->WaitAndCommit().IsError());

    EXPECT_EQ(LinesOf(m_dir / "SolrScanFailures.tqf"), setScanList);
    EXPECT_EQ(LinesOf(m_dir / "SolrBackupFailures.tqf"),
              (std::multiset<std::string>{"/earlier/attempt.txt", strRefused}));
    std::map<std::string, std::pair<std::string, std::string>> mapCollect;
    for (const auto &entry : m_engine.Documents()) {
        const idxtest::EngineDocument &document = entry.second;
        mapCollect[document.Value("FileName")] = {document.Value("CollectId"),
                                                  document.Value("CollectOffset")};
    }
    EXPECT_EQ(mapCollect, (std::map<std::string, std::pair<std::string, std::string>>{
                              {"first.txt", {"2", "40"}}, {"second.txt", {"3", "50"}}}));
}

TEST_F(SolrTransmitterStartUpCacheTest, UnreadableCacheFallsBackToTheManagementServer) {
    Params saved;
    saved.m_strClientName = "from a damaged file";
    const std::string strTokens = TokenData(saved);
    // A whole, readable record: only where it stands makes it no cache.
    Params readable;
    readable.m_strClientName = "behind a link";
    readable.m_strCompleteSolrUrl = "http://127.0.0.1:1/solr/elsewhere/update?";
    const std::string strReadable = CacheFile(1, Record(TokenData(readable)));
    enum class EKind { None, File, Link, Pipe };
    const struct {
        const char *szCase;
        EKind eKind;
        std::string strContent;
    } cases[] = {
        {"no file", EKind::None, ""},
        {"empty", EKind::File, ""},
        {"one byte", EKind::File, "\x01"},
        {"length of 2^64-1", EKind::File, CacheFile(1, Bytes<uint64_t>(UINT64_MAX) + strTokens)},
        {"damaged tokens", EKind::File,
         CacheFile(1, Record(strTokens.substr(0, strTokens.size() - 3) + "xyz"))},
        {"no record", EKind::File, CacheFile(0, "")},
        {"a symbolic link to a readable cache", EKind::Link, strReadable},
        // Read as a file, a pipe without a writer would hold the start-up for ever.
        {"a pipe", EKind::Pipe, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szCase);
        idxtest::TempDir folder;
        const std::string strCache = folder / "FSSolrTransmitter_config.tqf";
        if (c.eKind == EKind::File) {
            folder.WriteFile("FSSolrTransmitter_config.tqf", c.strContent);
        } else if (c.eKind == EKind::Link) {
            ASSERT_EQ(
                symlink(folder.WriteFile("target.tqf", c.strContent).c_str(), strCache.c_str()), 0);
        } else if (c.eKind == EKind::Pipe) {
            ASSERT_EQ(mkfifo(strCache.c_str(), 0644), 0);
        }
        const size_t nCallsBefore = m_server.Calls().size();
        idxtest::LogCapture capture(0);
        idxtest::ProbeSolrTransmitterInit init;
        CKyError error = Initialize(init, folder.Path(), true, false);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        EXPECT_EQ(capture.CountAtLevel("InitializeFromCache failed for  Fetching from HQ", -1), 1u);
        EXPECT_EQ(m_server.Calls().size(), nCallsBefore + 1);
        EXPECT_EQ(init.GetIncludeFilterSet(), (std::set<std::string>{"doc"}));
        EXPECT_EQ(BagText(*init.Bag(), BagId::idClientName), "client-a");
    }
}

// Whatever stands at the cache's name is replaced by a new file, never written through: the
// target of a link stays as it was, a pipe does not hold the save, and no other file is left.
TEST(SolrTransmitterConfigCacheTest, SaveReplacesWhatStandsAtTheCachesNameAndFollowsNoLink) {
    enum class EKind { None, File, Link, Pipe };
    const struct {
        const char *szCase;
        EKind eKind;
    } cases[] = {{"no file", EKind::None},
                 {"an older cache", EKind::File},
                 {"a symbolic link", EKind::Link},
                 {"a pipe", EKind::Pipe}};
    Params saved = FilledRecord();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szCase);
        idxtest::TempDir folder;
        idxtest::TempDir elsewhere;
        const std::string strCache = folder / "FSSolrTransmitter_config.tqf";
        const std::string strVictim = elsewhere.WriteFile("victim", "not a cache");
        std::set<std::string> setBefore = {"FSSolrTransmitter_config.tqf"};
        if (c.eKind == EKind::File) {
            folder.WriteFile("FSSolrTransmitter_config.tqf", "old");
        } else if (c.eKind == EKind::Link) {
            ASSERT_EQ(symlink(strVictim.c_str(), strCache.c_str()), 0);
        } else if (c.eKind == EKind::Pipe) {
            ASSERT_EQ(mkfifo(strCache.c_str(), 0644), 0);
        }

        CSolrTransmitterInit init;
        ASSERT_FALSE(init.SaveToCache(strCache, saved).IsError());
        struct stat status;
        ASSERT_EQ(lstat(strCache.c_str(), &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0644u);
        EXPECT_EQ(idxtest::ReadWholeFile(strVictim), "not a cache");
        Params read;
        ASSERT_FALSE(init.InitializeFromCache(strCache, read).IsError());
        EXPECT_EQ(Fields(read), Fields(saved));
        EXPECT_EQ(Names(folder.Path()), setBefore);
    }

    // A name that cannot be replaced (a folder stands there) is the save's error, logged, and
    // leaves nothing behind.
    idxtest::TempDir folder;
    folder.WriteFile("FSSolrTransmitter_config.tqf/inside", "x");
    idxtest::LogCapture capture(0);
    CSolrTransmitterInit init;
    CKyError error = init.SaveToCache(folder / "FSSolrTransmitter_config.tqf", saved);
    EXPECT_TRUE(HasText(error, "Unable to replace fssolrtransmitter config file:"))
        << error.AsString();
    EXPECT_EQ(capture.CountAtLevel("Unable to replace fssolrtransmitter config file:", -1), 1u);
    EXPECT_EQ(Names(folder.Path()), std::set<std::string>{"FSSolrTransmitter_config.tqf"});
}

} // namespace

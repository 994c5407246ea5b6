// The metadata sender over real HTTP against the engine stand-in, which parses every update body
// strictly: one request per batch, the documents it stores, CRC fields, the failures file,
// progress and totals, partial updates, and hostile names.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "documents/FieldSyntax.h"
#include "documents/FileCrc.h"
#include "foundation/Crc32.h"
#include "platform/ObjectGuid.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterCallback.h"

namespace {

using idxtest::EngineRoute;
using idxtest::FieldList;
typedef std::vector<std::string> Names;
typedef std::tuple<long long, long long, long long> Progress;

// Records every progress report: items, bytes, failures.
class ProgressCallback : public CSolrTransmitterCallback {
public:
    CKyError UpdateProgress(long long llItems, long long llBytes, long long llFailed) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecReports.emplace_back(llItems, llBytes, llFailed);
        return CKyError::Success();
    }
    std::vector<Progress> Reports() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_vecReports;
    }

private:
    std::mutex m_lock;
    std::vector<Progress> m_vecReports;
};

std::string Key(const std::string &strPath) {
    std::string strGuid;
    GetObjectGuid(strPath, false, '/', strGuid);
    return strGuid;
}

std::string CrcText(const std::string &strContent) {
    CKyCRC32 crc;
    crc.UpdateCRC32(strContent.data(), static_cast<unsigned int>(strContent.size()));
    char szText[16];
    snprintf(szText, sizeof(szText), "%X", crc.GetCRC32());
    return szText;
}

class MetadataSenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_set = idxtest::MakeDocumentWorker(true);
        idxtest::PointOptionsAtStub(Options(), m_stub);
        m_strSubClient = m_dir / "subclient";
        ASSERT_EQ(0, mkdir(m_strSubClient.c_str(), 0755));
        Options().SetSubClientDir(m_strSubClient);
        Options().SetScanPhase(false);
        m_ptrCallback = boost::make_shared<ProgressCallback>();
        Options().SetCallback(m_ptrCallback);
        ASSERT_FALSE(m_set.ptrState->OpenSolrFailuresFile().IsError());
        m_set.ptrWorker->MakeTimers();
    }

    CTransmitterOptions &Options() { return *m_set.ptrOptions; }
    idxtest::DocumentWorker &Worker() { return *m_set.ptrWorker; }

    CItemPtr Item(const std::string &strPath) {
        CItemPtr ptrItem = idxtest::MakePathItem(strPath, Options());
        EXPECT_TRUE(ptrItem);
        return ptrItem;
    }

    std::string Folder(const std::string &strName) {
        const std::string strPath = m_dir / strName;
        EXPECT_EQ(0, mkdir(strPath.c_str(), 0755));
        return strPath;
    }

    // The failures file's lines, after closing it so that everything written is on disk.
    Names FailureLines() {
        m_set.ptrState->CloseSolrFailuresFile();
        const std::string strText =
            idxtest::ReadWholeFile(m_strSubClient + "/SolrBackupFailures.tqf");
        Names vecLines;
        size_t nStart = 0;
        while (nStart < strText.size()) {
            size_t nEnd = strText.find('\n', nStart);
            vecLines.push_back(strText.substr(nStart, nEnd - nStart));
            nStart = nEnd == std::string::npos ? strText.size() : nEnd + 1;
        }
        return vecLines;
    }

    std::vector<idxtest::EngineRequest> Updates() { return m_stub.Requests(EngineRoute::Update); }

    idxtest::EngineStub m_stub;
    idxtest::TempDir m_dir;
    std::string m_strSubClient;
    idxtest::DocumentWorkerSet m_set;
    boost::shared_ptr<ProgressCallback> m_ptrCallback;
};

TEST_F(MetadataSenderTest, BatchIsOneXmlPostWithOneDocumentPerItem) {
    const std::string strFile = m_dir.WriteFile("a.txt", "alpha");
    const std::string strFolder = Folder("sub");
    const std::string strGone = m_dir / "gone.txt";
    std::list<CItemPtr> lstItems = {Item(strFile), Item(strFolder),
                                    idxtest::MakeDeletedItem(strGone, Options())};
    ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
    EXPECT_TRUE(lstItems.empty());
    EXPECT_EQ(1u, Worker().m_ptrSendItemsTimer->GetTotalSamples());
    EXPECT_EQ(3u, Worker().m_ptrBuildItemsTimer->GetTotalSamples());

    const std::vector<idxtest::EngineRequest> vecUpdates = Updates();
    ASSERT_EQ(1u, vecUpdates.size());
    EXPECT_EQ(200, vecUpdates[0].nStatus);
    EXPECT_EQ("POST", vecUpdates[0].strMethod);
    EXPECT_EQ("text/xml", vecUpdates[0].Header("Content-Type"));
    const std::string &strBody = vecUpdates[0].strBody;
    EXPECT_EQ(0u, strBody.find("<add><doc><field name=\"contentid\">"));
    EXPECT_EQ(strBody.size() - 12, strBody.rfind("</doc></add>"));

    std::vector<FieldList> vecDocs;
    std::string strError;
    ASSERT_TRUE(idxtest::ParseUpdateBody(strBody, vecDocs, strError)) << strError;
    ASSERT_EQ(3u, vecDocs.size());
    // Each document is exactly the builder's.
    const std::vector<CItemPtr> vecSame = {Item(strFile), Item(strFolder),
                                           idxtest::MakeDeletedItem(strGone, Options())};
    for (size_t i = 0; i < vecSame.size(); ++i) {
        std::string strDocument;
        m_set.BuildItemDataAnalytics(vecSame[i], strDocument);
        FieldList expected;
        ASSERT_TRUE(idxtest::ParseDocumentFields(strDocument, expected, strError));
        EXPECT_EQ(idxtest::FieldNames(expected), idxtest::FieldNames(vecDocs[i])) << i;
    }

    ASSERT_EQ(3u, m_stub.DocumentCount());
    EXPECT_EQ("1", m_stub.Document(Key(strFile))->Value("DocumentType"));
    EXPECT_FALSE(m_stub.Document(Key(strFile))->bExtracted);
    EXPECT_EQ("4", m_stub.Document(Key(strFolder))->Value("DocumentType"));
    EXPECT_EQ("3334", m_stub.Document(Key(strGone))->Value("cistate"));

    EXPECT_EQ(3, Worker().m_llTransmittedItems.load());
    EXPECT_EQ(1, Worker().m_llTransmittedPackets.load());
    EXPECT_EQ((std::vector<Progress>{Progress(3, 0, 0)}), m_ptrCallback->Reports());
    EXPECT_TRUE(FailureLines().empty());
}

TEST_F(MetadataSenderTest, TheReusedBodyHoldsExactlyTheBatchItSends) {
    // The sender keeps one body for all its requests. A batch whose document is far larger than
    // the body's first reserve, then small batches: each small body is byte for byte what a
    // fresh sender sends for the same batch, with nothing left over from the large one.
    const std::string strFile = m_dir.WriteFile("a.txt", "alpha");
    const std::string strOther = m_dir.WriteFile("b.txt", "beta");
    Options().SetSchemaFieldsMap({{"Large", std::string(600 * 1024, 'v')}});
    std::list<CItemPtr> lstLarge = {Item(strFile), Item(strOther)};
    ASSERT_FALSE(m_set.SendItems(lstLarge).IsError());
    Options().SetSchemaFieldsMap({});
    for (int i = 0; i < 2; ++i) {
        std::list<CItemPtr> lstSmall = {Item(strFile)};
        ASSERT_FALSE(m_set.SendItems(lstSmall).IsError());
    }
    CMetadataSender fresh(Worker());
    std::list<CItemPtr> lstFresh = {Item(strFile)};
    ASSERT_FALSE(idxtest::SendAsBatch(fresh, *m_set.ptrState, lstFresh).IsError());

    const std::vector<idxtest::EngineRequest> vecUpdates = Updates();
    ASSERT_EQ(4u, vecUpdates.size());
    EXPECT_GT(vecUpdates[0].strBody.size(), 2 * 600 * 1024u);
    const std::string &strFreshBody = vecUpdates[3].strBody;
    EXPECT_LT(strFreshBody.size(), 64 * 1024u);
    EXPECT_TRUE(vecUpdates[1].strBody == strFreshBody);
    EXPECT_TRUE(vecUpdates[2].strBody == strFreshBody);
    std::vector<FieldList> vecDocs;
    std::string strError;
    ASSERT_TRUE(idxtest::ParseUpdateBody(strFreshBody, vecDocs, strError)) << strError;
    ASSERT_EQ(1u, vecDocs.size());
    EXPECT_EQ(nullptr, idxtest::FindField(vecDocs[0], "Large"));
}

TEST_F(MetadataSenderTest, DeletedPathTurnsTheLiveDocumentIntoADeletedOne) {
    const std::string strFile = m_dir.WriteFile("doomed.txt", "x");
    std::list<CItemPtr> lstLive = {Item(strFile)};
    ASSERT_FALSE(m_set.SendItems(lstLive).IsError());
    EXPECT_EQ("1", m_stub.Document(Key(strFile))->Value("cistate"));

    ASSERT_EQ(0, unlink(strFile.c_str()));
    std::list<CItemPtr> lstDeleted = {idxtest::MakeDeletedItem(strFile, Options())};
    ASSERT_FALSE(m_set.SendItems(lstDeleted).IsError());
    ASSERT_EQ(1u, m_stub.DocumentCount());
    EXPECT_EQ("3334", m_stub.Document(Key(strFile))->Value("cistate"));
    EXPECT_EQ("", m_stub.Document(Key(strFile))->Value("err"));
    EXPECT_EQ(2, Worker().m_llTransmittedPackets.load());
}

TEST_F(MetadataSenderTest, IdentifiersTheHostDidNotSetGoOutAsZero) {
    // The engine's schema holds these as integers and refuses an empty text; the stand-in too.
    const std::string strFile = m_dir.WriteFile("ids.txt", "x");
    std::list<CItemPtr> lstItems = {Item(strFile)};
    ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
    ASSERT_EQ(1u, Updates().size());
    EXPECT_EQ(200, Updates()[0].nStatus) << Updates()[0].strBody;
    auto document = m_stub.Document(Key(strFile));
    ASSERT_TRUE(document);
    for (const char *szField : {"ClientId", "ApplicationId", "JobId"}) {
        EXPECT_EQ((std::vector<std::string>{"0"}), document->Values(szField)) << szField;
    }
    EXPECT_TRUE(FailureLines().empty());
}

TEST_F(MetadataSenderTest, EmptyBatchPostsAnEmptyAdd) {
    std::list<CItemPtr> lstItems;
    ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
    ASSERT_EQ(1u, Updates().size());
    EXPECT_EQ("<add></add>", Updates()[0].strBody);
    EXPECT_EQ(0, Worker().m_llTransmittedItems.load());
    EXPECT_EQ(1, Worker().m_llTransmittedPackets.load());
    EXPECT_EQ((std::vector<Progress>{Progress(0, 0, 0)}), m_ptrCallback->Reports());
}

TEST_F(MetadataSenderTest, CrcModeAddsTheContentHashToFiles) {
    Options().SetPushMetaDataWithCRC(true);
    // Content whose CRC-32 has leading zero digits, which are not written.
    std::string strShortCrcContent;
    for (int i = 0; CrcText(strShortCrcContent).size() == 8 || strShortCrcContent.empty(); ++i) {
        strShortCrcContent = "content-" + std::to_string(i);
    }
    struct CrcCase {
        std::string strName;
        std::string strContent;
        std::string strExpected;
    };
    const std::vector<CrcCase> vecCases = {
        {"digits.txt", "123456789", "CBF43926"},
        {"empty.txt", "", "0"},
        {"short.txt", strShortCrcContent, CrcText(strShortCrcContent)},
    };
    std::list<CItemPtr> lstItems;
    for (const CrcCase &test : vecCases) {
        lstItems.push_back(Item(m_dir.WriteFile(test.strName, test.strContent)));
    }
    const std::string strFolder = Folder("plain-folder");
    // A folder named like an archive is still a folder: an ordinary document, no hash.
    const std::string strZipFolder = Folder("pack.zip");
    lstItems.push_back(Item(strFolder));
    lstItems.push_back(Item(strZipFolder));

    ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
    for (const CrcCase &test : vecCases) {
        auto doc = m_stub.Document(Key(m_dir / test.strName));
        ASSERT_TRUE(doc) << test.strName;
        EXPECT_EQ(test.strExpected, doc->Value("FileContentHash")) << test.strName;
    }
    EXPECT_LT(CrcText(strShortCrcContent).size(), 8u);
    EXPECT_FALSE(m_stub.Document(Key(strFolder))->Has("FileContentHash"));
    auto zipFolder = m_stub.Document(Key(strZipFolder));
    ASSERT_TRUE(zipFolder);
    EXPECT_EQ("4", zipFolder->Value("DocumentType"));
    EXPECT_FALSE(zipFolder->Has("FileContentHash"));
    EXPECT_EQ(5u, m_stub.DocumentCount());
    EXPECT_EQ(3u, Worker().m_ptrGenerateCRC32Timer->GetTotalSamples());
}

TEST_F(MetadataSenderTest, UnreadableContentIsLoggedAndSentWithoutHash) {
    Options().SetPushMetaDataWithCRC(true);
    const std::string strVanished = m_dir.WriteFile("vanished.txt", "x");
    const std::string strFifo = m_dir / "pipe";
    ASSERT_EQ(0, mkfifo(strFifo.c_str(), 0644));
    std::list<CItemPtr> lstItems = {Item(strVanished), Item(strFifo)};
    ASSERT_EQ(0, unlink(strVanished.c_str()));

    idxtest::LogCapture capture;
    ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
    EXPECT_EQ(2u, capture.CountAtLevel("Failed to calculate CRC, error=", -1));
    EXPECT_TRUE(capture.Contains("Failed to open file [" + strVanished + "] for reading"));
    EXPECT_TRUE(capture.Contains("[" + strFifo + "] is not a regular file"));
    ASSERT_EQ(2u, m_stub.DocumentCount());
    EXPECT_FALSE(m_stub.Document(Key(strVanished))->Has("FileContentHash"));
    EXPECT_FALSE(m_stub.Document(Key(strFifo))->Has("FileContentHash"));
}

TEST_F(MetadataSenderTest, WithoutCrcModeArchivesAreOrdinaryFiles) {
    const std::string strZip = m_dir.WriteFile("bundle.zip", "PK not really");
    std::string strCrc = "untouched";
    ASSERT_FALSE(IdxDocuments::GetCRC32(*m_set.ptrContext, strZip, strCrc).IsError());
    EXPECT_EQ("untouched", strCrc);

    std::list<CItemPtr> lstItems = {Item(strZip)};
    ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
    ASSERT_EQ(1u, m_stub.DocumentCount());
    auto doc = m_stub.Document(Key(strZip));
    ASSERT_TRUE(doc);
    EXPECT_EQ("1", doc->Value("DocumentType"));
    EXPECT_EQ("zip", doc->Value("FileExtension"));
    EXPECT_FALSE(doc->Has("FileContentHash"));
    EXPECT_FALSE(doc->Has("IsCompound"));
}

TEST_F(MetadataSenderTest, FailedPostPutsEveryItemNameIntoTheFailuresFile) {
    const std::string strFile = m_dir.WriteFile("f.txt", "x");
    const std::string strFolder = Folder("d");
    const std::string strGone = m_dir / "gone.txt";
    std::list<CItemPtr> lstItems = {Item(strFile), Item(strFolder),
                                    idxtest::MakeDeletedItem(strGone, Options())};
    m_stub.FailNext(EngineRoute::Update, 1, 400);

    idxtest::LogCapture capture;
    CKyError error = m_set.SendItems(lstItems);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(400u, FXErrorUtil::GetWin32(error));
    EXPECT_TRUE(lstItems.empty());
    EXPECT_EQ((Names{strFile, strFolder, strGone}), FailureLines());
    EXPECT_EQ((std::vector<Progress>{Progress(0, 0, 3)}), m_ptrCallback->Reports());
    EXPECT_EQ(3, Worker().m_llTransmittedItems.load());
    EXPECT_EQ(1, Worker().m_llTransmittedPackets.load());
    EXPECT_TRUE(m_set.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(0u, m_stub.DocumentCount());
}

TEST_F(MetadataSenderTest, ScanPhaseReportsNoProgress) {
    Options().SetScanPhase(true);
    std::list<CItemPtr> lstOk = {Item(m_dir.WriteFile("s.txt", "x"))};
    ASSERT_FALSE(m_set.SendItems(lstOk).IsError());
    m_stub.FailNext(EngineRoute::Update, 1, 400);
    std::list<CItemPtr> lstFailed = {Item(m_dir.WriteFile("t.txt", "x"))};
    ASSERT_TRUE(m_set.SendItems(lstFailed).IsError());
    EXPECT_TRUE(m_ptrCallback->Reports().empty());
    EXPECT_EQ(2, Worker().m_llTransmittedPackets.load());
}

TEST_F(MetadataSenderTest, HostileNamesGiveBodiesTheEngineAccepts) {
    const Names vecNames = {"a]]>b.txt",
                            "<doc>.txt",
                            "ctl\x01\x1b\x7f.txt",
                            "latin\xE9.txt",
                            "\xFF\xFE",
                            "bom\xEF\xBF\xBE.txt",
                            "x]]\x01>y.txt",
                            "]]><doc><field name=\"contentid\">k"};
    std::list<CItemPtr> lstItems;
    for (const std::string &strName : vecNames) {
        lstItems.push_back(Item(m_dir.WriteFile(strName, "data")));
    }
    ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
    ASSERT_EQ(1u, Updates().size());
    EXPECT_EQ(200, Updates()[0].nStatus);
    ASSERT_EQ(vecNames.size(), m_stub.DocumentCount());
    for (const std::string &strName : vecNames) {
        auto doc = m_stub.Document(Key(m_dir / strName));
        ASSERT_TRUE(doc) << strName;
        EXPECT_EQ(IdxDocuments::StripIllegalXmlCharacters(strName), doc->Value("FileName"));
        EXPECT_EQ(IdxDocuments::StripIllegalXmlCharacters(m_dir / strName), doc->Value("Url"));
    }
}

TEST_F(MetadataSenderTest, PartialUpdateChangesOnlyTheNamedGroups) {
    const std::string strFile = m_dir.WriteFile("p.txt", "x");
    std::list<CItemPtr> lstFull = {Item(strFile)};
    ASSERT_FALSE(m_set.SendItems(lstFull).IsError());
    const size_t nFullFields = m_stub.Document(Key(strFile))->mapFields.size();

    m_set.ptrState->SetUp().m_bSendPartialData = true;
    m_set.ptrState->SetUp().m_vecFieldsToPush = {"DocumentType"};
    std::list<CItemPtr> lstPartial = {Item(strFile)};
    ASSERT_FALSE(m_set.SendItems(lstPartial).IsError());

    std::vector<FieldList> vecDocs;
    std::string strError;
    ASSERT_TRUE(idxtest::ParseUpdateBody(Updates().back().strBody, vecDocs, strError));
    ASSERT_EQ(1u, vecDocs.size());
    EXPECT_EQ((Names{"contentid", "DocumentType"}), idxtest::FieldNames(vecDocs[0]));
    auto doc = m_stub.Document(Key(strFile));
    ASSERT_TRUE(doc);
    EXPECT_EQ(nFullFields, doc->mapFields.size());
    EXPECT_EQ("p.txt", doc->Value("FileName"));
    EXPECT_EQ(1u, m_stub.DocumentCount());
}

TEST_F(MetadataSenderTest, BodyIsLoggedOnlyAtLevelSeven) {
    const std::string strFile = m_dir.WriteFile("logged.txt", "x");
    {
        idxtest::LogCapture capture(6);
        std::list<CItemPtr> lstItems = {Item(strFile)};
        ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
        EXPECT_FALSE(capture.Contains("Out: <add>"));
    }
    idxtest::LogCapture capture(7);
    std::list<CItemPtr> lstItems = {Item(strFile)};
    ASSERT_FALSE(m_set.SendItems(lstItems).IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("Out: <add><doc>", 7));
}

TEST_F(MetadataSenderTest, QueuedItemsReachTheEngineThroughTheTransmitter) {
    const std::string strFile = m_dir.WriteFile("queued.txt", "x");
    const std::string strFolder = Folder("queued-folder");
    const std::string strMissing = m_dir / "missing.txt";
    const std::string strDeleted = m_dir / "deleted.txt";

    // The end of the job waits in steps of a second or more; the virtual clock makes them free.
    idxtest::VirtualClock clock;
    idxtest::EngineTransmitter transmitter;
    idxtest::PointOptionsAtStub(transmitter.Options(), m_stub);
    transmitter.Options().SetSubClientDir(m_strSubClient);
    transmitter.Options().SetScanPhase(false);
    transmitter.Options().SetPushOnlyMetaData(true);
    transmitter.State().SetUp().m_nDisableSolrPerfThread = 1;
    ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(2).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strFile, 2, 4096, false, true).IsError());
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strFolder, 2, 8192, false, true).IsError());
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strMissing, 2, 9000, false, true).IsError());
    ASSERT_FALSE(transmitter.BuildAndAddDeletedItemsToQueue(strDeleted).IsError());
    ASSERT_TRUE(idxtest::WaitUntil([&] { return m_stub.DocumentCount() == 4; }));
    EXPECT_FALSE(transmitter.Stop().IsError());

    for (const auto &request : Updates()) {
        EXPECT_EQ(200, request.nStatus);
    }
    auto file = m_stub.Document(Key(strFile));
    ASSERT_TRUE(file);
    EXPECT_EQ("1", file->Value("cistate"));
    // Push-only mode: no collect position.
    EXPECT_FALSE(file->Has("CollectId"));
    EXPECT_EQ("4", m_stub.Document(Key(strFolder))->Value("DocumentType"));
    auto missing = m_stub.Document(Key(strMissing));
    ASSERT_TRUE(missing);
    EXPECT_EQ("16", missing->Value("cistate"));
    EXPECT_EQ("No such file or directory", missing->Value("err"));
    EXPECT_EQ("3334", m_stub.Document(Key(strDeleted))->Value("cistate"));
}

TEST_F(MetadataSenderTest, QueuedDocumentsReachTheEngineFieldByField) {
    const std::string strFile = m_dir.WriteFile("plain.txt", "plain content");
    ASSERT_EQ(0, chmod(strFile.c_str(), 0644));
    const std::string strChanged = m_dir.WriteFile("changed.txt", "x");
    const Names vecHostile = {"a]]>b.txt",
                              "<doc>.txt",
                              "ctl\x01\x1b\x7f.txt",
                              "latin\xE9.txt",
                              "\xFF\xFE",
                              "bom\xEF\xBF\xBE.txt",
                              "]]><doc><field name=\"contentid\">k"};
    for (const std::string &strName : vecHostile) {
        m_dir.WriteFile(strName, "data");
    }
    CAnalyticsItemAddInfoPtr ptrAddInfo = boost::make_shared<CAnalyticsItemAddInfo>();
    ptrAddInfo->SetPermissionsBeforeChange("-rwxrwxrwx");
    ptrAddInfo->SetPermissionChangeRequest("chmod 644");

    idxtest::VirtualClock clock;
    idxtest::EngineTransmitter transmitter;
    CTransmitterOptions &options = transmitter.Options();
    idxtest::PointOptionsAtStub(options, m_stub);
    options.SetSubClientDir(m_strSubClient);
    options.SetScanPhase(false);
    options.SetPushOnlyMetaData(true);
    options.SetCollectOwnerInfo(true);
    options.SetCollectSecurityInfo(true);
    // A configured field whose name holds markup still stays one field.
    options.SetSchemaFieldsMap({{"Dept", "finance"}, {"x\"><doc>", "v"}});
    transmitter.State().SetUp().m_nDisableSolrPerfThread = 1;
    ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(2).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strFile, 2, 4096, false, false).IsError());
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strChanged, ptrAddInfo, false).IsError());
    for (const std::string &strName : vecHostile) {
        ASSERT_FALSE(transmitter.BuildAndAddToQueue(m_dir / strName, 2, 0, false, false).IsError());
    }
    const size_t nExpectedDocs = 2 + vecHostile.size();
    ASSERT_TRUE(idxtest::WaitUntil([&] { return m_stub.DocumentCount() == nExpectedDocs; }));
    EXPECT_FALSE(transmitter.Stop().IsError());

    std::vector<FieldList> vecDocs;
    for (const idxtest::EngineRequest &request : Updates()) {
        EXPECT_EQ(200, request.nStatus);
        EXPECT_EQ("text/xml", request.Header("Content-Type"));
        std::vector<FieldList> vecRequestDocs;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseUpdateBody(request.strBody, vecRequestDocs, strError))
            << strError;
        vecDocs.insert(vecDocs.end(), vecRequestDocs.begin(), vecRequestDocs.end());
    }
    ASSERT_EQ(nExpectedDocs, vecDocs.size());

    const Names vecPlainNames = {"contentid",
                                 "AccessTime",
                                 "ClientId",
                                 "ApplicationId",
                                 "CreatedTime",
                                 "tqturboguid",
                                 "DocumentType",
                                 "FileExtension",
                                 "FileName",
                                 "FileNameModifiedTimeHash",
                                 "FolderName",
                                 "JobId",
                                 "ModifiedTime",
                                 "ModifiedTimeAsStr",
                                 "ChangeTimeAsInt",
                                 "Size",
                                 "SizeOnDisk",
                                 "FileNameModifiedTimeSizeHash",
                                 "Source",
                                 "ShareName",
                                 "Url",
                                 "NotQualifiedForArchiving",
                                 "IsStub",
                                 "OwnerName",
                                 "OwnerSID",
                                 "GroupId",
                                 "GroupName",
                                 "Mode",
                                 "Permissions",
                                 "cistate",
                                 "err",
                                 "Dept",
                                 "x\"><doc>"};
    size_t nPlain = 0;
    size_t nChangeEvents = 0;
    Names vecFileNames;
    for (const FieldList &fields : vecDocs) {
        ASSERT_FALSE(fields.empty());
        EXPECT_EQ("contentid", fields[0].strName);
        EXPECT_FALSE(fields[0].bHasUpdate);
        for (size_t i = 1; i < fields.size(); ++i) {
            EXPECT_EQ("set", fields[i].strUpdate) << fields[i].strName;
        }
        const idxtest::DocumentField *pUrl = idxtest::FindField(fields, "Url");
        ASSERT_NE(nullptr, pUrl);
        const std::string strType = idxtest::FindField(fields, "DocumentType")->strValue;
        if (pUrl->strValue == strFile) {
            ++nPlain;
            // Metadata mode: no collect position, even though the item was queued with one.
            EXPECT_EQ(vecPlainNames, idxtest::FieldNames(fields));
            EXPECT_EQ(Key(strFile), fields[0].strValue);
            EXPECT_EQ("1", strType);
            EXPECT_EQ("1", idxtest::FindField(fields, "cistate")->strValue);
            EXPECT_EQ("finance", idxtest::FindField(fields, "Dept")->strValue);
        } else if (pUrl->strValue == strChanged && strType == "16") {
            ++nChangeEvents;
            EXPECT_NE(Key(strChanged), fields[0].strValue);
            EXPECT_EQ("-rwxrwxrwx",
                      idxtest::FindField(fields, "PermissionsBeforeChange")->strValue);
            EXPECT_EQ("chmod 644",
                      idxtest::FindField(fields, "PermissionChangeRequested")->strValue);
            EXPECT_EQ(0u, idxtest::CountFields(fields, "Permissions"));
        } else {
            EXPECT_EQ(vecPlainNames, idxtest::FieldNames(fields)) << pUrl->strValue;
            vecFileNames.push_back(idxtest::FindField(fields, "FileName")->strValue);
        }
    }
    EXPECT_EQ(1u, nPlain);
    EXPECT_EQ(1u, nChangeEvents);
    Names vecExpectedNames;
    for (const std::string &strName : vecHostile) {
        vecExpectedNames.push_back(IdxDocuments::StripIllegalXmlCharacters(strName));
    }
    std::sort(vecFileNames.begin(), vecFileNames.end());
    std::sort(vecExpectedNames.begin(), vecExpectedNames.end());
    EXPECT_EQ(vecExpectedNames, vecFileNames);
    EXPECT_EQ(0, transmitter.GetFailedItemCount());
}

TEST_F(MetadataSenderTest, PartialUpdatesThroughTheTransmitterCarryTheKeyAndTheNamedGroups) {
    const std::string strFile = m_dir.WriteFile("partial.txt", "x");
    const std::string strFolder = Folder("partial-folder");

    idxtest::VirtualClock clock;
    idxtest::EngineTransmitter transmitter;
    CTransmitterOptions &options = transmitter.Options();
    idxtest::PointOptionsAtStub(options, m_stub);
    options.SetSubClientDir(m_strSubClient);
    options.SetPushOnlyMetaData(true);
    options.SetCollectOwnerInfo(true);
    transmitter.State().SetUp().m_nDisableSolrPerfThread = 1;
    transmitter.SendPartialData(true);
    transmitter.PopulateFieldsToPush({"DocumentType", "SecurityInfo", "Size"});
    ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(1).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strFile, 2, 0, false, false).IsError());
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strFolder, 2, 0, false, false).IsError());
    ASSERT_TRUE(idxtest::WaitUntil([&] { return m_stub.DocumentCount() == 2; }));
    EXPECT_FALSE(transmitter.Stop().IsError());

    std::map<std::string, FieldList> mapByKey;
    for (const idxtest::EngineRequest &request : Updates()) {
        std::vector<FieldList> vecDocs;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseUpdateBody(request.strBody, vecDocs, strError)) << strError;
        for (const FieldList &fields : vecDocs) {
            mapByKey[fields[0].strValue] = fields;
        }
    }
    ASSERT_EQ(2u, mapByKey.size());
    for (const std::string &strPath : {strFile, strFolder}) {
        SCOPED_TRACE(strPath);
        ASSERT_EQ(1u, mapByKey.count(Key(strPath)));
        const FieldList &fields = mapByKey[Key(strPath)];
        EXPECT_EQ((Names{"contentid", "DocumentType", "OwnerName", "OwnerSID"}),
                  idxtest::FieldNames(fields));
        EXPECT_EQ(strPath == strFolder ? "4" : "1", fields[1].strValue);
        EXPECT_EQ(std::to_string(getuid()), fields[3].strValue);
    }
}

TEST_F(MetadataSenderTest, AuditSenderSendsNothingAndFailsNothing) {
    CItemBatch batch(*m_set.ptrState);
    batch.Add(Item(m_dir.WriteFile("a1.txt", "x")));
    batch.Add(Item(m_dir.WriteFile("a2.txt", "x")));
    CAuditSender sender;
    EXPECT_FALSE(sender.Send(batch).IsError());
    EXPECT_EQ(2, batch.GetSentCount());
    EXPECT_EQ(0, batch.GetFailedCount());
    EXPECT_EQ(0u, m_stub.RequestCount());
}

} // namespace

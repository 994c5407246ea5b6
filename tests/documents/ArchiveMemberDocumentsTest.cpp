// Archive files in CRC mode, sent through the metadata sender to the engine stand-in: the
// archive's own compound document and one document per member file, the scratch folder's life,
// hostile archives, the member cap, cloud mode, and the listing builder.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "documents/ArchiveMemberDocuments.h"
#include "foundation/Crc32.h"
#include "foundation/Locks.h"
#include "platform/StringFormat.h"
#include "platform/testing/ArchiveWriter.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

namespace fs = std::filesystem;

using idxtest::EngineRequest;
using idxtest::EngineRoute;
using idxtest::EngineStub;
using idxtest::FieldList;
using idxtest::TestArchiveKind;
using idxtest::TestArchiveMember;

TestArchiveMember FileMember(const std::string &strPath, const std::string &strContent) {
    TestArchiveMember member;
    member.strPath = strPath;
    member.strContent = strContent;
    return member;
}

std::string CrcText(const std::string &strContent) {
    CKyCRC32 crc;
    crc.UpdateCRC32(strContent.data(), static_cast<unsigned int>(strContent.size()));
    return FXFormat("%X", crc.GetCRC32());
}

std::string Value(const FieldList &fields, const std::string &strName) {
    const idxtest::DocumentField *pField = idxtest::FindField(fields, strName);
    return pField ? pField->strValue : std::string("<absent>");
}

class ArchiveMemberDocumentsTest : public ::testing::Test {
protected:
    ArchiveMemberDocumentsTest() : m_set(idxtest::MakeDocumentWorker(true)) {
        CTransmitterOptions &options = *m_set.ptrOptions;
        idxtest::PointOptionsAtStub(options, m_stub);
        options.SetPushMetaDataWithCRC(true);
        options.SetScanPhase(true);
        m_strSubClient = m_dir / "subclient";
        fs::create_directories(m_strSubClient);
        options.SetSubClientDir(m_strSubClient);
        m_set.ptrWorker->MakeTimers();
        g_bEventSent.store(false);
    }
    ~ArchiveMemberDocumentsTest() override { g_bEventSent.store(false); }

    CTransmitterOptions &Options() { return *m_set.ptrOptions; }
    idxtest::DocumentWorker &Worker() { return *m_set.ptrWorker; }

    CItemPtr Item(const std::string &strPath) { return idxtest::MakePathItem(strPath, Options()); }

    // Sends the items as one metadata batch; the documents of the one update request.
    std::vector<FieldList> SendBatch(std::list<CItemPtr> lstItems) {
        m_stub.ClearRequests();
        CKyError error = m_set.SendItems(lstItems);
        EXPECT_FALSE(error.IsError()) << error.AsString();
        std::vector<EngineRequest> vecUpdate = m_stub.Requests(EngineRoute::Update);
        std::vector<FieldList> vecDocs;
        if (vecUpdate.size() != 1) {
            ADD_FAILURE() << "expected one update request, got " << vecUpdate.size();
            return vecDocs;
        }
        m_strLastBody = vecUpdate[0].strBody;
        EXPECT_EQ(vecUpdate[0].nStatus, 200) << vecUpdate[0].strBody;
        std::string strError;
        EXPECT_TRUE(idxtest::ParseUpdateBody(vecUpdate[0].strBody, vecDocs, strError)) << strError;
        return vecDocs;
    }

    // The scratch folder a builder running on this thread uses for the archive.
    std::string ScratchFolder(const std::string &strArchiveName) {
        return m_strSubClient + "/Temp/" + strArchiveName +
               FXFormat("-%lu", static_cast<unsigned long>(FXThread::GetCurrentThreadId()));
    }

    bool TempIsEmpty() {
        const std::string strTemp = m_strSubClient + "/Temp";
        return !fs::exists(strTemp) || fs::is_empty(strTemp);
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::TempDir m_dir;
    std::string m_strSubClient;
    EngineStub m_stub;
    idxtest::DocumentWorkerSet m_set;
    std::string m_strLastBody;
};

struct FormatCase {
    const char *szFileName;
    TestArchiveKind eKind;
    // Member paths inside the archive with their content.
    std::map<std::string, std::string> mapMembers;
};

TEST_F(ArchiveMemberDocumentsTest, AnArchiveGivesItsCompoundDocumentAndOnePerMemberFile) {
    const std::map<std::string, std::string> mapTree = {
        {"top.txt", "top level"}, {"docs/a.txt", "alpha"}, {"docs/deep/b.bin", "\x01\x02 beta"}};
    const std::vector<FormatCase> vecCases = {
        {"tree.zip", TestArchiveKind::Zip, mapTree},
        {"tree.tar.gz", TestArchiveKind::TarGz, mapTree},
        {"tree.TGZ", TestArchiveKind::TarGz, mapTree},
        {"tree.7z", TestArchiveKind::SevenZip, mapTree},
        {"tree.tbz2", TestArchiveKind::TarBz2, mapTree},
        {"tree.txz", TestArchiveKind::TarXz, mapTree},
        {"notes.txt.gz", TestArchiveKind::Gz, {{"notes.txt", "just one compressed file"}}},
    };
    for (const FormatCase &c : vecCases) {
        SCOPED_TRACE(c.szFileName);
        std::vector<TestArchiveMember> vecMembers;
        vecMembers.push_back(TestArchiveMember());
        vecMembers.back().strPath = "docs";
        vecMembers.back().eType = TestArchiveMember::Folder;
        for (const auto &member : c.mapMembers) {
            vecMembers.push_back(FileMember(member.first, member.second));
        }
        if (c.eKind == TestArchiveKind::Gz) {
            vecMembers.erase(vecMembers.begin());
        }
        const std::string strArchive = m_dir / c.szFileName;
        ASSERT_EQ(idxtest::WriteTestArchive(strArchive, c.eKind, vecMembers), "");
        const std::string strPlain = m_dir.WriteFile("plain.txt", "plain");

        std::vector<FieldList> vecDocs = SendBatch({Item(strArchive), Item(strPlain)});
        ASSERT_EQ(vecDocs.size(), 2 + c.mapMembers.size());

        // The archive's own document comes first, marked compound, with the archive's CRC.
        const FieldList &archive = vecDocs[0];
        EXPECT_EQ(Value(archive, "Url"), strArchive);
        EXPECT_EQ(Value(archive, "DocumentType"), "1");
        EXPECT_EQ(Value(archive, "IsCompound"), "1");
        EXPECT_EQ(Value(archive, "FileContentHash"), CrcText(idxtest::ReadWholeFile(strArchive)));

        std::map<std::string, std::string> mapSeen;
        std::set<std::string> setKeys;
        for (size_t i = 1; i + 1 < vecDocs.size(); ++i) {
            const FieldList &member = vecDocs[i];
            const std::string strUrl = Value(member, "Url");
            ASSERT_EQ(strUrl.compare(0, strArchive.size() + 1, strArchive + "/"), 0) << strUrl;
            const std::string strInside = strUrl.substr(strArchive.size() + 1);
            ASSERT_TRUE(c.mapMembers.count(strInside)) << strInside;
            mapSeen[strInside] = Value(member, "FileContentHash");
            EXPECT_EQ(Value(member, "DocumentType"), "10");
            EXPECT_EQ(Value(member, "FolderName"), strArchive);
            EXPECT_EQ(Value(member, "FileName"), fs::path(strInside).filename().string());
            EXPECT_EQ(Value(member, "Size"), std::to_string(c.mapMembers.at(strInside).size()));
            EXPECT_EQ(idxtest::CountFields(member, "IsCompound"), 0u);
            EXPECT_EQ(idxtest::CountFields(member, "DocumentType"), 1u);
            setKeys.insert(Value(member, "contentid"));
        }
        for (const auto &member : c.mapMembers) {
            EXPECT_EQ(mapSeen[member.first], CrcText(member.second)) << member.first;
        }
        EXPECT_EQ(setKeys.size(), c.mapMembers.size());
        EXPECT_EQ(Value(vecDocs.back(), "Url"), strPlain);
        // The scratch folder never reaches the index, and it is gone afterwards.
        EXPECT_EQ(m_strLastBody.find("/Temp/"), std::string::npos);
        EXPECT_TRUE(TempIsEmpty());
        EXPECT_EQ(m_stub.Documents().count(Value(archive, "contentid")), 1u);
    }
}

TEST_F(ArchiveMemberDocumentsTest, MemberKeysAreTheSameOnEverySend) {
    const std::string strArchive = m_dir / "same.zip";
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip,
                                        {FileMember("a.txt", "a"), FileMember("b/c.txt", "c")}),
              "");
    std::vector<FieldList> vecFirst = SendBatch({Item(strArchive)});
    const size_t nStored = m_stub.DocumentCount();
    EXPECT_EQ(nStored, 3u);
    // Another thread unpacks into another scratch folder; the documents stay the same ones.
    std::vector<FieldList> vecSecond;
    std::thread other([&] { vecSecond = SendBatch({Item(strArchive)}); });
    other.join();
    ASSERT_EQ(vecFirst.size(), vecSecond.size());
    for (size_t i = 0; i < vecFirst.size(); ++i) {
        EXPECT_EQ(Value(vecFirst[i], "contentid"), Value(vecSecond[i], "contentid"));
        EXPECT_EQ(Value(vecFirst[i], "tqturboguid"), Value(vecSecond[i], "tqturboguid"));
    }
    EXPECT_EQ(m_stub.DocumentCount(), nStored);
}

TEST_F(ArchiveMemberDocumentsTest, AMembersTimesAndKeyAreThoseTheArchiveStoresOnEveryUnpack) {
    // Times far from now: a field taken from the unpacked copy's status-change time (the time of
    // the unpack) cannot match them, on whichever second the unpack runs.
    TestArchiveMember timed = FileMember("timed.txt", "all three times");
    timed.llModifiedTime = 1500000000;
    timed.llAccessTime = 1500000100;
    timed.llChangeTime = 1500000200;
    TestArchiveMember plain = FileMember("d/plain.txt", "modification time only");
    plain.llModifiedTime = 1400000000;
    const std::map<std::string, std::pair<int64_t, int64_t>> mapTimes = {
        {"timed.txt", {1500000000, 1500000200}}, {"d/plain.txt", {1400000000, 1400000000}}};
    const std::vector<FormatCase> vecCases = {{"times.zip", TestArchiveKind::Zip, {}},
                                              {"times.tgz", TestArchiveKind::TarGz, {}},
                                              {"times.7z", TestArchiveKind::SevenZip, {}}};
    const std::vector<std::string> vecTimeFields = {"AccessTime",
                                                    "CreatedTime",
                                                    "ModifiedTime",
                                                    "ModifiedTimeAsStr",
                                                    "ChangeTimeAsInt",
                                                    "tqturboguid",
                                                    "contentid",
                                                    "Size",
                                                    "FileNameModifiedTimeHash",
                                                    "FileContentHash"};
    for (const FormatCase &c : vecCases) {
        SCOPED_TRACE(c.szFileName);
        const std::string strArchive = m_dir / c.szFileName;
        ASSERT_EQ(idxtest::WriteTestArchive(strArchive, c.eKind, {timed, plain}), "");
        // Two unpacks on two threads, in two scratch folders, and the listing builder, which
        // unpacks nothing and describes each member from the archive alone.
        std::vector<FieldList> vecFirst = SendBatch({Item(strArchive)});
        std::vector<FieldList> vecSecond;
        std::thread other([&] { vecSecond = SendBatch({Item(strArchive)}); });
        other.join();
        std::string strListed;
        m_set.eForm = EFieldForm::eXml;
        ASSERT_FALSE(IdxDocuments::BuildCompressedItem(
                         *m_set.ptrContext, Item(strArchive),
                         fs::path(c.szFileName).extension().string().substr(1), strListed)
                         .IsError());
        std::vector<FieldList> vecListed;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseUpdateBody("<add>" + strListed + "</add>", vecListed, strError))
            << strError;

        std::map<std::string, const FieldList *> mapListed;
        for (size_t i = 1; i < vecListed.size(); ++i) {
            mapListed[Value(vecListed[i], "Url")] = &vecListed[i];
        }
        ASSERT_EQ(vecFirst.size(), 3u);
        ASSERT_EQ(vecSecond.size(), 3u);
        ASSERT_EQ(mapListed.size(), 2u);
        for (size_t i = 1; i < vecFirst.size(); ++i) {
            const std::string strUrl = Value(vecFirst[i], "Url");
            SCOPED_TRACE(strUrl);
            const std::string strInside = strUrl.substr(strArchive.size() + 1);
            ASSERT_TRUE(mapTimes.count(strInside));
            EXPECT_EQ(Value(vecFirst[i], "ModifiedTimeAsStr"),
                      std::to_string(mapTimes.at(strInside).first));
            EXPECT_EQ(Value(vecFirst[i], "ChangeTimeAsInt"),
                      std::to_string(mapTimes.at(strInside).second));
            ASSERT_EQ(Value(vecSecond[i], "Url"), strUrl);
            ASSERT_TRUE(mapListed.count(strUrl));
            for (const std::string &strField : vecTimeFields) {
                EXPECT_EQ(Value(vecFirst[i], strField), Value(vecSecond[i], strField)) << strField;
                EXPECT_EQ(Value(vecFirst[i], strField), Value(*mapListed.at(strUrl), strField))
                    << strField;
            }
        }
        EXPECT_TRUE(TempIsEmpty());
    }
}

TEST_F(ArchiveMemberDocumentsTest, HostileMembersAndNamesNeverLeaveTheScratchFolderOrBreakTheBody) {
    idxtest::LogCapture log;
    const std::string strOutside = m_dir / "outside";
    fs::create_directories(strOutside);
    TestArchiveMember link;
    link.strPath = "link";
    link.eType = TestArchiveMember::Symlink;
    link.strLinkTarget = strOutside;
    const std::string strHostileName = "x]]><doc><field name=\"contentid\">evil</field>\x01.txt";
    // TAR is not an archive extension of the sender; a tar archive named .7z is read as the
    // 7z-or-tar kind.
    const std::string strAs7z = m_dir / "hostile.7z";
    ASSERT_EQ(idxtest::WriteTestArchive(
                  strAs7z, TestArchiveKind::Tar,
                  {FileMember("../escape.txt", "bad"), FileMember(m_dir / "absolute.txt", "bad"),
                   link, FileMember("link/through.txt", "inside"),
                   FileMember(strHostileName, "odd"), FileMember("ok.txt", "fine")}),
              "");
    std::vector<FieldList> vecDocs = SendBatch({Item(strAs7z)});
    ASSERT_EQ(vecDocs.size(), 4u);
    std::set<std::string> setUrls;
    for (size_t i = 1; i < vecDocs.size(); ++i) {
        setUrls.insert(Value(vecDocs[i], "Url"));
        EXPECT_EQ(idxtest::CountFields(vecDocs[i], "contentid"), 1u);
    }
    // The control byte is filtered out of the value; the rest of the name is kept as text.
    std::string strFilteredName = strHostileName;
    strFilteredName.erase(strFilteredName.find('\x01'), 1);
    EXPECT_EQ(setUrls,
              (std::set<std::string>{strAs7z + "/link/through.txt", strAs7z + "/" + strFilteredName,
                                     strAs7z + "/ok.txt"}));
    EXPECT_FALSE(fs::exists(m_dir / "escape.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "absolute.txt"));
    EXPECT_TRUE(fs::is_empty(strOutside));
    EXPECT_TRUE(log.Contains("Skipping member [../escape.txt]"));
    EXPECT_TRUE(log.Contains("symbolic link"));
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ArchiveMemberDocumentsTest, TheMemberCapStopsABombButTheArchiveDocumentIsStillSent) {
    idxtest::SetPlatformSetting("FileSystemAgent", "nMaxArchiveMembers", "3");
    idxtest::LogCapture log;
    std::vector<TestArchiveMember> vecMembers;
    for (int i = 0; i < 8; ++i) {
        vecMembers.push_back(FileMember(FXFormat("m%d.txt", i), "m"));
    }
    const std::string strArchive = m_dir / "many.zip";
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip, vecMembers), "");
    std::vector<FieldList> vecDocs = SendBatch({Item(strArchive)});
    ASSERT_EQ(vecDocs.size(), 4u);
    EXPECT_EQ(Value(vecDocs[0], "IsCompound"), "1");
    EXPECT_TRUE(log.Contains("holds more than 3 members"));
    EXPECT_TRUE(log.Contains("Failed to fetch list of items inside the compressed file=[" +
                             strArchive + "]"));
    EXPECT_TRUE(TempIsEmpty());

    idxtest::SetPlatformSetting("FileSystemAgent", "nMaxArchiveMembers", "100");
    idxtest::SetPlatformSetting("FileSystemAgent", "nMaxArchiveExtractBytes", "1000");
    TestArchiveMember bomb;
    bomb.strPath = "bomb.txt";
    bomb.ullFillBytes = 5 * 1024 * 1024;
    const std::string strBomb = m_dir / "bomb.tgz";
    ASSERT_EQ(idxtest::WriteTestArchive(strBomb, TestArchiveKind::TarGz,
                                        {FileMember("small.txt", "s"), bomb}),
              "");
    vecDocs = SendBatch({Item(strBomb)});
    ASSERT_EQ(vecDocs.size(), 2u);
    EXPECT_EQ(Value(vecDocs[1], "Url"), strBomb + "/small.txt");
    EXPECT_TRUE(log.Contains("holds more than 1000 bytes"));
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ArchiveMemberDocumentsTest, AStaleScratchFolderIsRemovedFirst) {
    const std::string strArchive = m_dir / "fresh.zip";
    ASSERT_EQ(
        idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip, {FileMember("new.txt", "new")}),
        "");
    const std::string strScratch = ScratchFolder("fresh.zip");
    fs::create_directories(strScratch + "/old");
    std::ofstream(strScratch + "/old/stale.txt") << "left by an earlier run";

    std::vector<FieldList> vecDocs = SendBatch({Item(strArchive)});
    ASSERT_EQ(vecDocs.size(), 2u);
    EXPECT_EQ(Value(vecDocs[1], "Url"), strArchive + "/new.txt");
    EXPECT_FALSE(fs::exists(strScratch));
}

TEST_F(ArchiveMemberDocumentsTest, AnItemNameWithSlashesKeepsTheScratchFolderInsideTemp) {
    const std::string strArchive = m_dir / "real.zip";
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip,
                                        {FileMember("member.txt", "m")}),
              "");
    // An item made by the job itself may name itself anything; a folder of the name its
    // scratch folder would have outside "Temp" must survive the stale-folder removal.
    CItemPtr ptrItem = Item(strArchive);
    ptrItem->SetName("../../victim.zip");
    fs::create_directories(m_strSubClient + "/Temp");
    const std::string strVictim =
        m_dir /
        FXFormat("victim.zip-%lu", static_cast<unsigned long>(FXThread::GetCurrentThreadId()));
    fs::create_directories(strVictim);
    std::ofstream(strVictim + "/keep.txt") << "not the worker's";

    std::vector<FieldList> vecDocs = SendBatch({ptrItem});
    ASSERT_EQ(vecDocs.size(), 2u);
    EXPECT_EQ(Value(vecDocs[1], "Url"), strArchive + "/member.txt");
    EXPECT_EQ(idxtest::ReadWholeFile(strVictim + "/keep.txt"), "not the worker's");
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ArchiveMemberDocumentsTest, WithoutASubclientFolderOnlyTheArchiveDocumentIsSent) {
    Options().SetSubClientDir("");
    const std::string strArchive = m_dir / "alone.zip";
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip,
                                        {FileMember("member.txt", "m")}),
              "");
    const bool bTempBefore = fs::exists("Temp");
    std::vector<FieldList> vecDocs = SendBatch({Item(strArchive)});
    ASSERT_EQ(vecDocs.size(), 1u);
    EXPECT_EQ(Value(vecDocs[0], "IsCompound"), "1");
    EXPECT_EQ(fs::exists("Temp"), bTempBefore);
}

TEST_F(ArchiveMemberDocumentsTest, FilesThatAreNoArchivesAndFoldersNamedLikeArchives) {
    idxtest::LogCapture log;
    const std::string strText = m_dir.WriteFile("text.zip", "not an archive");
    const std::string strFifo = m_dir / "pipe.tgz";
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    const std::string strFolder = m_dir / "folder.zip";
    fs::create_directories(strFolder + "/inner");

    std::vector<FieldList> vecDocs = SendBatch({Item(strText), Item(strFifo), Item(strFolder)});
    ASSERT_EQ(vecDocs.size(), 3u);
    EXPECT_EQ(Value(vecDocs[0], "IsCompound"), "1");
    EXPECT_EQ(Value(vecDocs[0], "FileContentHash"), CrcText("not an archive"));
    EXPECT_EQ(Value(vecDocs[1], "IsCompound"), "1");
    EXPECT_EQ(idxtest::CountFields(vecDocs[1], "FileContentHash"), 0u);
    // A folder is never unpacked: it gets an ordinary folder document.
    EXPECT_EQ(Value(vecDocs[2], "DocumentType"), "4");
    EXPECT_EQ(idxtest::CountFields(vecDocs[2], "IsCompound"), 0u);
    EXPECT_TRUE(
        log.Contains("Failed to fetch list of items inside the compressed file=[" + strText + "]"));
    EXPECT_TRUE(log.Contains("is not a regular file"));
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ArchiveMemberDocumentsTest, InCloudModeTheMemberPathFieldIsTheArchivePath) {
    Options().SetCloudMode(true);
    const std::string strArchive = m_dir / "cloud.zip";
    ASSERT_EQ(
        idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip, {FileMember("d/e.txt", "e")}),
        "");
    std::vector<FieldList> vecDocs = SendBatch({Item(strArchive)});
    ASSERT_EQ(vecDocs.size(), 2u);
    EXPECT_EQ(Value(vecDocs[1], "FilePath"), strArchive + "/d/e.txt");
    EXPECT_EQ(idxtest::CountFields(vecDocs[1], "Url"), 0u);
    EXPECT_EQ(Value(vecDocs[1], "FolderName"), strArchive);
    EXPECT_EQ(Value(vecDocs[1], "DocumentType"), "10");
    EXPECT_EQ(m_strLastBody.find("/Temp/"), std::string::npos);
}

TEST_F(ArchiveMemberDocumentsTest, TheListingBuilderDescribesMembersWithoutUnpacking) {
    const std::string strArchive = m_dir / "listed.tgz";
    ASSERT_EQ(idxtest::WriteTestArchive(
                  strArchive, TestArchiveKind::TarGz,
                  {FileMember("x/one.txt", "one"), FileMember("two.txt", "second")}),
              "");
    m_set.eForm = EFieldForm::eXml;
    std::string strBody;
    CKyError error =
        IdxDocuments::BuildCompressedItem(*m_set.ptrContext, Item(strArchive), "tgz", strBody);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    std::vector<FieldList> vecDocs;
    std::string strError;
    ASSERT_TRUE(idxtest::ParseUpdateBody("<add>" + strBody + "</add>", vecDocs, strError))
        << strError;
    ASSERT_EQ(vecDocs.size(), 3u);
    EXPECT_EQ(Value(vecDocs[0], "IsCompound"), "1");
    EXPECT_EQ(Value(vecDocs[1], "Url"), strArchive + "/x/one.txt");
    EXPECT_EQ(Value(vecDocs[1], "FileContentHash"), CrcText("one"));
    EXPECT_EQ(Value(vecDocs[1], "Size"), "3");
    EXPECT_EQ(Value(vecDocs[1], "DocumentType"), "10");
    EXPECT_EQ(Value(vecDocs[1], "FolderName"), strArchive);
    EXPECT_EQ(Value(vecDocs[2], "Url"), strArchive + "/two.txt");
    EXPECT_EQ(Value(vecDocs[2], "FileContentHash"), CrcText("second"));
    EXPECT_FALSE(fs::exists(m_strSubClient + "/Temp"));
}

TEST_F(ArchiveMemberDocumentsTest, BothBuildersOpenWithTheSameArchiveDocument) {
    const std::string strArchive = m_dir / "both.zip";
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip,
                                        {FileMember("inner.txt", "inner")}),
              "");
    const std::string strFifo = m_dir / "unreadable.zip";
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    m_set.eForm = EFieldForm::eXml;
    typedef CKyError (*Builder)(CDocumentContext &, const CItemPtr &, const std::string &,
                                std::string &);
    const std::vector<std::pair<std::string, std::string>> vecCases = {
        {strArchive, CrcText(idxtest::ReadWholeFile(strArchive))},
        // No CRC: the field is left out, not sent empty.
        {strFifo, "<absent>"},
    };
    for (const auto &test : vecCases) {
        SCOPED_TRACE(test.first);
        std::vector<std::string> vecOpenings;
        // One lookup for both: the first builder's read of the archive may move its access time
        // into the next second, which a second lookup would see.
        const CItemPtr ptrItem = Item(test.first);
        for (Builder builder :
             {&IdxDocuments::BuildCompressedItem2, &IdxDocuments::BuildCompressedItem}) {
            std::string strBody;
            builder(*m_set.ptrContext, ptrItem, "zip", strBody);
            const size_t nEnd = strBody.find("</doc>");
            ASSERT_NE(nEnd, std::string::npos) << strBody;
            vecOpenings.push_back(strBody.substr(0, nEnd + 6));
            std::vector<FieldList> vecDocs;
            std::string strError;
            ASSERT_TRUE(idxtest::ParseUpdateBody("<add>" + vecOpenings.back() + "</add>", vecDocs,
                                                 strError))
                << strError;
            ASSERT_EQ(vecDocs.size(), 1u);
            EXPECT_EQ(Value(vecDocs[0], "IsCompound"), "1");
            EXPECT_EQ(Value(vecDocs[0], "FileContentHash"), test.second);
            EXPECT_EQ(idxtest::CountFields(vecDocs[0], "FileContentHash"),
                      test.second == "<absent>" ? 0u : 1u);
        }
        EXPECT_EQ(vecOpenings[0], vecOpenings[1]);
    }
}

} // namespace

namespace {

TEST(ArchiveThroughTheTransmitterTest, AQueuedArchiveReachesTheEngineWithItsMembers) {
    idxtest::VirtualClock clock;
    idxtest::TempDir dir;
    EngineStub stub;
    idxtest::EngineTransmitter transmitter;
    CTransmitterOptions &options = transmitter.Options();
    idxtest::PointOptionsAtStub(options, stub);
    options.SetPushMetaDataWithCRC(true);
    const std::string strSubClient = dir / "subclient";
    fs::create_directories(strSubClient);
    options.SetSubClientDir(strSubClient);
    transmitter.State().SetUp().m_nDisableSolrPerfThread = 1;
    ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(2).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());

    const std::string strArchive = dir / "queued.zip";
    ASSERT_EQ(
        idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip,
                                  {FileMember("one.txt", "1"), FileMember("sub/two.txt", "2")}),
        "");
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strArchive, 2, 0, false, false).IsError());
    ASSERT_TRUE(idxtest::WaitUntil([&] { return stub.DocumentCount() == 3; }));
    // The members were posted after their scratch folder was removed.
    const std::string strTemp = strSubClient + "/Temp";
    EXPECT_TRUE(!fs::exists(strTemp) || fs::is_empty(strTemp));
    EXPECT_FALSE(transmitter.Stop().IsError());

    std::set<std::string> setUrls;
    for (const auto &entry : stub.Documents()) {
        const idxtest::EngineDocument &document = entry.second;
        setUrls.insert(document.Value("Url"));
        if (document.Value("Url") == strArchive) {
            EXPECT_EQ(document.Value("IsCompound"), "1");
        } else {
            EXPECT_EQ(document.Value("DocumentType"), "10");
            EXPECT_EQ(document.Value("FolderName"), strArchive);
        }
    }
    EXPECT_EQ(setUrls, (std::set<std::string>{strArchive, strArchive + "/one.txt",
                                              strArchive + "/sub/two.txt"}));
}

} // namespace

// Tests of the archive component: listing and unpacking of the supported formats, and the
// refusal of hostile members and archive bombs.
#include "platform/C7zip.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Crc32.h"
#include "platform/StringFormat.h"
#include "platform/testing/ArchiveWriter.h"
#include "platform/testing/LogCapture.h"
#include "tests/support/TempDir.h"

using idxtest::TestArchiveKind;
using idxtest::TestArchiveMember;

namespace {

namespace fs = std::filesystem;

TestArchiveMember FileMember(const std::string &strPath, const std::string &strContent) {
    TestArchiveMember member;
    member.strPath = strPath;
    member.strContent = strContent;
    return member;
}

TestArchiveMember TypedMember(const std::string &strPath, TestArchiveMember::Type eType,
                              const std::string &strTarget = std::string()) {
    TestArchiveMember member;
    member.strPath = strPath;
    member.eType = eType;
    member.strLinkTarget = strTarget;
    return member;
}

std::string CrcText(const std::string &strContent) {
    CKyCRC32 crc;
    crc.UpdateCRC32(strContent.data(), static_cast<unsigned int>(strContent.size()));
    return FXFormat("%X", crc.GetCRC32());
}

// Every path below strFolder, relative to it, files and folders alike.
std::set<std::string> TreeOf(const std::string &strFolder) {
    std::set<std::string> setPaths;
    for (const auto &entry : fs::recursive_directory_iterator(strFolder)) {
        setPaths.insert(fs::relative(entry.path(), strFolder).string());
    }
    return setPaths;
}

struct FormatCase {
    const char *szName;
    TestArchiveKind eKind;
    C7zip::CompressionFormat eFormat;
};

class C7zipFormatTest : public ::testing::TestWithParam<FormatCase> {};

const std::string kBinary = std::string("\0\x01\xff\xfe binary\n", 12) + std::string(70000, 'b');

std::vector<TestArchiveMember> RegularMembers() {
    std::vector<TestArchiveMember> vecMembers;
    vecMembers.push_back(TypedMember("docs", TestArchiveMember::Folder));
    vecMembers.push_back(FileMember("docs/a.txt", "alpha"));
    vecMembers.push_back(FileMember("docs/deep/er/c.txt", "gamma"));
    vecMembers.push_back(FileMember("b.bin", kBinary));
    vecMembers.push_back(FileMember("empty.txt", ""));
    vecMembers.push_back(TypedMember("void", TestArchiveMember::Folder));
    return vecMembers;
}

} // namespace

TEST_P(C7zipFormatTest, UnpacksEveryFileAndFolderWithItsContent) {
    idxtest::TempDir dir;
    const std::string strArchive = dir / (std::string("a.") + GetParam().szName);
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, GetParam().eKind, RegularMembers()), "");

    C7zip zip("/opt/home", GetParam().eFormat);
    ASSERT_FALSE(zip.Initialize().IsError());
    const std::string strOut = dir / "out";
    CKyError error = zip.ExtractFilesWithFullPathsFromArchive(strArchive, strOut);
    ASSERT_FALSE(error.IsError()) << error.AsString();

    EXPECT_EQ(TreeOf(strOut),
              (std::set<std::string>{"docs", "docs/a.txt", "docs/deep", "docs/deep/er",
                                     "docs/deep/er/c.txt", "b.bin", "empty.txt", "void"}));
    EXPECT_EQ(idxtest::ReadWholeFile(strOut + "/docs/a.txt"), "alpha");
    EXPECT_EQ(idxtest::ReadWholeFile(strOut + "/docs/deep/er/c.txt"), "gamma");
    EXPECT_EQ(idxtest::ReadWholeFile(strOut + "/b.bin"), kBinary);
    EXPECT_EQ(fs::file_size(strOut + "/empty.txt"), 0u);
    EXPECT_EQ(zip.GetMembersWritten(), 4u);
    EXPECT_EQ(zip.GetMembersSkipped(), 0u);
    EXPECT_EQ(zip.GetBytesWritten(), 5u + 5u + kBinary.size());
    // Permissions are the component's own, never the archive's; times come from the archive.
    struct stat status;
    ASSERT_EQ(stat((strOut + "/docs/a.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07000, 0u);
    EXPECT_EQ(status.st_mtime, 1600000000);
}

TEST_P(C7zipFormatTest, ListsEveryFileWithSizeTimeAndCrc) {
    idxtest::TempDir dir;
    const std::string strArchive = dir / (std::string("a.") + GetParam().szName);
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, GetParam().eKind, RegularMembers()), "");

    C7zip zip("/opt/home", GetParam().eFormat);
    ASSERT_FALSE(zip.Initialize().IsError());
    std::vector<C7zMetaData> vecMembers;
    CKyError error = zip.ListFilesInArchive(strArchive, vecMembers);
    ASSERT_FALSE(error.IsError()) << error.AsString();

    std::map<std::string, const C7zMetaData *> mapByPath;
    for (const auto &member : vecMembers) {
        mapByPath[member.m_strPath] = &member;
    }
    ASSERT_EQ(mapByPath.size(), 4u);
    const std::map<std::string, std::string> mapExpected = {{"docs/a.txt", "alpha"},
                                                            {"docs/deep/er/c.txt", "gamma"},
                                                            {"b.bin", kBinary},
                                                            {"empty.txt", ""}};
    for (const auto &expected : mapExpected) {
        ASSERT_TRUE(mapByPath.count(expected.first)) << expected.first;
        const C7zMetaData &member = *mapByPath[expected.first];
        EXPECT_EQ(member.m_ullSize, expected.second.size()) << expected.first;
        EXPECT_EQ(member.m_strHash, CrcText(expected.second)) << expected.first;
        EXPECT_EQ(member.m_llModifiedTime, 1600000000) << expected.first;
    }
    // Listing writes nothing.
    EXPECT_EQ(TreeOf(dir.Path()), std::set<std::string>{fs::path(strArchive).filename()});
}

TEST_P(C7zipFormatTest, MemberTimesAreTheStoredOnesOnEveryListAndUnpack) {
    idxtest::TempDir dir;
    const std::string strArchive = dir / (std::string("t.") + GetParam().szName);
    TestArchiveMember timed = FileMember("timed.txt", "all three times");
    timed.llModifiedTime = 1500000000;
    timed.llAccessTime = 1500000100;
    timed.llChangeTime = 1500000200;
    TestArchiveMember plain = FileMember("sub/plain.txt", "modification time only");
    plain.llModifiedTime = 1400000000;
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, GetParam().eKind, {timed, plain}), "");
    // Access and status-change time stand in for each other's absence with the modification
    // time; the unpack's own time never shows.
    struct Expected {
        int64_t llModified, llAccess, llChange;
    };
    const std::map<std::string, Expected> mapExpected = {
        {"timed.txt", {1500000000, 1500000100, 1500000200}},
        {"sub/plain.txt", {1400000000, 1400000000, 1400000000}}};

    C7zip zip("/opt/home", GetParam().eFormat);
    ASSERT_FALSE(zip.Initialize().IsError());
    std::vector<C7zMetaData> vecListed;
    ASSERT_FALSE(zip.ListFilesInArchive(strArchive, vecListed).IsError());
    std::vector<std::vector<C7zMetaData>> vecUnpacks(2);
    for (size_t i = 0; i < vecUnpacks.size(); ++i) {
        const std::string strOut = dir / FXFormat("out%zu", i);
        CKyError error =
            zip.ExtractFilesWithFullPathsFromArchive(strArchive, strOut, vecUnpacks[i]);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        for (const auto &expected : mapExpected) {
            SCOPED_TRACE(expected.first);
            struct stat status;
            ASSERT_EQ(stat((strOut + "/" + expected.first).c_str(), &status), 0);
            EXPECT_EQ(status.st_mtime, expected.second.llModified);
            EXPECT_EQ(status.st_atime, expected.second.llAccess);
        }
    }
    for (const std::vector<C7zMetaData> &vecMembers : {vecListed, vecUnpacks[0], vecUnpacks[1]}) {
        ASSERT_EQ(vecMembers.size(), mapExpected.size());
        for (size_t i = 0; i < vecMembers.size(); ++i) {
            const C7zMetaData &member = vecMembers[i];
            SCOPED_TRACE(member.m_strPath);
            ASSERT_TRUE(mapExpected.count(member.m_strPath));
            const Expected &expected = mapExpected.at(member.m_strPath);
            EXPECT_EQ(member.m_llModifiedTime, expected.llModified);
            EXPECT_EQ(member.m_llAccessTime, expected.llAccess);
            EXPECT_EQ(member.m_llChangeTime, expected.llChange);
            // An unpack reports each file as the listing does, hash included.
            EXPECT_EQ(member.m_strPath, vecListed[i].m_strPath);
            EXPECT_EQ(member.m_ullSize, vecListed[i].m_ullSize);
            EXPECT_EQ(member.m_strHash, vecListed[i].m_strHash);
        }
    }
    EXPECT_EQ(vecListed[0].m_strHash, CrcText("all three times"));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, C7zipFormatTest,
    ::testing::Values(FormatCase{"zip", TestArchiveKind::Zip, C7zip::eFormatZip},
                      FormatCase{"tar", TestArchiveKind::Tar, C7zip::eFormat7zOrTar},
                      FormatCase{"7z", TestArchiveKind::SevenZip, C7zip::eFormat7zOrTar},
                      FormatCase{"tgz", TestArchiveKind::TarGz, C7zip::eFormatGzip},
                      FormatCase{"tbz2", TestArchiveKind::TarBz2, C7zip::eFormatBzip2},
                      FormatCase{"txz", TestArchiveKind::TarXz, C7zip::eFormatXz}),
    [](const ::testing::TestParamInfo<FormatCase> &info) { return info.param.szName; });

TEST(C7zipTest, CompressedSingleFileIsOneMemberNamedAfterTheArchive) {
    idxtest::TempDir dir;
    const std::string strArchive = dir / "notes.txt.gz";
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, TestArchiveKind::Gz,
                                        {FileMember("ignored", "plain text\nline two\n")}),
              "");
    C7zip zip("", C7zip::eFormatGzip);
    ASSERT_FALSE(zip.Initialize().IsError());
    CKyError error = zip.ExtractFilesWithFullPathsFromArchive(strArchive, dir / "out");
    ASSERT_FALSE(error.IsError()) << error.AsString();
    EXPECT_EQ(TreeOf(dir / "out"), std::set<std::string>{"notes.txt"});
    EXPECT_EQ(idxtest::ReadWholeFile(dir / "out/notes.txt"), "plain text\nline two\n");

    std::vector<C7zMetaData> vecMembers;
    ASSERT_FALSE(zip.ListFilesInArchive(strArchive, vecMembers).IsError());
    ASSERT_EQ(vecMembers.size(), 1u);
    EXPECT_EQ(vecMembers[0].m_strPath, "notes.txt");
    EXPECT_EQ(vecMembers[0].m_strHash, CrcText("plain text\nline two\n"));
    // Such a file stores no times of its own: its member has the archive file's.
    struct stat archiveStatus;
    ASSERT_EQ(stat(strArchive.c_str(), &archiveStatus), 0);
    EXPECT_EQ(vecMembers[0].m_llModifiedTime, archiveStatus.st_mtime);
    EXPECT_EQ(vecMembers[0].m_llAccessTime, archiveStatus.st_mtime);
    EXPECT_EQ(vecMembers[0].m_llChangeTime, archiveStatus.st_mtime);
}

TEST(C7zipTest, HostileMembersAreSkippedAndNothingLandsOutsideTheFolder) {
    idxtest::TempDir dir;
    const std::string strOutside = dir / "outside";
    fs::create_directories(strOutside);
    const std::string strAbsolute = dir / "absolute.txt";
    std::vector<TestArchiveMember> vecMembers = {
        FileMember("../escape.txt", "bad"),
        FileMember("a/../../escape2.txt", "bad"),
        FileMember(strAbsolute, "bad"),
        TypedMember("link", TestArchiveMember::Symlink, strOutside),
        FileMember("link/through.txt", "lands in a real folder"),
        TypedMember("hard", TestArchiveMember::Hardlink, "safe.txt"),
        TypedMember("fifo", TestArchiveMember::Fifo),
        TypedMember("null", TestArchiveMember::CharDevice),
        FileMember("./safe.txt", "good"),
        FileMember(std::string(3000, 'n') + "/" + std::string(1200, 'm'), "too long"),
    };
    idxtest::LogCapture log;
    const std::string strOut = dir / "out";
    const char *aszKinds[] = {"tar", "zip"};
    for (const char *szKind : aszKinds) {
        SCOPED_TRACE(szKind);
        const bool bTar = std::string(szKind) == "tar";
        // A zip archive cannot hold hard links, FIFOs or devices.
        std::vector<TestArchiveMember> vecKindMembers;
        for (const auto &member : vecMembers) {
            if (bTar || member.eType == TestArchiveMember::File ||
                member.eType == TestArchiveMember::Symlink) {
                vecKindMembers.push_back(member);
            }
        }
        const std::string strArchive = dir / (std::string("hostile.") + szKind);
        ASSERT_EQ(idxtest::WriteTestArchive(strArchive,
                                            bTar ? TestArchiveKind::Tar : TestArchiveKind::Zip,
                                            vecKindMembers),
                  "");
        fs::remove_all(strOut);
        log.Clear();
        char szCwdBefore[4096];
        ASSERT_NE(getcwd(szCwdBefore, sizeof(szCwdBefore)), nullptr);

        C7zip zip("", bTar ? C7zip::eFormat7zOrTar : C7zip::eFormatZip);
        ASSERT_FALSE(zip.Initialize().IsError());
        CKyError error = zip.ExtractFilesWithFullPathsFromArchive(strArchive, strOut);
        EXPECT_FALSE(error.IsError()) << error.AsString();

        // Only regular files and folders, all below the folder.
        EXPECT_EQ(TreeOf(strOut), (std::set<std::string>{"safe.txt", "link", "link/through.txt"}));
        EXPECT_FALSE(fs::is_symlink(strOut + "/link"));
        EXPECT_EQ(idxtest::ReadWholeFile(strOut + "/safe.txt"), "good");
        EXPECT_TRUE(fs::is_empty(strOutside));
        EXPECT_FALSE(fs::exists(dir / "escape.txt"));
        EXPECT_FALSE(fs::exists(dir / "escape2.txt"));
        EXPECT_FALSE(fs::exists(strAbsolute));
        EXPECT_EQ(zip.GetMembersWritten(), 2u);
        EXPECT_EQ(zip.GetMembersSkipped(), vecKindMembers.size() - 2);
        EXPECT_EQ(log.Count("Skipping member"), vecKindMembers.size() - 2);
        EXPECT_TRUE(log.Contains("leads out of the archive's folder"));
        EXPECT_TRUE(log.Contains("is absolute"));
        EXPECT_TRUE(log.Contains("symbolic link"));
        EXPECT_TRUE(log.Contains("too long"));
        // The working folder is process-wide: unpacking never changes it.
        char szCwdAfter[4096];
        ASSERT_NE(getcwd(szCwdAfter, sizeof(szCwdAfter)), nullptr);
        EXPECT_STREQ(szCwdBefore, szCwdAfter);
    }
}

TEST(C7zipTest, ThePermissionsOfTheArchiveAreNeverRestored) {
    // Set-id bits, world-writable files and folders nobody may enter come from the archive's
    // maker; what is unpacked gets the component's own fixed permissions.
    TestArchiveMember setId = FileMember("setid.sh", "#!/bin/sh\n");
    setId.nPermissions = 06777;
    TestArchiveMember locked = FileMember("locked.txt", "locked");
    locked.nPermissions = 0;
    TestArchiveMember closed = TypedMember("closed", TestArchiveMember::Folder);
    closed.nPermissions = 07000;
    const std::vector<TestArchiveMember> vecMembers = {setId, locked, closed,
                                                       FileMember("closed/in.txt", "inside")};
    const std::pair<TestArchiveKind, C7zip::CompressionFormat> aKinds[] = {
        {TestArchiveKind::Tar, C7zip::eFormat7zOrTar}, {TestArchiveKind::Zip, C7zip::eFormatZip}};
    for (const auto &kind : aKinds) {
        SCOPED_TRACE(static_cast<int>(kind.second));
        idxtest::TempDir dir;
        const std::string strArchive = dir / "modes.archive";
        ASSERT_EQ(idxtest::WriteTestArchive(strArchive, kind.first, vecMembers), "");
        C7zip zip("", kind.second);
        ASSERT_FALSE(zip.Initialize().IsError());
        const std::string strOut = dir / "out";
        CKyError error = zip.ExtractFilesWithFullPathsFromArchive(strArchive, strOut);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        const std::pair<std::string, mode_t> aExpected[] = {
            {"setid.sh", 0644}, {"locked.txt", 0644}, {"closed", 0755}, {"closed/in.txt", 0644}};
        for (const auto &expected : aExpected) {
            struct stat status;
            ASSERT_EQ(lstat((strOut + "/" + expected.first).c_str(), &status), 0) << expected.first;
            EXPECT_EQ(status.st_mode & 07777, expected.second) << expected.first;
        }
        EXPECT_EQ(idxtest::ReadWholeFile(strOut + "/closed/in.txt"), "inside");
    }
}

TEST(C7zipTest, LinksFifosAndDevicesOfATarArchiveAreNamedInTheLog) {
    idxtest::TempDir dir;
    const std::string strArchive = dir / "special.tar";
    ASSERT_EQ(
        idxtest::WriteTestArchive(strArchive, TestArchiveKind::Tar,
                                  {FileMember("plain.txt", "p"),
                                   TypedMember("hard", TestArchiveMember::Hardlink, "plain.txt"),
                                   TypedMember("fifo", TestArchiveMember::Fifo),
                                   TypedMember("null", TestArchiveMember::CharDevice)}),
        "");
    idxtest::LogCapture log;
    C7zip zip("", C7zip::eFormat7zOrTar);
    ASSERT_FALSE(zip.Initialize().IsError());
    ASSERT_FALSE(zip.ExtractFilesWithFullPathsFromArchive(strArchive, dir / "out").IsError());
    EXPECT_EQ(TreeOf(dir / "out"), std::set<std::string>{"plain.txt"});
    EXPECT_TRUE(log.Contains("Skipping member [hard] of archive"));
    EXPECT_TRUE(log.Contains("hard link"));
    EXPECT_TRUE(log.Contains("FIFO"));
    EXPECT_TRUE(log.Contains("device"));
    std::vector<C7zMetaData> vecMembers;
    ASSERT_FALSE(zip.ListFilesInArchive(strArchive, vecMembers).IsError());
    ASSERT_EQ(vecMembers.size(), 1u);
    EXPECT_EQ(vecMembers[0].m_strPath, "plain.txt");
}

TEST(C7zipTest, MemberCapStopsAfterTheCapAndSaysWhy) {
    idxtest::TempDir dir;
    std::vector<TestArchiveMember> vecMembers;
    for (int i = 0; i < 10; ++i) {
        vecMembers.push_back(FileMember(FXFormat("m%02d.txt", i), "x"));
    }
    const std::string strArchive = dir / "many.zip";
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip, vecMembers), "");
    idxtest::LogCapture log;
    C7zip zip("", C7zip::eFormatZip);
    ASSERT_FALSE(zip.Initialize().IsError());
    zip.SetLimits(0, 4);
    EXPECT_EQ(zip.GetMaxMembers(), 4u);
    EXPECT_EQ(zip.GetMaxTotalBytes(), C7zip::kDefaultMaxTotalBytes);

    CKyError error = zip.ExtractFilesWithFullPathsFromArchive(strArchive, dir / "out");
    ASSERT_TRUE(error.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 223));
    EXPECT_TRUE(zip.IsLimitReached());
    EXPECT_EQ(TreeOf(dir / "out"),
              (std::set<std::string>{"m00.txt", "m01.txt", "m02.txt", "m03.txt"}));
    EXPECT_TRUE(log.Contains("holds more than 4 members"));

    std::vector<C7zMetaData> vecListed;
    error = zip.ListFilesInArchive(strArchive, vecListed);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 223));
    EXPECT_EQ(vecListed.size(), 4u);
}

TEST(C7zipTest, ByteCapStopsAnArchiveBombAndRemovesTheCutMember) {
    struct Case {
        const char *szName;
        TestArchiveKind eKind;
        C7zip::CompressionFormat eFormat;
        std::vector<TestArchiveMember> vecMembers;
        std::set<std::string> setLeft;
    };
    TestArchiveMember big;
    big.strPath = "big.txt";
    big.ullFillBytes = 600000;
    TestArchiveMember bomb;
    bomb.strPath = "bomb";
    bomb.ullFillBytes = 20u * 1024 * 1024; // compresses to a few kilobytes
    const std::vector<Case> vecCases = {
        {"first-fits.tgz",
         TestArchiveKind::TarGz,
         C7zip::eFormatGzip,
         {FileMember("small.txt", "s"), big, big, FileMember("after.txt", "a")},
         {"small.txt", "big.txt"}},
        {"bomb.zip", TestArchiveKind::Zip, C7zip::eFormatZip, {bomb}, {}},
        {"bomb.gz", TestArchiveKind::Gz, C7zip::eFormatGzip, {bomb}, {}},
    };
    for (const Case &c : vecCases) {
        SCOPED_TRACE(c.szName);
        idxtest::TempDir dir;
        const std::string strArchive = dir / c.szName;
        ASSERT_EQ(idxtest::WriteTestArchive(strArchive, c.eKind, c.vecMembers), "");
        ASSERT_LT(fs::file_size(strArchive), 1000000u);
        idxtest::LogCapture log;
        C7zip zip("", c.eFormat);
        ASSERT_FALSE(zip.Initialize().IsError());
        zip.SetLimits(1000000, 0);
        CKyError error = zip.ExtractFilesWithFullPathsFromArchive(strArchive, dir / "out");
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 223)) << error.AsString();
        EXPECT_TRUE(zip.IsLimitReached());
        EXPECT_LE(zip.GetBytesWritten(), 1000000u);
        EXPECT_EQ(TreeOf(dir / "out"), c.setLeft);
        EXPECT_TRUE(log.Contains("holds more than 1000000 bytes"));
    }
}

TEST(C7zipTest, BadInputsGiveClearErrors) {
    idxtest::TempDir dir;
    const std::string strText = dir.WriteFile("text.zip", "this is not an archive");
    const std::string strNotGz = dir.WriteFile("plain.gz", "not compressed at all");
    const std::string strFifo = dir / "pipe.zip";
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    struct Case {
        std::string strArchive;
        C7zip::CompressionFormat eFormat;
        std::string strExpected;
    };
    const std::vector<Case> vecCases = {
        {strText, C7zip::eFormatZip, "Failed to open archive"},
        {strNotGz, C7zip::eFormatGzip, "not a compressed file"},
        {dir / "missing.zip", C7zip::eFormatZip, "Failed to open archive"},
        {strFifo, C7zip::eFormatZip, "is not a regular file"}, // must not block
    };
    for (const Case &c : vecCases) {
        SCOPED_TRACE(c.strArchive);
        C7zip zip("", c.eFormat);
        ASSERT_FALSE(zip.Initialize().IsError());
        CKyError error = zip.ExtractFilesWithFullPathsFromArchive(c.strArchive, dir / "out");
        ASSERT_TRUE(error.IsError());
        EXPECT_NE(error.AsString().find(c.strExpected), std::string::npos) << error.AsString();
        std::vector<C7zMetaData> vecMembers;
        EXPECT_TRUE(zip.ListFilesInArchive(c.strArchive, vecMembers).IsError());
        EXPECT_TRUE(vecMembers.empty());
    }
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

TEST(C7zipTest, InitializeChecksTheFormatAndGuardsTheOtherCalls) {
    idxtest::TempDir dir;
    const std::string strArchive = dir / "a.zip";
    ASSERT_EQ(idxtest::WriteTestArchive(strArchive, TestArchiveKind::Zip, {FileMember("f", "1")}),
              "");
    C7zip uninitialized("", C7zip::eFormatZip);
    std::vector<C7zMetaData> vecMembers;
    EXPECT_TRUE(FXErrorUtil::IsWin32(uninitialized.ListFilesInArchive(strArchive, vecMembers), 1));
    EXPECT_TRUE(FXErrorUtil::IsWin32(
        uninitialized.ExtractFilesWithFullPathsFromArchive(strArchive, dir / "out"), 1));
    EXPECT_FALSE(fs::exists(dir / "out"));

    for (int nBad : {0, 6, -1}) {
        C7zip zip("/home", static_cast<C7zip::CompressionFormat>(nBad));
        EXPECT_TRUE(FXErrorUtil::IsWin32(zip.Initialize(), 87)) << nBad;
    }
    C7zip zip("/home/of/install", C7zip::eFormatZip);
    EXPECT_EQ(zip.GetHomeDirectory(), "/home/of/install");
    EXPECT_EQ(zip.GetFormat(), C7zip::eFormatZip);
}

TEST(C7zipTest, UnpacksBelowAFolderReachedThroughASymbolicLink) {
    idxtest::TempDir dir;
    fs::create_directories(dir / "real");
    fs::create_directory_symlink(dir / "real", dir / "alias");
    const std::string strArchive = dir / "a.tgz";
    ASSERT_EQ(idxtest::WriteTestArchive(
                  strArchive, TestArchiveKind::TarGz,
                  {FileMember("x/y.txt", "why"), FileMember("\xc3\xbc-\xff.txt", "odd name")}),
              "");
    C7zip zip("", C7zip::eFormatGzip);
    ASSERT_FALSE(zip.Initialize().IsError());
    CKyError error = zip.ExtractFilesWithFullPathsFromArchive(strArchive, dir / "alias/scratch");
    ASSERT_FALSE(error.IsError()) << error.AsString();
    EXPECT_EQ(idxtest::ReadWholeFile(dir / "real/scratch/x/y.txt"), "why");
    EXPECT_EQ(idxtest::ReadWholeFile(dir / "real/scratch/\xc3\xbc-\xff.txt"), "odd name");
}

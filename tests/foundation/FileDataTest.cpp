#include "foundation/FileData.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TempDir.h"

namespace {

using FXFile::CFileData;

TEST(FileDataTest, DefaultRecordIsEmptyAndUnread) {
    CFileData data;
    EXPECT_TRUE(data.getFileNameAsString().empty());
    EXPECT_TRUE(data.getParent().empty());
    EXPECT_EQ(data.getStatusState(), 0);
    EXPECT_EQ(data.getErrNo(), 0);
}

TEST(FileDataTest, PathIsSplitByMode) {
    struct Case {
        const char *szPath;
        CFileData::FileNameMode eMode;
        const char *szParent;
        const char *szName;
    };
    const Case cases[] = {
        {"/", CFileData::eParentAndName, "", "/"},
        {"/a/b.txt", CFileData::eParentAndName, "/a", "b.txt"},
        {"/a", CFileData::eParentAndName, "/", "a"},
        {"/a/b.txt", CFileData::eFullPathInParent, "/a/b.txt", ""},
        {"/a/b.txt", static_cast<CFileData::FileNameMode>(7), "", ""},
    };
    for (const Case &c : cases) {
        CFileData data(c.szPath, c.eMode, nullptr);
        EXPECT_EQ(data.getParent(), c.szParent) << c.szPath << " mode " << c.eMode;
        EXPECT_EQ(data.getFileNameAsString(), c.szName) << c.szPath << " mode " << c.eMode;
        EXPECT_EQ(data.getFileNameMode(), c.eMode);
        EXPECT_EQ(data.getStatusState(), 0);
    }
}

TEST(FileDataTest, RelativeFolderNames) {
    const std::pair<const char *, bool> cases[] = {
        {"/x/.", true}, {"/x/..", true}, {"/x/...", false}, {"/x/.a", false}, {"/x/a.", false}};
    for (const auto &c : cases) {
        CFileData data(c.first, CFileData::eParentAndName, nullptr);
        EXPECT_EQ(data.isRelativeFolder(), c.second) << c.first;
    }
}

TEST(FileDataTest, GivenStatusIsNeverReadFromDisk) {
    idxtest::TempDir dir;
    std::string strMissing = dir / "does-not-exist";
    struct stat status {};
    status.st_mode = S_IFDIR | 0755;
    CFileData folder(strMissing, CFileData::eParentAndName, &status);
    EXPECT_EQ(folder.getStatusState(), 1);
    EXPECT_TRUE(folder.isDirectory());

    struct stat zero {};
    CFileData plain(dir.Path(), CFileData::eParentAndName, &zero);
    EXPECT_FALSE(plain.isDirectory()); // the real folder is never looked at
    EXPECT_EQ(plain.getStatusState(), 1);
    EXPECT_EQ(plain.getErrNo(), 0);
}

TEST(FileDataTest, MissingPathFailsWithTheStatusReadErrno) {
    idxtest::TempDir dir;
    std::string strFile = dir.WriteFile("file", "x");
    const std::pair<std::string, int> cases[] = {{dir / "missing", ENOENT},
                                                 {strFile + "/below", ENOTDIR}};
    for (const auto &c : cases) {
        CFileData data(c.first, CFileData::eParentAndName, nullptr);
        EXPECT_FALSE(data.isDirectory()) << c.first;
        EXPECT_EQ(data.getStatusState(), -1);
        EXPECT_EQ(data.getErrNo(), c.second) << c.first;
    }
}

TEST(FileDataTest, StatusIsReadFromDiskWithoutFollowingLinks) {
    idxtest::TempDir dir;
    std::string strFile = dir.WriteFile("sub/file.txt", "content");
    std::string strFolder = dir / "sub";
    std::string strLink = dir / "link-to-sub";
    ASSERT_EQ(symlink(strFolder.c_str(), strLink.c_str()), 0);

    struct Case {
        std::string strPath;
        CFileData::FileNameMode eMode;
        bool bDirectory;
    };
    const Case cases[] = {
        {strFolder, CFileData::eParentAndName, true},
        {strFolder, CFileData::eFullPathInParent, true},
        {strFolder + "/", CFileData::eFullPathInParent, true},
        {strFile, CFileData::eParentAndName, false},
        {strFile, CFileData::eFullPathInParent, false},
        {strLink, CFileData::eParentAndName, false},
        {strLink, CFileData::eFullPathInParent, false},
    };
    for (const Case &c : cases) {
        CFileData data(c.strPath, c.eMode, nullptr);
        EXPECT_EQ(data.isDirectory(), c.bDirectory) << c.strPath << " mode " << c.eMode;
        EXPECT_EQ(data.getStatusState(), 1) << c.strPath;
        EXPECT_EQ(data.getErrNo(), 0);
    }
    CFileData link(strLink, CFileData::eParentAndName, nullptr);
    link.getFileInfo();
    EXPECT_TRUE(S_ISLNK(link.getStatus().st_mode));
    CFileData file(strFile, CFileData::eParentAndName, nullptr);
    file.getFileInfo();
    EXPECT_EQ(file.getStatus().st_size, 7);
}

// However long the path, its status is read, and the record can hand its names over after.
TEST(FileDataTest, ALongPathIsReadAndItsNamesHandedOver) {
    idxtest::TempDir dir;
    std::string strFolder = dir.Path();
    for (int i = 0; i < 6; ++i) {
        strFolder += "/" + std::string(200, static_cast<char>('a' + i));
        ASSERT_EQ(mkdir(strFolder.c_str(), 0755), 0) << errno;
    }
    const std::string strFile =
        dir.WriteFile(strFolder.substr(dir.Path().size() + 1) + "/f.txt", "12345");
    ASSERT_GT(strFile.size(), 1200u);
    const std::string strShort = dir.WriteFile("short.txt", "12345");
    for (const std::string &strPath : {strFile, strShort}) {
        CFileData data(strPath, CFileData::eParentAndName, nullptr);
        data.getFileInfo();
        ASSERT_EQ(data.getStatusState(), 1) << data.getErrNo();
        EXPECT_EQ(data.getStatus().st_size, 5);

        std::string strParent;
        std::string strName;
        data.releaseNames(strParent, strName);
        EXPECT_EQ(strParent + "/" + strName, strPath);
        EXPECT_TRUE(data.getParent().empty());
        EXPECT_TRUE(data.getFileNameAsString().empty());
        EXPECT_EQ(data.getStatusState(), 1);
    }
}

TEST(FileDataTest, StatusIsReadOnlyOnce) {
    idxtest::TempDir dir;
    std::string strFolder = dir / "later";
    CFileData missing(strFolder, CFileData::eParentAndName, nullptr);
    EXPECT_FALSE(missing.isDirectory());
    ASSERT_EQ(mkdir(strFolder.c_str(), 0755), 0);
    EXPECT_FALSE(missing.isDirectory());
    EXPECT_EQ(missing.getStatusState(), -1);

    CFileData present(strFolder, CFileData::eParentAndName, nullptr);
    EXPECT_TRUE(present.isDirectory());
    ASSERT_EQ(rmdir(strFolder.c_str()), 0);
    EXPECT_TRUE(present.isDirectory());
    EXPECT_EQ(present.getStatusState(), 1);
}

// The system hands out directory entries only as long as their record length: a short name's
// entry ends well before a whole struct dirent would. Taking one must stay inside it.
TEST(FileDataTest, EntryIsTakenWithinItsRecordLength) {
    const char *const names[] = {"a", "short.txt", ".."};
    for (const char *szName : names) {
        size_t nRecordLength = offsetof(struct dirent, d_name) + strlen(szName) + 1;
        nRecordLength = (nRecordLength + 7) & ~static_cast<size_t>(7);
        ASSERT_LT(nRecordLength, sizeof(struct dirent));
        // Heap memory of exactly the record's length, so that a read past it is caught.
        char *pRecord = static_cast<char *>(malloc(nRecordLength));
        ASSERT_NE(pRecord, nullptr);
        memset(pRecord, 0, nRecordLength);
        struct dirent *pEntry = reinterpret_cast<struct dirent *>(pRecord);
        pEntry->d_ino = 4242;
        pEntry->d_reclen = static_cast<unsigned short>(nRecordLength);
        pEntry->d_type = DT_REG;
        memcpy(pEntry->d_name, szName, strlen(szName) + 1);

        CFileData data;
        data.SetFromEntry("/folder", *pEntry);
        free(pRecord);

        EXPECT_EQ(data.getFileNameAsString(), szName);
        EXPECT_EQ(data.getParent(), "/folder");
        EXPECT_EQ(data.getFileNameMode(), CFileData::eParentAndName);
        EXPECT_STREQ(data.getDirEntry().d_name, szName);
        EXPECT_EQ(data.getDirEntry().d_ino, 4242u);
        EXPECT_EQ(data.getDirEntry().d_type, DT_REG);
        EXPECT_EQ(data.getStatusState(), 0);
    }
}

} // namespace

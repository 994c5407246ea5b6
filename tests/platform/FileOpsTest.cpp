#include "foundation/FileData.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <unistd.h>

#include "tests/support/TempDir.h"

namespace {

TEST(FileOpsTest, EnumerationListsEveryEntryAndEndsWith18) {
    idxtest::TempDir dir;
    dir.WriteFile("a.txt", "1");
    dir.WriteFile("sub/inner.txt", "2");
    std::string strTarget = dir / "sub";
    std::string strLink = dir / "link";
    ASSERT_EQ(symlink(strTarget.c_str(), strLink.c_str()), 0);

    std::map<std::string, bool> mapListed; // name -> isDirectory
    auto_find_handle find;
    FXFile::CFileData data;
    CKyError error = FXFile::TQFindFirstFile(find, dir.Path(), data);
    while (!error.IsError()) {
        EXPECT_EQ(data.getParent(), dir.Path());
        EXPECT_TRUE(mapListed.emplace(data.getFileNameAsString(), data.isDirectory()).second);
        EXPECT_EQ(data.getStatusState(), 1) << data.getFileNameAsString();
        error = FXFile::TQFindNextFile(find, data);
    }
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 18)) << error.AsString();
    EXPECT_TRUE(FXErrorUtil::IsWin32(FXFile::TQFindNextFile(find, data), 18));

    const std::map<std::string, bool> mapExpected = {
        {".", true}, {"..", true}, {"a.txt", false}, {"sub", true}, {"link", false}};
    EXPECT_EQ(mapListed, mapExpected);

    find.reset(nullptr);
    EXPECT_TRUE(FXErrorUtil::IsWin32(FXFile::TQFindNextFile(find, data), 6));
}

// A folder of several thousand entries fills many of the system's listing buffers, so some
// entries end right at a buffer's end: every one must be taken from within its own record.
TEST(FileOpsTest, EnumerationOfALargeFolderListsEveryNameOnce) {
    idxtest::TempDir dir;
    const int kEntries = 3000;
    std::set<std::string> setExpected = {".", ".."};
    for (int i = 0; i < kEntries; ++i) {
        // Names from a few characters up to the longest a name may be (255 bytes).
        std::string strName = std::to_string(i) + "-";
        strName.append(static_cast<size_t>((i * 37) % 250), static_cast<char>('a' + i % 26));
        std::string strPath = dir / strName;
        int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(nFd, 0) << strPath;
        close(nFd);
        setExpected.insert(strName);
    }
    ASSERT_EQ(setExpected.size(), static_cast<size_t>(kEntries) + 2);

    std::set<std::string> setListed;
    auto_find_handle find;
    FXFile::CFileData data;
    CKyError error = FXFile::TQFindFirstFile(find, dir.Path(), data);
    while (!error.IsError()) {
        EXPECT_TRUE(setListed.insert(data.getFileNameAsString()).second)
            << data.getFileNameAsString();
        EXPECT_EQ(data.getFileNameAsString(), data.getDirEntry().d_name);
        error = FXFile::TQFindNextFile(find, data);
    }
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 18)) << error.AsString();
    EXPECT_EQ(setListed, setExpected);
}

TEST(FileOpsTest, EnumerationOfMissingFolderFails) {
    idxtest::TempDir dir;
    auto_find_handle find;
    FXFile::CFileData data;
    CKyError error = FXFile::TQFindFirstFile(find, dir / "missing", data);
    EXPECT_EQ(FXErrorUtil::GetErrNo(error), ENOENT);
    EXPECT_EQ(find.get(), nullptr);
    EXPECT_NE(error.AsString().find("missing"), std::string::npos);
}

TEST(FileOpsTest, HandlesReadAndWrite) {
    idxtest::TempDir dir;
    std::string strPath = dir / "data.bin";
    std::string strContent(200000, 'q');
    strContent[199999] = 'z';
    {
        auto_handle handle;
        ASSERT_FALSE(FXFile::TQCreateFile(handle, strPath, O_WRONLY | O_CREAT | O_TRUNC).IsError());
        ASSERT_FALSE(FXFile::TQWriteFile(handle, strContent.data(), strContent.size()).IsError());
    }
    auto_handle handle;
    ASSERT_FALSE(FXFile::TQCreateFile(handle, strPath, O_RDONLY).IsError());
    std::string strBuffer(150000, '\0');
    size_t nRead = 0;
    ASSERT_FALSE(FXFile::TQReadFile(handle, &strBuffer[0], strBuffer.size(), nRead).IsError());
    EXPECT_EQ(nRead, 150000u);
    ASSERT_FALSE(FXFile::TQReadFile(handle, &strBuffer[0], strBuffer.size(), nRead).IsError());
    EXPECT_EQ(nRead, 50000u);
    EXPECT_EQ(strBuffer[nRead - 1], 'z');
    ASSERT_FALSE(FXFile::TQReadFile(handle, &strBuffer[0], strBuffer.size(), nRead).IsError());
    EXPECT_EQ(nRead, 0u);

    auto_handle closed;
    EXPECT_TRUE(FXErrorUtil::IsWin32(FXFile::TQReadFile(closed, &strBuffer[0], 1, nRead), 6));
    EXPECT_EQ(FXErrorUtil::GetErrNo(FXFile::TQCreateFile(closed, dir / "no/such", O_RDONLY)),
              ENOENT);
    EXPECT_EQ(closed.get(), -1);
}

TEST(FileOpsTest, StreamsOpenIntoTheOwner) {
    idxtest::TempDir dir;
    auto_fileptr file;
    ASSERT_FALSE(FXFile::tqfopen(file, dir / "out.txt", "w").IsError());
    fputs("line\n", file.get());
    file.reset();
    EXPECT_EQ(idxtest::ReadWholeFile(dir / "out.txt"), "line\n");
    CKyError error = FXFile::tqfopen(file, dir / "none/out.txt", "r");
    EXPECT_EQ(FXErrorUtil::GetErrNo(error), ENOENT);
    EXPECT_EQ(file.get(), nullptr);
}

TEST(FileOpsTest, WholeFilesAndTheSizeCap) {
    idxtest::TempDir dir;
    std::string strPath = dir / "whole.txt";
    ASSERT_FALSE(FXFile::WriteWholeFile(strPath, "0123456789").IsError());
    std::string strContent;
    ASSERT_FALSE(FXFile::ReadWholeFile(strPath, strContent, 10).IsError());
    EXPECT_EQ(strContent, "0123456789");
    CKyError error = FXFile::ReadWholeFile(strPath, strContent, 9);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 223));
    EXPECT_TRUE(strContent.empty());
    EXPECT_EQ(FXErrorUtil::GetErrNo(FXFile::ReadWholeFile(dir / "none", strContent, 9)), ENOENT);

    uint64_t nSize = 0;
    ASSERT_FALSE(FXFile::GetFileSize(strPath, nSize).IsError());
    EXPECT_EQ(nSize, 10u);
    EXPECT_TRUE(FXFile::GetFileSize(dir / "none", nSize).IsError());
}

TEST(FileOpsTest, CountLines) {
    idxtest::TempDir dir;
    const std::pair<std::string, uint64_t> cases[] = {{"", 0},
                                                      {"a", 1},
                                                      {"a\n", 1},
                                                      {"a\nb", 2},
                                                      {"\n\n", 2},
                                                      {std::string(70000, 'x') + "\ny", 2},
                                                      {std::string(65536, '\n'), 65536}};
    for (const auto &c : cases) {
        std::string strPath = dir.WriteFile("lines.txt", c.first);
        uint64_t nCount = 99;
        ASSERT_FALSE(FXFile::CountLines(strPath, nCount).IsError());
        EXPECT_EQ(nCount, c.second) << c.first.size();
    }
    uint64_t nCount = 99;
    EXPECT_TRUE(FXFile::CountLines(dir / "none", nCount).IsError());
    EXPECT_EQ(nCount, 0u);
}

TEST(FileOpsTest, FoldersAreCreatedAndRemoved) {
    idxtest::TempDir dir;
    std::string strDeep = dir / "a/b/c";
    EXPECT_TRUE(FXFile::CreateDirectory(strDeep, false).IsError());
    ASSERT_FALSE(FXFile::CreateDirectory(strDeep, true).IsError());
    EXPECT_TRUE(FXFile::IsDirectory(strDeep));
    EXPECT_FALSE(FXFile::CreateDirectory(strDeep, false).IsError());
    EXPECT_FALSE(FXFile::CreateDirectory(strDeep, true).IsError());
    std::string strFile = dir.WriteFile("a/file", "x");
    EXPECT_EQ(FXErrorUtil::GetErrNo(FXFile::CreateDirectory(strFile, false)), EEXIST);
    EXPECT_TRUE(FXFile::Exists(strFile));
    EXPECT_FALSE(FXFile::IsDirectory(strFile));

    // The tree holds a link to a folder outside it; the outside folder must survive.
    std::string strOutside = dir.WriteFile("outside/keep.txt", "keep");
    std::string strLink = dir / "a/b/link";
    ASSERT_EQ(symlink((dir / "outside").c_str(), strLink.c_str()), 0);
    ASSERT_FALSE(FXFile::RemoveDirectoryTree(dir / "a").IsError());
    EXPECT_FALSE(FXFile::Exists(dir / "a"));
    EXPECT_EQ(idxtest::ReadWholeFile(strOutside), "keep");
    EXPECT_FALSE(FXFile::RemoveDirectoryTree(dir / "a").IsError());

    ASSERT_FALSE(FXFile::DeleteFile(strOutside).IsError());
    EXPECT_FALSE(FXFile::Exists(strOutside));
    EXPECT_EQ(FXErrorUtil::GetErrNo(FXFile::DeleteFile(strOutside)), ENOENT);
}

} // namespace

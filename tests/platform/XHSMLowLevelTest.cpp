#include "platform/XHSMLowLevel.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TempDir.h"

namespace {

TEST(XHSMLowLevelTest, SparsePlaceholderIsAStubAndDataIsNot) {
    idxtest::TempDir dir;
    std::string strData = dir.WriteFile("data.bin", std::string(8192, 'd'));
    std::string strEmpty = dir.WriteFile("empty.bin", "");
    std::string strStub = dir / "stub.bin";
    int fd = open(strStub.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1 << 20), 0);
    close(fd);
    struct stat st;
    ASSERT_EQ(stat(strStub.c_str(), &st), 0);
    if (st.st_blocks != 0) {
        GTEST_SKIP() << "the temporary folder's file system does not keep sparse files";
    }

    CXHSMLowLevelCtx context(1);
    EXPECT_EQ(context.GetMode(), 1);
    CXHSMLowLevel *pLowLevel = context.getByFileName(strStub);
    ASSERT_NE(pLowLevel, nullptr);
    EXPECT_EQ(pLowLevel->IsStub(strStub), 1);
    EXPECT_EQ(pLowLevel->IsStub(strData), 0);
    EXPECT_EQ(pLowLevel->IsStub(strEmpty), 0);
    EXPECT_EQ(pLowLevel->IsStub(dir.Path()), 0);
    EXPECT_EQ(pLowLevel->getLastError(), "");
}

TEST(XHSMLowLevelTest, MissingFileIsAnErrorWithItsReason) {
    CXHSMLowLevelCtx context(1);
    std::string strPath = "/nonexistent/idx/file";
    CXHSMLowLevel *pLowLevel = context.getByFileName(strPath);
    ASSERT_NE(pLowLevel, nullptr);
    EXPECT_LT(pLowLevel->IsStub(strPath), 0);
    EXPECT_NE(pLowLevel->getLastError().find(strPath), std::string::npos);
    EXPECT_NE(pLowLevel->getLastError().find("errno=2"), std::string::npos);
}

TEST(XHSMLowLevelTest, OneObjectPerMountPoint) {
    CXHSMLowLevelCtx context(1);
    context.GetMountTable().AddMountPoint("/archive/");
    context.GetMountTable().AddMountPoint("/archive/deep");
    CXHSMLowLevel *pArchive = context.getByFileName("/archive/a/file");
    CXHSMLowLevel *pDeep = context.getByFileName("/archive/deep/file");
    ASSERT_NE(pArchive, nullptr);
    ASSERT_NE(pDeep, nullptr);
    EXPECT_NE(pArchive, pDeep);
    EXPECT_EQ(context.getByFileName("/archive/b"), pArchive);
    EXPECT_EQ(pArchive->GetMountPoint(), "/archive");
    EXPECT_EQ(pDeep->GetMountPoint(), "/archive/deep");
    EXPECT_EQ(context.getByFileName("/archived/file"), nullptr);
    EXPECT_EQ(context.getByFileName("relative/file"), nullptr);
}

} // namespace

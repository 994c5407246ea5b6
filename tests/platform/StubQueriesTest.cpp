#include "platform/StubQueries.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/ItemLookup.h"
#include "platform/testing/StubControl.h"
#include "tests/support/TempDir.h"

namespace {

CItemPtr ItemAt(const std::string &strPath) {
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ptrItem->SetPath(strPath);
    return ptrItem;
}

class StubQueriesTest : public ::testing::Test {
protected:
    idxtest::StubControl m_stubs;
    idxtest::TempDir m_dir;
};

TEST_F(StubQueriesTest, ByDefaultThereIsNoDriverAndNothingIsSkipped) {
    EXPECT_FALSE(CXHSMServiceHelper::IsFSFDriverLoaded());

    CStubbingFilterUnix filter(m_dir.Path());
    EXPECT_FALSE(filter.Initialize().IsError());
    std::string strFile = m_dir.WriteFile("a.txt", "content");
    for (const std::string &strPath : {strFile, m_dir.Path(), m_dir / "missing"}) {
        std::string strReason = "untouched";
        EXPECT_FALSE(filter.IsItemToBeSkipped(ItemAt(strPath), strReason)) << strPath;
        EXPECT_EQ(strReason, "untouched");
    }
    std::string strReason;
    EXPECT_FALSE(filter.IsItemToBeSkipped(CItemPtr(), strReason));
}

TEST_F(StubQueriesTest, AScriptedPathIsSkippedWithItsReason) {
    std::string strSkipped = m_dir.WriteFile("archived.bin", "x");
    std::string strKept = m_dir.WriteFile("kept.bin", "x");
    m_stubs.SkipForArchiving(strSkipped, "excluded from archiving by policy");

    CStubbingFilterInterfacePtr ptrFilter = boost::make_shared<CStubbingFilterUnix>(m_dir.Path());
    ASSERT_FALSE(ptrFilter->Initialize().IsError());
    std::string strReason;
    EXPECT_TRUE(ptrFilter->IsItemToBeSkipped(ItemAt(strSkipped), strReason));
    EXPECT_EQ(strReason, "excluded from archiving by policy");
    strReason.clear();
    EXPECT_FALSE(ptrFilter->IsItemToBeSkipped(ItemAt(strKept), strReason));
    EXPECT_EQ(strReason, "");
}

TEST_F(StubQueriesTest, FilterSetUpCanBeMadeToFailAndIsRecorded) {
    m_stubs.FailFilterInitialize(2);
    CStubbingFilterUnix first("/first/root");
    CKyError error = first.Initialize();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_NE(error.AsString().find("/first/root"), std::string::npos);
    EXPECT_TRUE(first.Initialize().IsError());
    EXPECT_FALSE(first.Initialize().IsError());

    CStubbingFilterUnix second("/second/root");
    EXPECT_FALSE(second.Initialize().IsError());
    EXPECT_EQ(second.GetPath(), "/second/root");

    EXPECT_EQ(m_stubs.FilterPaths(), (std::vector<std::string>{"/first/root", "/second/root"}));
    EXPECT_EQ(m_stubs.FilterInitializeCalls(), 4);
}

TEST_F(StubQueriesTest, WithTheDriverLoadedTheLowLevelQueryTellsStubsApart) {
    m_stubs.SetDriverLoaded(true);
    EXPECT_TRUE(CXHSMServiceHelper::IsFSFDriverLoaded());

    std::string strStub = m_dir / "moved-away.dat";
    ASSERT_TRUE(idxtest::StubControl::MakeStubFile(strStub, 1 << 20));
    std::string strPlain = m_dir.WriteFile("plain.dat", "real bytes");
    std::string strMissing = m_dir / "missing.dat";

    CXHSMLowLevelCtx context(1);
    struct StubCase {
        std::string strPath;
        int nSign;
    };
    for (const StubCase &stubCase :
         {StubCase{strStub, 1}, StubCase{strPlain, 0}, StubCase{strMissing, -1}}) {
        CXHSMLowLevel *pLowLevel = context.getByFileName(stubCase.strPath);
        ASSERT_NE(pLowLevel, nullptr);
        int nAnswer = pLowLevel->IsStub(stubCase.strPath);
        EXPECT_EQ((nAnswer > 0) - (nAnswer < 0), stubCase.nSign) << stubCase.strPath;
        if (stubCase.nSign < 0) {
            EXPECT_FALSE(pLowLevel->getLastError().empty());
        }
    }
}

TEST(StubControlTest, ScriptIsResetWhenTheControlGoesAway) {
    {
        idxtest::StubControl stubs;
        stubs.SetDriverLoaded(true);
        stubs.SkipForArchiving("/x", "reason");
        stubs.FailFilterInitialize(5);
        CStubbingFilterUnix filter("/x");
    }
    idxtest::StubControl fresh;
    EXPECT_FALSE(CXHSMServiceHelper::IsFSFDriverLoaded());
    EXPECT_TRUE(fresh.FilterPaths().empty());
    CStubbingFilterUnix filter("/x");
    EXPECT_FALSE(filter.Initialize().IsError());
    std::string strReason;
    EXPECT_FALSE(filter.IsItemToBeSkipped(ItemAt("/x"), strReason));
}

} // namespace

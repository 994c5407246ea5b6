#include "foundation/KyError.h"

#include <gtest/gtest.h>

namespace {

TEST(KyErrorTest, SuccessAndErrorTest) {
    EXPECT_FALSE(CKyError().IsError());
    EXPECT_FALSE(CKyError::Success().IsError());
    EXPECT_FALSE(CKyError(1, nullptr).IsError());
    EXPECT_TRUE(CKyError(-1, nullptr).IsError());
    EXPECT_TRUE(FXErrorUtil::ErrorWin32(FXLOC, 774, "general %s", "failure").IsError());
}

TEST(KyErrorTest, Win32NumbersComeBackAndDomainsStayApart) {
    for (uint32_t nNumber : {2u, 3u, 14u, 87u, 258u, 774u, 995u, 1359u, 4306u}) {
        CKyError error = FXErrorUtil::ErrorWin32(FXLOC, nNumber);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, nNumber)) << nNumber;
        EXPECT_EQ(FXErrorUtil::GetWin32(error), nNumber);
    }
    CKyError tq = FXErrorUtil::ErrorTQResult(FXLOC, 995, "engine said %d", 995);
    EXPECT_TRUE(tq.IsError());
    EXPECT_FALSE(FXErrorUtil::IsWin32(tq, 995));
    EXPECT_EQ(FXErrorUtil::GetWin32(tq), 0u);
    CKyError errNo = FXErrorUtil::ErrorErrNo(FXLOC, -1, "%s", "open failed");
    EXPECT_TRUE(errNo.IsError());
    EXPECT_FALSE(FXErrorUtil::IsWin32(CKyError::Success(), 0));
}

TEST(KyErrorTest, CopiesShareDetailButCopyDoesNot) {
    CKyError first = FXErrorUtil::ErrorWin32(FXLOC, 774, "%s", "first");
    CKyError shared;
    shared = first;
    CKyError deep = first.Copy();
    first.Push(FXLOC, "pushed %s", "later");
    EXPECT_NE(shared.AsString().find("pushed later"), std::string::npos);
    EXPECT_EQ(deep.AsString().find("pushed later"), std::string::npos);
    EXPECT_TRUE(FXErrorUtil::IsWin32(deep, 774));

    CKyError &self = first;
    first = self;
    EXPECT_TRUE(FXErrorUtil::IsWin32(first, 774));
    EXPECT_NE(first.AsString().find("first"), std::string::npos);
}

TEST(KyErrorTest, MessageWithPercentIsKeptAsText) {
    std::string strOutside = "100%s %d %n";
    CKyError error = FXErrorUtil::ErrorWin32(FXLOC, 774, "reason=%s", strOutside.c_str());
    EXPECT_NE(error.AsString().find("reason=100%s %d %n"), std::string::npos);
}

TEST(KyErrorTest, LocationNamesFileFunctionAndLine) {
    FXCodeLocation location = FXLOC;
    EXPECT_STREQ(location.m_szFile, "KyErrorTest.cpp");
    EXPECT_NE(std::string(location.m_szFunction).find("TestBody"), std::string::npos);
    EXPECT_GT(location.m_nLine, 0);
}

} // namespace

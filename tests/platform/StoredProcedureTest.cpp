// The stored-procedure executor: a scripted answer first, then the operator's reply file, else no
// management server; every call is kept for tests.
#include "platform/StoredProcedure.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/ManagementServer.h"
#include "tests/support/TempDir.h"

namespace {

// Sets or clears IDX_MANAGEMENT_REPLY for one test and puts the old value back.
class ReplyVariableScope {
public:
    ReplyVariableScope() {
        const char *szOld = getenv("IDX_MANAGEMENT_REPLY");
        m_bHadValue = szOld != nullptr;
        m_strOld = szOld ? szOld : "";
    }
    ~ReplyVariableScope() {
        if (m_bHadValue) {
            setenv("IDX_MANAGEMENT_REPLY", m_strOld.c_str(), 1);
        } else {
            unsetenv("IDX_MANAGEMENT_REPLY");
        }
    }

private:
    bool m_bHadValue;
    std::string m_strOld;
};

TEST(StoredProcedureTest, AnswersFromTheScriptThenTheReplyFileElseNotAtAll) {
    ReplyVariableScope variable;
    idxtest::ManagementServer server;
    idxtest::TempDir dir;
    App_ExecuteSP executor;
    std::string strOut = "stale";

    unsetenv("IDX_MANAGEMENT_REPLY");
    EXPECT_EQ(executor.executeStoredProcedure(7, "<in/>", strOut, nullptr),
              App_ExecuteSP::eNoManagementServer);
    EXPECT_EQ(strOut, "");

    setenv("IDX_MANAGEMENT_REPLY", (dir / "absent.xml").c_str(), 1);
    EXPECT_EQ(executor.executeStoredProcedure(7, "<in/>", strOut, nullptr),
              App_ExecuteSP::eReplyUnreadable);

    setenv("IDX_MANAGEMENT_REPLY", dir.WriteFile("reply.xml", "<from-file/>").c_str(), 1);
    EXPECT_EQ(executor.executeStoredProcedure(7, "<in/>", strOut, nullptr), 0);
    EXPECT_EQ(strOut, "<from-file/>");

    // A script wins over the file, for its own procedure only; a failing script gives no text.
    server.Answer(8, 0, "<scripted/>");
    server.Answer(9, 42, "<ignored/>");
    EXPECT_EQ(executor.executeStoredProcedure(8, "<eight/>", strOut, nullptr), 0);
    EXPECT_EQ(strOut, "<scripted/>");
    EXPECT_EQ(executor.executeStoredProcedure(9, "<nine/>", strOut, nullptr), 42);
    EXPECT_EQ(strOut, "");
    EXPECT_EQ(executor.executeStoredProcedure(7, "<seven/>", strOut, nullptr), 0);
    EXPECT_EQ(strOut, "<from-file/>");

    const std::vector<idxtest::StoredProcedureCall> vecCalls = server.Calls();
    ASSERT_EQ(vecCalls.size(), 6u);
    EXPECT_EQ(vecCalls[3].nProcedureId, 8u);
    EXPECT_EQ(vecCalls[3].strInputXml, "<eight/>");
    EXPECT_EQ(vecCalls[5].strInputXml, "<seven/>");
}

} // namespace

// The management server's record of the web server: what a test sets, else the environment, and
// an error when there is none.
#include "platform/IdxWebServerClient.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/WebServerInfo.h"

namespace {

class IdxWebServerClientTest : public ::testing::Test {
protected:
    IdxWebServerClientTest() { unsetenv("IDX_WEB_SERVER_URL"); }
    ~IdxWebServerClientTest() override { unsetenv("IDX_WEB_SERVER_URL"); }

    idxtest::WebServerOnRecordScope m_scope;
};

TEST_F(IdxWebServerClientTest, AnswersTheUrlOnRecordOrFails) {
    struct Case {
        const char *szEnvironment; // null: unset
        const char *szSetByTest;   // null: not set
        const char *szExpected;    // null: error 1168
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr},
        {"http://127.0.0.1:81", nullptr, "http://127.0.0.1:81"},
        {"", nullptr, nullptr},
        {"http://127.0.0.1:81", "http://127.0.0.1:82/", "http://127.0.0.1:82/"},
        {"http://127.0.0.1:81", "", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.szEnvironment ? c.szEnvironment : "(unset)") + " / " +
                     (c.szSetByTest ? c.szSetByTest : "(not set)"));
        idxtest::ResetWebServerOnRecord();
        if (c.szEnvironment) {
            setenv("IDX_WEB_SERVER_URL", c.szEnvironment, 1);
        } else {
            unsetenv("IDX_WEB_SERVER_URL");
        }
        if (c.szSetByTest) {
            idxtest::SetWebServerOnRecord(c.szSetByTest);
        }

        std::string strUrl = "untouched";
        CKyError error = I2::Utils::IdxWebServerClient::getWebServerInfoFromHQ(strUrl);
        if (c.szExpected) {
            EXPECT_FALSE(error.IsError()) << error.AsString();
            EXPECT_EQ(strUrl, c.szExpected);
        } else {
            EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1168)) << error.AsString();
            EXPECT_EQ(strUrl, "untouched");
        }
        EXPECT_EQ(idxtest::WebServerQueries(), 1);
    }
}

} // namespace

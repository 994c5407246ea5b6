// The loopback forwarder in front of the engine stand-in, with the library's HTTP client: each way
// the stand-in ends a connection reaches the client as it would without the forwarder, and a
// refusal window refuses connections at the TCP level and heals on the same port, which no other
// socket can take meanwhile.
#include "tests/support/LoopbackForwarder.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "platform/TQLibCurl.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::EngineRoute;
using idxtest::EngineStub;
using idxtest::LoopbackForwarder;

// How the library's client tells a failed exchange: "(curl error N: ...)".
std::string CurlError(CURLcode eCode) {
    return "(curl error " + std::to_string(static_cast<int>(eCode)) + ":";
}

// A socket on 127.0.0.1, connected to nPort; -1 when the connection failed, with errno set.
int ConnectTo(int nPort) {
    const int nSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    if (connect(nSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        const int nError = errno;
        close(nSocket);
        errno = nError;
        return -1;
    }
    return nSocket;
}

// errno of binding a new socket to 127.0.0.1:nPort, with or without SO_REUSEADDR; 0 when it bound.
int BindError(int nPort, bool bReuse) {
    const int nSocket = socket(AF_INET, SOCK_STREAM, 0);
    const int nReuse = bReuse ? 1 : 0;
    setsockopt(nSocket, SOL_SOCKET, SO_REUSEADDR, &nReuse, sizeof nReuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    const int nError =
        bind(nSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 ? 0 : errno;
    close(nSocket);
    return nError;
}

class LoopbackForwarderTest : public ::testing::Test {
protected:
    LoopbackForwarderTest() {
        EXPECT_TRUE(m_curl.TQLibCurlInit("Content-Type: text/xml", false, false));
    }

    // Posts an empty commit to the update URL of the stand-in on strHostUrl; true when it was
    // answered with a success.
    bool PostCommit(const std::string &strHostUrl) {
        const std::string strUrl = strHostUrl + m_stub.UpdateUrl().substr(m_stub.HostUrl().size());
        const std::string strBody = "<commit />";
        return m_curl.TQLibCurlSendHttpReq2(1, strUrl, strBody.data(), strBody.size(), false,
                                            "idxtest-client", false);
    }

    EngineStub m_stub;
    LoopbackForwarder m_forwarder{m_stub.Port()};
    TQLibCurl m_curl;
};

} // namespace

TEST_F(LoopbackForwarderTest, EachEndOfAConnectionReachesTheClientAsTheStandInGaveIt) {
    struct Case {
        const char *szName;
        void (EngineStub::*pfnScript)(EngineRoute, int); // nullptr: the stand-in answers
        CURLcode eCode;
        const char *szText; // in the client's error text
    };
    const Case cases[] = {
        {"answered", nullptr, CURLE_OK, ""},
        {"dropped: the client reads the end of the stream", &EngineStub::DropNext,
         CURLE_GOT_NOTHING, "Empty reply from server"},
        {"reset: the client's read fails", &EngineStub::ResetNext, CURLE_RECV_ERROR,
         "Connection reset by peer"},
    };
    for (const Case &c : cases) {
        for (const std::string &strHostUrl : {m_stub.HostUrl(), m_forwarder.HostUrl()}) {
            SCOPED_TRACE(std::string(c.szName) + " on " + strHostUrl);
            if (c.pfnScript != nullptr) {
                (m_stub.*c.pfnScript)(EngineRoute::Update, 1);
            }
            const size_t nRequests = m_stub.RequestCount();
            EXPECT_EQ(c.eCode == CURLE_OK, PostCommit(strHostUrl));
            EXPECT_EQ(nRequests + 1, m_stub.RequestCount());
            if (c.eCode == CURLE_OK) {
                EXPECT_EQ(200, m_curl.GetHttpErrorCode());
            } else {
                EXPECT_NE(std::string::npos, m_curl.GetLastErrorText().find(CurlError(c.eCode)))
                    << m_curl.GetLastErrorText();
                EXPECT_NE(std::string::npos, m_curl.GetLastErrorText().find(c.szText))
                    << m_curl.GetLastErrorText();
            }
        }
    }
    EXPECT_EQ(3u, m_forwarder.ConnectionCount());
}

TEST_F(LoopbackForwarderTest, ARefusalWindowRefusesConnectionsAndHealsOnTheSamePort) {
    const int nPort = m_forwarder.Port();
    // Several windows, so that connections accepted before one (some now in TIME_WAIT on the
    // port) are there when the next heals.
    for (int nWindow = 1; nWindow <= 3; ++nWindow) {
        SCOPED_TRACE("window " + std::to_string(nWindow));
        ASSERT_TRUE(PostCommit(m_forwarder.HostUrl()));
        // A connection the forwarder took before the window goes on through it.
        const size_t nAccepted = m_forwarder.ConnectionCount();
        const int nOpen = ConnectTo(nPort);
        ASSERT_GE(nOpen, 0);
        ASSERT_TRUE(idxtest::WaitUntil([&] { return m_forwarder.ConnectionCount() > nAccepted; }));

        ASSERT_TRUE(m_forwarder.Refuse());
        EXPECT_TRUE(m_forwarder.IsRefusing());
        const size_t nRequests = m_stub.RequestCount();
        EXPECT_FALSE(PostCommit(m_forwarder.HostUrl()));
        EXPECT_NE(std::string::npos,
                  m_curl.GetLastErrorText().find(CurlError(CURLE_COULDNT_CONNECT)))
            << m_curl.GetLastErrorText();
        EXPECT_EQ(-1, ConnectTo(nPort));
        EXPECT_EQ(ECONNREFUSED, errno);
        EXPECT_EQ(nRequests, m_stub.RequestCount());
        // The port is still the forwarder's: no socket can bind it, even one that would share.
        EXPECT_EQ(EADDRINUSE, BindError(nPort, false));
        EXPECT_EQ(EADDRINUSE, BindError(nPort, true));

        const std::string strRequest = "GET /solr/collection1/admin/ping HTTP/1.1\r\nHost: "
                                       "127.0.0.1\r\nConnection: close\r\n\r\n";
        EXPECT_EQ(static_cast<ssize_t>(strRequest.size()),
                  send(nOpen, strRequest.data(), strRequest.size(), MSG_NOSIGNAL));
        std::string strAnswer;
        char szBuffer[4096];
        for (ssize_t nRead; (nRead = recv(nOpen, szBuffer, sizeof szBuffer, 0)) > 0;) {
            strAnswer.append(szBuffer, static_cast<size_t>(nRead));
        }
        close(nOpen);
        EXPECT_EQ(0u, strAnswer.rfind("HTTP/1.1 200", 0)) << strAnswer;

        ASSERT_TRUE(m_forwarder.Listen());
        EXPECT_FALSE(m_forwarder.IsRefusing());
        EXPECT_EQ(nPort, m_forwarder.Port());
        EXPECT_TRUE(PostCommit(m_forwarder.HostUrl())) << m_curl.GetLastErrorText();
        EXPECT_EQ(static_cast<size_t>(nWindow), m_forwarder.RefusalCount());
    }
}

#include "platform/TQLibCurl.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/RefusingPort.h"
#include <httplib.h>

#include "tests/support/TempDir.h"

namespace {

struct SRecordedRequest {
    std::string strMethod;
    std::string strPath;
    std::string strBody;
    std::vector<std::string> vecContentTypes;
    std::string strUserAgent;
    int nRemotePort;
};

// A loopback server that records every request. Routes: /echo (the body back), /admin/ping,
// /status/N (answers with status N), /big (5000 bytes), /bigstatus/N (5000 bytes with status N),
// /slow (waits until released, 5 s at most), /search.
class CTestHttpServer {
public:
    CTestHttpServer() {
        m_server.set_keep_alive_timeout(1);
        m_server.set_tcp_nodelay(true); // no delayed-ACK stalls between header and body writes
        m_server.Post("/echo", [this](const httplib::Request &req, httplib::Response &res) {
            Record(req);
            res.set_content(req.body, "application/octet-stream");
        });
        m_server.Get("/admin/ping", [this](const httplib::Request &req, httplib::Response &res) {
            Record(req);
            res.set_content("{\"status\":\"OK\"}", "application/json");
        });
        m_server.Post(
            R"(/status/(\d+))", [this](const httplib::Request &req, httplib::Response &res) {
                Record(req);
                res.status = std::stoi(req.matches[1].str());
                res.set_content("answer with status " + req.matches[1].str(), "text/plain");
            });
        m_server.Post("/big", [this](const httplib::Request &req, httplib::Response &res) {
            Record(req);
            res.set_content(std::string(5000, 'x'), "text/plain");
        });
        m_server.Post(R"(/bigstatus/(\d+))",
                      [this](const httplib::Request &req, httplib::Response &res) {
                          Record(req);
                          res.status = std::stoi(req.matches[1].str());
                          res.set_content(std::string(5000, 'y'), "text/plain");
                      });
        m_server.Post("/slow", [this](const httplib::Request &req, httplib::Response &res) {
            Record(req);
            std::unique_lock<std::mutex> lock(m_lock);
            m_cvReleased.wait_for(lock, std::chrono::seconds(5), [this] { return m_bReleased; });
            res.set_content("late", "text/plain");
        });
        m_server.Post("/search", [this](const httplib::Request &req, httplib::Response &res) {
            Record(req);
            res.set_content("<results>" + req.body + "</results>", "text/xml");
        });
        m_nPort = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!m_server.is_running() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~CTestHttpServer() {
        ReleaseSlow();
        m_server.stop();
        m_thread.join();
    }

    std::string Url(const std::string &strPath) const {
        return "http://127.0.0.1:" + std::to_string(m_nPort) + strPath;
    }

    std::vector<SRecordedRequest> Requests() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_vecRequests;
    }

    void ReleaseSlow() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bReleased = true;
        m_cvReleased.notify_all();
    }

private:
    void Record(const httplib::Request &req) {
        SRecordedRequest recorded{
            req.method,     req.path, req.body, {}, req.get_header_value("User-Agent"),
            req.remote_port};
        auto range = req.headers.equal_range("Content-Type");
        for (auto it = range.first; it != range.second; ++it) {
            recorded.vecContentTypes.push_back(it->second);
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_vecRequests.push_back(recorded);
    }

    httplib::Server m_server;
    int m_nPort = 0;
    std::thread m_thread;
    mutable std::mutex m_lock;
    std::condition_variable m_cvReleased;
    bool m_bReleased = false;
    std::vector<SRecordedRequest> m_vecRequests;
};

class TQLibCurlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_curl.TQLibCurlInit("Content-Type: text/xml", true, true));
        ASSERT_TRUE(m_curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_NOSIGNAL, 1));
    }

    bool Post(const std::string &strPath, const std::string &strBody) {
        return m_curl.TQLibCurlSendHttpReq2(1, m_server.Url(strPath), strBody.data(),
                                            strBody.size(), false, "testclient", false);
    }

    std::string Answer(bool *pbPresent = nullptr) {
        size_t nLength = 12345;
        const char *szAnswer = m_curl.GetHttpResponse(nLength, false);
        if (pbPresent) {
            *pbPresent = szAnswer != nullptr;
        }
        if (!szAnswer) {
            EXPECT_EQ(nLength, 0u);
            return std::string();
        }
        EXPECT_EQ(szAnswer[nLength], '\0');
        return std::string(szAnswer, nLength);
    }

    CTestHttpServer m_server; // declared first: outlives the handle and its open connection
    TQLibCurl m_curl;
};

TEST_F(TQLibCurlTest, PostDeliversBodiesExactlyAndReturnsAnswer) {
    std::string strLarge(3 * 1024 * 1024, '\0'); // large enough for libcurl to consider Expect
    for (size_t i = 0; i < strLarge.size(); ++i) {
        strLarge[i] = static_cast<char>(i * 7 % 251);
    }
    const std::string bodies[] = {std::string("head\0middle\0\xff\x01tail", 19), std::string(),
                                  strLarge};
    for (const std::string &strBody : bodies) {
        SCOPED_TRACE(strBody.size());
        ASSERT_TRUE(Post("/echo", strBody)) << m_curl.GetLastErrorText();
        EXPECT_EQ(m_curl.GetHttpErrorCode(), 200);
        bool bPresent = false;
        EXPECT_TRUE(Answer(&bPresent) == strBody);
        EXPECT_TRUE(bPresent);
        EXPECT_TRUE(m_curl.GetLastErrorText().empty());
    }

    std::vector<SRecordedRequest> vecRequests = m_server.Requests();
    ASSERT_EQ(vecRequests.size(), 3u);
    for (size_t i = 0; i < vecRequests.size(); ++i) {
        EXPECT_EQ(vecRequests[i].strMethod, "POST");
        EXPECT_TRUE(vecRequests[i].strBody == bodies[i]) << i;
        EXPECT_EQ(vecRequests[i].strUserAgent, "testclient");
    }
}

// A body read from memory in small pieces, as a file's content is read while it is sent; it can
// be told to end early.
class PieceSource : public TQLibCurl::CBodySource {
public:
    PieceSource(std::string strBody, size_t nEndsAfter)
        : m_strBody(std::move(strBody)), m_nEndsAfter(nEndsAfter) {}
    uint64_t GetSize() const override { return m_strBody.size(); }
    bool Rewind() override {
        m_nPos = 0;
        ++m_nRewinds;
        return true;
    }
    int64_t Read(char *pBuffer, size_t nMax) override {
        const size_t nEnd = std::min(m_strBody.size(), m_nEndsAfter);
        const size_t nCount = std::min({nMax, nEnd - m_nPos, size_t(7777)});
        if (nCount == 0) {
            return -1;
        }
        memcpy(pBuffer, m_strBody.data() + m_nPos, nCount);
        m_nPos += nCount;
        return static_cast<int64_t>(nCount);
    }
    int m_nRewinds = 0;

private:
    std::string m_strBody;
    size_t m_nEndsAfter;
    size_t m_nPos = 0;
};

TEST_F(TQLibCurlTest, AStreamedBodyArrivesWholeOnEveryRequestAndOneThatEndsEarlyFails) {
    std::string strBody(5 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < strBody.size(); ++i) {
        strBody[i] = static_cast<char>(i * 13 % 241);
    }
    PieceSource source(strBody, strBody.size());
    const std::string strUrl = m_server.Url("/echo");
    for (int nRequest = 0; nRequest < 2; ++nRequest) {
        ASSERT_TRUE(
            m_curl.TQLibCurlSendHttpReqFromSource(strUrl, source, false, "testclient", false))
            << m_curl.GetLastErrorText();
        EXPECT_TRUE(Answer() == strBody);
    }
    EXPECT_EQ(source.m_nRewinds, 2);

    PieceSource shortSource(strBody, 1024 * 1024);
    EXPECT_FALSE(
        m_curl.TQLibCurlSendHttpReqFromSource(strUrl, shortSource, false, "testclient", false));
    EXPECT_EQ(m_curl.GetLastFailure(), TQLibCurl::EFailure::eBodyUnreadable);

    // The handle is not left reading from a source: a plain post afterwards sends its own body.
    ASSERT_TRUE(Post("/echo", "plain")) << m_curl.GetLastErrorText();
    EXPECT_EQ(Answer(), "plain");

    std::vector<SRecordedRequest> vecRequests = m_server.Requests();
    ASSERT_GE(vecRequests.size(), 3u);
    EXPECT_TRUE(vecRequests[0].strBody == strBody);
    EXPECT_TRUE(vecRequests[1].strBody == strBody);
    EXPECT_EQ(vecRequests.back().strBody, "plain");
}

TEST_F(TQLibCurlTest, OnlyTwoHundredsSucceedAndEveryAnswerIsReadable) {
    struct {
        int nStatus;
        bool bSuccess;
    } cases[] = {{200, true},  {201, true},  {202, true},  {299, true}, {301, false},
                 {400, false}, {404, false}, {500, false}, {503, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.nStatus);
        std::string strStatus = std::to_string(c.nStatus);
        EXPECT_EQ(Post("/status/" + strStatus, "<add/>"), c.bSuccess);
        EXPECT_EQ(m_curl.GetHttpErrorCode(), c.nStatus);
        bool bPresent = false;
        EXPECT_EQ(Answer(&bPresent), "answer with status " + strStatus);
        EXPECT_TRUE(bPresent);
        EXPECT_EQ(m_curl.GetLastErrorText().empty(), c.bSuccess);
    }
}

TEST_F(TQLibCurlTest, NoConnectionGivesStatusZeroAndNoAnswer) {
    ASSERT_TRUE(Post("/status/500", "x") == false);
    ASSERT_EQ(m_curl.GetHttpErrorCode(), 500); // a status of an earlier request must not linger

    idxtest::RefusingPort refusing;
    EXPECT_FALSE(m_curl.TQLibCurlSendHttpReq2(1, refusing.Url("/echo"), "x", 1, false, "c", false));
    EXPECT_EQ(m_curl.GetHttpErrorCode(), 0);
    bool bPresent = true;
    Answer(&bPresent);
    EXPECT_FALSE(bPresent);
    EXPECT_FALSE(m_curl.GetLastErrorText().empty());
}

TEST_F(TQLibCurlTest, AppendedLinesReplaceTheDefaultOfTheSameName) {
    struct {
        std::vector<std::string> vecAppended;
        std::string strExpected;
    } cases[] = {
        {{}, "text/xml"},
        {{"Content-Type: text/json"}, "text/json"},
        {{"content-type:application/octet-stream"}, "application/octet-stream"},
        {{"Content-Type: text/json", "Content-Type: text/plain"}, "text/plain"},
        {{"x-www-form-urlencoded"}, "application/x-www-form-urlencoded"},
        {{"X-Other: 1"}, "text/xml"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.strExpected);
        m_curl.TQLibCurlFreeHttpHeaderList();
        for (const std::string &strLine : c.vecAppended) {
            ASSERT_TRUE(m_curl.TQLibCurlAppendHeader(0, strLine));
        }
        ASSERT_TRUE(Post("/echo", "<commit />"));
        std::vector<SRecordedRequest> vecRequests = m_server.Requests();
        ASSERT_FALSE(vecRequests.empty());
        EXPECT_EQ(vecRequests.back().vecContentTypes, std::vector<std::string>{c.strExpected});
    }
}

TEST_F(TQLibCurlTest, FreedHeaderListBringsTheDefaultBack) {
    ASSERT_TRUE(m_curl.TQLibCurlAppendHeader(0, "Content-Type: text/json"));
    ASSERT_TRUE(Post("/echo", "a"));
    ASSERT_TRUE(Post("/echo", "b")); // appended lines stay until freed
    m_curl.TQLibCurlFreeHttpHeaderList();
    ASSERT_TRUE(Post("/echo", "c"));
    std::vector<SRecordedRequest> vecRequests = m_server.Requests();
    ASSERT_EQ(vecRequests.size(), 3u);
    EXPECT_EQ(vecRequests[0].vecContentTypes, std::vector<std::string>{"text/json"});
    EXPECT_EQ(vecRequests[1].vecContentTypes, std::vector<std::string>{"text/json"});
    EXPECT_EQ(vecRequests[2].vecContentTypes, std::vector<std::string>{"text/xml"});
}

TEST_F(TQLibCurlTest, ASetHeaderLineHoldsUntilAnotherLineIsGivenOrTheHandleIsSetUpAgain) {
    // Each step: what is done to the header lines before a post, and the type that post sends.
    enum EStep { eSetJson, eSetOctet, eAppendPlain, eFree, eNothing, eInitAgain };
    const std::vector<std::pair<EStep, std::string>> vecSteps = {
        {eSetJson, "text/json"}, {eNothing, "text/json"},
        {eSetJson, "text/json"}, {eSetOctet, "application/octet-stream"},
        {eSetJson, "text/json"}, {eAppendPlain, "text/plain"},
        {eSetJson, "text/json"}, {eFree, "text/xml"},
        {eSetJson, "text/json"}, {eInitAgain, "text/xml"},
        {eSetJson, "text/json"},
    };
    for (const auto &step : vecSteps) {
        switch (step.first) {
        case eSetJson:
            ASSERT_TRUE(m_curl.TQLibCurlSetHeaderLine("Content-Type: text/json"));
            break;
        case eSetOctet:
            ASSERT_TRUE(m_curl.TQLibCurlSetHeaderLine("Content-Type: application/octet-stream"));
            break;
        case eAppendPlain:
            ASSERT_TRUE(m_curl.TQLibCurlAppendHeader(0, "Content-Type: text/plain"));
            break;
        case eFree:
            m_curl.TQLibCurlFreeHttpHeaderList();
            break;
        case eNothing:
            break;
        case eInitAgain:
            ASSERT_TRUE(m_curl.TQLibCurlInit("Content-Type: text/xml", true, true));
            break;
        }
        ASSERT_TRUE(Post("/echo", "x"));
    }
    EXPECT_FALSE(m_curl.TQLibCurlSetHeaderLine("Content-Type: a\r\nX-Injected: 1"));
    ASSERT_TRUE(Post("/echo", "x")); // a refused line leaves none appended: the default again

    std::vector<SRecordedRequest> vecRequests = m_server.Requests();
    ASSERT_EQ(vecRequests.size(), vecSteps.size() + 1);
    for (size_t i = 0; i < vecSteps.size(); ++i) {
        EXPECT_EQ(vecRequests[i].vecContentTypes, std::vector<std::string>{vecSteps[i].second})
            << "step " << i;
    }
    EXPECT_EQ(vecRequests.back().vecContentTypes, std::vector<std::string>{"text/xml"});
}

TEST_F(TQLibCurlTest, EachRequestCarriesItsOwnClientName) {
    const std::vector<std::string> vecNames = {"one", "one", "two", "", "one"};
    for (const std::string &strName : vecNames) {
        ASSERT_TRUE(
            m_curl.TQLibCurlSendHttpReq2(1, m_server.Url("/echo"), "x", 1, false, strName, false));
    }
    ASSERT_TRUE(m_curl.TQLibCurlInit("Content-Type: text/xml", true, true));
    ASSERT_TRUE(
        m_curl.TQLibCurlSendHttpReq2(1, m_server.Url("/echo"), "x", 1, false, "one", false));
    std::vector<SRecordedRequest> vecRequests = m_server.Requests();
    ASSERT_EQ(vecRequests.size(), vecNames.size() + 1);
    for (size_t i = 0; i < vecNames.size(); ++i) {
        EXPECT_EQ(vecRequests[i].strUserAgent, vecNames[i]) << "request " << i;
    }
    EXPECT_EQ(vecRequests.back().strUserAgent, "one");
}

TEST_F(TQLibCurlTest, MalformedHeaderLinesAreRefused) {
    EXPECT_FALSE(m_curl.TQLibCurlAppendHeader(1, "Content-Type: text/json"));
    EXPECT_FALSE(m_curl.TQLibCurlAppendHeader(0, ""));
    EXPECT_FALSE(m_curl.TQLibCurlAppendHeader(0, ": nameless"));
    EXPECT_FALSE(m_curl.TQLibCurlAppendHeader(0, "Content-Type: text/xml\r\nX-Injected: 1"));
    ASSERT_TRUE(Post("/echo", "a"));
    EXPECT_EQ(m_server.Requests().back().vecContentTypes, std::vector<std::string>{"text/xml"});
}

TEST_F(TQLibCurlTest, GetRequestAndDynamicTppmCheckLeaveTheirAnswers) {
    bool bUseDynamicTppm = true;
    ASSERT_TRUE(
        m_curl.TQLibCurlDynamiceTppmCheck(m_server.Url("/admin/ping"), "client", bUseDynamicTppm));
    EXPECT_FALSE(bUseDynamicTppm);
    size_t nLength = 0;
    const char *szAnswer = m_curl.GetHttpResponse(nLength, true);
    ASSERT_NE(szAnswer, nullptr);
    EXPECT_STREQ(szAnswer, "{\"status\":\"OK\"}");

    ASSERT_TRUE(m_curl.TQLibCurlSendHttpReq2(0, m_server.Url("/admin/ping"), nullptr, 0, false,
                                             "client", bUseDynamicTppm));
    EXPECT_EQ(Answer(), "{\"status\":\"OK\"}");
    std::vector<SRecordedRequest> vecRequests = m_server.Requests();
    ASSERT_EQ(vecRequests.size(), 2u);
    for (const SRecordedRequest &request : vecRequests) {
        EXPECT_EQ(request.strMethod, "GET");
        EXPECT_EQ(request.strUserAgent, "client");
    }

    idxtest::RefusingPort refusing;
    EXPECT_FALSE(
        m_curl.TQLibCurlDynamiceTppmCheck(refusing.Url("/admin/ping"), "client", bUseDynamicTppm));
    EXPECT_EQ(m_curl.GetHttpResponse(nLength, true), nullptr);
}

TEST_F(TQLibCurlTest, LoopbackNeverGoesThroughAProxy) {
    idxtest::RefusingPort deadProxy;
    std::string strProxy = deadProxy.Url("");
    setenv("http_proxy", strProxy.c_str(), 1);
    setenv("HTTP_PROXY", strProxy.c_str(), 1);
    bool bSent = Post("/echo", "direct");
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    EXPECT_TRUE(bSent) << m_curl.GetLastErrorText();
    EXPECT_EQ(Answer(), "direct");
}

TEST_F(TQLibCurlTest, RequestsReuseOneConnection) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Post("/echo", "ping " + std::to_string(i)));
    }
    std::vector<SRecordedRequest> vecRequests = m_server.Requests();
    ASSERT_EQ(vecRequests.size(), 3u);
    EXPECT_EQ(vecRequests[1].nRemotePort, vecRequests[0].nRemotePort);
    EXPECT_EQ(vecRequests[2].nRemotePort, vecRequests[0].nRemotePort);
}

TEST_F(TQLibCurlTest, IntegerOptionsApplyAndOthersAreRefused) {
    TQLibCurl fresh;
    EXPECT_FALSE(fresh.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_NOSIGNAL, 1));
    EXPECT_FALSE(m_curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_URL, 1));
    EXPECT_FALSE(m_curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_POSTFIELDSIZE_LARGE, 1));

    // A time-out set this way ends a request that the server holds.
    ASSERT_TRUE(m_curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_TIMEOUT_MS, 50));
    EXPECT_FALSE(Post("/slow", "x"));
    m_server.ReleaseSlow();
    EXPECT_EQ(m_curl.GetHttpErrorCode(), 0);
    // libcurl's time-out, at whatever stage it struck (on a busy machine even the loopback
    // address may not be resolved within 50 ms).
    EXPECT_NE(m_curl.GetLastErrorText().find("curl error 28:"), std::string::npos)
        << m_curl.GetLastErrorText();
    bool bPresent = true;
    Answer(&bPresent);
    EXPECT_FALSE(bPresent);
}

TEST_F(TQLibCurlTest, AnswersOverTheBoundAreRefused) {
    m_curl.SetMaxAnswerSize(1000);
    EXPECT_FALSE(Post("/big", ""));
    bool bPresent = true;
    Answer(&bPresent);
    EXPECT_FALSE(bPresent);
    EXPECT_NE(m_curl.GetLastErrorText().find("1000"), std::string::npos)
        << m_curl.GetLastErrorText();

    m_curl.SetMaxAnswerSize(5000);
    ASSERT_TRUE(Post("/big", ""));
    EXPECT_EQ(Answer(), std::string(5000, 'x'));
}

TEST_F(TQLibCurlTest, AnswersOverTheBoundAreCutWhenAskedAndCountByTheirStatus) {
    struct {
        const char *szPath;
        size_t nBound;
        bool bSuccess;
        int nStatus;
        std::string strAnswer;
        bool bCut;
    } cases[] = {
        {"/big", 1000, true, 200, std::string(1000, 'x'), true},
        {"/bigstatus/500", 1000, false, 500, std::string(1000, 'y'), true},
        {"/bigstatus/404", 4999, false, 404, std::string(4999, 'y'), true},
        {"/big", 5000, true, 200, std::string(5000, 'x'), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.szPath) + " " + std::to_string(c.nBound));
        m_curl.SetMaxAnswerSize(c.nBound, true);
        EXPECT_EQ(Post(c.szPath, ""), c.bSuccess) << m_curl.GetLastErrorText();
        EXPECT_EQ(m_curl.GetHttpErrorCode(), c.nStatus);
        bool bPresent = false;
        EXPECT_TRUE(Answer(&bPresent) == c.strAnswer);
        EXPECT_TRUE(bPresent);
        EXPECT_EQ(m_curl.IsAnswerCut(), c.bCut);
        EXPECT_EQ(m_curl.GetLastFailure(),
                  c.bSuccess ? TQLibCurl::EFailure::eNone : TQLibCurl::EFailure::eHttpStatus);
    }
}

TEST_F(TQLibCurlTest, FailuresTellAnUnusableUrlFromAnOutageAndNameTheClientsReason) {
    idxtest::RefusingPort refusing;
    const std::string strHttpsToPlain =
        "https://127.0.0.1:" +
        m_server.Url("/echo").substr(std::string("http://127.0.0.1:").size());
    struct {
        std::string strUrl;
        TQLibCurl::EFailure eFailure;
        const char *szReason; // part of the client's own text
    } cases[] = {
        {"ftp://127.0.0.1/solr/update", TQLibCurl::EFailure::eUnusableUrl, "curl error 1:"},
        {"htp://127.0.0.1/solr/update", TQLibCurl::EFailure::eUnusableUrl, "curl error 1:"},
        {"http://127.0.0.1:99999/solr/update", TQLibCurl::EFailure::eUnusableUrl, "curl error 3:"},
        {"http://[127.0.0.1/solr/update", TQLibCurl::EFailure::eUnusableUrl, "curl error 3:"},
        {"", TQLibCurl::EFailure::eUnusableUrl, "curl error 3:"},
        {refusing.Url("/echo"), TQLibCurl::EFailure::eTransport, "curl error 7:"},
        {strHttpsToPlain, TQLibCurl::EFailure::eTransport, "curl error 35:"},
        {m_server.Url("/status/503"), TQLibCurl::EFailure::eHttpStatus, "HTTP status 503"},
        {m_server.Url("/echo"), TQLibCurl::EFailure::eNone, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.strUrl);
        const bool bSent =
            m_curl.TQLibCurlSendHttpReq2(1, c.strUrl, "x", 1, false, "testclient", false);
        EXPECT_EQ(bSent, c.eFailure == TQLibCurl::EFailure::eNone);
        EXPECT_EQ(m_curl.GetLastFailure(), c.eFailure);
        if (*c.szReason) {
            EXPECT_NE(m_curl.GetLastErrorText().find(c.szReason), std::string::npos)
                << m_curl.GetLastErrorText();
        } else {
            EXPECT_TRUE(m_curl.GetLastErrorText().empty()) << m_curl.GetLastErrorText();
        }
    }
    EXPECT_EQ(m_server.Requests().size(), 2u);
}

// Records what the cancel check was told and answers as the test says.
class RecordingCancelCheck {
public:
    TQLibCurl::TQLibCurlCancelCheck Check() {
        return [this](const TQLibCurl::STransferState &state) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_vecStates.push_back(state);
            return state.bStarting ? m_bRefuseStart.load() : m_bCancel.load();
        };
    }
    std::vector<TQLibCurl::STransferState> States() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_vecStates;
    }

    std::atomic<bool> m_bCancel{false};
    std::atomic<bool> m_bRefuseStart{false};

private:
    std::mutex m_lock;
    std::vector<TQLibCurl::STransferState> m_vecStates;
};

TEST_F(TQLibCurlTest, CancelCheckGivesUpATransferThePeerHolds) {
    RecordingCancelCheck check;
    m_curl.SetCancelCheck(check.Check());

    bool bSent = true;
    std::thread request([&] { bSent = Post("/slow", "held"); });
    // The server holds the request until it is released (5 s at most): only the check can
    // end it before that.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (m_server.Requests().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(m_server.Requests().size(), 1u);
    check.m_bCancel = true;
    request.join();

    EXPECT_FALSE(bSent);
    EXPECT_EQ(m_curl.GetLastFailure(), TQLibCurl::EFailure::eCancelled);
    EXPECT_NE(m_curl.GetLastErrorText().find("cancelled"), std::string::npos)
        << m_curl.GetLastErrorText();
    EXPECT_EQ(m_curl.GetHttpErrorCode(), 0);
    bool bPresent = true;
    Answer(&bPresent);
    EXPECT_FALSE(bPresent);
    // Told once, first, that the request starts; then while it runs, with times that only grow.
    std::vector<TQLibCurl::STransferState> vecStates = check.States();
    ASSERT_GE(vecStates.size(), 2u);
    EXPECT_TRUE(vecStates[0].bStarting);
    for (size_t i = 1; i < vecStates.size(); ++i) {
        EXPECT_FALSE(vecStates[i].bStarting);
        EXPECT_GE(vecStates[i].llElapsedMs, vecStates[i - 1].llElapsedMs);
        EXPECT_LE(vecStates[i].llIdleMs, vecStates[i].llElapsedMs);
    }
    m_server.ReleaseSlow();

    // The handle serves the next request as before.
    check.m_bCancel = false;
    ASSERT_TRUE(Post("/echo", "after")) << m_curl.GetLastErrorText();
    EXPECT_EQ(Answer(), "after");
    EXPECT_EQ(m_curl.GetLastFailure(), TQLibCurl::EFailure::eNone);
}

TEST_F(TQLibCurlTest, CancelCheckRefusingTheStartSendsNothing) {
    RecordingCancelCheck check;
    check.m_bRefuseStart = true;
    m_curl.SetCancelCheck(check.Check());

    EXPECT_FALSE(Post("/echo", "never"));
    EXPECT_EQ(m_curl.GetLastFailure(), TQLibCurl::EFailure::eCancelled);
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_EQ(check.States().size(), 1u);

    m_curl.SetCancelCheck(TQLibCurl::TQLibCurlCancelCheck());
    EXPECT_TRUE(Post("/echo", "sent"));
    EXPECT_EQ(check.States().size(), 1u);
    EXPECT_EQ(m_server.Requests().size(), 1u);
}

TEST_F(TQLibCurlTest, UnknownRequestTypeAndUninitialisedHandleFail) {
    EXPECT_FALSE(m_curl.TQLibCurlSendHttpReq2(2, m_server.Url("/echo"), "x", 1, false, "", false));
    TQLibCurl fresh;
    EXPECT_FALSE(fresh.TQLibCurlSendHttpReq2(1, m_server.Url("/echo"), "x", 1, false, "", false));
    size_t nLength = 1;
    EXPECT_EQ(fresh.GetHttpResponse(nLength, false), nullptr);
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST(TqCurlReadStreamTest, DownloadStoresTheAnswerOrFailsWithoutAFile) {
    CTestHttpServer server;
    idxtest::TempDir dir;
    TqCurlReadStream stream;

    const std::string strRequest = "<TqSearchRequest mode=\"4\"/>";
    std::string strOutput = dir / "results.xml";
    CKyError error = stream.Download(strOutput, server.Url("/search"), strRequest);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    EXPECT_EQ(idxtest::ReadWholeFile(strOutput), "<results>" + strRequest + "</results>");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].strBody, strRequest);

    struct {
        std::string strUrl;
        std::string strNeedle;
    } cases[] = {{server.Url("/missing"), "404"}, {server.Url("/status/500"), "500"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.strUrl);
        std::string strFailed = dir / "failed.xml";
        error = stream.Download(strFailed, c.strUrl, strRequest);
        ASSERT_TRUE(error.IsError());
        EXPECT_NE(error.AsString().find(c.strUrl), std::string::npos) << error.AsString();
        EXPECT_NE(error.AsString().find(c.strNeedle), std::string::npos) << error.AsString();
        EXPECT_FALSE(std::filesystem::exists(strFailed));
    }

    std::string strUnwritable = dir / "no/such/folder/results.xml";
    error = stream.Download(strUnwritable, server.Url("/search"), strRequest);
    ASSERT_TRUE(error.IsError());
    EXPECT_NE(error.AsString().find(strUnwritable), std::string::npos) << error.AsString();
}

} // namespace

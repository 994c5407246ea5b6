// The search-result export against the engine stand-in's web-server route: the request record it
// posts and where, the user it runs for, and what becomes of the answer in the output file; and
// against web servers that hold the request: the job's quit flag and the idle limit end it.
#include "engine/FetchItemsFromSolr.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/FetchItemsFromSolrPrivate.h"
#include "foundation/FileData.h"
#include "platform/ContentIndexingMessages.h"
#include "platform/JobClients.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/WebServerInfo.h"
#include "tests/support/TempDir.h"
#include "tests/support/engine/EngineStub.h"

namespace {

using idxtest::EngineRoute;
using idxtest::EngineStub;

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// A web server on 127.0.0.1 that takes one connection at a time and then says nothing, or
// trickles a 200 answer one byte every nTrickleMs, until the client goes or the server is
// destroyed. Its pace is real time; the tests assert only what the export does about it.
class SlowWebServer {
public:
    // Ten result lines: trickled, they take half a minute, far beyond a shortened idle limit.
    static std::string Answer() {
        std::string strAnswer;
        for (char c = '0'; c <= '9'; ++c) {
            strAnswer += std::string("/slow/") + c + ".txt\n";
        }
        return strAnswer;
    }

    explicit SlowWebServer(int nTrickleMs) : m_nTrickleMs(nTrickleMs) {
        m_nListener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nSize = sizeof(address);
        if (m_nListener < 0 ||
            bind(m_nListener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
            listen(m_nListener, 4) != 0 ||
            getsockname(m_nListener, reinterpret_cast<sockaddr *>(&address), &nSize) != 0) {
            throw std::runtime_error("no loopback listener");
        }
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~SlowWebServer() {
        m_bStop.store(true);
        m_thread.join();
        close(m_nListener);
    }
    SlowWebServer(const SlowWebServer &) = delete;
    SlowWebServer &operator=(const SlowWebServer &) = delete;

    std::string HostUrl() const { return "http://127.0.0.1:" + std::to_string(m_nPort); }
    size_t AnswerBytesSent() const { return m_nAnswerBytesSent.load(); }

private:
    // Waits up to 100 ms for the socket to be readable; false once the server is to stop.
    bool Wait(int nSocket, int nMilliseconds) const {
        pollfd entry{nSocket, POLLIN, 0};
        poll(&entry, 1, nMilliseconds);
        return !m_bStop.load();
    }

    void Run() {
        while (Wait(m_nListener, 100)) {
            const int nClient = accept(m_nListener, nullptr, nullptr);
            if (nClient >= 0) {
                Serve(nClient);
                close(nClient);
            }
        }
    }

    void Serve(int nClient) {
        const std::string strAnswer = Answer();
        const std::string strHead = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                    "Content-Length: " +
                                    std::to_string(strAnswer.size()) + "\r\n\r\n";
        bool bHeadSent = false;
        size_t nSent = 0;
        while (Wait(nClient, m_nTrickleMs > 0 ? m_nTrickleMs : 100)) {
            char szBuffer[4096];
            const ssize_t nRead = recv(nClient, szBuffer, sizeof szBuffer, MSG_DONTWAIT);
            if (nRead == 0) {
                return; // the client went
            }
            if (m_nTrickleMs <= 0 || nSent == strAnswer.size()) {
                continue;
            }
            if (!bHeadSent) {
                bHeadSent = send(nClient, strHead.data(), strHead.size(), MSG_NOSIGNAL) ==
                            static_cast<ssize_t>(strHead.size());
            } else if (send(nClient, strAnswer.data() + nSent, 1, MSG_NOSIGNAL) == 1) {
                ++nSent;
                m_nAnswerBytesSent.store(nSent);
            } else {
                return;
            }
        }
    }

    const int m_nTrickleMs;
    int m_nListener = -1;
    int m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<size_t> m_nAnswerBytesSent{0};
    std::thread m_thread;
};

class FetchItemsFromSolrTest : public ::testing::Test {
protected:
    FetchItemsFromSolrTest() : m_log(7), m_strOutput(m_dir / "results.txt") {
        m_jobManager.SetTaskOption(EvTask::kOptionStartedByUser, "alice");
        idxtest::SetWebServerOnRecord(m_stub.HostUrl());
    }

    std::vector<idxtest::EngineRequest> Exports() const {
        return m_stub.Requests(EngineRoute::ExportSearchResults);
    }
    // The search request record of the last export request.
    PyxContentIndexing::TQSearchReq LastRequest() const {
        PyxContentIndexing::TQSearchReq request;
        std::vector<idxtest::EngineRequest> vecExports = Exports();
        EXPECT_FALSE(vecExports.empty());
        if (!vecExports.empty()) {
            EXPECT_EQ(request.unserialize(vecExports.back().strBody), 0);
        }
        return request;
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::WebServerOnRecordScope m_webServer;
    idxtest::JobManager m_jobManager;
    idxtest::LogCapture m_log;
    idxtest::TempDir m_dir;
    EngineStub m_stub;
    const std::string m_strOutput;
};

TEST_F(FetchItemsFromSolrTest, RequestCarriesTheSearchTheUserAndTheAskedFields) {
    m_stub.SetExportLines({"/data/a.txt", "/data/b.txt"});
    struct Case {
        int nForm; // 1: the one-argument form
        bool bDataType;
        bool bSize;
        const char *szFields;
    };
    const Case cases[] = {
        {1, false, false, "FAST_URL"},
        {3, false, false, "FAST_URL"},
        {3, true, false, "FAST_URL,DATA_TYPE"},
        {3, false, true, "FAST_URL,SIZEINKB"},
        {3, true, true, "FAST_URL,DATA_TYPE,SIZEINKB"},
    };
    // Both numbers beyond 32 bits: each is cut to its low 32 bits, the second taken as signed.
    CFetchItemsFromSolr fetch(0x100000005ULL, 0x2FFFFFFFEULL, "report AND budget");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szFields);
        m_stub.ClearRequests();
        CKyError error = c.nForm == 1 ? fetch.FetchItems(m_strOutput)
                                      : fetch.FetchItems(m_strOutput, c.bDataType, c.bSize);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        EXPECT_EQ(idxtest::ReadWholeFile(m_strOutput), "/data/a.txt\n/data/b.txt\n");

        ASSERT_EQ(Exports().size(), 1u);
        const idxtest::EngineRequest sent = Exports().front();
        EXPECT_EQ(sent.strMethod, "POST");
        EXPECT_EQ(sent.strPath, "/Stream/ExportSearchResults");
        EXPECT_EQ(sent.strQuery, "writer=1");

        PyxContentIndexing::TQSearchReq request = LastRequest();
        EXPECT_EQ(request.getint64(6), 4);

        CNMessageBase **ppUser = request.getObjectAccessor(false, false, 8, 8, 0, 0, 14, 1);
        ASSERT_TRUE(ppUser != nullptr);
        EXPECT_EQ((*ppUser)->getstring(2, 5), "alice");

        CNMessageBase **ppGroup = request.getObjectAccessor(
            false, false, 2, 2, 0, 0, PyxContentIndexing::TqAdvancedSearchGroup::kFamily,
            PyxContentIndexing::TqAdvancedSearchGroup::kType);
        ASSERT_TRUE(ppGroup != nullptr);
        CNMessageBase **ppText = (*ppGroup)->getObjectAccessor(false, false, 1, 1, 0, 0, 14, 154);
        ASSERT_TRUE(ppText != nullptr);
        EXPECT_EQ((*ppText)->getstring(1, 1), "report AND budget");
        std::vector<CNMessageBase> **ppSecurity = (*ppGroup)->getlistobject(7, 7, 0, 0, false);
        ASSERT_TRUE(ppSecurity != nullptr);
        ASSERT_EQ((*ppSecurity)->size(), 1u);
        const CNMessageBase &security = (**ppSecurity)[0];
        EXPECT_EQ(security.GetFamily(), PyxContentIndexing::TQOrbisSecurityGroup::kFamily);
        EXPECT_EQ(security.GetType(), PyxContentIndexing::TQOrbisSecurityGroup::kType);
        EXPECT_EQ(security.getint64(1), -2);
        ASSERT_TRUE(security.getlistint32(2, 2) != nullptr);
        EXPECT_EQ(*security.getlistint32(2, 2), std::vector<int32_t>{5});

        CNMessageBase **ppInfo = request.getObjectAccessor(
            false, false, 1, 1, 0, 0, PyxContentIndexing::SearchProcessingInfo::kFamily,
            PyxContentIndexing::SearchProcessingInfo::kType);
        ASSERT_TRUE(ppInfo != nullptr);
        std::vector<CNMessageBase> **ppParameters = (*ppInfo)->getlistobject(5, 5, 0, 0, false);
        ASSERT_TRUE(ppParameters != nullptr);
        const std::vector<std::pair<std::string, std::string>> vecExpected = {
            {"ENABLE_LATTICE_SEARCH", "TRUE"},     {"RESPONSE_FIELD_LIST", c.szFields},
            {"SORT_STYLE", "Ascending"},           {"SORTFIELD", "FAST_URL"},
            {"RESPONSE_FIELD_DISP_NAME_LIST", ""}, {"ENABLE_MIXEDVIEWSEARCH", "TRUE"}};
        ASSERT_EQ((*ppParameters)->size(), vecExpected.size());
        for (size_t i = 0; i < vecExpected.size(); ++i) {
            const CNMessageBase &parameter = (**ppParameters)[i];
            EXPECT_EQ(parameter.GetType(), PyxContentIndexing::SearchParameters::kType);
            EXPECT_EQ(parameter.getstring(1, 1), vecExpected[i].first) << i;
            EXPECT_EQ(parameter.getstring(2, 5), vecExpected[i].second) << i;
        }
    }
    EXPECT_EQ(m_log.CountAtLevel("Using user [alice] to fetch items from solr.", 1), 5u);
    EXPECT_EQ(m_log.CountAtLevel("WebServer URL [" + m_stub.HostUrl() +
                                     "/Stream/ExportSearchResults?writer=1], Search request [<",
                                 0),
              5u);
}

TEST_F(FetchItemsFromSolrTest, WebServerSettingIsTakenAsItStandsBeforeTheManagementServer) {
    m_stub.SetExportLines({"/x"});
    idxtest::SetPlatformSetting("FileSystemAgent", "WebServerURL", m_stub.HostUrl() + "/");
    idxtest::ResetWebServerOnRecord();

    CKyError error = CFetchItemsFromSolr(1, 2, "x").FetchItems(m_strOutput);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    ASSERT_EQ(Exports().size(), 1u);
    EXPECT_EQ(Exports().front().strPath, "//Stream/ExportSearchResults");
    EXPECT_EQ(idxtest::WebServerQueries(), 0);
    EXPECT_EQ(
        m_log.CountAtLevel("Found web server URL [" + m_stub.HostUrl() + "/] from registry.", 0),
        1u);
}

TEST_F(FetchItemsFromSolrTest, WithoutAWebServerTheManagementServersErrorComesBack) {
    idxtest::SetWebServerOnRecord("");
    CKyError error = CFetchItemsFromSolr(1, 2, "x").FetchItems(m_strOutput);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1168)) << error.AsString();
    EXPECT_EQ(idxtest::WebServerQueries(), 1);
    EXPECT_EQ(m_stub.RequestCount(), 0u);
    EXPECT_FALSE(FXFile::Exists(m_strOutput));
}

TEST_F(FetchItemsFromSolrTest, AnAnswerWithoutALineIsDeletedAndFails) {
    struct Case {
        const char *szAnswer;
        bool bEmpty;
    };
    for (const Case &c : {Case{"", true}, Case{"\n", false}, Case{"no line break", false},
                          Case{"/a\n/b\n", false}}) {
        SCOPED_TRACE(c.szAnswer);
        m_log.Clear();
        idxtest::EngineScript script;
        script.nStatus = 200;
        script.strBody = c.szAnswer;
        script.strContentType = "text/plain";
        m_stub.Script(EngineRoute::ExportSearchResults, script);

        CKyError error = CFetchItemsFromSolr(1, 2, "x").FetchItems(m_strOutput, true, true);
        if (c.bEmpty) {
            EXPECT_TRUE(FXErrorUtil::IsWin32(error, 4306)) << error.AsString();
            EXPECT_TRUE(HasText(error, "Index query returned 0 items")) << error.AsString();
            EXPECT_FALSE(FXFile::Exists(m_strOutput));
            EXPECT_EQ(m_log.CountAtLevel("Index query returned 0 items", 0), 1u);
        } else {
            EXPECT_FALSE(error.IsError()) << error.AsString();
            EXPECT_EQ(idxtest::ReadWholeFile(m_strOutput), c.szAnswer);
        }
    }
}

TEST_F(FetchItemsFromSolrTest, AFailedDownloadReturnsItsErrorAndLeavesNoFile) {
    struct Case {
        const char *szName;
        int nStatus; // 0: the connection is dropped
    };
    for (const Case &c : {Case{"refused", 500}, Case{"dropped", 0}}) {
        SCOPED_TRACE(c.szName);
        m_log.Clear();
        // An earlier result in the way must not pass for this one.
        ASSERT_FALSE(FXFile::WriteWholeFile(m_strOutput, "/old\n").IsError());
        if (c.nStatus != 0) {
            m_stub.FailNext(EngineRoute::ExportSearchResults, 1, c.nStatus);
        } else {
            m_stub.DropNext(EngineRoute::ExportSearchResults, 1);
        }

        CKyError error = CFetchItemsFromSolr(1, 2, "x").FetchItems(m_strOutput);
        EXPECT_TRUE(error.IsError());
        EXPECT_FALSE(FXErrorUtil::IsWin32(error, 4306)) << error.AsString();
        EXPECT_FALSE(FXFile::Exists(m_strOutput));
        EXPECT_EQ(m_log.CountAtLevel("Failed to download searchResults, error=", -1), 1u);
    }
}

TEST_F(FetchItemsFromSolrTest, WithoutTheUserWhoStartedTheJobNothingIsSearched) {
    struct Case {
        const char *szUser; // null: the job has no such option
        const char *szReason;
    };
    for (const Case &c : {Case{nullptr, "Failed to get user who started the job. Error ["},
                          Case{"", "Got user as empty who started the job."}}) {
        SCOPED_TRACE(c.szReason);
        if (c.szUser) {
            m_jobManager.SetTaskOption(EvTask::kOptionStartedByUser, c.szUser);
        } else {
            m_jobManager.RemoveTaskOption(EvTask::kOptionStartedByUser);
        }

        CKyError error = CFetchItemsFromSolr(1, 2, "x").FetchItems(m_strOutput);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774)) << error.AsString();
        EXPECT_TRUE(HasText(error, c.szReason)) << error.AsString();
        EXPECT_TRUE(Exports().empty());
        EXPECT_FALSE(FXFile::Exists(m_strOutput));
    }
    // The task record read is the running job's.
    m_jobManager.SetJobId(77);
    m_jobManager.SetTaskOption(EvTask::kOptionStartedByUser, "carol");
    std::string strUser;
    EXPECT_FALSE(CFetchItemsFromSolrPrivate(1, 2, "x").GetUserWhoStartedTheJob(strUser).IsError());
    EXPECT_EQ(strUser, "carol");
}

TEST_F(FetchItemsFromSolrTest, TheJobsQuitFlagGivesTheExportUpAndLeavesNoFile) {
    for (bool bWhileHeld : {false, true}) {
        SCOPED_TRACE(bWhileHeld ? "set while the web server holds the request" : "set before");
        m_stub.ClearRequests();
        m_jobManager.SetQuitFlag(!bWhileHeld);
        if (bWhileHeld) {
            m_stub.StallNext(EngineRoute::ExportSearchResults);
        }
        std::future<CKyError> result = std::async(std::launch::async, [this] {
            return CFetchItemsFromSolr(1, 2, "x").FetchItems(m_strOutput);
        });
        if (bWhileHeld) {
            ASSERT_TRUE(m_stub.WaitForStalled(1, 20000));
            m_jobManager.SetQuitFlag(true);
        }

        // The test ends because the export returns; the held request is still held.
        const CKyError error = result.get();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774)) << error.AsString();
        EXPECT_TRUE(HasText(error, "the job was asked to stop")) << error.AsString();
        EXPECT_FALSE(FXFile::Exists(m_strOutput));
        EXPECT_EQ(Exports().size(), bWhileHeld ? 1u : 0u);
        m_stub.ReleaseStalls();
    }
}

TEST_F(FetchItemsFromSolrTest, AWebServerThatSaysNothingOrTricklesIsGivenUpAtTheIdleLimit) {
    for (int nTrickleMs : {0, 250}) {
        SCOPED_TRACE(nTrickleMs == 0 ? "silent" : "a byte every 250 ms");
        SlowWebServer server(nTrickleMs);
        idxtest::SetPlatformSetting("FileSystemAgent", "WebServerURL", server.HostUrl());
        CFetchItemsFromSolrPrivate fetch(1, 2, "x");
        fetch.SetIdleLimitSeconds(1);

        const CKyError error = fetch.FetchItems(m_strOutput, false, false);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774)) << error.AsString();
        EXPECT_FALSE(HasText(error, "the job was asked to stop")) << error.AsString();
        EXPECT_FALSE(FXFile::Exists(m_strOutput));
        // A trickle is idle too: the answer never came whole.
        EXPECT_LT(server.AnswerBytesSent(), SlowWebServer::Answer().size());
    }
}

TEST_F(FetchItemsFromSolrTest, WhatIsAtAnOutputPathTheExportCannotOpenIsLeftAlone) {
    // A link to a folder: the export cannot write through it, and it is not the export's to
    // remove.
    const std::string strFolder = m_dir / "folder";
    ASSERT_FALSE(FXFile::CreateDirectory(strFolder, false).IsError());
    const std::string strLink = m_dir / "results.lnk";
    ASSERT_EQ(symlink(strFolder.c_str(), strLink.c_str()), 0);

    CKyError error = CFetchItemsFromSolr(1, 2, "x").FetchItems(strLink);
    EXPECT_TRUE(error.IsError());
    struct stat status;
    EXPECT_EQ(lstat(strLink.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_TRUE(FXFile::IsDirectory(strFolder));
    EXPECT_TRUE(Exports().empty());
}

TEST_F(FetchItemsFromSolrTest, EmptinessTestReadsOneLineAndDoubtsCountAsNotEmpty) {
    CFetchItemsFromSolrPrivate fetch(1, 2, "x");
    const std::string strLongLine(70000, 'a');
    struct Case {
        const char *szName;
        const std::string *pContent; // null: no file
        bool bEmpty;
    };
    const std::string strNothing;
    const std::string strBreak = "\n";
    for (const Case &c :
         {Case{"zero bytes", &strNothing, true}, Case{"line break", &strBreak, false},
          Case{"line longer than the buffer", &strLongLine, false},
          Case{"no file", nullptr, false}}) {
        SCOPED_TRACE(c.szName);
        const std::string strPath = m_dir / (std::string(c.szName) + ".txt");
        if (c.pContent) {
            ASSERT_FALSE(FXFile::WriteWholeFile(strPath, *c.pContent).IsError());
        }
        EXPECT_EQ(fetch.IsCollectEmpty(strPath), c.bEmpty);
    }
    EXPECT_EQ(m_log.CountAtLevel("Failed to open file to count lines, FileName=[" + m_dir.Path() +
                                     "/no file.txt]",
                                 -1),
              1u);
}

} // namespace

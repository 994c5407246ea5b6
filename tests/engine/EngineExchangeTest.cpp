// The engine exchange of a worker over real HTTP against the engine stand-in: how answers are read
// into the status the failure policy sees, the handle set-up on first use, header lines, the
// final outcomes and the URL length limit.
#include "engine/SolrTransmitterThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/RefusingPort.h"
#include "tests/support/TempDir.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::EngineRoute;
using idxtest::EngineScript;
using idxtest::EngineStub;

class EngineExchangeTest : public ::testing::Test {
protected:
    EngineExchangeTest() : m_log(7), m_rig(m_stub) {
        g_bEventSent.store(false);
        m_ptrCallback = boost::make_shared<idxtest::RecordingCallback>();
        m_rig.ptrOptions->SetCallback(m_ptrCallback);
    }
    ~EngineExchangeTest() override { g_bEventSent.store(false); }

    CKyError PostCommit() { return PostCommitOn(m_rig); }
    CKyError PostCommitOn(idxtest::OneShotRig &rig) {
        return rig.ptrWorker->Exchange().PostItems2(m_stub.UpdateUrl(), "<commit />",
                                                    CEngineExchange::kXmlHeaderLine);
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::LogCapture m_log;
    EngineStub m_stub;
    idxtest::OneShotRig m_rig;
    idxtest::RecordingCallbackPtr m_ptrCallback;
};

// What one failed answer turns into. No item was queued, so none of these is retried: the
// policy's log line and the exchange's "retCode" line show what the answer was read as.
struct AnswerCase {
    const char *szName;
    int nHttpStatus;
    std::string strBody;
    std::string strContentType;
    uint32_t nStatusSeen;      // retCode the exchange reports for the failed send
    std::string strPolicyLine; // a line the failure policy writes with the message, or ""
    uint32_t nResultCode;      // error number of the result
    bool bParseFails;
};

TEST_F(EngineExchangeTest, FailedAnswersAreReadIntoTheStatusThePolicySees) {
    const std::string kHtml = "text/html; charset=UTF-8";
    const std::string kXml = "application/xml; charset=UTF-8";
    const std::vector<AnswerCase> vecCases = {
        {"empty answer", 503, "", kXml, 999, "", 774, false},
        {"html page, trimmed, one full stop cut", 593,
         EngineStub::HtmlErrorPage(593, "Index is locked.  "), kHtml, 593,
         "Received error [Index is locked] from Index server", 774, false},
        {"html page ending in two full stops keeps one", 593,
         EngineStub::HtmlErrorPage(593, "Wait.."), kHtml, 593,
         "Received error [Wait.] from Index server", 774, false},
        {"engine answer gives its status element", 500,
         EngineStub::ErrorAnswer(400, "undefined field foo"), kXml, 400,
         "Received error []. Badly formed request", 400, false},
        {"engine answer with status 0", 500, EngineStub::OkAnswer(), kXml, 0, "", 774, false},
        {"engine message is not handed on", 500, EngineStub::ErrorAnswer(593, "busy"), kXml, 593,
         "Received error [] from Index server", 774, false},
        {"xml without a status element keeps the http status", 502,
         "<proxy><reason>upstream down</reason></proxy>", kXml, 502, "", 774, false},
        {"html page without pre keeps the http status", 504,
         "<html><body><h1>Gateway Timeout</h1></body></html>", kHtml, 504, "", 774, false},
        {"unreadable answer keeps the http status", 500, "<<< not xml", kXml, 500, "", 774, true},
        // An answer beyond the worker's 1 MiB is cut there and read by its HTTP status: the cut
        // page is no longer a document.
        {"answer beyond 1 MiB is cut and read by its status", 593,
         EngineStub::HtmlErrorPage(593, std::string(2 * 1024 * 1024, 'x')), kHtml, 593,
         "Received error [] from Index server", 774, true},
    };

    for (const AnswerCase &answer : vecCases) {
        SCOPED_TRACE(answer.szName);
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        m_log.Clear();
        EngineScript script;
        script.nStatus = answer.nHttpStatus;
        script.strBody = answer.strBody;
        script.strContentType = answer.strContentType;
        m_stub.Script(EngineRoute::Update, script);

        CKyError error = PostCommit();

        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(FXErrorUtil::GetWin32(error), answer.nResultCode);
        EXPECT_EQ(m_log.Count("retCode=[" + std::to_string(answer.nStatusSeen) + "]"), 1u);
        if (!answer.strPolicyLine.empty()) {
            EXPECT_EQ(m_log.CountAtLevel(answer.strPolicyLine, 1), 1u);
        }
        EXPECT_EQ(m_log.Count("Failed to parse http response"), answer.bParseFails ? 1u : 0u);
        EXPECT_EQ(m_log.Count("answer larger than 1048576 bytes refused"),
                  answer.nStatusSeen == 999 && !answer.strBody.empty() ? 1u : 0u);
        EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
        EXPECT_TRUE(m_rig.ptrState->IfPushDataToSolrFailed());
    }
}

TEST_F(EngineExchangeTest, SuccessfulSendIsSuccessWhateverTheAnswer) {
    // 2xx answers count as done; a 200 is not even read, another 2xx is read and only logged.
    EngineScript notXml;
    notXml.nStatus = 200;
    notXml.strBody = "this is not xml";
    m_stub.Script(EngineRoute::Update, notXml);
    EngineScript accepted;
    accepted.nStatus = 202;
    accepted.strBody = EngineStub::ErrorAnswer(400, "looked at later");
    m_stub.Script(EngineRoute::Update, accepted);

    EXPECT_FALSE(PostCommit().IsError());
    EXPECT_EQ(m_log.Count("Failed to parse http response"), 0u);
    EXPECT_FALSE(PostCommit().IsError());
    EXPECT_EQ(m_log.CountAtLevel("Processing failed, message=[looked at later], status=[400]", 6),
              1u);
    EXPECT_FALSE(m_rig.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_log.Count("http post failed"), 0u);
}

TEST_F(EngineExchangeTest, NeverStartedWorkerSetsItsHandleUpOnItsFirstPostOnly) {
    EXPECT_TRUE(m_rig.ptrWorker->HttpHeader().empty());

    ASSERT_FALSE(PostCommit().IsError());
    EXPECT_EQ(m_rig.ptrWorker->HttpHeader(), "Content-Type: text/xml");
    // The set-up's dynamic-TPPM check probes the ping URL once.
    ASSERT_EQ(m_stub.Requests(EngineRoute::Ping).size(), 1u);
    EXPECT_EQ(m_stub.Requests(EngineRoute::Ping)[0].strMethod, "GET");

    ASSERT_FALSE(PostCommit().IsError());
    EXPECT_EQ(m_stub.Requests(EngineRoute::Ping).size(), 1u);
    EXPECT_EQ(m_stub.CommitCount(), 2);
    for (const idxtest::EngineRequest &request : m_stub.Requests(EngineRoute::Update)) {
        EXPECT_EQ(request.Header("User-Agent"), "idxtest-client");
    }
}

TEST_F(EngineExchangeTest, EveryAttemptCarriesTheCallersHeaderLineAndBody) {
    idxtest::VirtualClock clock;
    m_rig.MarkItemsQueued(1);
    EngineScript empty;
    empty.nCount = 2;
    empty.nStatus = 503;
    m_stub.Script(EngineRoute::Update, empty);

    const std::string strBody = "<delete><query>data_source:x</query></delete>";
    CKyError error = m_rig.ptrWorker->Exchange().PostItems2(m_stub.UpdateUrl(), strBody,
                                                            "Content-Type: application/xml");

    ASSERT_FALSE(error.IsError()) << error.AsString();
    std::vector<idxtest::EngineRequest> vecRequests = m_stub.Requests(EngineRoute::Update);
    ASSERT_EQ(vecRequests.size(), 3u);
    for (const idxtest::EngineRequest &request : vecRequests) {
        EXPECT_EQ(request.Header("Content-Type"), "application/xml");
        EXPECT_EQ(request.strBody, strBody);
    }
    EXPECT_EQ(m_log.CountAtLevel("Making http request, url=[" + m_stub.UpdateUrl() + "]", 6), 3u);
    EXPECT_EQ(m_rig.ptrWorker->ConsecutiveFailures(), 0);
}

TEST_F(EngineExchangeTest, FinalStatus595IsSuccessWithThePushFailedFlag) {
    m_rig.ptrWorker->SetConsecutiveFailures(4);
    g_bEventSent.store(true);
    m_stub.FailNext(EngineRoute::Update, 1, 595);

    EXPECT_FALSE(PostCommit().IsError());

    EXPECT_TRUE(m_rig.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_rig.ptrWorker->ConsecutiveFailures(), 0);
    EXPECT_EQ(m_ptrCallback->ResetCount(), 1);
    EXPECT_FALSE(g_bEventSent.load());
    EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
}

TEST_F(EngineExchangeTest, SuccessWithdrawsAPendingReasonOnce) {
    g_bEventSent.store(true);

    ASSERT_FALSE(PostCommit().IsError());
    ASSERT_FALSE(PostCommit().IsError());

    EXPECT_EQ(m_ptrCallback->ResetCount(), 1);
    EXPECT_FALSE(g_bEventSent.load());
}

TEST_F(EngineExchangeTest, UrlOf64KiBOrMoreIsRefusedWholeAndNeverCut) {
    const std::string strBase = m_stub.UpdateUrl() + "?pad=";
    std::string strTooLong;
    for (size_t nLength : {size_t(65536), size_t(70000)}) {
        SCOPED_TRACE(nLength);
        strTooLong = strBase + std::string(nLength - strBase.size(), 'a');

        CKyError error = m_rig.ptrWorker->Exchange().PostItems2(strTooLong, "<commit />",
                                                                CEngineExchange::kXmlHeaderLine);

        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(FXErrorUtil::GetWin32(error), 87u);
        // The refusal names the URL's own length.
        EXPECT_NE(error.AsString().find("URL of " + std::to_string(nLength) + " bytes"),
                  std::string::npos)
            << error.AsString();
        EXPECT_TRUE(m_rig.ptrState->IfPushDataToSolrFailed());
        EXPECT_EQ(m_stub.RequestCount(), 0u);
    }

    // One byte less is within the limit: it is sent as it is (the stand-in may refuse it).
    const std::string strLongest = strTooLong.substr(0, 65535);
    CKyError error = m_rig.ptrWorker->Exchange().PostItems2(strLongest, "<commit />",
                                                            CEngineExchange::kXmlHeaderLine);
    EXPECT_FALSE(error.IsError() && FXErrorUtil::GetWin32(error) == 87u) << error.AsString();
    EXPECT_EQ(m_log.Count("Making http request, url=[" + strLongest + "]"), 1u);
}

TEST_F(EngineExchangeTest, EmptyUrlIsRefusedAndNeverRetried) {
    idxtest::VirtualClock clock;
    m_rig.MarkItemsQueued(1);

    CKyError error =
        m_rig.ptrWorker->Exchange().PostItems2("", "<commit />", CEngineExchange::kXmlHeaderLine);

    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(FXErrorUtil::GetWin32(error), 87u);
    EXPECT_TRUE(m_rig.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_stub.RequestCount(), 0u);
    EXPECT_EQ(m_log.Count("Thread going to sleep"), 0u);
}

TEST_F(EngineExchangeTest, ParseResultReadsAnswersAsTheEngineWritesThem) {
    // The parser on its own, for the cases the stand-in cannot produce as a failed send.
    struct ParseCase {
        const char *szName;
        uint32_t nStatusIn;
        std::string strAnswer;
        uint32_t nStatusOut;
        std::string strMessage;
    };
    const std::vector<ParseCase> vecCases = {
        {"200 is not read", 200, "<<< not xml", 200, ""},
        {"empty", 404, "", 999, ""},
        {"pre with tabs", 500, "<html><body><pre>\t bad gateway.\t</pre></body></html>", 500,
         "bad gateway"},
        {"status beyond 32 bits is no status", 500,
         "<response><lst name=\"responseHeader\"><int name=\"status\">4294967297</int></lst>"
         "</response>",
         500, ""},
        {"status with text after the digits is no status", 500,
         "<response><int name=\"status\">590 oom</int></response>", 500, ""},
    };
    for (const ParseCase &parse : vecCases) {
        SCOPED_TRACE(parse.szName);
        uint32_t nStatus = parse.nStatusIn;
        std::string strMessage;
        CKyError error =
            m_rig.ptrWorker->Exchange().ParseResult(parse.strAnswer, nStatus, strMessage);
        EXPECT_FALSE(error.IsError()) << error.AsString();
        EXPECT_EQ(nStatus, parse.nStatusOut);
        EXPECT_EQ(strMessage, parse.strMessage);
    }
}

TEST_F(EngineExchangeTest, FuzzedEngineAnswersAreReadOrLeftToTheirHttpStatus) {
    auto answer = [](const std::string &strStatus, const std::string &strRest = "") {
        return "<response><lst name=\"responseHeader\"><int name=\"status\">" + strStatus +
               "</int></lst>" + strRest + "</response>";
    };
    // Error lists nested far deeper than any engine writes, the message in the innermost.
    std::string strNested;
    for (int i = 0; i < 3000; ++i) {
        strNested += "<lst name=\"error\"><int name=\"code\">" + std::to_string(i) + "</int>";
    }
    strNested += "<str name=\"msg\">innermost</str>";
    for (int i = 0; i < 3000; ++i) {
        strNested += "</lst>";
    }
    struct FuzzCase {
        const char *szName;
        uint32_t nStatusIn;
        std::string strAnswer;
        uint32_t nStatusOut;
        bool bMalformed;
        std::string strMessage; // logged as the engine's message when the status is read
    };
    const std::vector<FuzzCase> vecCases = {
        // A status that does not fit 32 bits or is no decimal number is not read at all.
        {"2^32 does not wrap to 0", 500, answer("4294967296"), 500, true, ""},
        {"2^32 + 595 does not wrap to 595", 500, answer("4294967891"), 500, true, ""},
        {"twenty digits", 502, answer("18446744073709552211"), 502, true, ""},
        {"negative", 503, answer("-1"), 503, true, ""},
        {"sign", 503, answer("+590"), 503, true, ""},
        {"hexadecimal", 503, answer("0x24E"), 503, true, ""},
        {"empty element", 503, answer(""), 503, true, ""},
        {"blanks only", 503, answer(" \t\n"), 503, true, ""},
        {"digits then text", 503, answer("590 oom"), 503, true, ""},
        {"largest 32-bit number", 500, answer("4294967295"), 4294967295u, false, ""},
        {"blanks around the number", 500, answer(" 590\n"), 590, false, ""},
        {"leading zeros", 500, answer("00000000000000000000594"), 594, false, ""},
        {"status 0", 500, answer("0"), 0, false, ""},
        // The message: the first "msg" string below an error list, in document order.
        {"message below an error list", 500,
         answer("593", "<lst name=\"error\"><str name=\"msg\">index locked</str></lst>"), 593,
         false, "index locked"},
        {"a message outside every error list is not the message", 500,
         answer("593", "<str name=\"msg\">stray</str><lst name=\"other\"><str "
                       "name=\"msg\">other</str></lst><lst name=\"error\"><lst><str "
                       "name=\"msg\">nested</str></lst></lst>"),
         593, false, "nested"},
        {"first in document order", 500,
         answer("593", "<lst name=\"error\"><lst name=\"error\"><str name=\"msg\">inner</str>"
                       "</lst><str name=\"msg\">outer</str></lst>"),
         593, false, "inner"},
        {"error list as the root", 500,
         "<lst name=\"error\"><response><int name=\"status\">592</int></response><str "
         "name=\"msg\">root list</str></lst>",
         592, false, "root list"},
        {"deeply nested error lists", 500, answer("594", strNested), 594, false, "innermost"},
        {"error list without a message", 500, answer("596", "<lst name=\"error\"/>"), 596, false,
         ""},
    };
    for (const FuzzCase &fuzz : vecCases) {
        SCOPED_TRACE(fuzz.szName);
        m_log.Clear();
        uint32_t nStatus = fuzz.nStatusIn;
        std::string strMessage;
        CKyError error =
            m_rig.ptrWorker->Exchange().ParseResult(fuzz.strAnswer, nStatus, strMessage);
        EXPECT_FALSE(error.IsError()) << error.AsString();
        EXPECT_EQ(nStatus, fuzz.nStatusOut);
        EXPECT_EQ(strMessage, "");
        EXPECT_EQ(m_log.CountAtLevel("Malformed status element [", 1), fuzz.bMalformed ? 1u : 0u);
        if (!fuzz.bMalformed && fuzz.nStatusOut != 0 && fuzz.nStatusOut != fuzz.nStatusIn) {
            EXPECT_EQ(m_log.CountAtLevel("Processing failed, message=[" + fuzz.strMessage +
                                             "], status=[" + std::to_string(fuzz.nStatusOut) + "]",
                                         6),
                      1u);
        }
    }

    // Where it matters: a wrapped 595 made a failed post a success.
    idxtest::OneShotRig rig(m_stub);
    EngineScript wrapped;
    wrapped.nStatus = 500;
    wrapped.strBody = answer("4294967891");
    m_stub.Script(EngineRoute::Update, wrapped);
    CKyError error = rig.ptrWorker->Exchange().PostItems2(m_stub.UpdateUrl(), "<commit />",
                                                          "Content-Type: text/xml");
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(FXErrorUtil::GetWin32(error), 774u);
}

TEST_F(EngineExchangeTest, EmptyTwoHundredOfAnUpdateExtractOrCommitIsTheEmptyAnswer) {
    struct EmptyCase {
        const char *szName;
        EngineRoute eRoute;
        std::string strUrl;
        std::string strAnswer;
        bool bSuccess;
    };
    const std::vector<EmptyCase> vecCases = {
        {"commit", EngineRoute::Update, m_stub.UpdateUrl(), "", false},
        {"update with a query", EngineRoute::Update, m_stub.UpdateUrl() + "?wt=xml", "", false},
        {"extract with literal parameters", EngineRoute::Extract,
         m_stub.ExtractUrl() + "?&literal.contentid=k1", "", false},
        {"audit core", EngineRoute::Update, m_stub.AuditUrl(), "", false},
        {"any body is an answer", EngineRoute::Update, m_stub.UpdateUrl(), " ", true},
        {"ping", EngineRoute::Ping, m_stub.PingUrl(), "", true},
        {"folder statistics", EngineRoute::FolderStats, m_stub.FolderStatsUrl(), "", true},
    };
    for (const EmptyCase &empty : vecCases) {
        SCOPED_TRACE(empty.szName);
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        m_log.Clear();
        idxtest::OneShotRig rig(m_stub);
        ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
        m_stub.ClearRequests();
        m_stub.AnswerNext(empty.eRoute, 1, 200, empty.strAnswer);

        CKyError error = rig.ptrWorker->Exchange().PostItems2(empty.strUrl, "<commit />",
                                                              CEngineExchange::kXmlHeaderLine);

        EXPECT_EQ(m_stub.Requests(empty.eRoute).size(), 1u);
        if (empty.bSuccess) {
            EXPECT_FALSE(error.IsError()) << error.AsString();
            EXPECT_FALSE(rig.ptrState->IfPushDataToSolrFailed());
            EXPECT_EQ(m_log.Count("http post failed"), 0u);
        } else {
            // Nothing was queued, so the empty answer is not retried (the policy's gate).
            ASSERT_TRUE(error.IsError());
            EXPECT_EQ(FXErrorUtil::GetWin32(error), 774u);
            EXPECT_EQ(m_log.CountAtLevel("Empty response to solr post request", 6), 1u);
            EXPECT_EQ(m_log.CountAtLevel(
                          "http post failed, Request=[" + empty.strUrl + "], retCode=[999]", -1),
                      1u);
            EXPECT_TRUE(rig.ptrState->IfPushDataToSolrFailed());
        }
    }
}

TEST_F(EngineExchangeTest, AnswerOverTheBoundIsCutAndReadByItsStatus) {
    // Items were queued and the policy would retry an empty answer (999): a cut answer must not
    // be one. A retry limit bounds what an unbounded retry would do.
    idxtest::VirtualClock clock;
    idxtest::SetPlatformSetting("FileSystemAgent", "nResilientScanRetryCount", "1");
    const std::string strHuge(2 * 1024 * 1024, 'm');
    struct HugeCase {
        const char *szName;
        int nHttpStatus;
        std::string strBody;
        uint32_t nResultCode; // 0: success
        bool bPushFailed;
    };
    const std::vector<HugeCase> vecCases = {
        {"error answer", 500, EngineStub::ErrorAnswer(500, strHuge), 774, true},
        {"bad request", 400, EngineStub::ErrorAnswer(400, strHuge), 400, true},
        {"completed with errors", 595, EngineStub::HtmlErrorPage(595, strHuge), 0, true},
        {"success", 200, EngineStub::OkAnswer() + strHuge, 0, false},
    };
    for (const HugeCase &huge : vecCases) {
        SCOPED_TRACE(huge.szName);
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        m_log.Clear();
        idxtest::OneShotRig rig(m_stub);
        rig.MarkItemsQueued(1);
        ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
        m_stub.AnswerNext(EngineRoute::Update, 1, huge.nHttpStatus, huge.strBody);

        CKyError error = PostCommitOn(rig);

        EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
        if (huge.nResultCode == 0) {
            EXPECT_FALSE(error.IsError()) << error.AsString();
        } else {
            ASSERT_TRUE(error.IsError());
            EXPECT_EQ(FXErrorUtil::GetWin32(error), huge.nResultCode);
        }
        EXPECT_EQ(rig.ptrState->IfPushDataToSolrFailed(), huge.bPushFailed);
        EXPECT_EQ(m_log.Count("HTTP answer cut to its first 1048576 bytes"), 1u);
        EXPECT_EQ(m_log.Count("retCode=[999]"), 0u);
        EXPECT_EQ(m_log.Count("Thread going to sleep"), 0u);
    }
}

TEST_F(EngineExchangeTest, UrlTheClientCannotUseFailsAtOnceNamingItAndWhy) {
    // Were it taken for an outage, the empty-answer retries would run (bounded here by a retry
    // limit) on the virtual clock.
    idxtest::VirtualClock clock;
    idxtest::SetPlatformSetting("FileSystemAgent", "nResilientScanRetryCount", "1");
    const std::string strPort = std::to_string(m_stub.Port());
    struct UrlCase {
        const char *szName;
        std::string strUrl;
        const char *szReason; // part of the HTTP client's own text
    };
    const std::vector<UrlCase> vecCases = {
        {"unsupported scheme", "ftp://127.0.0.1:" + strPort + "/solr/collection1/update",
         "curl error 1:"},
        {"misspelt scheme", "htp://127.0.0.1:" + strPort + "/solr/collection1/update",
         "curl error 1:"},
        {"port out of range", "http://127.0.0.1:99999/solr/collection1/update", "curl error 3:"},
        {"unclosed address bracket", "http://[127.0.0.1:" + strPort + "/solr/collection1/update",
         "curl error 3:"},
    };
    for (const UrlCase &url : vecCases) {
        SCOPED_TRACE(url.szName);
        m_log.Clear();
        idxtest::OneShotRig rig(m_stub);
        rig.MarkItemsQueued(1);
        ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
        m_stub.ClearRequests();

        CKyError error = rig.ptrWorker->Exchange().PostItems2(url.strUrl, "<commit />",
                                                              CEngineExchange::kXmlHeaderLine);

        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(FXErrorUtil::GetWin32(error), 87u);
        EXPECT_NE(error.AsString().find("URL [" + url.strUrl + "]"), std::string::npos)
            << error.AsString();
        EXPECT_NE(error.AsString().find(url.szReason), std::string::npos) << error.AsString();
        EXPECT_EQ(m_log.CountAtLevel("http post failed, the URL cannot be used, Request=[" +
                                         url.strUrl + "], error=",
                                     -1),
                  1u);
        EXPECT_TRUE(rig.ptrState->IfPushDataToSolrFailed());
        EXPECT_EQ(m_log.Count("Making http request"), 1u);
        EXPECT_EQ(m_log.Count("Thread going to sleep"), 0u);
        EXPECT_TRUE(m_stub.Requests().empty());
    }
}

TEST_F(EngineExchangeTest, EveryFailedTransferLogsTheClientsOwnReason) {
    idxtest::RefusingPort refusing;
    const std::string strHttpsToPlain =
        "https://127.0.0.1:" + std::to_string(m_stub.Port()) + "/solr/collection1/update";
    struct FailedCase {
        const char *szName;
        std::string strUrl;
        std::string strClientError;
        int nHttpStatus;
        uint32_t nRetCode;
    };
    const std::vector<FailedCase> vecCases = {
        {"nothing listens", refusing.Url("/solr/collection1/update"), "curl error 7:", 0, 999},
        {"https to a plain port", strHttpsToPlain, "curl error 35:", 0, 999},
        {"error status", m_stub.UpdateUrl(), "HTTP status 503", 503, 503},
    };
    for (const FailedCase &failed : vecCases) {
        SCOPED_TRACE(failed.szName);
        m_log.Clear();
        m_stub.ClearScripts();
        idxtest::OneShotRig rig(m_stub);
        ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
        m_stub.AnswerNext(EngineRoute::Update, 1, 503, "<html><body>busy</body></html>");

        CKyError error = rig.ptrWorker->Exchange().PostItems2(failed.strUrl, "<commit />",
                                                              CEngineExchange::kXmlHeaderLine);

        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(FXErrorUtil::GetWin32(error), 774u);
        EXPECT_EQ(m_log.CountAtLevel("http post failed, Request=[" + failed.strUrl +
                                         "], retCode=[" + std::to_string(failed.nRetCode) + "]",
                                     -1),
                  1u);
        std::vector<std::string> vecClientLines;
        for (const idxtest::CapturedLogLine &line : m_log.Lines()) {
            if (line.strText.rfind("HTTP client error=[", 0) == 0 && line.nLevel == -1) {
                vecClientLines.push_back(line.strText);
            }
        }
        ASSERT_EQ(vecClientLines.size(), 1u);
        EXPECT_NE(vecClientLines[0].find(failed.strClientError), std::string::npos)
            << vecClientLines[0];
        EXPECT_NE(vecClientLines[0].find("HTTP status=[" + std::to_string(failed.nHttpStatus) +
                                         "], Request=[" + failed.strUrl + "]"),
                  std::string::npos)
            << vecClientLines[0];
    }
}

TEST_F(EngineExchangeTest, OneShotRequestAfterAnAbortIsSentButNotHeldByAStalledEngine) {
    // The commit of the end of a job still reaches an engine that answers; a stalled one is
    // given up once the request has moved nothing for a while.
    for (const bool bStalled : {false, true}) {
        SCOPED_TRACE(bStalled ? "stalled engine" : "engine answers");
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        m_log.Clear();
        idxtest::OneShotRig rig(m_stub);
        ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
        rig.ptrOptions->SetAborted(true);
        if (bStalled) {
            m_stub.StallNext(EngineRoute::Update);
        }
        const int nCommitsBefore = m_stub.CommitCount();

        std::future<CKyError> posted =
            std::async(std::launch::async, [&] { return PostCommitOn(rig); });
        const bool bEnded = posted.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        m_stub.ReleaseStalls();
        ASSERT_TRUE(bEnded);
        CKyError error = posted.get();

        EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
        if (bStalled) {
            ASSERT_TRUE(error.IsError());
            EXPECT_EQ(FXErrorUtil::GetWin32(error), 774u);
            EXPECT_EQ(m_log.CountAtLevel("http post given up, the transmitter is aborted or the "
                                         "worker is stopping, Request=[" +
                                             m_stub.UpdateUrl() + "]",
                                         -1),
                      1u);
            EXPECT_TRUE(rig.ptrState->IfPushDataToSolrFailed());
        } else {
            EXPECT_FALSE(error.IsError()) << error.AsString();
            EXPECT_EQ(m_stub.CommitCount(), nCommitsBefore + 1);
        }
    }
}

// ---- The same faults through a running transmitter: every queued item is accepted by the
// engine or listed in the failures file.

class EngineExchangeJobTest : public ::testing::Test {
protected:
    EngineExchangeJobTest() : m_log(7) { g_bEventSent.store(false); }
    ~EngineExchangeJobTest() override {
        // Nothing the transmitters' end of the job sends may be held.
        m_stub.ClearScripts();
        m_stub.ReleaseStalls();
        g_bEventSent.store(false);
    }

    // A metadata job with one worker in a folder of its own; its callback is m_ptrCallback.
    std::unique_ptr<idxtest::EngineTransmitter> MakeTransmitter(const idxtest::TempDir &dir) {
        auto ptrTransmitter = std::make_unique<idxtest::EngineTransmitter>();
        idxtest::PointOptionsAtStub(ptrTransmitter->Options(), m_stub);
        ptrTransmitter->Options().SetSubClientDir(dir.Path());
        m_ptrCallback = boost::make_shared<idxtest::RecordingCallback>();
        EXPECT_FALSE(ptrTransmitter->SetCallback(m_ptrCallback).IsError());
        return ptrTransmitter;
    }

    std::vector<std::string> QueueFiles(idxtest::EngineTransmitter &transmitter,
                                        const idxtest::TempDir &dir, int nFiles, int nFirst = 0) {
        std::vector<std::string> vecFiles;
        for (int i = nFirst; i < nFirst + nFiles; ++i) {
            vecFiles.push_back(dir.WriteFile("files/f" + std::to_string(i) + ".txt", "data"));
            EXPECT_FALSE(transmitter.BuildAndAddToQueue(vecFiles.back(), 1, 100 + i, false, false)
                             .IsError());
        }
        return vecFiles;
    }

    // One file goes through; then nFiles more are queued while the worker reports it, so that
    // they make one batch, which the engine holds. The files of that batch.
    std::vector<std::string> QueueHeldBatch(idxtest::EngineTransmitter &transmitter,
                                            const idxtest::TempDir &dir, int nFiles) {
        m_ptrCallback->HoldProgress();
        QueueFiles(transmitter, dir, 1);
        EXPECT_TRUE(m_ptrCallback->WaitForProgress(1, 20000));
        m_stub.StallNext(EngineRoute::Update, -1);
        std::vector<std::string> vecFiles = QueueFiles(transmitter, dir, nFiles, 1);
        m_ptrCallback->ReleaseProgress();
        EXPECT_TRUE(m_stub.WaitForStalled(1, 20000));
        return vecFiles;
    }

    static bool WorkerIdle(idxtest::EngineTransmitter &transmitter) {
        const std::list<IIdxTransmitterThreadPtr> lstWorkers = transmitter.State().GetWorkers();
        return !lstWorkers.empty() && lstWorkers.front()->IsTransmitterIdle();
    }

    // The paths the failures file lists, in order.
    static std::vector<std::string> Listed(idxtest::EngineTransmitter &transmitter,
                                           const idxtest::TempDir &dir) {
        transmitter.State().CloseSolrFailuresFile();
        std::vector<std::string> vecListed;
        std::istringstream lines(idxtest::ReadWholeFile(dir / "SolrBackupFailures.tqf"));
        for (std::string strLine; std::getline(lines, strLine);) {
            vecListed.push_back(strLine);
        }
        return vecListed;
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::LogCapture m_log;
    EngineStub m_stub;
    idxtest::RecordingCallbackPtr m_ptrCallback;
};

TEST_F(EngineExchangeJobTest, EveryQueuedItemIsAcceptedOrListedWhateverTheEngineAnswers) {
    // The 10 s wait before the empty answer is retried is virtual.
    idxtest::VirtualClock clock;
    const int kFiles = 3;
    struct JobCase {
        const char *szName;
        std::function<void(EngineStub &)> fnScript;
        std::string strUpdateUrl; // empty: the stand-in's
        size_t nAccepted;
        bool bRetried;
    };
    const std::vector<JobCase> vecCases = {
        {"200 with an empty body is retried",
         [](EngineStub &stub) { stub.AnswerNext(EngineRoute::Update, 1, 200, ""); }, "", 3, true},
        {"an error answer beyond the bound fails at once",
         [](EngineStub &stub) {
             stub.AnswerNext(EngineRoute::Update, 1000, 500,
                             EngineStub::ErrorAnswer(500, std::string(2 * 1024 * 1024, 'e')));
         },
         "", 0, false},
        {"a URL the client cannot use fails at once", [](EngineStub &) {},
         "ftp://127.0.0.1:" + std::to_string(m_stub.Port()) + "/solr/collection1/update", 0, false},
    };
    for (const JobCase &job : vecCases) {
        SCOPED_TRACE(job.szName);
        m_log.Clear();
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        m_stub.ClearDocuments();
        idxtest::TempDir dir;
        auto ptrTransmitter = MakeTransmitter(dir);
        if (!job.strUpdateUrl.empty()) {
            ptrTransmitter->Options().SetCompleteSolrUrl(job.strUpdateUrl);
        }
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        job.fnScript(m_stub);

        const std::vector<std::string> vecFiles = QueueFiles(*ptrTransmitter, dir, kFiles);
        ASSERT_TRUE(idxtest::WaitUntil(
            [&] {
                return m_stub.DocumentCount() + ptrTransmitter->GetFailedItemCount() == kFiles &&
                       WorkerIdle(*ptrTransmitter);
            },
            20000));

        EXPECT_EQ(m_stub.DocumentCount(), job.nAccepted);
        EXPECT_EQ(m_log.Count("Thread going to sleep") != 0, job.bRetried);
        const std::vector<std::string> vecListed = Listed(*ptrTransmitter, dir);
        EXPECT_EQ(vecListed.size() + job.nAccepted, static_cast<size_t>(kFiles));
        if (job.nAccepted == 0) {
            EXPECT_EQ(vecListed, vecFiles);
        }
        EXPECT_EQ(ptrTransmitter->IfPushDataToSolrFailed(), job.nAccepted == 0);
        m_stub.ClearScripts();
    }
}

TEST_F(EngineExchangeJobTest, FailedBatchesLeaveTheLastFailureAsTheReason) {
    struct ReasonCase {
        const char *szName;
        int nHttpStatus;
        std::string strBody;
        std::string strContentType;
        uint32_t nStatusSeen;
        std::string strMessage;
    };
    const std::vector<ReasonCase> vecCases = {
        {"engine answer", 404, EngineStub::ErrorAnswer(404, "no such core: collection9"),
         "application/xml; charset=UTF-8", 404, "no such core: collection9"},
        {"error page of the web container", 500,
         EngineStub::HtmlErrorPage(500, "Servlet failed: out of threads."),
         "text/html; charset=UTF-8", 500, "Servlet failed: out of threads"},
    };
    for (const ReasonCase &failure : vecCases) {
        SCOPED_TRACE(failure.szName);
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        m_log.Clear();
        idxtest::TempDir dir;
        auto ptrTransmitter = MakeTransmitter(dir);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        EngineScript script;
        script.nCount = -1;
        script.nStatus = failure.nHttpStatus;
        script.strBody = failure.strBody;
        script.strContentType = failure.strContentType;
        m_stub.Script(EngineRoute::Update, script);

        QueueFiles(*ptrTransmitter, dir, 2);
        ASSERT_TRUE(
            idxtest::WaitUntil([&] { return ptrTransmitter->GetFailedItemCount() == 2; }, 20000));

        EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
        EXPECT_EQ(ptrTransmitter->GetSolrFailureReason(),
                  "Index Engine request failed, status=[" + std::to_string(failure.nStatusSeen) +
                      "], message=[" + failure.strMessage + "], error=[HTTP status " +
                      std::to_string(failure.nHttpStatus) + "]. ");
        // The failed request's line gives the engine's own words.
        EXPECT_GE(m_log.CountAtLevel("http post failed, Request=[" + m_stub.UpdateUrl() +
                                         "], retCode=[" + std::to_string(failure.nStatusSeen) +
                                         "], message=[" + failure.strMessage + "]",
                                     -1),
                  1u);
        m_stub.ClearScripts();
    }
}

TEST_F(EngineExchangeJobTest, AbortStopOrQuitFlagCutsABatchTheEngineHolds) {
    struct EndCase {
        const char *szName;
        std::function<CKyError(idxtest::EngineTransmitter &, idxtest::RecordingCallback &)> fnEnd;
    };
    const std::vector<EndCase> vecCases = {
        {"abort",
         [](idxtest::EngineTransmitter &t, idxtest::RecordingCallback &) { return t.Abort(true); }},
        {"stop",
         [](idxtest::EngineTransmitter &t, idxtest::RecordingCallback &) { return t.Stop(); }},
        {"quit flag",
         [](idxtest::EngineTransmitter &, idxtest::RecordingCallback &callback) {
             callback.SetQuitFlag(true);
             return CKyError::Success();
         }},
    };
    const int kFiles = 3;
    for (const EndCase &end : vecCases) {
        SCOPED_TRACE(end.szName);
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        m_stub.ClearDocuments();
        m_log.Clear();
        idxtest::TempDir dir;
        auto ptrTransmitter = MakeTransmitter(dir);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        const std::vector<std::string> vecFiles = QueueHeldBatch(*ptrTransmitter, dir, kFiles);

        std::future<CKyError> ended = std::async(
            std::launch::async, [&] { return end.fnEnd(*ptrTransmitter, *m_ptrCallback); });
        // Generous bounds, against a hang only: the engine holds the batch until released.
        const bool bEnded =
            idxtest::WaitUntil([&] { return ptrTransmitter->GetFailedItemCount() == kFiles; },
                               20000) &&
            ended.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        if (!bEnded) {
            m_stub.ClearScripts();
            m_stub.ReleaseStalls();
        }
        EXPECT_TRUE(bEnded);
        EXPECT_FALSE(ended.get().IsError());

        // The first file was accepted, the held batch is listed: 1 + kFiles queued.
        EXPECT_EQ(m_stub.DocumentCount(), 1u);
        EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 2u);
        EXPECT_EQ(m_log.CountAtLevel("http post given up, the transmitter is aborted or the "
                                     "worker is stopping",
                                     -1),
                  1u);
        EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
        EXPECT_EQ(Listed(*ptrTransmitter, dir), vecFiles);
        m_stub.ClearScripts();
        m_stub.ReleaseStalls();
    }
}

TEST_F(EngineExchangeJobTest, EndOfJobAfterAnAbortIsNotHeldByAStalledEngine) {
    idxtest::TempDir dir;
    auto ptrTransmitter = MakeTransmitter(dir);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    const std::vector<std::string> vecFiles = QueueHeldBatch(*ptrTransmitter, dir, 2);

    std::future<void> ended = std::async(std::launch::async, [&] {
        ptrTransmitter->Abort(true);
        ptrTransmitter->WaitAndCommit();
    });
    const bool bEnded = ended.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!bEnded) {
        m_stub.ClearScripts();
        m_stub.ReleaseStalls();
    }
    ASSERT_TRUE(bEnded);
    ended.get();

    // The commit was still sent, and given up behind the stalled engine.
    std::vector<idxtest::EngineRequest> vecUpdates = m_stub.Requests(EngineRoute::Update);
    ASSERT_EQ(vecUpdates.size(), 3u);
    EXPECT_EQ(vecUpdates[2].strBody, "<commit />");
    EXPECT_EQ(m_log.CountAtLevel("Failed to send commit to solr, error=", -1), 1u);
    EXPECT_EQ(m_stub.DocumentCount(), 1u);
    EXPECT_EQ(Listed(*ptrTransmitter, dir), vecFiles);
    // The transmitter's destructor ends the job once more.
    m_stub.ClearScripts();
    m_stub.ReleaseStalls();
}

} // namespace

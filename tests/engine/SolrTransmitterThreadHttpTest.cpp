// The worker's HTTP exchange over real HTTP against the engine stand-in: how answers are read
// into the status the failure policy sees, the handle set-up on first use, header lines, the
// final outcomes and the URL length limit.
#include "engine/SolrTransmitterThread.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::EngineRoute;
using idxtest::EngineScript;
using idxtest::EngineStub;

class SolrTransmitterThreadHttpTest : public ::testing::Test {
protected:
    SolrTransmitterThreadHttpTest() : m_log(7), m_rig(m_stub) {
        g_bEventSent.store(false);
        m_ptrCallback = boost::make_shared<idxtest::RecordingCallback>();
        m_rig.ptrOptions->SetCallback(m_ptrCallback);
    }
    ~SolrTransmitterThreadHttpTest() override { g_bEventSent.store(false); }

    CKyError PostCommit() {
        return m_rig.ptrWorker->PostItems2(m_stub.UpdateUrl(), "<commit />",
                                           CSolrTransmitterThread::kXmlHeaderLine);
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

TEST_F(SolrTransmitterThreadHttpTest, FailedAnswersAreReadIntoTheStatusThePolicySees) {
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
        // An answer beyond the worker's 1 MiB is refused by the handle, never held or parsed:
        // nothing came back that could be read.
        {"answer beyond 1 MiB is not read", 593,
         EngineStub::HtmlErrorPage(593, std::string(2 * 1024 * 1024, 'x')), kHtml, 999, "", 774,
         false},
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

TEST_F(SolrTransmitterThreadHttpTest, SuccessfulSendIsSuccessWhateverTheAnswer) {
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

TEST_F(SolrTransmitterThreadHttpTest, NeverStartedWorkerSetsItsHandleUpOnItsFirstPostOnly) {
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

TEST_F(SolrTransmitterThreadHttpTest, EveryAttemptCarriesTheCallersHeaderLineAndBody) {
    idxtest::VirtualClock clock;
    m_rig.MarkItemsQueued(1);
    EngineScript empty;
    empty.nCount = 2;
    empty.nStatus = 503;
    m_stub.Script(EngineRoute::Update, empty);

    const std::string strBody = "<delete><query>data_source:x</query></delete>";
    CKyError error =
        m_rig.ptrWorker->PostItems2(m_stub.UpdateUrl(), strBody, "Content-Type: application/xml");

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

TEST_F(SolrTransmitterThreadHttpTest, FinalStatus595IsSuccessWithThePushFailedFlag) {
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

TEST_F(SolrTransmitterThreadHttpTest, SuccessWithdrawsAPendingReasonOnce) {
    g_bEventSent.store(true);

    ASSERT_FALSE(PostCommit().IsError());
    ASSERT_FALSE(PostCommit().IsError());

    EXPECT_EQ(m_ptrCallback->ResetCount(), 1);
    EXPECT_FALSE(g_bEventSent.load());
}

TEST_F(SolrTransmitterThreadHttpTest, UrlOf64KiBOrMoreIsRefusedWholeAndNeverCut) {
    const std::string strBase = m_stub.UpdateUrl() + "?pad=";
    std::string strTooLong;
    for (size_t nLength : {size_t(65536), size_t(70000)}) {
        SCOPED_TRACE(nLength);
        strTooLong = strBase + std::string(nLength - strBase.size(), 'a');

        CKyError error = m_rig.ptrWorker->PostItems2(strTooLong, "<commit />",
                                                     CSolrTransmitterThread::kXmlHeaderLine);

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
    CKyError error = m_rig.ptrWorker->PostItems2(strLongest, "<commit />",
                                                 CSolrTransmitterThread::kXmlHeaderLine);
    EXPECT_FALSE(error.IsError() && FXErrorUtil::GetWin32(error) == 87u) << error.AsString();
    EXPECT_EQ(m_log.Count("Making http request, url=[" + strLongest + "]"), 1u);
}

TEST_F(SolrTransmitterThreadHttpTest, EmptyUrlIsRefusedAndNeverRetried) {
    idxtest::VirtualClock clock;
    m_rig.MarkItemsQueued(1);

    CKyError error =
        m_rig.ptrWorker->PostItems2("", "<commit />", CSolrTransmitterThread::kXmlHeaderLine);

    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(FXErrorUtil::GetWin32(error), 87u);
    EXPECT_TRUE(m_rig.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_stub.RequestCount(), 0u);
    EXPECT_EQ(m_log.Count("Thread going to sleep"), 0u);
}

TEST_F(SolrTransmitterThreadHttpTest, ParseResultReadsAnswersAsTheEngineWritesThem) {
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
        {"status beyond 32 bits keeps the low bits", 500,
         "<response><lst name=\"responseHeader\"><int name=\"status\">4294967297</int></lst>"
         "</response>",
         1, ""},
        {"status with text after the digits", 500,
         "<response><int name=\"status\">590 oom</int></response>", 590, ""},
    };
    for (const ParseCase &parse : vecCases) {
        SCOPED_TRACE(parse.szName);
        uint32_t nStatus = parse.nStatusIn;
        std::string strMessage;
        CKyError error = m_rig.ptrWorker->ParseResult(parse.strAnswer, nStatus, strMessage);
        EXPECT_FALSE(error.IsError()) << error.AsString();
        EXPECT_EQ(nStatus, parse.nStatusOut);
        EXPECT_EQ(strMessage, parse.strMessage);
    }
}

} // namespace

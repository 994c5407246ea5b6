// The abort state: one answer to "aborted?" and "quit flag?", sticky, and what an exception of the
// job's quit query makes of the answer.
#include <atomic>
#include <stdexcept>

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "platform/EventThread.h"
#include "platform/testing/LogCapture.h"
#include "transmitter/AbortState.h"
#include "transmitter/SolrTransmitterPrivate.h"

namespace {

// A job whose quit query counts its calls, answers the flag the test sets, or throws.
class CountingQuitQuery : public CSolrTransmitterCallback {
public:
    bool IsQuitFlagSet() override {
        ++m_nQueries;
        if (m_bThrow) {
            throw std::runtime_error("quit query lost its connection");
        }
        return m_bQuit.load();
    }
    std::atomic<bool> m_bQuit{false};
    std::atomic<bool> m_bThrow{false};
    std::atomic<int> m_nQueries{0};
};

TEST(AbortStateTest, OnceOnTheAnswerNeverAsksTheJobAgain) {
    auto ptrJob = boost::make_shared<CountingQuitQuery>();
    CAbortState abort;
    abort.SetCallback(ptrJob);
    EXPECT_FALSE(abort.IsAborted());
    EXPECT_FALSE(abort.IsAbortFlagSet());
    EXPECT_EQ(1, ptrJob->m_nQueries.load());

    abort.SetAborted(true);
    EXPECT_TRUE(abort.IsAbortFlagSet());
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(abort.IsAborted());
    }
    EXPECT_EQ(1, ptrJob->m_nQueries.load());
}

TEST(AbortStateTest, TheFlagAloneNeverAsksTheJob) {
    auto ptrJob = boost::make_shared<CountingQuitQuery>();
    ptrJob->m_bQuit = true;
    CAbortState abort;
    abort.SetCallback(ptrJob);
    EXPECT_FALSE(abort.IsAbortFlagSet());
    EXPECT_EQ(0, ptrJob->m_nQueries.load());
    // The quit question changes nothing.
    EXPECT_TRUE(abort.IsQuitFlagSet());
    EXPECT_FALSE(abort.IsAbortFlagSet());
    // The full test turns the abort on.
    EXPECT_TRUE(abort.IsAborted());
    EXPECT_TRUE(abort.IsAbortFlagSet());
}

TEST(AbortStateTest, AnAbortEventTurnsTheAbortOn) {
    auto ptrEvent = boost::make_shared<FXEvent>(0u);
    CAbortState abort;
    abort.SetAbortEvent(ptrEvent);
    EXPECT_FALSE(abort.IsAborted());
    EXPECT_FALSE(abort.IsQuitFlagSet());
    ptrEvent->Set();
    EXPECT_TRUE(abort.IsAborted());
    EXPECT_TRUE(abort.IsAbortFlagSet());
}

TEST(AbortStateTest, AQuitQueryThatThrowsIsPassedOnOrTakenAsNotAborted) {
    struct Case {
        const char *szName;
        CAbortState::EJobFault eFault;
        bool bThrows;
        size_t nLogLines;
    };
    const Case cases[] = {
        {"passed on", CAbortState::ePassOn, true, 0},
        {"not aborted, logged", CAbortState::eNotAbortedLogged, false, 1},
        {"not aborted, quiet", CAbortState::eNotAbortedQuiet, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        auto ptrJob = boost::make_shared<CountingQuitQuery>();
        ptrJob->m_bThrow = true;
        CAbortState abort;
        abort.SetCallback(ptrJob);
        idxtest::LogCapture capture(0);
        if (c.bThrows) {
            EXPECT_THROW(abort.IsAborted(c.eFault), std::runtime_error);
        } else {
            EXPECT_FALSE(abort.IsAborted(c.eFault));
        }
        EXPECT_EQ(c.nLogLines, capture.CountAtLevel("Abort test failed, error=", -1));
        EXPECT_FALSE(abort.IsAbortFlagSet());
        // The next test asks again.
        ptrJob->m_bThrow = false;
        ptrJob->m_bQuit = true;
        EXPECT_TRUE(abort.IsAborted(c.eFault));
    }
}

TEST(AbortStateTest, TheRecordAndTheSharedStateAnswerFromOneState) {
    CSolrTransmitterPrivate state(nullptr, eIDX_Transmitter_Solr);
    auto ptrJob = boost::make_shared<CountingQuitQuery>();
    state.m_ptrOptions->SetCallback(ptrJob);
    EXPECT_FALSE(state.Abort().IsAborted());
    ptrJob->m_bQuit = true;
    EXPECT_TRUE(state.m_ptrOptions->IsQuitJobQuitFlagSet());
    EXPECT_TRUE(state.Abort().IsQuitFlagSet());
    EXPECT_TRUE(state.m_ptrOptions->IsAborted());
    // The record's test turned the one flag on.
    EXPECT_TRUE(state.Abort().IsAbortFlagSet());

    CSolrTransmitterPrivate other(nullptr, eIDX_Transmitter_Solr);
    other.Abort().SetAborted(true);
    EXPECT_TRUE(other.m_ptrOptions->IsAborted());
}

} // namespace

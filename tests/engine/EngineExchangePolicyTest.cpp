// The engine failure policy, status by status, over real HTTP against the engine stand-in and on
// the virtual clock, so that the 10, 30 and 60 second waits cost nothing and can be summed
// exactly. Also: one pending reason per failure episode across transmitters, the abort of a
// non-resilient transmitter, and retries that end once a worker is stopped or aborted.
#include "engine/SolrTransmitterThread.h"

#include <gtest/gtest.h>

#include <chrono>

#include <boost/make_shared.hpp>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::EngineRoute;
using idxtest::EngineScript;
using idxtest::EngineStub;

const char *const kSection = "FileSystemAgent";
const char *const kEngineDown =
    "Failed to push data to Index Engine. Please verify that the Index Engine is running. ";

std::string PendingText(uint32_t nStatus) {
    return "Failed to push data to Index Engine. Please verify that the Index Engine is "
           "running. Error Code[ " +
           std::to_string(nStatus) + " ]";
}

int64_t VirtualSeconds(int64_t llTicksBefore) {
    return (idxtest::VirtualClock::Ticks() - llTicksBefore) / 10000000;
}

class EngineExchangePolicyTest : public ::testing::Test {
protected:
    EngineExchangePolicyTest() : m_log(7) { g_bEventSent.store(false); }
    ~EngineExchangePolicyTest() override { g_bEventSent.store(false); }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::VirtualClock m_clock;
    idxtest::LogCapture m_log;
    EngineStub m_stub;
};

// One failing request, as the policy's table and settings decide it.
struct PolicyCase {
    const char *szName;
    uint32_t nStatus;
    bool bItemsQueued;
    const char *szResilient;  // "nResilientScan", nullptr when absent
    const char *szRetryCount; // "nResilientScanRetryCount", nullptr when absent
    long long llMax;          // consecutive-failures threshold
    long long llMaxMem;       // out-of-memory retry limit
    int nFailures;            // failed answers before the stand-in answers well
    // Expected:
    size_t nAttempts;
    uint32_t nResultCode; // 0: success
    int64_t llWaitSeconds;
    size_t nPendingReasons;
    int nResets;
    std::string strAbortReason; // empty: not aborted
};

TEST_F(EngineExchangePolicyTest, EachStatusIsHandledAsItsRowSays) {
    const int kAlways = 1000;
    const std::vector<PolicyCase> vecCases = {
        // Never retried.
        {"400 is final at once", 400, true, nullptr, nullptr, 10, 10, kAlways, 1, 400, 0, 0, 0, ""},
        {"593 is final at once", 593, true, nullptr, nullptr, 10, 10, kAlways, 1, 774, 0, 0, 0, ""},
        {"595 is a success", 595, true, nullptr, nullptr, 10, 10, kAlways, 1, 0, 0, 0, 0, ""},
        {"unknown status", 503, true, nullptr, nullptr, 10, 10, kAlways, 1, 774, 0, 0, 0, ""},
        {"999 before anything was queued", 999, false, nullptr, nullptr, 10, 10, kAlways, 1, 774, 0,
         0, 0, ""},
        {"601 before anything was queued", 601, false, nullptr, nullptr, 10, 10, kAlways, 1, 774, 0,
         0, 0, ""},
        // Below-limit waits, then the abort of non-resilient mode.
        {"590 retried MaxMem+1 times", 590, false, "0", nullptr, 10, 2, kAlways, 4, 774, 180, 0, 0,
         "Index Engine ran out of memory. "},
        {"999 waits 10 s below Max", 999, true, "0", nullptr, 3, 10, kAlways, 3, 774, 20, 0, 0,
         kEngineDown},
        {"601 waits 30 s below 3 x Max", 601, true, "0", nullptr, 2, 10, kAlways, 6, 774, 150, 0, 0,
         kEngineDown},
        {"592 aborts at once", 592, true, "0", nullptr, 10, 10, kAlways, 1, 774, 0, 0, 0,
         "Index Engine ran out of disk space. "},
        {"597 aborts at once", 597, true, "0", nullptr, 10, 10, kAlways, 1, 774, 0, 0, 0,
         "Fleetserver is not reachable or services are down. "},
        // Resilient mode: one pending reason, 10 s waits, bounded by the retry count.
        {"999 with a retry count", 999, true, nullptr, "3", 1, 10, kAlways, 4, 774, 30, 1, 0, ""},
        {"590 with a retry count", 590, true, "1", "3", 10, 1, kAlways, 4, 774, 130, 1, 0, ""},
        {"592 counted only with a retry count", 592, true, nullptr, "2", 10, 10, kAlways, 3, 774,
         20, 1, 0, ""},
        {"597 counted only with a retry count, 10 s apart", 597, true, nullptr, "2", 10, 10,
         kAlways, 3, 774, 20, 1, 0, ""},
        {"597 without limit until the engine recovers", 597, true, nullptr, nullptr, 10, 10, 5, 6,
         0, 50, 1, 1, ""},
        {"592 without limit until the engine recovers", 592, true, "7", nullptr, 10, 10, 3, 4, 0,
         30, 1, 1, ""},
        {"999 episode: nine waits, then handled", 999, true, nullptr, nullptr, 10, 10, 12, 13, 0,
         120, 1, 1, ""},
    };

    for (const PolicyCase &policy : vecCases) {
        SCOPED_TRACE(policy.szName);
        idxtest::ResetPlatformSettings();
        if (policy.szResilient) {
            idxtest::SetPlatformSetting(kSection, "nResilientScan", policy.szResilient);
        }
        if (policy.szRetryCount) {
            idxtest::SetPlatformSetting(kSection, "nResilientScanRetryCount", policy.szRetryCount);
        }
        g_bEventSent.store(false);
        m_stub.ClearScripts();
        m_stub.ClearRequests();

        idxtest::OneShotRig rig(m_stub);
        auto ptrCallback = boost::make_shared<idxtest::RecordingCallback>();
        rig.ptrOptions->SetCallback(ptrCallback);
        rig.ptrOptions->SetMaxConsecutiveFailuresThreshold(policy.llMax);
        rig.ptrOptions->SetMaxRetryOnMemoryFailures(policy.llMaxMem);
        if (policy.bItemsQueued) {
            rig.MarkItemsQueued(1);
        }
        // Set the handle up first, so that only the request under test meets the scripts.
        ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
        if (policy.nStatus == 999) {
            EngineScript empty;
            empty.nCount = policy.nFailures;
            empty.nStatus = 503;
            m_stub.Script(EngineRoute::Update, empty);
        } else {
            m_stub.FailNext(EngineRoute::Update, policy.nFailures,
                            static_cast<int>(policy.nStatus));
        }

        const int64_t llTicks = idxtest::VirtualClock::Ticks();
        CKyError error = rig.ptrWorker->Exchange().PostItems2(m_stub.UpdateUrl(), "<commit />",
                                                              CEngineExchange::kXmlHeaderLine);

        EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), policy.nAttempts);
        if (policy.nResultCode == 0) {
            EXPECT_FALSE(error.IsError()) << error.AsString();
        } else {
            ASSERT_TRUE(error.IsError());
            EXPECT_EQ(FXErrorUtil::GetWin32(error), policy.nResultCode);
        }
        EXPECT_EQ(VirtualSeconds(llTicks), policy.llWaitSeconds);

        const auto vecPending = ptrCallback->PendingReasons();
        ASSERT_EQ(vecPending.size(), policy.nPendingReasons);
        for (const auto &pending : vecPending) {
            EXPECT_EQ(pending.first, static_cast<long>(policy.nStatus));
            EXPECT_EQ(pending.second, PendingText(policy.nStatus));
        }
        EXPECT_EQ(ptrCallback->ResetCount(), policy.nResets);

        EXPECT_EQ(rig.ptrOptions->IsAborted(), !policy.strAbortReason.empty());
        // An abort's reason stays; otherwise a request that did not end well leaves its status
        // as the reason.
        const std::string strReason = rig.ptrState->GetSolrFailureReason();
        if (!policy.strAbortReason.empty()) {
            EXPECT_EQ(strReason, policy.strAbortReason);
        } else if (policy.nResultCode != 0 || policy.nStatus == 595) {
            EXPECT_EQ(strReason.rfind("Index Engine request failed, status=[" +
                                          std::to_string(policy.nStatus) + "]",
                                      0),
                      0u)
                << strReason;
        } else {
            EXPECT_EQ(strReason, "");
        }
        EXPECT_EQ(rig.ptrWorker->GetError().IsError(), !policy.strAbortReason.empty());
        // Every request that did not end well leaves the push-failed flag; 595 too.
        EXPECT_EQ(rig.ptrState->IfPushDataToSolrFailed(),
                  policy.nResultCode != 0 || policy.nStatus == 595);
    }
}

TEST_F(EngineExchangePolicyTest, WaitsAreLoggedWithTheirLengthsAndCounts) {
    idxtest::OneShotRig rig(m_stub);
    rig.MarkItemsQueued(1);
    rig.ptrOptions->SetMaxConsecutiveFailuresThreshold(1);
    idxtest::SetPlatformSetting(kSection, "nResilientScan", "0");
    ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
    m_stub.FailNext(EngineRoute::Update, 3, 601);

    rig.ptrWorker->Exchange().PostItems2(m_stub.UpdateUrl(), "<commit />",
                                         CEngineExchange::kXmlHeaderLine);

    EXPECT_EQ(m_log.CountAtLevel("Thread going to sleep for 30 seconds while waiting for server "
                                 "to start responding, current consecutive failures=1",
                                 1),
              1u);
    EXPECT_EQ(m_log.CountAtLevel("current consecutive failures=2", 1), 1u);
    EXPECT_EQ(m_log.CountAtLevel("Consecutive post request failures have reached the "
                                 "MaxConsecutiveFailure[1]",
                                 0),
              1u);

    // The empty-answer line has a blank after "failures=".
    idxtest::OneShotRig second(m_stub);
    second.MarkItemsQueued(1);
    ASSERT_FALSE(second.ptrWorker->Exchange().InitializeCurlObject().IsError());
    m_stub.DropNext(EngineRoute::Update, 1);
    EXPECT_FALSE(second.ptrWorker->Exchange()
                     .PostItems2(m_stub.UpdateUrl(), "<commit />", CEngineExchange::kXmlHeaderLine)
                     .IsError());
    EXPECT_EQ(m_log.CountAtLevel("Thread going to sleep for 10 seconds while waiting for server "
                                 "to start responding, current consecutive failures= 1",
                                 1),
              1u);
}

TEST_F(EngineExchangePolicyTest, OnePendingReasonPerEpisodeAcrossTransmitters) {
    idxtest::SetPlatformSetting(kSection, "nResilientScanRetryCount", "1");
    idxtest::OneShotRig first(m_stub);
    idxtest::OneShotRig second(m_stub);
    auto ptrFirstCallback = boost::make_shared<idxtest::RecordingCallback>();
    auto ptrSecondCallback = boost::make_shared<idxtest::RecordingCallback>();
    first.ptrOptions->SetCallback(ptrFirstCallback);
    second.ptrOptions->SetCallback(ptrSecondCallback);
    ASSERT_FALSE(first.ptrWorker->Exchange().InitializeCurlObject().IsError());
    ASSERT_FALSE(second.ptrWorker->Exchange().InitializeCurlObject().IsError());
    auto post = [this](idxtest::OneShotRig &rig) {
        return rig.ptrWorker->Exchange().PostItems2(m_stub.UpdateUrl(), "<commit />",
                                                    CEngineExchange::kXmlHeaderLine);
    };

    // The first transmitter's failure starts the episode: one report, one retry, then given up.
    m_stub.FailNext(EngineRoute::Update, 2, 592);
    EXPECT_TRUE(post(first).IsError());
    EXPECT_EQ(ptrFirstCallback->PendingReasons().size(), 1u);
    EXPECT_TRUE(g_bEventSent.load());

    // The other transmitter fails within the same episode: no second report.
    m_stub.FailNext(EngineRoute::Update, 2, 592);
    EXPECT_TRUE(post(second).IsError());
    EXPECT_TRUE(ptrSecondCallback->PendingReasons().empty());

    // Its next successful post ends the episode and withdraws the reason through its own job.
    EXPECT_FALSE(post(second).IsError());
    EXPECT_EQ(ptrSecondCallback->ResetCount(), 1);
    EXPECT_EQ(ptrFirstCallback->ResetCount(), 0);
    EXPECT_FALSE(g_bEventSent.load());

    // A new failure is a new episode: reported again.
    m_stub.FailNext(EngineRoute::Update, 1, 592);
    EXPECT_TRUE(post(first).IsError());
    EXPECT_EQ(ptrFirstCallback->PendingReasons().size(), 2u);
}

TEST_F(EngineExchangePolicyTest, NoRetryOnceTheWorkerIsStoppedOrTheTransmitterAborted) {
    struct StopCase {
        const char *szName;
        bool bAbort;
        const char *szResilient;
        size_t nPendingReasons;
    };
    const std::vector<StopCase> vecCases = {
        {"stop requested, below the limit", false, nullptr, 0},
        {"aborted, resilient: reported, not retried", true, nullptr, 1},
        {"aborted, non-resilient", true, "0", 0},
    };
    for (const StopCase &stop : vecCases) {
        SCOPED_TRACE(stop.szName);
        idxtest::ResetPlatformSettings();
        if (stop.szResilient) {
            idxtest::SetPlatformSetting(kSection, "nResilientScan", stop.szResilient);
        }
        g_bEventSent.store(false);
        m_stub.ClearScripts();
        m_stub.ClearRequests();
        idxtest::OneShotRig rig(m_stub);
        auto ptrCallback = boost::make_shared<idxtest::RecordingCallback>();
        rig.ptrOptions->SetCallback(ptrCallback);
        rig.MarkItemsQueued(1);
        ASSERT_FALSE(rig.ptrWorker->Exchange().InitializeCurlObject().IsError());
        if (stop.bAbort) {
            rig.ptrOptions->SetAborted(true);
        } else {
            rig.ptrWorker->InternalStop();
        }
        m_stub.DropNext(EngineRoute::Update, 1000);

        const int64_t llTicks = idxtest::VirtualClock::Ticks();
        CKyError error = rig.ptrWorker->Exchange().PostItems2(m_stub.UpdateUrl(), "<commit />",
                                                              CEngineExchange::kXmlHeaderLine);

        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(FXErrorUtil::GetWin32(error), 774u);
        EXPECT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
        EXPECT_EQ(VirtualSeconds(llTicks), 0);
        EXPECT_EQ(ptrCallback->PendingReasons().size(), stop.nPendingReasons);
    }
}

} // namespace

// Zero loss, end to end: whatever path a batch takes out of a worker (the engine accepts it,
// refuses it, stays down until the retries run out, the job aborts or quits, the job's own code
// or a sender throws), every queued item ends either in the engine or in the failures file.
// Each case queues items on an index-engine transmitter pointed at the engine stand-in and
// counts: documents the engine holds + lines of the failures file = items queued.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include <boost/make_shared.hpp>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/LoopbackForwarder.h"
#include "tests/support/TempDir.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

namespace {

using idxtest::EngineRoute;
using idxtest::EngineStub;

// A job that can quit, and whose progress report or quit query (asked by the workers) can throw.
class FaultyJobCallback : public idxtest::RecordingCallback {
public:
    CKyError UpdateProgress(long long llItems, long long llBytes, long long llFailed) override {
        if (m_nThrowOnProgress > 0 && ++m_nProgress == m_nThrowOnProgress) {
            throw std::runtime_error("progress report refused");
        }
        return RecordingCallback::UpdateProgress(llItems, llBytes, llFailed);
    }
    bool IsQuitFlagSet() override {
        if (std::this_thread::get_id() != m_idJobThread && m_nThrowOnWorkerQuery > 0 &&
            ++m_nWorkerQueries == m_nThrowOnWorkerQuery) {
            throw std::runtime_error("quit query refused");
        }
        return m_bQuit.load();
    }

    const std::thread::id m_idJobThread = std::this_thread::get_id();
    std::atomic<bool> m_bQuit{false};
    int m_nThrowOnProgress = 0;
    int m_nThrowOnWorkerQuery = 0;
    std::atomic<int> m_nProgress{0};
    std::atomic<int> m_nWorkerQueries{0};
};

// An item whose folder test throws, as a broken item object of the job would.
class ThrowingItem : public CItem {
public:
    explicit ThrowingItem(const std::string &strPath) { SetPath(strPath); }
    bool IsFolder() const override { throw std::runtime_error("item refused"); }
};

// An item whose path cannot be read: the job's item object throws when asked for it. It cannot
// be listed by name; the items of its batch must still be.
class NamelessItem : public CItem {
public:
    const std::string &GetPath() const override { throw std::runtime_error("path refused"); }
};

std::string BaseName(const std::string &strPath) {
    const size_t nSlash = strPath.find_last_of('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// Names (last path component) listed in a failures file.
std::multiset<std::string> FailedNames(const std::string &strFile) {
    std::multiset<std::string> setNames;
    std::ifstream file(strFile);
    for (std::string strLine; std::getline(file, strLine);) {
        setNames.insert(BaseName(strLine));
    }
    return setNames;
}

class ZeroLossTest : public ::testing::Test {
public:
    ZeroLossTest() : m_log(0) { g_bEventSent.store(false); }
    ~ZeroLossTest() override { g_bEventSent.store(false); }

    // strHostUrl: where the stand-in is reached, when not on its own port.
    std::unique_ptr<idxtest::EngineTransmitter>
    MakeTransmitter(bool bContentPush, const std::string &strHostUrl = std::string()) {
        auto ptrTransmitter = std::make_unique<idxtest::EngineTransmitter>();
        idxtest::PointOptionsAtStub(ptrTransmitter->Options(), m_stub, strHostUrl);
        ptrTransmitter->Options().SetSubClientDir(m_dir.Path());
        ptrTransmitter->Options().SetMaxItemsPerTransaction(5);
        ptrTransmitter->Options().SetPushOnlyMetaData(!bContentPush);
        ptrTransmitter->Options().SetIncludeFiltersSet({"txt"});
        EXPECT_FALSE(ptrTransmitter->SetCallback(m_ptrCallback).IsError());
        EXPECT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(2).IsError());
        return ptrTransmitter;
    }

    // Queues one file (or, every tenth, a folder) and notes its name when the transmitter took
    // it.
    void Queue(idxtest::EngineTransmitter &transmitter, const idxtest::TempDir &dir, int nIndex) {
        const std::string strName = "n" + std::to_string(nIndex);
        std::string strPath;
        if (nIndex % 10 == 0) {
            strPath = dir.WriteFile("tree/" + strName + "/keep", "x");
            strPath = strPath.substr(0, strPath.size() - 5);
        } else {
            strPath = dir.WriteFile("tree/" + strName + ".txt", "content " + strName);
        }
        if (!transmitter.BuildAndAddToQueue(strPath, 1, nIndex, false, false).IsError()) {
            m_setQueued.insert(BaseName(strPath));
        }
    }
    void QueueThrowingItem(idxtest::EngineTransmitter &transmitter) {
        if (!transmitter.AddToQueue(boost::make_shared<ThrowingItem>("/broken/bad.txt"))
                 .IsError()) {
            m_setQueued.insert("bad.txt");
        }
    }
    void QueueNamelessItem(idxtest::EngineTransmitter &transmitter) {
        EXPECT_FALSE(transmitter.AddToQueue(boost::make_shared<NamelessItem>()).IsError());
    }

    idxtest::PlatformSettingsScope m_settings;
    idxtest::VirtualClock m_clock;
    idxtest::LogCapture m_log;
    idxtest::TempDir m_dir;
    EngineStub m_stub;
    boost::shared_ptr<FaultyJobCallback> m_ptrCallback = boost::make_shared<FaultyJobCallback>();
    std::set<std::string> m_setQueued;
};

enum Outcome { kNone, kSome, kEither };

void ExpectOutcome(Outcome eExpected, size_t nFound) {
    if (eExpected != kEither) {
        EXPECT_EQ(eExpected == kSome, nFound > 0) << nFound;
    }
}

// Ends each refusal window of the forwarder once the library's workers have met nRefusals
// refused connections in it. It counts them as their client logs them, on the worker's thread,
// so that the window ends after that many refusals however the threads are scheduled. Leaves the
// forwarder listening when it goes.
class RefusalHealer {
public:
    RefusalHealer(idxtest::LoopbackForwarder &forwarder, idxtest::LogCapture &log, size_t nRefusals)
        : m_forwarder(forwarder), m_log(log), m_nRefusals(nRefusals) {
        m_log.SetObserver([this](const idxtest::CapturedLogLine &line) { OnLine(line); });
    }
    ~RefusalHealer() {
        m_log.SetObserver(nullptr);
        EXPECT_TRUE(m_forwarder.Listen());
    }
    RefusalHealer(const RefusalHealer &) = delete;
    RefusalHealer &operator=(const RefusalHealer &) = delete;

    // Windows that ended after nRefusals refusals.
    size_t Healed() const { return m_nHealed.load(); }

private:
    // The observer runs one call at a time.
    void OnLine(const idxtest::CapturedLogLine &line) {
        const std::string strRefused =
            "(curl error " + std::to_string(static_cast<int>(CURLE_COULDNT_CONNECT)) + ":";
        if (line.strText.find(strRefused) == std::string::npos || !m_forwarder.IsRefusing()) {
            return;
        }
        if (m_forwarder.RefusalCount() != m_nWindow) {
            m_nWindow = m_forwarder.RefusalCount();
            m_nRefused = 0;
        }
        if (++m_nRefused == m_nRefusals) {
            EXPECT_TRUE(m_forwarder.Listen());
            ++m_nHealed;
        }
    }

    idxtest::LoopbackForwarder &m_forwarder;
    idxtest::LogCapture &m_log;
    const size_t m_nRefusals;
    size_t m_nWindow = 0;
    size_t m_nRefused = 0;
    std::atomic<size_t> m_nHealed{0};
};

} // namespace

TEST_F(ZeroLossTest, EveryPathOutOfABatchEndsInTheEngineOrTheFailuresFile) {
    struct Case {
        const char *szName;
        bool bContentPush;
        // Set up before the items are queued (engine scripts, settings, the job's faults).
        std::function<void(ZeroLossTest &)> fnBefore;
        // Runs after the first half of the items is queued.
        std::function<void(idxtest::EngineTransmitter &, ZeroLossTest &)> fnMiddle;
        // Whether the engine holds some items, and whether some are in the failures file:
        // kEither where it depends on how far the workers got when the fault came (on a loaded
        // machine they may not have posted anything yet).
        Outcome eInEngine;
        Outcome eFailed;
    };
    const auto nothing = [](ZeroLossTest &) {};
    const auto nothingMiddle = [](idxtest::EngineTransmitter &, ZeroLossTest &) {};
    const Case cases[] = {
        {"the engine accepts everything", false, nothing, nothingMiddle, kSome, kNone},
        {"the engine refuses every update", false,
         [](ZeroLossTest &t) { t.m_stub.FailNext(EngineRoute::Update, -1, 400); }, nothingMiddle,
         kNone, kSome},
        {"the engine stays down until the retries run out (non-resilient)", false,
         [](ZeroLossTest &t) {
             idxtest::SetPlatformSetting("FileSystemAgent", "nResilientScan", "0");
             t.m_stub.DropNext(EngineRoute::Update, -1);
         },
         nothingMiddle, kNone, kSome},
        {"the engine fails some requests", false,
         [](ZeroLossTest &t) {
             t.m_stub.FailNext(EngineRoute::Update, 2, 500);
             t.m_stub.DropNext(EngineRoute::Update, 2);
         },
         nothingMiddle, kSome, kSome},
        {"the job aborts in the middle", false, nothing,
         [](idxtest::EngineTransmitter &transmitter, ZeroLossTest &) { transmitter.Abort(true); },
         kEither, kEither},
        {"the job's quit flag is set in the middle", false, nothing,
         [](idxtest::EngineTransmitter &, ZeroLossTest &t) { t.m_ptrCallback->m_bQuit = true; },
         kEither, kEither},
        {"the job's progress report throws", false,
         [](ZeroLossTest &t) { t.m_ptrCallback->m_nThrowOnProgress = 2; }, nothingMiddle, kSome,
         kNone},
        {"an item throws in the sender", false, nothing,
         [](idxtest::EngineTransmitter &transmitter, ZeroLossTest &t) {
             t.QueueThrowingItem(transmitter);
         },
         kSome, kSome},
        {"an item whose path cannot be read throws in the sender", false, nothing,
         [](idxtest::EngineTransmitter &transmitter, ZeroLossTest &t) {
             t.QueueNamelessItem(transmitter);
         },
         kSome, kSome},
        {"content push: the quit query throws after a folder was set aside", true,
         [](ZeroLossTest &t) { t.m_ptrCallback->m_nThrowOnWorkerQuery = 3; }, nothingMiddle,
         kEither, kEither},
        {"content push: the engine refuses every content request", true,
         [](ZeroLossTest &t) { t.m_stub.FailNext(EngineRoute::Extract, -1, 400); }, nothingMiddle,
         kSome, kSome},
        {"content push: an item throws in the sender", true, nothing,
         [](idxtest::EngineTransmitter &transmitter, ZeroLossTest &t) {
             t.QueueThrowingItem(transmitter);
         },
         kSome, kSome},
    };
    const int nItems = 40;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        m_stub.ClearScripts();
        m_stub.ClearDocuments();
        idxtest::ResetPlatformSettings();
        m_ptrCallback = boost::make_shared<FaultyJobCallback>();
        m_setQueued.clear();
        idxtest::TempDir dir;
        c.fnBefore(*this);

        {
            auto ptrTransmitter = MakeTransmitter(c.bContentPush);
            ptrTransmitter->Options().SetSubClientDir(dir.Path());
            ASSERT_FALSE(ptrTransmitter->Start().IsError());
            // An hour-long linger: every batch is full until the end of the job flushes the
            // rest, so which items share a batch with a faulty one never depends on how fast
            // the job runs (a busy machine would otherwise send a lingered batch of one).
            ptrTransmitter->State().Queue().SetLingerForTest(3600u * 1000u);
            for (int i = 0; i < nItems; ++i) {
                if (i == nItems / 2) {
                    c.fnMiddle(*ptrTransmitter, *this);
                }
                Queue(*ptrTransmitter, dir, i);
            }
            // Always succeeds; the log says what failed.
            EXPECT_FALSE(ptrTransmitter->WaitAndCommit().IsError());
            EXPECT_EQ(0u, ptrTransmitter->State().GetQueueLength());
            EXPECT_EQ(static_cast<int64_t>(FailedNames(dir / "SolrBackupFailures.tqf").size()),
                      ptrTransmitter->GetFailedItemCount());
        }

        std::multiset<std::string> setInEngine;
        for (const auto &entry : m_stub.Documents()) {
            setInEngine.insert(entry.second.Value("FileName"));
        }
        const std::multiset<std::string> setFailed = FailedNames(dir / "SolrBackupFailures.tqf");
        EXPECT_FALSE(m_setQueued.empty());
        ExpectOutcome(c.eInEngine, setInEngine.size());
        ExpectOutcome(c.eFailed, setFailed.size());

        // Every queued item is in one of the two places, and nothing else is.
        std::set<std::string> setAccounted(setInEngine.begin(), setInEngine.end());
        setAccounted.insert(setFailed.begin(), setFailed.end());
        EXPECT_EQ(m_setQueued, setAccounted);
        // No item is listed twice, and only a content request that failed and was then sent
        // as metadata (with its failed status) is in both places.
        EXPECT_EQ(setFailed.size(),
                  std::set<std::string>(setFailed.begin(), setFailed.end()).size());
        if (!c.bContentPush) {
            EXPECT_EQ(setInEngine.size() + setFailed.size(), m_setQueued.size());
        }
    }
}

// A job of a few thousand items against an engine that rotates through its faults: error
// answers, empty answers, dropped and reset connections, slow answers, a window in which every
// connection is dropped, a window in which the engine's port refuses connections and then listens
// again; then the same with an abort in the middle. Nothing may be lost either way. The
// transmitter reaches the engine through a forwarder, whose port is the one that refuses.
TEST_F(ZeroLossTest, SoakThroughRotatingEngineFaults) {
    enum Way {
        kAnswer, // the scripted status, body and delay (status 0: the route's own answer)
        kDrop,
        kReset,
        kRefuse, // answered, and from this request on the port refuses connections until healed
    };
    struct Fault {
        Way eWay;
        int nStatus;
        int nDelayMs;
        const char *szBody;
        int nCount; // requests in a row that get it
    };
    const Fault faults[] = {
        {kAnswer, 500, 0, nullptr, 1},
        {kAnswer, 503, 0, nullptr, 1},
        {kAnswer, 200, 0, "", 1},
        {kDrop, 0, 0, nullptr, 1},
        {kReset, 0, 0, nullptr, 1},
        {kAnswer, 0, 30, nullptr, 1},
        {kAnswer, 400, 0, nullptr, 1},
        // Every connection dropped for a while, then answered again.
        {kDrop, 0, 0, nullptr, 10},
        // The engine unreachable for a while, then back on the same port.
        {kRefuse, 0, 0, nullptr, 1},
    };
    // Refused connections that end a window.
    const size_t nRefusalsPerWindow = 8;
    idxtest::LoopbackForwarder forwarder(m_stub.Port());
    for (bool bAbort : {false, true}) {
        SCOPED_TRACE(bAbort ? "with an abort in the middle" : "to the end");
        m_stub.ClearScripts();
        m_stub.ClearDocuments();
        m_log.Clear();
        m_setQueued.clear();
        idxtest::TempDir dir;
        // Four good answers between two faults, the faults in turn, for the whole job.
        for (int nRound = 0; nRound < 200; ++nRound) {
            idxtest::EngineScript ok;
            ok.nCount = 4;
            m_stub.Script(EngineRoute::Update, ok);
            const Fault &fault = faults[nRound % (sizeof(faults) / sizeof(faults[0]))];
            idxtest::EngineScript script;
            script.nStatus = fault.nStatus;
            script.bDrop = fault.eWay == kDrop;
            script.bReset = fault.eWay == kReset;
            script.nDelayMs = fault.nDelayMs;
            script.nCount = fault.nCount;
            if (fault.szBody != nullptr) {
                script.strBody = fault.szBody;
            } else if (fault.nStatus != 0) {
                script.strBody = EngineStub::ErrorAnswer(fault.nStatus, "Scripted failure");
            }
            if (fault.eWay == kRefuse) {
                script.fnOnArrival = [&forwarder] { EXPECT_TRUE(forwarder.Refuse()); };
            }
            m_stub.Script(EngineRoute::Update, script);
        }

        const int nItems = 3000;
        const int nItemsPerBatch = 10;
        size_t nHealed = 0;
        {
            RefusalHealer healer(forwarder, m_log, nRefusalsPerWindow);
            auto ptrTransmitter = MakeTransmitter(false, forwarder.HostUrl());
            ptrTransmitter->Options().SetSubClientDir(dir.Path());
            ptrTransmitter->Options().SetMaxItemsPerTransaction(nItemsPerBatch);
            ASSERT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(4).IsError());
            ASSERT_FALSE(ptrTransmitter->Start().IsError());
            for (int i = 0; i < nItems; ++i) {
                if (bAbort && i == nItems / 2) {
                    ptrTransmitter->Abort(true);
                }
                Queue(*ptrTransmitter, dir, i);
            }
            EXPECT_FALSE(ptrTransmitter->WaitAndCommit().IsError());
            ptrTransmitter.reset();
            nHealed = healer.Healed();
        }
        // The stand-in's connections are reset and its port refuses on a run that goes to the
        // end: the workers meet each way of failing (an abort may come before they do).
        if (!bAbort) {
            const std::string strReset =
                "(curl error " + std::to_string(static_cast<int>(CURLE_RECV_ERROR)) + ":";
            EXPECT_GT(m_log.Count(strReset), 0u);
            EXPECT_GT(m_log.Count("Connection reset by peer"), 0u);
            EXPECT_GT(nHealed, 0u);
        }

        std::set<std::string> setInEngine;
        for (const auto &entry : m_stub.Documents()) {
            setInEngine.insert(entry.second.Value("FileName"));
        }
        const std::multiset<std::string> setFailed = FailedNames(dir / "SolrBackupFailures.tqf");
        EXPECT_EQ(bAbort ? static_cast<size_t>(nItems / 2) : static_cast<size_t>(nItems),
                  m_setQueued.size());
        EXPECT_FALSE(setInEngine.empty());
        EXPECT_FALSE(setFailed.empty());
        std::set<std::string> setAccounted(setInEngine);
        setAccounted.insert(setFailed.begin(), setFailed.end());
        EXPECT_EQ(m_setQueued, setAccounted);
        if (!bAbort) {
            EXPECT_EQ(setInEngine.size() + setFailed.size(), m_setQueued.size());
        } else {
            // An item is in both places only when the abort gave up a request that the engine
            // was taking: with no answer the library cannot know, and lists the request's batch.
            const size_t nInBoth = setInEngine.size() + setFailed.size() - setAccounted.size();
            EXPECT_LE(nInBoth, nItemsPerBatch * m_log.Count("http post given up"));
        }
    }
    m_stub.ClearScripts();
}

#include "platform/LogWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>

#include "platform/StringFormat.h"
#include "platform/testing/LogCapture.h"

namespace {

// Keeps the text of every line it is given, at a fixed level.
class RecordingWriter : public CLogWriterInterface {
public:
    explicit RecordingWriter(int nLevel) : m_nLevel(nLevel) {}
    int GetLogLevel() const override { return m_nLevel; }
    void WriteLogV(int, const char *, int, const char *szFormat, va_list args) override {
        std::string strText = FXFormatV(szFormat, args);
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecLines.push_back(strText);
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_vecLines;
    }

private:
    const int m_nLevel;
    std::mutex m_lock;
    std::vector<std::string> m_vecLines;
};

TEST(LogWriterTest, RedirectSendsLaterLinesToTheNewTargetAndReturnsThePrevious) {
    auto ptrFirst = boost::make_shared<RecordingWriter>(3);
    auto ptrSecond = boost::make_shared<RecordingWriter>(3);
    CRedirectableLogWriter writer(ptrFirst);

    writer.WriteLog(1, "f", 1, "%s", "one");
    CLogWriterInterfacePtr ptrPrevious = writer.Redirect(ptrSecond);
    writer.WriteLog(1, "f", 2, "%s %d", "two", 2);

    EXPECT_EQ(ptrPrevious, ptrFirst);
    EXPECT_EQ(ptrFirst->Lines(), std::vector<std::string>{"one"});
    EXPECT_EQ(ptrSecond->Lines(), std::vector<std::string>{"two 2"});
}

TEST(LogWriterTest, LevelAndLinesFollowTheCurrentTarget) {
    struct Case {
        int nTargetLevel; // INT_MIN: no target
        int nLineLevel;
        bool bOn;
    };
    const Case cases[] = {
        {3, 3, true}, {3, 4, false}, {0, -1, true}, {7, 7, true}, {INT_MIN, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(FXFormat("target %d, line %d", c.nTargetLevel, c.nLineLevel));
        boost::shared_ptr<RecordingWriter> ptrTarget;
        if (c.nTargetLevel != INT_MIN) {
            ptrTarget = boost::make_shared<RecordingWriter>(c.nTargetLevel);
        }
        CRedirectableLogWriter writer(boost::make_shared<RecordingWriter>(0));
        writer.Redirect(ptrTarget);

        EXPECT_EQ(c.bOn, writer.IsLevelOn(c.nLineLevel));
        writer.WriteLog(c.nLineLevel, "f", 1, "%s", "line");
        if (ptrTarget) {
            EXPECT_EQ(c.bOn ? 1u : 0u, ptrTarget->Lines().size());
        }
    }
}

// Workers log without pause while captures are installed and removed: the process writer stays
// the same object throughout, and a capture that lives long enough sees every worker.
TEST(LogWriterTest, CapturesComeAndGoWhileWorkersLog) {
    const CLogWriterInterfacePtr ptrProcessWriter = g_ptrLogWriter;
    constexpr int kWorkers = 4;
    std::atomic<bool> bStop{false};
    std::vector<std::thread> vecWorkers;
    for (int i = 0; i < kWorkers; ++i) {
        vecWorkers.emplace_back([i, &bStop] {
            for (int n = 0; !bStop.load(); ++n) {
                IDX_LOG(6, "worker %d line %d", i, n);
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        });
    }

    for (int nCycle = 0; nCycle < 200; ++nCycle) {
        idxtest::LogCapture capture(6);
    }
    bool bAllSeen = false;
    {
        idxtest::LogCapture capture(6);
        const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!bAllSeen && std::chrono::steady_clock::now() < tpEnd) {
            bAllSeen = true;
            for (int i = 0; i < kWorkers; ++i) {
                bAllSeen = bAllSeen && capture.Contains(FXFormat("worker %d line", i));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bStop.store(true);
    for (std::thread &worker : vecWorkers) {
        worker.join();
    }

    EXPECT_TRUE(bAllSeen);
    EXPECT_EQ(g_ptrLogWriter, ptrProcessWriter);
}

// An observer is called on the logging thread for each line the capture takes, and not at all
// once it is removed, even while a worker goes on logging.
TEST(LogWriterTest, AnObserverSeesEachCapturedLineOnItsThreadUntilItIsRemoved) {
    idxtest::LogCapture capture(6);
    std::mutex lock;
    std::vector<std::pair<std::string, std::thread::id>> vecSeen;
    capture.SetObserver([&](const idxtest::CapturedLogLine &line) {
        std::lock_guard<std::mutex> guard(lock);
        vecSeen.emplace_back(line.strText, std::this_thread::get_id());
    });
    std::thread::id idWorker;
    std::thread worker([&idWorker] {
        idWorker = std::this_thread::get_id();
        IDX_LOG(6, "%s", "taken");
        IDX_LOG(7, "%s", "above the level");
    });
    worker.join();
    {
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_EQ(1u, vecSeen.size());
        EXPECT_EQ("taken", vecSeen[0].first);
        EXPECT_EQ(idWorker, vecSeen[0].second);
    }

    std::atomic<bool> bStop{false};
    std::thread logger([&bStop] {
        while (!bStop.load()) {
            IDX_LOG(6, "%s", "more");
        }
    });
    // Removed while the logger is in the middle of its lines.
    while (!capture.Contains("more")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    capture.SetObserver(nullptr);
    size_t nSeen = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        nSeen = vecSeen.size();
    }
    const size_t nCaptured = capture.Count("more");
    while (capture.Count("more") < nCaptured + 100) {
        std::this_thread::yield();
    }
    bStop.store(true);
    logger.join();
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(nSeen, vecSeen.size());
    EXPECT_GT(nSeen, 1u);
}

} // namespace

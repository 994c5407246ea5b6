// The worker factory of the transmitter: the worker class of each type, and the engine worker it
// makes by default.
#include <chrono>
#include <string>
#include <thread>

#include <boost/pointer_cast.hpp>
#include <gtest/gtest.h>

#include "engine/SolrTransmitterThread.h"
#include "logwriter/IdxLogWriterLiveCrawlThread.h"
#include "logwriter/IdxLogWriterThreadBlkLvl.h"
#include "logwriter/IdxLogWriterThreadFSDirect.h"
#include "logwriter/IdxLogWriterThreadVSA.h"
#include "platform/testing/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::MakeTestItem;
using idxtest::TempDir;

TEST(TransmitterWorkerFactoryTest, FactoryMakesTheWorkerOfTheType) {
    struct Case {
        int nType;
        bool bEngineWorker;
        const char *szLine;
        int nLevel;
    };
    const Case cases[] = {
        {0, true, nullptr, 0},
        {1, false, "Instantiating LogWriter thread", 2},
        {2, false, "Instantiating VSA LogWriter thread", 2},
        {3, false, "Instantiating block level LogWriter thread", 2},
        {4, false, "Instantiating FS Direct LogWriter thread", 2},
        {5, false, "Instantiating LogWriter Live Crawl thread", 2},
        {7, true, "Unknown transmitter type [7], defaulting to Solr transmitter", -1},
        {-1, true, "Unknown transmitter type [-1], defaulting to Solr transmitter", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nType);
        CSolrTransmitter transmitter(static_cast<eIDX_Transmitter_Type>(c.nType));
        idxtest::LogCapture capture(7);
        IIdxTransmitterThreadPtr ptrWorker = transmitter.GetIdxTransmitterThreadObj();

        EXPECT_EQ(c.bEngineWorker,
                  boost::dynamic_pointer_cast<CSolrTransmitterThread>(ptrWorker) != nullptr);
        if (ptrWorker) {
            EXPECT_FALSE(ptrWorker->IsRunning());
        }
        if (c.szLine) {
            EXPECT_EQ(1u, capture.CountAtLevel(c.szLine, c.nLevel));
        } else {
            EXPECT_TRUE(capture.Lines().empty());
        }
    }
}

TEST(TransmitterWorkerFactoryTest, IndexLogTypesGetTheirOwnWorkerClass) {
    auto classOf = [](const IIdxTransmitterThreadPtr &ptrWorker) -> std::string {
        IIdxTransmitterThread *pWorker = ptrWorker.get();
        if (dynamic_cast<CIdxLogWriterThreadVSA *>(pWorker)) {
            return "VSA";
        }
        if (dynamic_cast<CIdxLogWriterThreadBlkLvl *>(pWorker)) {
            return "BlkLvl";
        }
        if (dynamic_cast<CIdxLogWriterThreadFSDirect *>(pWorker)) {
            return "FSDirect";
        }
        if (dynamic_cast<CIdxLogWriterThread *>(pWorker)) {
            return "LogWriter";
        }
        if (dynamic_cast<CIdxLogWriterThreadLiveCrawl *>(pWorker)) {
            return "LiveCrawl";
        }
        return "other";
    };
    const char *aszExpected[] = {"other", "LogWriter", "VSA", "BlkLvl", "FSDirect", "LiveCrawl"};
    for (int nType = 0; nType <= 5; ++nType) {
        SCOPED_TRACE(nType);
        CSolrTransmitter transmitter(static_cast<eIDX_Transmitter_Type>(nType));
        IIdxTransmitterThreadPtr ptrWorker = transmitter.GetIdxTransmitterThreadObj();
        ASSERT_TRUE(ptrWorker);
        EXPECT_EQ(aszExpected[nType], classOf(ptrWorker));
        EXPECT_FALSE(ptrWorker->IsRunning());
    }
}

TEST(TransmitterWorkerFactoryTest, DefaultEngineWorkerRecordsWhatItTakesAsFailures) {
    // The base factory: type 0 gets the engine worker, which cannot reach an engine and so
    // reports every item it drains in the failures file.
    struct Exposed : CSolrTransmitter {
        CSolrTransmitterPrivate &State() { return *m_ptrSolrTransmitterPrivate; }
    };
    TempDir dir;
    Exposed transmitter;
    transmitter.State().m_ptrOptions->SetSubClientDir(dir.Path());
    transmitter.SetNumberofTransmitterThreads(2);
    ASSERT_FALSE(transmitter.Start().IsError());
    for (int i = 0; i < 5; ++i) {
        ASSERT_FALSE(transmitter.AddToQueue(MakeTestItem("/e" + std::to_string(i))).IsError());
    }
    for (int i = 0; i < 1000 && transmitter.GetFailedItemCount() < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(5, transmitter.GetFailedItemCount());
    EXPECT_TRUE(transmitter.IfPushDataToSolrFailed());
    ASSERT_FALSE(transmitter.Stop().IsError());
    std::string strContent = idxtest::ReadWholeFile(dir / "SolrScanFailures.tqf");
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(std::string::npos, strContent.find("/e" + std::to_string(i) + "\n"));
    }
}

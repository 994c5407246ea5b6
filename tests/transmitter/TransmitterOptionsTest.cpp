// The option record: starting values, derived values and the sticky abort test.
#include <atomic>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "platform/EventThread.h"
#include "platform/testing/LogCapture.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// A job callback whose quit flag the test sets, and which checks that the record never asks it
// from two threads at once.
class QuitFlagCallback : public CSolrTransmitterCallback {
public:
    bool IsQuitFlagSet() override {
        int nInside = ++m_nInside;
        if (nInside > 1) {
            m_bOverlapped = true;
        }
        ++m_nQueries;
        std::this_thread::yield();
        --m_nInside;
        return m_bQuit.load();
    }

    std::atomic<bool> m_bQuit{false};
    std::atomic<int> m_nQueries{0};
    std::atomic<int> m_nInside{0};
    std::atomic<bool> m_bOverlapped{false};
};

TEST(TransmitterOptionsTest, NewRecordHoldsTheDocumentedStartingValues) {
    CTransmitterOptions options;
    EXPECT_FALSE(options.GetCallback());
    EXPECT_TRUE(options.IsPushOnlyMetaData());
    EXPECT_TRUE(options.IsScanPhase());
    EXPECT_TRUE(options.GetUseDynamicTppm());
    EXPECT_FALSE(options.IsCollectSecurityInfo());
    EXPECT_FALSE(options.IsCollectOwnerInfo());
    EXPECT_FALSE(options.IsPushMetaDataWithCRC());
    EXPECT_FALSE(options.IsDisableFailureLogging());
    EXPECT_FALSE(options.IsVMContentIndexing());
    EXPECT_FALSE(options.IsSPContentIndexing());
    EXPECT_FALSE(options.IsAuditingContext());
    EXPECT_FALSE(options.IsNasClient());
    EXPECT_EQ(20, options.GetMaxItemsPerTransaction());
    EXPECT_EQ(10, options.GetMaxConsecutiveFailuresThreshold());
    EXPECT_EQ(10, options.GetMaxRetryOnMemoryFailures());
    EXPECT_EQ(52428800, options.GetMaxFileSizePushContent());
    EXPECT_EQ(0, options.GetMinFileSizePushContent());
    EXPECT_EQ(0, options.GetJobId());
    EXPECT_EQ(0u, options.GetClientId());
    EXPECT_EQ(0u, options.GetApplicationNumber());
    EXPECT_EQ("0", options.GetJobIdString());
    EXPECT_EQ("0", options.GetClientIdString());
    EXPECT_EQ("0", options.GetApplicationNumberString());
    EXPECT_EQ(0u, options.GetSnapArchiveFileID());
    EXPECT_EQ(0u, options.GetArchiveFileFlags());
    EXPECT_EQ(0u, options.GetMaxCollectFileID());
    EXPECT_EQ("", options.GetBaseSolrUrl());
    EXPECT_EQ("", options.GetRestAPISolrUrl());
    EXPECT_TRUE(options.GetIncludeFiltersSet().empty());
    EXPECT_TRUE(options.GetSchemaFieldsMap().empty());
    EXPECT_EQ(26, options.GetVMCatalogOptions().GetFamily());
    EXPECT_EQ(127, options.GetVMCatalogOptions().GetType());
    EXPECT_FALSE(options.IsAborted());
}

TEST(TransmitterOptionsTest, BatchSizeNeverDropsBelowOne) {
    const struct {
        int nGiven;
        int nExpected;
    } cases[] = {{0, 1}, {-5, 1}, {1, 1}, {std::numeric_limits<int>::min(), 1}, {250, 250}};
    for (const auto &c : cases) {
        CTransmitterOptions options;
        options.SetMaxItemsPerTransaction(c.nGiven);
        EXPECT_EQ(c.nExpected, options.GetMaxItemsPerTransaction()) << "given " << c.nGiven;
    }
}

TEST(TransmitterOptionsTest, IdentifiersKeepTheirDecimalText) {
    CTransmitterOptions options;
    options.SetJobId(-9000000000LL);
    options.SetClientId(std::numeric_limits<unsigned int>::max());
    options.SetApplicationNumber(2147483648u);
    EXPECT_EQ(-9000000000LL, options.GetJobId());
    EXPECT_EQ("-9000000000", options.GetJobIdString());
    EXPECT_EQ("4294967295", options.GetClientIdString());
    EXPECT_EQ("2147483648", options.GetApplicationNumberString());

    options.SetJobId(77);
    EXPECT_EQ("77", options.GetJobIdString());
}

TEST(TransmitterOptionsTest, RestApiUrlEndsAtTheFirstSolrOfThePath) {
    const struct {
        const char *szBase;
        const char *szRest;
        int nPosition;
    } cases[] = {
        {"http://127.0.0.1:8983/solr/core1/", "http://127.0.0.1:8983/solr", 22},
        // A host named like the engine is never cut: only the path is searched.
        {"http://solrhost:8983/solr/core1", "http://solrhost:8983/solr", 21},
        {"https://solr.example:8983/index/solr/x", "https://solr.example:8983/index/solr", 32},
        {"http://solrhost:8983/index/core1", "http://solrhost:8983/index/core1", -1},
        {"http://solrhost", "http://solrhost", -1},
        {"solrbox:8983/solr/core", "solrbox:8983/solr", 13},
        {"http://host/SOLR/core", "http://host/SOLR/core", -1},
        {"", "", -1},
    };
    for (const auto &c : cases) {
        idxtest::LogCapture capture(4);
        CTransmitterOptions options;
        options.SetBaseSolrUrl(c.szBase);
        EXPECT_EQ(c.szBase, options.GetBaseSolrUrl());
        EXPECT_EQ(c.szRest, options.GetRestAPISolrUrl()) << "base " << c.szBase;
        std::string strLine =
            "bReplaced:" + std::to_string(c.nPosition) + " REST API URL:" + c.szRest;
        size_t nExact = 0;
        for (const auto &line : capture.Lines()) {
            nExact += (line.nLevel == 4 && line.strText == strLine) ? 1 : 0;
        }
        EXPECT_EQ(1u, nExact) << strLine;
        EXPECT_EQ(c.nPosition >= 0 ? 1u : 0u, capture.Count("I am here")) << c.szBase;
    }
}

TEST(TransmitterOptionsTest, RestApiUrlLinesAreNotWrittenBelowLevelFour) {
    idxtest::LogCapture capture(3);
    CTransmitterOptions options;
    options.SetBaseSolrUrl("http://127.0.0.1:8983/solr/core1");
    EXPECT_EQ("http://127.0.0.1:8983/solr", options.GetRestAPISolrUrl());
    EXPECT_FALSE(capture.Contains("bReplaced"));
}

TEST(TransmitterOptionsTest, JobQuitFlagAbortsForGood) {
    auto ptrCallback = boost::make_shared<QuitFlagCallback>();
    CTransmitterOptions options;
    options.SetCallback(ptrCallback);
    EXPECT_EQ(ptrCallback, options.GetCallback());

    EXPECT_FALSE(options.IsAborted());
    EXPECT_FALSE(options.IsQuitJobQuitFlagSet());
    ptrCallback->m_bQuit = true;
    EXPECT_TRUE(options.IsQuitJobQuitFlagSet());
    EXPECT_TRUE(options.IsAborted());
    int nQueriesWhenAborted = ptrCallback->m_nQueries;

    // The job clears its flag: the record stays aborted and stops asking.
    ptrCallback->m_bQuit = false;
    EXPECT_TRUE(options.IsAborted());
    EXPECT_TRUE(options.IsAborted());
    EXPECT_EQ(nQueriesWhenAborted, ptrCallback->m_nQueries.load());
    EXPECT_FALSE(options.IsQuitJobQuitFlagSet());
}

TEST(TransmitterOptionsTest, AbortEventAbortsForGood) {
    auto ptrCallback = boost::make_shared<QuitFlagCallback>();
    auto ptrEvent = boost::make_shared<FXEvent>(0u);
    CTransmitterOptions options;
    options.SetCallback(ptrCallback);
    options.SetAbortEvent(ptrEvent);

    // Neither the job's flag nor the event: not aborted, and the flag stays clear.
    EXPECT_FALSE(options.IsAborted());
    EXPECT_FALSE(options.IsAborted());

    ptrEvent->Set();
    EXPECT_TRUE(options.IsAborted());
    // Another thread has its own view of the event; the sticky flag answers it anyway.
    bool bSeenElsewhere = false;
    std::thread other([&] { bSeenElsewhere = options.IsAborted(); });
    other.join();
    EXPECT_TRUE(bSeenElsewhere);
    EXPECT_TRUE(options.IsAborted());
}

TEST(TransmitterOptionsTest, SetAbortedIsSticky) {
    CTransmitterOptions options;
    options.SetAborted(true);
    EXPECT_TRUE(options.IsAborted());
    EXPECT_FALSE(options.IsQuitJobQuitFlagSet());
}

TEST(TransmitterOptionsTest, ConcurrentAbortTestsAskTheJobOneAtATime) {
    auto ptrCallback = boost::make_shared<QuitFlagCallback>();
    CTransmitterOptions options;
    options.SetCallback(ptrCallback);

    std::atomic<int> nAbortedSeen{0};
    std::atomic<bool> bFalseAfterTrue{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            // Every thread asks until it has seen the abort, then keeps asking a while longer.
            int nAfter = 0;
            bool bSeen = false;
            for (int i = 0; i < 10000000 && nAfter < 200; ++i) {
                if (t == 0 && i == 500) {
                    options.SetAborted(true);
                }
                bool bAborted = options.IsAborted();
                if (bSeen && !bAborted) {
                    bFalseAfterTrue = true;
                }
                bSeen = bSeen || bAborted;
                nAfter += bSeen ? 1 : 0;
            }
            if (bSeen) {
                ++nAbortedSeen;
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(ptrCallback->m_bOverlapped.load());
    EXPECT_FALSE(bFalseAfterTrue.load());
    EXPECT_EQ(8, nAbortedSeen.load());
    EXPECT_TRUE(options.IsAborted());
}

TEST(TransmitterOptionsTest, CollectionsAreReplacedWhole) {
    CTransmitterOptions options;
    options.SetIncludeFiltersSet({"doc", "pdf"});
    options.SetIncludeFiltersSet({"txt"});
    EXPECT_EQ((std::set<std::string>{"txt"}), options.GetIncludeFiltersSet());

    options.SetSchemaFieldsMap({{"a", "1"}, {"b", "2"}});
    options.SetSchemaFieldsMap({{"c", "3"}});
    EXPECT_EQ((std::map<std::string, std::string>{{"c", "3"}}), options.GetSchemaFieldsMap());

    std::map<std::string, std::string> mapMounts{{"/mnt/vm1", "C:\\"}};
    options.SetVmMountPathVol(mapMounts);
    mapMounts["/mnt/vm2"] = "D:\\";
    // The record keeps its own copy and hands out copies.
    EXPECT_EQ(1u, options.GetVmMountPathVol().size());

    options.SetExcludePaths({"/a", "/b"});
    options.SetExcludePaths({"/c"});
    EXPECT_EQ((std::list<std::string>{"/c"}), options.GetExcludePaths());
}

TEST(TransmitterOptionsTest, CatalogueOptionsAreCopiedIn) {
    VirtualServer::VMCatalogOptions catalog;
    catalog.setstring(28, 64, "http://127.0.0.1:81/svc");
    catalog.setint64(0, 63, 2);

    CTransmitterOptions options;
    options.SetVMCatalogOptions(catalog);
    catalog.setint64(0, 63, 5);
    EXPECT_EQ(2, options.GetVMCatalogOptions().getint64(63));
    EXPECT_EQ("http://127.0.0.1:81/svc", options.GetVMCatalogOptions().getstring(28, 64));

    // The getter hands out the record's own message.
    options.GetVMCatalogOptions().setint64(0, 63, 9);
    EXPECT_EQ(9, options.GetVMCatalogOptions().getint64(63));
}

} // namespace

#include <chrono>
#include <future>
#include <list>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/ItemLookup.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/StubControl.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::MakeTestItem;
using idxtest::TempDir;
using idxtest::TestSolrTransmitter;

namespace {

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

uint32_t BagErrorCode(const CItemPtr &ptrItem) {
    uint32_t nCode = 0;
    ptrItem->GetItemBag()->Read("errorCode", nCode);
    return nCode;
}

// A started transmitter without workers, so that queued items stay where a test can take them.
class SolrTransmitterQueueingCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_ptrTransmitter = boost::make_shared<TestSolrTransmitter>();
        m_ptrTransmitter->State().m_ptrOptions->SetSubClientDir(m_dir.Path());
        m_ptrTransmitter->State().m_ptrOptions->SetAppGUID("app-guid-7");
        m_ptrTransmitter->SetNumberofTransmitterThreads(0);
    }

    void Start() { ASSERT_FALSE(m_ptrTransmitter->Start().IsError()); }

    std::list<CItemPtr> TakeQueued() {
        return idxtest::TakeQueued(m_ptrTransmitter->State(), 1000);
    }

    // The only queued item, with its analytics record.
    CItemPtr TakeOnly(CAnalyticsItemInterface **ppAnalytics = nullptr) {
        std::list<CItemPtr> lstItems = TakeQueued();
        EXPECT_EQ(1u, lstItems.size());
        if (lstItems.empty()) {
            return CItemPtr();
        }
        if (ppAnalytics) {
            *ppAnalytics = CAnalyticsItemInterface::FromItem(*lstItems.front());
        }
        return lstItems.front();
    }

    TempDir m_dir;
    idxtest::StubControl m_stubs;
    boost::shared_ptr<TestSolrTransmitter> m_ptrTransmitter;
};

} // namespace

TEST_F(SolrTransmitterQueueingCallsTest, NetworkPathPrefixIsTurnedBackIntoTwoBackslashes) {
    Start();
    enum EForm { eOnePath, eSinglePath };
    struct Case {
        EForm eForm;
        std::string strInput;
        std::string strLookedUp;
    };
    const Case cases[] = {
        {eOnePath, "unc-nt_server/share/dir", "\\\\server/share/dir"},
        {eOnePath, "/UNC-Nt_server/share", "\\\\server/share"},
        {eOnePath, "UNC-NT_server/share/", "\\\\server/share"},
        {eSinglePath, "Unc-Nt_server/share", "\\\\server/share"},
        {eSinglePath, "/unc-nt_server/share", "/unc-nt_server/share"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.strInput);
        CKyError error = c.eForm == eOnePath
                             ? m_ptrTransmitter->BuildAndAddToQueue(c.strInput, 1, 0, false, true)
                             : m_ptrTransmitter->BuildAndAddToQueue(
                                   c.strInput, CAnalyticsItemAddInfoPtr(), true);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        CAnalyticsItemInterface *pAnalytics = nullptr;
        CItemPtr ptrItem = TakeOnly(&pAnalytics);
        ASSERT_TRUE(ptrItem);
        EXPECT_EQ(c.strLookedUp, ptrItem->GetPath());
        // Such a path does not exist here: the item goes out marked failed.
        ASSERT_NE(nullptr, pAnalytics);
        EXPECT_TRUE(pAnalytics->IsItemFailed());
        EXPECT_NE(0u, BagErrorCode(ptrItem));
    }
}

// The records of a job share the GUID text, and an option changed between two items shows in
// the later one at once, on every form that attaches a record.
TEST_F(SolrTransmitterQueueingCallsTest, TheApplicationGuidFollowsTheOption) {
    Start();
    const std::string strFile = m_dir.WriteFile("guid/file.txt", "x");
    CTransmitterOptions &options = *m_ptrTransmitter->State().m_ptrOptions;
    const char *const guids[] = {"app-guid-7", "app-guid-7", "other-guid", "", "app-guid-7"};
    std::vector<CItemPtr> vecItems;
    for (const char *szGUID : guids) {
        options.SetAppGUID(szGUID);
        ASSERT_FALSE(m_ptrTransmitter->BuildAndAddToQueue(strFile, 1, 0, false, false).IsError());
        ASSERT_FALSE(m_ptrTransmitter->BuildAndAddDeletedItemsToQueue(strFile + ".gone").IsError());
        for (const CItemPtr &ptrItem : TakeQueued()) {
            vecItems.push_back(ptrItem);
            CAnalyticsItemInterface *pAnalytics = CAnalyticsItemInterface::FromItem(*ptrItem);
            ASSERT_NE(nullptr, pAnalytics);
            EXPECT_EQ(szGUID, pAnalytics->GetAppGUID());
        }
    }
    ASSERT_EQ(10u, vecItems.size());
    EXPECT_EQ(&CAnalyticsItemInterface::FromItem(*vecItems[0])->GetAppGUID(),
              &CAnalyticsItemInterface::FromItem(*vecItems[3])->GetAppGUID());
}

TEST_F(SolrTransmitterQueueingCallsTest, ContentIdFormRewritesOnlyThePrefixWithoutSlash) {
    Start();
    const struct {
        std::string strInput;
        std::string strLookedUp;
    } cases[] = {
        {"unc-NT_server/item", "\\\\server/item"},
        {"/UNC-NT_server/item", "/UNC-NT_server/item"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.strInput);
        idxtest::LogCapture capture(0);
        CKyError error = m_ptrTransmitter->BuildAndAddToQueue(c.strInput, "cid", "url");
        // The lookup's own error comes back unchanged, naming the path it looked up.
        ASSERT_TRUE(error.IsError());
        EXPECT_TRUE(HasText(error, "[" + c.strLookedUp + "]"));
        EXPECT_EQ(1u, capture.CountAtLevel(
                          "Failed to get item by path, ItemName=[" + c.strInput + "], error=", -1));
        EXPECT_TRUE(TakeQueued().empty());
    }
}

TEST_F(SolrTransmitterQueueingCallsTest, ExistingPathIsQueuedWithItsMarks) {
    Start();
    std::string strFile = m_dir.WriteFile("dir/file.txt", "hello");
    idxtest::LogCapture capture(6);

    ASSERT_FALSE(
        m_ptrTransmitter->BuildAndAddToQueue(strFile + "/", 3, 4096, true, true).IsError());
    CAnalyticsItemInterface *pAnalytics = nullptr;
    CItemPtr ptrItem = TakeOnly(&pAnalytics);
    ASSERT_TRUE(ptrItem);
    EXPECT_EQ(strFile, ptrItem->GetPath());
    EXPECT_EQ(5u, ptrItem->GetSize());
    EXPECT_TRUE(ptrItem->IsSelectedForAccess());
    ASSERT_NE(nullptr, pAnalytics);
    EXPECT_FALSE(pAnalytics->IsItemFailed());
    EXPECT_EQ(0u, pAnalytics->GetErrorCode());
    EXPECT_EQ(3u, pAnalytics->GetCollectID());
    EXPECT_EQ(4096, pAnalytics->GetCollectOffset());
    EXPECT_TRUE(pAnalytics->IsStub());
    EXPECT_FALSE(pAnalytics->IsSkippedForArchiving());
    EXPECT_EQ("app-guid-7", pAnalytics->GetAppGUID());
    EXPECT_EQ(1u, capture.CountAtLevel("Adding file to queue, ItemName=[" + strFile +
                                           "], CollectId=[3], CollectOffset=[4096]",
                                       6));
}

TEST_F(SolrTransmitterQueueingCallsTest, FailedLookupsAreSkippedOrQueuedMarkedFailed) {
    Start();
    m_dir.WriteFile("present/keep.txt", "x");
    const std::string strMissingFile = m_dir / "present/missing.txt";
    const std::string strMissingPath = m_dir / "absent/missing.txt";
    const std::string strTooLong = m_dir / std::string(300, 'n');

    struct Case {
        const char *szName;
        std::string strItem;
        std::string strParent;
        bool bQueued;
        uint32_t nCode;
    };
    const Case cases[] = {
        {"file gone under a backslash parent", strMissingFile, "share\\", false, 0},
        {"path gone under a backslash parent", strMissingPath, "share\\", false, 0},
        {"file gone, parent without backslash", strMissingFile, m_dir / "present", true, 2},
        {"path gone, parent without backslash", strMissingPath, m_dir / "absent", true, 3},
        {"other failure under a backslash parent", strTooLong, "share\\", true, 206},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::LogCapture capture(0);
        CKyError error =
            m_ptrTransmitter->BuildAndAddToQueue(c.strItem, c.strParent, 1, 10, false, false);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        EXPECT_EQ(1u, capture.CountAtLevel("Failed to get item by path, ItemName=[" + c.strItem +
                                               "][" + c.strParent + "], error=",
                                           -1));
        std::list<CItemPtr> lstItems = TakeQueued();
        ASSERT_EQ(c.bQueued ? 1u : 0u, lstItems.size());
        if (c.bQueued) {
            CAnalyticsItemInterface *pAnalytics =
                CAnalyticsItemInterface::FromItem(*lstItems.front());
            ASSERT_NE(nullptr, pAnalytics);
            EXPECT_TRUE(pAnalytics->IsItemFailed());
            EXPECT_EQ(c.nCode, pAnalytics->GetErrorCode());
            EXPECT_EQ(c.nCode, BagErrorCode(lstItems.front()));
        }
    }
}

TEST_F(SolrTransmitterQueueingCallsTest, NoItemOrABareDriveIsAFailureToObtainTheItem) {
    Start();
    struct Case {
        const char *szName;
        std::function<CKyError()> call;
        std::string strMessage;
    };
    const Case cases[] = {
        {"two-path, empty item path",
         [&] { return m_ptrTransmitter->BuildAndAddToQueue("", "/tmp", 1, 0, false, false); },
         "Failed to obtain item, ItemName=[] [/tmp]"},
        {"two-path, bare drive parent",
         [&] { return m_ptrTransmitter->BuildAndAddToQueue("C:/f", "C:/", 1, 0, false, false); },
         "Failed to obtain item, ItemName=[C:/f] [C:/]"},
        {"single-path, bare drive",
         [&] {
             return m_ptrTransmitter->BuildAndAddToQueue("D:", CAnalyticsItemAddInfoPtr(), false);
         },
         "Failed to obtain item, ItemName=[D:]"},
        {"content-id, empty path",
         [&] { return m_ptrTransmitter->BuildAndAddToQueue("", "c", "u"); },
         "Failed to obtain item, ItemName=[]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        CKyError error = c.call();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
        EXPECT_TRUE(HasText(error, c.strMessage)) << error.AsString();
        EXPECT_TRUE(TakeQueued().empty());
    }
}

TEST_F(SolrTransmitterQueueingCallsTest, StubFilterIsSetUpOnceFromTheFirstParentPath) {
    Start();
    std::string strFirst = m_dir.WriteFile("a/one", "1");
    std::string strSecond = m_dir.WriteFile("b/two", "2");
    m_stubs.SkipForArchiving(strSecond, "archived elsewhere");
    idxtest::LogCapture capture(7);

    ASSERT_FALSE(
        m_ptrTransmitter->BuildAndAddToQueue(strFirst, m_dir / "a", 1, 0, false, false).IsError());
    ASSERT_FALSE(m_ptrTransmitter->BuildAndAddToQueue(strSecond, 1, 0, false, false).IsError());
    ASSERT_FALSE(m_ptrTransmitter->BuildAndAddToQueue(strFirst, CAnalyticsItemAddInfoPtr(), false)
                     .IsError());

    EXPECT_EQ(std::vector<std::string>{m_dir / "a"}, m_stubs.FilterPaths());
    EXPECT_EQ(1, m_stubs.FilterInitializeCalls());
    EXPECT_EQ(1u, capture.CountAtLevel("LowLevelCtx Type - DRIVER_LESS", 0));
    EXPECT_EQ(1u, capture.CountAtLevel("Reason=[archived elsewhere]", 7));

    std::list<CItemPtr> lstItems = TakeQueued();
    ASSERT_EQ(3u, lstItems.size());
    std::vector<bool> vecSkipped;
    for (const CItemPtr &ptrItem : lstItems) {
        vecSkipped.push_back(CAnalyticsItemInterface::FromItem(*ptrItem)->IsSkippedForArchiving());
    }
    EXPECT_EQ((std::vector<bool>{false, true, false}), vecSkipped);
}

TEST_F(SolrTransmitterQueueingCallsTest, FailedStubFilterSetUpIsRetriedByTheNextCall) {
    Start();
    std::string strFile = m_dir.WriteFile("f", "1");
    m_stubs.FailFilterInitialize(1);

    CKyError error = m_ptrTransmitter->BuildAndAddToQueue(strFile, 1, 0, false, false);
    EXPECT_TRUE(error.IsError());
    EXPECT_TRUE(TakeQueued().empty());

    ASSERT_FALSE(m_ptrTransmitter->BuildAndAddToQueue(strFile, 1, 0, false, false).IsError());
    EXPECT_EQ(2, m_stubs.FilterInitializeCalls());
    EXPECT_EQ(1u, TakeQueued().size());
}

TEST_F(SolrTransmitterQueueingCallsTest, SinglePathFormAsksTheArchiverWhetherAFileIsAStub) {
    m_stubs.SetDriverLoaded(true);
    Start();
    std::string strPlain = m_dir.WriteFile("plain", "data");
    std::string strStub = m_dir / "stub";
    ASSERT_TRUE(idxtest::StubControl::MakeStubFile(strStub, 1 << 20));
    idxtest::LogCapture capture(0);

    ASSERT_FALSE(m_ptrTransmitter->BuildAndAddToQueue(strPlain, CAnalyticsItemAddInfoPtr(), false)
                     .IsError());
    ASSERT_FALSE(
        m_ptrTransmitter->BuildAndAddToQueue(strStub, CAnalyticsItemAddInfoPtr(), false).IsError());
    EXPECT_EQ(1u, capture.CountAtLevel("LowLevelCtx Type - ARCHIVER_DRIVER", 0));

    std::list<CItemPtr> lstItems = TakeQueued();
    ASSERT_EQ(2u, lstItems.size());
    EXPECT_FALSE(CAnalyticsItemInterface::FromItem(*lstItems.front())->IsStub());
    EXPECT_TRUE(CAnalyticsItemInterface::FromItem(*lstItems.back())->IsStub());
}

TEST_F(SolrTransmitterQueueingCallsTest, SinglePathFormAttachesTheTransmittersCollectValues) {
    Start();
    std::string strFile = m_dir.WriteFile("f", "1");
    auto ptrAddInfo = boost::make_shared<CAnalyticsItemAddInfo>();
    ptrAddInfo->SetOwnerName("owner-before");

    ASSERT_FALSE(m_ptrTransmitter->BuildAndAddToQueue(strFile, ptrAddInfo, true).IsError());
    m_ptrTransmitter->SetCollectID(9);
    m_ptrTransmitter->SetOffset(123456789012LL);
    ASSERT_FALSE(
        m_ptrTransmitter->BuildAndAddToQueue(strFile, CAnalyticsItemAddInfoPtr(), false).IsError());

    std::list<CItemPtr> lstItems = TakeQueued();
    ASSERT_EQ(2u, lstItems.size());
    CAnalyticsItemInterface *pFirst = CAnalyticsItemInterface::FromItem(*lstItems.front());
    CAnalyticsItemInterface *pSecond = CAnalyticsItemInterface::FromItem(*lstItems.back());
    EXPECT_EQ(4294967295u, pFirst->GetCollectID());
    EXPECT_EQ(-1, pFirst->GetCollectOffset());
    EXPECT_EQ(ptrAddInfo, pFirst->GetAdditionalInfo());
    EXPECT_TRUE(lstItems.front()->IsSelectedForAccess());
    EXPECT_EQ(9u, pSecond->GetCollectID());
    EXPECT_EQ(123456789012LL, pSecond->GetCollectOffset());
    EXPECT_FALSE(pSecond->GetAdditionalInfo());
    EXPECT_FALSE(lstItems.back()->IsSelectedForAccess());
}

TEST_F(SolrTransmitterQueueingCallsTest, ItemFormCopiesTheErrorCodeAndTheSecurityChoices) {
    m_ptrTransmitter->State().m_ptrOptions->SetCollectOwnerInfo(true);
    m_ptrTransmitter->State().m_ptrOptions->SetCollectSecurityInfo(false);
    Start();
    CItemPtr ptrItem = MakeTestItem(m_dir / "made-up");
    ptrItem->GetItemBag()->Write<uint32_t>("errorCode", 32);

    ASSERT_FALSE(m_ptrTransmitter
                     ->BuildAndAddToQueue(ptrItem, 2, 77, true, false, CAnalyticsItemAddInfoPtr())
                     .IsError());
    CAnalyticsItemInterface *pAnalytics = nullptr;
    ASSERT_EQ(ptrItem, TakeOnly(&pAnalytics));
    ASSERT_NE(nullptr, pAnalytics);
    EXPECT_TRUE(pAnalytics->IsItemFailed());
    EXPECT_EQ(32u, pAnalytics->GetErrorCode());
    EXPECT_TRUE(pAnalytics->IsSkippedForArchiving());
    EXPECT_TRUE(pAnalytics->IsCollectOwner());
    EXPECT_FALSE(pAnalytics->IsCollectSecurity());
    EXPECT_EQ(1u,
              m_ptrTransmitter->State().Timers().m_ptrCollectSecurityInfoTimer->GetTotalSamples());
}

TEST_F(SolrTransmitterQueueingCallsTest, DeletedFormQueuesAZeroItemMarkedDeleted) {
    Start();
    const std::string strPath = "UNC-NT_server/share/gone.doc";
    ASSERT_FALSE(m_ptrTransmitter->BuildAndAddDeletedItemsToQueue(strPath).IsError());

    CAnalyticsItemInterface *pAnalytics = nullptr;
    CItemPtr ptrItem = TakeOnly(&pAnalytics);
    ASSERT_TRUE(ptrItem);
    EXPECT_EQ(strPath, ptrItem->GetPath());
    EXPECT_EQ("gone.doc", ptrItem->GetName());
    EXPECT_EQ(0u, ptrItem->GetSize());
    EXPECT_EQ(0u, ptrItem->GetAttributes());
    EXPECT_TRUE(ptrItem->GetModificationTime().IsClear());
    EXPECT_TRUE(ptrItem->GetCreationTime().IsClear());
    EXPECT_TRUE(ptrItem->GetAccessTime().IsClear());
    ASSERT_NE(nullptr, pAnalytics);
    EXPECT_TRUE(pAnalytics->IsItemDeleted());
    EXPECT_EQ("app-guid-7", pAnalytics->GetAppGUID());
    EXPECT_EQ(4294967295u, pAnalytics->GetCollectID());
    EXPECT_EQ(-1, pAnalytics->GetCollectOffset());
    EXPECT_FALSE(pAnalytics->IsItemFailed());
}

TEST_F(SolrTransmitterQueueingCallsTest, ContentIdFormStoresIdAndUrlWithoutAnalytics) {
    Start();
    std::string strFile = m_dir.WriteFile("site/page.aspx", "<html/>");
    ASSERT_FALSE(
        m_ptrTransmitter->BuildAndAddToQueue(strFile, "content-42", "http://site/page").IsError());

    CItemPtr ptrItem = TakeOnly();
    ASSERT_TRUE(ptrItem);
    std::string strContentId;
    std::string strUrl;
    ASSERT_FALSE(ptrItem->GetItemBag()
                     ->Read(SXTransmitterConfigurationBagId::idIsContentId, strContentId)
                     .IsError());
    ASSERT_FALSE(ptrItem->GetItemBag()
                     ->Read(SXTransmitterConfigurationBagId::idIsItemURL, strUrl)
                     .IsError());
    EXPECT_EQ("content-42", strContentId);
    EXPECT_EQ("http://site/page", strUrl);
    EXPECT_EQ(nullptr, CAnalyticsItemInterface::FromItem(*ptrItem));
    EXPECT_FALSE(ptrItem->IsSelectedForAccess());
}

TEST_F(SolrTransmitterQueueingCallsTest, AbortedTransmitterRefusesEveryFormAtOnce) {
    m_ptrTransmitter->SetMaxQueueSize(1);
    Start();
    std::string strFile = m_dir.WriteFile("f", "1");
    // A full queue: a refusal must not wait for a slot.
    ASSERT_FALSE(m_ptrTransmitter->AddToQueue(MakeTestItem("/filler")).IsError());
    m_ptrTransmitter->State().m_ptrOptions->SetAborted(true);

    struct Case {
        const char *szName;
        std::function<CKyError()> call;
        bool bLogsAbort;
    };
    const Case cases[] = {
        {"item",
         [&] {
             return m_ptrTransmitter->BuildAndAddToQueue(MakeTestItem("/i"), 1, 0, false, false,
                                                         CAnalyticsItemAddInfoPtr());
         },
         true},
        {"one-path",
         [&] { return m_ptrTransmitter->BuildAndAddToQueue(strFile, 1, 0, false, false); }, true},
        {"two-path",
         [&] {
             return m_ptrTransmitter->BuildAndAddToQueue(strFile, m_dir.Path(), 1, 0, false, false);
         },
         true},
        {"single-path",
         [&] {
             return m_ptrTransmitter->BuildAndAddToQueue(strFile, CAnalyticsItemAddInfoPtr(),
                                                         false);
         },
         true},
        {"content-id", [&] { return m_ptrTransmitter->BuildAndAddToQueue(strFile, "c", "u"); },
         true},
        {"deleted", [&] { return m_ptrTransmitter->BuildAndAddDeletedItemsToQueue("/gone"); },
         false},
        {"plain", [&] { return m_ptrTransmitter->AddToQueue(MakeTestItem("/p")); }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::LogCapture capture(0);
        auto result = std::async(std::launch::async, c.call);
        ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(5)));
        EXPECT_TRUE(FXErrorUtil::IsWin32(result.get(), 995));
        EXPECT_EQ(c.bLogsAbort ? 1u : 0u,
                  capture.CountAtLevel("Aborting scan, solr transmitter has stopped", -1));
        if (!c.bLogsAbort) {
            // These two forms log nothing at all for the refusal.
            EXPECT_TRUE(capture.Lines().empty());
        }
    }
    EXPECT_EQ(1, m_ptrTransmitter->State().GetItemsQueued());
}

TEST_F(SolrTransmitterQueueingCallsTest, NeverStartedTransmitterRefusesEveryForm) {
    std::string strFile = m_dir.WriteFile("f", "1");
    const std::function<CKyError()> calls[] = {
        [&] {
            return m_ptrTransmitter->BuildAndAddToQueue(MakeTestItem("/i"), 1, 0, false, false,
                                                        CAnalyticsItemAddInfoPtr());
        },
        [&] { return m_ptrTransmitter->BuildAndAddToQueue(strFile, 1, 0, false, false); },
        [&] {
            return m_ptrTransmitter->BuildAndAddToQueue(strFile, m_dir.Path(), 1, 0, false, false);
        },
        [&] {
            return m_ptrTransmitter->BuildAndAddToQueue(strFile, CAnalyticsItemAddInfoPtr(), false);
        },
        [&] { return m_ptrTransmitter->BuildAndAddToQueue(strFile, "c", "u"); },
        [&] { return m_ptrTransmitter->BuildAndAddDeletedItemsToQueue("/gone"); },
        [&] { return m_ptrTransmitter->AddToQueue(MakeTestItem("/p")); },
    };
    for (const auto &call : calls) {
        CKyError error = call();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
        EXPECT_TRUE(HasText(error, "Transmitter was not started"));
    }
    EXPECT_TRUE(m_stubs.FilterPaths().empty());
    EXPECT_EQ(0, m_ptrTransmitter->State().GetItemsQueued());
}

TEST_F(SolrTransmitterQueueingCallsTest, PathQueueingBlocksOnAFullQueueUntilAnItemIsTaken) {
    m_ptrTransmitter->SetMaxQueueSize(2);
    Start();
    std::string strFile = m_dir.WriteFile("f", "1");
    ASSERT_FALSE(m_ptrTransmitter->BuildAndAddToQueue(strFile, 1, 0, false, false).IsError());
    ASSERT_FALSE(m_ptrTransmitter->BuildAndAddToQueue(strFile, 1, 1, false, false).IsError());

    auto blocked = std::async(std::launch::async, [&] {
        return m_ptrTransmitter->BuildAndAddToQueue(strFile, 1, 2, false, false);
    });
    EXPECT_EQ(std::future_status::timeout, blocked.wait_for(std::chrono::milliseconds(50)));

    idxtest::TakeQueued(m_ptrTransmitter->State(), 1);
    ASSERT_EQ(std::future_status::ready, blocked.wait_for(std::chrono::seconds(5)));
    EXPECT_FALSE(blocked.get().IsError());
    EXPECT_EQ(2u, m_ptrTransmitter->State().GetQueueLength());
}

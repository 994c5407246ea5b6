// The collaboration-site item sender against the stand-in web-service plug-in: every item goes
// with content under the content id it was queued with; refusals, the threshold, an abort and an
// exception in the middle of a batch as for virtual-machine items; the object GUID of a site file
// from its three name parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "documents/DocumentKeys.h"
#include "documents/SPItemSender.h"
#include "engine/SolrTransmitterThread.h"
#include "platform/Bag.h"
#include "platform/ObjectGuid.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/WebServicePlugin.h"
#include "tests/support/TempDir.h"
#include "tests/support/WebServiceJob.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

using idxtest::ProgressReport;

// An item as the content-id queueing form leaves it; no content id when strContentId is null.
CItemPtr SiteItem(const std::string &strPath, const char *szContentId, bool bFolder = false) {
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ptrItem->SetPath(strPath);
    ptrItem->SetFolder(bFolder);
    if (szContentId != nullptr) {
        ptrItem->GetItemBag()->Write(SXTransmitterConfigurationBagId::idIsContentId,
                                     std::string(szContentId));
        ptrItem->GetItemBag()->Write(SXTransmitterConfigurationBagId::idIsItemURL,
                                     "http://site.local" + strPath);
    }
    return ptrItem;
}

// A site item whose name cannot be read: the job's item object throws while the sender builds
// the item's record.
class ThrowingSiteItem : public CItem {
public:
    explicit ThrowingSiteItem(const std::string &strPath) { SetPath(strPath); }
    const std::string &GetFullyQualifiedItemName() const override {
        throw std::runtime_error("item refused");
    }
};

class SPItemSenderTest : public ::testing::Test {
protected:
    SPItemSenderTest() : m_log(7) {}

    void SetUp() override { Start(); }

    // A worker of a collaboration-site job, started on the test's thread (so its handler exists).
    void Start() {
        m_set = idxtest::MakeDocumentWorker(true);
        idxtest::SetUpSPJob(*m_set.ptrOptions, m_dir.Path());
        m_set.ptrOptions->SetCallback(m_ptrCallback);
        m_set.ptrWorker->OnStart();
        ASSERT_FALSE(m_set.ptrWorker->HasError()) << m_set.ptrWorker->GetError().AsString();
        ASSERT_FALSE(m_set.ptrState->OpenSolrFailuresFile().IsError());
    }

    CKyError Send(const std::vector<CItemPtr> &vecItems) {
        CItemBatch batch(*m_set.ptrState);
        for (const CItemPtr &ptrItem : vecItems) {
            batch.Add(ptrItem);
        }
        return CSPItemSender(*m_set.ptrWorker).Send(batch);
    }

    std::string Failures() {
        m_set.ptrState->CloseSolrFailuresFile();
        return idxtest::ReadWholeFile(m_dir / "SolrBackupFailures.tqf");
    }

    // The backup phase's failures file is appended to: the next start finds an empty one.
    void RemoveFailures() {
        m_set.ptrState->CloseSolrFailuresFile();
        std::remove((m_dir / "SolrBackupFailures.tqf").c_str());
    }

    idxtest::LogCapture m_log;
    idxtest::WebServicePlugin m_plugin;
    idxtest::TempDir m_dir;
    idxtest::ProgressCallbackPtr m_ptrCallback = boost::make_shared<idxtest::ProgressCallback>();
    idxtest::DocumentWorkerSet m_set;
};

TEST_F(SPItemSenderTest, EveryItemGoesWithContentUnderItsQueuedContentId) {
    ASSERT_FALSE(Send({SiteItem("/sites/a/doc.docx", "cid-1"), SiteItem("/sites/a", "cid-2", true),
                       SiteItem("/sites/b/x", nullptr)})
                     .IsError());

    const std::vector<idxtest::WebServiceCall> vecPushed = m_plugin.Items();
    ASSERT_EQ(vecPushed.size(), 3u);
    const char *const aszContentIds[] = {"cid-1", "cid-2", ""};
    const char *const aszPaths[] = {"/sites/a/doc.docx", "/sites/a", "/sites/b/x"};
    for (size_t i = 0; i < vecPushed.size(); ++i) {
        SCOPED_TRACE(aszPaths[i]);
        // Folders too: document type 1, with content.
        EXPECT_EQ(vecPushed[i].strOperation, "PushItem");
        EXPECT_EQ(vecPushed[i].nDocumentType, 1);
        EXPECT_EQ(vecPushed[i].strPath, aszPaths[i]);
        EXPECT_EQ(vecPushed[i].strContentId, aszContentIds[i]);
        EXPECT_EQ(vecPushed[i].strVersionGuid, "");
        EXPECT_TRUE(vecPushed[i].vecProperties.empty());
    }
    EXPECT_EQ(m_ptrCallback->Reports(), (std::vector<ProgressReport>{{3, 0, 0}}));
    EXPECT_EQ(Failures(), "");
}

TEST_F(SPItemSenderTest, RefusedItemsAndTheThreshold) {
    m_set.ptrOptions->SetMaxConsecutiveFailuresThreshold(2);
    idxtest::WebServiceItemFailure listed;
    listed.strPath = "/s/b";
    m_plugin.FailItem(listed);
    ASSERT_FALSE(Send({SiteItem("/s/a", "1"), SiteItem("/s/b", "2")}).IsError());
    EXPECT_FALSE(m_set.ptrOptions->IsAborted());

    idxtest::WebServiceItemFailure unlisted;
    unlisted.strPath = "/s/c";
    unlisted.bListed = false;
    m_plugin.FailItem(unlisted);
    CKyError error = Send({SiteItem("/s/b", "2"), SiteItem("/s/c", "3"), SiteItem("/s/d", "4")});

    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 995)) << error.AsString();
    EXPECT_TRUE(m_set.ptrOptions->IsAborted());
    EXPECT_EQ(m_log.CountAtLevel(
                  "Max indexing errors exceeded threshold limit for sending data to index. ", -1),
              1u);
    EXPECT_EQ(m_ptrCallback->Reports(), (std::vector<ProgressReport>{{1, 0, 1}, {1, 0, 2}}));
    EXPECT_EQ(Failures(), "/s/b\n/s/b\n/s/c\n");
}

TEST_F(SPItemSenderTest, AnAbortInTheMiddleFailsWhatWasNotHandedOver) {
    m_ptrCallback->QuitAfter(1);
    CKyError error = Send({SiteItem("/s/a", "1"), SiteItem("/s/b", "2"), SiteItem("/s/c", "3")});
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 995)) << error.AsString();
    EXPECT_EQ(m_log.CountAtLevel("Recieved Quit flag. Exiting TransmitterThread", 4), 1u);
    EXPECT_EQ(m_plugin.Items().size(), 1u);
    EXPECT_TRUE(m_ptrCallback->Reports().empty());
    EXPECT_EQ(Failures(), "/s/b\n/s/c\n");
}

TEST_F(SPItemSenderTest, AThrowInTheMiddleOfABatchLeavesEachItemAtThePluginOrInTheFailuresFile) {
    struct Case {
        const char *szName;
        std::vector<CItemPtr> vecItems;
        const char *szRefused; // the plug-in refuses the record of this path; null: none
        int nQueryThrowsAfter; // the job's quit query throws after this many; -1: never
        std::vector<std::string> vecHandedOver;
        const char *szFailures;
    };
    const Case cases[] = {
        {"the job's quit query throws before the third item",
         {SiteItem("/s/a", "1"), SiteItem("/s/b", "2"), SiteItem("/s/c", "3"),
          SiteItem("/s/d", "4")},
         "/s/b",
         2,
         {"/s/a", "/s/b"},
         "/s/b\n/s/c\n/s/d\n"},
        {"the third item throws while its record is built",
         {SiteItem("/s/a", "1"), SiteItem("/s/b", "2"),
          boost::make_shared<ThrowingSiteItem>("/s/c"), SiteItem("/s/d", "4")},
         "/s/a",
         -1,
         {"/s/a", "/s/b"},
         "/s/a\n/s/c\n/s/d\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        RemoveFailures();
        m_plugin.Reset();
        m_ptrCallback = boost::make_shared<idxtest::ProgressCallback>();
        Start();
        if (c.szRefused != nullptr) {
            idxtest::WebServiceItemFailure failure;
            failure.strPath = c.szRefused;
            m_plugin.FailItem(failure);
        }
        m_ptrCallback->RefuseQuitQueryAfter(c.nQueryThrowsAfter);

        // The test's batch stands where the worker's loop holds it; the exception leaves the
        // sender (the worker's loop logs it as the batch's error).
        EXPECT_THROW(Send(c.vecItems), std::runtime_error);

        // The plug-in was handed the items before the throw, nothing after it.
        const std::vector<idxtest::WebServiceCall> vecPushed = m_plugin.Items();
        std::vector<std::string> vecPushedPaths;
        for (const idxtest::WebServiceCall &call : vecPushed) {
            vecPushedPaths.push_back(call.strPath);
        }
        EXPECT_EQ(vecPushedPaths, c.vecHandedOver);
        const std::string strFailures = Failures();
        EXPECT_EQ(strFailures, c.szFailures);
        idxtest::ExpectEachItemDeliveredOrListedOnce(c.vecItems, vecPushed, strFailures,
                                                     *m_set.ptrState);
    }
}

TEST_F(SPItemSenderTest, TheObjectGuidOfASiteFileJoinsItsPartsAsTheyAre) {
    struct Case {
        const char *szFirst;
        const char *szSecond;
        const char *szThird;
        const char *szJoined;
    };
    const Case cases[] = {{"site", "list", "item", "site\\list\\item"},
                          {"site\\", "list", "item", "site\\\\list\\item"},
                          {"", "", "", "\\\\"}};
    for (const Case &c : cases) {
        std::string strGuid;
        IdxDocuments::GetContentIdForSPFile(c.szFirst, c.szSecond, c.szThird, strGuid);
        std::string strExpected;
        GetObjectGuid(c.szJoined, true, '\\', strExpected);
        EXPECT_EQ(strGuid, strExpected) << c.szJoined;
        EXPECT_FALSE(strGuid.empty());
    }
    std::string strUpper, strLower;
    IdxDocuments::GetContentIdForSPFile("Site", "List", "Item", strUpper);
    IdxDocuments::GetContentIdForSPFile("site", "list", "item", strLower);
    EXPECT_EQ(strUpper, strLower);
}

} // namespace

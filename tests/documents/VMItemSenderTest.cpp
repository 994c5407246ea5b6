// The virtual-machine item sender against the stand-in web-service plug-in: what each item's
// record carries, the content choice and the filters, the items the plug-in refuses, the failure
// threshold, an abort or an exception in the middle of a batch and a worker that has no handler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <list>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "documents/DocumentKeys.h"
#include "documents/SPItemSender.h"
#include "documents/VMItemSender.h"
#include "engine/SolrTransmitterThread.h"
#include "platform/Bag.h"
#include "platform/ObjectGuid.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/VirtualClock.h"
#include "platform/testing/WebServicePlugin.h"
#include "tests/support/TempDir.h"
#include "tests/support/WebServiceJob.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

using idxtest::ProgressReport;

CItemPtr Item(const std::string &strPath, bool bFolder = false) {
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ptrItem->SetPath(strPath);
    ptrItem->SetFolder(bFolder);
    ptrItem->SetSize(10);
    return ptrItem;
}

// An item whose modification time cannot be read: the job's item object throws while the sender
// builds the item's record.
class ThrowingItem : public CItem {
public:
    explicit ThrowingItem(const std::string &strPath) { SetPath(strPath); }
    CTimeStamp GetModificationTime() const override { throw std::runtime_error("item refused"); }
};

std::vector<std::string> Paths(const std::vector<idxtest::WebServiceCall> &vecCalls) {
    std::vector<std::string> vecPaths;
    for (const idxtest::WebServiceCall &call : vecCalls) {
        vecPaths.push_back(call.strPath);
    }
    return vecPaths;
}

class VMItemSenderTest : public ::testing::Test {
protected:
    VMItemSenderTest() : m_log(30) {}

    // A worker of a virtual-machine job, started on the test's thread (so its handler exists).
    void Start(bool bPushOnlyMetaData = false) {
        m_set = idxtest::MakeDocumentWorker(bPushOnlyMetaData);
        idxtest::SetUpVMJob(*m_set.ptrOptions, m_dir.Path());
        m_set.ptrOptions->SetPushOnlyMetaData(bPushOnlyMetaData);
        m_set.ptrOptions->SetCallback(m_ptrCallback);
        Configure(*m_set.ptrOptions);
        m_set.ptrWorker->OnStart();
        ASSERT_FALSE(m_set.ptrWorker->HasError()) << m_set.ptrWorker->GetError().AsString();
        ASSERT_FALSE(m_set.ptrState->OpenSolrFailuresFile().IsError());
    }

    // Set before the start, which fills the worker's filter sets.
    virtual void Configure(CTransmitterOptions &) {}

    // A worker of a virtual-machine or collaboration-site job with the test's callback, not
    // started.
    void MakeWorkerOfJob(bool bVM) {
        m_set = idxtest::MakeDocumentWorker(false);
        if (bVM) {
            idxtest::SetUpVMJob(*m_set.ptrOptions, m_dir.Path());
        } else {
            idxtest::SetUpSPJob(*m_set.ptrOptions, m_dir.Path());
        }
        m_set.ptrOptions->SetCallback(m_ptrCallback);
    }

    CKyError Send(const std::vector<CItemPtr> &vecItems) {
        CItemBatch batch(*m_set.ptrState);
        for (const CItemPtr &ptrItem : vecItems) {
            batch.Add(ptrItem);
        }
        return CVMItemSender(*m_set.ptrWorker).Send(batch);
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

    static std::string ContentIdOf(const std::string &strPath) {
        std::string strObjectGuid;
        GetObjectGuid(strPath, false, '/', strObjectGuid);
        return std::string(idxtest::VMJobValues::kVMGuid) + "!" +
               IdxDocuments::MakeHash(strObjectGuid + idxtest::VMJobValues::kAppGuid);
    }

    // The abort of a virtual-machine worker pauses a second; the virtual clock makes it free.
    idxtest::VirtualClock m_clock;
    idxtest::LogCapture m_log;
    idxtest::WebServicePlugin m_plugin;
    idxtest::TempDir m_dir;
    idxtest::ProgressCallbackPtr m_ptrCallback = boost::make_shared<idxtest::ProgressCallback>();
    idxtest::DocumentWorkerSet m_set;
};

class VMItemSenderFilterTest : public VMItemSenderTest {
protected:
    void Configure(CTransmitterOptions &options) override {
        options.SetVmMountPathVol(
            {{"/mnt/vm/0", "C:"}, {"/mnt/vm/0/sub", "S:"}, {"/mnt/vm/1", "D:"}});
        options.SetIncludeFiltersSet({"*.txt"});
        options.SetExcludeFiltersSet({"*.tmp"});
        options.SetExcludePaths({"C:/private"});
    }
};

TEST_F(VMItemSenderFilterTest, EachItemReachesThePluginOnceAsItsRecord) {
    Start();
    const std::vector<CItemPtr> vecItems = {
        Item("/mnt/vm/0/docs/a.txt"), Item("/mnt/vm/0/docs/b.log"),    Item("/mnt/vm/0/docs", true),
        Item("/mnt/vm/0/tmp/c.tmp"),  Item("/mnt/vm/0/private/d.txt"), Item("/mnt/vm/1/e.txt"),
        Item("/other/f.txt"),         Item("/mnt/vm/0/sub/g.txt")};
    ASSERT_FALSE(Send(vecItems).IsError());

    const std::vector<idxtest::WebServiceCall> vecPushed = m_plugin.Items();
    ASSERT_EQ(Paths(vecPushed),
              (std::vector<std::string>{"/mnt/vm/0/docs/a.txt", "/mnt/vm/0/docs/b.log",
                                        "/mnt/vm/0/docs", "/mnt/vm/0/private/d.txt",
                                        "/mnt/vm/1/e.txt", "/other/f.txt", "/mnt/vm/0/sub/g.txt"}));
    struct Expected {
        const char *szOperation;
        const char *szWorkingPath;
        int nDocumentType;
    };
    const Expected expected[] = {{"PushItem", "C:/docs/a.txt", 1},
                                 {"PushItemMetadata", "C:/docs/b.log", 1},
                                 {"PushItemMetadata", "C:/docs", 4},
                                 {"PushItemMetadata", "C:/private/d.txt", 1},
                                 {"PushItem", "D:/e.txt", 1},
                                 {"PushItem", "/other/f.txt", 1},
                                 // Only the first mount path that takes the path in rewrites it.
                                 {"PushItem", "C:/sub/g.txt", 1}};
    for (size_t i = 0; i < vecPushed.size(); ++i) {
        const idxtest::WebServiceCall &call = vecPushed[i];
        SCOPED_TRACE(call.strPath);
        EXPECT_EQ(call.strOperation, expected[i].szOperation);
        EXPECT_EQ(call.nDocumentType, expected[i].nDocumentType);
        EXPECT_EQ(call.strContentId, ContentIdOf(expected[i].szWorkingPath));
        ASSERT_FALSE(call.vecProperties.empty());
        EXPECT_EQ(call.vecProperties.back().first, "FilePath");
        EXPECT_EQ(call.vecProperties.back().second, expected[i].szWorkingPath);
        EXPECT_EQ(call.vecProperties.front().first, "TQObjectGUID");
        EXPECT_FALSE(call.strVersionGuid.empty());
        EXPECT_EQ(call.Property("TQTurboGUID"), call.strVersionGuid);
    }

    EXPECT_EQ(m_ptrCallback->Reports(), (std::vector<ProgressReport>{{8, 4, 0}}));
    EXPECT_EQ(m_log.CountAtLevel("Skipping Content push as it met the exclude filters. File "
                                 "[/mnt/vm/0/tmp/c.tmp]",
                                 4),
              1u);
    EXPECT_EQ(m_log.CountAtLevel("This item [C:/docs/a.txt] will be content indexed ", 4), 1u);
    EXPECT_EQ(
        m_log.CountAtLevel("New path, FQN=[C:/sub/g.txt], first=[/mnt/vm/0], second=[C:]", 30), 1u);
    EXPECT_TRUE(m_plugin.Calls("GetFailedItems").empty());
    EXPECT_EQ(Failures(), "");
    EXPECT_FALSE(m_set.ptrState->IfPushDataToSolrFailed());
}

TEST_F(VMItemSenderFilterTest, PushOnlyMetadataConsultsNoFilter) {
    Start(true);
    ASSERT_FALSE(Send({Item("/mnt/vm/0/a.txt"), Item("/mnt/vm/0/c.tmp")}).IsError());
    const std::vector<idxtest::WebServiceCall> vecPushed = m_plugin.Items();
    ASSERT_EQ(vecPushed.size(), 2u);
    for (const idxtest::WebServiceCall &call : vecPushed) {
        EXPECT_EQ(call.strOperation, "PushItemMetadata") << call.strPath;
    }
    EXPECT_EQ(m_ptrCallback->Reports(), (std::vector<ProgressReport>{{2, 0, 0}}));
}

TEST_F(VMItemSenderTest, ItemsThePluginRefusesGoToTheFailuresFile) {
    Start();
    idxtest::WebServiceItemFailure listed;
    listed.strPath = "/b";
    m_plugin.FailItem(listed);
    idxtest::WebServiceItemFailure unlisted;
    unlisted.strPath = "/c";
    unlisted.bListed = false;
    m_plugin.FailItem(unlisted);
    idxtest::WebServiceItemFailure withEarlier;
    withEarlier.strPath = "/e";
    withEarlier.vecAlsoListed = {"/a"};
    m_plugin.FailItem(withEarlier);

    ASSERT_FALSE(Send({Item("/a"), Item("/b"), Item("/c"), Item("/d"), Item("/e")}).IsError());

    EXPECT_EQ(Paths(m_plugin.Items()), (std::vector<std::string>{"/a", "/b", "/c", "/d", "/e"}));
    // Each refusal: the list read, then cleared.
    EXPECT_EQ(m_plugin.Calls("GetFailedItems").size(), 3u);
    EXPECT_EQ(m_plugin.Calls("ClearFailedItems").size(), 3u);
    EXPECT_EQ(m_ptrCallback->Reports(), (std::vector<ProgressReport>{{1, 0, 4}}));
    EXPECT_EQ(Failures(), "/b\n/c\n/e\n/a\n");
    EXPECT_EQ(m_set.ptrState->GetFailedItemCount(), 4);
    EXPECT_TRUE(m_set.ptrState->IfPushDataToSolrFailed());
    EXPECT_FALSE(m_set.ptrOptions->IsAborted());
}

TEST_F(VMItemSenderTest, FailuresReachingAPositiveThresholdAbortTheTransmitter) {
    struct Case {
        long long llThreshold;
        int nFailures;
        bool bAborts;
    };
    const Case cases[] = {{2, 2, true},  {2, 3, true},   {3, 2, false},
                          {0, 2, false}, {-1, 1, false}, {0, 0, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.llThreshold) + " " + std::to_string(c.nFailures));
        m_plugin.Reset();
        m_log.Clear();
        Start();
        m_set.ptrOptions->SetMaxConsecutiveFailuresThreshold(c.llThreshold);
        std::vector<CItemPtr> vecItems;
        for (int i = 0; i < 4; ++i) {
            vecItems.push_back(Item("/i" + std::to_string(i)));
            if (i < c.nFailures) {
                idxtest::WebServiceItemFailure failure;
                failure.strPath = "/i" + std::to_string(i);
                m_plugin.FailItem(failure);
            }
        }
        CKyError error = Send(vecItems);
        EXPECT_EQ(FXErrorUtil::IsWin32(error, 995), c.bAborts) << error.AsString();
        EXPECT_EQ(error.IsError(), c.bAborts);
        EXPECT_EQ(m_set.ptrOptions->IsAborted(), c.bAborts);
        EXPECT_EQ(m_log.CountAtLevel(
                      "Max indexing errors exceeded threshold limit for sending data to index", -1),
                  c.bAborts ? 1u : 0u);
        // Every item was handed over, and the failures are written and reported either way.
        EXPECT_EQ(m_plugin.Items().size(), 4u);
        EXPECT_EQ(m_set.ptrState->GetFailedItemCount(), c.nFailures);
        RemoveFailures();
    }
}

TEST_F(VMItemSenderTest, AnEmptyBatchReportsZerosAndNeverAborts) {
    Start();
    m_set.ptrOptions->SetMaxConsecutiveFailuresThreshold(0);
    EXPECT_FALSE(Send({}).IsError());
    EXPECT_EQ(m_ptrCallback->Reports(), (std::vector<ProgressReport>{{0, 0, 0}}));
    EXPECT_FALSE(m_set.ptrOptions->IsAborted());
}

TEST_F(VMItemSenderTest, TheTopFolderOfAnUnmarkedWalkIsPassedOver) {
    Start();
    CBagPtr ptrWorkUnit = boost::make_shared<CBag>();
    ptrWorkUnit->Write(SXTransmitterConfigurationBagId::idIsRoot, true);
    CItemPtr ptrMarkedRoot = boost::make_shared<CItem>(ptrWorkUnit);
    ptrMarkedRoot->SetPath("/");
    ptrMarkedRoot->SetFolder(true);

    ASSERT_FALSE(Send({Item("/", true), Item("/a.txt"), ptrMarkedRoot}).IsError());

    const std::vector<idxtest::WebServiceCall> vecPushed = m_plugin.Items();
    ASSERT_EQ(Paths(vecPushed), (std::vector<std::string>{"/a.txt", "/"}));
    EXPECT_EQ(vecPushed[1].Property("ParentGUID"), "5");
    EXPECT_EQ(m_ptrCallback->Reports(), (std::vector<ProgressReport>{{3, 0, 0}}));
    EXPECT_EQ(m_log.CountAtLevel("Skipping push for [/], ItemName [", 1), 1u);
    EXPECT_EQ(Failures(), "");
}

TEST_F(VMItemSenderTest, AnAbortInTheMiddleFailsWhatWasNotHandedOver) {
    Start();
    idxtest::WebServiceItemFailure failure;
    failure.strPath = "/b";
    m_plugin.FailItem(failure);
    // The abort test before each item asks the job's quit flag: it shows before the third item.
    m_ptrCallback->QuitAfter(2);

    CKyError error = Send({Item("/a"), Item("/b"), Item("/c"), Item("/d")});

    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 995)) << error.AsString();
    EXPECT_TRUE(m_set.ptrOptions->IsAborted());
    EXPECT_TRUE(FXErrorUtil::IsWin32(m_set.ptrWorker->GetError(), 995));
    EXPECT_EQ(m_log.CountAtLevel("Recieved Quit flag. Exiting TransmitterThread", 4), 1u);
    EXPECT_EQ(Paths(m_plugin.Items()), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_TRUE(m_ptrCallback->Reports().empty());
    EXPECT_EQ(Failures(), "/b\n/c\n/d\n");
}

TEST_F(VMItemSenderTest, AThrowInTheMiddleOfABatchLeavesEachItemAtThePluginOrInTheFailuresFile) {
    struct Case {
        const char *szName;
        std::vector<CItemPtr> vecItems;
        // The plug-in refuses the record of this path and reports those of vecAlsoFailed failed
        // with it.
        const char *szRefused;
        std::vector<std::string> vecAlsoFailed;
        int nQueryThrowsAfter; // the job's quit query throws after this many; -1: never
        std::vector<std::string> vecHandedOver;
        const char *szFailures;
    };
    const Case cases[] = {
        // /a was handed over before the refusal of /c that reports it failed too.
        {"the job's quit query throws before the fourth item",
         {Item("/a"), Item("/b"), Item("/c"), Item("/d"), Item("/e")},
         "/c",
         {"/a"},
         3,
         {"/a", "/b", "/c"},
         "/c\n/a\n/d\n/e\n"},
        {"the third item throws while its record is built",
         {Item("/a"), Item("/b"), boost::make_shared<ThrowingItem>("/c"), Item("/d")},
         "/b",
         {},
         -1,
         {"/a", "/b"},
         "/b\n/c\n/d\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        m_plugin.Reset();
        m_ptrCallback = boost::make_shared<idxtest::ProgressCallback>();
        Start();
        idxtest::WebServiceItemFailure failure;
        failure.strPath = c.szRefused;
        failure.vecAlsoListed = c.vecAlsoFailed;
        m_plugin.FailItem(failure);
        m_ptrCallback->RefuseQuitQueryAfter(c.nQueryThrowsAfter);

        // The test's batch stands where the worker's loop holds it; the exception leaves the
        // sender (the worker's loop logs it as the batch's error).
        EXPECT_THROW(Send(c.vecItems), std::runtime_error);

        // The plug-in was handed the items before the throw, nothing after it.
        const std::vector<idxtest::WebServiceCall> vecPushed = m_plugin.Items();
        EXPECT_EQ(Paths(vecPushed), c.vecHandedOver);
        const std::string strFailures = Failures();
        EXPECT_EQ(strFailures, c.szFailures);
        idxtest::ExpectEachItemDeliveredOrListedOnce(c.vecItems, vecPushed, strFailures,
                                                     *m_set.ptrState);
        RemoveFailures();
    }
}

TEST_F(VMItemSenderTest, AListIsHandedToABatchOfItsOwn) {
    Start();
    std::list<CItemPtr> lstItems = {Item("/a"), Item("/b")};
    CVMItemSender sender(*m_set.ptrWorker);
    EXPECT_FALSE(idxtest::SendAsBatch(sender, *m_set.ptrState, lstItems).IsError());
    EXPECT_TRUE(lstItems.empty());
    EXPECT_EQ(Paths(m_plugin.Items()), (std::vector<std::string>{"/a", "/b"}));
}

TEST_F(VMItemSenderTest, AWorkerWithoutAHandlerFailsItsBatchAndAbortsWithItsStartError) {
    for (bool bVM : {true, false}) {
        SCOPED_TRACE(bVM ? "virtual machine" : "collaboration site");
        m_plugin.Reset();
        m_ptrCallback = boost::make_shared<idxtest::ProgressCallback>();
        m_ptrCallback->FailInitializeThread(
            FXErrorUtil::ErrorWin32(FXLOC, 1359, "the job refused the worker"));
        MakeWorkerOfJob(bVM);
        // The start ends at the job's refusal, before the handler is made; nothing is aborted.
        m_set.ptrWorker->OnStart();
        EXPECT_FALSE(m_set.ptrOptions->IsAborted());
        ASSERT_FALSE(m_set.ptrState->OpenSolrFailuresFile().IsError());

        CItemBatch batch(*m_set.ptrState);
        batch.Add(Item("/a"));
        batch.Add(Item("/b"));
        CKyError error = bVM ? CVMItemSender(*m_set.ptrWorker).Send(batch)
                             : CSPItemSender(*m_set.ptrWorker).Send(batch);
        EXPECT_TRUE(batch.IsEmpty());
        EXPECT_EQ(batch.GetFailedCount(), 2);
        batch.RecordFailures();

        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1359)) << error.AsString();
        EXPECT_TRUE(m_set.ptrOptions->IsAborted());
        EXPECT_TRUE(FXErrorUtil::IsWin32(m_set.ptrWorker->GetError(), 1359));
        EXPECT_EQ(m_plugin.HandlersMade(), 0);
        EXPECT_TRUE(m_plugin.Calls().empty());
        EXPECT_EQ(Failures(), "/a\n/b\n");
        RemoveFailures();
    }
}

TEST_F(VMItemSenderTest, EveryFailedItemIsListedUnderItsRecordsPathWhicheverWayItFailed) {
    // Items whose path differs from the fully qualified name the job gave them, which is the
    // path of their records.
    auto Named = [](const std::string &strLeaf) {
        CItemPtr ptrItem = Item("/path/" + strLeaf);
        ptrItem->SetFullyQualifiedItemName("/name/" + strLeaf);
        return ptrItem;
    };
    for (bool bVM : {true, false}) {
        SCOPED_TRACE(bVM ? "virtual machine" : "collaboration site");
        m_plugin.Reset();
        m_ptrCallback = boost::make_shared<idxtest::ProgressCallback>();
        MakeWorkerOfJob(bVM);
        m_set.ptrWorker->OnStart();
        ASSERT_FALSE(m_set.ptrWorker->HasError()) << m_set.ptrWorker->GetError().AsString();
        ASSERT_FALSE(m_set.ptrState->OpenSolrFailuresFile().IsError());
        ASSERT_FALSE(m_set.ptrState->Queue().Create(10).IsError());
        // Still queued when the abort empties the queue.
        ASSERT_FALSE(m_set.ptrState->AddToQueue(Named("queued")).IsError());

        // The pushed item is refused and the plug-in lists an earlier one with it; the quit flag
        // shows before the third item, which is never handed over.
        idxtest::WebServiceItemFailure failure;
        failure.strPath = "/name/refused";
        failure.vecAlsoListed = {"/name/earlier"};
        m_plugin.FailItem(failure);
        m_ptrCallback->QuitAfter(2);
        CItemBatch batch(*m_set.ptrState);
        batch.Add(Named("earlier"));
        batch.Add(Named("refused"));
        batch.Add(Named("unsent"));
        CKyError error = bVM ? CVMItemSender(*m_set.ptrWorker).Send(batch)
                             : CSPItemSender(*m_set.ptrWorker).Send(batch);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 995)) << error.AsString();
        batch.RecordFailures();

        std::vector<std::string> vecListed;
        std::string strFailures = Failures();
        for (size_t nStart = 0, nEnd; (nEnd = strFailures.find('\n', nStart)) != std::string::npos;
             nStart = nEnd + 1) {
            vecListed.push_back(strFailures.substr(nStart, nEnd - nStart));
        }
        std::sort(vecListed.begin(), vecListed.end());
        EXPECT_EQ(vecListed, (std::vector<std::string>{"/name/earlier", "/name/queued",
                                                       "/name/refused", "/name/unsent"}));
        RemoveFailures();
    }
}

} // namespace

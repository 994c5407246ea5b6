// The index-log writer of types 1 to 4 against the stand-in index server: the calls from start to
// the backup-done flag, the file header byte by byte, the metadata message and its identifiers,
// and what a refused call or an exception does to the item, the transmitter and the job.
#include "logwriter/IdxLogWriterThread.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "logwriter/IdxLogWriterThreadBlkLvl.h"
#include "logwriter/IdxLogWriterThreadFSDirect.h"
#include "logwriter/IdxLogWriterThreadVSA.h"
#include "platform/FileNameHash.h"
#include "platform/JobClients.h"
#include "platform/testing/IndexServer.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/logwriter/LogWriterTestSupport.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::FileItemSpec;
using idxtest::HeaderU32;
using idxtest::HeaderU64;
using idxtest::IndexServerCall;
using idxtest::LogWriterTransmitter;
using idxtest::WaitUntil;

namespace {

const int64_t kRefTime = 1600000000;

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

// An item of the walk whose attributes cannot be read: the job's item object throws while the
// worker builds the item's header.
class ThrowingFileItem : public CItem {
public:
    explicit ThrowingFileItem(const std::string &strPath) { SetPath(strPath); }
    uint32_t GetAttributes() const override { throw std::runtime_error("item refused"); }
};

class IdxLogWriterThreadTest : public ::testing::Test {
protected:
    std::unique_ptr<LogWriterTransmitter>
    MakeTransmitter(eIDX_Transmitter_Type eType, int nWorkers = 1, uint64_t ullFlags = 0x80) {
        auto ptrTransmitter = std::make_unique<LogWriterTransmitter>(eType);
        CTransmitterOptions &options = ptrTransmitter->Options();
        options.SetSubClientDir(m_dir.Path());
        options.SetFleetId(2);
        options.SetApplicationNumber(7);
        options.SetAppType(33);
        options.SetBackupType(1);
        options.SetJobToken("job-token");
        options.SetIndexingServerMangledName("idx-mangled");
        options.SetIndexingServerClientName("idx-client");
        options.SetIndexingConnectionFlags(ullFlags);
        options.SetSnapJobId(12);
        options.SetSnapArchiveFileID(40);
        options.SetArchiveFileFlags(0x214);
        options.SetClientOSId(210);
        options.SetRefTime(kRefTime);
        options.SetAppGUID("app-guid");
        options.SetVSACatalogBackupSetGUID("backup-set-guid");
        EXPECT_FALSE(ptrTransmitter->SetNumberofTransmitterThreads(nWorkers).IsError());
        EXPECT_FALSE(ptrTransmitter->SetCallback(m_ptrCallback).IsError());
        return ptrTransmitter;
    }

    // Queues the items and waits until the index server has taken nHeaders headers.
    void QueueAndWait(LogWriterTransmitter &transmitter, const std::vector<CItemPtr> &vecItems,
                      size_t nHeaders) {
        for (const CItemPtr &ptrItem : vecItems) {
            ASSERT_FALSE(transmitter.AddToQueue(ptrItem).IsError());
        }
        ASSERT_TRUE(WaitUntil([&] { return AcceptedHeaders().size() >= nHeaders; }));
    }

    std::vector<IndexServerCall> AcceptedHeaders() {
        std::vector<IndexServerCall> vecHeaders;
        for (const IndexServerCall &call : m_server.CallsNamed("sendFileInfo")) {
            if (call.nResult == 0) {
                vecHeaders.push_back(call);
            }
        }
        return vecHeaders;
    }

    // The accepted header of the item whose stored name is strName.
    CXFileHeader HeaderNamed(const std::string &strName) {
        for (const IndexServerCall &call : AcceptedHeaders()) {
            if (strName == call.header.szName) {
                return call.header;
            }
        }
        ADD_FAILURE() << "no header named " << strName;
        return CXFileHeader();
    }

    idxtest::TempDir m_dir;
    idxtest::IndexServer m_server;
    idxtest::VirtualClock m_clock;
    boost::shared_ptr<idxtest::JobProgressCallback> m_ptrCallback =
        boost::make_shared<idxtest::JobProgressCallback>();
};

// The identifiers the generator gives for what the writer should have handed it.
std::vector<std::string> ExpectedIds(const std::string &strPath, const std::string &strParent,
                                     int64_t llFirst, int64_t llSecond, uint64_t ullSize,
                                     uint32_t nAttributes) {
    std::vector<std::string> vecIds(4);
    CFileNameHash::GetValuesArgs args;
    args.strPath = strPath;
    args.strParentPath = strParent;
    args.llFirstTime = llFirst;
    args.llSecondTime = llSecond;
    args.ullSize = ullSize;
    args.nAttributes = nAttributes;
    args.pFileId1 = &vecIds[0];
    args.pFileId2 = &vecIds[1];
    args.pFileId3 = &vecIds[2];
    args.pFileId4 = &vecIds[3];
    CFileNameHash hash("app-guid");
    EXPECT_FALSE(hash.GetValues(args).IsError());
    return vecIds;
}

// The four identifiers and the time that a metadata message carries, in the order 1 to 4.
struct MessageIds {
    std::vector<std::string> vecIds;
    int64_t llTime = 0;
    std::string strViewId;
    std::string strBackupSet;
};

MessageIds IdsOf(const CNMessageBase &message) {
    MessageIds ids;
    const CNMessageBase *pIndexing = message.getObject(1, 1);
    const CNMessageBase *pAging = message.getObject(11, 11);
    const CNMessageBase *pDbInfo = pIndexing ? pIndexing->getObject(12, 15) : nullptr;
    if (!pIndexing || !pAging || !pDbInfo) {
        ADD_FAILURE() << "nested record missing";
        return ids;
    }
    ids.vecIds = {pIndexing->getstring(13, 16), pIndexing->getstring(14, 20),
                  pAging->getstring(1, 1), pDbInfo->getstring(3, 9)};
    ids.llTime = pIndexing->getint64(32);
    ids.strViewId = pDbInfo->getstring(2, 5);
    ids.strBackupSet = pDbInfo->getstring(1, 1);
    return ids;
}

} // namespace

TEST_F(IdxLogWriterThreadTest, EachTypeCallsTheIndexServerInOrderFromStartToBackupDone) {
    struct Case {
        eIDX_Transmitter_Type eType;
        uint64_t ullFlags;
        const char *szViewId;
    };
    const Case cases[] = {
        {eIDX_Transmitter_LogWriter, 0x80, "default"},
        {eIDX_Transmitter_VSA, 0x80, "VSAFILEVIEW"},
        {eIDX_Transmitter_BlkLvl, 0x90, "default"},
        {eIDX_Transmitter_FSDirect, 1, "default"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.eType);
        idxtest::IndexServer::Reset();
        m_ptrCallback = boost::make_shared<idxtest::JobProgressCallback>();
        auto ptrTransmitter = MakeTransmitter(c.eType, 1, c.ullFlags);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        QueueAndWait(*ptrTransmitter,
                     {idxtest::MakeFileItem({"/d/a.txt", "", false, 3}),
                      idxtest::MakeFileItem({"/d/sub", "", true})},
                     2);
        ASSERT_FALSE(ptrTransmitter->Stop().IsError());

        EXPECT_EQ(1, m_server.ConnectionsMade());
        EXPECT_EQ((std::vector<std::string>{"initialize", "setStreamJobId", "sendAfileInfo",
                                            "sendMetaDataInfo", "sendFileInfo", "sendMetaDataInfo",
                                            "sendFileInfo", "sendAfileInfo", "backupDone"}),
                  m_server.CallNames(1));
        const std::vector<IndexServerCall> vecCalls = m_server.Calls(1);
        for (const IndexServerCall &call : vecCalls) {
            EXPECT_EQ(0, call.nResult) << call.strCall;
        }
        EXPECT_EQ((std::vector<uint64_t>{2, 7, 33, 1, c.ullFlags}), vecCalls[0].vecNumbers);
        EXPECT_EQ((std::vector<std::string>{"job-token", "idx-mangled", "idx-client"}),
                  vecCalls[0].vecTexts);
        EXPECT_EQ(12u, vecCalls[1].vecNumbers[0]);
        // Fleet, the archive manager's identifier (its default: the id itself), the archive
        // file, final flag, reply value, flags, application number, snapshot job, 0.
        EXPECT_EQ((std::vector<uint64_t>{2, 40, 40, 0, 0, 0x214, 7, 12, 0}),
                  vecCalls[2].vecNumbers);
        EXPECT_EQ((std::vector<uint64_t>{2, 40, 40, 1, 0, 0x214, 7, 12, 0}),
                  vecCalls[7].vecNumbers);
        EXPECT_EQ(0u, vecCalls[4].vecNumbers[0]);
        EXPECT_EQ(1u, vecCalls[6].vecNumbers[0]);
        EXPECT_EQ(1u, vecCalls[8].vecNumbers[0]);
        ASSERT_TRUE(vecCalls[3].ptrRecord);
        EXPECT_EQ(c.szViewId, IdsOf(*vecCalls[3].ptrRecord).strViewId);
        // The archive manager was asked at the start and at the end.
        const std::vector<IndexServerCall> vecAsked = m_server.Calls(0);
        ASSERT_EQ(2u, vecAsked.size());
        EXPECT_EQ((std::vector<uint64_t>{40, 0, 2}), vecAsked[1].vecNumbers);
        EXPECT_EQ(2, m_ptrCallback->Totals().llItems);
        EXPECT_EQ(0, ptrTransmitter->GetFailedItemCount());
    }
}

TEST_F(IdxLogWriterThreadTest, TheHeaderHoldsEachFieldAtItsOffset) {
    struct Case {
        const char *szName;
        CItemPtr ptrItem;
        const char *szStoredName;
        // Offsets 8, 16, 44, 48, 56, 64, 72, 104, 108, 112, 124.
        uint32_t nDeleted;
        uint64_t ullMode;
        uint32_t nAttributes;
        uint64_t ullFlags;
        uint64_t ullSize;
        int64_t llModified;
        int64_t llChanged;
        uint32_t nChangedRest;
        uint32_t nFlags2;
        uint32_t nModifiedRest;
        uint32_t nAccessed;
    };
    const Case cases[] = {
        {"live file",
         idxtest::MakeFileItem(
             {"/home/a/f.txt", "", false, 5, 0x20, 1700000123, 1700000456, 1700000789}),
         "\\home\\a\\f.txt", 0, 0x8000, 0x20, 0, 5, 1700000123, 1700000456, 456, 0x10, 123,
         1700000789},
        {"folder", idxtest::MakeFileItem({"/home/a", "", true, 0, 0x10, 1700000000}), "\\home\\a",
         0, 0x4000, 0x10, 0, 0, 1700000000, 0, 0, 0x10, 0, 0},
        {"hidden file", idxtest::MakeFileItem({"/home/.h", "", false, 1, 0x2, 99}), "\\home\\.h", 0,
         0x8000, 0x2, 0x8000000000ull, 1, 99, 0, 0, 0x10010, 99, 0},
        {"deleted item",
         idxtest::MakeDeletedItem({"/home/a/g.txt", "", false, 8, 0x2, 1700000123, 1700000456}),
         "/home/a/g.txt", 1, 0x4000, 0, 0x20000000000ull, 0, 0, 0, 0, 0x200, 0, 0},
        {"hidden drive root", idxtest::MakeFileItem({"C:", "", true, 0, 0x12, 5}), "C:", 0, 0x4000,
         0x12, 0x100000000000ull, 0, 5, 0, 0, 0x10, 5, 0},
        {"hidden share root in stand-in form",
         idxtest::MakeFileItem({"UNC-NT_srv\\share", "", true, 0, 0x12}), "UNC-NT_srv\\share", 0,
         0x4000, 0x12, 0, 0, 0, 0, 0, 0x10, 0, 0},
        {"network path", idxtest::MakeFileItem({"\\\\srv\\share\\f", "\\\\srv\\share"}),
         "srv\\share\\f", 0, 0x8000, 0, 0, 0, 0, 0, 0, 0x10, 0, 0},
    };
    auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    std::vector<CItemPtr> vecItems;
    for (const Case &c : cases) {
        vecItems.push_back(c.ptrItem);
    }
    QueueAndWait(*ptrTransmitter, vecItems, vecItems.size());
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());

    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        const CXFileHeader header = HeaderNamed(c.szStoredName);
        EXPECT_EQ(3u, HeaderU32(header, 0));
        EXPECT_EQ(0x50C0u, HeaderU32(header, 4));
        EXPECT_EQ(c.nDeleted, HeaderU32(header, 8));
        EXPECT_EQ(strlen(c.szStoredName) + 1, HeaderU32(header, 12));
        EXPECT_EQ(c.ullMode, HeaderU64(header, 16));
        EXPECT_EQ(0u, HeaderU64(header, 24));
        EXPECT_EQ(1u, HeaderU64(header, 32));
        EXPECT_EQ(0u, HeaderU32(header, 40));
        EXPECT_EQ(c.nAttributes, HeaderU32(header, 44));
        EXPECT_EQ(c.ullFlags, HeaderU64(header, 48));
        EXPECT_EQ(c.ullSize, HeaderU64(header, 56));
        EXPECT_EQ(static_cast<uint64_t>(c.llModified), HeaderU64(header, 64));
        EXPECT_EQ(static_cast<uint64_t>(c.llChanged), HeaderU64(header, 72));
        EXPECT_EQ(0u, HeaderU64(header, 80));
        EXPECT_EQ(0u, HeaderU64(header, 88));
        EXPECT_EQ(47u, HeaderU32(header, 96));
        EXPECT_EQ(0xC0000000u, HeaderU32(header, 100));
        EXPECT_EQ(c.nChangedRest, HeaderU32(header, 104));
        EXPECT_EQ(c.nFlags2, HeaderU32(header, 108));
        EXPECT_EQ(c.nModifiedRest, HeaderU32(header, 112));
        EXPECT_EQ(0u, HeaderU32(header, 116));
        EXPECT_EQ(0u, HeaderU32(header, 120));
        EXPECT_EQ(c.nAccessed, HeaderU32(header, 124));
        EXPECT_EQ(210u, HeaderU32(header, 128));
        EXPECT_STREQ(c.szStoredName, reinterpret_cast<const char *>(&header) + 132);
        // Nothing of an earlier item is left behind the name.
        const char *pAfter = reinterpret_cast<const char *>(&header) + 132 + strlen(c.szStoredName);
        EXPECT_EQ(std::string(1028 - strlen(c.szStoredName), '\0'),
                  std::string(pAfter, 1028 - strlen(c.szStoredName)));
    }
}

TEST_F(IdxLogWriterThreadTest, ALongPathIsCutToFitTheName) {
    auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    const std::string strPath = "/" + std::string(1500, 'x');
    QueueAndWait(*ptrTransmitter, {idxtest::MakeFileItem({strPath})}, 1);
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());

    const CXFileHeader header = AcceptedHeaders().at(0).header;
    EXPECT_EQ("\\" + std::string(1026, 'x'), std::string(header.szName));
    EXPECT_EQ(1028u, HeaderU32(header, 12));
}

TEST_F(IdxLogWriterThreadTest, TheMetadataCarriesTheIdentifiersOfWhatTheGeneratorWasGiven) {
    struct Case {
        const char *szName;
        CItemPtr ptrItem;
        int nBackupType;
        // What the generator should have been given.
        const char *szHashedPath;
        const char *szHashedParent;
        int64_t llFirst;
        int64_t llSecond;
        uint64_t ullSize;
        uint32_t nAttributes;
    };
    const Case cases[] = {
        {"file", idxtest::MakeFileItem({"/home/a/f.txt", "", false, 5, 0x20, 300, 400}), 1,
         "\\home\\a\\f.txt", "\\home\\a", 400, 300, 5, 0x20},
        {"folder gets a trailing delimiter",
         idxtest::MakeFileItem({"/home/a", "", true, 0, 0x10, 7, 8}), 1, "\\home\\a\\", "\\home", 8,
         7, 0, 0x10},
        {"no change time: the reference time",
         idxtest::MakeFileItem({"/home/b", "", false, 1, 0, 9}), 1, "\\home\\b", "\\home", kRefTime,
         9, 1, 0},
        {"deleted", idxtest::MakeDeletedItem({"/home/a/g.txt", "", false, 8, 0x20, 10, 11}), 1,
         "\\home\\a\\g.txt\\", "\\home\\a", kRefTime, 0, 0, 0},
        {"drive root, backup type 1", idxtest::MakeFileItem({"C:", "/mnt", true, 9, 0x2, 5, 6}), 1,
         "C:\\", "\\mnt", 0, kRefTime, 0, 0x10},
        {"drive root, backup type 2", idxtest::MakeFileItem({"D:/", "/mnt", true, 9, 0x2, 5, 6}), 2,
         "D:\\", "\\mnt", kRefTime, kRefTime, 0, 0x10},
        {"network path loses its first two characters",
         idxtest::MakeFileItem({"\\\\srv\\share\\f", "\\\\srv\\share", false, 1, 0, 2, 3}), 1,
         "srv\\share\\f", "srv\\share", 3, 2, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::IndexServer::Reset();
        auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter);
        ptrTransmitter->Options().SetBackupType(c.nBackupType);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        QueueAndWait(*ptrTransmitter, {c.ptrItem}, 1);
        ASSERT_FALSE(ptrTransmitter->Stop().IsError());

        const std::vector<IndexServerCall> vecMessages = m_server.CallsNamed("sendMetaDataInfo");
        ASSERT_EQ(1u, vecMessages.size());
        const MessageIds ids = IdsOf(*vecMessages[0].ptrRecord);
        EXPECT_EQ(ExpectedIds(c.szHashedPath, c.szHashedParent, c.llFirst, c.llSecond, c.ullSize,
                              c.nAttributes),
                  ids.vecIds);
        EXPECT_EQ(c.llFirst, ids.llTime);
        EXPECT_EQ("default", ids.strViewId);
        EXPECT_EQ("backup-set-guid", ids.strBackupSet);
        EXPECT_EQ(101, vecMessages[0].ptrRecord->GetFamily());
        EXPECT_EQ(93, vecMessages[0].ptrRecord->GetType());
    }
}

TEST_F(IdxLogWriterThreadTest, ARefusedCallFailsTheItemAndStopsTheJob) {
    struct Case {
        const char *szCall;
        const char *szText;
        size_t nHeadersSent;
    };
    const Case cases[] = {
        {"sendMetaDataInfo", "Failed to add metadata for a path [/d/1].", 1},
        {"sendFileInfo", "Failed to send indexing file info for [/d/1].", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szCall);
        idxtest::IndexServer::Reset();
        idxtest::TempDir dir;
        auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter);
        ptrTransmitter->Options().SetSubClientDir(dir.Path());
        // The second item's call is refused.
        m_server.FailCall(c.szCall, 2);
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        idxtest::LogCapture capture(0);
        ASSERT_FALSE(ptrTransmitter->AddToQueue(idxtest::MakeFileItem({"/d/0"})).IsError());
        ASSERT_FALSE(ptrTransmitter->AddToQueue(idxtest::MakeFileItem({"/d/1"})).IsError());
        ASSERT_TRUE(WaitUntil([&] { return ptrTransmitter->IsAborted(); }));

        // Later items are refused; what was taken is in the failures file with its reason.
        CKyError refused = ptrTransmitter->AddToQueue(idxtest::MakeFileItem({"/d/2"}));
        EXPECT_TRUE(FXErrorUtil::IsWin32(refused, 995));
        EXPECT_TRUE(ptrTransmitter->IfPushDataToSolrFailed());
        EXPECT_NE(std::string::npos, ptrTransmitter->GetSolrFailureReason().find(c.szText))
            << ptrTransmitter->GetSolrFailureReason();
        EXPECT_EQ(1u, capture.Count("ProcessItems failed, error="));
        ptrTransmitter->Stop();
        EXPECT_EQ((std::vector<std::string>{"/d/1"}),
                  idxtest::FileLines(dir / "SolrScanFailures.tqf"));
        EXPECT_EQ(1, ptrTransmitter->GetFailedItemCount());
        EXPECT_EQ(c.nHeadersSent, AcceptedHeaders().size());
        // A refused message sends no header for its item.
        if (std::string(c.szCall) == "sendMetaDataInfo") {
            EXPECT_EQ(1u, m_server.CallsNamed("sendFileInfo").size());
        }
        // The stop hook still closes the job on the index server.
        const std::vector<std::string> vecNames = m_server.CallNames(1);
        ASSERT_GE(vecNames.size(), 2u);
        EXPECT_EQ("sendAfileInfo", vecNames[vecNames.size() - 2]);
        EXPECT_EQ("backupDone", vecNames.back());
    }
}

TEST_F(IdxLogWriterThreadTest, AThrowWhileAnItemIsHeldFailsItAndStopsTheJobWithNothingLost) {
    struct Case {
        const char *szName;
        // Otherwise the connection throws from the third item's metadata message, after the
        // index server recorded it and before the item's header is sent.
        bool bItemThrows;
        const char *szText;
    };
    const Case cases[] = {
        {"the item throws while its header is built", true, "Unexpected exception: item refused"},
        {"the connection throws while the item's metadata is sent", false,
         "Unexpected exception: connection broke"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::IndexServer::Reset();
        idxtest::TempDir dir;
        std::atomic<int> nMessages{0};
        auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter);
        ptrTransmitter->Options().SetSubClientDir(dir.Path());
        if (!c.bItemThrows) {
            m_server.SetObserver([&nMessages](const IndexServerCall &call) {
                if (call.strCall == "sendMetaDataInfo" && ++nMessages == 3) {
                    throw std::runtime_error("connection broke");
                }
            });
        }
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        idxtest::LogCapture capture(0);
        // Queued as fast as the job can: the worker takes them one at a time, in order, and
        // those still queued when it aborts are failed with the rest; later ones are refused.
        std::multiset<std::string> setQueued;
        for (int i = 0; i < 8; ++i) {
            const std::string strPath = "/d/" + std::to_string(i);
            const CItemPtr ptrItem = i == 2 && c.bItemThrows
                                         ? boost::make_shared<ThrowingFileItem>(strPath)
                                         : idxtest::MakeFileItem({strPath});
            if (!ptrTransmitter->AddToQueue(ptrItem).IsError()) {
                setQueued.insert(strPath);
            }
        }
        ASSERT_TRUE(WaitUntil([&] { return ptrTransmitter->IsAborted(); }));
        ptrTransmitter->Stop();
        m_server.SetObserver(nullptr);

        EXPECT_EQ(1u, capture.Count("ProcessItems failed, error="));
        EXPECT_NE(std::string::npos, ptrTransmitter->GetSolrFailureReason().find(c.szText))
            << ptrTransmitter->GetSolrFailureReason();
        // The two items before the throw reached the index server; the one held when it came is
        // the first in the failures file.
        std::vector<std::string> vecDelivered;
        for (const IndexServerCall &call : AcceptedHeaders()) {
            vecDelivered.push_back(call.header.szName);
        }
        EXPECT_EQ((std::vector<std::string>{"\\d\\0", "\\d\\1"}), vecDelivered);
        const std::vector<std::string> vecFailed = idxtest::FileLines(dir / "SolrScanFailures.tqf");
        ASSERT_FALSE(vecFailed.empty());
        EXPECT_EQ("/d/2", vecFailed.front());
        EXPECT_EQ(static_cast<int64_t>(vecFailed.size()), ptrTransmitter->GetFailedItemCount());
        // Every queued item is in one of the two places, once.
        std::multiset<std::string> setEnded(vecFailed.begin(), vecFailed.end());
        setEnded.insert({"/d/0", "/d/1"});
        EXPECT_EQ(setQueued, setEnded);
    }
}

TEST_F(IdxLogWriterThreadTest, AConnectionThatCannotStartFailsStartWithTheReason) {
    struct Case {
        const char *szName;
        std::function<void(idxtest::IndexServer &)> fnScript;
        const char *szReason;
        std::vector<std::string> vecCalls;
    };
    const Case cases[] = {
        {"no connection object",
         [](idxtest::IndexServer &s) { s.FailConnection(); },
         "Index connection object instantiation failed",
         {}},
        {"initialize refused",
         [](idxtest::IndexServer &s) { s.FailCall("initialize"); },
         "Index connection instantiation failed",
         {"initialize"}},
        {"archive manager refuses",
         [](idxtest::IndexServer &s) { s.FailCall("getAfileInfo"); },
         "Index connection instantiation failed",
         // The connection did initialise: the stop hook closes it.
         {"initialize", "setStreamJobId", "sendAfileInfo", "backupDone"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::IndexServer::Reset();
        c.fnScript(m_server);
        auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_BlkLvl);

        // Whatever the job's thread last saw in errno is no part of the worker's failure.
        errno = EEXIST;
        CKyError error = ptrTransmitter->Start();
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 995)) << error.AsString();
        EXPECT_TRUE(HasText(error, c.szReason)) << error.AsString();
        EXPECT_FALSE(HasText(error, "errno")) << error.AsString();
        EXPECT_EQ(c.szReason, ptrTransmitter->GetSolrFailureReason());
        EXPECT_TRUE(
            FXErrorUtil::IsWin32(ptrTransmitter->AddToQueue(idxtest::MakeFileItem({"/x"})), 995));
        ptrTransmitter->Stop();
        EXPECT_EQ(c.vecCalls, m_server.CallNames(1));
    }
}

TEST_F(IdxLogWriterThreadTest, AWorkerTheJobRefusedSendsNothingAndFailsItsFirstItem) {
    m_ptrCallback->FailInitializeThread(true);
    auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    EXPECT_EQ(1, m_ptrCallback->InitializeThreadCalls());
    EXPECT_EQ(0, m_server.ConnectionsMade());

    ASSERT_FALSE(ptrTransmitter->AddToQueue(idxtest::MakeFileItem({"/a"})).IsError());
    ASSERT_TRUE(WaitUntil([&] { return ptrTransmitter->IsAborted(); }));
    EXPECT_NE(std::string::npos,
              ptrTransmitter->GetSolrFailureReason().find("InitializeThread failed"));
    ptrTransmitter->Stop();
    EXPECT_EQ((std::vector<std::string>{"/a"}), idxtest::FileLines(m_dir / "SolrScanFailures.tqf"));
    EXPECT_TRUE(m_server.Calls().empty());
}

TEST_F(IdxLogWriterThreadTest, TheRootIsPassedOverAndProgressIsTheIncrementSinceTheLastReport) {
    auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    ASSERT_FALSE(ptrTransmitter->AddToQueue(idxtest::MakeFileItem({"/", "", true})).IsError());
    ASSERT_TRUE(WaitUntil([&] { return m_ptrCallback->ProgressReports().size() == 1; }));
    QueueAndWait(*ptrTransmitter, {idxtest::MakeFileItem({"/a"})}, 1);
    QueueAndWait(*ptrTransmitter, {idxtest::MakeFileItem({"/b"})}, 2);
    ASSERT_TRUE(WaitUntil([&] { return m_ptrCallback->ProgressReports().size() == 3; }));
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());

    const auto vecReports = m_ptrCallback->ProgressReports();
    ASSERT_EQ(3u, vecReports.size());
    EXPECT_EQ(0, vecReports[0].llItems);
    EXPECT_EQ(0, vecReports[0].llBytes);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(1, vecReports[i].llItems);
        EXPECT_EQ(1, vecReports[i].llBytes);
        EXPECT_EQ(0, vecReports[i].llFailed);
    }
    EXPECT_EQ(2u, AcceptedHeaders().size());
    EXPECT_EQ(0, ptrTransmitter->GetFailedItemCount());
}

TEST_F(IdxLogWriterThreadTest, ItemsSpreadOverWorkersEachConnectionCountingItsOwnHeaders) {
    auto ptrTransmitter = MakeTransmitter(eIDX_Transmitter_LogWriter, 3);
    ASSERT_FALSE(ptrTransmitter->Start().IsError());
    std::vector<CItemPtr> vecItems;
    for (int i = 0; i < 30; ++i) {
        vecItems.push_back(idxtest::MakeFileItem({"/m/" + std::to_string(i)}));
    }
    QueueAndWait(*ptrTransmitter, vecItems, 30);
    ASSERT_FALSE(ptrTransmitter->Stop().IsError());

    EXPECT_EQ(3, m_server.ConnectionsMade());
    size_t nHeaders = 0;
    for (int nConnection = 1; nConnection <= 3; ++nConnection) {
        uint64_t ullExpected = 0;
        for (const IndexServerCall &call : m_server.Calls(nConnection)) {
            if (call.strCall == "sendFileInfo") {
                EXPECT_EQ(ullExpected++, call.vecNumbers[0]);
                ++nHeaders;
            }
        }
        EXPECT_EQ("backupDone", m_server.CallNames(nConnection).back());
    }
    EXPECT_EQ(30u, nHeaders);
    EXPECT_EQ(30, m_ptrCallback->Totals().llItems);
}

TEST_F(IdxLogWriterThreadTest, EngineRequestsAreNotSupported) {
    auto ptrState =
        boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_LogWriter);
    CIdxLogWriterThread worker(ptrState, ptrState->m_ptrOptions);
    idxtest::LogCapture capture(0);

    EXPECT_FALSE(worker.SendCommit().IsError());
    EXPECT_FALSE(worker.IsIdxEngineRunning());
    for (const CKyError &error :
         {worker.LogPerformanceCounters(), worker.SendDeleteDataSourceContent("ds"),
          worker.PruneAuditCore("t", "1"), worker.SyncAuditAndMainCore(1, "1")}) {
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 50));
        EXPECT_TRUE(HasText(error, "Not supported"));
    }
    EXPECT_EQ(6u, capture.CountAtLevel("Not supported", -1));
    // Without a request and without a word.
    EXPECT_FALSE(worker.SendComputeFolderStats().IsError());
    EXPECT_EQ(6u, capture.Lines().size());
    EXPECT_TRUE(FXErrorUtil::IsWin32(worker.AddArchiveFilePathMapEntry("", 4), 87));
    EXPECT_TRUE(FXErrorUtil::IsWin32(worker.AddArchiveFilePathMapEntry("/a", 0), 87));
    EXPECT_FALSE(worker.AddArchiveFilePathMapEntry("/a", 4).IsError());
    // A worker that never started made no connection.
    EXPECT_EQ(0, m_server.ConnectionsMade());
}

TEST_F(IdxLogWriterThreadTest, EachVariantNamesItsView) {
    auto ptrState = boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_VSA);
    const CTransmitterOptionsPtr &ptrOptions = ptrState->m_ptrOptions;
    EXPECT_EQ("default", CIdxLogWriterThread(ptrState, ptrOptions).GetViewId());
    EXPECT_EQ("VSAFILEVIEW", CIdxLogWriterThreadVSA(ptrState, ptrOptions).GetViewId());
    EXPECT_EQ("default", CIdxLogWriterThreadBlkLvl(ptrState, ptrOptions).GetViewId());
    EXPECT_EQ("default", CIdxLogWriterThreadFSDirect(ptrState, ptrOptions).GetViewId());
}

TEST_F(IdxLogWriterThreadTest, TheVirtualMachineVariantFindsTheDeepestMountPathOrTheLastOne) {
    auto ptrState = boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_VSA);
    ptrState->m_ptrOptions->SetVmMountPathVol({{"/vm", "vol-vm"}, {"/vm/disk1", "vol-disk1"}});
    CIdxLogWriterThreadVSA worker(ptrState, ptrState->m_ptrOptions);
    // Later changes to the options are not seen.
    ptrState->m_ptrOptions->SetVmMountPathVol({});
    idxtest::LogCapture capture(6);

    struct Step {
        const char *szPath;
        const char *szVolume;
    };
    const Step steps[] = {
        {"/vm/disk1/a", "vol-disk1"},
        // /vm/disk1 holds no /vm/x: a new search.
        {"/vm/x", "vol-vm"},
        // /vm, chosen last, holds this one: it is taken without a search.
        {"/vm/disk1/b", "vol-vm"},
        {"/other/f", "\\"},
        {"", "\\"},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.szPath);
        EXPECT_EQ(step.szVolume, worker.FindVolumeMountPointPath(step.szPath));
    }
    EXPECT_EQ(1u, capture.CountAtLevel("Invalid path", -1));
    EXPECT_EQ(1u, capture.CountAtLevel("/vm/disk1/a -> vol-disk1 ", 6));

    CIdxLogWriterThreadVSA empty(ptrState, ptrState->m_ptrOptions);
    EXPECT_EQ("\\", empty.FindVolumeMountPointPath("/vm/a"));
    EXPECT_EQ(
        "",
        CIdxLogWriterThread(ptrState, ptrState->m_ptrOptions).FindVolumeMountPointPath("/vm/a"));
}

// The worker loop both index-server kinds share: an abort seen while a batch is in hand writes the
// batch's own failures to the failures file first, then what the abort took from the queue.
TEST_F(IdxLogWriterThreadTest, AnAbortWithABatchInHandListsTheBatchBeforeTheQueue) {
    struct Case {
        const char *szName;
        eIDX_Transmitter_Type eType;
        // The item's call on the index server, which the stand-in holds and then throws from.
        const char *szCall;
    };
    const Case cases[] = {
        {"index-log writer", eIDX_Transmitter_LogWriter, "sendMetaDataInfo"},
        {"live-crawl worker", eIDX_Transmitter_LiveCrawl, "sendFileInfoV2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        idxtest::IndexServer::Reset();
        idxtest::TempDir dir;
        TQBkpJobClient client;
        auto ptrTransmitter = MakeTransmitter(c.eType);
        ptrTransmitter->Options().SetSubClientDir(dir.Path());
        ptrTransmitter->SetBackupJobClient(&client);

        // The first item's call waits until the test has queued more and raised the quit flag.
        std::mutex lock;
        std::condition_variable changed;
        bool bHeld = false;
        bool bReleased = false;
        m_server.SetObserver([&](const IndexServerCall &call) {
            if (call.strCall != c.szCall) {
                return;
            }
            std::unique_lock<std::mutex> guard(lock);
            if (bHeld) {
                return;
            }
            bHeld = true;
            changed.notify_all();
            changed.wait(guard, [&] { return bReleased; });
            throw std::runtime_error("connection broke");
        });
        ASSERT_FALSE(ptrTransmitter->Start().IsError());
        const auto item = [&](int nIndex) {
            const std::string strPath = "/d/" + std::to_string(nIndex);
            return c.eType == eIDX_Transmitter_LiveCrawl
                       ? idxtest::MakeLiveCrawlItem({strPath, 1, 10})
                       : idxtest::MakeFileItem({strPath});
        };
        ASSERT_FALSE(ptrTransmitter->AddToQueue(item(0)).IsError());
        {
            std::unique_lock<std::mutex> guard(lock);
            ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [&] { return bHeld; }));
        }
        for (int i = 1; i <= 3; ++i) {
            ASSERT_FALSE(ptrTransmitter->AddToQueue(item(i)).IsError());
        }
        ptrTransmitter->Options().SetAborted(true);
        {
            std::lock_guard<std::mutex> guard(lock);
            bReleased = true;
        }
        changed.notify_all();

        ASSERT_TRUE(WaitUntil([&] { return ptrTransmitter->GetFailedItemCount() == 4; }));
        ptrTransmitter->Stop();
        m_server.SetObserver(nullptr);
        EXPECT_EQ((std::vector<std::string>{"/d/0", "/d/1", "/d/2", "/d/3"}),
                  idxtest::FileLines(dir / "SolrScanFailures.tqf"));
        EXPECT_TRUE(m_server.CallsNamed("sendFileInfo").empty());
    }
}

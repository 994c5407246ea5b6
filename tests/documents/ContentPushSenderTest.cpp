// The content push sender over real HTTP against the engine stand-in: the bytes, hash, header
// and literal parameters of each push, the split of a batch between content pushes and one
// metadata request, failed pushes with their metadata retry, contents that cannot be read, the
// optimized push, an abort, and the SHA-512 text.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "documents/ContentRead.h"
#include "documents/ItemMetadataDocument.h"
#include "foundation/Crc32.h"
#include "platform/testing/LogCapture.h"
#include "platform/testing/VirtualClock.h"
#include "tests/support/TempDir.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"
#include "transmitter/TransmitterCallback.h"

namespace {

using idxtest::EngineRequest;
using idxtest::EngineRoute;
using idxtest::EngineStub;

const char kAbcSha512[] = "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
                          "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F";
const char kEmptySha512[] = "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE"
                            "47D0D13C5D85F2B0FF8318D2877EEC2F63B931BD47417A81A538327AF927DA3E";

// The hash of the bytes fed in slices of another size than the sender's, as a reference.
std::string ReferenceSha512(const char *pData, uint64_t ullLength) {
    TqcSHA512 sha;
    const uint64_t ullSlice = 64u * 1024 * 1024 + 7;
    for (uint64_t ullDone = 0; ullDone < ullLength;) {
        uint64_t ullStep = std::min(ullSlice, ullLength - ullDone);
        sha.addData(pData + ullDone, static_cast<int>(ullStep));
        ullDone += ullStep;
    }
    TqcBucket digest = sha.finish();
    std::string strHex;
    for (int i = 0; i < digest.getSize(); ++i) {
        char szByte[3];
        snprintf(szByte, sizeof(szByte), "%02X", digest.getData()[i]);
        strHex += szByte;
    }
    return strHex;
}

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define IDX_HAS_THREAD_SANITIZER 1
#endif
#endif
#ifndef IDX_HAS_THREAD_SANITIZER
#define IDX_HAS_THREAD_SANITIZER 0
#endif

// The memory this process may still take: what the system calls available (free memory and
// page cache it can drop), bounded by the control group's limit where one is set.
uint64_t AvailableMemoryBytes() {
    uint64_t ullAvailable = 0;
    {
        std::ifstream meminfo("/proc/meminfo");
        std::string strKey;
        uint64_t ullValue = 0;
        std::string strUnit;
        while (meminfo >> strKey >> ullValue >> strUnit) {
            if (strKey == "MemAvailable:") {
                ullAvailable = ullValue * 1024;
                break;
            }
        }
    }
    std::ifstream maxFile("/sys/fs/cgroup/memory.max");
    std::ifstream currentFile("/sys/fs/cgroup/memory.current");
    std::string strMax;
    uint64_t ullCurrent = 0;
    if (maxFile >> strMax && strMax != "max" && currentFile >> ullCurrent) {
        const uint64_t ullMax = std::stoull(strMax);
        const uint64_t ullLeft = ullMax > ullCurrent ? ullMax - ullCurrent : 0;
        if (ullLeft < ullAvailable) {
            ullAvailable = ullLeft;
        }
    }
    return ullAvailable;
}

// Records every progress report whole.
class ProgressCallback : public CSolrTransmitterCallback {
public:
    CKyError UpdateProgress(long long llFiles, long long llBytes, long long llFailures) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecReports.emplace_back(llFiles, llBytes, llFailures);
        return CKyError::Success();
    }
    std::vector<std::tuple<long long, long long, long long>> Reports() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_vecReports;
    }

private:
    std::mutex m_lock;
    std::vector<std::tuple<long long, long long, long long>> m_vecReports;
};

typedef std::tuple<long long, long long, long long> Report;

class ContentPushSenderTest : public ::testing::Test {
protected:
    ContentPushSenderTest() : m_set(idxtest::MakeDocumentWorker(false)) {
        CTransmitterOptions &options = *m_set.ptrOptions;
        idxtest::PointOptionsAtStub(options, m_stub);
        options.SetPushOnlyMetaData(false);
        // The scan phase: the failures file is started afresh and only this sender reports
        // progress.
        options.SetScanPhase(true);
        options.SetCompleteSolrExtractUrl(m_stub.ExtractUrl() + "?commit=false");
        options.SetSubClientDir(m_dir.Path());
        options.SetIncludeFiltersSet({"txt", "BIN", "%NoExt%"});
        m_ptrCallback = boost::make_shared<ProgressCallback>();
        options.SetCallback(m_ptrCallback);
        m_set.ptrWorker->MakeTimers();
        EXPECT_FALSE(m_set.ptrState->OpenSolrFailuresFile().IsError());
        g_bEventSent.store(false);
    }
    ~ContentPushSenderTest() override { g_bEventSent.store(false); }

    CTransmitterOptions &Options() { return *m_set.ptrOptions; }
    idxtest::DocumentWorker &Worker() { return *m_set.ptrWorker; }

    CItemPtr Item(const std::string &strPath,
                  const idxtest::AnalyticsSettings &settings = idxtest::AnalyticsSettings()) {
        return idxtest::MakePathItem(strPath, Options(), settings);
    }

    // The literal parameters the metadata builder writes for the item, as the sender writes
    // them before its hash parameter.
    std::string LiteralDocument(const CItemPtr &ptrItem) {
        std::string strDocument;
        IdxDocuments::BuildItemDataAnalytics(*m_set.ptrContext, ptrItem, EFieldForm::eLiteral,
                                             strDocument);
        return strDocument;
    }

    CKyError Send(std::list<CItemPtr> lstItems) { return m_set.SendItemsWithContent(lstItems); }

    std::vector<std::string> FailuresFileLines() {
        m_set.ptrState->CloseSolrFailuresFile();
        std::vector<std::string> vecLines;
        std::string strText = idxtest::ReadWholeFile(m_dir / "SolrScanFailures.tqf");
        for (size_t nStart = 0; nStart < strText.size();) {
            size_t nEnd = strText.find('\n', nStart);
            vecLines.push_back(strText.substr(nStart, nEnd - nStart));
            nStart = nEnd == std::string::npos ? strText.size() : nEnd + 1;
        }
        return vecLines;
    }

    idxtest::TempDir m_dir;
    EngineStub m_stub;
    idxtest::DocumentWorkerSet m_set;
    boost::shared_ptr<ProgressCallback> m_ptrCallback;
};

TEST_F(ContentPushSenderTest, PushesTheExactBytesWithTheirHashAndTheLiteralParametersInOrder) {
    const std::string strBinary = std::string("head\0\x01\xff\xfe", 8) + std::string(300000, 'z');
    struct Case {
        std::string strName;
        std::string strContent;
        std::string strHash; // empty: compare with the reference
    };
    const std::vector<Case> vecCases = {
        {"abc.txt", "abc", kAbcSha512},
        {"empty.txt", "", kEmptySha512},
        {"a b&c=d%.bin", strBinary, ""},
        {"README", "no extension", ""},
    };
    for (const Case &c : vecCases) {
        SCOPED_TRACE(c.strName);
        m_stub.ClearRequests();
        const std::string strPath = m_dir.WriteFile(c.strName, c.strContent);
        CItemPtr ptrItem = Item(strPath);
        const std::string strExpectedDocument = LiteralDocument(ptrItem);
        const std::string strHash = c.strHash.empty()
                                        ? ReferenceSha512(c.strContent.data(), c.strContent.size())
                                        : c.strHash;
        ASSERT_EQ(strHash.size(), 128u);

        ASSERT_FALSE(Send({ptrItem}).IsError());
        std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
        ASSERT_EQ(vecExtract.size(), 1u);
        EXPECT_TRUE(m_stub.Requests(EngineRoute::Update).empty());
        const EngineRequest &request = vecExtract[0];
        EXPECT_EQ(request.nStatus, 200);
        EXPECT_EQ(request.strMethod, "POST");
        EXPECT_EQ(request.Header("Content-Type"), "application/octet-stream");
        EXPECT_EQ(request.strBody, c.strContent);
        // The query is the configured one, then the builder's parameters in its order, then the
        // hash: the exact text, so the order and the encoding are both checked.
        EXPECT_EQ(request.strQuery,
                  "commit=false" + strExpectedDocument + "&literal.FileContentHash=" + strHash);
        EXPECT_EQ(request.Param("literal.FileContentHash"), strHash);
        EXPECT_EQ(request.Param("literal.Url"), strPath);
        EXPECT_EQ(request.Param("literal.cistate"), "1");
        // Values are URL-encoded byte by byte.
        const std::string strEncodedName =
            c.strName == "a b&c=d%.bin" ? "a%20b%26c%3dd%25.bin" : c.strName;
        EXPECT_NE(request.strQuery.find("&literal.FileName=" + strEncodedName + "&"),
                  std::string::npos);

        auto document = m_stub.Document(request.Param("literal.contentid"));
        ASSERT_TRUE(document.has_value());
        EXPECT_TRUE(document->bExtracted);
        EXPECT_EQ(document->strContent, c.strContent);
        EXPECT_EQ(document->Value("FileName"), c.strName);
    }
    EXPECT_EQ(m_ptrCallback->Reports().size(), vecCases.size());
    EXPECT_EQ(m_ptrCallback->Reports()[2], Report(1, static_cast<long long>(strBinary.size()), 0));
    EXPECT_TRUE(FailuresFileLines().empty());
    EXPECT_FALSE(m_set.ptrState->IfPushDataToSolrFailed());
}

TEST_F(ContentPushSenderTest, IdentifiersTheHostDidNotSetGoOutAsZero) {
    // The engine's schema holds these as integers and refuses an empty text; the stand-in too.
    const std::string strPath = m_dir.WriteFile("ids.txt", "content");
    ASSERT_FALSE(Send({Item(strPath)}).IsError());
    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), 1u);
    EXPECT_EQ(vecExtract[0].nStatus, 200) << vecExtract[0].strQuery;
    auto document = m_stub.Document(vecExtract[0].Param("literal.contentid"));
    ASSERT_TRUE(document.has_value());
    for (const char *szField : {"ClientId", "ApplicationId", "JobId"}) {
        EXPECT_EQ(document->Values(szField), std::vector<std::string>{"0"}) << szField;
    }
    EXPECT_TRUE(FailuresFileLines().empty());
}

TEST_F(ContentPushSenderTest, ANameThatIsNotUtf8IsPushedWithReplacementCharacters) {
    // The engine decodes parameters as UTF-8: the raw bytes would get the push refused.
    const std::string strName = "inv\xFF\xFE.txt";
    const std::string strShown = "inv\xEF\xBF\xBD\xEF\xBF\xBD.txt";
    const std::string strPath = m_dir.WriteFile(strName, "content");
    ASSERT_FALSE(Send({Item(strPath)}).IsError());

    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), 1u);
    EXPECT_EQ(vecExtract[0].nStatus, 200) << vecExtract[0].strBody;
    EXPECT_NE(vecExtract[0].strQuery.find("&literal.FileName=inv%ef%bf%bd%ef%bf%bd.txt&"),
              std::string::npos);
    auto document = m_stub.Document(vecExtract[0].Param("literal.contentid"));
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(document->strContent, "content");
    EXPECT_EQ(document->Value("FileName"), strShown);
    EXPECT_EQ(document->Value("Url"), m_dir / strShown);
    EXPECT_TRUE(FailuresFileLines().empty());
    EXPECT_FALSE(m_set.ptrState->IfPushDataToSolrFailed());
}

TEST_F(ContentPushSenderTest, ItemsWithoutAContentPushGoOutTogetherAsOneMetadataRequest) {
    Options().SetMaxFileSizePushContent(100);
    Options().SetMinFileSizePushContent(2);
    idxtest::AnalyticsSettings stub;
    stub.bStub = true;
    const std::string strPushed = m_dir.WriteFile("pushed.txt", "pushed content");
    const std::string strAtUpper = m_dir.WriteFile("upper.txt", std::string(100, 'u'));
    const std::string strAtLower = m_dir.WriteFile("lower.txt", "lo");
    std::list<CItemPtr> lstBatch = {
        Item(m_dir.Path()),                                      // folder
        Item(m_dir.WriteFile("stub.txt", "stubbed"), stub),      // stub
        Item(m_dir.WriteFile("photo.jpg", "not in the filter")), // include filter
        Item(m_dir.WriteFile("big.txt", std::string(101, 'b'))), // above the upper bound
        Item(m_dir.WriteFile("tiny.txt", "t")),                  // below the lower bound
        Item(strPushed),
        Item(strAtUpper),
        Item(strAtLower),
    };
    CItemPtr ptrSelected = Item(m_dir.WriteFile("selected.txt", "selected"));
    ptrSelected->SetSelectedForAccess(true);
    lstBatch.push_back(ptrSelected);

    ASSERT_FALSE(m_set.SendItemsWithContent(lstBatch).IsError());
    EXPECT_TRUE(lstBatch.empty());

    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), 3u);
    EXPECT_EQ(vecExtract[0].Param("literal.Url"), strPushed);
    EXPECT_EQ(vecExtract[1].Param("literal.Url"), strAtUpper);
    EXPECT_EQ(vecExtract[2].Param("literal.Url"), strAtLower);
    std::vector<EngineRequest> vecUpdate = m_stub.Requests(EngineRoute::Update);
    ASSERT_EQ(vecUpdate.size(), 1u);
    EXPECT_EQ(vecUpdate[0].Header("Content-Type"), "text/xml");
    std::vector<idxtest::FieldList> vecDocs;
    std::string strError;
    ASSERT_TRUE(idxtest::ParseUpdateBody(vecUpdate[0].strBody, vecDocs, strError)) << strError;
    ASSERT_EQ(vecDocs.size(), 6u);
    std::vector<std::string> vecUrls;
    for (const auto &fields : vecDocs) {
        const idxtest::DocumentField *pUrl = idxtest::FindField(fields, "Url");
        ASSERT_NE(pUrl, nullptr);
        vecUrls.push_back(pUrl->strValue);
    }
    EXPECT_EQ(vecUrls, (std::vector<std::string>{m_dir.Path(), m_dir / "stub.txt",
                                                 m_dir / "photo.jpg", m_dir / "big.txt",
                                                 m_dir / "tiny.txt", m_dir / "selected.txt"}));
    // Files pushed, bytes pushed, failures; the metadata sender reports nothing in the scan
    // phase.
    EXPECT_EQ(m_ptrCallback->Reports(), std::vector<Report>{Report(3, 14 + 100 + 2, 0)});
    // Reading content is timed once for every file that is neither a folder nor a stub.
    EXPECT_EQ(Worker().m_ptrReadContentTimer->GetTotalSamples(), 7u);
}

TEST_F(ContentPushSenderTest, AFileThatGrewBeyondTheUpperBoundGoesAsMetadata) {
    idxtest::LogCapture log;
    Options().SetMaxFileSizePushContent(10);
    const std::string strPath = m_dir.WriteFile("grows.txt", "small");
    CItemPtr ptrItem = Item(strPath);
    m_dir.WriteFile("grows.txt", "now much larger than the bound");
    ASSERT_FALSE(Send({ptrItem}).IsError());
    EXPECT_TRUE(m_stub.Requests(EngineRoute::Extract).empty());
    ASSERT_EQ(m_stub.Requests(EngineRoute::Update).size(), 1u);
    EXPECT_TRUE(
        log.Contains("Skipping item, filtered by size, Size = 30 bytes, Item = " + strPath));
    EXPECT_EQ(m_ptrCallback->Reports(), std::vector<Report>{Report(0, 0, 0)});
}

TEST_F(ContentPushSenderTest, AFailedPushIsRetriedAsMetadataWithStatus16AndRecordedAsFailed) {
    idxtest::VirtualClock clock;
    idxtest::LogCapture log;
    const std::string strFailing = m_dir.WriteFile("failing.txt", "content that fails");
    const std::string strFine = m_dir.WriteFile("fine.txt", "content that works");
    m_stub.FailNext(EngineRoute::Extract, 1, 400);

    ASSERT_FALSE(Send({Item(strFailing), Item(strFine)}).IsError());

    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), 3u);
    EXPECT_EQ(vecExtract[0].nStatus, 400);
    EXPECT_EQ(vecExtract[0].strBody, "content that fails");
    EXPECT_EQ(vecExtract[0].Param("literal.cistate"), "1");
    // The retry: the same parameters with status 16, no content.
    EXPECT_EQ(vecExtract[1].nStatus, 200);
    EXPECT_EQ(vecExtract[1].strBody, "");
    EXPECT_EQ(vecExtract[1].Header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(vecExtract[1].Param("literal.cistate"), "16");
    EXPECT_EQ(vecExtract[1].Param("literal.Url"), strFailing);
    EXPECT_EQ(vecExtract[1].Param("literal.FileContentHash"),
              vecExtract[0].Param("literal.FileContentHash"));
    EXPECT_EQ(vecExtract[1].vecParams.size(), vecExtract[0].vecParams.size());
    EXPECT_EQ(vecExtract[2].Param("literal.Url"), strFine);
    EXPECT_TRUE(log.Contains("Retrying metadata push for failed item: Item=[" + strFailing));

    auto document = m_stub.Document(vecExtract[1].Param("literal.contentid"));
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(document->Value("cistate"), "16");
    // Even though the retry went through, the item was not indexed with its content.
    EXPECT_EQ(FailuresFileLines(), std::vector<std::string>{strFailing});
    EXPECT_TRUE(m_set.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_ptrCallback->Reports(), std::vector<Report>{Report(1, 2 * 18, 1)});
}

TEST_F(ContentPushSenderTest, ContentThatCannotBeReadIsAFailureNeverAnEmptyPush) {
    idxtest::LogCapture log;
    struct Case {
        std::string strName;
        std::function<std::string(const idxtest::TempDir &)> fnMake; // path of the item
        std::function<void(const std::string &)> fnAfterQueueing;
    };
    std::vector<Case> vecCases = {
        {"fifo without a writer",
         [](const idxtest::TempDir &dir) {
             std::string strPath = dir / "pipe.txt";
             EXPECT_EQ(mkfifo(strPath.c_str(), 0600), 0);
             return strPath;
         },
         [](const std::string &) {}},
        {"file gone after queueing",
         [](const idxtest::TempDir &dir) { return dir.WriteFile("gone.txt", "was here"); },
         [](const std::string &strPath) { unlink(strPath.c_str()); }},
        {"file replaced by a folder",
         [](const idxtest::TempDir &dir) { return dir.WriteFile("became.txt", "file"); },
         [](const std::string &strPath) {
             unlink(strPath.c_str());
             mkdir(strPath.c_str(), 0700);
         }},
    };
    if (geteuid() != 0) {
        // Permissions do not stop the superuser.
        vecCases.push_back({"file without read permission",
                            [](const idxtest::TempDir &dir) {
                                std::string strPath = dir.WriteFile("locked.txt", "secret");
                                chmod(strPath.c_str(), 0);
                                return strPath;
                            },
                            [](const std::string &) {}});
    }
    std::vector<std::string> vecExpectedFailures;
    for (const Case &c : vecCases) {
        SCOPED_TRACE(c.strName);
        m_stub.ClearRequests();
        const std::string strPath = c.fnMake(m_dir);
        CItemPtr ptrItem = Item(strPath);
        ASSERT_FALSE(ptrItem->IsFolder());
        c.fnAfterQueueing(strPath);

        // A blocking read would never return: the call runs on its own thread with a deadline.
        auto future = std::async(std::launch::async, [this, ptrItem] { return Send({ptrItem}); });
        ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_FALSE(future.get().IsError());

        std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
        ASSERT_EQ(vecExtract.size(), 1u);
        EXPECT_EQ(vecExtract[0].strBody, "");
        EXPECT_EQ(vecExtract[0].Param("literal.cistate"), "16");
        EXPECT_EQ(vecExtract[0].Param("literal.err"), "Error reading file content");
        EXPECT_FALSE(vecExtract[0].HasParam("literal.FileContentHash"));
        EXPECT_EQ(vecExtract[0].Param("literal.Url"), strPath);
        vecExpectedFailures.push_back(strPath);
    }
    EXPECT_EQ(log.Count("Error reading content from file, Item="), vecCases.size());
    EXPECT_EQ(FailuresFileLines(), vecExpectedFailures);
    for (const Report &report : m_ptrCallback->Reports()) {
        EXPECT_EQ(report, Report(0, 0, 1));
    }
}

TEST_F(ContentPushSenderTest, AFileWhoseParametersOverflowTheUrlIsRecordedAsFailed) {
    idxtest::LogCapture log;
    // A configured field long enough that the literal parameters cannot fit one URL.
    Options().SetSchemaFieldsMap({{"Notes", std::string(70000, 'n')}});
    const std::string strPath = m_dir.WriteFile("long.txt", "content");
    ASSERT_FALSE(Send({Item(strPath)}).IsError());
    EXPECT_TRUE(m_stub.Requests().empty());
    EXPECT_TRUE(log.Contains("Retrying metadata push for failed item: Item=[" + strPath + "]"));
    EXPECT_TRUE(log.Contains("Failed to push meta data for failed item"));
    EXPECT_EQ(FailuresFileLines(), std::vector<std::string>{strPath});
    EXPECT_TRUE(m_set.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_ptrCallback->Reports(), std::vector<Report>{Report(0, 7, 1)});
}

TEST_F(ContentPushSenderTest, CloudModeRewritesTheStatusUnderItsCloudNames) {
    Options().SetCloudMode(true);
    const std::string strPath = m_dir.WriteFile("gone.txt", "x");
    CItemPtr ptrItem = Item(strPath);
    unlink(strPath.c_str());
    ASSERT_FALSE(Send({ptrItem}).IsError());
    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), 1u);
    EXPECT_EQ(vecExtract[0].Param("literal.ContentIndexingStatus"), "16");
    EXPECT_EQ(vecExtract[0].Param("literal.Err"), "Error reading file content");
    EXPECT_FALSE(vecExtract[0].HasParam("literal.cistate"));
    EXPECT_EQ(vecExtract[0].Param("literal.FilePath"), strPath);
}

TEST_F(ContentPushSenderTest, OptimizedPushSendsTheMarkerAndCountsTheFileSize) {
    Options().SetOptimizeContentPush(true);
    const std::string strPath = m_dir.WriteFile("local.txt", std::string(4321, 'l'));
    ASSERT_FALSE(Send({Item(strPath)}).IsError());
    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), 1u);
    EXPECT_EQ(vecExtract[0].strBody, "%OPTIMIZED_LOCAL_NODE_PUSH%");
    EXPECT_FALSE(vecExtract[0].HasParam("literal.FileContentHash"));
    EXPECT_EQ(m_ptrCallback->Reports(), std::vector<Report>{Report(1, 4321, 0)});
}

TEST_F(ContentPushSenderTest, AnAbortBeforeTheFirstItemRecordsTheWholeBatchAsFailed) {
    const std::string strFirst = m_dir.WriteFile("one.txt", "1");
    const std::string strSecond = m_dir.WriteFile("two.txt", "2");
    std::list<CItemPtr> lstBatch = {Item(strFirst), Item(strSecond)};
    Options().SetAborted(true);
    ASSERT_FALSE(m_set.SendItemsWithContent(lstBatch).IsError());
    EXPECT_TRUE(lstBatch.empty());
    EXPECT_TRUE(m_stub.Requests().empty());
    EXPECT_EQ(FailuresFileLines(), (std::vector<std::string>{strFirst, strSecond}));
    EXPECT_TRUE(m_set.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_ptrCallback->Reports(), std::vector<Report>{Report(0, 0, 2)});
}

TEST_F(ContentPushSenderTest, ALargeFileIsHashedAndSentFromTheFileWithItsExactBytes) {
    // Larger than what is read into memory at once: hashed in one pass, sent in a second.
    std::string strContent(6 * 1024 * 1024 + 5, '\0');
    for (size_t i = 0; i < strContent.size(); ++i) {
        strContent[i] = static_cast<char>(i * 31 % 253);
    }
    const std::string strPath = m_dir.WriteFile("large.bin", strContent);
    ASSERT_FALSE(Send({Item(strPath)}).IsError());

    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), 1u);
    EXPECT_TRUE(vecExtract[0].strBody == strContent);
    EXPECT_EQ(vecExtract[0].Param("literal.FileContentHash"),
              IdxDocuments::MakeHashSHA512(strContent));
    EXPECT_TRUE(FailuresFileLines().empty());
    EXPECT_EQ(m_ptrCallback->Reports(),
              std::vector<Report>{Report(1, static_cast<long long>(strContent.size()), 0)});
}

TEST_F(ContentPushSenderTest, EachFileOfABatchIsSentAsItsOwnBytesWhateverCameBefore) {
    // The worker reads every small file into one buffer that it keeps, and hashes large ones
    // through it: a smaller file after a larger one, or after a streamed one, is sent as its own
    // bytes and nothing of the one before.
    const size_t nMiB = 1024 * 1024;
    const std::vector<size_t> vecSizes = {3 * nMiB + 1, 7, 5 * nMiB, 11, 0, 4 * nMiB, 2 * nMiB};
    std::list<CItemPtr> lstBatch;
    std::vector<std::string> vecContents;
    for (size_t i = 0; i < vecSizes.size(); ++i) {
        std::string strContent(vecSizes[i], '\0');
        for (size_t k = 0; k < strContent.size(); ++k) {
            strContent[k] = static_cast<char>((k * 7 + i * 13) % 251);
        }
        const std::string strPath =
            m_dir.WriteFile("file" + std::to_string(i) + ".bin", strContent);
        lstBatch.push_back(Item(strPath));
        vecContents.push_back(strContent);
    }
    ASSERT_FALSE(Send(lstBatch).IsError());

    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), vecContents.size());
    for (size_t i = 0; i < vecContents.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(vecExtract[i].strBody.size(), vecContents[i].size());
        EXPECT_TRUE(vecExtract[i].strBody == vecContents[i]);
        EXPECT_EQ(vecExtract[i].Param("literal.FileContentHash"),
                  ReferenceSha512(vecContents[i].data(), vecContents[i].size()));
    }
    EXPECT_TRUE(FailuresFileLines().empty());
}

// A job whose quit query throws from its nth call on.
class ThrowingQuitQuery : public ProgressCallback {
public:
    explicit ThrowingQuitQuery(int nThrowFrom) : m_nThrowFrom(nThrowFrom) {}
    bool IsQuitFlagSet() override {
        if (++m_nQueries >= m_nThrowFrom) {
            throw std::runtime_error("quit query refused");
        }
        return false;
    }

private:
    const int m_nThrowFrom;
    int m_nQueries = 0;
};

TEST_F(ContentPushSenderTest, AFolderSetAsideIsNotLostWhenTheQuitQueryThrowsOnTheNextItem) {
    // The folder goes to the metadata list first; the quit query then throws before the file.
    Options().SetCallback(boost::make_shared<ThrowingQuitQuery>(2));
    const std::string strFolder = m_dir.WriteFile("folder/keep", "x");
    const std::string strFile = m_dir.WriteFile("file.txt", "content");
    std::list<CItemPtr> lstBatch = {Item(strFolder.substr(0, strFolder.size() - 5)), Item(strFile)};
    EXPECT_THROW(m_set.SendItemsWithContent(lstBatch), std::runtime_error);

    EXPECT_TRUE(m_stub.Requests().empty());
    EXPECT_EQ(FailuresFileLines(),
              (std::vector<std::string>{strFolder.substr(0, strFolder.size() - 5), strFile}));
    EXPECT_TRUE(m_set.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(2, m_set.ptrState->GetFailedItemCount());
}

TEST_F(ContentPushSenderTest, ADeletionIsPushedEmptyWithItsOwnStatusAndIsNoFailure) {
    const std::string strPath = m_dir / "deleted.txt"; // no such file: it was deleted
    CItemPtr ptrItem = idxtest::MakeDeletedItem(strPath, Options());
    ASSERT_FALSE(Send({ptrItem}).IsError());

    std::vector<EngineRequest> vecExtract = m_stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), 1u);
    EXPECT_EQ(vecExtract[0].strBody, "");
    EXPECT_EQ(vecExtract[0].Param("literal.cistate"), "3334");
    EXPECT_EQ(vecExtract[0].Param("literal.FileContentHash"), kEmptySha512);
    EXPECT_TRUE(FailuresFileLines().empty());
    EXPECT_FALSE(m_set.ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(m_ptrCallback->Reports(), std::vector<Report>{Report(1, 0, 0)});
}

TEST(ReadRegularFileContentTest, TheContentTakesOneBufferOfTheFilesSize) {
    // Each pushing worker holds a file of up to the upper bound in memory; a buffer that grows
    // while it is filled would hold (and copy) up to twice that.
    idxtest::TempDir dir;
    const size_t nMiB = 1024 * 1024;
    for (size_t nSize : {size_t(0), size_t(5), nMiB, 3 * nMiB + 5}) {
        SCOPED_TRACE(nSize);
        std::string strExpected(nSize, 'c');
        for (size_t i = 0; i < nSize; i += 4093) {
            strExpected[i] = static_cast<char>('a' + i % 23);
        }
        const std::string strPath = dir.WriteFile("content.bin", strExpected);
        std::string strContent;
        bool bTooLarge = true;
        uint64_t ullSeen = 0;
        CKyError error =
            IdxDocuments::ReadRegularFileContent(strPath, 52428800, strContent, bTooLarge, ullSeen);
        ASSERT_FALSE(error.IsError()) << error.AsString();
        EXPECT_FALSE(bTooLarge);
        EXPECT_EQ(ullSeen, nSize);
        EXPECT_TRUE(strContent == strExpected);
        EXPECT_LE(strContent.capacity(), nSize + nSize / 2 + 32);
    }

    const std::string strLarge = dir.WriteFile("large.bin", std::string(100, 'l'));
    std::string strContent;
    bool bTooLarge = false;
    uint64_t ullSeen = 0;
    ASSERT_FALSE(IdxDocuments::ReadRegularFileContent(strLarge, 10, strContent, bTooLarge, ullSeen)
                     .IsError());
    EXPECT_TRUE(bTooLarge);
    EXPECT_EQ(ullSeen, 100u);
}

TEST(MakeHashSHA512Test, GivesTheDigestAs128UpperCaseDigits) {
    EXPECT_EQ(IdxDocuments::MakeHashSHA512("abc"), kAbcSha512);
    EXPECT_EQ(IdxDocuments::MakeHashSHA512(""), kEmptySha512);
    const std::string strBinary("\0\xff\x80 binary", 10);
    EXPECT_EQ(IdxDocuments::MakeHashSHA512(strBinary),
              ReferenceSha512(strBinary.data(), strBinary.size()));
}

TEST(MakeHashSHA512Test, ContentOf2GiBAndMoreIsHashedWhole) {
#if defined(__SANITIZE_THREAD__) || IDX_HAS_THREAD_SANITIZER
    // Nothing here is threaded, and filling 2 GiB under the race detector maps gigabytes of
    // shadow memory and takes many times as long.
    GTEST_SKIP() << "a single-threaded 2 GiB test is left out of the ThreadSanitizer run";
#endif
    // 2 GiB + 3 bytes: a 32-bit count would be negative and hash nothing, or wrap to 3 bytes.
    const uint64_t ullLength = (1ull << 31) + 3;
    // The content is held in memory only (nothing goes to disk); other tests run beside this
    // one, so it asks for a good margin above its own 2 GiB.
    const uint64_t ullAvailable = AvailableMemoryBytes();
    if (ullAvailable < 3 * ullLength) {
        GTEST_SKIP() << "not enough available memory for a 2 GiB content: " << ullAvailable
                     << " bytes";
    }
    std::string strContent(ullLength, 'q');
    strContent[ullLength - 1] = 'r';
    const std::string strHash = IdxDocuments::MakeHashSHA512(strContent);
    EXPECT_EQ(strHash.size(), 128u);
    EXPECT_EQ(strHash, ReferenceSha512(strContent.data(), ullLength));
    EXPECT_NE(strHash, kEmptySha512);
    EXPECT_NE(strHash, IdxDocuments::MakeHashSHA512(strContent.substr(0, 3)));
}

} // namespace

namespace {

TEST(ContentPushThroughTheTransmitterTest, QueuedFilesReachTheExtractHandlerWithTheirBytes) {
    // The end of the job waits in steps of a second or more; the virtual clock makes them free.
    idxtest::VirtualClock clock;
    idxtest::TempDir dir;
    EngineStub stub;
    idxtest::EngineTransmitter transmitter;
    CTransmitterOptions &options = transmitter.Options();
    idxtest::PointOptionsAtStub(options, stub);
    options.SetPushOnlyMetaData(false);
    options.SetCompleteSolrExtractUrl(stub.ExtractUrl() + "?commit=false");
    options.SetSubClientDir(dir.Path());
    options.SetIncludeFiltersSet({"txt"});
    options.SetMaxItemsPerTransaction(4);
    transmitter.State().SetUp().m_nDisableSolrPerfThread = 1;
    ASSERT_FALSE(transmitter.SetNumberofTransmitterThreads(3).IsError());
    ASSERT_FALSE(transmitter.Start().IsError());

    std::map<std::string, std::string> mapContents;
    for (int i = 0; i < 12; ++i) {
        std::string strContent = std::string(static_cast<size_t>(i) * 1000, 'c') +
                                 std::string("\0\xff", 2) + std::to_string(i);
        mapContents[dir.WriteFile("f" + std::to_string(i) + ".txt", strContent)] = strContent;
    }
    for (const auto &file : mapContents) {
        ASSERT_FALSE(transmitter.BuildAndAddToQueue(file.first, 2, 0, false, false).IsError());
    }
    const std::string strPicture = dir.WriteFile("picture.jpg", "jpeg");
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(strPicture, 2, 0, false, false).IsError());
    ASSERT_FALSE(transmitter.BuildAndAddToQueue(dir.Path(), 2, 0, false, false).IsError());
    ASSERT_TRUE(idxtest::WaitUntil([&] { return stub.DocumentCount() == 14; }));
    EXPECT_FALSE(transmitter.Stop().IsError());

    std::vector<EngineRequest> vecExtract = stub.Requests(EngineRoute::Extract);
    ASSERT_EQ(vecExtract.size(), mapContents.size());
    for (const EngineRequest &request : vecExtract) {
        const std::string strPath = request.Param("literal.Url");
        ASSERT_TRUE(mapContents.count(strPath)) << strPath;
        const std::string &strContent = mapContents[strPath];
        EXPECT_EQ(request.nStatus, 200);
        EXPECT_EQ(request.Header("Content-Type"), "application/octet-stream");
        EXPECT_EQ(request.strBody, strContent);
        EXPECT_EQ(request.Param("literal.FileContentHash"),
                  ReferenceSha512(strContent.data(), strContent.size()));
        // Content push outside the scan phase: the collect position travels along.
        EXPECT_EQ(request.Param("literal.CollectId"), "2");
        EXPECT_EQ(request.Param("literal.CollectOffset"), "0");
        auto document = stub.Document(request.Param("literal.contentid"));
        ASSERT_TRUE(document.has_value());
        EXPECT_EQ(document->strContent, strContent);
    }
    // The picture and the folder went out as metadata.
    size_t nMetadataDocs = 0;
    for (const EngineRequest &request : stub.Requests(EngineRoute::Update)) {
        nMetadataDocs += idxtest::CountDocs(request.strBody);
    }
    EXPECT_EQ(nMetadataDocs, 2u);
    size_t nWithCollectId = 0;
    for (const auto &entry : stub.Documents()) {
        nWithCollectId += entry.second.Value("CollectId") == "2" ? 1 : 0;
    }
    EXPECT_EQ(nWithCollectId, 14u);
    EXPECT_EQ(transmitter.GetFailedItemCount(), 0);
}

} // namespace

// The live-crawl handler table and the cloud-item handler: which agent types have a handler, and
// how the agent's record moves into the item metadata and is freed exactly once.
#include "logwriter/LiveCrawlProcess.h"

#include <string>

#include <gtest/gtest.h>

#include "logwriter/LiveCrawlhandlerCloud.h"
#include "platform/IndexRecords.h"
#include "platform/testing/LogCapture.h"

namespace {

// A cloud record that counts its destructions.
class CountedCloudRecord : public IdxMetadata::CloudIdxMetadata {
public:
    explicit CountedCloudRecord(int &nDestroyed) : m_nDestroyed(nDestroyed) {}
    ~CountedCloudRecord() override { ++m_nDestroyed; }

private:
    int &m_nDestroyed;
};

bool HasText(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

} // namespace

TEST(LiveCrawlProcessTest, ACloudRecordMovesIntoTheItemMetadataAndIsFreedOnce) {
    for (int nLevel : {2, 3}) {
        SCOPED_TRACE(nLevel);
        CLiveCrawlItemProcess table;
        table.Initialize();
        int nDestroyed = 0;
        auto *pRecord = new CountedCloudRecord(nDestroyed);
        pRecord->setstring(1, 1, "cloud item");
        void *pInstance = static_cast<IdxMetadata::CloudIdxMetadata *>(pRecord);
        IdxMetadata::IdxMetaData metadata;
        idxtest::LogCapture capture(nLevel);

        EXPECT_FALSE(
            table.PopulateItem(LIVECRAWL_AGENT_CLOUD_ITEM, pInstance, &metadata).IsError());
        // Nobody points at the freed record.
        EXPECT_EQ(nullptr, pInstance);
        EXPECT_EQ(1, nDestroyed);
        const CNMessageBase *pCopy = metadata.getObject(69, 69);
        ASSERT_NE(nullptr, pCopy);
        EXPECT_EQ("cloud item", pCopy->getstring(1, 1));
        EXPECT_EQ(IdxMetadata::CloudIdxMetadata::kType, pCopy->GetType());
        EXPECT_EQ(nLevel >= 3 ? 1u : 0u, capture.CountAtLevel(" Cloud-Metadata XML [<message", -1));
    }
}

TEST(LiveCrawlProcessTest, AgentTypesWithoutAHandlerLeaveTheRecordAlone) {
    CLiveCrawlItemProcess table;
    table.Initialize();
    for (int32_t nType : {0, 2, -1}) {
        SCOPED_TRACE(nType);
        int nDestroyed = 0;
        auto *pRecord = new CountedCloudRecord(nDestroyed);
        void *pInstance = static_cast<IdxMetadata::CloudIdxMetadata *>(pRecord);
        IdxMetadata::IdxMetaData metadata;

        CKyError error =
            table.PopulateItem(static_cast<LiveCrawlAgentType>(nType), pInstance, &metadata);
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
        EXPECT_TRUE(HasText(error, "Handler is not initialized for Agent Type(" +
                                       std::to_string(static_cast<uint32_t>(nType)) + ")"))
            << error.AsString();
        EXPECT_EQ(static_cast<void *>(static_cast<IdxMetadata::CloudIdxMetadata *>(pRecord)),
                  pInstance);
        EXPECT_EQ(0, nDestroyed);
        EXPECT_EQ(nullptr, metadata.getObject(69, 69));
        delete pRecord;
    }

    // Before Initialize not even the cloud agent has a handler.
    CLiveCrawlItemProcess empty;
    void *pNothing = nullptr;
    IdxMetadata::IdxMetaData metadata;
    EXPECT_TRUE(HasText(empty.PopulateItem(LIVECRAWL_AGENT_CLOUD_ITEM, pNothing, &metadata),
                        "Handler is not initialized for Agent Type(1)"));
}

TEST(LiveCrawlProcessTest, ANullCloudRecordFailsWithoutALogLine) {
    CLiveCrawlItemProcess table;
    table.Initialize();
    // Uninitialize leaves the handlers in place.
    table.Uninitialize();
    idxtest::LogCapture capture(7);
    void *pInstance = nullptr;
    IdxMetadata::IdxMetaData metadata;

    CKyError error = table.PopulateItem(LIVECRAWL_AGENT_CLOUD_ITEM, pInstance, &metadata);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_TRUE(HasText(error, "[Error] NULL interface ")) << error.AsString();
    EXPECT_FALSE(capture.Contains("Cloud-Metadata XML"));
    EXPECT_EQ(nullptr, metadata.getObject(69, 69));

    // A record without metadata to fill stays with the caller.
    int nDestroyed = 0;
    auto *pRecord = new CountedCloudRecord(nDestroyed);
    pInstance = static_cast<IdxMetadata::CloudIdxMetadata *>(pRecord);
    CLiveCrawlHandlerCloudItem handler;
    EXPECT_TRUE(
        HasText(handler.ProcessAndPopulateItem(pInstance, nullptr), "Invalid item metadata"));
    EXPECT_NE(nullptr, pInstance);
    EXPECT_EQ(0, nDestroyed);
    delete pRecord;
}

#include "platform/Item.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

namespace {

// Counts how many records are alive, to see that the item owns what it is given.
class CountedInterface : public CItemInterface {
public:
    explicit CountedInterface(int &nAlive) : m_nAlive(nAlive) { ++m_nAlive; }
    ~CountedInterface() override { --m_nAlive; }

private:
    int &m_nAlive;
};

// An item kind that answers from its own data, as directory-entry items do.
class FixedSizeItem : public CItem {
public:
    uint64_t GetSize() const override { return 4096; }
    bool IsFolder() const override { return true; }
};

TEST(ItemTest, SelectedForAccessClearsOnlyItsOwnBit) {
    CItem item;
    item.SetFlag(0x1 | 0x4 | 0x100, true);
    item.SetSelectedForAccess(true);
    EXPECT_TRUE(item.IsSelectedForAccess());
    uint32_t nOthers = item.GetFlags() & ~static_cast<uint32_t>(BItemFlags::eSelectedForAccess);
    EXPECT_EQ(nOthers, 0x105u);

    item.SetSelectedForAccess(false);
    EXPECT_FALSE(item.IsSelectedForAccess());
    EXPECT_EQ(item.GetFlags(), 0x105u);
    item.SetSelectedForAccess(false);
    EXPECT_EQ(item.GetFlags(), 0x105u);
}

TEST(ItemTest, BagsAreShared) {
    auto ptrWorkUnit = boost::make_shared<CBag>();
    CItem item(ptrWorkUnit);
    EXPECT_EQ(item.GetWorkUnitBag(), ptrWorkUnit);
    ASSERT_TRUE(item.GetItemBag());
    item.GetItemBag()->Write("errorCode", uint32_t(2));
    uint32_t nErrorCode = 0;
    EXPECT_FALSE(item.GetItemBag()->Read("errorCode", nErrorCode).IsError());
    EXPECT_EQ(nErrorCode, 2u);

    CItem withoutWorkUnit;
    EXPECT_FALSE(withoutWorkUnit.GetWorkUnitBag());
    EXPECT_NE(withoutWorkUnit.GetItemBag(), item.GetItemBag());
}

// The bag lives in the item: a bag pointer keeps a shared item alive after every item pointer
// has gone, and the item goes with the last bag pointer.
TEST(ItemTest, ABagPointerKeepsItsItemAlive) {
    int nAlive = 0;
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, new CountedInterface(nAlive));
    CBagPtr ptrBag = ptrItem->GetItemBag();
    EXPECT_EQ(ptrBag, ptrItem->GetItemBag());
    ptrItem.reset();
    EXPECT_EQ(nAlive, 1);
    EXPECT_FALSE(ptrBag->Write("contentId", std::string("c-1")).IsError());
    std::string strValue;
    EXPECT_FALSE(ptrBag->Read("contentId", strValue).IsError());
    EXPECT_EQ(strValue, "c-1");
    ptrBag.reset();
    EXPECT_EQ(nAlive, 0);
}

// Records under any number, inside or outside the item's own slots, are owned, found and
// replaced alike.
TEST(ItemTest, InterfacesUnderAnyNumber) {
    const int ids[] = {-1, 0,  EItemInterfaceId::eAnalytics, EItemInterfaceId::eLiveCrawl, 7,
                       8,  100};
    int nAlive = 0;
    {
        CItem item;
        for (int nId : ids) {
            EXPECT_EQ(item.GetInterface(nId), nullptr) << nId;
        }
        for (int nId : ids) {
            item.AddInterface(nId, new CountedInterface(nAlive));
        }
        EXPECT_EQ(nAlive, 7);
        for (int nId : ids) {
            auto *pNew = new CountedInterface(nAlive);
            item.AddInterface(nId, pNew);
            EXPECT_EQ(item.GetInterface(nId), pNew) << nId;
        }
        EXPECT_EQ(nAlive, 7);
        EXPECT_EQ(item.GetInterface(9), nullptr);
    }
    EXPECT_EQ(nAlive, 0);
}

TEST(ItemTest, InterfacesAreOwnedAndReplaced) {
    int nAlive = 0;
    {
        CItem item;
        EXPECT_EQ(item.GetInterface(EItemInterfaceId::eAnalytics), nullptr);
        auto *pFirst = new CountedInterface(nAlive);
        item.AddInterface(EItemInterfaceId::eAnalytics, pFirst);
        EXPECT_EQ(item.GetInterface(EItemInterfaceId::eAnalytics), pFirst);
        item.AddInterface(EItemInterfaceId::eAnalytics, new CountedInterface(nAlive));
        EXPECT_EQ(nAlive, 1);
        EXPECT_NE(item.GetInterface(EItemInterfaceId::eAnalytics), nullptr);

        auto *pLiveCrawl =
            new CLiveCrawlInterface(true, LIVECRAWL_AGENT_CLOUD_ITEM, &nAlive, 9000000000ull, 7);
        item.AddInterface(EItemInterfaceId::eLiveCrawl, pLiveCrawl);
        auto *pFound =
            dynamic_cast<CLiveCrawlInterface *>(item.GetInterface(EItemInterfaceId::eLiveCrawl));
        ASSERT_NE(pFound, nullptr);
        EXPECT_TRUE(pFound->IsItemDeleted());
        EXPECT_EQ(pFound->GetAgentType(), LIVECRAWL_AGENT_CLOUD_ITEM);
        EXPECT_EQ(pFound->getInterfaceInstance(), &nAlive);
        EXPECT_EQ(pFound->GetCollectFileOffset(), 9000000000ull);
        EXPECT_EQ(pFound->GetCollectFileId(), 7u);
        pFound->SetCollectFileId(8);
        pFound->SetItemDeleted(false);
        EXPECT_EQ(pFound->GetCollectFileId(), 8u);
        EXPECT_FALSE(pFound->IsItemDeleted());
    }
    EXPECT_EQ(nAlive, 0);
}

TEST(ItemTest, PathSetsNameParentAndFullName) {
    struct Case {
        const char *szPath;
        const char *szName;
        const char *szParent;
    } cases[] = {
        {"/data/dir/file.txt", "file.txt", "/data/dir"},
        {"/top", "top", "/"},
        {"relative", "relative", ""},
    };
    for (const Case &c : cases) {
        CItem item;
        item.SetPath(c.szPath);
        EXPECT_EQ(item.GetPath(), c.szPath);
        EXPECT_EQ(item.GetFullyQualifiedItemName(), c.szPath);
        EXPECT_EQ(item.GetName(), c.szName);
        EXPECT_EQ(item.GetParentPath(), c.szParent);
    }
    // An archive member answers with its scratch copy as the fully qualified name.
    CItem member;
    member.SetPath("/archive.zip/inner/a.txt");
    member.SetFullyQualifiedItemName("/scratch/Temp/archive.zip-1/inner/a.txt");
    EXPECT_EQ(member.GetPath(), "/archive.zip/inner/a.txt");
    EXPECT_EQ(member.GetFullyQualifiedItemName(), "/scratch/Temp/archive.zip-1/inner/a.txt");
    // Setting the path again sets the fully qualified name with it.
    member.SetPath("/archive.zip/inner/b.txt");
    EXPECT_EQ(member.GetFullyQualifiedItemName(), "/archive.zip/inner/b.txt");
}

TEST(ItemTest, SubclassesAnswerThroughTheVirtualGetters) {
    CItemPtr ptrItem = boost::make_shared<FixedSizeItem>();
    ptrItem->SetSize(1);
    EXPECT_EQ(ptrItem->GetSize(), 4096u);
    EXPECT_TRUE(ptrItem->IsFolder());

    CItem plain;
    plain.SetTimes(CTimeStamp(1), CTimeStamp(2), CTimeStamp(3), CTimeStamp(4));
    plain.SetAttributes(0x2);
    plain.SetMode(0100644);
    plain.SetSizeOnDisk(8192);
    EXPECT_EQ(plain.GetCreationTime().GetTicks(), 1);
    EXPECT_EQ(plain.GetModificationTime().GetTicks(), 2);
    EXPECT_EQ(plain.GetAccessTime().GetTicks(), 3);
    EXPECT_EQ(plain.GetChangeTime().GetTicks(), 4);
    EXPECT_EQ(plain.GetAttributes(), 0x2u);
    EXPECT_EQ(plain.GetMode(), 0100644u);
    EXPECT_EQ(plain.GetSizeOnDisk(), 8192u);
    EXPECT_FALSE(plain.IsFolder());
}

} // namespace

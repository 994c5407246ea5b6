#include "platform/ItemLookup.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace {

CTimeStamp Stamp(const struct timespec &time) {
    return CTimeStamp(static_cast<int64_t>(time.tv_sec) * 10000000LL + time.tv_nsec / 100 +
                      CTimeStamp::kUnixEpochTicks);
}

CKyError Lookup(const std::string &strParent, const std::string &strPath, CItemPtr &ptrItem) {
    CBasicPathEnumerator enumerator;
    return enumerator.GetItemByPath(strParent, strPath, ptrItem);
}

class ItemLookupTest : public ::testing::Test {
protected:
    idxtest::TempDir m_dir;
};

TEST_F(ItemLookupTest, AFileComesBackWithItsMetadata) {
    std::string strFile = m_dir.WriteFile("docs/report.txt", "twelve bytes");
    ASSERT_EQ(chmod(strFile.c_str(), 0644), 0);
    struct stat st;
    ASSERT_EQ(lstat(strFile.c_str(), &st), 0);

    CItemPtr ptrItem;
    CKyError error = Lookup(m_dir / "docs", strFile, ptrItem);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    ASSERT_TRUE(ptrItem);
    EXPECT_EQ(ptrItem->GetPath(), strFile);
    EXPECT_EQ(ptrItem->GetFullyQualifiedItemName(), strFile);
    EXPECT_EQ(ptrItem->GetName(), "report.txt");
    EXPECT_EQ(ptrItem->GetParentPath(), m_dir / "docs");
    EXPECT_FALSE(ptrItem->IsFolder());
    EXPECT_EQ(ptrItem->GetSize(), 12u);
    EXPECT_EQ(ptrItem->GetSizeOnDisk(), static_cast<uint64_t>(st.st_blocks) * 512);
    EXPECT_EQ(ptrItem->GetModificationTime(), Stamp(st.st_mtim));
    EXPECT_EQ(ptrItem->GetAccessTime(), Stamp(st.st_atim));
    EXPECT_EQ(ptrItem->GetCreationTime(), Stamp(st.st_ctim));
    EXPECT_EQ(ptrItem->GetChangeTime(), Stamp(st.st_ctim));
    EXPECT_EQ(ptrItem->GetMode(), static_cast<uint32_t>(st.st_mode));
    EXPECT_EQ(ptrItem->GetAttributes(), 0x80u); // normal
    // Unix seconds survive the round trip through 100-nanosecond ticks.
    EXPECT_EQ(ptrItem->GetModificationTime().AsUnixTime(), st.st_mtim.tv_sec);
    // The item's own bag is there for the queueing calls to write into.
    EXPECT_TRUE(ptrItem->GetItemBag());
}

TEST_F(ItemLookupTest, FoldersSymlinksAndAttributes) {
    m_dir.WriteFile("folder/inner.txt", "x");
    std::string strHidden = m_dir.WriteFile(".hidden", "x");
    std::string strReadOnly = m_dir.WriteFile("readonly.txt", "x");
    ASSERT_EQ(chmod(strReadOnly.c_str(), 0444), 0);
    std::string strLink = m_dir / "link-to-folder";
    const std::string strTarget = m_dir / "folder";
    ASSERT_EQ(symlink(strTarget.c_str(), strLink.c_str()), 0);
    std::string strDangling = m_dir / "dangling";
    ASSERT_EQ(symlink("/no/such/target", strDangling.c_str()), 0);

    struct Expectation {
        std::string strPath;
        bool bFolder;
        uint32_t nAttributes;
        uint32_t nType;
    };
    const Expectation expectations[] = {
        {m_dir / "folder", true, 0x10, S_IFDIR},
        {strHidden, false, 0x2, S_IFREG},
        {strReadOnly, false, 0x1, S_IFREG},
        // lstat: the link itself, never what it points at.
        {strLink, false, 0x400, S_IFLNK},
        {strDangling, false, 0x400, S_IFLNK},
    };
    for (const Expectation &expectation : expectations) {
        CItemPtr ptrItem;
        CKyError error = Lookup(expectation.strPath, expectation.strPath, ptrItem);
        ASSERT_FALSE(error.IsError()) << expectation.strPath << ": " << error.AsString();
        ASSERT_TRUE(ptrItem);
        EXPECT_EQ(ptrItem->IsFolder(), expectation.bFolder) << expectation.strPath;
        EXPECT_EQ(ptrItem->GetAttributes(), expectation.nAttributes) << expectation.strPath;
        EXPECT_EQ(ptrItem->GetMode() & S_IFMT, expectation.nType) << expectation.strPath;
    }

    CItemPtr ptrLink;
    ASSERT_FALSE(Lookup(strLink, strLink, ptrLink).IsError());
    EXPECT_EQ(ptrLink->GetSize(), strTarget.size());
}

TEST_F(ItemLookupTest, AMissingEntryGivesWin32TwoOrThreeAndStillAnItem) {
    std::string strFile = m_dir.WriteFile("present.txt", "x");
    struct MissingCase {
        std::string strPath;
        uint32_t nWin32;
    };
    const MissingCase cases[] = {
        {m_dir / "gone.txt", 2},
        {m_dir / "no-folder/gone.txt", 3},
        {m_dir / "no-folder/deeper/gone.txt", 3},
        {strFile + "/under-a-file", 3},
    };
    for (const MissingCase &missing : cases) {
        CItemPtr ptrItem;
        CKyError error = Lookup(missing.strPath, missing.strPath, ptrItem);
        EXPECT_TRUE(error.IsError()) << missing.strPath;
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, missing.nWin32))
            << missing.strPath << ": " << error.AsString();
        EXPECT_NE(error.AsString().find(missing.strPath), std::string::npos);
        // The item is made from the path alone, so that it can be queued marked failed.
        ASSERT_TRUE(ptrItem) << missing.strPath;
        EXPECT_EQ(ptrItem->GetPath(), missing.strPath);
        EXPECT_EQ(ptrItem->GetName(), FXPath::GetFileName(missing.strPath));
        EXPECT_EQ(ptrItem->GetSize(), 0u);
        EXPECT_TRUE(ptrItem->GetModificationTime().IsClear());
        EXPECT_EQ(ptrItem->GetAttributes(), 0u);
        EXPECT_FALSE(ptrItem->IsFolder());
    }

    CItemPtr ptrNone;
    CKyError empty = Lookup("", "", ptrNone);
    EXPECT_TRUE(FXErrorUtil::IsWin32(empty, 87));
    EXPECT_FALSE(ptrNone);
}

TEST_F(ItemLookupTest, AnUnreadableFolderGivesAccessDenied) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not hold for root";
    }
    std::string strFile = m_dir.WriteFile("locked/secret.txt", "x");
    ASSERT_EQ(chmod((m_dir / "locked").c_str(), 0), 0);
    CItemPtr ptrItem;
    CKyError error = Lookup(strFile, strFile, ptrItem);
    chmod((m_dir / "locked").c_str(), 0755);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 5)) << error.AsString();
    EXPECT_TRUE(ptrItem);
}

TEST_F(ItemLookupTest, ARelativeItemPathIsTakenUnderTheParent) {
    m_dir.WriteFile("base/child.txt", "abc");
    CItemPtr ptrItem;
    ASSERT_FALSE(Lookup(m_dir / "base", "child.txt", ptrItem).IsError());
    EXPECT_EQ(ptrItem->GetPath(), m_dir / "base/child.txt");
    EXPECT_EQ(ptrItem->GetSize(), 3u);
}

TEST_F(ItemLookupTest, AnItemMadeFromAZeroStatusIsAllZero) {
    // The deleted-item form: a record with an all-zero status never touches the disk.
    std::string strFile = m_dir.WriteFile("still-there.txt", "content");
    struct stat zero = {};
    FXFile::CFileData fileData(strFile, FXFile::CFileData::eParentAndName, &zero);
    CFindFirstItem item(CBagPtr(), strFile, strFile, fileData);
    EXPECT_EQ(item.GetName(), "still-there.txt");
    EXPECT_EQ(item.GetParentPath(), m_dir.Path());
    EXPECT_EQ(item.GetPath(), strFile);
    EXPECT_EQ(item.GetSize(), 0u);
    EXPECT_EQ(item.GetSizeOnDisk(), 0u);
    EXPECT_TRUE(item.GetCreationTime().IsClear());
    EXPECT_TRUE(item.GetModificationTime().IsClear());
    EXPECT_TRUE(item.GetAccessTime().IsClear());
    EXPECT_TRUE(item.GetChangeTime().IsClear());
    EXPECT_EQ(item.GetAttributes(), 0u);
    EXPECT_EQ(item.GetMode(), 0u);
    EXPECT_FALSE(item.IsFolder());
    EXPECT_EQ(item.GetStatusErrNo(), 0);
    EXPECT_FALSE(item.GetWorkUnitBag());
}

TEST(AnalyticsItemTest, MarksDefaultToNothingAndTravelWithTheItem) {
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ptrItem->SetPath("/data/a.txt");
    EXPECT_EQ(CAnalyticsItemInterface::FromItem(*ptrItem), nullptr);

    CAnalyticsItemUnix *pRecord = new CAnalyticsItemUnix(ptrItem);
    // An item without a status of its own is read from its path.
    EXPECT_EQ(pRecord->GetItemPath(), "/data/a.txt");
    EXPECT_EQ(pRecord->GetCollectID(), 4294967295u);
    EXPECT_EQ(pRecord->GetCollectOffset(), -1);
    EXPECT_FALSE(pRecord->IsItemDeleted());
    EXPECT_FALSE(pRecord->IsStub());
    EXPECT_FALSE(pRecord->IsItemFailed());
    EXPECT_EQ(pRecord->GetErrorCode(), 0u);
    EXPECT_FALSE(pRecord->IsSkippedForArchiving());
    EXPECT_EQ(pRecord->GetAppGUID(), "");
    EXPECT_FALSE(pRecord->GetAdditionalInfo());

    pRecord->SetAppGUID("APP-GUID");
    pRecord->SetCollectID(3);
    pRecord->SetCollectOffset(123456789012LL);
    pRecord->SetSkippedForArchiving(true);
    pRecord->SetIsStub(true);
    pRecord->SetItemFailed(true);
    pRecord->SetErrorCode(5);
    CAnalyticsItemAddInfoPtr ptrAddInfo = boost::make_shared<CAnalyticsItemAddInfo>();
    ptrAddInfo->SetOwnerBeforeChange("bob");
    pRecord->SetAdditionalInfo(ptrAddInfo);
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, pRecord);

    CAnalyticsItemInterface *pFound = CAnalyticsItemInterface::FromItem(*ptrItem);
    ASSERT_EQ(pFound, pRecord);
    EXPECT_EQ(pFound->GetAppGUID(), "APP-GUID");
    EXPECT_EQ(pFound->GetCollectID(), 3u);
    EXPECT_EQ(pFound->GetCollectOffset(), 123456789012LL);
    EXPECT_TRUE(pFound->IsSkippedForArchiving());
    EXPECT_TRUE(pFound->IsStub());
    EXPECT_TRUE(pFound->IsItemFailed());
    EXPECT_EQ(pFound->GetErrorCode(), 5u);
    EXPECT_EQ(pFound->GetAdditionalInfo()->GetOwnerBeforeChange(), "bob");

    // A shared GUID text reads like a copied one; an empty one reads as no GUID.
    auto ptrGUID = boost::make_shared<const std::string>("SHARED-GUID");
    pRecord->SetAppGUID(ptrGUID);
    EXPECT_EQ(pFound->GetAppGUID(), "SHARED-GUID");
    EXPECT_EQ(&pFound->GetAppGUID(), ptrGUID.get());
    pRecord->SetAppGUID(std::string());
    EXPECT_EQ(pFound->GetAppGUID(), "");
}

class AnalyticsSecurityTest : public ::testing::Test {
protected:
    CItemPtr LookUp(const std::string &strPath) {
        CItemPtr ptrItem;
        CBasicPathEnumerator().GetItemByPath(strPath, strPath, ptrItem);
        return ptrItem;
    }
    idxtest::TempDir m_dir;
};

TEST_F(AnalyticsSecurityTest, OwnerAndSecurityAreReadAsAskedFor) {
    std::string strFile = m_dir.WriteFile("owned.txt", "x");
    ASSERT_EQ(chmod(strFile.c_str(), 0640), 0);
    struct stat st;
    ASSERT_EQ(lstat(strFile.c_str(), &st), 0);
    struct passwd *pUser = getpwuid(st.st_uid);
    std::string strExpectedName = pUser ? pUser->pw_name : std::to_string(st.st_uid);

    struct Ask {
        bool bOwner;
        bool bSecurity;
        bool bExpectOwner;
        bool bExpectFields;
    };
    for (const Ask &ask : {Ask{false, false, false, false}, Ask{true, false, true, false},
                           Ask{false, true, true, true}, Ask{true, true, true, true}}) {
        CItemPtr ptrItem = LookUp(strFile);
        ASSERT_TRUE(ptrItem);
        CAnalyticsItemUnix record(ptrItem);
        EXPECT_FALSE(record.SetSecurityInformation(ask.bOwner, ask.bSecurity).IsError());
        CKyError error = record.ProcessSecurityInformation();
        EXPECT_FALSE(error.IsError()) << error.AsString();
        EXPECT_EQ(record.GetOwnerName(), ask.bExpectOwner ? strExpectedName : "");
        EXPECT_EQ(record.GetOwnerId(), ask.bExpectOwner ? std::to_string(st.st_uid) : "");
        EXPECT_EQ(record.GetPermissions(), ask.bExpectOwner ? "-rw-r-----" : "");
        EXPECT_EQ(record.GetSecurityFields().size(), ask.bExpectFields ? 3u : 0u);
        if (ask.bExpectFields) {
            EXPECT_EQ(record.GetSecurityFields().at("Mode"), "0640");
            EXPECT_EQ(record.GetSecurityFields().at("GroupId"), std::to_string(st.st_gid));
            EXPECT_FALSE(record.GetSecurityFields().at("GroupName").empty());
        }
        EXPECT_FALSE(record.IsPermissionsInheritanceBroken());
    }
}

TEST_F(AnalyticsSecurityTest, SpecialModeBitsShowAsLsShowsThem) {
    struct ModeCase {
        mode_t nMode;
        const char *szText;
    };
    for (const ModeCase &modeCase : {ModeCase{01777, "drwxrwxrwt"}, ModeCase{02755, "drwxr-sr-x"},
                                     ModeCase{01700, "drwx-----T"}}) {
        std::string strFolder = m_dir / ("mode" + std::to_string(modeCase.nMode));
        ASSERT_EQ(mkdir(strFolder.c_str(), 0700), 0);
        ASSERT_EQ(chmod(strFolder.c_str(), modeCase.nMode), 0);
        CAnalyticsItemUnix record(LookUp(strFolder));
        record.SetSecurityInformation(true, false);
        EXPECT_FALSE(record.ProcessSecurityInformation().IsError());
        EXPECT_EQ(record.GetPermissions(), modeCase.szText);
    }
}

TEST_F(AnalyticsSecurityTest, NothingIsReadForDeletedOrVanishedItems) {
    // A vanished item: its lookup failed, so there is nothing to read and no error.
    CItemPtr ptrGone = LookUp(m_dir / "gone.txt");
    ASSERT_TRUE(ptrGone);
    CAnalyticsItemUnix vanished(ptrGone);
    vanished.SetSecurityInformation(true, true);
    EXPECT_FALSE(vanished.ProcessSecurityInformation().IsError());
    EXPECT_EQ(vanished.GetOwnerName(), "");

    std::string strFile = m_dir.WriteFile("deleted.txt", "x");
    CAnalyticsItemUnix deleted(LookUp(strFile));
    deleted.SetItemDeleted(true);
    deleted.SetSecurityInformation(true, true);
    EXPECT_FALSE(deleted.ProcessSecurityInformation().IsError());
    EXPECT_EQ(deleted.GetOwnerName(), "");
}

TEST_F(AnalyticsSecurityTest, AFileThatCannotBeReadIsAnErrorGivenAgainOnTheNextCall) {
    // An item that did not come from a lookup is read from its path when asked.
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ptrItem->SetPath(m_dir / "made-up.txt");
    CAnalyticsItemUnix record(ptrItem);
    record.SetSecurityInformation(true, false);
    CKyError first = record.ProcessSecurityInformation();
    EXPECT_TRUE(first.IsError());
    EXPECT_NE(first.AsString().find("made-up.txt"), std::string::npos);

    // The file appears later: the first answer stands until other information is asked for.
    m_dir.WriteFile("made-up.txt", "x");
    EXPECT_TRUE(record.ProcessSecurityInformation().IsError());
    record.SetSecurityInformation(true, true);
    EXPECT_FALSE(record.ProcessSecurityInformation().IsError());
    EXPECT_EQ(record.GetOwnerId(), std::to_string(geteuid()));
}

} // namespace

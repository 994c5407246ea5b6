// Partial-update documents: the key and the named field groups only, in list order.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "documents/FieldSyntax.h"
#include "documents/PartialUpdateDocument.h"
#include "platform/ObjectGuid.h"
#include "tests/support/TempDir.h"
#include "tests/support/documents/DocumentTestSupport.h"

namespace {

using idxtest::AnalyticsSettings;
using idxtest::FieldList;
typedef std::vector<std::string> Names;

class PartialUpdateDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_set = idxtest::MakeDocumentWorker(true);
        m_strFile = m_dir.WriteFile("p.txt", "x");
        ASSERT_EQ(0, chmod(m_strFile.c_str(), 0644));
        m_strFolder = m_dir / "folder";
        ASSERT_EQ(0, mkdir(m_strFolder.c_str(), 0755));
    }

    CTransmitterOptions &Options() { return *m_set.ptrOptions; }

    FieldList Build(const CItemPtr &ptrItem, const Names &vecGroups) {
        m_set.ptrState->SetUp().m_vecFieldsToPush = vecGroups;
        std::string strDocument;
        EXPECT_FALSE(m_set.BuildPartialItemDataAnalytics(ptrItem, strDocument).IsError());
        FieldList fields;
        std::string strError;
        EXPECT_TRUE(idxtest::ParseDocumentFields(strDocument, fields, strError)) << strError;
        EXPECT_EQ(0u, idxtest::CountFields(fields, "cistate"));
        return fields;
    }

    CItemPtr Item(const std::string &strPath, const AnalyticsSettings &settings = {}) {
        return idxtest::MakePathItem(strPath, Options(), settings);
    }

    static std::string Key(const std::string &strPath) {
        std::string strGuid;
        GetObjectGuid(strPath, false, '/', strGuid);
        return strGuid;
    }

    idxtest::TempDir m_dir;
    idxtest::DocumentWorkerSet m_set;
    std::string m_strFile;
    std::string m_strFolder;
};

TEST_F(PartialUpdateDocumentTest, DocumentTypeGroupGivesKeyAndType) {
    const FieldList file = Build(Item(m_strFile), {"documenttype"});
    ASSERT_EQ((Names{"contentid", "DocumentType"}), idxtest::FieldNames(file));
    EXPECT_EQ(Key(m_strFile), file[0].strValue);
    EXPECT_FALSE(file[0].bHasUpdate);
    EXPECT_EQ("set", file[1].strUpdate);
    EXPECT_EQ("1", file[1].strValue);

    const FieldList folder = Build(Item(m_strFolder), {"DOCUMENTTYPE"});
    ASSERT_EQ((Names{"contentid", "DocumentType"}), idxtest::FieldNames(folder));
    EXPECT_EQ("4", folder[1].strValue);
}

TEST_F(PartialUpdateDocumentTest, GroupsFollowTheListAndTheCollectionOptions) {
    struct GroupCase {
        bool bOwner;
        bool bSecurity;
        bool bCloud;
        Names vecGroups;
        Names vecExpected;
    };
    const std::vector<GroupCase> vecCases = {
        {true,
         true,
         false,
         {"SecurityInfo", "DocumentType"},
         {"contentid", "OwnerName", "OwnerSID", "GroupId", "GroupName", "Mode", "Permissions",
          "DocumentType"}},
        {true, false, false, {"securityinfo"}, {"contentid", "OwnerName", "OwnerSID"}},
        {true, false, true, {"SecurityInfo"}, {"contentid", "OwnerName", "OwnerID"}},
        {false, false, false, {"SecurityInfo", "DocumentType"}, {"contentid", "DocumentType"}},
        {false, false, false, {}, {"contentid"}},
        {false, false, false, {"Size", "Url"}, {"contentid"}},
        {false,
         false,
         false,
         {"DocumentType", "DocumentType"},
         {"contentid", "DocumentType", "DocumentType"}},
    };
    for (const GroupCase &test : vecCases) {
        Options().SetCollectOwnerInfo(test.bOwner);
        Options().SetCollectSecurityInfo(test.bSecurity);
        Options().SetCloudMode(test.bCloud);
        const FieldList fields = Build(Item(m_strFile), test.vecGroups);
        EXPECT_EQ(test.vecExpected, idxtest::FieldNames(fields))
            << test.bOwner << test.bSecurity << test.bCloud;
    }
}

TEST_F(PartialUpdateDocumentTest, ChangeInformationKeepsTheOrdinaryKey) {
    Options().SetCollectOwnerInfo(true);
    Options().SetCollectSecurityInfo(true);
    AnalyticsSettings settings;
    settings.ptrAddInfo = boost::make_shared<CAnalyticsItemAddInfo>();
    settings.ptrAddInfo->SetPermissionsBeforeChange("-rwxrwxrwx");
    const FieldList fields = Build(Item(m_strFile, settings), {"DocumentType", "SecurityInfo"});
    EXPECT_EQ((Names{"contentid", "DocumentType", "OwnerName", "OwnerSID", "GroupId", "GroupName",
                     "Mode", "PermissionsBeforeChange", "Permissions"}),
              idxtest::FieldNames(fields));
    EXPECT_EQ(Key(m_strFile), idxtest::FindField(fields, "contentid")->strValue);
    EXPECT_EQ("1", idxtest::FindField(fields, "DocumentType")->strValue);
    EXPECT_EQ("-rwxrwxrwx", idxtest::FindField(fields, "PermissionsBeforeChange")->strValue);
    EXPECT_EQ("-rw-r--r--", idxtest::FindField(fields, "Permissions")->strValue.substr(0, 10));

    // Change information without a text before the change still names the field, empty.
    settings.ptrAddInfo->SetPermissionsBeforeChange("");
    const FieldList empty = Build(Item(m_strFile, settings), {"SecurityInfo"});
    ASSERT_NE(nullptr, idxtest::FindField(empty, "PermissionsBeforeChange"));
    EXPECT_EQ("", idxtest::FindField(empty, "PermissionsBeforeChange")->strValue);
}

TEST_F(PartialUpdateDocumentTest, DeletedAndRecordlessItemsGetTheSameGroups) {
    Options().SetCollectOwnerInfo(true);
    const FieldList deleted =
        Build(idxtest::MakeDeletedItem(m_strFile, Options()), {"DocumentType", "SecurityInfo"});
    EXPECT_EQ((Names{"contentid", "DocumentType", "OwnerName", "OwnerSID"}),
              idxtest::FieldNames(deleted));
    EXPECT_EQ(Key(m_strFile), deleted[0].strValue);

    CItemPtr ptrBare = boost::make_shared<CItem>();
    ptrBare->SetPath(m_strFile);
    EXPECT_EQ((Names{"contentid", "DocumentType"}),
              idxtest::FieldNames(Build(ptrBare, {"SecurityInfo", "DocumentType"})));
}

TEST_F(PartialUpdateDocumentTest, LiteralFormUsesTheSameFields) {
    idxtest::DocumentWorkerSet literal = idxtest::MakeDocumentWorker(false);
    literal.ptrState->SetUp().m_vecFieldsToPush = {"DocumentType"};
    std::string strDocument;
    literal.BuildPartialItemDataAnalytics(Item(m_strFile), strDocument);
    EXPECT_EQ("&literal.contentid=" + IdxDocuments::Urlencode(Key(m_strFile)) +
                  "&literal.DocumentType=1",
              strDocument);
}

TEST_F(PartialUpdateDocumentTest, SwitchAndAuditBuilder) {
    EXPECT_FALSE(IdxDocuments::ShouldSendPartialData(*m_set.ptrContext));
    m_set.ptrState->SetUp().m_bSendPartialData = true;
    EXPECT_TRUE(IdxDocuments::ShouldSendPartialData(*m_set.ptrContext));

    std::string strDocument = "unchanged";
    std::vector<boost::shared_ptr<CFSSolrAckRecord>> vecAcks;
    EXPECT_FALSE(
        IdxDocuments::BuildAuditItemDataAnalytics(Item(m_strFile), vecAcks, strDocument).IsError());
    EXPECT_EQ("unchanged", strDocument);
    EXPECT_TRUE(vecAcks.empty());
}

} // namespace

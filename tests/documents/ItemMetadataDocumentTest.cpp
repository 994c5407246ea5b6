// Metadata documents built from real files, folders and deleted paths: the fields and their
// order, the values that come from the item, the analytics record and the options, change
// events, cloud names, and names that try to break the document.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "tests/support/TextShape.h"

#include "documents/DocumentKeys.h"
#include "documents/FieldSyntax.h"
#include "platform/ObjectGuid.h"
#include "platform/testing/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestTransmitter.h"
#include "tests/support/documents/DocumentTestSupport.h"

using idxtest::MatchesShape;

namespace {

using idxtest::AnalyticsSettings;
using idxtest::DocumentField;
using idxtest::FieldList;

typedef std::vector<std::string> Names;

const Names &BaseNames() {
    static const Names vecNames = {"contentid",
                                   "AccessTime",
                                   "ClientId",
                                   "ApplicationId",
                                   "CreatedTime",
                                   "tqturboguid",
                                   "DocumentType",
                                   "FileExtension",
                                   "FileName",
                                   "FileNameModifiedTimeHash",
                                   "FolderName",
                                   "JobId",
                                   "ModifiedTime",
                                   "ModifiedTimeAsStr",
                                   "ChangeTimeAsInt",
                                   "Size",
                                   "SizeOnDisk",
                                   "FileNameModifiedTimeSizeHash",
                                   "Source",
                                   "ShareName",
                                   "Url"};
    return vecNames;
}

Names Concat(Names vecFirst, const Names &vecSecond) {
    vecFirst.insert(vecFirst.end(), vecSecond.begin(), vecSecond.end());
    return vecFirst;
}

std::string Value(const FieldList &fields, const std::string &strName) {
    const DocumentField *pField = idxtest::FindField(fields, strName);
    return pField ? pField->strValue : std::string("<absent>");
}

std::string ObjectGuid(const std::string &strPath) {
    std::string strGuid;
    GetObjectGuid(strPath, false, '/', strGuid);
    return strGuid;
}

class ItemMetadataDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_set = idxtest::MakeDocumentWorker(true);
        m_set.ptrOptions->SetClientId(7);
        m_set.ptrOptions->SetApplicationNumber(12);
        m_set.ptrOptions->SetJobId(345);
        m_set.ptrOptions->SetClientName("client1");
    }

    CTransmitterOptions &Options() { return *m_set.ptrOptions; }
    idxtest::DocumentWorker &Worker() { return *m_set.ptrWorker; }

    // Builds the item's document and checks what every document must be: parseable, one key
    // without an update attribute, every other field "set", at most one status pair.
    FieldList Build(const CItemPtr &ptrItem) {
        std::string strDocument;
        EXPECT_FALSE(m_set.BuildItemDataAnalytics(ptrItem, strDocument).IsError());
        FieldList fields;
        std::string strError;
        EXPECT_TRUE(idxtest::ParseDocumentFields(strDocument, fields, strError))
            << strError << " in " << strDocument;
        for (const DocumentField &field : fields) {
            if (field.strName == "contentid") {
                EXPECT_FALSE(field.bHasUpdate);
            } else {
                EXPECT_EQ("set", field.strUpdate) << field.strName;
            }
        }
        EXPECT_EQ(1u, idxtest::CountFields(fields, "contentid"));
        const bool bCloud = Options().IsCloudMode();
        EXPECT_GE(1u, idxtest::CountFields(fields, bCloud ? "ContentIndexingStatus" : "cistate"));
        EXPECT_EQ(1u, idxtest::CountFields(fields, bCloud ? "Err" : "err"));
        return fields;
    }

    CItemPtr Item(const std::string &strPath, const AnalyticsSettings &settings = {}) {
        CItemPtr ptrItem = idxtest::MakePathItem(strPath, Options(), settings);
        EXPECT_TRUE(ptrItem) << strPath;
        return ptrItem;
    }

    idxtest::TempDir m_dir;
    idxtest::DocumentWorkerSet m_set;
};

TEST_F(ItemMetadataDocumentTest, PlainFileHasTheFieldsInOrderWithTheirValues) {
    const std::string strPath = m_dir.WriteFile("report.PDF", "hello");
    struct timeval times[2] = {{1500000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, utimes(strPath.c_str(), times));
    struct stat status;
    ASSERT_EQ(0, stat(strPath.c_str(), &status));

    const FieldList fields = Build(Item(strPath));
    EXPECT_EQ(Concat(BaseNames(), {"NotQualifiedForArchiving", "IsStub", "cistate", "err"}),
              idxtest::FieldNames(fields));

    EXPECT_EQ(ObjectGuid(strPath), Value(fields, "contentid"));
    EXPECT_EQ("7", Value(fields, "ClientId"));
    EXPECT_EQ("12", Value(fields, "ApplicationId"));
    EXPECT_EQ("345", Value(fields, "JobId"));
    EXPECT_EQ("1", Value(fields, "DocumentType"));
    EXPECT_EQ("PDF", Value(fields, "FileExtension"));
    EXPECT_EQ("report.PDF", Value(fields, "FileName"));
    EXPECT_EQ(m_dir.Path(), Value(fields, "FolderName"));
    EXPECT_EQ(strPath, Value(fields, "Url"));
    EXPECT_EQ("1000000000", Value(fields, "ModifiedTimeAsStr"));
    EXPECT_EQ("2001-09-09T01:46:40Z", Value(fields, "ModifiedTime"));
    EXPECT_EQ("2017-07-14T02:40:00Z", Value(fields, "AccessTime"));
    // The creation time stands in this field, not the modification time.
    EXPECT_EQ(std::to_string(status.st_ctime), Value(fields, "ChangeTimeAsInt"));
    EXPECT_TRUE(MatchesShape(Value(fields, "CreatedTime"), "dddd-dd-ddTdd:dd:ddZ"));
    EXPECT_EQ("5", Value(fields, "Size"));
    EXPECT_EQ(std::to_string(static_cast<unsigned long long>(status.st_blocks) * 512),
              Value(fields, "SizeOnDisk"));
    EXPECT_EQ(IdxDocuments::MakeHash("report.PDF-1000000000"),
              Value(fields, "FileNameModifiedTimeHash"));
    EXPECT_EQ(IdxDocuments::MakeHash("report.PDF-1000000000-5"),
              Value(fields, "FileNameModifiedTimeSizeHash"));
    EXPECT_EQ("client1", Value(fields, "Source"));
    EXPECT_EQ("", Value(fields, "ShareName"));
    EXPECT_EQ("0", Value(fields, "NotQualifiedForArchiving"));
    EXPECT_EQ("0", Value(fields, "IsStub"));
    EXPECT_EQ("1", Value(fields, "cistate"));
    EXPECT_EQ("", Value(fields, "err"));
    EXPECT_EQ(36u, Value(fields, "tqturboguid").size());
}

TEST_F(ItemMetadataDocumentTest, ExtensionKeepsCaseAndTakesTheLastDot) {
    const std::vector<std::pair<std::string, std::string>> vecCases = {
        {"report.PDF", "PDF"}, {"archive.tar.gz", "gz"}, {"README", ""}, {"notes.", ""}};
    for (const auto &test : vecCases) {
        const FieldList fields = Build(Item(m_dir.WriteFile(test.first, "x")));
        EXPECT_EQ(test.second, Value(fields, "FileExtension")) << test.first;
    }
}

TEST_F(ItemMetadataDocumentTest, FolderHasTypeFourAndZeroSizes) {
    const std::string strFolder = m_dir / "sub.dir";
    ASSERT_EQ(0, mkdir(strFolder.c_str(), 0755));
    const FieldList fields = Build(Item(strFolder));
    EXPECT_EQ(Concat(BaseNames(), {"NotQualifiedForArchiving", "IsStub", "cistate", "err"}),
              idxtest::FieldNames(fields));
    EXPECT_EQ("4", Value(fields, "DocumentType"));
    EXPECT_EQ("", Value(fields, "FileExtension"));
    EXPECT_EQ("0", Value(fields, "Size"));
    EXPECT_EQ("0", Value(fields, "SizeOnDisk"));
    const std::string strModified = Value(fields, "ModifiedTimeAsStr");
    EXPECT_EQ(IdxDocuments::MakeHash("sub.dir-" + strModified + "-0"),
              Value(fields, "FileNameModifiedTimeSizeHash"));
}

TEST_F(ItemMetadataDocumentTest, DeletedPathAddressesTheLiveFilesDocument) {
    Options().SetCollectOwnerInfo(true);
    Options().SetCollectSecurityInfo(true);
    const std::string strPath = m_dir.WriteFile("gone.txt", "data");
    const FieldList live = Build(Item(strPath));
    ASSERT_EQ(0, unlink(strPath.c_str()));

    const FieldList deleted = Build(idxtest::MakeDeletedItem(strPath, Options()));
    EXPECT_EQ(Value(live, "contentid"), Value(deleted, "contentid"));
    EXPECT_EQ(Concat(BaseNames(), {"NotQualifiedForArchiving", "IsStub", "cistate", "err"}),
              idxtest::FieldNames(deleted));
    EXPECT_EQ("3334", Value(deleted, "cistate"));
    EXPECT_EQ("", Value(deleted, "err"));
    EXPECT_EQ(strPath, Value(deleted, "Url"));
    EXPECT_EQ("gone.txt", Value(deleted, "FileName"));
}

TEST_F(ItemMetadataDocumentTest, FailedItemCarriesTheSystemsTextForItsNumber) {
    // The lookup's numbers are Windows-style; the text is the system's for the same condition.
    const std::vector<std::pair<uint32_t, std::string>> vecCases = {
        {2, "No such file or directory"},
        {3, "No such file or directory"},
        {5, "Permission denied"},
    };
    const std::string strPath = m_dir.WriteFile("failed.txt", "x");
    for (const auto &test : vecCases) {
        AnalyticsSettings settings;
        settings.nErrorCode = test.first;
        const FieldList fields = Build(Item(strPath, settings));
        EXPECT_EQ("16", Value(fields, "cistate")) << test.first;
        EXPECT_EQ(test.second, Value(fields, "err")) << test.first;
    }
}

TEST_F(ItemMetadataDocumentTest, FailedLookupOfAMissingPathGivesStateSixteen) {
    const std::string strPath = m_dir / "never-there.txt";
    const FieldList fields = Build(Item(strPath));
    EXPECT_EQ("16", Value(fields, "cistate"));
    EXPECT_EQ("No such file or directory", Value(fields, "err"));
    EXPECT_EQ(ObjectGuid(strPath), Value(fields, "contentid"));
}

TEST_F(ItemMetadataDocumentTest, CollectIdAndOffsetOnlyOutsideScanPhaseAndPushOnlyMode) {
    const std::string strPath = m_dir.WriteFile("f.txt", "x");
    AnalyticsSettings settings;
    settings.nCollectId = 3;
    settings.llCollectOffset = 4096;
    struct ModeCase {
        bool bPushOnly;
        bool bScanPhase;
        bool bExpected;
    };
    for (const ModeCase &test : std::vector<ModeCase>{{true, true, false},
                                                      {true, false, false},
                                                      {false, true, false},
                                                      {false, false, true}}) {
        Options().SetPushOnlyMetaData(test.bPushOnly);
        Options().SetScanPhase(test.bScanPhase);
        const FieldList fields = Build(Item(strPath, settings));
        const Names vecTail = test.bExpected
                                  ? Names{"NotQualifiedForArchiving",
                                          "IsStub",
                                          "CollectId",
                                          "CollectOffset",
                                          "cistate",
                                          "err"}
                                  : Names{"NotQualifiedForArchiving", "IsStub", "cistate", "err"};
        EXPECT_EQ(Concat(BaseNames(), vecTail), idxtest::FieldNames(fields))
            << test.bPushOnly << test.bScanPhase;
        if (test.bExpected) {
            EXPECT_EQ("3", Value(fields, "CollectId"));
            EXPECT_EQ("4096", Value(fields, "CollectOffset"));
        }
    }
}

TEST_F(ItemMetadataDocumentTest, RecordFlagsAndVersionKey) {
    const std::string strPath = m_dir.WriteFile("stub.txt", "x");
    AnalyticsSettings plain;
    AnalyticsSettings stub;
    stub.bStub = true;
    stub.bSkippedForArchiving = true;
    const FieldList plainFields = Build(Item(strPath, plain));
    const FieldList stubFields = Build(Item(strPath, stub));
    EXPECT_EQ("1", Value(stubFields, "IsStub"));
    EXPECT_EQ("1", Value(stubFields, "NotQualifiedForArchiving"));
    // The version key follows the stub flag and the application GUID; the document key does not.
    EXPECT_NE(Value(plainFields, "tqturboguid"), Value(stubFields, "tqturboguid"));
    AnalyticsSettings otherApp;
    otherApp.strAppGuid = "app-2";
    EXPECT_NE(Value(plainFields, "tqturboguid"),
              Value(Build(Item(strPath, otherApp)), "tqturboguid"));
    EXPECT_EQ(Value(plainFields, "tqturboguid"), Value(Build(Item(strPath, plain)), "tqturboguid"));
    EXPECT_EQ(Value(plainFields, "contentid"), Value(stubFields, "contentid"));
}

TEST_F(ItemMetadataDocumentTest, CloudModeRenamesExactlyFiveFields) {
    const std::string strPath = m_dir.WriteFile("c.txt", "x");
    Options().SetCollectOwnerInfo(true);
    const Names vecPlain = idxtest::FieldNames(Build(Item(strPath)));
    Options().SetCloudMode(true);
    const Names vecCloud = idxtest::FieldNames(Build(Item(strPath)));

    const std::map<std::string, std::string> mapRenamed = {{"tqturboguid", "TQTurboGUID"},
                                                           {"OwnerSID", "OwnerID"},
                                                           {"err", "Err"},
                                                           {"Url", "FilePath"},
                                                           {"cistate", "ContentIndexingStatus"}};
    ASSERT_EQ(vecPlain.size(), vecCloud.size());
    size_t nRenamed = 0;
    for (size_t i = 0; i < vecPlain.size(); ++i) {
        auto it = mapRenamed.find(vecPlain[i]);
        if (it != mapRenamed.end()) {
            EXPECT_EQ(it->second, vecCloud[i]);
            ++nRenamed;
        } else {
            EXPECT_EQ(vecPlain[i], vecCloud[i]);
        }
    }
    EXPECT_EQ(5u, nRenamed);
}

TEST_F(ItemMetadataDocumentTest, OwnerAndSecurityFieldsFollowTheCollectionOptions) {
    const std::string strPath = m_dir.WriteFile("owned.txt", "x");
    const std::string strFolder = m_dir / "owned-folder";
    ASSERT_EQ(0, mkdir(strFolder.c_str(), 0750));
    ASSERT_EQ(0, chmod(strFolder.c_str(), 0750));
    ASSERT_EQ(0, chmod(strPath.c_str(), 0644));
    const Names vecStatus = {"cistate", "err"};
    const Names vecRecord = {"NotQualifiedForArchiving", "IsStub"};

    struct SecurityCase {
        bool bOwner;
        bool bSecurity;
        bool bFolder;
        Names vecSecurityNames;
    };
    const std::vector<SecurityCase> vecCases = {
        {false, false, false, {}},
        {true, false, false, {"OwnerName", "OwnerSID", "Permissions"}},
        {false,
         true,
         false,
         {"OwnerName", "OwnerSID", "GroupId", "GroupName", "Mode", "Permissions"}},
        {true,
         true,
         true,
         {"OwnerName", "OwnerSID", "GroupId", "GroupName", "Mode", "Permissions",
          "IsPermissionsBroken_b"}},
    };
    for (const SecurityCase &test : vecCases) {
        Options().SetCollectOwnerInfo(test.bOwner);
        Options().SetCollectSecurityInfo(test.bSecurity);
        const FieldList fields = Build(Item(test.bFolder ? strFolder : strPath));
        EXPECT_EQ(Concat(Concat(Concat(BaseNames(), vecRecord), test.vecSecurityNames), vecStatus),
                  idxtest::FieldNames(fields))
            << test.bOwner << test.bSecurity;
        if (!test.vecSecurityNames.empty()) {
            EXPECT_EQ(std::to_string(getuid()), Value(fields, "OwnerSID"));
            EXPECT_EQ(test.bFolder ? "drwxr-x---" : "-rw-r--r--",
                      Value(fields, "Permissions").substr(0, 10));
        }
        if (test.bFolder) {
            EXPECT_EQ("0", Value(fields, "IsPermissionsBroken_b"));
        }
        EXPECT_EQ("1", Value(fields, "cistate"));
    }
}

TEST_F(ItemMetadataDocumentTest, ItemWithoutRecordGetsOneStatusPair) {
    Options().SetCollectOwnerInfo(true);
    CItemPtr ptrItem = idxtest::MakeTestItem(m_dir.WriteFile("bare.txt", "x"));
    const FieldList fields = Build(ptrItem);
    EXPECT_EQ(Concat(BaseNames(), {"cistate", "err"}), idxtest::FieldNames(fields));
    EXPECT_EQ("16", Value(fields, "cistate"));
    EXPECT_EQ("Failed to get security information of the item", Value(fields, "err"));

    Options().SetCollectOwnerInfo(false);
    const FieldList plain = Build(ptrItem);
    EXPECT_EQ(Concat(BaseNames(), {"cistate", "err"}), idxtest::FieldNames(plain));
    EXPECT_EQ("1", Value(plain, "cistate"));
}

TEST_F(ItemMetadataDocumentTest, ChangeEventIsADocumentOfItsOwn) {
    Options().SetCollectOwnerInfo(true);
    Options().SetCollectSecurityInfo(true);
    const std::string strPath = m_dir.WriteFile("changed.txt", "x");
    ASSERT_EQ(0, chmod(strPath.c_str(), 0644));
    CAnalyticsItemAddInfoPtr ptrAddInfo = boost::make_shared<CAnalyticsItemAddInfo>();
    ptrAddInfo->SetPermissionsBeforeChange("-rwxrwxrwx");
    ptrAddInfo->SetPermissionChangeRequest("chmod 644");
    ptrAddInfo->SetOwnerBeforeChange("olduser");
    ptrAddInfo->SetOwnerChangeRequest("chown");
    ptrAddInfo->SetOwnerName("newuser");
    AnalyticsSettings settings;
    settings.ptrAddInfo = ptrAddInfo;

    const FieldList first = Build(Item(strPath, settings));
    const FieldList second = Build(Item(strPath, settings));
    EXPECT_EQ(Concat(BaseNames(), {"NotQualifiedForArchiving", "IsStub", "OwnerName", "OwnerSID",
                                   "GroupId", "GroupName", "Mode", "PermissionsBeforeChange",
                                   "PermissionsAfterChange", "PermissionChangeRequested",
                                   "OwnerBeforeChange", "OwnerChangeRequested", "cistate", "err"}),
              idxtest::FieldNames(first));
    EXPECT_TRUE(MatchesShape(Value(first, "contentid"), "xxxxxxxx-xxxx-4xxx-vxxx-xxxxxxxxxxxx"));
    EXPECT_NE(Value(first, "contentid"), Value(second, "contentid"));
    EXPECT_NE(ObjectGuid(strPath), Value(first, "contentid"));
    EXPECT_EQ("16", Value(first, "DocumentType"));
    EXPECT_EQ("newuser", Value(first, "OwnerName"));
    EXPECT_EQ("", Value(first, "OwnerSID"));
    EXPECT_EQ("-rwxrwxrwx", Value(first, "PermissionsBeforeChange"));
    EXPECT_EQ("-rw-r--r--", Value(first, "PermissionsAfterChange").substr(0, 10));
    EXPECT_EQ("chmod 644", Value(first, "PermissionChangeRequested"));
    EXPECT_EQ("olduser", Value(first, "OwnerBeforeChange"));
    EXPECT_EQ("1", Value(first, "cistate"));

    // An error text of the change replaces the state: only "err" is written.
    ptrAddInfo->SetErrorText("permission change failed");
    ptrAddInfo->SetOwnerBeforeChange("");
    const FieldList failed = Build(Item(strPath, settings));
    EXPECT_EQ(0u, idxtest::CountFields(failed, "cistate"));
    EXPECT_EQ("permission change failed", Value(failed, "err"));
    EXPECT_EQ(0u, idxtest::CountFields(failed, "OwnerBeforeChange"));

    // Without collection the change information is not looked at: an ordinary document.
    Options().SetCollectOwnerInfo(false);
    Options().SetCollectSecurityInfo(false);
    const FieldList ordinary = Build(Item(strPath, settings));
    EXPECT_EQ(ObjectGuid(strPath), Value(ordinary, "contentid"));
    EXPECT_EQ("1", Value(ordinary, "DocumentType"));
}

TEST_F(ItemMetadataDocumentTest, NetworkPathsGiveSourceShareAndKey) {
    struct NetworkCase {
        std::string strPath;
        std::string strKeyPath;
        std::string strUrl;
        std::string strSource;
        std::string strShare;
    };
    const std::vector<NetworkCase> vecCases = {
        {"\\\\srv\\share\\dir\\f.txt", "UNC-NT_srv\\share\\dir\\f.txt",
         "\\\\srv\\share\\dir\\f.txt", "srv", "share"},
        {"\\\\UNC\\srv\\sh\\f.txt", "UNC-NT_srv\\sh\\f.txt", "\\\\srv\\sh\\f.txt", "srv", "sh"},
        {"\\\\srv", "UNC-NT_srv", "\\\\srv", "srv", ""},
        {"/local/f.txt", "/local/f.txt", "/local/f.txt", "client1", ""},
    };
    for (const NetworkCase &test : vecCases) {
        CItemPtr ptrItem = idxtest::MakeTestItem(test.strPath);
        const FieldList fields = Build(ptrItem);
        EXPECT_EQ(ObjectGuid(test.strKeyPath), Value(fields, "contentid")) << test.strPath;
        EXPECT_EQ(test.strUrl, Value(fields, "Url")) << test.strPath;
        EXPECT_EQ(test.strSource, Value(fields, "Source")) << test.strPath;
        EXPECT_EQ(test.strShare, Value(fields, "ShareName")) << test.strPath;
    }

    CItemPtr ptrItem = idxtest::MakeTestItem("\\\\UNC\\srv\\sh\\d\\f.txt");
    ptrItem->SetParentPath("\\\\UNC\\srv\\sh\\d");
    EXPECT_EQ("\\\\srv\\sh\\d", Value(Build(ptrItem), "FolderName"));
    ptrItem->SetParentPath("UNC-NT_srv\\sh\\d");
    EXPECT_EQ("\\\\srv\\sh\\d", Value(Build(ptrItem), "FolderName"));
}

TEST_F(ItemMetadataDocumentTest, SchemaFieldsComeLastInKeyOrder) {
    Options().SetSchemaFieldsMap({{"Zeta", "z"}, {"Alpha", "a]]>"}, {"Mid", ""}});
    const FieldList fields = Build(Item(m_dir.WriteFile("s.txt", "x")));
    EXPECT_EQ(Concat(BaseNames(), {"NotQualifiedForArchiving", "IsStub", "cistate", "err", "Alpha",
                                   "Mid", "Zeta"}),
              idxtest::FieldNames(fields));
    EXPECT_EQ("a]]>", Value(fields, "Alpha"));
}

TEST_F(ItemMetadataDocumentTest, HostileFileNamesGiveAWellFormedDocument) {
    const std::vector<std::string> vecNames = {
        "a]]>b.txt", "<doc>.txt", "ctl\x01\x1b\x7f.txt", "latin\xE9.txt", "\xFF\xFE",
        "bom\xEF\xBF\xBE.txt", "x]]\x01>y.txt",
        // No "/" can stand in a file name; the markup that opens things is enough to try.
        "]]><doc><field name=\"contentid\">k"};
    Options().SetCollectOwnerInfo(true);
    for (const std::string &strName : vecNames) {
        const std::string strPath = m_dir.WriteFile(strName, "content");
        const std::string strBody = [&] {
            std::string strDocument;
            m_set.BuildItemDataAnalytics(Item(strPath), strDocument);
            return "<add><doc>" + strDocument + "</doc></add>";
        }();
        std::vector<FieldList> vecDocs;
        std::string strError;
        ASSERT_TRUE(idxtest::ParseUpdateBody(strBody, vecDocs, strError))
            << strError << " for " << strName;
        ASSERT_EQ(1u, vecDocs.size());
        EXPECT_EQ(Concat(BaseNames(), {"NotQualifiedForArchiving", "IsStub", "OwnerName",
                                       "OwnerSID", "Permissions", "cistate", "err"}),
                  idxtest::FieldNames(vecDocs[0]));
        EXPECT_EQ(IdxDocuments::StripIllegalXmlCharacters(strName), Value(vecDocs[0], "FileName"));
        EXPECT_EQ(ObjectGuid(strPath), Value(vecDocs[0], "contentid"));
    }
}

TEST_F(ItemMetadataDocumentTest, BuildersFeedTheirTimers) {
    Worker().MakeTimers();
    Options().SetCollectOwnerInfo(true);
    const std::string strPath = m_dir.WriteFile("t.txt", "x");
    Build(Item(strPath));
    Build(Item(strPath));
    EXPECT_EQ(2u, Worker().m_ptrBuildItemsTimer->GetTotalSamples());
    EXPECT_EQ(2u, Worker().m_ptrChangeTimeTimer->GetTotalSamples());
    EXPECT_EQ(2u, Worker().m_ptrOwnerAndAclTimer->GetTotalSamples());
}

TEST_F(ItemMetadataDocumentTest, FailedSecurityQueryIsLoggedAndTheDocumentStillBuilt) {
    Options().SetCollectOwnerInfo(true);
    // The record reads from the file, which is gone by the time the document is built.
    const std::string strPath = m_dir.WriteFile("vanishing.txt", "x");
    CItemPtr ptrItem = idxtest::MakeTestItem(strPath);
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, new CAnalyticsItemUnix(ptrItem));
    CAnalyticsItemInterface::FromItem(*ptrItem)->SetSecurityInformation(true, false);
    ASSERT_EQ(0, unlink(strPath.c_str()));
    idxtest::LogCapture capture;
    const FieldList fields = Build(ptrItem);
    EXPECT_TRUE(capture.Contains("Failed to process security information of Windows analytics "
                                 "object, ItemName=[" +
                                 strPath + "]"));
    EXPECT_EQ("1", Value(fields, "cistate"));
}

} // namespace

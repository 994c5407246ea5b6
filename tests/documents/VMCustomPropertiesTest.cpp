// The custom properties of a virtual-machine item: their fixed order and values, the root and
// pass-over cases, the extension, the catalogue values left out when empty and the owner pair.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <boost/make_shared.hpp>

#include "documents/DocumentKeys.h"
#include "documents/VMCustomProperties.h"
#include "engine/SolrTransmitterThread.h"
#include "foundation/TimeValues.h"
#include "platform/Bag.h"
#include "platform/Clock.h"
#include "platform/ItemLookup.h"
#include "platform/MessageRecords.h"
#include "platform/ObjectGuid.h"
#include "tests/support/WebServiceJob.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

using Properties = std::vector<std::pair<std::string, std::string>>;

// 2023-11-14 22:13:20 UTC and neighbours, as 100-ns ticks since 1601.
const int64_t kModified = 1700000000;
CTimeStamp Stamp(int64_t llUnixSeconds) {
    return CTimeStamp(llUnixSeconds * 10000000LL + CTimeStamp::kUnixEpochTicks);
}

std::string Calendar(int64_t llUnixSeconds) {
    return CCalendarTime(Stamp(llUnixSeconds))
        .AsString(BCalendarTimeOutputFormat::ZONE_LOCAL |
                  BCalendarTimeOutputFormat::FORMAT_ISO8601);
}

// An analytics record with a fixed owner.
class OwnerRecord : public CAnalyticsItemInterface {
public:
    OwnerRecord(const std::string &strName, const std::string &strId) {
        m_strOwnerName = strName;
        m_strOwnerId = strId;
    }
    CKyError ProcessSecurityInformation() override { return CKyError::Success(); }
};

class VMCustomPropertiesTest : public ::testing::Test {
protected:
    VMCustomPropertiesTest() : m_set(idxtest::MakeDocumentWorker(false)) {
        idxtest::SetUpVMJob(*m_set.ptrOptions, "/unused");
    }

    // A plain item at strPath with fixed times and size; bRoot sets "IsRoot:Transmitter" in its
    // work-unit bag.
    static CItemPtr Item(const std::string &strPath, bool bFolder = false, bool bRoot = false) {
        CBagPtr ptrWorkUnit;
        if (bRoot) {
            ptrWorkUnit = boost::make_shared<CBag>();
            ptrWorkUnit->Write(SXTransmitterConfigurationBagId::idIsRoot, true);
        }
        CItemPtr ptrItem = boost::make_shared<CItem>(ptrWorkUnit);
        ptrItem->SetPath(strPath);
        ptrItem->SetFolder(bFolder);
        ptrItem->SetSize(2048);
        ptrItem->SetTimes(Stamp(kModified - 100), Stamp(kModified), Stamp(kModified + 50),
                          Stamp(kModified + 7));
        return ptrItem;
    }

    // The properties and version GUID the builder gives, as pairs; the error in *pError.
    Properties Build(const CItemPtr &ptrItem, const std::string &strPath,
                     std::string *pVersionGuid = nullptr, CKyError *pError = nullptr) {
        std::vector<App::NameValueMap> vecProperties;
        std::string strVersionGuid;
        CKyError error = IdxDocuments::BuildVMCustomProperty(*m_set.ptrContext, ptrItem, strPath,
                                                             vecProperties, strVersionGuid);
        if (pError) {
            *pError = error;
        } else {
            EXPECT_FALSE(error.IsError()) << error.AsString();
        }
        if (pVersionGuid) {
            *pVersionGuid = strVersionGuid;
        }
        Properties properties;
        for (const App::NameValueMap &pair : vecProperties) {
            properties.emplace_back(pair.getstring(1, 1), pair.getstring(2, 5));
        }
        return properties;
    }

    static std::vector<std::string> Names(const Properties &properties) {
        std::vector<std::string> vecNames;
        for (const auto &property : properties) {
            vecNames.push_back(property.first);
        }
        return vecNames;
    }

    static std::string Value(const Properties &properties, const std::string &strName) {
        for (const auto &property : properties) {
            if (property.first == strName) {
                return property.second;
            }
        }
        ADD_FAILURE() << "no property " << strName;
        return std::string();
    }

    static bool Has(const Properties &properties, const std::string &strName) {
        for (const auto &property : properties) {
            if (property.first == strName) {
                return true;
            }
        }
        return false;
    }

    std::string ContentIdOf(const std::string &strPath) {
        std::string strObjectGuid;
        GetObjectGuid(strPath, false, '/', strObjectGuid);
        return std::string(idxtest::VMJobValues::kVMGuid) + "!" +
               IdxDocuments::MakeHash(strObjectGuid + idxtest::VMJobValues::kAppGuid);
    }

    void FillCatalogue() {
        VirtualServer::VMCatalogOptions &catalog = m_set.ptrOptions->GetVMCatalogOptions();
        catalog.setint64(0, 18, 4294967295LL); // client id: low 32 bits as signed
        catalog.setint64(0, 19, 123456789012LL);
        catalog.setstring(2, 2, "hyperv");
        catalog.setstring(5, 14, "linux");
        catalog.setstring(9, 21, "vmx-19");
        catalog.setstring(10, 25, "large");
        catalog.setstring(11, 29, "tools-12");
        catalog.setint64(0, 33, 1000);
        catalog.setint64(0, 34, -1);
        catalog.setint64(0, 35, 700);
        catalog.setstring(15, 36, "dc1");
        catalog.setstring(17, 41, "cluster-a");
        catalog.setstring(18, 45, "host-7");
        catalog.setstring(19, 49, "8.0");
        catalog.setint64(0, 62, -1); // printed unsigned
        catalog.setstring(29, 68, "client-x");
        CNMessageBase nested(26, 37);
        nested.setint64(0, 43, 0x100000005LL);
        nested.setint64(0, 45, 99);
        catalog.setObjectAccessor(nested, 8, 20);
    }

    idxtest::DocumentWorkerSet m_set;
};

TEST_F(VMCustomPropertiesTest, AFileCarriesEveryPropertyInItsOrder) {
    FillCatalogue();
    m_set.ptrOptions->SetCollectOwnerInfo(true);
    CItemPtr ptrItem = Item("/mnt/vm/0/docs/report.final.txt");
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, new OwnerRecord("alice", "1001"));

    std::string strVersionGuid;
    const Properties properties = Build(ptrItem, "C:/docs/report.final.txt", &strVersionGuid);

    EXPECT_EQ(Names(properties), (std::vector<std::string>{"TQObjectGUID",
                                                           "FILE_NAME",
                                                           "FILE_FOLDER",
                                                           "ParentGUID",
                                                           "AccessTime",
                                                           "VSA_CLIENT_ID",
                                                           "VSA_APPLICATION_ID",
                                                           "ClientId",
                                                           "ClientName",
                                                           "APPID",
                                                           "CreatedTime",
                                                           "TQTurboGUID",
                                                           "EXT_NAME",
                                                           "FileNameModifiedTimeHash",
                                                           "FileNameModifiedTimeSizeHash",
                                                           "BackupJobId",
                                                           "ModifiedTime",
                                                           "ModifiedTimeAsStr",
                                                           "SIZEINKB",
                                                           "AFILEID",
                                                           "VM_NAME",
                                                           "VM_UUID",
                                                           "VM_VERSION",
                                                           "VM_OPERATING_SYSTEM",
                                                           "VM_HYPERVISOR",
                                                           "VM_SHAPE",
                                                           "VM_TOOLS_VERSION",
                                                           "VM_PROVISIONED_SIZE_IN_BYTES",
                                                           "VM_USED_SIZE_IN_BYTES",
                                                           "VM_GUEST_SIZE_IN_BYTES",
                                                           "VM_DATACENTER",
                                                           "VM_CLUSTER",
                                                           "VM_HOST",
                                                           "VM_HOST_VERSION",
                                                           "BackupStartTime",
                                                           "FleetNumber",
                                                           "OwnerName",
                                                           "OwnerID"}));

    std::string strObjectGuid;
    GetObjectGuid("C:/docs/report.final.txt", false, '/', strObjectGuid);
    std::string strExpectedVersion;
    GetVersionGuid("C:/docs/report.final.txt", "", kModified, kModified + 7, 2048, 0, false, '/',
                   strExpectedVersion, 0);
    const std::string strModified = std::to_string(kModified);
    const Properties expected = {
        {"TQObjectGUID", strObjectGuid},
        {"FILE_NAME", "report.final.txt"},
        {"FILE_FOLDER", "C:/docs"},
        {"ParentGUID", ContentIdOf("C:/docs")},
        {"AccessTime", Calendar(kModified + 50)},
        {"VSA_CLIENT_ID", "17"},
        {"VSA_APPLICATION_ID", "4000000000"},
        {"ClientId", "-1"},
        {"ClientName", "client-x"},
        {"APPID", "5"},
        {"CreatedTime", Calendar(kModified - 100)},
        {"TQTurboGUID", strExpectedVersion},
        {"EXT_NAME", "txt"},
        {"FileNameModifiedTimeHash", IdxDocuments::MakeHash("report.final.txt-" + strModified)},
        {"FileNameModifiedTimeSizeHash",
         IdxDocuments::MakeHash("report.final.txt-" + strModified + "-2048")},
        {"BackupJobId", "123456789012"},
        {"ModifiedTime", Calendar(kModified)},
        {"ModifiedTimeAsStr", strModified},
        {"SIZEINKB", "2048"},
        {"AFILEID", "99"},
        {"VM_NAME", "vm-one"},
        {"VM_UUID", idxtest::VMJobValues::kVMGuid},
        {"VM_VERSION", "vmx-19"},
        {"VM_OPERATING_SYSTEM", "linux"},
        {"VM_HYPERVISOR", "hyperv"},
        {"VM_SHAPE", "large"},
        {"VM_TOOLS_VERSION", "tools-12"},
        {"VM_PROVISIONED_SIZE_IN_BYTES", "1000"},
        {"VM_USED_SIZE_IN_BYTES", "-1"},
        {"VM_GUEST_SIZE_IN_BYTES", "700"},
        {"VM_DATACENTER", "dc1"},
        {"VM_CLUSTER", "cluster-a"},
        {"VM_HOST", "host-7"},
        {"VM_HOST_VERSION", "8.0"},
        {"BackupStartTime", "18446744073709551615"},
        {"FleetNumber", std::to_string(idxtest::VMJobValues::kModeField)},
        {"OwnerName", "alice"},
        {"OwnerID", "1001"},
    };
    EXPECT_EQ(properties, expected);
    EXPECT_EQ(strVersionGuid, strExpectedVersion);
}

TEST_F(VMCustomPropertiesTest, TheVersionGuidCarriesTheStubAndSecurityFlags) {
    struct Case {
        bool bAnalytics;
        bool bStub;
        bool bSecurity;
        uint32_t nFlags;
    };
    const Case cases[] = {{false, true, true, 0},
                          {true, false, false, 0},
                          {true, true, false, 1},
                          {true, false, true, 2},
                          {true, true, true, 3}};
    for (const Case &c : cases) {
        m_set.ptrOptions->SetCollectSecurityInfo(c.bSecurity);
        CItemPtr ptrItem = Item("/d/a.txt");
        if (c.bAnalytics) {
            OwnerRecord *pRecord = new OwnerRecord("", "");
            pRecord->SetIsStub(c.bStub);
            pRecord->SetAppGUID("record-app");
            ptrItem->AddInterface(EItemInterfaceId::eAnalytics, pRecord);
        }
        std::string strVersionGuid;
        const Properties properties = Build(ptrItem, "/d/a.txt", &strVersionGuid);
        std::string strExpected;
        GetVersionGuid("/d/a.txt", c.bAnalytics ? "record-app" : "", kModified, kModified + 7, 2048,
                       c.nFlags, false, '/', strExpected, 0);
        EXPECT_EQ(strVersionGuid, strExpected) << c.nFlags;
        EXPECT_EQ(Value(properties, "TQTurboGUID"), strExpected);
    }
}

TEST_F(VMCustomPropertiesTest, RootItemsAndTheUnmarkedTopFolder) {
    // The top folder of a walk not marked as root is passed over.
    CKyError error;
    Properties properties = Build(Item("/", true, false), "/", nullptr, &error);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1246));
    EXPECT_NE(error.AsString().find("Skipping push for [/], ItemName ["), std::string::npos)
        << error.AsString();

    properties = Build(Item("/", true, true), "/");
    EXPECT_EQ(Value(properties, "FILE_NAME"), "/");
    EXPECT_EQ(Value(properties, "ParentGUID"), "5");
    EXPECT_FALSE(Has(properties, "FILE_FOLDER"));
    EXPECT_FALSE(Has(properties, "EXT_NAME"));

    properties = Build(Item("/mnt/vm/0/Users", true, true), "C:/Users");
    EXPECT_EQ(Value(properties, "FILE_NAME"), "Users");
    EXPECT_EQ(Value(properties, "ParentGUID"), "5");
    EXPECT_FALSE(Has(properties, "FILE_FOLDER"));

    // Not marked, not "/": an ordinary folder whose parent is the top.
    properties = Build(Item("/Users", true, false), "/Users");
    EXPECT_EQ(Value(properties, "FILE_NAME"), "Users");
    EXPECT_EQ(Value(properties, "FILE_FOLDER"), "");
    EXPECT_EQ(Value(properties, "ParentGUID"), ContentIdOf("/"));
}

TEST_F(VMCustomPropertiesTest, TheExtensionIsWhatFollowsTheLastDotOfAFilesName) {
    struct Case {
        const char *szPath;
        bool bFolder;
        const char *szExtension; // null: no EXT_NAME
    };
    const Case cases[] = {{"/d/a.txt", false, "txt"},      {"/d/a.tar.gz", false, "gz"},
                          {"/d/.bashrc", false, "bashrc"}, {"/d/noext", false, nullptr},
                          {"/d/trail.", false, nullptr},   {"/d/dir.d", true, nullptr}};
    for (const Case &c : cases) {
        const Properties properties = Build(Item(c.szPath, c.bFolder), c.szPath);
        if (c.szExtension == nullptr) {
            EXPECT_FALSE(Has(properties, "EXT_NAME")) << c.szPath;
        } else {
            EXPECT_EQ(Value(properties, "EXT_NAME"), c.szExtension) << c.szPath;
        }
    }
}

TEST_F(VMCustomPropertiesTest, EmptyCatalogueTextsAreLeftOutButNumbersAlwaysPrinted) {
    VirtualServer::VMCatalogOptions catalog;
    m_set.ptrOptions->SetVMCatalogOptions(catalog);
    const Properties properties = Build(Item("/d/a.txt"), "/d/a.txt");
    for (const char *szAbsent :
         {"VM_OPERATING_SYSTEM", "VM_HYPERVISOR", "VM_SHAPE", "VM_TOOLS_VERSION", "VM_DATACENTER",
          "VM_CLUSTER", "VM_HOST", "VM_HOST_VERSION", "OwnerName", "OwnerID"}) {
        EXPECT_FALSE(Has(properties, szAbsent)) << szAbsent;
    }
    for (const char *szZero :
         {"ClientId", "APPID", "BackupJobId", "AFILEID", "VM_PROVISIONED_SIZE_IN_BYTES",
          "VM_USED_SIZE_IN_BYTES", "VM_GUEST_SIZE_IN_BYTES", "BackupStartTime", "FleetNumber"}) {
        EXPECT_EQ(Value(properties, szZero), "0") << szZero;
    }
    EXPECT_EQ(Value(properties, "VM_VERSION"), "");
    EXPECT_EQ(Value(properties, "ClientName"), "");
}

TEST_F(VMCustomPropertiesTest, TheOwnerPairNeedsCollectionAndARecord) {
    struct Case {
        bool bOwner;
        bool bSecurity;
        bool bRecord;
        bool bPresent;
    };
    const Case cases[] = {{false, false, true, false},
                          {true, false, false, false},
                          {true, false, true, true},
                          {false, true, true, true}};
    for (const Case &c : cases) {
        m_set.ptrOptions->SetCollectOwnerInfo(c.bOwner);
        m_set.ptrOptions->SetCollectSecurityInfo(c.bSecurity);
        CItemPtr ptrItem = Item("/d/a.txt");
        if (c.bRecord) {
            // An owner that could not be read: the pair is still there, empty.
            ptrItem->AddInterface(EItemInterfaceId::eAnalytics, new OwnerRecord("", ""));
        }
        const Properties properties = Build(ptrItem, "/d/a.txt");
        EXPECT_EQ(Has(properties, "OwnerName"), c.bPresent);
        EXPECT_EQ(Has(properties, "OwnerID"), c.bPresent);
        if (c.bPresent) {
            EXPECT_EQ(Names(properties).back(), "OwnerID");
            EXPECT_EQ(Value(properties, "OwnerName"), "");
        }
    }
}

TEST_F(VMCustomPropertiesTest, ANetworkPathIsKeyedWithoutItsUncMark) {
    const std::string strPath = "\\\\UNC\\server\\share\\a.txt";
    const Properties properties = Build(Item(strPath), strPath);
    std::string strObjectGuid;
    GetObjectGuid("\\\\server\\share\\a.txt", false, '/', strObjectGuid);
    EXPECT_EQ(Value(properties, "TQObjectGUID"), strObjectGuid);
}

TEST_F(VMCustomPropertiesTest, NonEmptyValuesOnlyWhereAsked) {
    std::vector<App::NameValueMap> vecProperties;
    IdxDocuments::CreateCustomField("A", "", vecProperties);
    IdxDocuments::CreateCustomFieldForNonEmptyVal("B", "", vecProperties);
    IdxDocuments::CreateCustomFieldForNonEmptyVal("C", "x", vecProperties);
    ASSERT_EQ(vecProperties.size(), 2u);
    EXPECT_EQ(vecProperties[0].getstring(1, 1), "A");
    EXPECT_EQ(vecProperties[0].getstring(2, 5), "");
    EXPECT_EQ(vecProperties[1].getstring(1, 1), "C");
    EXPECT_EQ(vecProperties[1].getstring(2, 5), "x");
    EXPECT_EQ(vecProperties[1].GetFamily(), 30);
    EXPECT_EQ(vecProperties[1].GetType(), 490);
}

} // namespace

// The custom properties of a virtual-machine item: name/value pairs that describe the file or
// folder (its GUIDs, its place in the folder tree, its times and size) and the virtual machine and
// backup it comes from, in a fixed order that the web service reads them by.
#include <cinttypes>
#include <string>
#include <vector>

#include "documents/VMCustomProperties.h"

#include "documents/DocumentKeys.h"
#include "documents/ItemMetadataDocument.h"
#include "foundation/ErrorCodes.h"
#include "foundation/StringHelpers.h"
#include "platform/Bag.h"
#include "platform/Clock.h"
#include "platform/ItemLookup.h"
#include "platform/LogWriter.h"
#include "platform/MessageRecords.h"
#include "platform/ObjectGuid.h"
#include "platform/StringFormat.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kUncPrefix[] = "\\\\UNC\\";
const char kNetworkPrefix[] = "\\\\";
const char kRootPath[] = "/";
// The parent of a root item: the fixed id of the top of every virtual machine's tree.
const char kRootParentGuid[] = "5";

// Version GUID flags.
constexpr uint32_t kVersionStub = 1;
constexpr uint32_t kVersionSecurity = 2;

// Catalogue option fields: integers by tag, texts by index and tag.
constexpr int32_t kTagClientId = 18;
constexpr int32_t kTagBackupJobId = 19;
constexpr int32_t kTagProvisionedSize = 33;
constexpr int32_t kTagUsedSize = 34;
constexpr int32_t kTagGuestSize = 35;
constexpr int32_t kTagBackupStartTime = 62;
constexpr int32_t kTagFleetNumber = 63;
struct CTextField {
    int32_t nIndex;
    int32_t nTag;
};
constexpr CTextField kHypervisor = {2, 2};
constexpr CTextField kOperatingSystem = {5, 14};
constexpr CTextField kVersion = {9, 21};
constexpr CTextField kShape = {10, 25};
constexpr CTextField kToolsVersion = {11, 29};
constexpr CTextField kDatacenter = {15, 36};
constexpr CTextField kCluster = {17, 41};
constexpr CTextField kHost = {18, 45};
constexpr CTextField kHostVersion = {19, 49};
constexpr CTextField kClientName = {29, 68};
// The nested record (family 26, type 37) with the application and archive-file ids.
constexpr CTextField kNestedRecord = {8, 20};
constexpr int32_t kNestedFamily = 26;
constexpr int32_t kNestedType = 37;
constexpr int32_t kNestedTagAppId = 43;
constexpr int32_t kNestedTagArchiveFileId = 45;

std::string Text(const CNMessageBase &record, const CTextField &field) {
    return record.getstring(field.nIndex, field.nTag);
}

// "%d" of the low 32 bits taken as signed.
std::string LowSigned(int64_t llValue) {
    return FXFormat("%d", static_cast<int32_t>(static_cast<uint32_t>(llValue)));
}

std::string Signed(int64_t llValue) {
    return FXFormat("%lld", static_cast<long long>(llValue));
}

std::string Unsigned(int64_t llValue) {
    return FXFormat("%lu", static_cast<unsigned long>(llValue));
}

// The same form as the dates of the metadata document.
std::string CalendarText(const CTimeStamp &stamp) {
    return CCalendarTime(stamp).AsString(BCalendarTimeOutputFormat::ZONE_LOCAL |
                                         BCalendarTimeOutputFormat::FORMAT_ISO8601);
}

// What follows the last "." of a file's name; empty for a folder and a name without one.
std::string Extension(const CItem &item) {
    if (item.IsFolder()) {
        return std::string();
    }
    const std::string &strName = item.GetName();
    const size_t nDot = strName.rfind('.');
    return nDot == std::string::npos ? std::string() : strName.substr(nDot + 1);
}

// The job marks the top folder of its walk in the item's work-unit bag; anything unreadable
// means "not marked".
bool IsRootItem(const CItem &item) {
    CBagPtr ptrBag = item.GetWorkUnitBag();
    if (!ptrBag) {
        return false;
    }
    bool bRoot = false;
    CKyError error = ptrBag->Read(SXTransmitterConfigurationBagId::idIsRoot, bRoot);
    return !error.IsError() && bRoot;
}

} // namespace

namespace IdxDocuments {

void CreateCustomField(const std::string &strName, const std::string &strValue,
                       std::vector<App::NameValueMap> &vecProperties) {
    App::NameValueMap field;
    field.setstring(App::NameValueMap::kNameIndex, App::NameValueMap::kNameTag, strName,
                    App::NameValueMap::kClassHash, App::NameValueMap::kNameFieldHash);
    field.setstring(App::NameValueMap::kValueIndex, App::NameValueMap::kValueTag, strValue,
                    App::NameValueMap::kClassHash, App::NameValueMap::kValueFieldHash);
    vecProperties.push_back(std::move(field));
}

void CreateCustomFieldForNonEmptyVal(const std::string &strName, const std::string &strValue,
                                     std::vector<App::NameValueMap> &vecProperties) {
    if (!strValue.empty()) {
        CreateCustomField(strName, strValue, vecProperties);
    }
}

CKyError BuildVMCustomProperty(const CDocumentContext &context, const CItemPtr &ptrItem,
                               const std::string &strPath,
                               std::vector<App::NameValueMap> &vecProperties,
                               std::string &strVersionGuid) {
    const CItem &item = *ptrItem;
    CTransmitterOptions &options = context.Options();
    VirtualServer::VMCatalogOptions &catalog = options.GetVMCatalogOptions();

    const std::string strSize = FXFormat("%llu", static_cast<unsigned long long>(item.GetSize()));
    const int64_t llModificationTime = item.GetModificationTime().AsUnixTime();
    const std::string strModificationTime =
        FXFormat("%llu", static_cast<unsigned long long>(llModificationTime));
    std::string strKeyPath = strPath;
    FXString::ReplaceLeft(strKeyPath, kUncPrefix, kNetworkPrefix);
    CAnalyticsItemInterface *pAnalytics = GetAnalyticsItem(ptrItem);

    // The results of the GUID and path helpers are not examined: whatever text they leave is
    // what the item is described by.
    std::string strObjectGuid;
    GetObjectGuid(strKeyPath, false, '/', strObjectGuid);
    CreateCustomField("TQObjectGUID", strObjectGuid, vecProperties);

    std::string strAppGuid;
    uint32_t nVersionFlags = 0;
    if (pAnalytics != nullptr) {
        strAppGuid = pAnalytics->GetAppGUID();
        if (pAnalytics->IsStub()) {
            nVersionFlags |= kVersionStub;
        }
        if (options.IsCollectSecurityInfo()) {
            nVersionFlags |= kVersionSecurity;
        }
    }
    GetVersionGuid(strKeyPath, strAppGuid, llModificationTime, item.GetChangeTime().AsUnixTime(),
                   item.GetSize(), nVersionFlags, false, '/', strVersionGuid, 0);
    const std::string strExtension = Extension(item);
    const bool bRoot = IsRootItem(item);

    // The "/" of a walk that does not start at the top of the machine belongs to no folder the
    // job indexes.
    if (!bRoot && strKeyPath == kRootPath) {
        IDX_LOG(1, "Skipping push for [%s], ItemName [%s]", strKeyPath.c_str(),
                item.GetName().c_str());
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eSkipItem,
                                       "Skipping push for [%s], ItemName [%s]", strKeyPath.c_str(),
                                       item.GetName().c_str());
    }

    std::string strParentPath;
    std::string strBaseName;
    if (strKeyPath == kRootPath) {
        strBaseName = strKeyPath;
    } else {
        FXPath::SplitParentPath(strKeyPath, strParentPath, strBaseName);
    }

    std::string strParentGuid;
    if (bRoot) {
        IDX_LOG(1, "Populating fixed GUID for [%s], baseName [%s]", strKeyPath.c_str(),
                strBaseName.c_str());
        strParentGuid = kRootParentGuid;
        CreateCustomField("FILE_NAME", strBaseName, vecProperties);
    } else {
        GetContentIdForVMFile(strParentPath, false, '/', options.GetAppGUID(), options.GetVMGUID(),
                              strParentGuid);
        IDX_LOG(2, "parent GUID [%s] for root folder [%s] and base name [%s]",
                strParentGuid.c_str(), strParentPath.c_str(), strBaseName.c_str());
        CreateCustomField("FILE_NAME", item.GetName(), vecProperties);
        std::string strFolder = strParentPath;
        FXPath::RemoveTrailingDelimiter(strFolder);
        CreateCustomField("FILE_FOLDER", strFolder, vecProperties);
    }
    CreateCustomField("ParentGUID", strParentGuid, vecProperties);
    IDX_LOG(2, "For strFQN [%s], Item [%s] parent guid is:[%s]", strKeyPath.c_str(),
            item.GetName().c_str(), strParentGuid.c_str());

    // Without bCreate the look-up changes nothing, so the workers may read the catalogue
    // together.
    CNMessageBase **ppNested = catalog.getObjectAccessor(
        false, false, kNestedRecord.nIndex, kNestedRecord.nTag, 0, 0, kNestedFamily, kNestedType);
    const CNMessageBase *pNested = ppNested != nullptr ? *ppNested : nullptr;
    const int64_t llAppId = pNested ? pNested->getint64(kNestedTagAppId) : 0;
    const int64_t llArchiveFileId = pNested ? pNested->getint64(kNestedTagArchiveFileId) : 0;

    CreateCustomField("AccessTime", CalendarText(item.GetAccessTime()), vecProperties);
    CreateCustomField("VSA_CLIENT_ID", options.GetClientIdString(), vecProperties);
    CreateCustomField("VSA_APPLICATION_ID", options.GetApplicationNumberString(), vecProperties);
    CreateCustomField("ClientId", LowSigned(catalog.getint64(kTagClientId)), vecProperties);
    CreateCustomField("ClientName", Text(catalog, kClientName), vecProperties);
    CreateCustomField("APPID", LowSigned(llAppId), vecProperties);
    CreateCustomField("CreatedTime", CalendarText(item.GetCreationTime()), vecProperties);
    CreateCustomField("TQTurboGUID", strVersionGuid, vecProperties);
    CreateCustomFieldForNonEmptyVal("EXT_NAME", strExtension, vecProperties);
    CreateCustomField("FileNameModifiedTimeHash",
                      MakeHash(item.GetName() + "-" + strModificationTime), vecProperties);
    CreateCustomField("FileNameModifiedTimeSizeHash",
                      MakeHash(item.GetName() + "-" + strModificationTime + "-" + strSize),
                      vecProperties);
    CreateCustomField("BackupJobId", Signed(catalog.getint64(kTagBackupJobId)), vecProperties);
    CreateCustomField("ModifiedTime", CalendarText(item.GetModificationTime()), vecProperties);
    CreateCustomField("ModifiedTimeAsStr", strModificationTime, vecProperties);
    // The size in bytes, whatever the name says: the web service reads it so.
    CreateCustomField("SIZEINKB", strSize, vecProperties);
    CreateCustomField("AFILEID", Unsigned(llArchiveFileId), vecProperties);
    CreateCustomField("VM_NAME", options.GetVMName(), vecProperties);
    CreateCustomField("VM_UUID", options.GetVMGUID(), vecProperties);
    CreateCustomField("VM_VERSION", Text(catalog, kVersion), vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_OPERATING_SYSTEM", Text(catalog, kOperatingSystem),
                                    vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_HYPERVISOR", Text(catalog, kHypervisor), vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_SHAPE", Text(catalog, kShape), vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_TOOLS_VERSION", Text(catalog, kToolsVersion),
                                    vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_PROVISIONED_SIZE_IN_BYTES",
                                    Signed(catalog.getint64(kTagProvisionedSize)), vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_USED_SIZE_IN_BYTES", Signed(catalog.getint64(kTagUsedSize)),
                                    vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_GUEST_SIZE_IN_BYTES",
                                    Signed(catalog.getint64(kTagGuestSize)), vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_DATACENTER", Text(catalog, kDatacenter), vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_CLUSTER", Text(catalog, kCluster), vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_HOST", Text(catalog, kHost), vecProperties);
    CreateCustomFieldForNonEmptyVal("VM_HOST_VERSION", Text(catalog, kHostVersion), vecProperties);
    CreateCustomFieldForNonEmptyVal("BackupStartTime",
                                    Unsigned(catalog.getint64(kTagBackupStartTime)), vecProperties);
    CreateCustomFieldForNonEmptyVal("FleetNumber", Unsigned(catalog.getint64(kTagFleetNumber)),
                                    vecProperties);
    if ((options.IsCollectSecurityInfo() || options.IsCollectOwnerInfo()) &&
        pAnalytics != nullptr) {
        CreateCustomField("OwnerName", pAnalytics->GetOwnerName(), vecProperties);
        CreateCustomField("OwnerID", pAnalytics->GetOwnerId(), vecProperties);
    }
    return CKyError::Success();
}

} // namespace IdxDocuments

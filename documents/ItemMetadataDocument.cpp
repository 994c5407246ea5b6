// The metadata document of one file, folder or deleted item (and the change-event document of a
// permission or owner change), written field by field through AppendField in the form the sender
// gives.
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string_view>

#include "documents/ItemMetadataDocument.h"

#include "documents/DocumentKeys.h"
#include "documents/FieldSyntax.h"
#include "foundation/StringHelpers.h"
#include "platform/Clock.h"
#include "platform/ItemLookup.h"
#include "platform/LogWriter.h"
#include "platform/ObjectGuid.h"
#include "platform/StringFormat.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kUncPrefix[] = "\\\\UNC\\";
const char kNetworkPrefix[] = "\\\\";
const char kNetworkKeyPrefix[] = "UNC-NT_";

const char kDocumentTypeFile[] = "1";
const char kDocumentTypeFolder[] = "4";
const char kDocumentTypeChangeEvent[] = "16";

const char kStateIndexed[] = "1";
const char kStateFailed[] = "16";
const char kStateDeleted[] = "3334";

const char kNoSecurityInformation[] = "Failed to get security information of the item";

bool IsNetworkPath(const std::string &strPath) {
    return FXString::MatchLeft(strPath, kNetworkPrefix);
}

std::string CalendarText(const CTimeStamp &stamp) {
    return CCalendarTime(stamp).AsString(BCalendarTimeOutputFormat::ZONE_LOCAL |
                                         BCalendarTimeOutputFormat::FORMAT_ISO8601);
}

std::string UnsignedText(unsigned long long ullValue) {
    return std::string(CNumberText(ullValue).View());
}

// The system's text for the numbers the item lookup reports. Those numbers are Windows-style
// (2 file not found, 3 path not found, 5 access denied, ...), so they are translated to the
// matching errno before the text is asked for; the raw number would name an unrelated error.
std::string ItemErrorText(uint32_t nErrorCode) {
    int nErrNo = 0;
    switch (nErrorCode) {
    case 2: // file not found
    case 3: // path not found
        nErrNo = ENOENT;
        break;
    case 5: // access denied
        nErrNo = EACCES;
        break;
    case 8:  // not enough memory
    case 14: // out of memory
        nErrNo = ENOMEM;
        break;
    case 31:   // device not functioning
    case 1117: // I/O device error
        nErrNo = EIO;
        break;
    case 32: // sharing violation
        nErrNo = EBUSY;
        break;
    case 87: // invalid parameter
        nErrNo = EINVAL;
        break;
    case 206: // file name too long
        nErrNo = ENAMETOOLONG;
        break;
    case 267: // directory name invalid
        nErrNo = ENOTDIR;
        break;
    case 1921: // name cannot be resolved (too many links)
        nErrNo = ELOOP;
        break;
    default:
        return FXFormat("Unknown error %u", nErrorCode);
    }
    char szBuffer[256];
    return strerror_r(nErrNo, szBuffer, sizeof(szBuffer));
}

} // namespace

namespace IdxDocuments {

CAnalyticsItemInterface *GetAnalyticsItem(const CItemPtr &ptrItem) {
    if (!ptrItem) {
        return nullptr;
    }
    CAnalyticsItemInterface *pAnalytics = CAnalyticsItemInterface::FromItem(*ptrItem);
    if (pAnalytics == nullptr) {
        return nullptr;
    }
    CKyError error = pAnalytics->ProcessSecurityInformation();
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to process security information of Windows analytics object, "
                      "ItemName=[%s], error=%s",
                      ptrItem->GetPath().c_str(), error.AsString().c_str());
    }
    return pAnalytics;
}

CKyError BuildItemDataAnalytics(const CDocumentContext &context, const CItemPtr &ptrItem,
                                EFieldForm eForm, std::string &strDocument) {
    // Every field is written straight into the document.
    const auto Field = [eForm, &strDocument](std::string_view svName, std::string_view svValue) {
        AppendField(strDocument, svName, svValue, eForm);
    };
    CAutoTimeCounter buildTimer(context.Timer(CSolrTransmitterThread::ETimer::eBuildItems));
    const CTransmitterOptions &options = context.Options();
    const CItem &item = *ptrItem;
    const bool bFolder = item.IsFolder();
    const bool bCollectSecurity = options.IsCollectSecurityInfo();
    const bool bCollectOwner = options.IsCollectOwnerInfo();

    const std::string strSize = bFolder ? std::string("0") : UnsignedText(item.GetSize());
    const std::string strKeyPath = MakeKeyPath(item.GetPath());
    std::string strFolder = item.GetParentPath();
    FXString::ReplaceLeft(strFolder, kUncPrefix, kNetworkPrefix);
    CAnalyticsItemInterface *pAnalytics = GetAnalyticsItem(ptrItem);
    const std::string strSizeOnDisk =
        bFolder ? std::string("0") : UnsignedText(item.GetSizeOnDisk());

    CAnalyticsItemAddInfoPtr ptrAddInfo;
    if ((bCollectSecurity || bCollectOwner) && pAnalytics != nullptr) {
        ptrAddInfo = pAnalytics->GetAdditionalInfo();
    }
    const bool bChangeEvent = static_cast<bool>(ptrAddInfo);

    // A change event is a record of its own beside the item's document, so it gets a key of its
    // own; everything else is keyed by its path, which a deletion or a partial update of the same
    // item computes the same way.
    std::string strContentId;
    if (bChangeEvent) {
        strContentId = GenerateRandomGuid();
    } else {
        GetObjectGuid(strKeyPath, false, '/', strContentId);
    }

    std::string strAppGuid;
    uint32_t nVersionFlags = 0;
    if (pAnalytics != nullptr) {
        strAppGuid = pAnalytics->GetAppGUID();
        if (pAnalytics->IsStub()) {
            nVersionFlags |= 1;
        }
        if (bCollectSecurity) {
            nVersionFlags |= 2;
        }
    }

    const int64_t llModificationTime = item.GetModificationTime().AsUnixTime();
    std::string strVersionKey;
    {
        CAutoTimeCounter changeTimer(context.Timer(CSolrTransmitterThread::ETimer::eChangeTime));
        GetVersionGuid(strKeyPath, strAppGuid, llModificationTime,
                       item.GetChangeTime().AsUnixTime(), item.GetSize(), nVersionFlags, false, '/',
                       strVersionKey, 0);
    }

    std::string strPathText = strKeyPath;
    FXString::ReplaceLeft(strPathText, kNetworkKeyPrefix, kNetworkPrefix);
    FXString::ReplaceLeft(strFolder, kNetworkKeyPrefix, kNetworkPrefix);

    std::string strSource;
    std::string strShare;
    if (IsNetworkPath(strPathText)) {
        // "\\server\share\..." splits into "", "", server, share, ...
        const std::vector<std::string> vecPieces = FXString::Split(strPathText, "\\");
        if (vecPieces.size() > 3) {
            strSource = vecPieces[2];
            strShare = vecPieces[3];
        } else if (vecPieces.size() == 3) {
            strSource = vecPieces[2];
        }
    } else {
        strSource = options.GetClientName();
    }

    std::string strExtension;
    if (!bFolder) {
        const std::string &strName = item.GetName();
        size_t nDot = strName.rfind('.');
        if (nDot != std::string::npos) {
            strExtension = strName.substr(nDot + 1);
        }
    }
    const std::string strModificationTime =
        UnsignedText(static_cast<unsigned long long>(llModificationTime));

    const bool bCloud = options.IsCloudMode();
    const char *szVersionKeyField = bCloud ? "TQTurboGUID" : "tqturboguid";
    const char *szOwnerIdField = bCloud ? "OwnerID" : "OwnerSID";
    const char *szErrorField = bCloud ? "Err" : "err";
    const char *szPathField = bCloud ? "FilePath" : "Url";
    const char *szStateField = bCloud ? "ContentIndexingStatus" : "cistate";

    const char *szDocumentType = bChangeEvent ? kDocumentTypeChangeEvent
                                 : bFolder    ? kDocumentTypeFolder
                                              : kDocumentTypeFile;
    const std::string &strName = item.GetName();

    Field("contentid", strContentId);
    Field("AccessTime", CalendarText(item.GetAccessTime()));
    Field("ClientId", options.GetClientIdString());
    Field("ApplicationId", options.GetApplicationNumberString());
    Field("CreatedTime", CalendarText(item.GetCreationTime()));
    Field(szVersionKeyField, strVersionKey);
    Field("DocumentType", szDocumentType);
    Field("FileExtension", strExtension);
    Field("FileName", strName);
    char achHash[kHashDigits];
    MakeHashOfParts({strName, "-", strModificationTime}, achHash);
    Field("FileNameModifiedTimeHash", std::string_view(achHash, sizeof(achHash)));
    Field("FolderName", strFolder);
    Field("JobId", options.GetJobIdString());
    Field("ModifiedTime", CalendarText(item.GetModificationTime()));
    Field("ModifiedTimeAsStr", strModificationTime);
    Field("ChangeTimeAsInt", CNumberText(item.GetCreationTime().AsUnixTime()).View());
    Field("Size", strSize);
    Field("SizeOnDisk", strSizeOnDisk);
    MakeHashOfParts({strName, "-", strModificationTime, "-", strSize}, achHash);
    Field("FileNameModifiedTimeSizeHash", std::string_view(achHash, sizeof(achHash)));
    Field("Source", strSource);
    Field("ShareName", strShare);
    Field(szPathField, strPathText);

    if (pAnalytics != nullptr) {
        Field("NotQualifiedForArchiving", pAnalytics->IsSkippedForArchiving() ? "1" : "0");
        Field("IsStub", pAnalytics->IsStub() ? "1" : "0");
        if (!options.IsPushOnlyMetaData() && !options.IsScanPhase()) {
            Field("CollectId", CNumberText(pAnalytics->GetCollectID()).View());
            Field("CollectOffset", CNumberText(pAnalytics->GetCollectOffset()).View());
        }
    }

    if ((bCollectSecurity || bCollectOwner) && pAnalytics != nullptr &&
        !pAnalytics->IsItemDeleted()) {
        CAutoTimeCounter ownerTimer(context.Timer(CSolrTransmitterThread::ETimer::eOwnerAndAcl));
        Field("OwnerName", bChangeEvent ? ptrAddInfo->GetOwnerName() : pAnalytics->GetOwnerName());
        Field(szOwnerIdField,
              bChangeEvent ? std::string_view() : std::string_view(pAnalytics->GetOwnerId()));
        if (bCollectSecurity) {
            for (const auto &field : pAnalytics->GetSecurityFields()) {
                Field(field.first, field.second);
            }
        }
        if (bChangeEvent) {
            if (!ptrAddInfo->GetPermissionsBeforeChange().empty()) {
                Field("PermissionsBeforeChange", ptrAddInfo->GetPermissionsBeforeChange());
                Field("PermissionsAfterChange", pAnalytics->GetPermissions());
                Field("PermissionChangeRequested", ptrAddInfo->GetPermissionChangeRequest());
            }
            if (!ptrAddInfo->GetOwnerBeforeChange().empty()) {
                Field("OwnerBeforeChange", ptrAddInfo->GetOwnerBeforeChange());
                Field("OwnerChangeRequested", ptrAddInfo->GetOwnerChangeRequest());
            }
        } else {
            IDX_LOG(4, "File [%s] security info  [ %s ]", item.GetFullyQualifiedItemName().c_str(),
                    pAnalytics->GetPermissions().c_str());
            Field("Permissions", pAnalytics->GetPermissions());
        }
        if (bFolder) {
            const bool bBroken = pAnalytics->IsPermissionsInheritanceBroken();
            IDX_LOG(4, "File [%s], IsPermissionsBroken_b = %d",
                    item.GetFullyQualifiedItemName().c_str(), bBroken ? 1 : 0);
            Field("IsPermissionsBroken_b", bBroken ? "1" : "0");
        }
    }

    // Exactly one status per document. An item without an analytics record cannot give the
    // owner and security information the job asked for, which makes its document incomplete.
    if (pAnalytics != nullptr && pAnalytics->IsItemDeleted()) {
        Field(szStateField, kStateDeleted);
        Field(szErrorField, std::string_view());
    } else if (pAnalytics != nullptr && pAnalytics->IsItemFailed()) {
        Field(szStateField, kStateFailed);
        Field(szErrorField, ItemErrorText(pAnalytics->GetErrorCode()));
    } else if (bChangeEvent && !ptrAddInfo->GetErrorText().empty()) {
        Field(szErrorField, ptrAddInfo->GetErrorText());
    } else if (pAnalytics == nullptr && (bCollectSecurity || bCollectOwner)) {
        Field(szStateField, kStateFailed);
        Field(szErrorField, kNoSecurityInformation);
    } else {
        Field(szStateField, kStateIndexed);
        Field(szErrorField, std::string_view());
    }

    for (const auto &field : options.GetSchemaFieldsMap()) {
        Field(field.first, field.second);
    }
    return CKyError::Success();
}

} // namespace IdxDocuments

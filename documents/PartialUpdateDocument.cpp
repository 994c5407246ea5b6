// The partial-update document: the item's document key and the field groups the job named, so
// that the engine replaces those fields of the existing document and keeps the others.
#include "documents/PartialUpdateDocument.h"

#include "documents/DocumentKeys.h"
#include "documents/ItemMetadataDocument.h"
#include "foundation/StringHelpers.h"
#include "platform/ItemLookup.h"
#include "platform/ObjectGuid.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kGroupDocumentType[] = "DocumentType";
const char kGroupSecurityInfo[] = "SecurityInfo";

} // namespace

namespace IdxDocuments {

bool ShouldSendPartialData(const CDocumentContext &context) {
    return context.State().Config().m_bSendPartialData;
}

CKyError BuildPartialItemDataAnalytics(const CDocumentContext &context, const CItemPtr &ptrItem,
                                       EFieldForm eForm, std::string &strDocument) {
    const CTransmitterOptions &options = context.Options();
    const bool bCollectSecurity = options.IsCollectSecurityInfo();
    const bool bCollectOwner = options.IsCollectOwnerInfo();

    // Always the path-based key, also for an item that carries change information: a partial
    // update must reach the item's existing document, never make a new one.
    std::string strContentId;
    GetObjectGuid(MakeKeyPath(ptrItem->GetPath()), false, '/', strContentId);
    strDocument += CreateField("contentid", strContentId, eForm);

    const char *szOwnerIdField = options.IsCloudMode() ? "OwnerID" : "OwnerSID";

    for (const std::string &strGroup : context.State().Config().m_vecFieldsToPush) {
        if (FXString::CompareNoCase(strGroup, kGroupDocumentType) == 0) {
            strDocument += CreateField("DocumentType", ptrItem->IsFolder() ? "4" : "1", eForm);
        } else if (FXString::CompareNoCase(strGroup, kGroupSecurityInfo) == 0 &&
                   (bCollectSecurity || bCollectOwner)) {
            CAnalyticsItemInterface *pAnalytics = GetAnalyticsItem(ptrItem);
            if (pAnalytics == nullptr) {
                continue;
            }
            strDocument += CreateField("OwnerName", pAnalytics->GetOwnerName(), eForm);
            strDocument += CreateField(szOwnerIdField, pAnalytics->GetOwnerId(), eForm);
            if (bCollectSecurity) {
                for (const auto &field : pAnalytics->GetSecurityFields()) {
                    strDocument += CreateField(field.first, field.second, eForm);
                }
                CAnalyticsItemAddInfoPtr ptrAddInfo = pAnalytics->GetAdditionalInfo();
                if (ptrAddInfo) {
                    strDocument += CreateField("PermissionsBeforeChange",
                                               ptrAddInfo->GetPermissionsBeforeChange(), eForm);
                }
                strDocument += CreateField("Permissions", pAnalytics->GetPermissions(), eForm);
            }
        }
    }
    return CKyError::Success();
}

CKyError BuildAuditItemDataAnalytics(
    const CItemPtr & /*ptrItem*/,
    std::vector<boost::shared_ptr<CFSSolrAckRecord>> & /*vecAcknowledgements*/,
    std::string & /*strDocument*/) {
    // The auditing context sends no documents from this worker.
    return CKyError::Success();
}

} // namespace IdxDocuments

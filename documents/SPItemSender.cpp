// The collaboration-site item sender (see SPItemSender.h). Failures, progress and the threshold
// as for virtual-machine items (WebServiceSender.cpp).
#include "documents/SPItemSender.h"

#include <string>
#include <vector>

#include "foundation/MakeSharedNothrow.h"
#include "platform/Bag.h"
#include "platform/CIWebServiceHandler.h"
#include "platform/MessageRecords.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

// Folders included: the web service tells them apart itself.
constexpr int32_t kDocumentTypeSiteItem = 1;

// The content id the job queued the item with; empty when there is none.
std::string ContentIdOf(const CItem &item) {
    std::string strContentId;
    CBagPtr ptrBag = item.GetItemBag();
    if (ptrBag &&
        ptrBag->Read(SXTransmitterConfigurationBagId::idIsContentId, strContentId).IsError()) {
        strContentId.clear();
    }
    return strContentId;
}

} // namespace

CSPItemSender::CSPItemSender(CSolrTransmitterThread &worker)
    : CWebServiceSender(
          worker, "Max indexing errors exceeded threshold limit for sending data to index. ") {}

CKyError CSPItemSender::MakeRecord(const CItemPtr &ptrItem, CItemBatch & /*batch*/,
                                   TQLX_ContentIndexing::CCIItemInfoPtr &ptrRecord,
                                   bool & /*bWithContent*/, bool & /*bPassOver*/,
                                   int64_t & /*llContentCount*/) {
    // Always with content; not counted among the content-indexed items of the progress.
    std::vector<App::NameValueMap> vecNoProperties;
    ptrRecord = boost::make_shared_nothrow<TQLX_ContentIndexing::CCIItemInfo>(
        "", ContentIdOf(*ptrItem), ptrItem->GetFullyQualifiedItemName(), kDocumentTypeSiteItem,
        vecNoProperties);
    return CKyError::Success();
}

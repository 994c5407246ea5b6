// The collaboration-site item sender: every item of a batch goes to the web-service plug-in with
// content, under the content id the job queued it with; no path rewriting, filters or custom
// properties. Failures, progress and the threshold as for virtual-machine items.
#include <string>
#include <vector>

#include "engine/SolrTransmitterThread.h"
#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "platform/Bag.h"
#include "platform/CIWebServiceHandler.h"
#include "platform/LogWriter.h"
#include "platform/MessageRecords.h"
#include "platform/ObjectGuid.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

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

CKyError CSolrTransmitterThread::SendSPItemsToWebService(std::list<CItemPtr> &lstItems) {
    CItemBatch batch(*m_ptrSolrTransmitterPrivate);
    for (const CItemPtr &ptrItem : lstItems) {
        batch.Add(ptrItem);
    }
    lstItems.clear();
    return SendSPItemsToWebService(batch);
}

void CSolrTransmitterThread::GetContentIdForSPFile(const std::string &strFirst,
                                                   const std::string &strSecond,
                                                   const std::string &strThird,
                                                   std::string &strOutput) {
    // Joined as they are: a part that already ends with a backslash gives two in a row.
    GetObjectGuid(strFirst + "\\" + strSecond + "\\" + strThird, true, '\\', strOutput);
}

CKyError CSolrTransmitterThread::SendSPItemsToWebService(CItemBatch &batch) {
    CAutoTimeCounter batchTimer(m_ptrSendVMItemsTimer.get());
    if (!m_ptrWebServiceHandler) {
        return RefuseWebServiceBatch(batch);
    }
    CTransmitterOptions &options = *m_ptrOptions;
    const int64_t llBatchSize = static_cast<int64_t>(batch.GetSize());
    const int64_t llFailedBefore = batch.GetFailedCount();

    while (!batch.IsEmpty()) {
        if (options.IsAborted()) {
            IDX_LOG(4, "Recieved Quit flag. Exiting TransmitterThread");
            AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted),
                        std::string());
            batch.FailAll("the transmitter was aborted before they were handed over");
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted);
        }
        const CItemPtr ptrItem = batch.Front();

        std::vector<App::NameValueMap> vecNoProperties;
        TQLX_ContentIndexing::CCIItemInfoPtr ptrRecord =
            boost::make_shared_nothrow<TQLX_ContentIndexing::CCIItemInfo>(
                "", ContentIdOf(*ptrItem), ptrItem->GetFullyQualifiedItemName(),
                kDocumentTypeSiteItem, vecNoProperties);
        if (!ptrRecord) {
            batch.SetReason("no memory for an item record");
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }

        PushToWebService(batch, ptrRecord, true);
    }

    return FinishWebServiceBatch(
        batch, llBatchSize, 0, batch.GetFailedCount() - llFailedBefore,
        "Max indexing errors exceeded threshold limit for sending data to index. ");
}

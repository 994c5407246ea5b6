// What the web-service senders share (see WebServiceSender.h).
#include "documents/WebServiceSender.h"

#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "platform/CIWebServiceHandler.h"
#include "platform/LogWriter.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kAbortedReason[] = "the transmitter was aborted before they were handed over";

using TQLX_ContentIndexing::CCIItemInfoPtr;

// A failed record is the pushed one when it is that very record, or one the plug-in copied.
bool IsSameRecord(const CCIItemInfoPtr &ptrFailed, const CCIItemInfoPtr &ptrPushed) {
    if (ptrFailed == ptrPushed) {
        return true;
    }
    return ptrFailed && ptrFailed->GetPath() == ptrPushed->GetPath() &&
           ptrFailed->GetContentId() == ptrPushed->GetContentId();
}

} // namespace

CWebServiceSender::CWebServiceSender(CSolrTransmitterThread &worker, const char *szThresholdMessage)
    : m_worker(worker), m_szThresholdMessage(szThresholdMessage) {}

CKyError CWebServiceSender::Send(CItemBatch &batch) {
    CAutoTimeCounter batchTimer(m_worker.GetTimer(CSolrTransmitterThread::ETimer::eSendVMItems));
    if (!m_worker.GetWebServiceHandler()) {
        return m_worker.RefuseWebServiceBatch(batch);
    }
    CTransmitterOptions &options = m_worker.GetOptions();
    const int64_t llBatchSize = static_cast<int64_t>(batch.GetSize());
    const int64_t llFailedBefore = batch.GetFailedCount();
    int64_t llContentCount = 0;
    BeginBatch();

    while (!batch.IsEmpty()) {
        if (options.IsAborted()) {
            IDX_LOG(4, "Recieved Quit flag. Exiting TransmitterThread");
            m_worker.AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted),
                                 std::string());
            // The failures collected so far and the items not handed over are written when the
            // batch ends.
            batch.FailAll(kAbortedReason);
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted);
        }
        const CItemPtr ptrItem = batch.Front();
        CCIItemInfoPtr ptrRecord;
        bool bWithContent = true;
        bool bPassOver = false;
        CKyError error =
            MakeRecord(ptrItem, batch, ptrRecord, bWithContent, bPassOver, llContentCount);
        if (error.IsError()) {
            return error;
        }
        if (bPassOver) {
            batch.SentFront();
            continue;
        }
        if (!ptrRecord) {
            batch.SetReason("no memory for an item record");
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        PushToWebService(batch, ptrRecord, bWithContent);
    }

    return FinishBatch(batch, llBatchSize, llContentCount, batch.GetFailedCount() - llFailedBefore);
}

void CWebServiceSender::PushToWebService(CItemBatch &batch, const CCIItemInfoPtr &ptrRecord,
                                         bool bWithContent) {
    const boost::shared_ptr<TQLX_ContentIndexing::ICIWSHandler> &ptrHandler =
        m_worker.GetWebServiceHandler();
    CKyError pushError;
    if (bWithContent) {
        CAutoTimeCounter readTimer(m_worker.GetTimer(CSolrTransmitterThread::ETimer::eReadContent));
        pushError = ptrHandler->PushItem(ptrRecord);
    } else {
        CAutoTimeCounter postTimer(m_worker.GetTimer(CSolrTransmitterThread::ETimer::ePostRequest));
        pushError = ptrHandler->PushItemMetadata(ptrRecord);
    }
    if (!pushError.IsError()) {
        batch.SentFront();
        return;
    }

    const std::vector<CCIItemInfoPtr> vecFailed = ptrHandler->GetFailedItems();
    ptrHandler->ClearFailedItems();

    const std::string strReason =
        "the web-service plug-in refused it, error=" + pushError.AsString();
    // The pushed item failed whether or not the plug-in lists it.
    batch.FailFront(strReason);
    // Records handed over earlier (the plug-in may send them in groups) that failed with it.
    for (const CCIItemInfoPtr &ptrFailed : vecFailed) {
        if (ptrFailed && !IsSameRecord(ptrFailed, ptrRecord)) {
            batch.FailHandedOver(ptrFailed->GetPath(), strReason);
        }
    }
}

CKyError CWebServiceSender::FinishBatch(CItemBatch &batch, int64_t llBatchSize,
                                        int64_t llContentCount, int64_t llFailed) {
    batch.RecordFailures();

    CSolrTransmitterCallbackPtr ptrCallback = m_worker.GetOptions().GetCallback();
    if (ptrCallback) {
        CKyError error =
            ptrCallback->UpdateProgress(llBatchSize - llFailed, llContentCount, llFailed);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to update progress to control process, error=%s",
                          error.AsString().c_str());
        }
    }

    // A threshold of 0 or less sets no limit: a batch without failures never aborts the job.
    const int64_t llThreshold = m_worker.GetOptions().GetMaxConsecutiveFailuresThreshold();
    if (llThreshold > 0 && llFailed > 0 && llFailed >= llThreshold) {
        IDX_LOG_ERROR("%s", m_szThresholdMessage);
        m_worker.AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted),
                             std::string());
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted);
    }
    return CKyError::Success();
}

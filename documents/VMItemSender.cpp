// The virtual-machine item sender: every file and folder of a batch goes to the web-service
// plug-in as an item record (content id, version GUID, custom properties), with content when the
// job's include filters choose it; what the plug-in reports failed goes to the failures file.
// Also the end of a batch that both web-service senders share.
#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/SolrTransmitterThread.h"
#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "platform/CIWebServiceHandler.h"
#include "platform/FilterSet.h"
#include "platform/LogWriter.h"
#include "platform/MessageRecords.h"
#include "platform/ObjectGuid.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

constexpr int32_t kDocumentTypeFile = 1;
constexpr int32_t kDocumentTypeFolder = 4;

const char kAbortedReason[] = "the transmitter was aborted before they were handed over";

using TQLX_ContentIndexing::CCIItemInfo;
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

CKyError CSolrTransmitterThread::SendVMItemsToWebService(std::list<CItemPtr> &lstItems) {
    CItemBatch batch(*m_ptrSolrTransmitterPrivate);
    for (const CItemPtr &ptrItem : lstItems) {
        batch.Add(ptrItem);
    }
    lstItems.clear();
    return SendVMItemsToWebService(batch);
}

void CSolrTransmitterThread::GetContentIdForVMFile(const std::string &strPath, bool bIgnoreCase,
                                                   char chDelimiter, const std::string &strAppGuid,
                                                   const std::string &strVMGuid,
                                                   std::string &strOutput) {
    std::string strObjectGuid;
    GetObjectGuid(strPath, bIgnoreCase, chDelimiter, strObjectGuid);
    strOutput = strVMGuid + "!" + MakeHash(strObjectGuid + strAppGuid);
}

CKyError CSolrTransmitterThread::SendVMItemsToWebService(CItemBatch &batch) {
    CAutoTimeCounter batchTimer(m_ptrSendVMItemsTimer.get());
    if (!m_ptrWebServiceHandler) {
        return RefuseWebServiceBatch(batch);
    }
    CTransmitterOptions &options = *m_ptrOptions;
    const int64_t llBatchSize = static_cast<int64_t>(batch.GetSize());
    const int64_t llFailedBefore = batch.GetFailedCount();
    int64_t llContentCount = 0;
    const std::map<std::string, std::string> mapMountPaths = options.GetVmMountPathVol();
    // Only the content sender ever changed the worker's own push-only flag, so the option's
    // value is the one the filters consult.
    const bool bPushOnlyMetaData = options.IsPushOnlyMetaData();
    const bool bExcludeFilters = !options.GetExcludeFiltersSet().empty();
    const bool bIncludeFilters = !options.GetIncludeFiltersSet().empty();
    const bool bExcludePaths = !options.GetExcludePaths().empty();

    while (!batch.IsEmpty()) {
        if (options.IsAborted()) {
            IDX_LOG(4, "Recieved Quit flag. Exiting TransmitterThread");
            AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted),
                        std::string());
            // The failures collected so far and the items not handed over are written when the
            // batch ends.
            batch.FailAll(kAbortedReason);
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted);
        }
        const CItemPtr ptrItem = batch.Front();
        const std::string &strItemPath = ptrItem->GetFullyQualifiedItemName();

        // The path as seen inside the virtual machine.
        std::string strPath = strItemPath;
        for (const auto &mountPath : mapMountPaths) {
            IDX_LOG(30, "Replace path, FQN=[%s], first=[%s], second=[%s]", strPath.c_str(),
                    mountPath.first.c_str(), mountPath.second.c_str());
            if (!FXPath::ReplacePath(strPath, mountPath.first, mountPath.second).IsError()) {
                IDX_LOG(30, "New path, FQN=[%s], first=[%s], second=[%s]", strPath.c_str(),
                        mountPath.first.c_str(), mountPath.second.c_str());
                break;
            }
        }

        if (!bPushOnlyMetaData && bExcludeFilters && m_ptrExcludeFilters->IsIn(strPath)) {
            IDX_LOG(4, "Skipping Content push as it met the exclude filters. File [%s]",
                    strItemPath.c_str());
            // Left out by the job's own filters: nothing is owed for it.
            batch.SentFront();
            continue;
        }

        const bool bWithContent = !bPushOnlyMetaData && bIncludeFilters &&
                                  (!bExcludePaths || !m_ptrExcludePaths->IsIn(strPath)) &&
                                  m_ptrIncludeFilters->IsIn(strPath);
        if (bWithContent) {
            IDX_LOG(4, "This item [%s] will be content indexed ", strPath.c_str());
            ++llContentCount;
        }

        std::string strContentId;
        GetContentIdForVMFile(strPath, false, '/', options.GetAppGUID(), options.GetVMGUID(),
                              strContentId);

        std::string strVersionGuid;
        std::vector<App::NameValueMap> vecProperties;
        CKyError error = BuildVMCustomProperty(ptrItem, strPath, vecProperties, strVersionGuid);
        IDX_LOG(30, "For strFQN=[%s], contentid=[%s], versionGUID=[%s]", strPath.c_str(),
                strContentId.c_str(), strVersionGuid.c_str());
        if (FXErrorUtil::IsWin32(error, EIdxError::eSkipItem)) {
            // Not one of the job's folders: passed over, nothing is owed for it.
            batch.SentFront();
            continue;
        }
        if (error.IsError()) {
            batch.SetReason("building an item's custom properties failed, error=" +
                            error.AsString());
            return error.Push(FXLOC);
        }
        CreateCustomField("FilePath", strPath, vecProperties);

        CCIItemInfoPtr ptrRecord = boost::make_shared_nothrow<CCIItemInfo>(
            strVersionGuid, strContentId, strItemPath,
            ptrItem->IsFolder() ? kDocumentTypeFolder : kDocumentTypeFile, vecProperties);
        if (!ptrRecord) {
            batch.SetReason("no memory for an item record");
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }

        PushToWebService(batch, ptrRecord, bWithContent);
    }

    return FinishWebServiceBatch(
        batch, llBatchSize, llContentCount, batch.GetFailedCount() - llFailedBefore,
        "Max indexing errors exceeded threshold limit for sending data to index");
}

void CSolrTransmitterThread::PushToWebService(CItemBatch &batch, const CCIItemInfoPtr &ptrRecord,
                                              bool bWithContent) {
    CKyError pushError;
    if (bWithContent) {
        CAutoTimeCounter readTimer(m_ptrReadContentTimer.get());
        pushError = m_ptrWebServiceHandler->PushItem(ptrRecord);
    } else {
        CAutoTimeCounter postTimer(m_exchange.PostRequestTimer().get());
        pushError = m_ptrWebServiceHandler->PushItemMetadata(ptrRecord);
    }
    if (!pushError.IsError()) {
        batch.SentFront();
        return;
    }

    const std::vector<CCIItemInfoPtr> vecFailed = m_ptrWebServiceHandler->GetFailedItems();
    m_ptrWebServiceHandler->ClearFailedItems();

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

CKyError CSolrTransmitterThread::FinishWebServiceBatch(CItemBatch &batch, int64_t llBatchSize,
                                                       int64_t llContentCount, int64_t llFailed,
                                                       const char *szThresholdMessage) {
    batch.RecordFailures();

    CSolrTransmitterCallbackPtr ptrCallback = m_ptrOptions->GetCallback();
    if (ptrCallback) {
        CKyError error =
            ptrCallback->UpdateProgress(llBatchSize - llFailed, llContentCount, llFailed);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to update progress to control process, error=%s",
                          error.AsString().c_str());
        }
    }

    // A threshold of 0 or less sets no limit: a batch without failures never aborts the job.
    const int64_t llThreshold = m_ptrOptions->GetMaxConsecutiveFailuresThreshold();
    if (llThreshold > 0 && llFailed > 0 && llFailed >= llThreshold) {
        IDX_LOG_ERROR("%s", szThresholdMessage);
        AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted), std::string());
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted);
    }
    return CKyError::Success();
}

// The virtual-machine item sender (see VMItemSender.h). The records go out, and their failures
// are counted, as WebServiceSender.cpp says.
#include "documents/VMItemSender.h"

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "documents/DocumentKeys.h"
#include "documents/VMCustomProperties.h"
#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "platform/CIWebServiceHandler.h"
#include "platform/FilterSet.h"
#include "platform/LogWriter.h"
#include "platform/MessageRecords.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterOptions.h"

namespace {

constexpr int32_t kDocumentTypeFile = 1;
constexpr int32_t kDocumentTypeFolder = 4;

} // namespace

CVMItemSender::CVMItemSender(CSolrTransmitterThread &worker)
    : CWebServiceSender(worker,
                        "Max indexing errors exceeded threshold limit for sending data to index"),
      m_context(worker) {}

void CVMItemSender::BeginBatch() {
    const CTransmitterOptions &options = m_context.Options();
    m_mapMountPaths = options.GetVmMountPathVol();
    // Only the content sender ever changed the worker's own push-only flag, so the option's
    // value is the one the filters consult.
    m_bPushOnlyMetaData = options.IsPushOnlyMetaData();
    m_bExcludeFilters = !options.GetExcludeFiltersSet().empty();
    m_bIncludeFilters = !options.GetIncludeFiltersSet().empty();
    m_bExcludePaths = !options.GetExcludePaths().empty();
}

CKyError CVMItemSender::MakeRecord(const CItemPtr &ptrItem, CItemBatch &batch,
                                   TQLX_ContentIndexing::CCIItemInfoPtr &ptrRecord,
                                   bool &bWithContent, bool &bPassOver, int64_t &llContentCount) {
    const CTransmitterOptions &options = m_context.Options();
    const std::string &strItemPath = ptrItem->GetFullyQualifiedItemName();

    // The path as seen inside the virtual machine.
    std::string strPath = strItemPath;
    for (const auto &mountPath : m_mapMountPaths) {
        IDX_LOG(30, "Replace path, FQN=[%s], first=[%s], second=[%s]", strPath.c_str(),
                mountPath.first.c_str(), mountPath.second.c_str());
        if (!FXPath::ReplacePath(strPath, mountPath.first, mountPath.second).IsError()) {
            IDX_LOG(30, "New path, FQN=[%s], first=[%s], second=[%s]", strPath.c_str(),
                    mountPath.first.c_str(), mountPath.second.c_str());
            break;
        }
    }

    if (!m_bPushOnlyMetaData && m_bExcludeFilters &&
        m_worker.GetFilters().ptrExclude->IsIn(strPath)) {
        IDX_LOG(4, "Skipping Content push as it met the exclude filters. File [%s]",
                strItemPath.c_str());
        // Left out by the job's own filters: nothing is owed for it.
        bPassOver = true;
        return CKyError::Success();
    }

    bWithContent = !m_bPushOnlyMetaData && m_bIncludeFilters &&
                   (!m_bExcludePaths || !m_worker.GetFilters().ptrExcludePaths->IsIn(strPath)) &&
                   m_worker.GetFilters().ptrInclude->IsIn(strPath);
    if (bWithContent) {
        IDX_LOG(4, "This item [%s] will be content indexed ", strPath.c_str());
        ++llContentCount;
    }

    std::string strContentId;
    IdxDocuments::GetContentIdForVMFile(strPath, false, '/', options.GetAppGUID(),
                                        options.GetVMGUID(), strContentId);

    std::string strVersionGuid;
    std::vector<App::NameValueMap> vecProperties;
    CKyError error = IdxDocuments::BuildVMCustomProperty(m_context, ptrItem, strPath, vecProperties,
                                                         strVersionGuid);
    IDX_LOG(30, "For strFQN=[%s], contentid=[%s], versionGUID=[%s]", strPath.c_str(),
            strContentId.c_str(), strVersionGuid.c_str());
    if (FXErrorUtil::IsWin32(error, EIdxError::eSkipItem)) {
        // Not one of the job's folders: passed over, nothing is owed for it.
        bPassOver = true;
        return CKyError::Success();
    }
    if (error.IsError()) {
        batch.SetReason("building an item's custom properties failed, error=" + error.AsString());
        return error.Push(FXLOC);
    }
    IdxDocuments::CreateCustomField("FilePath", strPath, vecProperties);

    ptrRecord = boost::make_shared_nothrow<TQLX_ContentIndexing::CCIItemInfo>(
        strVersionGuid, strContentId, strItemPath,
        ptrItem->IsFolder() ? kDocumentTypeFolder : kDocumentTypeFile, vecProperties);
    return CKyError::Success();
}

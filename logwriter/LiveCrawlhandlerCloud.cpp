#include "logwriter/LiveCrawlhandlerCloud.h"

#include <string>

#include "foundation/ErrorCodes.h"
#include "platform/IndexRecords.h"
#include "platform/LogWriter.h"

CKyError CLiveCrawlHandlerCloudItem::ProcessAndPopulateItem(void *&pAgentInstance,
                                                            CNMessageBase *pItemMetadata) {
    if (pAgentInstance == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "[Error] NULL interface ");
    }
    if (pItemMetadata == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure, "Invalid item metadata");
    }
    IdxMetadata::CloudIdxMetadata *pCloud =
        static_cast<IdxMetadata::CloudIdxMetadata *>(pAgentInstance);
    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(3)) {
        std::string strXml;
        pCloud->serialize(strXml, false);
        IDX_LOG_ERROR(" Cloud-Metadata XML [%s]", strXml.c_str());
    }
    // The item metadata keeps a copy of its own; the agent's record is ours from here on.
    pItemMetadata->setObjectAccessor(pCloud, 69, 69, 0x65F4850C, 0x001AB884);
    pAgentInstance = nullptr;
    delete pCloud;
    return CKyError::Success();
}

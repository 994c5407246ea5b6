#include "logwriter/LiveCrawlProcess.h"

#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "logwriter/LiveCrawlhandlerCloud.h"

CLiveCrawlItemProcess::~CLiveCrawlItemProcess() {
    Uninitialize();
}

void CLiveCrawlItemProcess::Initialize() {
    m_handlers[LIVECRAWL_AGENT_CLOUD_ITEM] =
        boost::make_shared_nothrow<CLiveCrawlHandlerCloudItem>();
}

void CLiveCrawlItemProcess::Uninitialize() {}

CKyError CLiveCrawlItemProcess::PopulateItem(LiveCrawlAgentType eAgentType, void *&pAgentInstance,
                                             CNMessageBase *pItemMetadata) {
    const int32_t nType = static_cast<int32_t>(eAgentType);
    if (nType < 0 || nType >= kHandlerCount || !m_handlers[nType]) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Handler is not initialized for Agent Type(%u)",
                                       static_cast<uint32_t>(nType));
    }
    return m_handlers[nType]->ProcessAndPopulateItem(pAgentInstance, pItemMetadata);
}

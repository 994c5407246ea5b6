// The handler of cloud items (live-crawl agent type 1): the agent's record is an
// IdxMetadata::CloudIdxMetadata made with new; the handler stores a copy of it in the item's
// index metadata (field 69) and frees it.
#pragma once

#include "logwriter/LiveCrawlProcess.h"

class CLiveCrawlHandlerCloudItem : public ILiveCrawlHandler {
public:
    CLiveCrawlHandlerCloudItem() = default;
    ~CLiveCrawlHandlerCloudItem() = default;

    // 774 "[Error] NULL interface " without a record; 774 "Invalid item metadata" without the
    // metadata to fill (the record then stays with the caller).
    CKyError ProcessAndPopulateItem(void *&pAgentInstance, CNMessageBase *pItemMetadata) override;
};

// The initializer of live-crawl jobs (transmitter type 5).
#pragma once

#include "foundation/Export.h"
#include "startup/IdxLogWriterInit.h"

class IDX_EXPORT CIdxLogWriterLiveCrawlInit : public CIdxLogWriterInit {
public:
    CIdxLogWriterLiveCrawlInit();
    ~CIdxLogWriterLiveCrawlInit() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
};

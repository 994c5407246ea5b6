// The initializer of live-crawl jobs (transmitter type 5).
#pragma once

#include "startup/IdxLogWriterInit.h"

class CIdxLogWriterLiveCrawlInit : public CIdxLogWriterInit {
public:
    CIdxLogWriterLiveCrawlInit();
    ~CIdxLogWriterLiveCrawlInit() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
};

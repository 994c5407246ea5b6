// The initializer of live-crawl jobs (transmitter type 5): the plain index-log start-up, with the
// highest collect-file id passed on from the scanner bag and connection flags 0x100.
#pragma once

#include "foundation/Export.h"
#include "startup/IdxLogWriterInit.h"

class IDX_EXPORT CIdxLogWriterLiveCrawlInit : public CIdxLogWriterInit {
public:
    CIdxLogWriterLiveCrawlInit();
    ~CIdxLogWriterLiveCrawlInit() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
    CKyError InitializeTransmitterOptions(CBagPtr &ptrScannerBag, TQJobCtrlClient *pJobCtrlClient,
                                          TQBkpJobClient *pBkpJobClient,
                                          CBagPtr &ptrOptionsBag) override;
    CKyError UpdateIndexingConnectionFlags(CBagPtr &ptrOptionsBag) override;
};

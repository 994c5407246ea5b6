// The initializer of direct file-system jobs (transmitter type 4): the plain index-log start-up
// with connection flags 1 and failure logging always off, whatever the scanner bag says.
#pragma once

#include "foundation/Export.h"
#include "startup/IdxLogWriterInit.h"

class IDX_EXPORT CIdxLogWriterInitFSDirect : public CIdxLogWriterInit {
public:
    CIdxLogWriterInitFSDirect();
    ~CIdxLogWriterInitFSDirect() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
    CKyError InitializeTransmitterOptions(CBagPtr &ptrScannerBag, TQJobCtrlClient *pJobCtrlClient,
                                          TQBkpJobClient *pBkpJobClient,
                                          CBagPtr &ptrOptionsBag) override;
};

// The initializer of virtual-machine catalogue jobs (transmitter type 2): the plain index-log
// start-up, and the virtual machine's mount paths passed on from the scanner bag.
#pragma once

#include "foundation/Export.h"
#include "startup/IdxLogWriterInit.h"

class IDX_EXPORT CIdxLogWriterInitVSA : public CIdxLogWriterInit {
public:
    CIdxLogWriterInitVSA();
    ~CIdxLogWriterInitVSA() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
    // Adds "VMMountPaths:Transmitter" when the scanner bag has "VMMountPaths"; a value there
    // that is no map of texts is error 87 naming the key.
    CKyError InitializeTransmitterOptions(CBagPtr &ptrScannerBag, TQJobCtrlClient *pJobCtrlClient,
                                          TQBkpJobClient *pBkpJobClient,
                                          CBagPtr &ptrOptionsBag) override;
};

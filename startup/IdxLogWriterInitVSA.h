// The initializer of virtual-machine catalogue jobs (transmitter type 2).
#pragma once

#include "startup/IdxLogWriterInit.h"

class CIdxLogWriterInitVSA : public CIdxLogWriterInit {
public:
    CIdxLogWriterInitVSA();
    ~CIdxLogWriterInitVSA() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
};

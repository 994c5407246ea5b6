// The initializer of virtual-machine catalogue jobs (transmitter type 2).
#pragma once

#include "foundation/Export.h"
#include "startup/IdxLogWriterInit.h"

class IDX_EXPORT CIdxLogWriterInitVSA : public CIdxLogWriterInit {
public:
    CIdxLogWriterInitVSA();
    ~CIdxLogWriterInitVSA() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
};

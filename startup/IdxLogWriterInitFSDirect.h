// The initializer of direct file-system catalogue jobs (transmitter type 4).
#pragma once

#include "foundation/Export.h"
#include "startup/IdxLogWriterInit.h"

class IDX_EXPORT CIdxLogWriterInitFSDirect : public CIdxLogWriterInit {
public:
    CIdxLogWriterInitFSDirect();
    ~CIdxLogWriterInitFSDirect() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
};

// The initializer of direct file-system catalogue jobs (transmitter type 4).
#pragma once

#include "startup/IdxLogWriterInit.h"

class CIdxLogWriterInitFSDirect : public CIdxLogWriterInit {
public:
    CIdxLogWriterInitFSDirect();
    ~CIdxLogWriterInitFSDirect() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
};

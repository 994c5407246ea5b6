#include "startup/IdxLogWriterInitFSDirect.h"

CIdxLogWriterInitFSDirect::CIdxLogWriterInitFSDirect() {}

CIdxLogWriterInitFSDirect::~CIdxLogWriterInitFSDirect() {}

CKyError CIdxLogWriterInitFSDirect::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_FSDirect, ptrTransmitter);
}

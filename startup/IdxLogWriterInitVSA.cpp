#include "startup/IdxLogWriterInitVSA.h"

CIdxLogWriterInitVSA::CIdxLogWriterInitVSA() {}

CIdxLogWriterInitVSA::~CIdxLogWriterInitVSA() {}

CKyError CIdxLogWriterInitVSA::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_VSA, ptrTransmitter);
}

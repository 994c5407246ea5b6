#include "startup/IdxLogWriterInitBlkLvl.h"

CIdxLogWriterInitBlkLvl::CIdxLogWriterInitBlkLvl(unsigned long ulArchiveFileID)
    : m_nArchiveFileID(ulArchiveFileID) {}

CIdxLogWriterInitBlkLvl::~CIdxLogWriterInitBlkLvl() {}

CKyError CIdxLogWriterInitBlkLvl::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_BlkLvl, ptrTransmitter);
}

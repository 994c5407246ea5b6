#include "logwriter/IdxLogWriterThreadBlkLvl.h"

CIdxLogWriterThreadBlkLvl::CIdxLogWriterThreadBlkLvl(
    CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate, CTransmitterOptionsPtr ptrOptions)
    : CIdxLogWriterThread(ptrSolrTransmitterPrivate, ptrOptions) {
    CIdxLogWriterThreadBlkLvl::InitIdxDbInfoViewId();
}

CIdxLogWriterThreadBlkLvl::~CIdxLogWriterThreadBlkLvl() = default;

void CIdxLogWriterThreadBlkLvl::InitIdxDbInfoViewId() {
    m_strViewId = "default";
}

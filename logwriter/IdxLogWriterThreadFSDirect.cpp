#include "logwriter/IdxLogWriterThreadFSDirect.h"

CIdxLogWriterThreadFSDirect::CIdxLogWriterThreadFSDirect(
    CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate, CTransmitterOptionsPtr ptrOptions)
    : CIdxLogWriterThread(ptrSolrTransmitterPrivate, ptrOptions) {
    CIdxLogWriterThreadFSDirect::InitIdxDbInfoViewId();
}

CIdxLogWriterThreadFSDirect::~CIdxLogWriterThreadFSDirect() = default;

void CIdxLogWriterThreadFSDirect::InitIdxDbInfoViewId() {
    m_strViewId = "default";
}

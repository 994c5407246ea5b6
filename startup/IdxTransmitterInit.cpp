#include "startup/IdxTransmitterInit.h"

#include "foundation/ErrorCodes.h"
#include "startup/TransmitterAssemblyRegistration.h"
#include "transmitter/SolrTransmitter.h"

CIdxTransmitterInit::CIdxTransmitterInit()
    : m_bCollectSecurityInfo(false), m_bCollectOwnerInfo(true) {
    // Every transmitter an initializer makes finds its workers and its bag translation.
    RegisterTransmitterAssembly();
}

// The job may still hold the transmitter: only the initializer's share goes.
CIdxTransmitterInit::~CIdxTransmitterInit() {}

CSolrTransmitterPtr CIdxTransmitterInit::GetSolrTransmitterInstance() {
    return m_ptrTransmitter;
}

std::string CIdxTransmitterInit::GetSolrInitFailureReason() {
    return m_sFailureReason;
}

void CIdxTransmitterInit::SetCollectSecurityInfo(bool bCollectSecurityInfo) {
    m_bCollectSecurityInfo = bCollectSecurityInfo;
}

void CIdxTransmitterInit::SetCollectOwnerInfo(bool bCollectOwnerInfo) {
    m_bCollectOwnerInfo = bCollectOwnerInfo;
}

CKyError CIdxTransmitterInit::NotThisFamily(const FXCodeLocation &location) {
    return FXErrorUtil::ErrorWin32(location, EIdxError::eGeneralFailure,
                                   "Not supported, use the correct method to initialize");
}

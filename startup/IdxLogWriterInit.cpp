#include "startup/IdxLogWriterInit.h"

#include <new>

#include "foundation/MakeSharedNothrow.h"
#include "platform/LogWriter.h"
#include "transmitter/SolrTransmitter.h"

CIdxLogWriterInit::CIdxLogWriterInit() : m_pBkpJobClient(nullptr) {}

CIdxLogWriterInit::~CIdxLogWriterInit() {}

CKyError CIdxLogWriterInit::InitializeSolrTransmitter(ApplicationIdPtr, const std::string &,
                                                      TQJobCtrlClient *, TQBkpJobClient *, bool,
                                                      bool) {
    return NotThisFamily(FXLOC);
}

CKyError CIdxLogWriterInit::InitializeIdxTransmitter(CBagPtr, TQJobCtrlClient *, TQBkpJobClient *,
                                                     CSolrTransmitterCallbackPtr) {
    IDX_LOG_ERROR("Index-log transmitters cannot be started by this library yet");
    return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not supported");
}

CKyError CIdxLogWriterInit::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_LogWriter, ptrTransmitter);
}

CKyError CIdxLogWriterInit::MakeTransmitter(eIDX_Transmitter_Type eType,
                                            CSolrTransmitterPtr &ptrTransmitter) {
    try {
        ptrTransmitter =
            boost::make_shared_nothrow<CSolrTransmitter, eIDX_Transmitter_Type>(std::move(eType));
    } catch (const std::bad_alloc &) {
        ptrTransmitter.reset();
    }
    if (!ptrTransmitter) {
        return FXErrorUtil::ErrorWin32(FXLOC, 14);
    }
    return CKyError::Success();
}

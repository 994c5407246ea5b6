#include "startup/IdxLogWriterInitFSDirect.h"

#include <cstdint>

#include "transmitter/TransmitterConfigurationBagId.h"

CIdxLogWriterInitFSDirect::CIdxLogWriterInitFSDirect() {}

CIdxLogWriterInitFSDirect::~CIdxLogWriterInitFSDirect() {}

CKyError CIdxLogWriterInitFSDirect::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_FSDirect, ptrTransmitter);
}

CKyError CIdxLogWriterInitFSDirect::InitializeTransmitterOptions(CBagPtr &ptrScannerBag,
                                                                 TQJobCtrlClient *pJobCtrlClient,
                                                                 TQBkpJobClient *pBkpJobClient,
                                                                 CBagPtr &ptrOptionsBag) {
    CKyError error = CIdxLogWriterInit::InitializeTransmitterOptions(ptrScannerBag, pJobCtrlClient,
                                                                     pBkpJobClient, ptrOptionsBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    // Replaces what the base translation wrote.
    ptrOptionsBag->Write(SXTransmitterConfigurationBagId::idIndexingConnectionFlags, uint64_t(1));
    ptrOptionsBag->Write(SXTransmitterConfigurationBagId::idIsDisableFailureLogging, true);
    return CKyError::Success();
}

#include "startup/IdxLogWriterInitFSDirect.h"

#include <cstdint>

#include "startup/IdxLogWriterInitSteps.h"
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
    return IdxLogWriterInitSteps::FamilyOptionsThen(
        *this, ptrScannerBag, pJobCtrlClient, pBkpJobClient, ptrOptionsBag, [&ptrOptionsBag] {
            // Replaces what the family's translation wrote.
            ptrOptionsBag->Write(SXTransmitterConfigurationBagId::idIndexingConnectionFlags,
                                 uint64_t(1));
            ptrOptionsBag->Write(SXTransmitterConfigurationBagId::idIsDisableFailureLogging, true);
            return CKyError::Success();
        });
}

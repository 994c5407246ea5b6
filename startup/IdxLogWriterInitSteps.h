// Steps the index-log initializers share: the variants' option translation is the family's one
// with a few values of their own written after it, and each variant writes its own connection
// flags.
#pragma once

#include <cstdint>

#include "startup/IdxLogWriterInit.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace IdxLogWriterInitSteps {

// The family's translation (CIdxLogWriterInit's own, whatever the variant overrides), then
// writeOwn() when it succeeded.
template <typename WriteOwn>
CKyError FamilyOptionsThen(CIdxLogWriterInit &init, CBagPtr &ptrScannerBag,
                           TQJobCtrlClient *pJobCtrlClient, TQBkpJobClient *pBkpJobClient,
                           CBagPtr &ptrOptionsBag, WriteOwn writeOwn) {
    CKyError error = init.CIdxLogWriterInit::InitializeTransmitterOptions(
        ptrScannerBag, pJobCtrlClient, pBkpJobClient, ptrOptionsBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return writeOwn();
}

// Writes the index-server connection flags of a variant.
inline CKyError WriteConnectionFlags(CBagPtr &ptrOptionsBag, uint64_t ullFlags) {
    CKyError error =
        ptrOptionsBag->Write(SXTransmitterConfigurationBagId::idIndexingConnectionFlags, ullFlags);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

} // namespace IdxLogWriterInitSteps

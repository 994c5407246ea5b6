#include "startup/IdxLogWriterInitVSA.h"

#include <map>
#include <string>

#include <boost/any.hpp>

#include "foundation/ErrorCodes.h"
#include "startup/IdxLogWriterInitSteps.h"
#include "startup/ScannerConfigurationBagId.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

// "VMMountPaths" of the scanner bag, when it has one, into the option bag.
CKyError CopyMountPaths(const CBagPtr &ptrScannerBag, const CBagPtr &ptrOptionsBag) {
    boost::any value;
    if (!ptrScannerBag ||
        ptrScannerBag->ReadAny(SXScannerConfigurationBagId::idVMMountPaths, value).IsError()) {
        return CKyError::Success();
    }
    typedef std::map<std::string, std::string> MountPaths;
    const MountPaths *pMountPaths = boost::any_cast<MountPaths>(&value);
    if (pMountPaths == nullptr) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, EIdxError::eInvalidParameter, "Scanner value [%s] holds a value of type [%s]",
            SXScannerConfigurationBagId::idVMMountPaths, CBag::TypeName(value).c_str());
    }
    ptrOptionsBag->WriteAny(SXTransmitterConfigurationBagId::idVMMountPaths,
                            boost::any(MountPaths(*pMountPaths)));
    return CKyError::Success();
}

} // namespace

CIdxLogWriterInitVSA::CIdxLogWriterInitVSA() {}

CIdxLogWriterInitVSA::~CIdxLogWriterInitVSA() {}

CKyError CIdxLogWriterInitVSA::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_VSA, ptrTransmitter);
}

CKyError CIdxLogWriterInitVSA::InitializeTransmitterOptions(CBagPtr &ptrScannerBag,
                                                            TQJobCtrlClient *pJobCtrlClient,
                                                            TQBkpJobClient *pBkpJobClient,
                                                            CBagPtr &ptrOptionsBag) {
    return IdxLogWriterInitSteps::FamilyOptionsThen(
        *this, ptrScannerBag, pJobCtrlClient, pBkpJobClient, ptrOptionsBag,
        [&ptrScannerBag, &ptrOptionsBag] { return CopyMountPaths(ptrScannerBag, ptrOptionsBag); });
}

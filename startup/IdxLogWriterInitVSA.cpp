#include "startup/IdxLogWriterInitVSA.h"

#include <map>
#include <string>

#include <boost/any.hpp>

#include "foundation/ErrorCodes.h"
#include "startup/ScannerConfigurationBagId.h"
#include "transmitter/TransmitterConfigurationBagId.h"

CIdxLogWriterInitVSA::CIdxLogWriterInitVSA() {}

CIdxLogWriterInitVSA::~CIdxLogWriterInitVSA() {}

CKyError CIdxLogWriterInitVSA::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_VSA, ptrTransmitter);
}

CKyError CIdxLogWriterInitVSA::InitializeTransmitterOptions(CBagPtr &ptrScannerBag,
                                                            TQJobCtrlClient *pJobCtrlClient,
                                                            TQBkpJobClient *pBkpJobClient,
                                                            CBagPtr &ptrOptionsBag) {
    CKyError error = CIdxLogWriterInit::InitializeTransmitterOptions(ptrScannerBag, pJobCtrlClient,
                                                                     pBkpJobClient, ptrOptionsBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
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

#include "startup/IdxLogWriterInitBlkLvl.h"

#include "foundation/ErrorCodes.h"
#include "platform/ArMgrClientAPI.h"
#include "platform/LogWriter.h"
#include "startup/IdxLogWriterInitSteps.h"
#include "startup/ScannerConfigurationBagId.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

const uint64_t kConnectionFlags = 0x90;
// Set on the archive file's flags in addition to what the archive manager reports.
const uint64_t kAddedAfileFlags = 0x214;
const uint64_t kDefaultFleetId = 2;

} // namespace

CIdxLogWriterInitBlkLvl::CIdxLogWriterInitBlkLvl(unsigned long ulArchiveFileID)
    : m_nArchiveFileID(ulArchiveFileID) {}

CIdxLogWriterInitBlkLvl::~CIdxLogWriterInitBlkLvl() {}

CKyError CIdxLogWriterInitBlkLvl::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_BlkLvl, ptrTransmitter);
}

CKyError CIdxLogWriterInitBlkLvl::UpdateSnapArchiveFileID(CBagPtr &ptrScannerBag,
                                                          CBagPtr &ptrOptionsBag) {
    IDX_LOG(0, "Psuedo Snap archive file ID : %lu", static_cast<unsigned long>(m_nArchiveFileID));
    CKyError error = ptrOptionsBag->Write(SXTransmitterConfigurationBagId::idSnapArchiveFileID,
                                          m_nArchiveFileID);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = UpdateAFileFlags(ptrScannerBag, ptrOptionsBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterInitBlkLvl::UpdateIndexingConnectionFlags(CBagPtr &ptrOptionsBag) {
    return IdxLogWriterInitSteps::WriteConnectionFlags(ptrOptionsBag, kConnectionFlags);
}

CKyError CIdxLogWriterInitBlkLvl::UpdateAFileFlags(CBagPtr &ptrScannerBag, CBagPtr &ptrOptionsBag) {
    uint64_t ullFleetId = kDefaultFleetId;
    if (ptrScannerBag) {
        ptrScannerBag->Read(SXScannerConfigurationBagId::idFleetId, ullFleetId);
    }
    ArMgrClientAPI archiveManager;
    GetAfileInfoArgsCC_t args;
    args.ullAfileId = m_nArchiveFileID;
    args.ullReserved = 0;
    args.ullFleetId = ullFleetId;
    GetAfileInfoRetCC_t reply;
    if (archiveManager.getAfileInfo(&args, &reply) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "getAfileInfo failed for archiveId: %lu",
                                       static_cast<unsigned long>(m_nArchiveFileID));
    }
    const uint64_t ullFlags = reply.ullAfileFlags | kAddedAfileFlags;
    CKyError error =
        ptrOptionsBag->Write(SXTransmitterConfigurationBagId::idArchiveFileflags, ullFlags);
    IDX_LOG(0, "Archive file flags for archive file ID [%lu : %lu]",
            static_cast<unsigned long>(m_nArchiveFileID), static_cast<unsigned long>(ullFlags));
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

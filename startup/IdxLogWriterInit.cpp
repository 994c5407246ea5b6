#include "startup/IdxLogWriterInit.h"

#include <cstdint>
#include <new>

#include <boost/make_shared.hpp>

#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "platform/JobClients.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "startup/PlatformCountSetting.h"
#include "startup/ScannerConfigurationBagId.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

typedef SXTransmitterConfigurationBagId BagId;
typedef SXScannerConfigurationBagId ScannerId;

const char kPlatformSection[] = "FileSystemAgent";
const int kDefaultQueueSize = 10000;
const int kDefaultWorkers = 15;
const uint64_t kDefaultFleetId = 2;
const uint64_t kDefaultClientOSId = 210;
const uint64_t kConnectionFlags = 0x80;

// A scanner value in the type given, or the default when it is absent or of another type.
template <typename T> T ScannerValue(const CBagPtr &ptrScannerBag, const char *szKey, T value) {
    if (ptrScannerBag) {
        ptrScannerBag->Read(szKey, value);
    }
    return value;
}

uint32_t PlatformNumber(const char *szName, uint32_t nDefault) {
    uint32_t nValue = nDefault;
    TQPlatformInfo().getNumber(kPlatformSection, szName, &nValue);
    return nValue;
}

} // namespace

CIdxLogWriterInit::CIdxLogWriterInit() : m_pBkpJobClient(nullptr) {}

CIdxLogWriterInit::~CIdxLogWriterInit() {}

CKyError CIdxLogWriterInit::InitializeSolrTransmitter(ApplicationIdPtr, const std::string &,
                                                      TQJobCtrlClient *, TQBkpJobClient *, bool,
                                                      bool) {
    return NotThisFamily(FXLOC);
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
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterInit::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_LogWriter, ptrTransmitter);
}

CKyError CIdxLogWriterInit::InitializeIdxTransmitter(CBagPtr ptrScannerBag,
                                                     TQJobCtrlClient *pJobCtrlClient,
                                                     TQBkpJobClient *pBkpJobClient,
                                                     CSolrTransmitterCallbackPtr ptrCallback) try {
    // The job id and the token come from the two clients; without them no job can be named.
    if (pJobCtrlClient == nullptr || pBkpJobClient == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Both the job-control and the backup-job client are needed");
    }

    CSolrTransmitterPtr ptrTransmitter;
    CKyError error = GetTransmitterObj(ptrTransmitter);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    ptrTransmitter->SetBackupJobClient(pBkpJobClient);
    error = ptrTransmitter->SetCallback(ptrCallback);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = ptrTransmitter->SetMaxQueueSize(
        ReadCountSetting(TQPlatformInfo(), kPlatformSection, "nMaxQueueSize", kDefaultQueueSize));
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = ptrTransmitter->SetNumberofTransmitterThreads(ReadCountSetting(
        TQPlatformInfo(), kPlatformSection, "nTransmitterThreads", kDefaultWorkers));
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    CBagPtr ptrOptionsBag = boost::make_shared_nothrow<CBag>();
    if (!ptrOptionsBag) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    error =
        InitializeTransmitterOptions(ptrScannerBag, pJobCtrlClient, pBkpJobClient, ptrOptionsBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = ptrTransmitter->SetOptions(ptrOptionsBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    error = ptrTransmitter->Start();
    if (error.IsError()) {
        m_sFailureReason = ptrTransmitter->GetSolrFailureReason();
        IDX_LOG_ERROR("Solr start failed, error=%s", error.AsString().c_str());
        return error.Push(FXLOC);
    }
    m_ptrTransmitter = ptrTransmitter;
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CIdxLogWriterInit::InitializeTransmitterOptions(CBagPtr &ptrScannerBag,
                                                         TQJobCtrlClient *pJobCtrlClient,
                                                         TQBkpJobClient *pBkpJobClient,
                                                         CBagPtr &ptrOptionsBag) {
    m_pBkpJobClient = pBkpJobClient;
    // A setting can switch a collection on, never off.
    if (PlatformNumber("nCollectSecurityInfo", 0) != 0) {
        m_bCollectSecurityInfo = true;
    }
    if (PlatformNumber("nCollectOwnerInfo", 0) != 0) {
        m_bCollectOwnerInfo = true;
    }
    IDX_LOG(0, "CollectOwnerInfo=[%s], CollectSecurityInfo=[%s]",
            m_bCollectOwnerInfo ? "Enabled" : "Disabled",
            m_bCollectSecurityInfo ? "Enabled" : "Disabled");

    CBag &options = *ptrOptionsBag;
    // Writes are not tested: the bag refuses only an empty name.
    const long long llJobId = pJobCtrlClient != nullptr ? pJobCtrlClient->GetJobID() : 0;
    options.Write(BagId::idJobId, llJobId);
    options.Write(BagId::idCollectSecurityInfo, m_bCollectSecurityInfo);
    options.Write(BagId::idCollectOwnerInfo, m_bCollectOwnerInfo);

    const uint64_t ullFleetId =
        ScannerValue<uint64_t>(ptrScannerBag, ScannerId::idFleetId, kDefaultFleetId);
    IDX_LOG(2, "Fleet ID : %lu", static_cast<unsigned long>(ullFleetId));
    options.Write(BagId::idFleetId, ullFleetId);

    const uint64_t ullAppId = ScannerValue<uint64_t>(ptrScannerBag, ScannerId::idAppId, 0);
    IDX_LOG(2, "App ID : %lu", static_cast<unsigned long>(ullAppId));
    options.Write(BagId::idAppId, ullAppId);

    const uint64_t ullAppType = ScannerValue<uint64_t>(ptrScannerBag, ScannerId::idAppType, 0);
    IDX_LOG(2, "App type : %lu", static_cast<unsigned long>(ullAppType));
    options.Write(BagId::idAppType, ullAppType);

    const std::string strAppGuid =
        ScannerValue<std::string>(ptrScannerBag, ScannerId::idAppIdGUID, std::string());
    IDX_LOG(2, "App GUID : %s", strAppGuid.c_str());
    options.Write(BagId::idAppGUID, strAppGuid);

    const uint64_t ullClientId = ScannerValue<uint64_t>(ptrScannerBag, ScannerId::idClientID, 0);
    IDX_LOG(2, "Client ID : %lu", static_cast<unsigned long>(ullClientId));
    options.Write(BagId::idClientId, ullClientId);

    const std::string strClientName =
        ScannerValue<std::string>(ptrScannerBag, ScannerId::idClientName, std::string());
    IDX_LOG(2, "Client name : %s", strClientName.c_str());
    options.Write(BagId::idClientName, strClientName);

    const std::string strResultFolder =
        ScannerValue<std::string>(ptrScannerBag, ScannerId::idJobResultFolderPath, std::string());
    IDX_LOG(2, "Job result folder: %s", strResultFolder.c_str());
    options.Write(BagId::idSubClientDir, strResultFolder);

    if (pBkpJobClient != nullptr) {
        const char *szToken = pBkpJobClient->GetJobToken();
        options.Write(BagId::idJobToken, szToken);
        szToken = pBkpJobClient->GetJobToken();
        IDX_LOG(2, "Job token: %s", szToken != nullptr ? szToken : "");
    }

    const std::string strStoreNode =
        ScannerValue<std::string>(ptrScannerBag, ScannerId::idStoreNode, std::string());
    IDX_LOG(2, "Store node : %s", strStoreNode.c_str());
    options.Write(BagId::idIndexingServer, strStoreNode);

    const uint64_t ullSnapJobId = ScannerValue<uint64_t>(ptrScannerBag, ScannerId::idSnapJobID, 0);
    IDX_LOG(2, "Snap job ID: %lu", static_cast<unsigned long>(ullSnapJobId));
    options.Write(BagId::idSnapJobId, ullSnapJobId);

    CKyError error = UpdateSnapArchiveFileID(ptrScannerBag, ptrOptionsBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = UpdateIndexingConnectionFlags(ptrOptionsBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    options.Write(BagId::idRefTime,
                  ScannerValue<int64_t>(ptrScannerBag, ScannerId::idVSACatalogingRefTime, 0));
    options.Write(
        BagId::idClientOSId,
        ScannerValue<uint64_t>(ptrScannerBag, ScannerId::idVSAClientOSID, kDefaultClientOSId));
    options.Write(BagId::idVSACatalogBackupSetGUID,
                  ScannerValue<std::string>(ptrScannerBag, ScannerId::idVSACatalogBackupSetGUID,
                                            std::string()));
    const int32_t nBackupType = ScannerValue<int32_t>(ptrScannerBag, ScannerId::idBackupType, 0);
    IDX_LOG(2, "Backup Type: %d", nBackupType);
    options.Write(BagId::idBackupType, nBackupType);
    options.Write(
        BagId::idVMGUID,
        ScannerValue<std::string>(ptrScannerBag, ScannerId::idVSACatalogVMGUID, std::string()));
    options.Write(
        BagId::idVMName,
        ScannerValue<std::string>(ptrScannerBag, ScannerId::idVSACatalogVMName, std::string()));
    options.Write(BagId::idIsDisableFailureLogging,
                  ScannerValue<bool>(ptrScannerBag, ScannerId::idIsDisableFailureLogging, false));
    return CKyError::Success();
}

CKyError CIdxLogWriterInit::UpdateSnapArchiveFileID(CBagPtr &ptrScannerBag,
                                                    CBagPtr &ptrOptionsBag) {
    const uint64_t ullArchiveFileId =
        ScannerValue<uint64_t>(ptrScannerBag, ScannerId::idAfileID, 0);
    IDX_LOG(2, "Snap archive file ID : %lu", static_cast<unsigned long>(ullArchiveFileId));
    CKyError error = ptrOptionsBag->Write(BagId::idSnapArchiveFileID, ullArchiveFileId);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterInit::UpdateIndexingConnectionFlags(CBagPtr &ptrOptionsBag) {
    CKyError error = ptrOptionsBag->Write(BagId::idIndexingConnectionFlags, kConnectionFlags);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

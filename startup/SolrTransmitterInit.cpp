// CSolrTransmitterInit: the start-up of an index-engine job, from the job's settings to a
// started transmitter. How the settings are resolved from the management server is in
// SolrTransmitterInitManagement.cpp, the configuration cache in SolrTransmitterConfigCache.cpp.
#include "startup/SolrTransmitterInit.h"

#include <new>

#include "foundation/Accessors.h"
#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "platform/JobClients.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "platform/TQPIBase.h"
#include "startup/DataSourceQuery.h"
#include "startup/PlatformCountSetting.h"
#include "startup/SolrTransmitterConfigCache.h"
#include "startup/SolrTransmitterInitSettings.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

typedef SXTransmitterConfigurationBagId BagId;

using solr_transmitter_init::kSection;
const char kEngineDownReason[] =
    "Failed to send data to Index Engine. Please verify that the Index Engine is running. ";

} // namespace

CSolrTransmitterInit::CSolrTransmitterInit()
    : m_bReanalyze(false), m_nAttemptNumber(1), m_bPushOnlyMetaData(true), m_bIsScanPhase(true),
      m_bPushContentInScan(false), m_bPushItemsInScan(true), m_bDisableFailureLogging(false),
      m_bEnableMonitoring(false), m_bPushMonitoredEventsToAuditCore(false),
      m_bForceDisableContentPush(false), m_sCacheFileName("FSSolrTransmitter_config.tqf") {}

CSolrTransmitterInit::~CSolrTransmitterInit() {}

CKyError CSolrTransmitterInit::InitializeIdxTransmitter(CBagPtr, TQJobCtrlClient *,
                                                        TQBkpJobClient *,
                                                        CSolrTransmitterCallbackPtr) {
    return NotThisFamily(FXLOC);
}

std::string CSolrTransmitterInit::GetSolrInitFailureReason() {
    return m_sSolrInitFailureReason;
}

CKyError CSolrTransmitterInit::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    try {
        ptrTransmitter = boost::make_shared_nothrow<CSolrTransmitter>();
    } catch (const std::bad_alloc &) {
        ptrTransmitter.reset();
    }
    if (!ptrTransmitter) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    return CKyError::Success();
}

void CSolrTransmitterInit::SetAccessToken(boost::shared_ptr<FXAccessToken> ptrAccessToken) {
    m_ptrAccessToken = ptrAccessToken;
}

void CSolrTransmitterInit::SetSolrTransmitterInstance(CSolrTransmitterPtr ptrTransmitter) {
    m_ptrTransmitter = ptrTransmitter;
}

CKyError CSolrTransmitterInit::GenerateAccessToken(Subclient *) {
    return CKyError::Success();
}

CKyError CSolrTransmitterInit::InitializeSolrTransmitter(ApplicationIdPtr ptrApplicationId,
                                                         const std::string &strSubclientDir,
                                                         TQJobCtrlClient *pJobCtrlClient,
                                                         TQBkpJobClient *pBkpJobClient,
                                                         bool bUseCache, bool bSaveCache) {
    try {
        CKyError error = StartUp(ptrApplicationId, strSubclientDir, pJobCtrlClient, pBkpJobClient,
                                 bUseCache, bSaveCache);
        return error.IsError() ? error.Push(FXLOC) : error;
    } catch (...) {
        return ErrorFromCaughtException(FXLOC);
    }
}

CKyError CSolrTransmitterInit::StartUp(ApplicationIdPtr ptrApplicationId,
                                       const std::string &strSubclientDir,
                                       TQJobCtrlClient *pJobCtrlClient,
                                       TQBkpJobClient *pBkpJobClient, bool bUseCache,
                                       bool bSaveCache) {
    if (!ptrApplicationId) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Invalid argument: the application is null");
    }
    if (pJobCtrlClient == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Invalid argument: the job-control client is null");
    }
    TQPlatformInfo platformInfo;
    CKyError error;

    // The settings: from the cache file when the job asks and it reads, else from the
    // management server.
    std::string strCacheFile = strSubclientDir;
    FXPath::Append(strCacheFile, m_sCacheFileName, 0);
    FSSolrTransmitterConfigCacheParams params;
    bool bFromCache = false;
    if (bUseCache) {
        if (InitializeFromCache(strCacheFile, params).IsError()) {
            IDX_LOG_ERROR("InitializeFromCache failed for  Fetching from HQ");
            params = FSSolrTransmitterConfigCacheParams();
        } else {
            bFromCache = true;
        }
    }

    std::string strMonitorDir =
        TQPI_CommClient().getJobResultsDirectory(platformInfo.getPhysicalMachine());
    FXPath::Append(strMonitorDir, "Monitor", 0);

    TQClient *pClient = ptrApplicationId->getClient(nullptr);
    if (pClient == nullptr) {
        IDX_LOG_ERROR("pClient is NULL; Not proceeding with Analytics job");
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to get TQClient object");
    }
    Subclient *pSubclient = ptrApplicationId->getSubclient(nullptr);
    if (pSubclient == nullptr) {
        IDX_LOG_ERROR("pSubclient is NULL; Not proceeding with Analytics job");
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to get Subclient object");
    }

    if (bFromCache) {
        m_bCollectOwnerInfo = params.m_bCollectOwnerInfo;
        m_bCollectSecurityInfo = params.m_bCollectSecurityInfo;
        m_bEnableMonitoring = params.m_bEnableMonitoring;
        m_bPushOnlyMetaData = params.m_bPushOnlyMetaData;
    } else {
        error = ResolveFromManagementServer(*pClient, *pSubclient, strMonitorDir, params);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
    }
    // What the job says of this run wins over any record: a cache saved in the scan phase must
    // not make the backup phase write the scan phase's failures file (emptying it), leave its
    // own list unwritten and drop the collect fields the restart position is read from.
    params.m_bIsScanPhase = m_bIsScanPhase;
    params.m_bIsDisableFailureLogging = m_bDisableFailureLogging;
    params.m_strSubClientDir = strSubclientDir;

    // Scan-phase decisions. The bag's push-only-metadata value is fixed here, before the
    // monitored-events job overrides what the getters report.
    uint32_t nPushContentInScan = 0;
    if (platformInfo.getNumber(kSection, "nPushContentInScan", &nPushContentInScan)) {
        m_bPushContentInScan = nPushContentInScan != 0;
    }
    if (!m_bPushOnlyMetaData) {
        m_bPushItemsInScan = false;
    }
    if (m_bPushContentInScan) {
        m_bPushItemsInScan = true;
    }
    const bool bBagPushOnlyMetaData = m_bIsScanPhase && !m_bPushContentInScan;
    if (m_bPushMonitoredEventsToAuditCore) {
        m_bPushOnlyMetaData = true;
        m_bPushItemsInScan = false;
        m_bPushContentInScan = false;
        m_bIsScanPhase = false;
    }

    unsigned long ulItemCountUpdateInterval = 1000;
    platformInfo.getNumber(kSection, "nItemCountUpdateInterval", &ulItemCountUpdateInterval);
    IDX_LOG(0, "Transmitter item count update interval is %lu ", ulItemCountUpdateInterval);

    if (!m_ptrAccessToken) {
        error = GenerateAccessToken(pSubclient);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to generate access token, error=%s", error.AsString().c_str());
        }
    }

    boost::shared_ptr<CTransmitterCallback> ptrCallback =
        boost::make_shared_nothrow<CTransmitterCallback>(
            m_ptrAccessToken, pJobCtrlClient, pBkpJobClient,
            static_cast<long long>(ulItemCountUpdateInterval));
    if (!ptrCallback) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    if (m_ptrAckCallback) {
        ptrCallback->SetAuditCallback(m_ptrAckCallback);
    }

    CSolrTransmitterPtr ptrTransmitter;
    error = GetTransmitterObj(ptrTransmitter);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = ptrTransmitter->SetCallback(ptrCallback);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = ptrTransmitter->SetMaxQueueSize(
        ReadCountSetting(platformInfo, kSection, "nMaxQueueSize", 10000));
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = ptrTransmitter->SetNumberofTransmitterThreads(
        ReadCountSetting(platformInfo, kSection, "nTransmitterThreads", 15));
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    unsigned long ulUseDynamicTppm = 1;
    platformInfo.getNumber(kSection, "UseDynamicTppm", &ulUseDynamicTppm);
    IDX_LOG(0, "UseDynamicTppm [%lu] ", ulUseDynamicTppm);

    CBagPtr ptrBag = boost::make_shared_nothrow<CBag>();
    if (!ptrBag) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    CBag &bag = *ptrBag;
    bag.Write(BagId::idJobId, pJobCtrlClient->GetJobID());
    bag.Write(BagId::idClientId, static_cast<unsigned long long>(params.m_nClientId));
    bag.Write(BagId::idCollectSecurityInfo, params.m_bCollectSecurityInfo);
    bag.Write(BagId::idCollectOwnerInfo, params.m_bCollectOwnerInfo);
    bag.Write(BagId::idRetainVersion, true);
    bag.Write(BagId::idAppGUID, params.m_strAppGUID);
    bag.Write(BagId::idAppId, params.m_nAppId);
    bag.Write(BagId::idServerPort, 20000);
    bag.Write(BagId::idUpdateUrl, params.m_strUpdateUrl);
    bag.Write(BagId::idCompleteSolrUrl, params.m_strCompleteSolrUrl);
    bag.Write(BagId::idCompleteSolrExtractUrl, params.m_strCompleteSolrExtractUrl);
    bag.Write(BagId::idMaxFileSizePushContents, params.m_llMaxFileSizePushContents);
    bag.Write(BagId::idMinFileSizePushContents, params.m_llMinFileSizePushContents);
    bag.Write(BagId::idPushOnlyMetaData, bBagPushOnlyMetaData);
    bag.Write(BagId::idIncludeFilters, params.m_strIncludeFilters);
    bag.Write(BagId::idSubClientDir, params.m_strSubClientDir);
    bag.Write(BagId::idClientName, params.m_strClientName);
    bag.Write(BagId::idSolrClientName, params.m_strSolrClientName);
    bag.Write(BagId::idBaseSolrUrl, params.m_strBaseSolrUrl);
    bag.Write(BagId::idIsScanPhase, params.m_bIsScanPhase);
    bag.Write(BagId::idPushMetaDataWithCRC, params.m_bPushMetaDataWithCRC);
    bag.Write(BagId::idOptimizeContentPush, params.m_bOptimizeContentPush);
    bag.Write(BagId::idIsCloudMode, params.m_bIsCloudMode);
    bag.Write(BagId::idIsDisableFailureLogging, params.m_bIsDisableFailureLogging);
    bag.Write(BagId::idMonitorJobResultsDir, params.m_strMonitorJobResultsDir);
    bag.Write(BagId::idIsPreserveAccessTime, params.m_bIsPreserveAccessTime);
    bag.Write(BagId::idIsNasClient, params.m_bIsNasClient);
    bag.Write(BagId::idEnableMonitoring, params.m_bEnableMonitoring);
    bag.Write(BagId::idAuditSolrUrl, params.m_strAuditSolrUrl);
    bag.Write(BagId::idUseDynamicTppm, ulUseDynamicTppm != 0);
    bag.Write(BagId::idAuditingContext, m_bPushMonitoredEventsToAuditCore);
    error = ptrTransmitter->SetOptions(ptrBag);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    if (bSaveCache) {
        SaveToCache(strCacheFile, params); // a cache that cannot be saved costs only a query
    }

    error = ptrTransmitter->Start();
    if (error.IsError()) {
        m_sSolrInitFailureReason = ptrTransmitter->GetSolrFailureReason();
        IDX_LOG_ERROR("Solr start failed, error=%s", error.AsString().c_str());
        return error.Push(FXLOC);
    }

    bool bRunning = false;
    error = ptrTransmitter->IsSolrEngineRunning(bRunning);
    if (!bRunning) {
        m_sSolrInitFailureReason = ptrTransmitter->GetSolrFailureReason();
        if (m_sSolrInitFailureReason.empty()) {
            m_sSolrInitFailureReason = kEngineDownReason;
        }
    }
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    if (m_bReanalyze && m_nAttemptNumber == 1) {
        IDX_LOG(0, "Clearing data source as reanalyze option is selected");
        error = ptrTransmitter->ClearDataSource(std::string());
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
    }

    m_ptrTransmitter = ptrTransmitter;
    return CKyError::Success();
}

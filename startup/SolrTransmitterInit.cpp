#include "startup/SolrTransmitterInit.h"

#include <climits>
#include <cstdint>
#include <new>

#include "foundation/Accessors.h"
#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "foundation/TextEncoding.h"
#include "platform/JobClients.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "platform/TQPIBase.h"
#include "startup/DataSourceQuery.h"
#include "startup/IncludeFilterExtensions.h"
#include "startup/PlatformCountSetting.h"
#include "startup/SolrTransmitterConfigCache.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

typedef SXTransmitterConfigurationBagId BagId;

const char kSection[] = "FileSystemAgent";
const long long kDefaultMaxFileSizePushContents = 52428800;
const char kNoUrlReason[] = "Failed to get the solr URL for analytics job. ";
const char kEngineDownReason[] =
    "Failed to send data to Index Engine. Please verify that the Index Engine is running. ";

const char *EnabledText(bool bEnabled) {
    return bEnabled ? "Enabled" : "Disabled";
}

// The operating-system ids of NAS filers.
bool IsNasOperatingSystem(uint32_t nOSId) {
    switch (nOSId) {
    case 16:
    case 17:
    case 18:
    case 19:
    case 29:
    case 45:
    case 55:
        return true;
    default:
        return false;
    }
}

// A size setting in kilobytes as bytes; a value whose bytes do not fit saturates.
long long KilobytesToBytes(unsigned long ulSetting) {
    const long long llKilobytes = static_cast<long long>(ulSetting);
    if (llKilobytes > LLONG_MAX / 1024) {
        return LLONG_MAX;
    }
    if (llKilobytes < LLONG_MIN / 1024) {
        return LLONG_MIN;
    }
    return llKilobytes * 1024;
}

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

std::string CSolrTransmitterInit::Urlencode(const std::string &strText) {
    return CTextEncoding::PercentEncode(strText, CTextEncoding::kUnreservedMarks,
                                        CTextEncoding::eLowerHex);
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

CKyError
CSolrTransmitterInit::ResolveFromManagementServer(TQClient &client, Subclient &subclient,
                                                  const std::string &strMonitorDir,
                                                  FSSolrTransmitterConfigCacheParams &params) {
    TQPlatformInfo platformInfo;

    std::string strClientName;
    uint64_t ullClientId = 0;
    bool bNasClient = false;
    client.getClientName(strClientName, nullptr);
    client.getClientId(ullClientId, nullptr);
    client.getIsNASClient(bNasClient, nullptr);
    const uint32_t nClientId = static_cast<uint32_t>(ullClientId);
    if (!bNasClient) {
        uint32_t nOSId = 0;
        client.getOSId(nOSId, nullptr);
        if (IsNasOperatingSystem(nOSId)) {
            bNasClient = true;
            IDX_LOG(0, "OsID indicates its a NAS filer.");
        }
    }

    m_bCollectSecurityInfo = subclient.isACLCollectionEnabled();
    IDX_LOG(0, "CollectSecurityInfo from UI = [%s]", EnabledText(m_bCollectSecurityInfo));
    int32_t nCollectSecurityInfo = 0;
    if (platformInfo.getNumber(kSection, "nCollectSecurityInfo", &nCollectSecurityInfo)) {
        m_bCollectSecurityInfo = nCollectSecurityInfo == 1;
    }
    IDX_LOG(0, "CollectSecurityInfo from registry = [%s]", EnabledText(m_bCollectSecurityInfo));

    uint32_t nCollectOwnerInfo = 1;
    platformInfo.getNumber(kSection, "nCollectOwnerInfo", &nCollectOwnerInfo);
    m_bCollectOwnerInfo = nCollectOwnerInfo != 0;
    IDX_LOG(0, "CollectOwnerInfo from registry = [%s]", EnabledText(m_bCollectOwnerInfo));
    bool bPreserveAccessTime = false;
    subclient.getPreserveAccessTime(bPreserveAccessTime, nullptr);
    IDX_LOG(0,
            "CollectOwnerInfo=[%s], CollectSecurityInfo=[%s], PreserveAccessTime=[%s], "
            "NasClient=%d",
            EnabledText(m_bCollectOwnerInfo), EnabledText(m_bCollectSecurityInfo),
            EnabledText(bPreserveAccessTime), bNasClient ? 1 : 0);

    const uint32_t nSubclientId = subclient.getSubclientId();
    SClientDataSource dataSource;
    CKyError error = QueryClientDataSource(static_cast<int32_t>(nClientId),
                                           static_cast<int32_t>(nSubclientId), dataSource);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    // The engine's URL.
    std::string strSolrUrl = dataSource.strSolrUrl;
    std::string strSetting;
    if (platformInfo.getString(kSection, "sSolrURL", strSetting)) {
        strSolrUrl = strSetting;
        IDX_LOG(1, "using solr URL from registry [%s]", strSolrUrl.c_str());
    }
    if (strSolrUrl.empty()) {
        m_sSolrInitFailureReason = kNoUrlReason;
        IDX_LOG_ERROR("%s", m_sSolrInitFailureReason.c_str());
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNoEngineAddress,
                                       "Failed to get the solr URL for analytics job. Solr "
                                       "transmitter object not initialized");
    }
    const std::string &strUpdateUrl = strSolrUrl;
    std::string strBaseUrl = strSolrUrl;
    FXString::RemoveRightNoCase(strBaseUrl, "update");
    IDX_LOG(1, "Using base solr URL [%s]", strBaseUrl.c_str());

    // Content-push limits.
    long long llMaxFileSize = kDefaultMaxFileSizePushContents;
    if (dataSource.bHasMaxFileSize && dataSource.llMaxFileSize > 0) {
        llMaxFileSize = dataSource.llMaxFileSize;
    }
    unsigned long ulKilobytes = 0;
    if (platformInfo.getNumber(kSection, "nMaxSizePushContentsInKB", &ulKilobytes)) {
        llMaxFileSize = KilobytesToBytes(ulKilobytes);
    }
    long long llMinFileSize = dataSource.bHasMinFileSize ? dataSource.llMinFileSize : 0;
    if (platformInfo.getNumber(kSection, "nMinSizePushContentsInKB", &ulKilobytes)) {
        llMinFileSize = KilobytesToBytes(ulKilobytes);
    }

    if (dataSource.bHasContentIndexing) {
        m_bPushOnlyMetaData = dataSource.llContentIndexing == 0;
    }
    if (GetForceDisableContentPush()) {
        m_bPushOnlyMetaData = true;
    }

    if (dataSource.bHasMonitoring) {
        m_bEnableMonitoring = dataSource.llMonitoring != 0;
    }
    const std::string strMonitoringKey =
        FXString::Format("EnableMonitoring_%lu", static_cast<unsigned long>(nSubclientId));
    IDX_LOG(1, "Looking for key:%s", strMonitoringKey.c_str());
    unsigned long ulEnableMonitoring = 0;
    if (platformInfo.getNumber(kSection, strMonitoringKey.c_str(), &ulEnableMonitoring)) {
        m_bEnableMonitoring = ulEnableMonitoring != 0;
    }

    uint32_t nPushOnlyMetaData = 0;
    if (platformInfo.getNumber(kSection, "nPushOnlyMetaData", &nPushOnlyMetaData)) {
        m_bPushOnlyMetaData = nPushOnlyMetaData != 0;
    }

    std::string strSolrClientName = strClientName;
    int32_t nIndexServerClientId = 0;
    if (dataSource.bHasIndexServerClient) {
        strSolrClientName = dataSource.strIndexServerClientName;
        nIndexServerClientId = dataSource.nIndexServerClientId;
        IDX_LOG(0, "IndexServer ClientName=[%s], IndexServer ClientId=[%d]",
                strSolrClientName.c_str(), nIndexServerClientId);
    }

    std::string strIncludeFilters =
        dataSource.bHasIncludeFilters ? dataSource.strIncludeFilters : std::string();
    if (platformInfo.getString(kSection, "sIncludeFilters", strSetting)) {
        strIncludeFilters = strSetting;
        IDX_LOG(1, "Using IncludeFilters from registry [%s]", strIncludeFilters.c_str());
    }
    if (strIncludeFilters.empty()) {
        IDX_LOG(0, "Switching to push only meta data mode as no include filters configured");
        m_bPushOnlyMetaData = true;
    }
    const std::set<std::string> setExtensions = IncludeFilterExtensions(strIncludeFilters);
    m_setIncludeFilters.insert(setExtensions.begin(), setExtensions.end());

    const bool bCloudMode =
        dataSource.bHasCloudValue && static_cast<uint32_t>(dataSource.llCloudValue) == 5;
    IDX_LOG(0, "IsCloudMode=[%d], EnableMonitoring=[%d]", bCloudMode ? 1 : 0,
            m_bEnableMonitoring ? 1 : 0);

    std::string strExtractUrl = strSolrUrl;
    bool bOptimizeContentPush = false;
    if (!m_bPushOnlyMetaData) {
        m_bPushItemsInScan = false;
        uint32_t nOptimized = 0;
        if (platformInfo.getNumber(kSection, "nOPtimizedContentPush", &nOptimized) &&
            nOptimized != 0) {
            bOptimizeContentPush = true;
            IDX_LOG(0,
                    "Scan is running on the index server; Optimizing Content push, "
                    "ClientId=[%lu], IndexServerClientId=[%d]",
                    tqcast::lu(nClientId), nIndexServerClientId);
        }
        uint32_t nUseTqExtract = 1;
        platformInfo.getNumber(kSection, "nUseTqExtract", &nUseTqExtract);
        strExtractUrl += nUseTqExtract != 0 ? "/tqextract" : "/extract";
        IDX_LOG(0, "DocumentMaxSizeBytes=[%lld]", llMaxFileSize);
        IDX_LOG(0, "DocumentMinSizeBytes=[%lld]", llMinFileSize);
    }
    IDX_LOG(0, "PushOnlyMetaData=[%u]", m_bPushOnlyMetaData ? 1u : 0u);
    IDX_LOG(0, "InclusionFilters=[%s]", strIncludeFilters.c_str());

    std::string strQuery = "?";
    if (bOptimizeContentPush) {
        strQuery += "lanfree=true&";
    }
    for (size_t i = 0; i < dataSource.vecUrlParameters.size(); ++i) {
        if (i > 0) {
            strQuery += "&";
        }
        strQuery += FXString::Format("%s=%s", dataSource.vecUrlParameters[i].first.c_str(),
                                     Urlencode(dataSource.vecUrlParameters[i].second).c_str());
    }

    std::string strAuditUrl;
    if (m_bPushMonitoredEventsToAuditCore) {
        if (platformInfo.getString(kSection, "sSolrAuditURL", strSetting)) {
            strAuditUrl = strSetting;
            IDX_LOG(1, "using audit solr URL from registry [%s]", strAuditUrl.c_str());
        } else {
            strAuditUrl = dataSource.strAuditSolrUrl;
        }
    }
    IDX_LOG(1, "auditURL [%s]", strAuditUrl.c_str());

    uint32_t nPushMetaDataWithCRC = 0;
    platformInfo.getNumber(kSection, "nPushMetaDataWithCRC", &nPushMetaDataWithCRC);
    const bool bPushMetaDataWithCRC = nPushMetaDataWithCRC == 1;
    if (bPushMetaDataWithCRC) {
        IDX_LOG(0, "CRC push is enabled via registry");
    }

    const std::string strCompleteUrl = strSolrUrl + strQuery;
    IDX_LOG(0, "Solr URL to push metadata is [%s]", strCompleteUrl.c_str());
    const std::string strCompleteExtractUrl = strExtractUrl + strQuery;
    IDX_LOG(0, "Solr URL to push data is [%s]", strCompleteExtractUrl.c_str());

    params.m_strClientName = strClientName;
    params.m_nClientId = nClientId;
    params.m_nAppId = nSubclientId;
    params.m_bIsNasClient = bNasClient;
    params.m_strAuditSolrUrl = strAuditUrl;
    params.m_bEnableMonitoring = m_bEnableMonitoring;
    params.m_bIsCloudModeFirst = bCloudMode;
    params.m_bIsCloudMode = bCloudMode;
    params.m_strAppGUID = subclient.getGUIDStr();
    params.m_strMonitorJobResultsDirFirst = strMonitorDir;
    params.m_strMonitorJobResultsDir = strMonitorDir;
    params.m_bCollectSecurityInfo = m_bCollectSecurityInfo;
    params.m_bCollectOwnerInfo = m_bCollectOwnerInfo;
    params.m_strUpdateUrl = strUpdateUrl;
    params.m_strCompleteSolrExtractUrl = strCompleteExtractUrl;
    params.m_strCompleteSolrUrl = strCompleteUrl;
    params.m_llMaxFileSizePushContents = llMaxFileSize;
    params.m_llMinFileSizePushContents = llMinFileSize;
    params.m_bPushOnlyMetaData = m_bPushOnlyMetaData;
    params.m_strIncludeFilters = strIncludeFilters;
    params.m_strSolrClientName = strSolrClientName;
    params.m_strBaseSolrUrl = strBaseUrl;
    params.m_bPushMetaDataWithCRC = bPushMetaDataWithCRC;
    params.m_bOptimizeContentPush = bOptimizeContentPush;
    params.m_bIsPreserveAccessTime = bPreserveAccessTime;
    return CKyError::Success();
}

// CSolrTransmitterInit: the job's settings resolved from the management server (the client and
// subclient records, the data source's query) and the platform settings that override them,
// down to the engine's URLs for the option bag.
#include "startup/SolrTransmitterInit.h"

#include <climits>
#include <cstdint>
#include <set>

#include "foundation/ErrorCodes.h"
#include "foundation/StringHelpers.h"
#include "foundation/TextEncoding.h"
#include "platform/JobClients.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "startup/DataSourceQuery.h"
#include "startup/IncludeFilterExtensions.h"
#include "startup/SolrTransmitterConfigCache.h"
#include "startup/SolrTransmitterInitSettings.h"

namespace {

using solr_transmitter_init::kSection;
const long long kDefaultMaxFileSizePushContents = 52428800;
const char kNoUrlReason[] = "Failed to get the solr URL for analytics job. ";

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

std::string CSolrTransmitterInit::Urlencode(const std::string &strText) {
    return CTextEncoding::PercentEncode(strText, CTextEncoding::kUnreservedMarks,
                                        CTextEncoding::eLowerHex);
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

// The option record of one transmitter: every setting that the workers, the queueing calls, the
// failures file and the end-of-job steps read, the job callback, and the abort questions.
//
// The record is filled on the job's thread before any worker starts (by the option-bag
// translation and the facade's SetCallback) and only read afterwards, so its fields take no lock.
// The abort questions are answered by the transmitter's abort state, which the record holds
// behind a pointer and which keeps its own flag and lock (transmitter/AbortState.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "platform/MessageRecords.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterTypes.h"

class CAbortState;
class FXEvent;

// The backup level of a job, as the job manager numbers it (32 bits).
typedef int32_t TQBkpLevel;

class IDX_EXPORT CTransmitterOptions {
public:
    CTransmitterOptions();
    ~CTransmitterOptions();

    // The job callback; an empty pointer when none was set.
    CSolrTransmitterCallbackPtr GetCallback() const { return m_ptrCallback; }
    void SetCallback(CSolrTransmitterCallbackPtr ptrCallback);

    // The transmitter-wide abort test (CAbortState::IsAborted). Sticky: once it has answered true
    // it always does. While the flag is clear it asks the job's quit flag, then tests the job's
    // abort event without waiting, and turns the flag on when either says stop. A flag already on
    // is one atomic read.
    bool IsAborted();
    void SetAborted(bool bAborted);
    void SetAbortEvent(boost::shared_ptr<FXEvent> ptrAbortEvent);
    // True only when a callback is stored and it reports the job's quit flag. No lock.
    bool IsQuitJobQuitFlagSet() const;

    void SetServer(const std::string &strServer) { m_strServer = strServer; }
    void SetServerPort(unsigned int nServerPort) { m_nServerPort = nServerPort; }
    void SetUpdateUrl(const std::string &strUpdateUrl) { m_strUpdateUrl = strUpdateUrl; }

    const std::string &GetCompleteSolrUrl() const { return m_strCompleteSolrUrl; }
    void SetCompleteSolrUrl(const std::string &strUrl) { m_strCompleteSolrUrl = strUrl; }
    const std::string &GetCompleteSolrExtractUrl() const { return m_strCompleteSolrExtractUrl; }
    void SetCompleteSolrExtractUrl(const std::string &strUrl) {
        m_strCompleteSolrExtractUrl = strUrl;
    }

    const std::string &GetSubClientDir() const { return m_strSubClientDir; }
    void SetSubClientDir(const std::string &strDir) { m_strSubClientDir = strDir; }
    const std::string &GetClientName() const { return m_strClientName; }
    void SetClientName(const std::string &strName) { m_strClientName = strName; }
    const std::string &GetSolrClientName() const { return m_strSolrClientName; }
    void SetSolrClientName(const std::string &strName) { m_strSolrClientName = strName; }
    const std::string &GetAppGUID() const { return m_strAppGUID; }
    void SetAppGUID(const std::string &strGUID) { m_strAppGUID = strGUID; }
    std::string GetVSACatalogBackupSetGUID() const { return m_strVSACatalogBackupSetGUID; }
    void SetVSACatalogBackupSetGUID(const std::string &strGUID) {
        m_strVSACatalogBackupSetGUID = strGUID;
    }

    // Index-log settings; the seven without a starting value in the record's contract start at 0.
    unsigned long GetFleetId() const { return m_ulFleetId; }
    void SetFleetId(unsigned long ulFleetId) { m_ulFleetId = ulFleetId; }
    unsigned long GetAppType() const { return m_ulAppType; }
    void SetAppType(unsigned long ulAppType) { m_ulAppType = ulAppType; }
    TQBkpLevel GetBackupType() const { return m_eBackupType; }
    void SetBackupType(TQBkpLevel eBackupType) { m_eBackupType = eBackupType; }
    std::string GetJobToken() const { return m_strJobToken; }
    void SetJobToken(std::string strJobToken) { m_strJobToken = std::move(strJobToken); }
    std::string GetIndexingServerClientName() const { return m_strIndexingServerClientName; }
    void SetIndexingServerClientName(std::string strName) {
        m_strIndexingServerClientName = std::move(strName);
    }
    unsigned long long GetIndexingConnectionFlags() const { return m_ullIndexingConnectionFlags; }
    void SetIndexingConnectionFlags(unsigned long long ullFlags) {
        m_ullIndexingConnectionFlags = ullFlags;
    }
    long long GetSnapJobId() const { return m_llSnapJobId; }
    void SetSnapJobId(long long llSnapJobId) { m_llSnapJobId = llSnapJobId; }
    unsigned long GetSnapArchiveFileID() const { return m_ulSnapArchiveFileID; }
    void SetSnapArchiveFileID(unsigned long ulId) { m_ulSnapArchiveFileID = ulId; }
    unsigned long GetArchiveFileFlags() const { return m_ulArchiveFileFlags; }
    void SetArchiveFileFlags(unsigned long ulFlags) { m_ulArchiveFileFlags = ulFlags; }
    long GetRefTime() const { return m_lRefTime; }
    void SetRefTime(long lRefTime) { m_lRefTime = lRefTime; }
    unsigned long GetClientOSId() const { return m_ulClientOSId; }
    void SetClientOSId(unsigned long ulClientOSId) { m_ulClientOSId = ulClientOSId; }
    std::string GetIndexingServerMangledName() const { return m_strIndexingServerMangledName; }
    void SetIndexingServerMangledName(std::string strName) {
        m_strIndexingServerMangledName = std::move(strName);
    }

    const std::string &GetAuditSolrUrl() const { return m_strAuditSolrUrl; }
    void SetAuditSolrUrl(const std::string &strUrl) { m_strAuditSolrUrl = strUrl; }
    // Derived from the base URL by SetBaseSolrUrl: the base up to and including the first
    // "solr" of its path, or the whole base when its path holds none.
    const std::string &GetRestAPISolrUrl() const { return m_strRestAPISolrUrl; }

    bool IsPushOnlyMetaData() const { return m_bPushOnlyMetaData; }
    void SetPushOnlyMetaData(bool bValue) { m_bPushOnlyMetaData = bValue; }
    bool IsCollectSecurityInfo() const { return m_bCollectSecurityInfo; }
    void SetCollectSecurityInfo(bool bValue) { m_bCollectSecurityInfo = bValue; }
    bool IsCollectOwnerInfo() const { return m_bCollectOwnerInfo; }
    void SetCollectOwnerInfo(bool bValue) { m_bCollectOwnerInfo = bValue; }
    void SetRetainVersion(bool bValue) { m_bRetainVersion = bValue; }
    bool IsScanPhase() const { return m_bScanPhase; }
    void SetScanPhase(bool bValue) { m_bScanPhase = bValue; }
    bool IsPushMetaDataWithCRC() const { return m_bPushMetaDataWithCRC; }
    void SetPushMetaDataWithCRC(bool bValue) { m_bPushMetaDataWithCRC = bValue; }

    long long GetMaxConsecutiveFailuresThreshold() const { return m_llMaxConsecutiveFailures; }
    void SetMaxConsecutiveFailuresThreshold(long long llValue) {
        m_llMaxConsecutiveFailures = llValue;
    }
    void SetMaxFailuresThreshold(long long llValue) { m_llMaxFailures = llValue; }
    long long GetMaxRetryOnMemoryFailures() const { return m_llMaxRetryOnMemoryFailures; }
    void SetMaxRetryOnMemoryFailures(long long llValue) { m_llMaxRetryOnMemoryFailures = llValue; }

    // The three identifiers also keep their decimal text, which the documents carry. The text
    // of one the job never set is "0", as its number is: the engine's schema holds these fields
    // as integers and refuses an empty text, and with it the whole batch.
    long long GetJobId() const { return m_llJobId; }
    const std::string &GetJobIdString() const { return m_strJobId; }
    void SetJobId(long long llJobId);
    unsigned int GetClientId() const { return m_nClientId; }
    const std::string &GetClientIdString() const { return m_strClientId; }
    void SetClientId(unsigned int nClientId);
    unsigned int GetApplicationNumber() const { return m_nApplicationNumber; }
    const std::string &GetApplicationNumberString() const { return m_strApplicationNumber; }
    void SetApplicationNumber(unsigned int nApplicationNumber);

    long long GetMaxFileSizePushContent() const { return m_llMaxFileSizePushContent; }
    void SetMaxFileSizePushContent(long long llValue) { m_llMaxFileSizePushContent = llValue; }
    long long GetMinFileSizePushContent() const { return m_llMinFileSizePushContent; }
    void SetMinFileSizePushContent(long long llValue) { m_llMinFileSizePushContent = llValue; }

    // Collections are replaced whole, never merged.
    const std::set<std::string> &GetIncludeFiltersSet() const { return m_setIncludeFilters; }
    void SetIncludeFiltersSet(const std::set<std::string> &setFilters) {
        m_setIncludeFilters = setFilters;
    }
    const std::set<std::string> &GetExcludeFiltersSet() const { return m_setExcludeFilters; }
    void SetExcludeFiltersSet(const std::set<std::string> &setFilters) {
        m_setExcludeFilters = setFilters;
    }
    const std::list<std::string> &GetExcludePaths() const { return m_lstExcludePaths; }
    void SetExcludePaths(const std::list<std::string> &lstPaths) { m_lstExcludePaths = lstPaths; }
    const std::map<std::string, std::string> &GetSchemaFieldsMap() const {
        return m_mapSchemaFields;
    }
    void SetSchemaFieldsMap(std::map<std::string, std::string> mapFields) {
        m_mapSchemaFields = std::move(mapFields);
    }

    // Never below 1 after a set, so a worker always takes at least one item per batch.
    int GetMaxItemsPerTransaction() const { return m_nMaxItemsPerTransaction; }
    void SetMaxItemsPerTransaction(int nMaxItems);

    const std::string &GetBaseSolrUrl() const { return m_strBaseSolrUrl; }
    const std::wstring &GetBaseSolrUrlW() const { return m_wstrBaseSolrUrl; }
    void SetBaseSolrUrl(const std::string &strBaseSolrUrl);

    bool IsOptimizeContentPush() const { return m_bOptimizeContentPush; }
    void SetOptimizeContentPush(bool bValue) { m_bOptimizeContentPush = bValue; }
    bool IsCloudMode() const { return m_bCloudMode; }
    void SetCloudMode(bool bValue) { m_bCloudMode = bValue; }
    void SetPreserveAccessTime(bool bValue) { m_bPreserveAccessTime = bValue; }
    bool IsNasClient() const { return m_bNasClient; }
    void SetIsNasClient(bool bValue) { m_bNasClient = bValue; }
    bool IsVMContentIndexing() const { return m_bVMContentIndexing; }
    void SetVMContentIndexing(bool bValue) { m_bVMContentIndexing = bValue; }
    bool IsSPContentIndexing() const { return m_bSPContentIndexing; }
    void SetSPContentIndexing(bool bValue) { m_bSPContentIndexing = bValue; }
    const std::string &GetVMName() const { return m_strVMName; }
    void SetVMName(const std::string &strName) { m_strVMName = strName; }
    const std::string &GetVMGUID() const { return m_strVMGUID; }
    void SetVMGUID(const std::string &strGUID) { m_strVMGUID = strGUID; }
    void SetVMHypervisor(const std::string &strHypervisor) { m_strVMHypervisor = strHypervisor; }
    std::map<std::string, std::string> GetVmMountPathVol() const { return m_mapVmMountPathVol; }
    void SetVmMountPathVol(const std::map<std::string, std::string> &mapMountPathVol) {
        m_mapVmMountPathVol = mapMountPathVol;
    }
    VirtualServer::VMCatalogOptions &GetVMCatalogOptions() { return m_vmCatalogOptions; }
    void SetVMCatalogOptions(const VirtualServer::VMCatalogOptions &options) {
        m_vmCatalogOptions = options;
    }
    bool IsDisableFailureLogging() const { return m_bDisableFailureLogging; }
    void SetDisableFailureLogging(bool bValue) { m_bDisableFailureLogging = bValue; }
    void SetEnableMonitoring(bool bValue) { m_bEnableMonitoring = bValue; }
    bool GetUseDynamicTppm() const { return m_bUseDynamicTppm; }
    void SetUseDynamicTppm(bool bValue) { m_bUseDynamicTppm = bValue; }
    bool IsAuditingContext() const { return m_bAuditingContext; }
    void SetAuditingContext(bool bValue) { m_bAuditingContext = bValue; }
    // The largest MaxCollectFileID taken: each live-crawl worker and the commit cycle keep an
    // 8-byte offset per collect file, so the bound caps each table at 8 MiB. Start-up refuses
    // a value outside 0 to this bound (87), since a wrapped negative one would ask for 32 GiB.
    static constexpr long long kMaxCollectFileIdLimit = 1048576;
    unsigned int GetMaxCollectFileID() const { return m_nMaxCollectFileID; }
    void SetMaxCollectFileID(unsigned int nMaxId) { m_nMaxCollectFileID = nMaxId; }

private:
    CTransmitterOptions(const CTransmitterOptions &) = delete;
    CTransmitterOptions &operator=(const CTransmitterOptions &) = delete;

    // The shared state hands the record's abort state to everything that works for the
    // transmitter (CSolrTransmitterPrivate::Abort).
    friend class CSolrTransmitterPrivate;

    CSolrTransmitterCallbackPtr m_ptrCallback;
    // Made with the record, never replaced.
    const std::unique_ptr<CAbortState> m_pAbortState;
    std::string m_strServer;
    unsigned int m_nServerPort;
    std::string m_strUpdateUrl;
    std::string m_strCompleteSolrUrl;
    std::string m_strCompleteSolrExtractUrl;
    std::string m_strSubClientDir;
    std::string m_strClientName;
    std::string m_strSolrClientName;
    std::string m_strAppGUID;
    std::string m_strVSACatalogBackupSetGUID;
    unsigned long m_ulFleetId;
    unsigned long m_ulAppType;
    TQBkpLevel m_eBackupType;
    std::string m_strJobToken;
    std::string m_strIndexingServerClientName;
    unsigned long long m_ullIndexingConnectionFlags;
    long long m_llSnapJobId;
    unsigned long m_ulSnapArchiveFileID;
    unsigned long m_ulArchiveFileFlags;
    long m_lRefTime;
    unsigned long m_ulClientOSId;
    std::string m_strIndexingServerMangledName;
    std::string m_strAuditSolrUrl;
    std::string m_strRestAPISolrUrl;
    bool m_bPushOnlyMetaData;
    bool m_bCollectSecurityInfo;
    bool m_bCollectOwnerInfo;
    bool m_bRetainVersion;
    bool m_bScanPhase;
    bool m_bPushMetaDataWithCRC;
    long long m_llMaxConsecutiveFailures;
    long long m_llMaxFailures;
    long long m_llMaxRetryOnMemoryFailures;
    long long m_llJobId;
    std::string m_strJobId;
    unsigned int m_nClientId;
    std::string m_strClientId;
    unsigned int m_nApplicationNumber;
    std::string m_strApplicationNumber;
    long long m_llMaxFileSizePushContent;
    long long m_llMinFileSizePushContent;
    std::set<std::string> m_setIncludeFilters;
    std::set<std::string> m_setExcludeFilters;
    std::list<std::string> m_lstExcludePaths;
    std::map<std::string, std::string> m_mapSchemaFields;
    int m_nMaxItemsPerTransaction;
    std::string m_strBaseSolrUrl;
    std::wstring m_wstrBaseSolrUrl;
    bool m_bOptimizeContentPush;
    bool m_bCloudMode;
    bool m_bPreserveAccessTime;
    bool m_bNasClient;
    bool m_bVMContentIndexing;
    bool m_bSPContentIndexing;
    std::string m_strVMName;
    std::string m_strVMGUID;
    std::string m_strVMHypervisor;
    std::map<std::string, std::string> m_mapVmMountPathVol;
    VirtualServer::VMCatalogOptions m_vmCatalogOptions;
    bool m_bDisableFailureLogging;
    bool m_bEnableMonitoring;
    bool m_bUseDynamicTppm;
    bool m_bAuditingContext;
    unsigned int m_nMaxCollectFileID;
};

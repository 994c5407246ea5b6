// The initializer of index-engine jobs: gathers the job's settings (from the management server,
// or from the configuration cache file when the job asks), lets the platform settings of section
// "FileSystemAgent" override them, works out the engine's URLs, makes the job callback and a
// transmitter of type 0, writes its option bag, starts it, pings the engine and, for a
// re-analysis on the first attempt, clears the engine's data source.
//
// The job calls the setters, then InitializeSolrTransmitter once, then takes the transmitter
// (GetSolrTransmitterInstance) and reads back, through the getters, how it is to feed it: only
// metadata or content too, items or content during the scan, owner and security information, the
// extensions the include filters name. After a failure GetSolrInitFailureReason gives the text
// for the operator (empty for failures that have none). Nothing thrown inside leaves an exported
// call: it comes back as 14 (memory) or 1359.
#pragma once

#include <set>
#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/SyncHandleOwners.h"
#include "startup/IdxTransmitterInit.h"

class FXAccessToken;
class CFSSolrAckCallbackInterface;
class FSSolrTransmitterConfigCacheParams;

class IDX_EXPORT CSolrTransmitterInit : public CIdxTransmitterInit {
public:
    CSolrTransmitterInit();
    ~CSolrTransmitterInit() override;

    // The start-up. The job-control client is required (the job id comes from it); the
    // backup-job client may be null and only reaches the job callback. A null application or
    // job-control client is 87 naming it.
    CKyError InitializeSolrTransmitter(ApplicationIdPtr ptrApplicationId,
                                       const std::string &strSubclientDir,
                                       TQJobCtrlClient *pJobCtrlClient,
                                       TQBkpJobClient *pBkpJobClient, bool bUseCache,
                                       bool bSaveCache) override;
    // Refused with 774: this class starts index-engine transmitters only.
    CKyError InitializeIdxTransmitter(CBagPtr ptrScannerBag, TQJobCtrlClient *pJobCtrlClient,
                                      TQBkpJobClient *pBkpJobClient,
                                      CSolrTransmitterCallbackPtr ptrCallback) override;
    std::string GetSolrInitFailureReason() override;
    // A transmitter of type 0.
    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;

    void SetReanalyze(bool bReanalyze) { m_bReanalyze = bReanalyze; }
    void SetAttemptNumber(int nAttemptNumber) { m_nAttemptNumber = nAttemptNumber; }
    void SetIsScanPhase(bool bIsScanPhase) { m_bIsScanPhase = bIsScanPhase; }
    void SetDisableFailureLogging(bool bDisable) { m_bDisableFailureLogging = bDisable; }
    void SetIsPushMonitoredEventsToAuditCore(bool bPush) {
        m_bPushMonitoredEventsToAuditCore = bPush;
    }
    void SetAccessToken(boost::shared_ptr<FXAccessToken> ptrAccessToken);
    // Replaces the kept transmitter.
    void SetSolrTransmitterInstance(CSolrTransmitterPtr ptrTransmitter);

    // What the last start-up decided (the defaults before one).
    bool IfPushOnlyMetaData() const { return m_bPushOnlyMetaData; }
    bool IfPushContentInScan() const { return m_bPushContentInScan; }
    bool IfPushItemsInScan() const { return m_bPushItemsInScan; }
    bool IfCollectOwnerInfo() const { return m_bCollectOwnerInfo; }
    bool IfCollectSecurityInfo() const { return m_bCollectSecurityInfo; }
    bool GetForceDisableContentPush() const { return m_bForceDisableContentPush; }
    // The extensions the include filters name ("*.doc,notes" gives "doc" and "notes").
    std::set<std::string> GetIncludeFilterSet() const { return m_setIncludeFilters; }

    // Where a job's access token would be made for the subclient; none is made here.
    CKyError GenerateAccessToken(Subclient *pSubclient);

    // Percent-encoding of a URL parameter value: letters, digits and "-_.~" stay, every other
    // byte becomes "%" and two lower-case hexadecimal digits.
    static std::string Urlencode(const std::string &strText);

    // The configuration cache file (layout in startup/SolrTransmitterConfigCache.h). Saving
    // writes a new file beside it and renames that over the cache's name, so a symbolic link or
    // anything else found there is replaced, never written through. Reading fails with 1627 on
    // anything but a regular file (a symbolic link included), on a file of no record, on a short
    // or damaged file, and on a record longer than the bytes left or than kMaxCacheRecordBytes,
    // found before anything is allocated for it; the records read before the failure stay in
    // the record.
    static constexpr unsigned long long kMaxCacheRecordBytes = 1024 * 1024;
    CKyError SaveToCache(const std::string &strCacheFile,
                         FSSolrTransmitterConfigCacheParams &params);
    CKyError InitializeFromCache(const std::string &strCacheFile,
                                 FSSolrTransmitterConfigCacheParams &params);

private:
    // The steps of the start-up; see the .cpp.
    CKyError StartUp(ApplicationIdPtr ptrApplicationId, const std::string &strSubclientDir,
                     TQJobCtrlClient *pJobCtrlClient, TQBkpJobClient *pBkpJobClient, bool bUseCache,
                     bool bSaveCache);
    // Fills every setting of the record except the three the job itself gives (scan phase,
    // failure logging, subclient folder), which start-up sets on both paths.
    CKyError ResolveFromManagementServer(TQClient &client, Subclient &subclient,
                                         const std::string &strMonitorDir,
                                         FSSolrTransmitterConfigCacheParams &params);

    bool m_bReanalyze;
    int m_nAttemptNumber;
    bool m_bPushOnlyMetaData;
    bool m_bIsScanPhase;
    bool m_bPushContentInScan;
    bool m_bPushItemsInScan;
    bool m_bDisableFailureLogging;
    bool m_bEnableMonitoring;
    bool m_bPushMonitoredEventsToAuditCore;
    bool m_bForceDisableContentPush; // no operation sets it
    std::string m_sSolrInitFailureReason;
    std::set<std::string> m_setIncludeFilters;
    boost::shared_ptr<FXAccessToken> m_ptrAccessToken;
    TqCriticalSection m_cacheLock; // serialises the cache file's reads and writes
    std::string m_sCacheFileName;
    boost::shared_ptr<CFSSolrAckCallbackInterface> m_ptrAckCallback; // no operation sets it
};

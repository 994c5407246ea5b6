// The settings an index-engine start-up resolved, as one record: filled from the management
// server (or read back from the configuration cache file), written to the option bag, and saved
// to the cache file when the job asks.
//
// The record is serialised as tokens; the token id is each setting's only name in the file, so
// the ids below never change meaning. There is no token 20. The cloud-mode flag and the
// monitoring folder are held twice (tokens 9 and 28, 11 and 30) because files already written
// carry both; start-up fills both of each pair and reads back the second.
//
// The cache file ("FSSolrTransmitter_config.tqf" in the subclient folder): a 4-byte format
// version (1), an 8-byte record count (1), then per record an 8-byte length and that many bytes
// of token data, the numbers in the machine's byte order. CSolrTransmitterInit::SaveToCache and
// InitializeFromCache write and read it.
#pragma once

#include <string>

#include "foundation/Accessors.h"
#include "foundation/Export.h"
#include "foundation/KyError.h"
#include "platform/SerializedBase.h"

class IDX_EXPORT FSSolrTransmitterConfigCacheParams : public CSerializedBase {
public:
    enum ETokenId : unsigned int {
        eVersion = 1,
        eClientName = 2,
        eClientId = 3,
        eAppId = 4,
        eIsNasClient = 5,
        eAuditSolrUrl = 6,
        eUnusedText = 7,
        eEnableMonitoring = 8,
        eIsCloudModeFirst = 9,
        eAppGUID = 10,
        eMonitorJobResultsDirFirst = 11,
        eSubClientDir = 12,
        eCollectSecurityInfo = 13,
        eCollectOwnerInfo = 14,
        eUpdateUrl = 15,
        eCompleteSolrExtractUrl = 16,
        eCompleteSolrUrl = 17,
        eMaxFileSizePushContents = 18,
        eMinFileSizePushContents = 19,
        ePushOnlyMetaData = 21,
        eIncludeFilters = 22,
        eSolrClientName = 23,
        eBaseSolrUrl = 24,
        eIsScanPhase = 25,
        ePushMetaDataWithCRC = 26,
        eOptimizeContentPush = 27,
        eIsCloudMode = 28,
        eIsDisableFailureLogging = 29,
        eMonitorJobResultsDir = 30,
        eIsPreserveAccessTime = 31,
    };

    FSSolrTransmitterConfigCacheParams() = default;
    ~FSSolrTransmitterConfigCacheParams() override;

    // Adds the tokens in id order, then the base's part.
    CKyError Save(CSerializedBuffer *pBuffer) const override;

    // Each stores the value when the id is a field of the overload's type; any other id is 1608
    // and changes nothing.
    using CSerializedBase::LoadToken;
    CKyError LoadToken(unsigned int nId, const std::string &strValue) override;
    CKyError LoadToken(unsigned int nId, int nValue) override;
    CKyError LoadToken(unsigned int nId, unsigned int nValue) override;
    CKyError LoadToken(unsigned int nId, long long llValue) override;
    CKyError LoadToken(unsigned int nId, bool bValue) override;

    int m_nVersion = 1;
    std::string m_strClientName;
    unsigned int m_nClientId = 0;
    unsigned int m_nAppId = 0; // the subclient's id
    bool m_bIsNasClient = false;
    std::string m_strAuditSolrUrl;
    std::string m_strUnusedText; // never set by start-up; kept for the files that carry it
    bool m_bEnableMonitoring = false;
    bool m_bIsCloudModeFirst = false;
    std::string m_strAppGUID;
    std::string m_strMonitorJobResultsDirFirst;
    std::string m_strSubClientDir;
    bool m_bCollectSecurityInfo = false;
    bool m_bCollectOwnerInfo = false;
    std::string m_strUpdateUrl;
    std::string m_strCompleteSolrExtractUrl;
    std::string m_strCompleteSolrUrl;
    long long m_llMaxFileSizePushContents = 52428800;
    long long m_llMinFileSizePushContents = 0;
    bool m_bPushOnlyMetaData = true;
    std::string m_strIncludeFilters;
    std::string m_strSolrClientName;
    std::string m_strBaseSolrUrl;
    bool m_bIsScanPhase = false;
    bool m_bPushMetaDataWithCRC = false;
    bool m_bOptimizeContentPush = false;
    bool m_bIsCloudMode = false;
    bool m_bIsDisableFailureLogging = false;
    std::string m_strMonitorJobResultsDir;
    bool m_bIsPreserveAccessTime = false;
};

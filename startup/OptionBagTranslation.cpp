// The option-bag translation (startup/OptionBagTranslation.h): one part per kind of transmitter,
// the keys both read said once.
#include <list>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include <boost/any.hpp>

#include "foundation/Accessors.h"
#include "foundation/ErrorCodes.h"
#include "foundation/StringHelpers.h"
#include "platform/Bag.h"
#include "platform/EventThread.h"
#include "platform/LogWriter.h"
#include "platform/ManagementData.h"
#include "platform/MessageRecords.h"
#include "platform/PlatformInfo.h"
#include "startup/ConfigureFromBagHelpers.h"
#include "startup/IncludeFilterExtensions.h"
#include "startup/OptionBagTranslation.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

namespace {

typedef SXTransmitterConfigurationBagId BagId;

const char kPlatformSection[] = "FileSystemAgent";

// Include filters of a virtual-machine job match a name in any folder of the machine's disks.
std::set<std::string> BuildPathPatterns(const std::string &strFilters) {
    std::set<std::string> setPatterns;
    for (const std::string &strPiece : FXString::Split(strFilters, ",")) {
        setPatterns.insert("/**/" + strPiece);
    }
    return setPatterns;
}

// The keys both translations read, the same way: who the job and its client are.
void ReadIdentityKeys(const CBag &bag, CTransmitterOptions &options) {
    ReadBagValue<std::string>(bag, BagId::idSubClientDir, options.GetSubClientDir(),
                              [&](const std::string &v) { options.SetSubClientDir(v); });
    ReadBagValue<std::string>(bag, BagId::idClientName, options.GetClientName(),
                              [&](const std::string &v) { options.SetClientName(v); });
    ReadBagValue<unsigned int>(bag, BagId::idAppId, options.GetApplicationNumber(),
                               [&](unsigned int v) { options.SetApplicationNumber(v); });
    ReadBagValue<std::string>(bag, BagId::idAppGUID, options.GetAppGUID(),
                              [&](const std::string &v) { options.SetAppGUID(v); });
    ReadBagValue<bool>(bag, BagId::idCollectSecurityInfo, options.IsCollectSecurityInfo(),
                       [&](bool v) { options.SetCollectSecurityInfo(v); });
    ReadBagValue<bool>(bag, BagId::idCollectOwnerInfo, options.IsCollectOwnerInfo(),
                       [&](bool v) { options.SetCollectOwnerInfo(v); });
    ReadBagValue<long long>(bag, BagId::idJobId, options.GetJobId(),
                            [&](long long v) { options.SetJobId(v); });
    ReadBagValue<unsigned int>(bag, BagId::idClientId, options.GetClientId(),
                               [&](unsigned int v) { options.SetClientId(v); });
}

CKyError TranslateIndexEngineBag(const CBag &bag, CTransmitterOptions &options,
                                 CTransmitterConfiguration &config) {
    CKyError error;

    bool bVMContentIndexing = false;
    if (ReadBagTyped(bag, BagId::idIsVMContentIndexing, bVMContentIndexing)) {
        options.SetVMContentIndexing(bVMContentIndexing);
    }
    IDX_LOG(0, "VM Content Indexing Job:[%s]", bVMContentIndexing ? "True" : "False");
    bool bSPContentIndexing = false;
    if (ReadBagTyped(bag, BagId::idIsSPContentIndexing, bSPContentIndexing)) {
        options.SetSPContentIndexing(bSPContentIndexing);
    }
    IDX_LOG(0, "SharePoint Content Indexing Job:[%s]", bSPContentIndexing ? "True" : "False");
    const bool bVMMode = bVMContentIndexing;
    const bool bSPMode = !bVMMode && bSPContentIndexing;
    const bool bFileSystemMode = !bVMMode && !bSPMode;

    // Each read names the value the record keeps when the bag holds another type; for the
    // few settings the record gives no getter for, that is its starting value.
    ReadBagValue<std::string>(bag, BagId::idServer, std::string(),
                              [&](const std::string &v) { options.SetServer(v); });
    ReadBagValue<unsigned int>(bag, BagId::idServerPort, 80u,
                               [&](unsigned int v) { options.SetServerPort(v); });

    // A file-system job cannot run without the engine's addresses; the web-service modes
    // reach the engine through the plug-in and need none of them.
    if (bFileSystemMode) {
        std::string strValue;
        error = bag.Read(BagId::idUpdateUrl, strValue);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        options.SetUpdateUrl(strValue);
        error = bag.Read(BagId::idBaseSolrUrl, strValue);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        options.SetBaseSolrUrl(strValue);
        error = bag.Read(BagId::idCompleteSolrUrl, strValue);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        options.SetCompleteSolrUrl(strValue);
        error = bag.Read(BagId::idAuditSolrUrl, strValue);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        options.SetAuditSolrUrl(strValue);
        ReadBagValue<bool>(bag, BagId::idAuditingContext, options.IsAuditingContext(),
                           [&](bool v) { options.SetAuditingContext(v); });
    }

    ReadBagValue<std::string>(bag, BagId::idCompleteSolrExtractUrl,
                              options.GetCompleteSolrExtractUrl(),
                              [&](const std::string &v) { options.SetCompleteSolrExtractUrl(v); });
    ReadIdentityKeys(bag, options);
    ReadBagValue<std::string>(bag, BagId::idSolrClientName, options.GetSolrClientName(),
                              [&](const std::string &v) { options.SetSolrClientName(v); });
    ReadBagValue<bool>(bag, BagId::idIsPreserveAccessTime, false,
                       [&](bool v) { options.SetPreserveAccessTime(v); });
    ReadBagValue<bool>(bag, BagId::idIsNasClient, options.IsNasClient(),
                       [&](bool v) { options.SetIsNasClient(v); });
    ReadBagValue<bool>(bag, BagId::idRetainVersion, false,
                       [&](bool v) { options.SetRetainVersion(v); });
    ReadBagValue<long long>(bag, BagId::idMaxFileSizePushContents,
                            options.GetMaxFileSizePushContent(),
                            [&](long long v) { options.SetMaxFileSizePushContent(v); });
    ReadBagValue<long long>(bag, BagId::idMinFileSizePushContents,
                            options.GetMinFileSizePushContent(),
                            [&](long long v) { options.SetMinFileSizePushContent(v); });

    if (bVMMode) {
        ReadBagValue<std::string>(
            bag, BagId::idIncludeFilters, std::string(),
            [&](const std::string &v) { options.SetIncludeFiltersSet(BuildPathPatterns(v)); });
        ReadBagValue<std::string>(
            bag, BagId::idExcludeFilters, std::string(),
            [&](const std::string &v) { options.SetExcludeFiltersSet(BuildPathPatterns(v)); });
    } else if (bFileSystemMode) {
        ReadBagValue<std::string>(bag, BagId::idIncludeFilters, std::string(),
                                  [&](const std::string &v) {
                                      options.SetIncludeFiltersSet(IncludeFilterExtensions(v));
                                  });
    }

    ReadBagValue<int>(bag, BagId::idMaxItemsPerTransaction, options.GetMaxItemsPerTransaction(),
                      [&](int v) { options.SetMaxItemsPerTransaction(v); });
    ReadBagValue<bool>(bag, BagId::idPushOnlyMetaData, options.IsPushOnlyMetaData(),
                       [&](bool v) { options.SetPushOnlyMetaData(v); });
    ReadBagValue<bool>(bag, BagId::idIsScanPhase, options.IsScanPhase(),
                       [&](bool v) { options.SetScanPhase(v); });
    ReadBagValue<bool>(bag, BagId::idPushMetaDataWithCRC, options.IsPushMetaDataWithCRC(),
                       [&](bool v) { options.SetPushMetaDataWithCRC(v); });
    typedef std::map<std::string, std::string> StringMap;
    error = ReadBagAny<StringMap>(bag, BagId::idSchemaFields,
                                  [&](const StringMap &v) { options.SetSchemaFieldsMap(v); });
    if (error.IsError()) {
        return error;
    }
    ReadBagValue<bool>(bag, BagId::idOptimizeContentPush, options.IsOptimizeContentPush(),
                       [&](bool v) { options.SetOptimizeContentPush(v); });
    ReadBagValue<bool>(bag, BagId::idEnableMonitoring, false,
                       [&](bool v) { options.SetEnableMonitoring(v); });
    ReadBagValue<bool>(bag, BagId::idIsCloudMode, options.IsCloudMode(),
                       [&](bool v) { options.SetCloudMode(v); });
    ReadBagValue<bool>(bag, BagId::idUseDynamicTppm, options.GetUseDynamicTppm(),
                       [&](bool v) { options.SetUseDynamicTppm(v); });
    // An empty pointer or a value of another type is a failed read (1168): no abort event.
    boost::shared_ptr<FXEvent> ptrAbortEvent;
    if (!bag.Read<FXEvent>(BagId::idAbortEvent, ptrAbortEvent, 0).IsError()) {
        options.SetAbortEvent(ptrAbortEvent);
    } else {
        // An empty event pointer is no event; only a value of another type is a mistake.
        boost::any stored;
        if (!bag.ReadAny(BagId::idAbortEvent, stored).IsError() &&
            boost::any_cast<boost::shared_ptr<FXEvent>>(&stored) == nullptr) {
            LogWrongBagType(bag, BagId::idAbortEvent,
                            CBag::TypeName(boost::any(boost::shared_ptr<FXEvent>())), "no event");
        }
    }

    if (bVMMode) {
        ReadBagValue<std::string>(bag, BagId::idVMName, options.GetVMName(),
                                  [&](const std::string &v) { options.SetVMName(v); });
        ReadBagValue<std::string>(bag, BagId::idVMGUID, options.GetVMGUID(),
                                  [&](const std::string &v) { options.SetVMGUID(v); });
        ReadBagValue<std::string>(bag, BagId::idVMHypervisor, std::string(),
                                  [&](const std::string &v) { options.SetVMHypervisor(v); });
        error = ReadBagAny<StringMap>(bag, BagId::idVMMountPaths,
                                      [&](const StringMap &v) { options.SetVmMountPathVol(v); });
        if (error.IsError()) {
            return error;
        }
        error = ReadBagAny<VirtualServer::VMCatalogOptions>(
            bag, BagId::idVMCatalogOptions,
            [&](const VirtualServer::VMCatalogOptions &v) { options.SetVMCatalogOptions(v); });
        if (error.IsError()) {
            return error;
        }
        error = ReadBagAny<std::list<std::string>>(
            bag, BagId::idExcludePaths,
            [&](const std::list<std::string> &v) { options.SetExcludePaths(v); });
        if (error.IsError()) {
            return error;
        }
    }

    ReadBagValue<bool>(bag, BagId::idIsDisableFailureLogging, options.IsDisableFailureLogging(),
                       [&](bool v) { options.SetDisableFailureLogging(v); });

    // Platform settings: an absent one leaves the preset, which is the default.
    TQPlatformInfo platformInfo;
    uint32_t nMaxRetryThresholdInMins = 10;
    if (platformInfo.getNumber(kPlatformSection, "nMaxRetryThresholdInMins",
                               &nMaxRetryThresholdInMins)) {
        IDX_LOG(0, "nMaxRetryThresholdInMins[%lu] from registry",
                tqcast::lu(nMaxRetryThresholdInMins));
    }
    options.SetMaxRetryOnMemoryFailures(nMaxRetryThresholdInMins);

    uint32_t nMaxConsecutiveFailures = 10;
    platformInfo.getNumber(kPlatformSection, "nMaxConsecutiveFailures", &nMaxConsecutiveFailures);
    options.SetMaxConsecutiveFailuresThreshold(nMaxConsecutiveFailures);
    IDX_LOG(0, "nMaxConsecutiveFailures[%lu]", tqcast::lu(nMaxConsecutiveFailures));

    uint32_t nMaxFailures = 500;
    platformInfo.getNumber(kPlatformSection, "nMaxFailures", &nMaxFailures);
    options.SetMaxFailuresThreshold(nMaxFailures);
    IDX_LOG(0, "nMaxFailures[%lu]", tqcast::lu(nMaxFailures));

    uint32_t nQueueTimeoutInMins = config.m_nQueueTimeoutInMins;
    if (platformInfo.getNumber(kPlatformSection, "nTransmitterQueueTimeoutInMins",
                               &nQueueTimeoutInMins)) {
        config.m_nQueueTimeoutInMins = nQueueTimeoutInMins;
        IDX_LOG(0, "nTransmitterQueueTimeoutInMins[%lu] from registry",
                tqcast::lu(config.m_nQueueTimeoutInMins));
    }

    const char szDisablePerfThread[] = "nDisableSolrPerfThread";
    int32_t nDisableSolrPerfThread = config.m_nDisableSolrPerfThread;
    if (platformInfo.getNumber(kPlatformSection, szDisablePerfThread, &nDisableSolrPerfThread)) {
        config.m_nDisableSolrPerfThread = nDisableSolrPerfThread;
        IDX_LOG(0, "%s[%d] from registry", szDisablePerfThread, config.m_nDisableSolrPerfThread);
    }

    config.m_bDataConfiguredFromBag = true;
    return CKyError::Success();
}

// The index server of an index-log job. A virtual-machine catalogue names it by its client; the
// other types by its mangled host name. Each form gives the other.
CKyError ConfigureIndexingServer(const CBag &bag, eIDX_Transmitter_Type eType,
                                 CTransmitterOptions &options) {
    std::string strIndexingServer;
    CKyError error = bag.Read(BagId::idIndexingServer, strIndexingServer);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    if (eType == eIDX_Transmitter_VSA) {
        options.SetIndexingServerClientName(strIndexingServer);
        TQClient client(strIndexingServer, false, 0);
        std::string strMangled;
        client.getNetworkHostnameMangled(strMangled, nullptr);
        options.SetIndexingServerMangledName(strMangled);
    } else {
        options.SetIndexingServerMangledName(strIndexingServer);
        std::string strHostName;
        std::string strClientName;
        int nFirst = 0;
        int nSecond = 0;
        DemangleHostName(strIndexingServer.c_str(), strHostName, strClientName, nFirst, nSecond);
        options.SetIndexingServerClientName(strClientName);
    }
    return CKyError::Success();
}

CKyError TranslateIndexLogBag(const CBag &bag, eIDX_Transmitter_Type eType,
                              CTransmitterOptions &options) {
    ReadIdentityKeys(bag, options);
    ReadBagValue<unsigned long>(bag, BagId::idFleetId, options.GetFleetId(),
                                [&](unsigned long v) { options.SetFleetId(v); });
    ReadBagValue<unsigned long>(bag, BagId::idAppType, options.GetAppType(),
                                [&](unsigned long v) { options.SetAppType(v); });
    ReadBagValue<TQBkpLevel>(bag, BagId::idBackupType, options.GetBackupType(),
                             [&](TQBkpLevel v) { options.SetBackupType(v); });
    ReadBagValue<std::string>(bag, BagId::idJobToken, options.GetJobToken(),
                              [&](const std::string &v) { options.SetJobToken(v); });

    CKyError error = ConfigureIndexingServer(bag, eType, options);
    if (error.IsError()) {
        IDX_LOG_ERROR("Configure_IndexingServer failed with error [%s]", error.AsString().c_str());
    }

    ReadBagValue<unsigned long long>(
        bag, BagId::idIndexingConnectionFlags, options.GetIndexingConnectionFlags(),
        [&](unsigned long long v) { options.SetIndexingConnectionFlags(v); });
    ReadBagValue<long long>(bag, BagId::idSnapJobId, options.GetSnapJobId(),
                            [&](long long v) { options.SetSnapJobId(v); });
    ReadBagValue<unsigned long>(bag, BagId::idSnapArchiveFileID, options.GetSnapArchiveFileID(),
                                [&](unsigned long v) { options.SetSnapArchiveFileID(v); });
    ReadBagValue<unsigned long>(bag, BagId::idArchiveFileflags, options.GetArchiveFileFlags(),
                                [&](unsigned long v) { options.SetArchiveFileFlags(v); });
    ReadBagValue<long>(bag, BagId::idRefTime, options.GetRefTime(),
                       [&](long v) { options.SetRefTime(v); });
    ReadBagValue<unsigned long>(bag, BagId::idClientOSId, options.GetClientOSId(),
                                [&](unsigned long v) { options.SetClientOSId(v); });
    ReadBagValue<std::string>(bag, BagId::idVSACatalogBackupSetGUID,
                              options.GetVSACatalogBackupSetGUID(),
                              [&](const std::string &v) { options.SetVSACatalogBackupSetGUID(v); });
    ReadBagValue<std::string>(bag, BagId::idVMName, options.GetVMName(), [&](const std::string &v) {
        options.SetVMName(v);
        IDX_LOG(5, "VM Display Name %s", v.c_str());
    });
    ReadBagValue<std::string>(bag, BagId::idVMGUID, options.GetVMGUID(),
                              [&](const std::string &v) { options.SetVMGUID(v); });
    typedef std::map<std::string, std::string> StringMap;
    error = ReadBagAny<StringMap>(bag, BagId::idVMMountPaths,
                                  [&](const StringMap &v) { options.SetVmMountPathVol(v); });
    if (error.IsError()) {
        return error;
    }
    ReadBagValue<bool>(bag, BagId::idIsDisableFailureLogging, options.IsDisableFailureLogging(),
                       [&](bool v) { options.SetDisableFailureLogging(v); });
    // Read whole, so that a negative value is not taken as a wrapped large one.
    long long llMaxCollectFileId = options.GetMaxCollectFileID();
    if (ReadBagTyped(bag, BagId::idMaxCollectFileID, llMaxCollectFileId)) {
        error = CheckMaxCollectFileId("Option", llMaxCollectFileId);
        if (error.IsError()) {
            return error;
        }
        options.SetMaxCollectFileID(static_cast<unsigned int>(llMaxCollectFileId));
    }
    IDX_LOG(0, "max Collect-File-ID : %u", options.GetMaxCollectFileID());
    return CKyError::Success();
}

} // namespace

CKyError TranslateOptionBag(const CBag &bag, eIDX_Transmitter_Type eType,
                            CTransmitterOptions &options, CTransmitterConfiguration &config) {
    // A bad value in the bag must come back as an error, never as an exception out of Start.
    try {
        return eType == eIDX_Transmitter_Solr ? TranslateIndexEngineBag(bag, options, config)
                                              : TranslateIndexLogBag(bag, eType, options);
    } catch (const std::bad_alloc &) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory,
                                       "Not enough memory to translate the options");
    } catch (const std::exception &e) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Failed to translate the options: %s", e.what());
    } catch (...) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Failed to translate the options");
    }
}

// The option-bag key texts.
#include "transmitter/TransmitterConfigurationBagId.h"

const char *const SXTransmitterConfigurationBagId::idIsVMContentIndexing =
    "isVMContentIndexing:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsSPContentIndexing =
    "isSPContentIndexing:Transmitter";
const char *const SXTransmitterConfigurationBagId::idServer = "Server:Transmitter";
const char *const SXTransmitterConfigurationBagId::idServerPort = "ServerPort:Transmitter";
const char *const SXTransmitterConfigurationBagId::idUpdateUrl = "UpdateUrl:Transmitter";
const char *const SXTransmitterConfigurationBagId::idBaseSolrUrl = "BaseSolrUrl:Transmitter";
const char *const SXTransmitterConfigurationBagId::idCompleteSolrUrl =
    "CompleteSolrUrl:Transmitter";
const char *const SXTransmitterConfigurationBagId::idAuditSolrUrl = "AuditSolrUrl:Transmitter";
const char *const SXTransmitterConfigurationBagId::idAuditingContext =
    "AuditingContext:Transmitter";
const char *const SXTransmitterConfigurationBagId::idCompleteSolrExtractUrl =
    "CompleteSolrExtractUrl:Transmitter";
const char *const SXTransmitterConfigurationBagId::idSubClientDir = "SubClientDir:Transmitter";
const char *const SXTransmitterConfigurationBagId::idClientName = "ClientName:Transmitter";
const char *const SXTransmitterConfigurationBagId::idSolrClientName = "SolrClientName:Transmitter";
const char *const SXTransmitterConfigurationBagId::idAppId = "AppId:Transmitter";
const char *const SXTransmitterConfigurationBagId::idAppGUID = "AppGUID:Transmitter";
const char *const SXTransmitterConfigurationBagId::idCollectSecurityInfo =
    "CollectSecurityInfo:Transmitter";
const char *const SXTransmitterConfigurationBagId::idCollectOwnerInfo =
    "CollectOwnerInfo:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsPreserveAccessTime =
    "IsPreserveAccessTime:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsNasClient = "IsNasClient:Transmitter";
const char *const SXTransmitterConfigurationBagId::idRetainVersion = "RetainVersion:Transmitter";
const char *const SXTransmitterConfigurationBagId::idJobId = "JobId:Transmitter";
const char *const SXTransmitterConfigurationBagId::idMaxFileSizePushContents =
    "MaxFileSizePushContents:Transmitter";
const char *const SXTransmitterConfigurationBagId::idMinFileSizePushContents =
    "MinFileSizePushContents:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIncludeFilters = "IncludeFilters:Transmitter";
const char *const SXTransmitterConfigurationBagId::idExcludeFilters = "ExcludeFilters:Transmitter";
const char *const SXTransmitterConfigurationBagId::idClientId = "ClientId:Transmitter";
const char *const SXTransmitterConfigurationBagId::idMaxItemsPerTransaction =
    "MaxItemsPerTransaction:Transmitter";
const char *const SXTransmitterConfigurationBagId::idPushOnlyMetaData =
    "PushOnlyMetaData:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsScanPhase = "IsScanPhase:Transmitter";
const char *const SXTransmitterConfigurationBagId::idPushMetaDataWithCRC =
    "PushMetaDataWithCRC:Transmitter";
const char *const SXTransmitterConfigurationBagId::idSchemaFields = "SchemaFields:Transmitter";
const char *const SXTransmitterConfigurationBagId::idOptimizeContentPush =
    "OptimizeContentPush:Transmitter";
const char *const SXTransmitterConfigurationBagId::idEnableMonitoring =
    "EnableMonitoring:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsCloudMode = "IsCloudMode:Transmitter";
const char *const SXTransmitterConfigurationBagId::idUseDynamicTppm = "UseDynamicTppm:Transmitter";
const char *const SXTransmitterConfigurationBagId::idAbortEvent = "AbortEvent:Transmitter";
const char *const SXTransmitterConfigurationBagId::idVMName = "VMName:Transmitter";
const char *const SXTransmitterConfigurationBagId::idVMGUID = "VMGUID:Transmitter";
const char *const SXTransmitterConfigurationBagId::idVMHypervisor = "VMHypervisor:Transmitter";
const char *const SXTransmitterConfigurationBagId::idVMMountPaths = "VMMountPaths:Transmitter";
const char *const SXTransmitterConfigurationBagId::idVMCatalogOptions =
    "VMCatalogOptions:Transmitter";
const char *const SXTransmitterConfigurationBagId::idExcludePaths = "ExcludePaths:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsDisableFailureLogging =
    "IsDisableFailureLogging:Transmitter";
const char *const SXTransmitterConfigurationBagId::idFleetId = "FleetId:Transmitter";
const char *const SXTransmitterConfigurationBagId::idAppType = "AppType:Transmitter";
const char *const SXTransmitterConfigurationBagId::idBackupType = "BackupType:Transmitter";
const char *const SXTransmitterConfigurationBagId::idJobToken = "JobToken:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIndexingServer = "IndexingServer:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIndexingConnectionFlags =
    "IdexingConnFlags:Transmitter";
const char *const SXTransmitterConfigurationBagId::idSnapJobId = "SnapJobId:Transmitter";
const char *const SXTransmitterConfigurationBagId::idSnapArchiveFileID =
    "SnapArchiveFileID:Transmitter";
const char *const SXTransmitterConfigurationBagId::idArchiveFileflags =
    "ArchiveFileFlags:Transmitter";
const char *const SXTransmitterConfigurationBagId::idRefTime = "RefTime:RefTime";
const char *const SXTransmitterConfigurationBagId::idClientOSId = "ClientOSId:Transmitter";
const char *const SXTransmitterConfigurationBagId::idVSACatalogBackupSetGUID =
    "VSACatalogBackupSetGUID:Transmitter";
const char *const SXTransmitterConfigurationBagId::idMaxCollectFileID = "MaxCollectFileID";
const char *const SXTransmitterConfigurationBagId::idMonitorJobResultsDir =
    "MonitorJobResultsDir:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsContentId = "ContentId:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsItemURL = "ItemURL:Transmitter";
const char *const SXTransmitterConfigurationBagId::idIsRoot = "IsRoot:Transmitter";

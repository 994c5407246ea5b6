// The names of the option-bag values through which a transmitter receives its settings, shared
// by every unit that writes or reads the bag.
//
// As a rule a key is its name followed by ":Transmitter". The exceptions are deliberate and must
// be kept byte for byte, since hosting jobs fill the bag with the same texts: the lower-case
// "isVMContentIndexing" and "isSPContentIndexing", "IdexingConnFlags" (member
// idIndexingConnectionFlags), the member idArchiveFileflags, "RefTime:RefTime" and
// "MaxCollectFileID" without a suffix.
#pragma once

#include "foundation/Export.h"

struct IDX_EXPORT SXTransmitterConfigurationBagId {
    // Keys read by the index-engine translation, in the order it reads them.
    static const char *const idIsVMContentIndexing;
    static const char *const idIsSPContentIndexing;
    static const char *const idServer;
    static const char *const idServerPort;
    static const char *const idUpdateUrl;
    static const char *const idBaseSolrUrl;
    static const char *const idCompleteSolrUrl;
    static const char *const idAuditSolrUrl;
    static const char *const idAuditingContext;
    static const char *const idCompleteSolrExtractUrl;
    static const char *const idSubClientDir;
    static const char *const idClientName;
    static const char *const idSolrClientName;
    static const char *const idAppId;
    static const char *const idAppGUID;
    static const char *const idCollectSecurityInfo;
    static const char *const idCollectOwnerInfo;
    static const char *const idIsPreserveAccessTime;
    static const char *const idIsNasClient;
    static const char *const idRetainVersion;
    static const char *const idJobId;
    static const char *const idMaxFileSizePushContents;
    static const char *const idMinFileSizePushContents;
    static const char *const idIncludeFilters;
    static const char *const idExcludeFilters;
    static const char *const idClientId;
    static const char *const idMaxItemsPerTransaction;
    static const char *const idPushOnlyMetaData;
    static const char *const idIsScanPhase;
    static const char *const idPushMetaDataWithCRC;
    static const char *const idSchemaFields;
    static const char *const idOptimizeContentPush;
    static const char *const idEnableMonitoring;
    static const char *const idIsCloudMode;
    static const char *const idUseDynamicTppm;
    static const char *const idAbortEvent;
    static const char *const idVMName;
    static const char *const idVMGUID;
    static const char *const idVMHypervisor;
    static const char *const idVMMountPaths;
    static const char *const idVMCatalogOptions;
    static const char *const idExcludePaths;
    static const char *const idIsDisableFailureLogging;

    // Keys read only by the index-log translation.
    static const char *const idFleetId;
    static const char *const idAppType;
    static const char *const idBackupType;
    static const char *const idJobToken;
    static const char *const idIndexingServer;
    static const char *const idIndexingConnectionFlags;
    static const char *const idSnapJobId;
    static const char *const idSnapArchiveFileID;
    static const char *const idArchiveFileflags;
    static const char *const idRefTime;
    static const char *const idClientOSId;
    static const char *const idVSACatalogBackupSetGUID;
    static const char *const idMaxCollectFileID;

    // Written by the index-engine initializer, read by nothing.
    static const char *const idMonitorJobResultsDir;

    // Values of an item's own bag (or its work-unit bag), not of the option bag.
    static const char *const idIsContentId;
    static const char *const idIsItemURL;
    static const char *const idIsRoot;
};

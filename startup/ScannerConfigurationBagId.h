// The names of the values in an index-log job's own property bag (the scanner bag) that the
// index-log initializers read. Unlike the option bag's keys they carry no suffix; the texts are
// the job's and must be kept byte for byte.
#pragma once

struct SXScannerConfigurationBagId {
    static const char *const idFleetId;
    static const char *const idAppId;
    static const char *const idAppType;
    static const char *const idAppIdGUID;
    static const char *const idClientID;
    static const char *const idClientName;
    static const char *const idJobResultFolderPath;
    static const char *const idStoreNode;
    static const char *const idSnapJobID;
    static const char *const idAfileID;
    static const char *const idVSACatalogingRefTime;
    static const char *const idVSAClientOSID;
    static const char *const idVSACatalogBackupSetGUID;
    static const char *const idBackupType;
    static const char *const idVSACatalogVMGUID;
    static const char *const idVSACatalogVMName;
    static const char *const idIsDisableFailureLogging;
    static const char *const idVMMountPaths;
    static const char *const idMaxCollectFileID;
};

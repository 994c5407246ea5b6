#include "startup/ScannerConfigurationBagId.h"

typedef SXScannerConfigurationBagId Id;

const char *const Id::idFleetId = "FleetId";
const char *const Id::idAppId = "appId";
const char *const Id::idAppType = "appType";
const char *const Id::idAppIdGUID = "SC:AppIdGUID";
const char *const Id::idClientID = "ClientID";
const char *const Id::idClientName = "Client::ClientName";
const char *const Id::idJobResultFolderPath = "JR:job";
const char *const Id::idStoreNode = "StoreNode";
const char *const Id::idSnapJobID = "SnapJobID";
const char *const Id::idAfileID = "aFileID";
const char *const Id::idVSACatalogingRefTime = "VSACatalogingRefTime";
const char *const Id::idVSAClientOSID = "VSAClientOSID";
const char *const Id::idVSACatalogBackupSetGUID = "VSACatalogBackupSetGUID";
const char *const Id::idBackupType = "backupType";
const char *const Id::idVSACatalogVMGUID = "VSACatalogVMGUID";
const char *const Id::idVSACatalogVMName = "VSACatalogVMName";
const char *const Id::idIsDisableFailureLogging = "IsDisableFailureLogging";
const char *const Id::idVMMountPaths = "VMMountPaths";
const char *const Id::idMaxCollectFileID = "MaxCollectFileID";

// The option-bag translation for index-log transmitters (types 1 to 5) and its index-server step.
//
// Unlike the index-engine translation it has no mandatory key and reads no platform settings:
// every key absent from the bag leaves the record's starting value, and the translation goes on.
// It never marks the shared state as configured, so it runs again on every engine query.
#include <map>
#include <new>
#include <string>

#include "foundation/ErrorCodes.h"
#include "platform/Bag.h"
#include "platform/LogWriter.h"
#include "platform/ManagementData.h"
#include "startup/ConfigureFromBagHelpers.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

namespace {
typedef SXTransmitterConfigurationBagId BagId;
} // namespace

CKyError CSolrTransmitterPrivate::ConfigureFromBag_LogWriter() {
    if (!m_ptrOptionsBag) {
        return CKyError::Success();
    }
    try {
        const CBag &bag = *m_ptrOptionsBag;
        CTransmitterOptions &options = *m_ptrOptions;

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
        ReadBagValue<unsigned long>(bag, BagId::idFleetId, options.GetFleetId(),
                                    [&](unsigned long v) { options.SetFleetId(v); });
        ReadBagValue<unsigned int>(bag, BagId::idClientId, options.GetClientId(),
                                   [&](unsigned int v) { options.SetClientId(v); });
        ReadBagValue<unsigned long>(bag, BagId::idAppType, options.GetAppType(),
                                    [&](unsigned long v) { options.SetAppType(v); });
        ReadBagValue<TQBkpLevel>(bag, BagId::idBackupType, options.GetBackupType(),
                                 [&](TQBkpLevel v) { options.SetBackupType(v); });
        ReadBagValue<std::string>(bag, BagId::idJobToken, options.GetJobToken(),
                                  [&](const std::string &v) { options.SetJobToken(v); });

        CKyError error = Configure_IndexingServer();
        if (error.IsError()) {
            IDX_LOG_ERROR("Configure_IndexingServer failed with error [%s]",
                          error.AsString().c_str());
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
        ReadBagValue<std::string>(
            bag, BagId::idVSACatalogBackupSetGUID, options.GetVSACatalogBackupSetGUID(),
            [&](const std::string &v) { options.SetVSACatalogBackupSetGUID(v); });
        ReadBagValue<std::string>(bag, BagId::idVMName, options.GetVMName(),
                                  [&](const std::string &v) {
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

CKyError CSolrTransmitterPrivate::Configure_IndexingServer() {
    std::string strIndexingServer;
    CKyError error =
        m_ptrOptionsBag
            ? m_ptrOptionsBag->Read(BagId::idIndexingServer, strIndexingServer)
            : FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter, "No option bag");
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    // A virtual-machine catalogue names the index server by its client; the other types by its
    // mangled host name. Each form gives the other.
    if (m_eTransmitterType == eIDX_Transmitter_VSA) {
        m_ptrOptions->SetIndexingServerClientName(strIndexingServer);
        TQClient client(strIndexingServer, false, 0);
        std::string strMangled;
        client.getNetworkHostnameMangled(strMangled, nullptr);
        m_ptrOptions->SetIndexingServerMangledName(strMangled);
    } else {
        m_ptrOptions->SetIndexingServerMangledName(strIndexingServer);
        std::string strHostName;
        std::string strClientName;
        int nFirst = 0;
        int nSecond = 0;
        DemangleHostName(strIndexingServer.c_str(), strHostName, strClientName, nFirst, nSecond);
        m_ptrOptions->SetIndexingServerClientName(strClientName);
    }
    return CKyError::Success();
}

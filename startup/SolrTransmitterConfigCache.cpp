// The configuration cache: the settings record's tokens, and the file that holds them.
#include "startup/SolrTransmitterConfigCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "foundation/Locks.h"
#include "platform/LogWriter.h"
#include "startup/SolrTransmitterInit.h"
#include "transmitter/ExceptionBoundary.h"

namespace {

typedef FSSolrTransmitterConfigCacheParams Params;

const uint32_t kCacheFormatVersion = 1;

CKyError UnknownToken() {
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eCacheTokenUnknown);
}

// Whole values only: a short read or write is a failure.
template <typename T> bool WriteValue(FILE *pFile, T value) {
    return fwrite(&value, 1, sizeof(value), pFile) == sizeof(value);
}
template <typename T> bool ReadValue(FILE *pFile, T &value) {
    return fread(&value, 1, sizeof(value), pFile) == sizeof(value);
}

// The bytes between the read position and the end of the file; 0 when it cannot be told.
uint64_t BytesLeft(FILE *pFile) {
    struct stat status;
    const off_t nPosition = ftello(pFile);
    if (nPosition < 0 || fstat(fileno(pFile), &status) != 0 || status.st_size < nPosition) {
        return 0;
    }
    return static_cast<uint64_t>(status.st_size - nPosition);
}

// A step of the save that a system call failed (nErrNo, on the new file szTemporary): the error
// carries szMessage, a format naming the cache file, and is logged as the save's failure.
CKyError SaveStepFailed(int nErrNo, const char *szTemporary, const char *szMessage,
                        const std::string &strCacheFile) {
    CKyError error = FXErrorUtil::ErrorErrNo(FXLOC, nErrNo, "%s", szTemporary);
    error.Push(FXLOC, szMessage, strCacheFile.c_str());
    IDX_LOG_ERROR("%s: %s", error.AsString(EErrorOutputFormat(2)).c_str(),
                  error.AsString().c_str());
    return error;
}

} // namespace

Params::~FSSolrTransmitterConfigCacheParams() {}

CKyError Params::Save(CSerializedBuffer *pBuffer) const {
    // Each token's own result is not needed: a buffer that cannot grow keeps whole tokens only,
    // and the file's reader takes the tokens it finds.
    AddToken(pBuffer, eVersion, m_nVersion);
    AddToken(pBuffer, eClientName, m_strClientName);
    AddToken(pBuffer, eClientId, m_nClientId);
    AddToken(pBuffer, eAppId, m_nAppId);
    AddToken(pBuffer, eIsNasClient, m_bIsNasClient);
    AddToken(pBuffer, eAuditSolrUrl, m_strAuditSolrUrl);
    AddToken(pBuffer, eUnusedText, m_strUnusedText);
    AddToken(pBuffer, eEnableMonitoring, m_bEnableMonitoring);
    AddToken(pBuffer, eIsCloudModeFirst, m_bIsCloudModeFirst);
    AddToken(pBuffer, eAppGUID, m_strAppGUID);
    AddToken(pBuffer, eMonitorJobResultsDirFirst, m_strMonitorJobResultsDirFirst);
    AddToken(pBuffer, eSubClientDir, m_strSubClientDir);
    AddToken(pBuffer, eCollectSecurityInfo, m_bCollectSecurityInfo);
    AddToken(pBuffer, eCollectOwnerInfo, m_bCollectOwnerInfo);
    AddToken(pBuffer, eUpdateUrl, m_strUpdateUrl);
    AddToken(pBuffer, eCompleteSolrExtractUrl, m_strCompleteSolrExtractUrl);
    AddToken(pBuffer, eCompleteSolrUrl, m_strCompleteSolrUrl);
    AddToken(pBuffer, eMaxFileSizePushContents, m_llMaxFileSizePushContents);
    AddToken(pBuffer, eMinFileSizePushContents, m_llMinFileSizePushContents);
    AddToken(pBuffer, ePushOnlyMetaData, m_bPushOnlyMetaData);
    AddToken(pBuffer, eIncludeFilters, m_strIncludeFilters);
    AddToken(pBuffer, eSolrClientName, m_strSolrClientName);
    AddToken(pBuffer, eBaseSolrUrl, m_strBaseSolrUrl);
    AddToken(pBuffer, eIsScanPhase, m_bIsScanPhase);
    AddToken(pBuffer, ePushMetaDataWithCRC, m_bPushMetaDataWithCRC);
    AddToken(pBuffer, eOptimizeContentPush, m_bOptimizeContentPush);
    AddToken(pBuffer, eIsCloudMode, m_bIsCloudMode);
    AddToken(pBuffer, eIsDisableFailureLogging, m_bIsDisableFailureLogging);
    AddToken(pBuffer, eMonitorJobResultsDir, m_strMonitorJobResultsDir);
    AddToken(pBuffer, eIsPreserveAccessTime, m_bIsPreserveAccessTime);
    CKyError error = CSerializedBase::Save(pBuffer);
    return error.IsError() ? error.Push(FXLOC) : error;
}

CKyError Params::LoadToken(unsigned int nId, const std::string &strValue) {
    switch (nId) {
    case eClientName:
        m_strClientName = strValue;
        break;
    case eAuditSolrUrl:
        m_strAuditSolrUrl = strValue;
        break;
    case eUnusedText:
        m_strUnusedText = strValue;
        break;
    case eAppGUID:
        m_strAppGUID = strValue;
        break;
    case eMonitorJobResultsDirFirst:
        m_strMonitorJobResultsDirFirst = strValue;
        break;
    case eSubClientDir:
        m_strSubClientDir = strValue;
        break;
    case eUpdateUrl:
        m_strUpdateUrl = strValue;
        break;
    case eCompleteSolrExtractUrl:
        m_strCompleteSolrExtractUrl = strValue;
        break;
    case eCompleteSolrUrl:
        m_strCompleteSolrUrl = strValue;
        break;
    case eIncludeFilters:
        m_strIncludeFilters = strValue;
        break;
    case eSolrClientName:
        m_strSolrClientName = strValue;
        break;
    case eBaseSolrUrl:
        m_strBaseSolrUrl = strValue;
        break;
    case eMonitorJobResultsDir:
        m_strMonitorJobResultsDir = strValue;
        break;
    default:
        return UnknownToken();
    }
    return CKyError::Success();
}

CKyError Params::LoadToken(unsigned int nId, int nValue) {
    if (nId != eVersion) {
        return UnknownToken();
    }
    m_nVersion = nValue; // kept, never compared: every version reads alike
    return CKyError::Success();
}

CKyError Params::LoadToken(unsigned int nId, unsigned int nValue) {
    switch (nId) {
    case eClientId:
        m_nClientId = nValue;
        break;
    case eAppId:
        m_nAppId = nValue;
        break;
    default:
        return UnknownToken();
    }
    return CKyError::Success();
}

CKyError Params::LoadToken(unsigned int nId, long long llValue) {
    switch (nId) {
    case eMaxFileSizePushContents:
        m_llMaxFileSizePushContents = llValue;
        break;
    case eMinFileSizePushContents:
        m_llMinFileSizePushContents = llValue;
        break;
    default:
        return UnknownToken();
    }
    return CKyError::Success();
}

CKyError Params::LoadToken(unsigned int nId, bool bValue) {
    switch (nId) {
    case eIsNasClient:
        m_bIsNasClient = bValue;
        break;
    case eEnableMonitoring:
        m_bEnableMonitoring = bValue;
        break;
    case eIsCloudModeFirst:
        m_bIsCloudModeFirst = bValue;
        break;
    case eCollectSecurityInfo:
        m_bCollectSecurityInfo = bValue;
        break;
    case eCollectOwnerInfo:
        m_bCollectOwnerInfo = bValue;
        break;
    case ePushOnlyMetaData:
        m_bPushOnlyMetaData = bValue;
        break;
    case eIsScanPhase:
        m_bIsScanPhase = bValue;
        break;
    case ePushMetaDataWithCRC:
        m_bPushMetaDataWithCRC = bValue;
        break;
    case eOptimizeContentPush:
        m_bOptimizeContentPush = bValue;
        break;
    case eIsCloudMode:
        m_bIsCloudMode = bValue;
        break;
    case eIsDisableFailureLogging:
        m_bIsDisableFailureLogging = bValue;
        break;
    case eIsPreserveAccessTime:
        m_bIsPreserveAccessTime = bValue;
        break;
    default:
        return UnknownToken();
    }
    return CKyError::Success();
}

CKyError CSolrTransmitterInit::SaveToCache(const std::string &strCacheFile, Params &params) {
    try {
        TQDebugFunction trace(__PRETTY_FUNCTION__, 2);
        TqCriticalSectionLock lock(&m_cacheLock);

        // The record goes to a new file beside the cache, which then replaces the cache's name.
        // Whatever stands at that name (a symbolic link, a pipe) is replaced, never opened: the
        // job runs with the rights to overwrite any file a link could point at, and a pipe would
        // hold the job for as long as nobody reads it. A reader never sees half a record.
        std::string strTemporary = strCacheFile + ".XXXXXX";
        const int nHandle = mkstemp(&strTemporary[0]);
        if (nHandle < 0) {
            return SaveStepFailed(errno, strTemporary.c_str(),
                                  "Unable to create fssolrtransmitter config file:%s.",
                                  strCacheFile);
        }
        auto_handle created;
        created.reset(nHandle);
        // Removes the new file on every way out that did not give it the cache's name.
        struct CTemporaryFile {
            const std::string &strPath;
            bool bKept = false;
            ~CTemporaryFile() {
                if (!bKept) {
                    unlink(strPath.c_str());
                }
            }
        } temporary{strTemporary};

        FILE *pFile = nullptr;
        if (fchmod(nHandle, 0644) != 0 || (pFile = fdopen(nHandle, "wb")) == nullptr) {
            return SaveStepFailed(errno, strTemporary.c_str(),
                                  "Unable to open fssolrtransmitter config file:%s", strCacheFile);
        }
        created.__set(-1);
        auto_fileptr file;
        file.reset(pFile);

        if (!WriteValue<uint32_t>(pFile, kCacheFormatVersion)) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eCacheReadWriteFailed,
                                           "Failed to write the version information to file '%s'",
                                           strCacheFile.c_str());
        }
        if (!WriteValue<uint64_t>(pFile, 1)) {
            return FXErrorUtil::ErrorWin32(
                FXLOC, EIdxError::eCacheReadWriteFailed,
                "Failed to write the number of config records information to file '%s'",
                strCacheFile.c_str());
        }
        IDX_LOG(4, "Saving In Cache appId: %lu", tqcast::lu(params.m_nAppId));

        CSerializedBuffer buffer;
        params.Save(&buffer);
        const uint64_t ullLength = buffer.GetBufferSize();
        if (!WriteValue<uint64_t>(pFile, ullLength)) {
            return FXErrorUtil::ErrorWin32(
                FXLOC, EIdxError::eCacheReadWriteFailed,
                "Failed to write the number of config records information to file '%s'",
                strCacheFile.c_str());
        }
        // A write that only fails when the stream's buffer is flushed (or the file is closed) is
        // a short write too; the record is on disk before its name replaces the old file.
        const bool bWritten =
            (ullLength == 0 || fwrite(buffer.GetBuffer(), 1, ullLength, pFile) == ullLength) &&
            fflush(pFile) == 0 && fsync(fileno(pFile)) == 0;
        file.__set(nullptr);
        if (fclose(pFile) != 0 || !bWritten) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eCacheReadWriteFailed,
                                           "Failed to write the config information to file '%s'",
                                           strCacheFile.c_str());
        }

        if (rename(strTemporary.c_str(), strCacheFile.c_str()) != 0) {
            return SaveStepFailed(errno, strTemporary.c_str(),
                                  "Unable to replace fssolrtransmitter config file:%s",
                                  strCacheFile);
        }
        temporary.bKept = true;
        return CKyError::Success();
    } catch (...) {
        return ErrorFromCaughtException(FXLOC);
    }
}

CKyError CSolrTransmitterInit::InitializeFromCache(const std::string &strCacheFile,
                                                   Params &params) {
    try {
        TQDebugFunction trace(__PRETTY_FUNCTION__, 2);

        // Only a regular file is a cache: a symbolic link is not followed, and a pipe is opened
        // without waiting for a writer and then refused, so that nothing but a file can hold
        // or steer the start-up.
        auto_handle opened;
        CKyError error =
            FXFile::TQCreateFile(opened, strCacheFile, O_RDWR | O_NOFOLLOW | O_NONBLOCK);
        if (error.IsError()) {
            if (FXErrorUtil::GetErrNo(error) != ELOOP) {
                return error.Push(FXLOC);
            }
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eCacheReadWriteFailed,
                                           "File '%s' is a symbolic link, not a regular file",
                                           strCacheFile.c_str());
        }
        struct stat status;
        if (fstat(opened.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eCacheReadWriteFailed,
                                           "File '%s' is not a regular file", strCacheFile.c_str());
        }
        auto_fileptr file;
        file.reset(fdopen(opened.get(), "r+b"));
        if (file.get() == nullptr) {
            return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to open file [%s]",
                                           strCacheFile.c_str());
        }
        opened.__set(-1);
        FILE *pFile = file.get();
        uint32_t nVersion = 0;
        if (!ReadValue(pFile, nVersion)) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eCacheReadWriteFailed,
                                           "Failed to read the version information from file '%s'",
                                           strCacheFile.c_str());
        }
        uint64_t ullRecords = 0;
        if (!ReadValue(pFile, ullRecords)) {
            return FXErrorUtil::ErrorWin32(
                FXLOC, EIdxError::eCacheReadWriteFailed,
                "Failed to read the number of entries information from file  '%s'",
                strCacheFile.c_str());
        }

        // A file that holds no record holds no settings: start-up asks the management server,
        // as for any file it cannot read, rather than go on with an empty record.
        if (ullRecords == 0) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eCacheReadWriteFailed,
                                           "No config record in file '%s'", strCacheFile.c_str());
        }

        TqCriticalSectionLock lock(&m_cacheLock);
        for (uint64_t ullRecord = 0; ullRecord < ullRecords; ++ullRecord) {
            uint64_t ullLength = 0;
            if (!ReadValue(pFile, ullLength)) {
                return FXErrorUtil::ErrorWin32(
                    FXLOC, EIdxError::eCacheReadWriteFailed,
                    "Failed to read the number of entries information from file  '%s'",
                    strCacheFile.c_str());
            }
            // The length comes from the file: it is checked before anything is allocated for it.
            if (ullLength > kMaxCacheRecordBytes || ullLength > BytesLeft(pFile)) {
                return FXErrorUtil::ErrorWin32(
                    FXLOC, EIdxError::eCacheReadWriteFailed,
                    "Failed to read the config information from file '%s'", strCacheFile.c_str());
            }
            auto_ptr_array<char> ptrData(new char[ullLength > 0 ? ullLength : 1]());
            if (ullLength > 0 && fread(ptrData.get(), 1, ullLength, pFile) != ullLength) {
                return FXErrorUtil::ErrorWin32(
                    FXLOC, EIdxError::eCacheReadWriteFailed,
                    "Failed to read the config information from file '%s'", strCacheFile.c_str());
            }
            // Damaged token data is a read error too; a token the record does not know is not.
            error = params.Load(ptrData.get(), static_cast<unsigned long>(ullLength));
            if (error.IsError()) {
                return FXErrorUtil::ErrorWin32(
                    FXLOC, EIdxError::eCacheReadWriteFailed,
                    "Failed to read the config information from file '%s'", strCacheFile.c_str());
            }
            IDX_LOG(4, "Loaded config for appId:%lu, clientName:%s", tqcast::lu(params.m_nAppId),
                    params.m_strClientName.c_str());
        }
        return CKyError::Success();
    } catch (...) {
        return ErrorFromCaughtException(FXLOC);
    }
}

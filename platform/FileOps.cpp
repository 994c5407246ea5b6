// The framework's file operations (FXFile) and its directory-enumeration handle.
#include "foundation/FileData.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "platform/DirWrapper.h"

int CloseDirAndChangeDir(DIR_Wrapper *pWrapper) {
    if (!pWrapper) {
        return 0;
    }
    int nResult = pWrapper->m_pDir ? closedir(pWrapper->m_pDir) : 0;
    delete pWrapper;
    return nResult;
}

namespace FXFile {

namespace {

constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorFileTooLarge = 223;

// Reads until the buffer is full or the file ends; -1 with errno on a failed read.
ssize_t ReadFully(int nHandle, char *pBuffer, size_t nSize) {
    size_t nDone = 0;
    while (nDone < nSize) {
        ssize_t nRead = read(nHandle, pBuffer + nDone, nSize - nDone);
        if (nRead < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (nRead == 0) {
            break;
        }
        nDone += static_cast<size_t>(nRead);
    }
    return static_cast<ssize_t>(nDone);
}

} // namespace

CKyError tqfopen(auto_fileptr &file, const std::string &strPath, const char *szMode) {
    FILE *pFile = fopen(strPath.c_str(), szMode);
    if (!pFile) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to open file [%s] with mode [%s]",
                                       strPath.c_str(), szMode);
    }
    file.reset(pFile);
    return CKyError::Success();
}

CKyError TQCreateFile(auto_handle &handle, const std::string &strPath, int nFlags, mode_t nMode) {
    int nHandle = open(strPath.c_str(), nFlags | O_CLOEXEC, nMode);
    if (nHandle < 0) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to open file [%s] with flags 0x%x",
                                       strPath.c_str(), static_cast<unsigned>(nFlags));
    }
    handle.reset(nHandle);
    return CKyError::Success();
}

CKyError TQReadFile(const auto_handle &handle, void *pBuffer, size_t nSize, size_t &nBytesRead) {
    nBytesRead = 0;
    if (!_dac_is_valid_handle(handle.get())) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidHandle, "%s", "Read on a closed handle");
    }
    ssize_t nRead = ReadFully(handle.get(), static_cast<char *>(pBuffer), nSize);
    if (nRead < 0) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to read from descriptor %d",
                                       handle.get());
    }
    nBytesRead = static_cast<size_t>(nRead);
    return CKyError::Success();
}

CKyError TQWriteFile(const auto_handle &handle, const void *pBuffer, size_t nSize) {
    if (!_dac_is_valid_handle(handle.get())) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidHandle, "%s",
                                       "Write on a closed handle");
    }
    const char *pBytes = static_cast<const char *>(pBuffer);
    size_t nDone = 0;
    while (nDone < nSize) {
        ssize_t nWritten = write(handle.get(), pBytes + nDone, nSize - nDone);
        if (nWritten < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to write to descriptor %d",
                                           handle.get());
        }
        nDone += static_cast<size_t>(nWritten);
    }
    return CKyError::Success();
}

CKyError TQFindFirstFile(auto_find_handle &find, const std::string &strFolder, CFileData &data) {
    DIR *pDir = opendir(strFolder.c_str());
    if (!pDir) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to list folder [%s]", strFolder.c_str());
    }
    DIR_Wrapper *pWrapper = new DIR_Wrapper;
    pWrapper->m_pDir = pDir;
    pWrapper->m_strFolder = strFolder;
    find.reset(pWrapper);
    return TQFindNextFile(find, data);
}

CKyError TQFindNextFile(auto_find_handle &find, CFileData &data) {
    DIR_Wrapper *pWrapper = find.get();
    if (!_dac_is_valid_find_handle_wrapper(pWrapper) || !pWrapper->m_pDir) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidHandle, "%s",
                                       "No folder listing is open");
    }
    errno = 0;
    struct dirent *pEntry = readdir(pWrapper->m_pDir);
    if (!pEntry) {
        if (errno != 0) {
            return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to read folder [%s]",
                                           pWrapper->m_strFolder.c_str());
        }
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorNoMoreFiles);
    }
    data.SetFromEntry(pWrapper->m_strFolder, *pEntry);
    return CKyError::Success();
}

CKyError CreateDirectory(const std::string &strPath, bool bRecursive) {
    if (bRecursive) {
        std::error_code ec;
        std::filesystem::create_directories(strPath, ec);
        if (ec) {
            return FXErrorUtil::ErrorErrNo(FXLOC, ec.value(), "Failed to create folder [%s]",
                                           strPath.c_str());
        }
        return CKyError::Success();
    }
    if (mkdir(strPath.c_str(), 0777) != 0) {
        if (errno == EEXIST && IsDirectory(strPath)) {
            return CKyError::Success();
        }
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to create folder [%s]", strPath.c_str());
    }
    return CKyError::Success();
}

CKyError RemoveDirectoryTree(const std::string &strPath) {
    std::error_code ec;
    std::filesystem::remove_all(strPath, ec);
    if (ec) {
        return FXErrorUtil::ErrorErrNo(FXLOC, ec.value(), "Failed to remove folder [%s]",
                                       strPath.c_str());
    }
    return CKyError::Success();
}

CKyError DeleteFile(const std::string &strPath) {
    if (unlink(strPath.c_str()) != 0) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to delete file [%s]", strPath.c_str());
    }
    return CKyError::Success();
}

bool Exists(const std::string &strPath) {
    struct stat status;
    return stat(strPath.c_str(), &status) == 0;
}

bool IsDirectory(const std::string &strPath) {
    struct stat status;
    return stat(strPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

CKyError GetFileSize(const std::string &strPath, uint64_t &nSize) {
    nSize = 0;
    struct stat status;
    if (stat(strPath.c_str(), &status) != 0) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to read the status of [%s]",
                                       strPath.c_str());
    }
    nSize = static_cast<uint64_t>(status.st_size);
    return CKyError::Success();
}

CKyError ReadWholeFile(const std::string &strPath, std::string &strContent, uint64_t nMaxBytes) {
    strContent.clear();
    auto_handle handle;
    CKyError error = TQCreateFile(handle, strPath, O_RDONLY);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    // The size is checked again while reading: the file may grow after the status was read.
    struct stat status;
    if (fstat(handle.get(), &status) != 0) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to read the status of [%s]",
                                       strPath.c_str());
    }
    if (static_cast<uint64_t>(status.st_size) > nMaxBytes) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, kErrorFileTooLarge, "File [%s] has %llu bytes, more than the limit %llu",
            strPath.c_str(), static_cast<unsigned long long>(status.st_size),
            static_cast<unsigned long long>(nMaxBytes));
    }
    std::string strRead;
    char szChunk[65536];
    for (;;) {
        size_t nRead = 0;
        error = TQReadFile(handle, szChunk, sizeof(szChunk), nRead);
        if (error.IsError()) {
            return error.Push(FXLOC, "Reading [%s]", strPath.c_str());
        }
        if (strRead.size() + nRead > nMaxBytes) {
            return FXErrorUtil::ErrorWin32(FXLOC, kErrorFileTooLarge,
                                           "File [%s] grew beyond the limit %llu", strPath.c_str(),
                                           static_cast<unsigned long long>(nMaxBytes));
        }
        strRead.append(szChunk, nRead);
        if (nRead < sizeof(szChunk)) {
            break;
        }
    }
    strContent.swap(strRead);
    return CKyError::Success();
}

CKyError WriteWholeFile(const std::string &strPath, const std::string &strContent) {
    auto_handle handle;
    CKyError error = TQCreateFile(handle, strPath, O_WRONLY | O_CREAT | O_TRUNC);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = TQWriteFile(handle, strContent.data(), strContent.size());
    if (error.IsError()) {
        return error.Push(FXLOC, "Writing [%s]", strPath.c_str());
    }
    if (close(handle.get()) != 0) {
        handle.__set(-1);
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to close [%s]", strPath.c_str());
    }
    handle.__set(-1);
    return CKyError::Success();
}

CKyError CountLines(const std::string &strPath, uint64_t &nCount) {
    nCount = 0;
    auto_handle handle;
    CKyError error = TQCreateFile(handle, strPath, O_RDONLY);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    char szChunk[65536];
    char cLast = '\n';
    uint64_t nLines = 0;
    for (;;) {
        size_t nRead = 0;
        error = TQReadFile(handle, szChunk, sizeof(szChunk), nRead);
        if (error.IsError()) {
            return error.Push(FXLOC, "Reading [%s]", strPath.c_str());
        }
        for (size_t i = 0; i < nRead; ++i) {
            if (szChunk[i] == '\n') {
                ++nLines;
            }
        }
        if (nRead > 0) {
            cLast = szChunk[nRead - 1];
        }
        if (nRead < sizeof(szChunk)) {
            break;
        }
    }
    nCount = nLines + (cLast != '\n' ? 1 : 0);
    return CKyError::Success();
}

} // namespace FXFile

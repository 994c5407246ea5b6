// The file record FXFile::CFileData (one file or folder, its status read lazily and without
// following a symbolic link) and the framework's file operations that fill the handle owners.
//
// The record is inline; the operations are the platform's (platform/FileOps.cpp). Every operation
// returns CKyError; a failed system call gives an errno error naming the path.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <utility>

#include "foundation/Export.h"
#include "foundation/HandleOwners.h"
#include "foundation/KyError.h"
#include "foundation/StringHelpers.h"

namespace FXFile {

class CFileData {
public:
    enum FileNameMode : int32_t {
        eFullPathInParent = 0, // the whole path is the parent, the name is empty
        eParentAndName = 1,    // the path is the parent joined with the name
    };

    CFileData() : m_nStatusState(0), m_nErrNo(0), m_eFileNameMode(eParentAndName) {
        memset(&m_dirEntry, 0, sizeof(m_dirEntry));
        memset(&m_status, 0, sizeof(m_status));
    }

    // A given status record is taken as read: the disk is then never asked (mode 1 only).
    CFileData(const std::string &strPath, FileNameMode eMode, const struct stat *pStatus)
        : CFileData() {
        m_eFileNameMode = eMode;
        if (eMode == eFullPathInParent) {
            m_strParent = strPath;
        } else if (eMode == eParentAndName) {
            if (strPath == "/") {
                m_strName = "/";
            } else {
                FXPath::SplitParentPath(strPath, m_strParent, m_strName);
            }
            if (pStatus) {
                m_status = *pStatus;
                m_nStatusState = 1;
            }
        }
    }

    const std::string &getFileNameAsString() const { return m_strName; }
    const std::string &getParent() const { return m_strParent; }
    FileNameMode getFileNameMode() const { return m_eFileNameMode; }
    const struct dirent &getDirEntry() const { return m_dirEntry; }

    bool isRelativeFolder() const { return m_strName == "." || m_strName == ".."; }

    // The path the status is read from. In mode 0 the whole path is held as the parent.
    std::string getFullPath() const {
        if (m_eFileNameMode == eParentAndName) {
            std::string strFull(m_strParent);
            FXPath::Append(strFull, m_strName, 0);
            return strFull;
        }
        if (m_eFileNameMode == eFullPathInParent) {
            return m_strParent;
        }
        return m_strName;
    }

    // Moves the parent and the name out (the record keeps none): for a record used once.
    void releaseNames(std::string &strParent, std::string &strName) {
        strParent = std::move(m_strParent);
        strName = std::move(m_strName);
        m_strParent.clear();
        m_strName.clear();
    }

    // Reads the status once; a state of 1 (read) or -1 (failed) is kept for good.
    void getFileInfo() const {
        if (m_nStatusState != 0) {
            return;
        }
        // The path of a status read is put together on the stack: a walk reads one per entry.
        char szPath[1024];
        const char *szFullPath = fullPathInto(szPath, sizeof(szPath));
        std::string strFullPath;
        if (szFullPath == nullptr) {
            strFullPath = getFullPath();
            szFullPath = strFullPath.c_str();
        }
        if (lstat(szFullPath, &m_status) == 0) {
            m_nStatusState = 1;
            m_nErrNo = 0;
        } else {
            m_nStatusState = -1;
            m_nErrNo = errno;
        }
    }

    bool isDirectory() const {
        getFileInfo();
        return m_nStatusState == 1 && (m_status.st_mode & S_IFMT) == S_IFDIR;
    }

    // 0 = not read yet, 1 = valid, -1 = reading failed (see getErrNo).
    int32_t getStatusState() const { return m_nStatusState; }
    int32_t getErrNo() const { return m_nErrNo; }
    // The status record; valid when getStatusState() is 1 after getFileInfo().
    const struct stat &getStatus() const { return m_status; }

    // Used by the enumeration: makes the record describe entry, listed in strFolder. The system
    // hands out an entry only d_reclen bytes long, often less than a whole struct dirent, so the
    // entry is taken field by field and its name up to its terminating zero, never copied whole.
    void SetFromEntry(const std::string &strFolder, const struct dirent &entry) {
        memset(&m_dirEntry, 0, sizeof(m_dirEntry));
        m_dirEntry.d_ino = entry.d_ino;
        m_dirEntry.d_off = entry.d_off;
        m_dirEntry.d_reclen = entry.d_reclen;
        m_dirEntry.d_type = entry.d_type;
        size_t nNameLength = strnlen(entry.d_name, sizeof(m_dirEntry.d_name) - 1);
        memcpy(m_dirEntry.d_name, entry.d_name, nNameLength);
        m_strParent = strFolder;
        m_strName.assign(m_dirEntry.d_name, nNameLength);
        m_eFileNameMode = eParentAndName;
        m_nStatusState = 0;
        m_nErrNo = 0;
        memset(&m_status, 0, sizeof(m_status));
    }

private:
    // getFullPath() written into szBuffer; null when it does not fit.
    const char *fullPathInto(char *szBuffer, size_t nSize) const {
        if (m_eFileNameMode == eFullPathInParent) {
            return m_strParent.c_str();
        }
        if (m_eFileNameMode != eParentAndName) {
            return m_strName.c_str();
        }
        if (m_strName.empty()) {
            return m_strParent.c_str();
        }
        if (m_strParent.empty()) {
            return m_strName.c_str();
        }
        // One "/" between the parts, as FXPath::Append joins them.
        const bool bParentEnds = m_strParent.back() == '/';
        const bool bNameStarts = m_strName.front() == '/';
        size_t nParent = m_strParent.size();
        const char *szName = m_strName.c_str();
        size_t nName = m_strName.size();
        if (bParentEnds && bNameStarts) {
            ++szName;
            --nName;
        }
        const bool bSlash = !bParentEnds && !bNameStarts;
        const size_t nLength = nParent + (bSlash ? 1 : 0) + nName;
        if (nLength + 1 > nSize) {
            return nullptr;
        }
        memcpy(szBuffer, m_strParent.data(), nParent);
        if (bSlash) {
            szBuffer[nParent++] = '/';
        }
        memcpy(szBuffer + nParent, szName, nName);
        szBuffer[nLength] = '\0';
        return szBuffer;
    }

    struct dirent m_dirEntry;
    std::string m_strName;
    std::string m_strParent;
    mutable int32_t m_nStatusState;
    mutable struct stat m_status;
    mutable int32_t m_nErrNo;
    FileNameMode m_eFileNameMode;
};

// Opens a stdio stream (fopen modes) into file; what file held before is released.
IDX_EXPORT CKyError tqfopen(auto_fileptr &file, const std::string &strPath, const char *szMode);
// Opens or creates a file (open(2) flags, e.g. O_RDONLY or O_WRONLY | O_CREAT | O_TRUNC) into
// handle. The descriptor is not inherited by child processes.
IDX_EXPORT CKyError TQCreateFile(auto_handle &handle, const std::string &strPath, int nFlags,
                                 mode_t nMode = 0644);
// Reads until nSize bytes are in or the file ends; nBytesRead < nSize only at the end of file.
IDX_EXPORT CKyError TQReadFile(const auto_handle &handle, void *pBuffer, size_t nSize,
                               size_t &nBytesRead);
// Writes all nSize bytes.
IDX_EXPORT CKyError TQWriteFile(const auto_handle &handle, const void *pBuffer, size_t nSize);

// Starts listing strFolder (every entry, "." and ".." included, in the order the system gives)
// and fills data with the first entry. TQFindNextFile fills the next one and ends with
// Win32 error 18 (no more files). The listed records are in mode 1 with the folder as parent.
IDX_EXPORT CKyError TQFindFirstFile(auto_find_handle &find, const std::string &strFolder,
                                    CFileData &data);
IDX_EXPORT CKyError TQFindNextFile(auto_find_handle &find, CFileData &data);

// Creates a folder; bRecursive creates the missing parents too. An existing folder is success.
IDX_EXPORT CKyError CreateDirectory(const std::string &strPath, bool bRecursive);
// Removes a folder with everything in it, without following symbolic links; a path that does
// not exist is success. A file or symbolic link given as the path is removed itself.
IDX_EXPORT CKyError RemoveDirectoryTree(const std::string &strPath);
IDX_EXPORT CKyError DeleteFile(const std::string &strPath);

// These follow symbolic links, unlike CFileData.
IDX_EXPORT bool Exists(const std::string &strPath);
IDX_EXPORT bool IsDirectory(const std::string &strPath);
IDX_EXPORT CKyError GetFileSize(const std::string &strPath, uint64_t &nSize);

// Reads a whole file into strContent; a file larger than nMaxBytes is refused with Win32 error
// 223 (file too large) and strContent is left empty.
IDX_EXPORT CKyError ReadWholeFile(const std::string &strPath, std::string &strContent,
                                  uint64_t nMaxBytes);
// Writes strContent as the whole file (created or truncated).
IDX_EXPORT CKyError WriteWholeFile(const std::string &strPath, const std::string &strContent);
// Number of lines; a last line without a line end counts, an empty file has none.
IDX_EXPORT CKyError CountLines(const std::string &strPath, uint64_t &nCount);

} // namespace FXFile

#include "platform/ItemLookup.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <boost/make_shared.hpp>

#include "platform/StringFormat.h"

namespace {

// Windows-style attribute bits of an item.
enum : uint32_t {
    kAttributeReadOnly = 0x1,
    kAttributeHidden = 0x2,
    kAttributeDirectory = 0x10,
    kAttributeNormal = 0x80,
    kAttributeSparse = 0x200,
    kAttributeReparsePoint = 0x400,
};

// Windows-style numbers of the lookup errors.
enum : uint32_t {
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorNotEnoughMemory = 8,
    kErrorGenFailure = 31,
    kErrorInvalidParameter = 87,
    kErrorFilenameTooLong = 206,
    kErrorIoDevice = 1117,
    kErrorCantResolveFilename = 1921,
};

// A time of the status as a time stamp; a zero time stays "not set".
CTimeStamp ToTimeStamp(const struct timespec &time) {
    if (time.tv_sec == 0 && time.tv_nsec == 0) {
        return CTimeStamp();
    }
    return CTimeStamp(static_cast<int64_t>(time.tv_sec) * 10000000LL + time.tv_nsec / 100 +
                      CTimeStamp::kUnixEpochTicks);
}

uint32_t AttributesOf(const struct stat &status, const std::string &strName) {
    if (status.st_mode == 0) {
        return 0;
    }
    uint32_t nAttributes = 0;
    if (S_ISDIR(status.st_mode)) {
        nAttributes |= kAttributeDirectory;
    }
    if (S_ISLNK(status.st_mode)) {
        nAttributes |= kAttributeReparsePoint;
    }
    if ((status.st_mode & 0222) == 0) {
        nAttributes |= kAttributeReadOnly;
    }
    if (strName.size() > 1 && strName[0] == '.' && strName != "..") {
        nAttributes |= kAttributeHidden;
    }
    if (S_ISREG(status.st_mode) &&
        static_cast<uint64_t>(status.st_blocks) * 512 < static_cast<uint64_t>(status.st_size)) {
        nAttributes |= kAttributeSparse;
    }
    if (nAttributes == 0 && S_ISREG(status.st_mode)) {
        nAttributes = kAttributeNormal;
    }
    return nAttributes;
}

// "drwxr-xr-x" and the like.
std::string ModeText(mode_t nMode) {
    char chType = '?';
    switch (nMode & S_IFMT) {
    case S_IFREG:
        chType = '-';
        break;
    case S_IFDIR:
        chType = 'd';
        break;
    case S_IFLNK:
        chType = 'l';
        break;
    case S_IFCHR:
        chType = 'c';
        break;
    case S_IFBLK:
        chType = 'b';
        break;
    case S_IFIFO:
        chType = 'p';
        break;
    case S_IFSOCK:
        chType = 's';
        break;
    default:
        break;
    }
    std::string strText(1, chType);
    const char *szRwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        strText.push_back((nMode & (0400 >> i)) ? szRwx[i] : '-');
    }
    auto special = [&](size_t nPos, mode_t nBit, char chSet, char chUnset) {
        if (nMode & nBit) {
            strText[nPos] = strText[nPos] == 'x' ? chSet : chUnset;
        }
    };
    special(3, S_ISUID, 's', 'S');
    special(6, S_ISGID, 's', 'S');
    special(9, S_ISVTX, 't', 'T');
    return strText;
}

size_t NameBufferSize() {
    long lSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    long lGroupSize = sysconf(_SC_GETGR_R_SIZE_MAX);
    lSize = std::max(lSize, lGroupSize);
    return lSize > 0 ? static_cast<size_t>(lSize) : 16384;
}

// The user's name, or the number itself when the system knows no name.
std::string UserName(uid_t nUid) {
    std::vector<char> vecBuffer(NameBufferSize());
    for (int nTry = 0; nTry < 4; ++nTry) {
        struct passwd entry;
        struct passwd *pFound = nullptr;
        int nResult = getpwuid_r(nUid, &entry, vecBuffer.data(), vecBuffer.size(), &pFound);
        if (nResult == ERANGE) {
            vecBuffer.resize(vecBuffer.size() * 4);
            continue;
        }
        if (nResult == 0 && pFound != nullptr && pFound->pw_name != nullptr) {
            return pFound->pw_name;
        }
        break;
    }
    return std::to_string(nUid);
}

std::string GroupName(gid_t nGid) {
    std::vector<char> vecBuffer(NameBufferSize());
    for (int nTry = 0; nTry < 4; ++nTry) {
        struct group entry;
        struct group *pFound = nullptr;
        int nResult = getgrgid_r(nGid, &entry, vecBuffer.data(), vecBuffer.size(), &pFound);
        if (nResult == ERANGE) {
            vecBuffer.resize(vecBuffer.size() * 4);
            continue;
        }
        if (nResult == 0 && pFound != nullptr && pFound->gr_name != nullptr) {
            return pFound->gr_name;
        }
        break;
    }
    return std::to_string(nGid);
}

} // namespace

// ---- analytics record ----

CAnalyticsItemInterface *CAnalyticsItemInterface::FromItem(const CItem &item) {
    return dynamic_cast<CAnalyticsItemInterface *>(item.GetInterface(EItemInterfaceId::eAnalytics));
}

const std::string &CAnalyticsItemInterface::NoText() {
    static const std::string strEmpty;
    return strEmpty;
}

void CAnalyticsItemInterface::SetAppGUID(const std::string &strGUID) {
    if (strGUID.empty()) {
        m_ptrAppGUID.reset();
    } else {
        m_ptrAppGUID = boost::make_shared<const std::string>(strGUID);
    }
}

CAnalyticsItemUnix::CAnalyticsItemUnix(const CItemPtr &ptrItem) {
    memset(&m_status, 0, sizeof(m_status));
    if (!ptrItem) {
        return;
    }
    if (const CFindFirstItem *pFound = dynamic_cast<const CFindFirstItem *>(ptrItem.get())) {
        if (pFound->GetStatusErrNo() != 0) {
            // Nothing is ever read for such an item.
            m_bStatusFailed = true;
            return;
        }
        if (pFound->GetStatus().st_mode != 0) {
            m_status = pFound->GetStatus();
            m_bHaveStatus = true;
            return;
        }
    }
    m_strItemPath = ptrItem->GetPath();
}

CKyError CAnalyticsItemUnix::SetSecurityInformation(bool bCollectOwner, bool bCollectSecurity) {
    if (bCollectOwner != IsCollectOwner() || bCollectSecurity != IsCollectSecurity()) {
        m_bProcessed = false;
    }
    return CAnalyticsItemInterface::SetSecurityInformation(bCollectOwner, bCollectSecurity);
}

CKyError CAnalyticsItemUnix::ProcessSecurityInformation() {
    // A deleted or failed item has no file to read; that is no error.
    if (IsItemDeleted() || IsItemFailed() || m_bStatusFailed) {
        return CKyError::Success();
    }
    if (m_bProcessed) {
        return m_processResult;
    }
    m_bProcessed = true;
    m_processResult = CKyError::Success();
    if (!IsCollectOwner() && !IsCollectSecurity()) {
        return m_processResult;
    }

    struct stat status = m_status;
    if (!m_bHaveStatus) {
        if (m_strItemPath.empty()) {
            m_processResult = FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter,
                                                      "The item has no path to read from");
            return m_processResult;
        }
        if (lstat(m_strItemPath.c_str(), &status) != 0) {
            m_processResult = FXErrorUtil::ErrorErrNo(
                FXLOC, -1, "Failed to read the security information of [%s]",
                m_strItemPath.c_str());
            return m_processResult;
        }
    }

    m_strOwnerName = UserName(status.st_uid);
    m_strOwnerId = std::to_string(status.st_uid);
    m_strPermissions = ModeText(status.st_mode);
    m_mapSecurityFields.clear();
    if (IsCollectSecurity()) {
        m_mapSecurityFields["GroupName"] = GroupName(status.st_gid);
        m_mapSecurityFields["GroupId"] = std::to_string(status.st_gid);
        m_mapSecurityFields["Mode"] =
            FXFormat("%04o", static_cast<unsigned>(status.st_mode & 07777));
    }
    // Unix permissions are set on each entry, never inherited from the folder.
    m_bInheritanceBroken = false;
    return m_processResult;
}

// ---- item from a file record ----

CFindFirstItem::CFindFirstItem(CBagPtr ptrWorkUnitBag, const std::string &strPath,
                               const std::string &strVirtualPath, const FXFile::CFileData &fileData)
    : CItem(std::move(ptrWorkUnitBag)), m_nStatusErrNo(0) {
    m_strPath = strPath;
    if (strVirtualPath == strPath) {
        m_bNameIsPath = true;
    } else {
        m_strFullyQualifiedName = strVirtualPath;
    }
    m_strName = fileData.getFileNameAsString();
    m_strParentPath = fileData.getParent();
    TakeStatus(fileData);
}

CFindFirstItem::CFindFirstItem(CBagPtr ptrWorkUnitBag, std::string strPath,
                               FXFile::CFileData &&fileData)
    : CItem(std::move(ptrWorkUnitBag)), m_nStatusErrNo(0) {
    m_strPath = std::move(strPath);
    m_bNameIsPath = true;
    // The status is read while the record still has the names it is read by.
    fileData.getFileInfo();
    fileData.releaseNames(m_strParentPath, m_strName);
    TakeStatus(fileData);
}

void CFindFirstItem::TakeStatus(const FXFile::CFileData &fileData) {
    memset(&m_status, 0, sizeof(m_status));
    fileData.getFileInfo();
    if (fileData.getStatusState() == 1) {
        m_status = fileData.getStatus();
    } else {
        m_nStatusErrNo = fileData.getErrNo();
    }
    if (m_status.st_mode == 0) {
        return; // nothing known of the entry: every value stays 0
    }
    m_bFolder = S_ISDIR(m_status.st_mode);
    m_creationTime = ToTimeStamp(m_status.st_ctim);
    m_modificationTime = ToTimeStamp(m_status.st_mtim);
    m_accessTime = ToTimeStamp(m_status.st_atim);
    m_changeTime = ToTimeStamp(m_status.st_ctim);
    m_ullSize = static_cast<uint64_t>(m_status.st_size);
    m_ullSizeOnDisk = static_cast<uint64_t>(m_status.st_blocks) * 512;
    m_nMode = static_cast<uint32_t>(m_status.st_mode);
    m_nAttributes = AttributesOf(m_status, m_strName);
}

// ---- lookup by path ----

uint32_t CBasicPathEnumerator::Win32FromStatusErrNo(int nErrNo, const std::string &strPath) {
    switch (nErrNo) {
    case ENOENT: {
        // A missing entry in an existing folder is a missing file; a missing folder on the way
        // is a missing path.
        std::string strParent = FXPath::GetParent(strPath);
        if (strParent.empty()) {
            return kErrorFileNotFound;
        }
        struct stat parentStatus;
        if (stat(strParent.c_str(), &parentStatus) == 0 && S_ISDIR(parentStatus.st_mode)) {
            return kErrorFileNotFound;
        }
        return kErrorPathNotFound;
    }
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
        return kErrorAccessDenied;
    case ENAMETOOLONG:
        return kErrorFilenameTooLong;
    case ELOOP:
        return kErrorCantResolveFilename;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    case EIO:
        return kErrorIoDevice;
    default:
        return kErrorGenFailure;
    }
}

CKyError CBasicPathEnumerator::GetItemByPath(const std::string &strParentPath,
                                             const std::string &strItemPath, CItemPtr &ptrItem) {
    ptrItem.reset();
    if (strItemPath.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter, "Empty item path");
    }
    // The given path is used as it is unless it has to be joined to its parent; either way it is
    // made once and then moved into the item.
    std::string strPath =
        strItemPath[0] != '/' && !strParentPath.empty() && strParentPath != strItemPath
            ? FXPath::Join(strParentPath, strItemPath)
            : strItemPath;

    FXFile::CFileData fileData(strPath, FXFile::CFileData::eParentAndName, nullptr);
    fileData.getFileInfo();
    const int32_t nStatusState = fileData.getStatusState();
    const int nErrNo = fileData.getErrNo();
    try {
        // The record is used once: the item takes its names over.
        ptrItem =
            boost::make_shared<CFindFirstItem>(CBagPtr(), std::move(strPath), std::move(fileData));
    } catch (const std::bad_alloc &) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorNotEnoughMemory);
    }
    if (nStatusState == 1) {
        return CKyError::Success();
    }
    const std::string &strItemFullPath = ptrItem->GetPath();
    char szBuffer[256];
    return FXErrorUtil::ErrorWin32(FXLOC, Win32FromStatusErrNo(nErrNo, strItemFullPath),
                                   "Failed to read the status of [%s], errno=%d (%s)",
                                   strItemFullPath.c_str(), nErrNo,
                                   strerror_r(nErrNo, szBuffer, sizeof(szBuffer)));
}

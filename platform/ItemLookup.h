// Items made from paths, and the analytics record the queueing calls attach to each item.
//
// CBasicPathEnumerator::GetItemByPath looks a path up with lstat (a symbolic link is described,
// never followed). CFindFirstItem is the item made from a file record (FXFile::CFileData): from
// a directory entry, a looked-up path, or, with an all-zero status, a deleted path. The analytics
// record (interface 3 of an item) carries what the job knows about the item beyond its metadata:
// collect id and offset, stub, archiving, failure and deletion marks, the application GUID, and
// the owner and security information read from the file when the job collects them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <sys/stat.h>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/FileData.h"
#include "foundation/KyError.h"
#include "platform/Bag.h"
#include "platform/Item.h"

// What the job tells about a change of an item's permissions or owner, carried with the item.
class IDX_EXPORT CAnalyticsItemAddInfo {
public:
    CAnalyticsItemAddInfo() = default;
    virtual ~CAnalyticsItemAddInfo() = default;

    virtual const std::string &GetPermissionsBeforeChange() const { return m_strPermissionsBefore; }
    virtual const std::string &GetOwnerBeforeChange() const { return m_strOwnerBefore; }
    virtual const std::string &GetOwnerName() const { return m_strOwnerName; }
    virtual const std::string &GetErrorText() const { return m_strErrorText; }
    virtual const std::string &GetPermissionChangeRequest() const {
        return m_strPermissionChangeRequest;
    }
    virtual const std::string &GetOwnerChangeRequest() const { return m_strOwnerChangeRequest; }

    void SetPermissionsBeforeChange(const std::string &strText) {
        m_strPermissionsBefore = strText;
    }
    void SetOwnerBeforeChange(const std::string &strText) { m_strOwnerBefore = strText; }
    void SetOwnerName(const std::string &strText) { m_strOwnerName = strText; }
    void SetErrorText(const std::string &strText) { m_strErrorText = strText; }
    void SetPermissionChangeRequest(const std::string &strText) {
        m_strPermissionChangeRequest = strText;
    }
    void SetOwnerChangeRequest(const std::string &strText) { m_strOwnerChangeRequest = strText; }

private:
    std::string m_strPermissionsBefore;
    std::string m_strOwnerBefore;
    std::string m_strOwnerName;
    std::string m_strErrorText;
    std::string m_strPermissionChangeRequest;
    std::string m_strOwnerChangeRequest;
};

typedef boost::shared_ptr<CAnalyticsItemAddInfo> CAnalyticsItemAddInfoPtr;

// The analytics record of an item (interface number 3). The marks are plain values set by the
// queueing calls before the item is queued and only read afterwards; owner and security
// information are filled by ProcessSecurityInformation.
class IDX_EXPORT CAnalyticsItemInterface : public CItemInterface {
public:
    CAnalyticsItemInterface() = default;

    virtual const std::string &GetOwnerName() const { return m_strOwnerName; }
    // The owner's identifier (on this platform the numeric user id as text).
    virtual const std::string &GetOwnerId() const { return m_strOwnerId; }
    // Further security fields, field name to value (read in key order).
    virtual const std::map<std::string, std::string> &GetSecurityFields() const {
        return m_mapSecurityFields;
    }
    virtual const std::string &GetPermissions() const { return m_strPermissions; }
    virtual bool IsItemDeleted() const { return m_bDeleted; }
    virtual bool IsStub() const { return m_bStub; }
    virtual const std::string &GetAppGUID() const {
        return m_ptrAppGUID ? *m_ptrAppGUID : NoText();
    }
    virtual bool IsItemFailed() const { return m_bFailed; }
    // The system error number of a failed item (Windows-style: 2 file gone, 3 path gone, 5 denied).
    virtual uint32_t GetErrorCode() const { return m_nErrorCode; }
    virtual bool IsSkippedForArchiving() const { return m_bSkippedForArchiving; }
    virtual int64_t GetCollectOffset() const { return m_llCollectOffset; }
    virtual uint32_t GetCollectID() const { return m_nCollectId; }
    // Reads owner and security information as SetSecurityInformation asked; the first call does
    // the work and later calls give its result again.
    virtual CKyError ProcessSecurityInformation() = 0;
    virtual CAnalyticsItemAddInfoPtr GetAdditionalInfo() const { return m_ptrAddInfo; }
    virtual bool IsPermissionsInheritanceBroken() const { return m_bInheritanceBroken; }

    // Which information ProcessSecurityInformation collects: the owner, the security fields.
    virtual CKyError SetSecurityInformation(bool bCollectOwner, bool bCollectSecurity) {
        m_bCollectOwner = bCollectOwner;
        m_bCollectSecurity = bCollectSecurity;
        return CKyError::Success();
    }

    void SetAppGUID(const std::string &strGUID);
    // Shares one unchanging text among the records of a job instead of copying it into each.
    void SetAppGUID(boost::shared_ptr<const std::string> ptrGUID) {
        m_ptrAppGUID = std::move(ptrGUID);
    }
    // All ones (4294967295) when the item has no collect id.
    void SetCollectID(uint32_t nCollectId) { m_nCollectId = nCollectId; }
    // -1 when the item has no collect offset.
    void SetCollectOffset(int64_t llOffset) { m_llCollectOffset = llOffset; }
    void SetSkippedForArchiving(bool bSkipped) { m_bSkippedForArchiving = bSkipped; }
    void SetIsStub(bool bStub) { m_bStub = bStub; }
    void SetItemFailed(bool bFailed) { m_bFailed = bFailed; }
    void SetErrorCode(uint32_t nErrorCode) { m_nErrorCode = nErrorCode; }
    void SetItemDeleted(bool bDeleted) { m_bDeleted = bDeleted; }
    void SetAdditionalInfo(CAnalyticsItemAddInfoPtr ptrAddInfo) { m_ptrAddInfo = ptrAddInfo; }

    bool IsCollectOwner() const { return m_bCollectOwner; }
    bool IsCollectSecurity() const { return m_bCollectSecurity; }

    // The record attached to the item as interface 3; null when there is none.
    static CAnalyticsItemInterface *FromItem(const CItem &item);

protected:
    static const std::string &NoText();

    std::string m_strOwnerName;
    std::string m_strOwnerId;
    std::map<std::string, std::string> m_mapSecurityFields;
    std::string m_strPermissions;
    bool m_bInheritanceBroken = false;

private:
    bool m_bCollectOwner = false;
    bool m_bCollectSecurity = false;
    bool m_bDeleted = false;
    bool m_bStub = false;
    bool m_bFailed = false;
    bool m_bSkippedForArchiving = false;
    uint32_t m_nErrorCode = 0;
    uint32_t m_nCollectId = 0xFFFFFFFFu;
    int64_t m_llCollectOffset = -1;
    // Null for an empty GUID.
    boost::shared_ptr<const std::string> m_ptrAppGUID;
    CAnalyticsItemAddInfoPtr m_ptrAddInfo;
};

// The analytics record of an item on a Unix file system. When owner or security information is
// asked for, the owner (the user name, or the numeric id when the system knows no name; the
// numeric user id as the identifier) and the permissions (the ls-style mode text, such as
// "-rw-r--r--") are read; security adds the fields "GroupName", "GroupId" and "Mode" (octal).
// Unix permissions are never inherited, so inheritance never reads as broken. Nothing is read,
// and nothing fails, for a deleted or failed item or one whose lookup could not read its status.
// The status the lookup read is used; an item made otherwise is read from its path.
class IDX_EXPORT CAnalyticsItemUnix : public CAnalyticsItemInterface {
public:
    // Keeps the item's status, or its path when the item holds no status; holds no reference to
    // the item, which will own this record.
    explicit CAnalyticsItemUnix(const CItemPtr &ptrItem);

    CKyError ProcessSecurityInformation() override;
    // Asking for other information makes the next ProcessSecurityInformation read again.
    CKyError SetSecurityInformation(bool bCollectOwner, bool bCollectSecurity) override;

    // The path the information is read from: empty when the item's own status is used.
    const std::string &GetItemPath() const { return m_strItemPath; }

private:
    std::string m_strItemPath;
    // The item's status as its lookup read it; when it holds none the file is asked.
    bool m_bHaveStatus = false;
    bool m_bStatusFailed = false;
    struct stat m_status;
    bool m_bProcessed = false;
    CKyError m_processResult;
};

// An item made from a file record. Path and fully qualified name are the two paths given; name
// and parent path come from the record. Times, size, size on disk, mode and attributes come
// from the record's status (read then, unless the record already holds one); a status that
// cannot be read, or an all-zero one, leaves them all 0.
class IDX_EXPORT CFindFirstItem : public CItem {
public:
    CFindFirstItem(CBagPtr ptrWorkUnitBag, const std::string &strPath,
                   const std::string &strVirtualPath, const FXFile::CFileData &fileData);
    // The same for an item whose fully qualified name is its path; the record's name and parent
    // are taken over, leaving it without them.
    CFindFirstItem(CBagPtr ptrWorkUnitBag, std::string strPath, FXFile::CFileData &&fileData);

    // errno of the failed status read; 0 when the status was read or given.
    int GetStatusErrNo() const { return m_nStatusErrNo; }
    // The status the values came from; all zero when there was none.
    const struct stat &GetStatus() const { return m_status; }

private:
    // Status, times, size, mode and attributes from the record (read now when it holds none).
    void TakeStatus(const FXFile::CFileData &fileData);

    int m_nStatusErrNo;
    struct stat m_status;
};

// Looks paths up on the local file system.
class IDX_EXPORT CBasicPathEnumerator {
public:
    CBasicPathEnumerator() = default;

    // The item at strItemPath (joined to strParentPath when it is relative), its status read with
    // lstat. On failure the error carries a Windows-style number (2 file not found, 3 path not
    // found, 5 access denied, ...) and the item is still made, from the path alone with every
    // value 0, so that the caller can queue it marked failed. An empty item path is error 87
    // and gives no item.
    CKyError GetItemByPath(const std::string &strParentPath, const std::string &strItemPath,
                           CItemPtr &ptrItem);

    // The Windows-style number the platform reports for an errno of a status read of strPath.
    static uint32_t Win32FromStatusErrNo(int nErrNo, const std::string &strPath);
};

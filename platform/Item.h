// One item of the job's walk (a file or folder with its metadata), the records that producers
// attach to it by number, and the live-crawl record (number 4).
//
// CItem is the base of every kind of item: the getters are virtual so that an item made from a
// directory entry, an archive member or a deleted path can answer from its own data. The plain
// item answers from the values its setters stored.
//
// A job makes one item per file it walks, so an item is one allocation: its bag lives inside it
// and its first few records sit in slots of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/TimeValues.h"
#include "platform/Bag.h"

// A record attached to an item under a number; the item owns it.
class IDX_EXPORT CItemInterface {
public:
    virtual ~CItemInterface();
};

// Numbers of the records attached to items.
class EItemInterfaceId {
public:
    enum : int { eAnalytics = 3, eLiveCrawl = 4 };
};

// Bits of an item's flags word.
class BItemFlags {
public:
    enum : uint32_t { eSelectedForAccess = 0x10 };
};

class IDX_EXPORT CItem : public boost::enable_shared_from_this<CItem> {
public:
    // The item bag always exists; the work-unit bag may stay empty.
    explicit CItem(CBagPtr ptrWorkUnitBag = CBagPtr());
    virtual ~CItem();
    CItem(const CItem &) = delete;
    CItem &operator=(const CItem &) = delete;

    virtual bool IsFolder() const { return m_bFolder; }
    virtual CTimeStamp GetCreationTime() const { return m_creationTime; }
    virtual CTimeStamp GetModificationTime() const { return m_modificationTime; }
    virtual CTimeStamp GetAccessTime() const { return m_accessTime; }
    // The fourth time stamp: the time the item's status last changed.
    virtual CTimeStamp GetChangeTime() const { return m_changeTime; }
    virtual const std::string &GetName() const { return m_strName; }
    virtual const std::string &GetFullyQualifiedItemName() const {
        return m_bNameIsPath ? m_strPath : m_strFullyQualifiedName;
    }
    virtual const std::string &GetParentPath() const { return m_strParentPath; }
    virtual const std::string &GetPath() const { return m_strPath; }
    virtual uint64_t GetSize() const { return m_ullSize; }
    virtual uint64_t GetSizeOnDisk() const { return m_ullSizeOnDisk; }
    // Windows-style attribute bits (0x2 hidden, 0x10 directory, ...).
    virtual uint32_t GetAttributes() const { return m_nAttributes; }
    // The POSIX mode bits (type and permissions).
    virtual uint32_t GetMode() const { return m_nMode; }

    // The bag lives in the item: a pointer to it shares the ownership of the item (when a shared
    // pointer owns the item), so it stays valid as long as it is held.
    CBagPtr GetItemBag() const;
    CBagPtr GetWorkUnitBag() const { return m_ptrWorkUnitBag; }

    void SetSelectedForAccess(bool bSelected) {
        SetFlag(BItemFlags::eSelectedForAccess, bSelected);
    }
    bool IsSelectedForAccess() const {
        return (m_nFlags.load() & BItemFlags::eSelectedForAccess) != 0;
    }
    uint32_t GetFlags() const { return m_nFlags.load(); }
    // Sets or clears the given bits and leaves the others as they are.
    void SetFlag(uint32_t nMask, bool bSet) {
        if (bSet) {
            m_nFlags.fetch_or(nMask);
        } else {
            m_nFlags.fetch_and(~nMask);
        }
    }

    // Attaches a record under the number, taking ownership; a record already there is deleted.
    void AddInterface(int nId, CItemInterface *pInterface);
    // The record under the number, owned by the item; null when there is none.
    CItemInterface *GetInterface(int nId) const;

    // Values the plain getters answer. Setting the path also sets the fully qualified name,
    // the name and the parent path from it; set those afterwards to differ.
    void SetPath(const std::string &strPath);
    void SetFullyQualifiedItemName(const std::string &strName) {
        m_strFullyQualifiedName = strName;
        m_bNameIsPath = false;
    }
    void SetName(const std::string &strName) { m_strName = strName; }
    void SetParentPath(const std::string &strPath) { m_strParentPath = strPath; }
    void SetFolder(bool bFolder) { m_bFolder = bFolder; }
    void SetSize(uint64_t ullSize) { m_ullSize = ullSize; }
    void SetSizeOnDisk(uint64_t ullSize) { m_ullSizeOnDisk = ullSize; }
    void SetAttributes(uint32_t nAttributes) { m_nAttributes = nAttributes; }
    void SetMode(uint32_t nMode) { m_nMode = nMode; }
    void SetTimes(CTimeStamp creation, CTimeStamp modification, CTimeStamp access,
                  CTimeStamp change) {
        m_creationTime = creation;
        m_modificationTime = modification;
        m_accessTime = access;
        m_changeTime = change;
    }

protected:
    CBagPtr m_ptrWorkUnitBag;
    mutable CBag m_itemBag;
    std::atomic<uint32_t> m_nFlags;

    bool m_bFolder = false;
    CTimeStamp m_creationTime;
    CTimeStamp m_modificationTime;
    CTimeStamp m_accessTime;
    CTimeStamp m_changeTime;
    std::string m_strName;
    // Unused while m_bNameIsPath: the fully qualified name is then the path, which is by far the
    // most common case, kept once.
    std::string m_strFullyQualifiedName;
    bool m_bNameIsPath = false;
    std::string m_strParentPath;
    std::string m_strPath;
    uint64_t m_ullSize = 0;
    uint64_t m_ullSizeOnDisk = 0;
    uint32_t m_nAttributes = 0;
    uint32_t m_nMode = 0;

private:
    // Records numbered below this sit in the item's own slots; any other number goes to the map.
    static const int kInlineInterfaces = 8;

    std::unique_ptr<CItemInterface> &InterfaceSlot(int nId);

    mutable std::mutex m_lockInterfaces;
    std::unique_ptr<CItemInterface> m_arrInterfaces[kInlineInterfaces];
    std::map<int, std::unique_ptr<CItemInterface>> m_mapInterfaces;
};

typedef boost::shared_ptr<CItem> CItemPtr;

// The agent that produced a live-crawl item; it selects the handler that reads the agent's
// record.
enum LiveCrawlAgentType : int32_t {
    LIVECRAWL_AGENT_NONE = 0,
    LIVECRAWL_AGENT_CLOUD_ITEM = 1,
};

// What a live-crawl producer attaches to each item (interface 4): where the item stands in its
// collect file, whether it was deleted, and the agent's own record, which this record does not
// own (the agent's handler takes it over).
class IDX_EXPORT CLiveCrawlInterface : public CItemInterface {
public:
    CLiveCrawlInterface() = default;
    CLiveCrawlInterface(bool bItemDeleted, LiveCrawlAgentType eAgentType, void *pInterfaceInstance,
                        uint64_t ullCollectFileOffset, uint32_t nCollectFileId)
        : m_bItemDeleted(bItemDeleted), m_eAgentType(eAgentType),
          m_pInterfaceInstance(pInterfaceInstance), m_ullCollectFileOffset(ullCollectFileOffset),
          m_nCollectFileId(nCollectFileId) {}

    bool IsItemDeleted() const { return m_bItemDeleted; }
    LiveCrawlAgentType GetAgentType() const { return m_eAgentType; }
    void *getInterfaceInstance() const { return m_pInterfaceInstance; }
    uint64_t GetCollectFileOffset() const { return m_ullCollectFileOffset; }
    uint32_t GetCollectFileId() const { return m_nCollectFileId; }

    void SetItemDeleted(bool bDeleted) { m_bItemDeleted = bDeleted; }
    void SetAgentType(LiveCrawlAgentType eAgentType) { m_eAgentType = eAgentType; }
    void setInterfaceInstance(void *pInstance) { m_pInterfaceInstance = pInstance; }
    void SetCollectFileOffset(uint64_t ullOffset) { m_ullCollectFileOffset = ullOffset; }
    void SetCollectFileId(uint32_t nId) { m_nCollectFileId = nId; }

private:
    bool m_bItemDeleted = false;
    LiveCrawlAgentType m_eAgentType = LIVECRAWL_AGENT_NONE;
    void *m_pInterfaceInstance = nullptr;
    uint64_t m_ullCollectFileOffset = 0;
    uint32_t m_nCollectFileId = 0;
};

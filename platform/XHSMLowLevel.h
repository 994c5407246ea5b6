// Stub queries of the archiver: which low-level object answers for a file, and whether the file
// is a stub whose data was moved away.
//
// A file counts as a stub when it claims bytes but occupies no blocks on disk, which is how a
// file whose data the archiver moved away and left in place as a sparse placeholder looks.
// Each low-level object serves one mount point of the mount table; with an empty table the whole
// file-system tree ("/") is one mount point.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/Export.h"
#include "foundation/Locks.h"

class IDX_EXPORT CXHSMLowLevel {
public:
    explicit CXHSMLowLevel(std::string strMountPoint) : m_strMountPoint(std::move(strMountPoint)) {}
    virtual ~CXHSMLowLevel();
    CXHSMLowLevel(const CXHSMLowLevel &) = delete;
    CXHSMLowLevel &operator=(const CXHSMLowLevel &) = delete;

    // Negative on error (the reason in getLastError), positive for a stub, 0 otherwise.
    virtual int IsStub(const std::string &strPath);

    std::string getLastError() const { return m_strLastError; }
    const std::string &GetMountPoint() const { return m_strMountPoint; }

protected:
    void SetLastError(const std::string &strError) { m_strLastError = strError; }

private:
    std::string m_strMountPoint;
    std::string m_strLastError;
};

class IDX_EXPORT CXHSMMntTab {
public:
    void AddMountPoint(const std::string &strMountPoint);
    // The longest mount point that holds the path; empty when none does or the path is not
    // absolute.
    std::string FindMountPoint(const std::string &strPath) const;

private:
    std::vector<std::string> m_vecMountPoints;
};

// The low-level objects made so far, one per mount point, made on first use.
class IDX_EXPORT CXHSMLowLevelCtx {
public:
    // Members are made in order: the map, the lock (which throws when its handle cannot be
    // made), the mount table; then the mode is stored.
    explicit CXHSMLowLevelCtx(int32_t nMode) : m_nMode(nMode) {}
    ~CXHSMLowLevelCtx() {
        for (auto &entry : m_mapLowLevel) {
            delete entry.second;
        }
    }
    CXHSMLowLevelCtx(const CXHSMLowLevelCtx &) = delete;
    CXHSMLowLevelCtx &operator=(const CXHSMLowLevelCtx &) = delete;

    // The object for the file's mount point, owned by this context; null when the mount table
    // has no mount point for the path.
    CXHSMLowLevel *getByFileName(const std::string &strPath) {
        std::string strMountPoint = m_mountTable.FindMountPoint(strPath);
        if (strMountPoint.empty()) {
            return nullptr;
        }
        TqCriticalSectionLock guard(&m_lock);
        CXHSMLowLevel *&pLowLevel = m_mapLowLevel[strMountPoint];
        if (pLowLevel == nullptr) {
            pLowLevel = new CXHSMLowLevel(strMountPoint);
        }
        return pLowLevel;
    }

    // Mount points are added before the context is shared between threads.
    CXHSMMntTab &GetMountTable() { return m_mountTable; }
    int32_t GetMode() const { return m_nMode; }

private:
    std::map<std::string, CXHSMLowLevel *> m_mapLowLevel;
    TqCriticalSection m_lock;
    CXHSMMntTab m_mountTable;
    int32_t m_nMode;
};

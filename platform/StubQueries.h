// Stub detection for the queueing calls: the stub filter that decides whether an item is to be
// skipped for archiving, and whether the archiver's stubbing driver is loaded. The HSM low-level
// query that tells whether a file is a stub is in platform/XHSMLowLevel.h.
//
// This host has no stubbing driver and archives nothing: the driver reads as not loaded and a
// stub filter skips no item, unless a test scripts otherwise (platform/testing/StubControl.h).
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"
#include "platform/Item.h"
#include "platform/XHSMLowLevel.h"

class IDX_EXPORT CStubbingFilterInterface {
public:
    virtual ~CStubbingFilterInterface() = default;

    virtual CKyError Initialize() = 0;
    // True when the item is to be skipped for archiving; strReason then says why.
    virtual bool IsItemToBeSkipped(const CItemPtr &ptrItem, std::string &strReason) = 0;
};

typedef boost::shared_ptr<CStubbingFilterInterface> CStubbingFilterInterfacePtr;

// The stub filter of a Unix file system, made from the first path a job queues.
class IDX_EXPORT CStubbingFilterUnix : public CStubbingFilterInterface {
public:
    explicit CStubbingFilterUnix(const std::string &strPath);

    CKyError Initialize() override;
    // Answers false for an empty item pointer.
    bool IsItemToBeSkipped(const CItemPtr &ptrItem, std::string &strReason) override;

    const std::string &GetPath() const { return m_strPath; }

private:
    std::string m_strPath;
};

class IDX_EXPORT CXHSMServiceHelper {
public:
    // Whether the archiver's stubbing driver is loaded on this host.
    static bool IsFSFDriverLoaded();
};

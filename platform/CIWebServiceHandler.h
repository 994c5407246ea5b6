// The web-service plug-in's interface as the library calls it: the item record it is handed, the
// handler that takes records with or without content and keeps a list of the ones that failed,
// and the entry point that makes a handler.
//
// The plug-in is a library of its own, loaded by file name while a worker starts, so everything
// here is an interface between two separately built binaries: the record is all inline, and the
// handler is reached only through its virtual operations. A handler is used by one thread at a
// time (the worker that made it); it may call the abort check it was given at any time during
// its operations.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "platform/MessageRecords.h"

namespace TQLX_ContentIndexing {

// One item handed to the plug-in. The custom properties are taken over from the caller, whose
// list is left empty; the two flags are the plug-in's own.
class CCIItemInfo {
public:
    CCIItemInfo(const std::string &strVersionGuid, const std::string &strContentId,
                const std::string &strPath, int32_t nDocumentType,
                std::vector<App::NameValueMap> &vecCustomProperties)
        : m_strVersionGuid(strVersionGuid), m_strContentId(strContentId), m_strPath(strPath),
          m_nDocumentType(nDocumentType), m_vecCustomProperties(std::move(vecCustomProperties)),
          m_bFirstFlag(false), m_bSecondFlag(false) {
        vecCustomProperties.clear();
    }

    const std::string &GetVersionGuid() const { return m_strVersionGuid; }
    const std::string &GetContentId() const { return m_strContentId; }
    // The item's fully qualified name as the job gave it.
    const std::string &GetPath() const { return m_strPath; }
    // 1 file, 4 folder.
    int32_t GetDocumentType() const { return m_nDocumentType; }
    const std::vector<App::NameValueMap> &GetCustomProperties() const {
        return m_vecCustomProperties;
    }

    bool GetFirstFlag() const { return m_bFirstFlag; }
    void SetFirstFlag(bool bSet) { m_bFirstFlag = bSet; }
    bool GetSecondFlag() const { return m_bSecondFlag; }
    void SetSecondFlag(bool bSet) { m_bSecondFlag = bSet; }

private:
    // Released in reverse: the properties first, then the three texts.
    std::string m_strVersionGuid;
    std::string m_strContentId;
    std::string m_strPath;
    int32_t m_nDocumentType;
    std::vector<App::NameValueMap> m_vecCustomProperties;
    bool m_bFirstFlag;
    bool m_bSecondFlag;
};

typedef boost::shared_ptr<CCIItemInfo> CCIItemInfoPtr;

// The handler. The caller owns it and deletes it through the virtual destructor, while the
// library that made it is still loaded.
class ICIWSHandler {
public:
    virtual ~ICIWSHandler() {}

    // Readies the handler once its settings are given; an error ends the set-up.
    virtual CKyError Initialize() = 0;
    // Submits the indexing task to the web service; strOutput is the handler's own answer.
    virtual CKyError SubmitTask(const std::string &strUrl, const uint32_t &nApplicationNumber,
                                const int32_t &nClientId, const int64_t &llJobId,
                                int nApplicationType, std::string &strOutput) = 0;
    // The end of a collaboration-site task.
    virtual CKyError FinishTask(bool &bValue) = 0;
    // Hands one record over, to be indexed with the content of the file at its path, or without
    // content. Success: the handler has taken the record. An error: the records that failed are
    // in the failed list.
    virtual CKyError PushItem(CCIItemInfoPtr ptrItem) = 0;
    virtual CKyError PushItemMetadata(CCIItemInfoPtr ptrItem) = 0;
    // The end of a virtual-machine task.
    virtual CKyError FinishVMTask(int nValue) = 0;
    // The records that failed since the list was last cleared.
    virtual const std::vector<CCIItemInfoPtr> &GetFailedItems() = 0;
    virtual void ClearFailedItems() = 0;

    virtual void SetBatchLimits(const uint32_t &nItemsPerTransaction, const uint32_t &nSecond) = 0;
    virtual void SetOptionFlag(bool bFlag) = 0;
    virtual void SetPushOnlyMetadata(bool bPushOnlyMetadata) = 0;
    virtual void SetSubClientDir(const std::string &strSubClientDir) = 0;
    virtual void SetMode(const int64_t &llMode) = 0;
    virtual void SetJobId(const int64_t &llJobId) = 0;
    // True from the check means the job is aborted and the handler should stop its work.
    virtual void SetAbortCheck(std::function<bool()> fnAbortCheck) = 0;
};

} // namespace TQLX_ContentIndexing

// The plug-in's entry point, exported as "getTqCIWebServiceHandle" with C linkage: a new handler
// (bVMContentIndexing true for a virtual-machine job), or null.
typedef TQLX_ContentIndexing::ICIWSHandler *(*PFN_getTqCIWebServiceHandle)(bool bVMContentIndexing);

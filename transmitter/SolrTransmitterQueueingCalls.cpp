// The facade's queueing calls (CSolrTransmitter::AddToQueue and the BuildAndAddToQueue family):
// every form turns its input into one item, marks it and hands it to the bounded queue of the
// shared state; and the one-time stub-detection set-up.
#include <sys/stat.h>

#include <strings.h>

#include <cstring>
#include <memory>
#include <new>

#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/Locks.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "platform/ItemLookup.h"
#include "platform/LogWriter.h"
#include "platform/StubQueries.h"
#include "platform/XHSMLowLevel.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kNetworkPathPrefix[] = "UNC-NT_";
const char kSlashNetworkPathPrefix[] = "/UNC-NT_";
const char kNetworkPathStart[] = "\\\\";
const char kErrorCodeKey[] = "errorCode";
// Driver modes of the HSM low-level context.
const int32_t kArchiverDriverMode = 1;

// "C:" and the like: a drive with no item under it to look up.
bool IsBareDriveDesignator(const std::string &strPath) {
    return strPath.size() == 2 && strPath[1] == ':';
}

// The lookup's "file gone" and "path gone" numbers.
bool IsVanished(const CKyError &error) {
    return FXErrorUtil::IsWin32(error, EIdxError::eFileNotFound) ||
           FXErrorUtil::IsWin32(error, EIdxError::ePathNotFound);
}

bool EndsWithBackslash(const std::string &strPath) {
    return !strPath.empty() && strPath.back() == '\\';
}

// The path as the lookup takes it: a leading "/UNC-NT_" (when bSlashPrefix) or "UNC-NT_" stands
// for "\\\\", and one trailing "/" goes. A path that needs none of that, as most do, is used as it
// is; otherwise the changed copy is made in strScratch.
const std::string &LookupPath(const std::string &strPath, bool bSlashPrefix,
                              std::string &strScratch) {
    // Both prefixes start with "UNC" at a known place: a path without a "u" there, as almost
    // every path is, is told apart without comparing more.
    auto startsWith = [&strPath](const char *szPrefix, size_t nLength, size_t nLetter) {
        return strPath.size() >= nLength && (strPath[nLetter] == 'U' || strPath[nLetter] == 'u') &&
               strncasecmp(strPath.c_str(), szPrefix, nLength) == 0;
    };
    const bool bChange = (bSlashPrefix && startsWith(kSlashNetworkPathPrefix,
                                                     sizeof(kSlashNetworkPathPrefix) - 1, 1)) ||
                         startsWith(kNetworkPathPrefix, sizeof(kNetworkPathPrefix) - 1, 0) ||
                         (!strPath.empty() && strPath.back() == '/');
    if (!bChange) {
        return strPath;
    }
    strScratch = strPath;
    if (bSlashPrefix) {
        FXString::ReplaceLeftNoCase(strScratch, kSlashNetworkPathPrefix, kNetworkPathStart);
    }
    FXString::ReplaceLeftNoCase(strScratch, kNetworkPathPrefix, kNetworkPathStart);
    FXPath::RemoveTrailingDelimiter(strScratch);
    return strScratch;
}

// The application GUID as one shared text: each thread that queues keeps the one it made last
// and makes another only when the option changes, so that the records of a job share it.
boost::shared_ptr<const std::string> SharedAppGUID(const std::string &strGUID) {
    thread_local boost::shared_ptr<const std::string> t_ptrGUID;
    if (strGUID.empty()) {
        return boost::shared_ptr<const std::string>();
    }
    if (!t_ptrGUID || *t_ptrGUID != strGUID) {
        t_ptrGUID = boost::make_shared<const std::string>(strGUID);
    }
    return t_ptrGUID;
}

CKyError NotStarted(const FXCodeLocation &location) {
    return FXErrorUtil::ErrorWin32(location, EIdxError::eGeneralFailure,
                                   "Transmitter was not started");
}

// Whether the stub filter (when there is one) passes the item over for archiving.
bool IsSkippedForArchiving(const boost::shared_ptr<CStubbingFilterInterface> &ptrStubFilter,
                           const CItemPtr &ptrItem) {
    if (!ptrStubFilter) {
        return false;
    }
    std::string strReason;
    const bool bSkipped = ptrStubFilter->IsItemToBeSkipped(ptrItem, strReason);
    if (bSkipped) {
        IDX_LOG(7, "Reason=[%s]", strReason.c_str());
    }
    return bSkipped;
}

// Looks up the item to queue at strItemPath below strParentPath; a bare drive has no item to look
// up and is handled like a lookup that gave nothing back. bTwoPaths: the paths are the two of the
// caller (both are named in the log and the error, and both take the "/UNC-NT_" prefix);
// otherwise the one path stands for both. A lookup that failed but still gave an item queues it
// with the error number in its bag; a vanished path ending in "\\" leaves ptrItem empty with
// success, as there is nothing to queue.
CKyError LookUpItemToQueue(const std::string &strItemPath, const std::string &strParentPath,
                           bool bTwoPaths, CItemPtr &ptrItem) {
    std::string strItemScratch;
    std::string strParentScratch;
    const std::string &strItem = LookupPath(strItemPath, bTwoPaths, strItemScratch);
    const std::string &strParent =
        bTwoPaths ? LookupPath(strParentPath, true, strParentScratch) : strItem;

    ptrItem.reset();
    CKyError error;
    if (!IsBareDriveDesignator(strParent)) {
        CBasicPathEnumerator enumerator;
        error = enumerator.GetItemByPath(strParent, strItem, ptrItem);
    }
    if (!error.IsError() && ptrItem) {
        return CKyError::Success();
    }
    if (error.IsError()) {
        if (bTwoPaths) {
            IDX_LOG_ERROR("Failed to get item by path, ItemName=[%s][%s], error=%s",
                          strItemPath.c_str(), strParentPath.c_str(), error.AsString().c_str());
        } else {
            IDX_LOG_ERROR("Failed to get item by path, ItemName=[%s], error=%s",
                          strItemPath.c_str(), error.AsString().c_str());
        }
    }
    if (!ptrItem) {
        if (bTwoPaths) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                           "Failed to obtain item, ItemName=[%s] [%s]",
                                           strItemPath.c_str(), strParentPath.c_str());
        }
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to obtain item, ItemName=[%s]", strItemPath.c_str());
    }
    if (EndsWithBackslash(strParentPath) && IsVanished(error)) {
        ptrItem.reset();
        return CKyError::Success();
    }
    ptrItem->GetItemBag()->Write<uint32_t>(kErrorCodeKey, FXErrorUtil::GetWin32(error));
    return CKyError::Success();
}

// The log lines of a queueing call that the queue refused; the error goes back with this place.
CKyError QueueRefused(CKyError error) {
    IDX_LOG_ERROR("Add to solr transmitter queue failed, error=%s", error.AsString().c_str());
    if (FXErrorUtil::IsWin32(error, EIdxError::eOperationAborted)) {
        IDX_LOG_ERROR("Aborting scan, solr transmitter has stopped");
    }
    return error.Push(FXLOC);
}

} // namespace

CKyError CSolrTransmitter::AddToQueue(CItemPtr ptrItem) try {
    return m_ptrSolrTransmitterPrivate->AddToQueue(std::move(ptrItem));
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::GetStubFilter(const std::string &strPath,
                                         boost::shared_ptr<CStubbingFilterInterface> &ptrFilter) {
    // Before the start there is no filter to set up: the path forms are refused.
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (!state.IsQueueCreated()) {
        return NotStarted(FXLOC);
    }
    auto_lock lock(&state.m_lockStubFilters, true);
    if (!state.m_bStubFiltersInitialized) {
        CKyError error = InitializeStubFilters(strPath);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
    }
    ptrFilter = state.m_ptrStubFilter;
    return CKyError::Success();
}

CKyError CSolrTransmitter::BuildAndAddToQueue(CItemPtr ptrItem, unsigned int nCollectId,
                                              long long llCollectOffset, bool bSkippedForArchiving,
                                              bool bIsStub,
                                              CAnalyticsItemAddInfoPtr ptrAddInfo) try {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (!state.IsQueueCreated()) {
        return NotStarted(FXLOC);
    }
    if (!ptrItem) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "No item given to queue");
    }
    return QueueWithAnalytics(std::move(ptrItem), nCollectId, llCollectOffset, bSkippedForArchiving,
                              bIsStub, std::move(ptrAddInfo));
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::QueueWithAnalytics(CItemPtr ptrItem, unsigned int nCollectId,
                                              long long llCollectOffset, bool bSkippedForArchiving,
                                              bool bIsStub, CAnalyticsItemAddInfoPtr ptrAddInfo) {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    const CTransmitterOptions &options = *state.m_ptrOptions;

    // An absent value leaves 0: the item did not fail.
    uint32_t nErrorCode = 0;
    ptrItem->GetItemBag()->Read(kErrorCodeKey, nErrorCode, CBag::eReadOptional);

    std::unique_ptr<CAnalyticsItemUnix> ptrAnalytics(new (std::nothrow)
                                                         CAnalyticsItemUnix(ptrItem));
    if (!ptrAnalytics) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }

    const bool bCollectOwner = options.IsCollectOwnerInfo();
    const bool bCollectSecurity = options.IsCollectSecurityInfo();
    CKyError error = ptrAnalytics->SetSecurityInformation(bCollectOwner, bCollectSecurity);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to set security information of analytics object, path=[%s], "
                      "error=%s",
                      ptrItem->GetPath().c_str(), error.AsString().c_str());
    }
    if (bCollectOwner || bCollectSecurity) {
        // Timed only when something is read: the timer measures reading the information.
        CAutoTimeCounter timer(state.Timers().m_ptrCollectSecurityInfoTimer.get());
        error = ptrAnalytics->ProcessSecurityInformation();
    } else {
        error = ptrAnalytics->ProcessSecurityInformation();
    }
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to process information of analytics object, path=[%s], error=%s",
                      ptrItem->GetPath().c_str(), error.AsString().c_str());
    }

    ptrAnalytics->SetAppGUID(SharedAppGUID(options.GetAppGUID()));
    ptrAnalytics->SetCollectID(nCollectId);
    ptrAnalytics->SetCollectOffset(llCollectOffset);
    ptrAnalytics->SetSkippedForArchiving(bSkippedForArchiving);
    ptrAnalytics->SetIsStub(bIsStub);
    if (nErrorCode != 0) {
        ptrAnalytics->SetItemFailed(true);
        ptrAnalytics->SetErrorCode(nErrorCode);
    }
    // The document builder reads the additional information from the analytics record, so it
    // travels there.
    if (ptrAddInfo) {
        ptrAnalytics->SetAdditionalInfo(std::move(ptrAddInfo));
    }
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, ptrAnalytics.release());

    IDX_LOG(6, "Adding file to queue, ItemName=[%s], CollectId=[%d], CollectOffset=[%lld]",
            ptrItem->GetFullyQualifiedItemName().c_str(), static_cast<int>(nCollectId),
            llCollectOffset);

    error = AddToQueue(std::move(ptrItem));
    if (error.IsError()) {
        return QueueRefused(error);
    }
    return CKyError::Success();
}

CKyError CSolrTransmitter::BuildAndAddToQueue(const std::string &strPath, unsigned int nCollectId,
                                              long long llCollectOffset, bool bIsStub,
                                              bool bSelectedForAccess) {
    return BuildAndAddToQueue(strPath, strPath, nCollectId, llCollectOffset, bIsStub,
                              bSelectedForAccess);
}

CKyError CSolrTransmitter::BuildAndAddToQueue(const std::string &strItemPath,
                                              const std::string &strParentPath,
                                              unsigned int nCollectId, long long llCollectOffset,
                                              bool bIsStub, bool bSelectedForAccess) try {
    boost::shared_ptr<CStubbingFilterInterface> ptrStubFilter;
    CKyError stubError = GetStubFilter(strParentPath, ptrStubFilter);
    if (stubError.IsError()) {
        return stubError;
    }

    CItemPtr ptrItem;
    CKyError error = LookUpItemToQueue(strItemPath, strParentPath, true, ptrItem);
    if (error.IsError() || !ptrItem) {
        return error;
    }

    const bool bSkippedForArchiving = IsSkippedForArchiving(ptrStubFilter, ptrItem);
    ptrItem->SetSelectedForAccess(bSelectedForAccess);

    error = QueueWithAnalytics(std::move(ptrItem), nCollectId, llCollectOffset,
                               bSkippedForArchiving, bIsStub, CAnalyticsItemAddInfoPtr());
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::BuildAndAddToQueue(const std::string &strPath,
                                              CAnalyticsItemAddInfoPtr ptrAddInfo,
                                              bool bSelectedForAccess) try {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    boost::shared_ptr<CStubbingFilterInterface> ptrStubFilter;
    CKyError stubError = GetStubFilter(strPath, ptrStubFilter);
    if (stubError.IsError()) {
        return stubError;
    }

    std::string strScratch;
    const std::string &strLookup = LookupPath(strPath, false, strScratch);

    CItemPtr ptrItem;
    CKyError error = LookUpItemToQueue(strPath, strPath, false, ptrItem);
    if (error.IsError() || !ptrItem) {
        return error;
    }

    const bool bSkippedForArchiving = IsSkippedForArchiving(ptrStubFilter, ptrItem);
    ptrItem->SetSelectedForAccess(bSelectedForAccess);

    bool bIsStub = false;
    if (m_ptrHSMLowLevelCtx) {
        CXHSMLowLevel *pLowLevel = m_ptrHSMLowLevelCtx->getByFileName(strLookup);
        if (pLowLevel != nullptr) {
            int nStub = pLowLevel->IsStub(strLookup);
            if (nStub < 0) {
                IDX_LOG(0, "Failed to identify if item is a stub, item=%s, error= %s",
                        strLookup.c_str(), pLowLevel->getLastError().c_str());
            } else {
                bIsStub = nStub > 0;
            }
        }
    }

    error = QueueWithAnalytics(std::move(ptrItem), state.RunState().m_nCollectID,
                               state.RunState().m_llCollectOffset, bSkippedForArchiving, bIsStub,
                               std::move(ptrAddInfo));
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::BuildAndAddToQueue(const std::string &strPath,
                                              const std::string &strContentId,
                                              const std::string &strItemURL) try {
    if (!m_ptrSolrTransmitterPrivate->IsQueueCreated()) {
        return NotStarted(FXLOC);
    }

    std::string strScratch;
    const std::string &strLookup = LookupPath(strPath, false, strScratch);

    CItemPtr ptrItem;
    CBasicPathEnumerator enumerator;
    CKyError error = enumerator.GetItemByPath(strLookup, strLookup, ptrItem);
    if (error.IsError() || !ptrItem) {
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to get item by path, ItemName=[%s], error=%s", strPath.c_str(),
                          error.AsString().c_str());
        }
        if (ptrItem) {
            return error;
        }
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to obtain item, ItemName=[%s]", strPath.c_str());
    }

    CBagPtr ptrBag = ptrItem->GetItemBag();
    ptrBag->Write(SXTransmitterConfigurationBagId::idIsContentId, strContentId);
    ptrBag->Write(SXTransmitterConfigurationBagId::idIsItemURL, strItemURL);
    ptrItem->SetSelectedForAccess(false);

    IDX_LOG(6, "Adding file to queue, ItemName=[%s]", ptrItem->GetFullyQualifiedItemName().c_str());

    error = AddToQueue(ptrItem);
    if (error.IsError()) {
        return QueueRefused(error);
    }
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::BuildAndAddDeletedItemsToQueue(const std::string &strPath) try {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    if (!state.IsQueueCreated()) {
        return NotStarted(FXLOC);
    }

    // The item no longer exists: every size, time and attribute is 0.
    struct stat zeroStatus;
    memset(&zeroStatus, 0, sizeof(zeroStatus));
    FXFile::CFileData fileData(strPath, FXFile::CFileData::eParentAndName, &zeroStatus);

    boost::shared_ptr<CFindFirstItem> ptrItem =
        boost::make_shared_nothrow<CFindFirstItem>(CBagPtr(), strPath, std::move(fileData));
    if (!ptrItem) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    std::unique_ptr<CAnalyticsItemUnix> ptrAnalytics(new (std::nothrow)
                                                         CAnalyticsItemUnix(ptrItem));
    if (!ptrAnalytics) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    ptrAnalytics->SetItemDeleted(true);
    ptrAnalytics->SetAppGUID(SharedAppGUID(state.m_ptrOptions->GetAppGUID()));
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, ptrAnalytics.release());

    CKyError error = AddToQueue(ptrItem);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

CKyError CSolrTransmitter::InitializeStubFilters(const std::string &strPath) try {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    auto_lock lock(&state.m_lockStubFilters, true);

    boost::shared_ptr<CStubbingFilterUnix> ptrFilter =
        boost::make_shared_nothrow<CStubbingFilterUnix>(strPath);
    if (!ptrFilter) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    state.m_ptrStubFilter = ptrFilter;

    CKyError error = ptrFilter->Initialize();
    if (error.IsError()) {
        return error.Push(FXLOC);
    }

    const bool bDriverLoaded = CXHSMServiceHelper::IsFSFDriverLoaded();
    if (bDriverLoaded) {
        boost::shared_ptr<CXHSMLowLevelCtx> ptrContext =
            boost::make_shared_nothrow<CXHSMLowLevelCtx>(kArchiverDriverMode);
        if (!ptrContext) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        m_ptrHSMLowLevelCtx = ptrContext;
    }
    IDX_LOG(0, "LowLevelCtx Type - %s", bDriverLoaded ? "ARCHIVER_DRIVER" : "DRIVER_LESS");

    state.m_bStubFiltersInitialized = true;
    return CKyError::Success();
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

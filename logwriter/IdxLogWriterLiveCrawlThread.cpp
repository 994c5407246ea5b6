#include "logwriter/IdxLogWriterLiveCrawlThread.h"

#include <new>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/Locks.h"
#include "foundation/MakeSharedNothrow.h"
#include "logwriter/IdxLogWriterCommon.h"
#include "platform/IndexRecords.h"
#include "platform/ItemLookup.h"
#include "platform/LogWriter.h"
#include "platform/ObjectGuid.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"

namespace {

const char kNoConnectionObject[] = "Index connection object instantiation failed";
const char kNoConnection[] = "Index connection instantiation failed";
const char kNoOffsets[] = "Collect file offset array initialization failed";

// Records and fields of the index command: (index, tag, record-class hash, field hash).
const uint32_t kCommandClass = 0x30181DEE;
const uint32_t kItemRecordClass = 0x30097750;
const uint32_t kFileRecordClass = 0x3027C980;
const int64_t kOperationAdd = 0;
const int64_t kOperationDelete = 2;

} // namespace

CIdxLogWriterThreadLiveCrawl::CIdxLogWriterThreadLiveCrawl(
    CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate, CTransmitterOptionsPtr ptrOptions)
    : CIdxTransmitterThread(ptrSolrTransmitterPrivate, ptrOptions), m_nItemsSent(0),
      m_nItemsFailed(0), m_bInitialized(false), m_bConnectionInitialized(false), m_nSentReported(0),
      m_nFailedReported(0), m_strStartFailure("the transmitter thread has not started") {}

CIdxLogWriterThreadLiveCrawl::~CIdxLogWriterThreadLiveCrawl() {
    StopBeforeDestruction();
    delete[] m_pllCollectFileOffsets;
    m_pllCollectFileOffsets = nullptr;
}

void CIdxLogWriterThreadLiveCrawl::OnStart() {
    m_bInitialized = false;
    m_ptrIdxConnection = boost::make_shared_nothrow<IndexingConnection>();
    if (!m_ptrIdxConnection) {
        IDX_LOG_ERROR("%s", kNoConnectionObject);
        m_strStartFailure = kNoConnectionObject;
        m_ptrSolrTransmitterPrivate->SetSolrFailureReason(kNoConnectionObject);
        return;
    }

    const CTransmitterOptions &options = *m_ptrOptions;
    if (idxlogwriter::InitializeIndexConnection(*m_ptrIdxConnection, options) != 0) {
        IDX_LOG_ERROR("Index connection initialization failed");
        m_strStartFailure = kNoConnection;
        m_ptrSolrTransmitterPrivate->SetSolrFailureReason(kNoConnection);
        return;
    }
    m_bConnectionInitialized = true;

    const uint32_t nMaxCollectFileId = options.GetMaxCollectFileID();
    if (nMaxCollectFileId != 0) {
        // Value-initialised: every collect file starts at offset 0.
        m_pllCollectFileOffsets = new (std::nothrow) uint64_t[nMaxCollectFileId]();
        if (m_pllCollectFileOffsets == nullptr) {
            IDX_LOG_ERROR("%s", kNoOffsets);
            m_strStartFailure = kNoOffsets;
            m_ptrSolrTransmitterPrivate->SetSolrFailureReason(kNoOffsets);
            return;
        }
    }
    m_bInitialized = true;
    m_liveCrawlItemProcess.Initialize();
}

bool CIdxLogWriterThreadLiveCrawl::BeforeBatch() {
    // A request placed on this worker is answered before it takes its next item.
    CKyError error = CheckAndProcessCommitFlag();
    if (error.IsError()) {
        IDX_LOG_ERROR("Commit items failure [%s]", error.AsString().c_str());
        m_ptrSolrTransmitterPrivate->SetSolrFailureReason(error.AsString());
        return false;
    }
    return true;
}

bool CIdxLogWriterThreadLiveCrawl::OnBatchError(const CKyError &error, std::string &) {
    IDX_LOG_ERROR("ProcessItems failed, error=%s", error.AsString().c_str());
    m_ptrSolrTransmitterPrivate->SetSolrFailureReason(error.AsString());
    return true;
}

CKyError CIdxLogWriterThreadLiveCrawl::CheckAndProcessCommitFlag() {
    // Taken and dropped in one step: this is the one answer the request gets.
    const _CommitParams request = TakeCommitParams();
    if (!request.m_bCommitRequested) {
        return CKyError::Success();
    }
    // Every way out replies once; a worker that did not commit says so first, so that the cycle
    // writes no restart string past items that are not durable.
    auto reply = [&](bool bCommitted) {
        if (!bCommitted && request.m_ptrCommitFailed) {
            request.m_ptrCommitFailed->store(true);
        }
        if (request.m_ptrReplySemaphore) {
            request.m_ptrReplySemaphore->release(1);
        }
    };

    if (!request.m_ptrReplySemaphore || !request.m_ptrOffsetsLock ||
        !request.m_ptrCollectFileOffsets) {
        reply(false);
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Invalid Commit parameters found");
    }
    if (!m_bInitialized || !m_ptrIdxConnection) {
        reply(false);
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to commit IDX-Log, the index connection is not "
                                       "initialized: %s",
                                       m_strStartFailure.c_str());
    }
    if (m_ptrIdxConnection->updateRestartInfo(0) != 0) {
        reply(false);
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to commit IDX-Log");
    }

    const uint32_t nMaxCollectFileId = m_ptrOptions->GetMaxCollectFileID();
    std::vector<uint64_t> &vecTable = *request.m_ptrCollectFileOffsets;
    if (nMaxCollectFileId != 0 && m_pllCollectFileOffsets != nullptr &&
        vecTable.size() == nMaxCollectFileId) {
        auto_lock lock(request.m_ptrOffsetsLock.get(), true);
        for (uint32_t i = 0; i < nMaxCollectFileId; ++i) {
            if (m_pllCollectFileOffsets[i] > vecTable[i]) {
                vecTable[i] = m_pllCollectFileOffsets[i];
            }
        }
    }
    reply(true);
    return CKyError::Success();
}

CKyError CIdxLogWriterThreadLiveCrawl::ProcessBatch(CItemBatch &batch) {
    if (!m_bInitialized) {
        CKyError error = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                                 "Live-Crawl module intialization failed");
        error.Push(FXLOC, "%s", m_strStartFailure.c_str());
        batch.FailAll(error.AsString());
        return error;
    }

    while (const CItemPtr ptrItem = idxlogwriter::NextIndexItem(batch)) {
        CKyError error;
        try {
            error = SendInfoToIndex(ptrItem);
        } catch (...) {
            error = ErrorFromCaughtException(FXLOC);
        }
        if (error.IsError()) {
            IDX_LOG_ERROR("Send item to index-server failed, error=%s", error.AsString().c_str());
            ++m_nItemsFailed;
            m_ptrSolrTransmitterPrivate->SetSolrFailureReason(error.AsString());
            batch.FailFront(error.AsString());
        } else {
            ++m_nItemsSent;
            batch.SentFront();
        }
    }

    const uint64_t ullSent = m_nItemsSent - m_nSentReported;
    const uint64_t ullFailed = m_nItemsFailed - m_nFailedReported;
    idxlogwriter::ReportProgress(*m_ptrOptions, static_cast<long long>(ullSent + ullFailed),
                                 static_cast<long long>(ullSent),
                                 static_cast<long long>(ullFailed));
    m_nSentReported = m_nItemsSent;
    m_nFailedReported = m_nItemsFailed;
    return CKyError::Success();
}

CKyError CIdxLogWriterThreadLiveCrawl::SendInfoToIndex(const CItemPtr &ptrItem) {
    Indexing::IdxCommand command;
    // Only items of the file system have what a command carries; anything else cannot be
    // indexed, and says so rather than counting as sent.
    if (dynamic_cast<CFindFirstItem *>(ptrItem.get()) == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Item [%s] is not a file-system item",
                                       ptrItem->GetPath().c_str());
    }
    CLiveCrawlInterface *pLiveCrawl =
        dynamic_cast<CLiveCrawlInterface *>(ptrItem->GetInterface(EItemInterfaceId::eLiveCrawl));
    if (pLiveCrawl == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Item doesnt have Live crawl interface");
    }

    CNMessageBase **ppItemRecord =
        command.getObjectAccessor(true, true, 2, 2, kCommandClass, 0x00317B13, 48, 168);
    CNMessageBase *pItemRecord = ppItemRecord != nullptr ? *ppItemRecord : nullptr;
    CNMessageBase **ppFile =
        pItemRecord != nullptr
            ? pItemRecord->getObjectAccessor(true, true, 1, 1, kItemRecordClass, 0x0085CD80, 48, 44)
            : nullptr;
    CNMessageBase **ppMetadata =
        pItemRecord != nullptr
            ? pItemRecord->getObjectAccessor(true, true, 3, 3, kItemRecordClass, 0x001EEF4F,
                                             IdxMetadata::IdxMetaData::kFamily,
                                             IdxMetadata::IdxMetaData::kType)
            : nullptr;
    CNMessageBase *pFile = ppFile != nullptr ? *ppFile : nullptr;
    CNMessageBase *pMetadata = ppMetadata != nullptr ? *ppMetadata : nullptr;
    if (pFile == nullptr || pMetadata == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Index command object is invalid");
    }

    command.setint64(1, 1, pLiveCrawl->IsItemDeleted() ? kOperationDelete : kOperationAdd,
                     kCommandClass, 0x00B25794);
    const std::string &strName = ptrItem->GetFullyQualifiedItemName();
    pFile->setstring(12, 12, strName, kFileRecordClass, 0x00346425);
    std::string strObjectGuid;
    GetObjectGuid(strName, false, '/', strObjectGuid);
    pFile->setstring(16, 28, strObjectGuid, kFileRecordClass, 0x00C85AA2);
    pFile->setstring(14, 20, strObjectGuid, kFileRecordClass, 0x0090F668);
    const int64_t llModificationTime = ptrItem->GetModificationTime().AsUnixTime();
    const int64_t llChangeTime = ptrItem->GetChangeTime().AsUnixTime();
    std::string strVersionGuid;
    GetVersionGuid(strName, std::string(), llModificationTime, llChangeTime, ptrItem->GetSize(), 0,
                   false, '/', strVersionGuid, 0);
    pFile->setstring(17, 32, strVersionGuid, kFileRecordClass, 0x000CFB81);
    pFile->setint64(6, 6, llModificationTime, kFileRecordClass, 0x00C5C916);
    pFile->setint64(1, 1, static_cast<int64_t>(ptrItem->GetSize()), kFileRecordClass, 0x0035E001);
    if (ptrItem->IsFolder()) {
        pFile->setint64(9, 9, 1, kFileRecordClass, 0x00CFEE87);
    }

    // The agent's record leaves the item's live-crawl record before the handler may free it;
    // one that is not taken over goes back.
    const LiveCrawlAgentType eAgentType = pLiveCrawl->GetAgentType();
    void *pAgentInstance = pLiveCrawl->getInterfaceInstance();
    pLiveCrawl->setInterfaceInstance(nullptr);
    CKyError error = m_liveCrawlItemProcess.PopulateItem(eAgentType, pAgentInstance, pMetadata);
    if (pAgentInstance != nullptr) {
        pLiveCrawl->setInterfaceInstance(pAgentInstance);
    }
    if (error.IsError()) {
        return error.Push(FXLOC, "Populate item failed [Agent type - %u]",
                          static_cast<uint32_t>(eAgentType));
    }

    IdxMetadata::IdxDbInfo dbInfo;
    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(3)) {
        std::string strXml;
        command.serialize(strXml, false);
        IDX_LOG_ERROR("sending idxCommand XML (%u)[%s]", static_cast<uint32_t>(eAgentType),
                      strXml.c_str());
    }
    if (m_ptrIdxConnection->sendFileInfoV2(dbInfo, command) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure, "Failed to add metadata");
    }

    // The last item sent for a collect file gives its offset, even when smaller. An id outside
    // the table has no entry: nothing is stored for it.
    const uint32_t nCollectFileId = pLiveCrawl->GetCollectFileId();
    if (m_pllCollectFileOffsets != nullptr && nCollectFileId >= 1 &&
        nCollectFileId <= m_ptrOptions->GetMaxCollectFileID()) {
        m_pllCollectFileOffsets[nCollectFileId - 1] = pLiveCrawl->GetCollectFileOffset();
    }
    return CKyError::Success();
}

void CIdxLogWriterThreadLiveCrawl::OnStop() {
    // A request still held gets its one reply: no commit follows, so the cycle writes nothing.
    const _CommitParams request = TakeCommitParams();
    if (request.m_bCommitRequested) {
        if (request.m_ptrCommitFailed) {
            request.m_ptrCommitFailed->store(true);
        }
        if (request.m_ptrReplySemaphore) {
            request.m_ptrReplySemaphore->release(1);
        }
    }

    // A connection that never initialised is not used.
    if (m_ptrIdxConnection && m_bConnectionInitialized) {
        if (m_ptrIdxConnection->backupDone(1) != 0) {
            m_ptrSolrTransmitterPrivate->SetSolrFailureReason("Index item commit process failed");
            IDX_LOG_ERROR("Failed to send backup status ");
        }
    }
    m_ptrIdxConnection.reset();
    m_bConnectionInitialized = false;
    m_liveCrawlItemProcess.Uninitialize();
    CIdxTransmitterThread::OnStop();
}

CKyError CIdxLogWriterThreadLiveCrawl::SendCommit() {
    return CKyError::Success();
}

bool CIdxLogWriterThreadLiveCrawl::IsIdxEngineRunning() {
    return false;
}

CKyError CIdxLogWriterThreadLiveCrawl::LogPerformanceCounters() {
    return CKyError::Success();
}

CKyError CIdxLogWriterThreadLiveCrawl::SendDeleteDataSourceContent(const std::string &) {
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotSupported, "Not supported");
}

CKyError CIdxLogWriterThreadLiveCrawl::PruneAuditCore(const std::string &, const std::string &) {
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotSupported, "Not supported");
}

CKyError CIdxLogWriterThreadLiveCrawl::SyncAuditAndMainCore(int32_t, const std::string &) {
    IDX_LOG_ERROR("Not supported");
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotSupported, "Not supported");
}

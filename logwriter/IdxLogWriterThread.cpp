#include "logwriter/IdxLogWriterThread.h"

#include <boost/make_shared.hpp>

#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "logwriter/IdxLogWriterCommon.h"
#include "platform/ArMgrClientAPI.h"
#include "platform/Clock.h"
#include "platform/ItemLookup.h"
#include "platform/LogWriter.h"
#include "platform/ScanMisc.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"

namespace {

const char kNoConnectionObject[] = "Index connection object instantiation failed";
const char kNoConnection[] = "Index connection instantiation failed";
const char kUncStandIn[] = "UNC-NT_";

} // namespace

CIdxLogWriterThread::CIdxLogWriterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                                         CTransmitterOptionsPtr ptrOptions)
    : CIdxTransmitterThread(ptrSolrTransmitterPrivate, ptrOptions), m_nFilesSent(0),
      m_nFilesReported(0), m_pFileHeader(new CXFileHeader()), m_nFileIdTime(0), m_nArchiveFileId(0),
      m_bConnectionInitialized(false),
      m_strNoConnectionReason("the transmitter thread has not started") {
    CIdxLogWriterThread::InitIdxDbInfoViewId();
    m_nArchiveFileId = m_ptrOptions->GetSnapArchiveFileID();
}

CIdxLogWriterThread::~CIdxLogWriterThread() {
    // The hooks use the members below: the thread ends while they still exist.
    StopBeforeDestruction();
}

void CIdxLogWriterThread::InitIdxDbInfoViewId() {
    m_strViewId = "default";
}

std::string CIdxLogWriterThread::FindVolumeMountPointPath(const std::string &) {
    return std::string();
}

void CIdxLogWriterThread::OnStart() {
    {
        CKyError error = InitializeJobThread();
        if (error.IsError()) {
            // The worker runs on without a connection: its first item fails and aborts the
            // transmitter with this reason.
            m_strNoConnectionReason = "InitializeThread failed, error=" + error.AsString();
            return;
        }
    }

    CKyError error = InitIdxConnection();
    if (error.IsError()) {
        const std::string strReason = m_ptrIdxConnection ? kNoConnection : kNoConnectionObject;
        IDX_LOG_ERROR("%s, error=%s", strReason.c_str(), error.AsString().c_str());
        m_strNoConnectionReason = strReason + ", error=" + error.AsString();
        // Without its connection the worker can send nothing: the job is refused from now on
        // (995), and the reason tells it why.
        AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted), strReason);
    }
}

CKyError CIdxLogWriterThread::InitIdxConnection() {
    m_ptrIdxConnection = boost::make_shared_nothrow<IndexingConnection>();
    if (!m_ptrIdxConnection) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    const CTransmitterOptions &options = *m_ptrOptions;
    IDX_LOG(5, "Backup Type %d", static_cast<int>(options.GetBackupType()));

    if (idxlogwriter::InitializeIndexConnection(*m_ptrIdxConnection, options) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "IndexingConnection::initialize failed");
    }
    m_bConnectionInitialized = true;
    m_ptrIdxConnection->setStreamJobId(options.GetSnapJobId());

    if (m_nArchiveFileId == 0) {
        m_nArchiveFileId = options.GetSnapArchiveFileID();
    }
    CKyError error = SendArchiveFileInfo(m_nArchiveFileId, false);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::SendArchiveFileInfo(uint64_t ullArchiveFileId, bool bFinal) {
    if (!m_ptrIdxConnection || !m_bConnectionInitialized) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Index connection is not initialized");
    }
    const CTransmitterOptions &options = *m_ptrOptions;
    ArMgrClientAPI archiveManager;
    GetAfileInfoArgsCC_t args;
    args.ullAfileId = ullArchiveFileId;
    args.ullReserved = 0;
    args.ullFleetId = options.GetFleetId();
    GetAfileInfoRetCC_t reply;
    if (archiveManager.getAfileInfo(&args, &reply) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "getAfileInfo failed for afile ID [%lu]",
                                       static_cast<unsigned long>(ullArchiveFileId));
    }

    ArchiveFileId_t archiveFileId;
    archiveFileId.nFleetId = static_cast<uint32_t>(options.GetFleetId());
    archiveFileId.nIdentifier = static_cast<uint32_t>(reply.ullAfileId);
    archiveFileId.nAfileId = static_cast<uint32_t>(ullArchiveFileId);
    if (m_ptrIdxConnection->sendAfileInfo(
            &archiveFileId, bFinal, reply.ullReplyValue, options.GetArchiveFileFlags(),
            options.GetApplicationNumber(), options.GetSnapJobId(), 0) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to send afile info for afile ID [%lu].",
                                       static_cast<unsigned long>(ullArchiveFileId));
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::SendArchiveFileInfo(ArchiveFileId_t *pArchiveFileId) {
    if (!m_ptrIdxConnection || !m_bConnectionInitialized || pArchiveFileId == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Index connection is not initialized");
    }
    if (m_ptrIdxConnection->sendAfileInfo(pArchiveFileId, true, 0, 0) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to send afile info for afile ID [%u].",
                                       pArchiveFileId->nAfileId);
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::FinalizeIdxConnection(bool bFinal) {
    // A connection that never initialised is not used: nothing was announced on it, and the
    // index server would refuse the backup-done flag.
    if (!m_ptrIdxConnection || !m_bConnectionInitialized) {
        return CKyError::Success();
    }
    // The id is read from the options again: the one the job gave is final.
    CKyError error = SendArchiveFileInfo(m_ptrOptions->GetSnapArchiveFileID(), bFinal);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    const int nFinal = bFinal ? 1 : 0;
    if (m_ptrIdxConnection->backupDone(nFinal) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to send backup done flag [%d]", nFinal);
    }
    m_ptrIdxConnection.reset();
    m_bConnectionInitialized = false;
    return CKyError::Success();
}

void CIdxLogWriterThread::OnStop() {
    CKyError error = FinalizeIdxConnection(true);
    if (error.IsError()) {
        IDX_LOG_ERROR("FinalizeIdxConnection failed, error=%s", error.AsString().c_str());
        SetError(error);
    }
    CIdxTransmitterThread::OnStop();
}

bool CIdxLogWriterThread::OnBatchError(const CKyError &error, std::string &strAbortReason) {
    IDX_LOG_ERROR("ProcessItems failed, error=%s", error.AsString().c_str());
    // The worker keeps 995; the real error is the transmitter's failure reason and is in the log
    // line above.
    strAbortReason = error.AsString();
    return true;
}

CKyError CIdxLogWriterThread::ProcessBatch(CItemBatch &batch) {
    while (const CItemPtr ptrItem = idxlogwriter::NextIndexItem(batch)) {
        CKyError error;
        if (!m_ptrIdxConnection || !m_bConnectionInitialized) {
            error = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                            "Index connection is not initialized: %s",
                                            m_strNoConnectionReason.c_str());
        } else {
            error = InitItemProcessing(ptrItem);
            if (!error.IsError()) {
                CAnalyticsItemInterface *pAnalytics = CAnalyticsItemInterface::FromItem(*ptrItem);
                if (pAnalytics != nullptr && pAnalytics->IsItemDeleted()) {
                    IDX_LOG(5, "Deleted item %s", ptrItem->GetFullyQualifiedItemName().c_str());
                    error = PopulateDeletedFileHeader(ptrItem);
                } else {
                    error = PopulateHeader(ptrItem);
                }
            }
            if (!error.IsError()) {
                error = SendFileInfo();
            }
        }
        if (error.IsError()) {
            batch.FailFront(error.AsString());
            return error.Push(FXLOC);
        }
        batch.SentFront();
    }

    const uint64_t ullNew = m_nFilesSent - m_nFilesReported;
    // The count stands in for the bytes; a worker never reports failures here, since a failed
    // item ends the job.
    idxlogwriter::ReportProgress(*m_ptrOptions, static_cast<long long>(ullNew),
                                 static_cast<long long>(ullNew), 0);
    m_nFilesReported = m_nFilesSent;
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::InitItemProcessing(const CItemPtr &ptrItem) {
    m_pFileHeader->Clear();
    InitItemName(ptrItem);
    m_strVolMountPath = FindVolumeMountPointPath(ptrItem->GetPath());
    m_strFileId1.clear();
    m_strFileId2.clear();
    m_strFileId3.clear();
    m_strFileId4.clear();
    m_nFileIdTime = 0;
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::InitItemName(const CItemPtr &ptrItem) {
    m_strItemPath = ptrItem->GetPath();
    m_strParentPath = ptrItem->GetParentPath();
    if (SXScanMisc::IsUncPath(ptrItem->GetPath())) {
        m_strItemPath.erase(0, 2);
        m_strParentPath.erase(0, 2);
    }
    IDX_LOG(3, "Processing item : %s, Parent item : %s", m_strItemPath.c_str(),
            m_strParentPath.c_str());
    return CKyError::Success();
}

bool CIdxLogWriterThread::IsPathUNCRoot(const std::string &strPath) {
    if (strPath.empty()) {
        return false;
    }
    if (!FXFile::IsVolumeUnc(strPath) &&
        strPath.compare(0, sizeof(kUncStandIn) - 1, kUncStandIn) != 0) {
        return false;
    }
    std::string strServer;
    std::string strShare;
    std::string strRemainder;
    if (SXScanMisc::ParseUncPath(strPath, strServer, strShare, strRemainder).IsError()) {
        return false;
    }
    return strRemainder.empty();
}

CKyError CIdxLogWriterThread::GetCompressedState(const CItemPtr &, uint32_t &nState) {
    nState = 0;
    return CKyError::Success();
}

void CIdxLogWriterThread::SetArchiveFileID(uint64_t ullArchiveFileId) {
    if (ullArchiveFileId != 0) {
        m_nArchiveFileId = ullArchiveFileId;
    }
}

CKyError CIdxLogWriterThread::AddArchiveFilePathMapEntry(const std::string &strPath,
                                                         uint64_t ullArchiveFileId) {
    if (strPath.empty() || ullArchiveFileId == 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter, "Not supported");
    }
    m_mapArchiveFilePaths[ullArchiveFileId] = strPath;
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::SendCommit() {
    IDX_LOG_ERROR("Not supported");
    return CKyError::Success();
}

bool CIdxLogWriterThread::IsIdxEngineRunning() {
    IDX_LOG_ERROR("Not supported");
    return false;
}

CKyError CIdxLogWriterThread::LogPerformanceCounters() {
    IDX_LOG_ERROR("Not supported");
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotSupported, "Not supported");
}

CKyError CIdxLogWriterThread::SendDeleteDataSourceContent(const std::string &) {
    IDX_LOG_ERROR("Not supported");
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotSupported, "Not supported");
}

CKyError CIdxLogWriterThread::PruneAuditCore(const std::string &, const std::string &) {
    IDX_LOG_ERROR("Not supported");
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotSupported, "Not supported");
}

CKyError CIdxLogWriterThread::SyncAuditAndMainCore(int32_t, const std::string &) {
    IDX_LOG_ERROR("Not supported");
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotSupported, "Not supported");
}

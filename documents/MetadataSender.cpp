// The metadata sender: one batch of items becomes one XML update request ("<add>" with one
// "<doc>" per document) posted to the engine's update URL, with an optional CRC-32 of each
// file's content; and the sender of the auditing context, which sends nothing.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

#include "engine/SolrTransmitterThread.h"
#include "foundation/Crc32.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "platform/LogWriter.h"
#include "platform/StringFormat.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// What the body of a metadata request reserves on its first use: a full batch of ordinary
// documents fits without growing. A larger body grows it once, and it stays that large.
const size_t kBodyReserveBytes = 256 * 1024;
// Files are read for their CRC in pieces of this size, through the worker's read buffer.
const size_t kCrcChunkBytes = 256 * 1024;

} // namespace

CKyError CSolrTransmitterThread::SendItems(std::list<CItemPtr> &lstItems) {
    CItemBatch batch(*m_ptrSolrTransmitterPrivate);
    for (const CItemPtr &ptrItem : lstItems) {
        batch.Add(ptrItem);
    }
    lstItems.clear();
    return SendItems(batch);
}

CKyError CSolrTransmitterThread::SendItems(CItemBatch &batch) {
    CAutoTimeCounter sendTimer(m_ptrSendItemsTimer.get());
    const CTransmitterOptions &options = *m_ptrOptions;

    // The worker's body is reused: cleared, it keeps the memory of earlier requests.
    std::string &strBody = m_strBody;
    strBody.clear();
    if (strBody.capacity() < kBodyReserveBytes) {
        strBody.reserve(kBodyReserveBytes);
    }
    strBody += "<add>";
    const int64_t llBatchSize = static_cast<int64_t>(batch.GetSize());
    const bool bWithCrc = options.IsPushMetaDataWithCRC();

    // The items stay in the batch until the answer settles them: whatever ends this call early
    // (a failed build, an exception) leaves them to the batch, which records them as failed.
    for (const CItemPtr &ptrItem : batch.GetItems()) {
        // Only files are archives: a folder named like one holds nothing to unpack.
        if (bWithCrc && !ptrItem->IsFolder()) {
            const std::string strExtension = GetFileExtension(ptrItem->GetPath());
            if (IsCompressedItem(strExtension)) {
                std::string strArchiveDocuments;
                CKyError error = BuildCompressedItem2(ptrItem, strExtension, strArchiveDocuments);
                if (error.IsError()) {
                    IDX_LOG_ERROR("Error extracting contents of the compressed file=%s, error=%s",
                                  ptrItem->GetPath().c_str(), error.AsString().c_str());
                }
                strBody += strArchiveDocuments;
                continue;
            }
        }

        // The document is built straight into the body.
        strBody += "<doc>";
        CKyError error = ShouldSendPartialData()
                             ? BuildPartialItemDataAnalytics(ptrItem, EFieldForm::eXml, strBody)
                             : BuildItemDataAnalytics(ptrItem, EFieldForm::eXml, strBody);
        if (error.IsError()) {
            batch.FailAll("building the update document failed, error=" + error.AsString());
            return error.Push(FXLOC);
        }

        if (!ptrItem->IsFolder()) {
            std::string strCrc;
            error = GetCRC32(ptrItem->GetFullyQualifiedItemName(), strCrc);
            if (error.IsError()) {
                IDX_LOG_ERROR("Failed to calculate CRC, error=%s", error.AsString().c_str());
            }
            if (!strCrc.empty()) {
                AppendField(strBody, "FileContentHash", strCrc, EFieldForm::eXml);
            }
        }
        strBody += "</doc>";
    }
    strBody += "</add>";

    IDX_LOG(7, "Out: %s", strBody.c_str());

    CKyError postError = PostItems2(options.GetCompleteSolrUrl(), strBody, kXmlHeaderLine);

    int64_t llFailed = 0;
    if (postError.IsError()) {
        batch.FailAll("the update request failed, error=" + postError.AsString());
        batch.RecordFailures();
        llFailed = llBatchSize;
    } else {
        batch.SentAll();
    }

    m_llTransmittedItems += llBatchSize;
    m_llTransmittedPackets += 1;

    CSolrTransmitterCallbackPtr ptrCallback = options.GetCallback();
    if (!options.IsScanPhase() && ptrCallback) {
        CKyError error = ptrCallback->UpdateProgress(llBatchSize - llFailed, 0, llFailed);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to update progess to JobManager, error=%s",
                          error.AsString().c_str());
        }
    }

    if (postError.IsError()) {
        return postError.Push(FXLOC);
    }
    return CKyError::Success();
}

CKyError CSolrTransmitterThread::GetCRC32(const std::string &strPath, std::string &strCrc) {
    if (!m_ptrOptions->IsPushMetaDataWithCRC()) {
        return CKyError::Success();
    }
    CAutoTimeCounter crcTimer(m_ptrGenerateCRC32Timer.get());

    // Non-blocking open, then only a regular file is read: a FIFO or a device named like a file
    // must never hold the worker up.
    auto_handle hFile;
    CKyError error = FXFile::TQCreateFile(hFile, strPath, O_RDONLY | O_NONBLOCK);
    if (!error.IsError()) {
        struct stat status;
        if (fstat(hFile.get(), &status) != 0) {
            error = FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to read the status of [%s]",
                                            strPath.c_str());
        } else if (!S_ISREG(status.st_mode)) {
            error = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidFunction,
                                            "[%s] is not a regular file", strPath.c_str());
        }
    }
    if (error.IsError()) {
        error.Push(FXLOC, "Failed to open file [%s] for reading, error=%s", strPath.c_str(),
                   error.AsString().c_str());
        IDX_LOG_ERROR("%s: %s", error.AsString(EErrorOutputFormat(2)).c_str(),
                      error.AsString().c_str());
        return error;
    }

    // The worker's read buffer, which keeps its memory from one file to the next.
    if (!m_readBuffer.Reserve(kCrcChunkBytes)) {
        IDX_LOG_ERROR("Not enough memory (%llu bytes) to read the contents of file [%s]",
                      static_cast<unsigned long long>(kCrcChunkBytes), strPath.c_str());
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }

    CKyCRC32 crc;
    for (;;) {
        size_t nRead = 0;
        error = FXFile::TQReadFile(hFile, m_readBuffer.Data(), kCrcChunkBytes, nRead);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to read file [%s], error=%s", strPath.c_str(),
                          error.AsString().c_str());
            return error.Push(FXLOC);
        }
        if (nRead == 0) {
            break;
        }
        crc.UpdateCRC32(m_readBuffer.Data(), static_cast<unsigned int>(nRead));
        if (nRead < kCrcChunkBytes) {
            break; // the end of the file: TQReadFile reads until the buffer is full
        }
    }
    char szCrc[16];
    snprintf(szCrc, sizeof(szCrc), "%X", crc.GetCRC32());
    strCrc = szCrc;
    return CKyError::Success();
}

CKyError CSolrTransmitterThread::SendAuditItems(std::list<CItemPtr> & /*lstItems*/) {
    // Monitored events reach the audit core through the job's own channel; batches in the
    // auditing context are left as they are.
    return CKyError::Success();
}

CKyError CSolrTransmitterThread::SendAuditItems(CItemBatch &batch) {
    // The job's own channel carries these items (see above): nothing is left to send here.
    batch.SentAll();
    return CKyError::Success();
}

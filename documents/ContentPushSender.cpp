// The content push sender: every file of a batch whose content qualifies is posted on its own to
// the engine's extract URL, the bytes as the body and the metadata as literal parameters with the
// SHA-512 of the bytes; everything else of the batch goes out as one metadata request.
//
// Content is read only from regular files, opened without waiting, so that a FIFO or a device
// under a file's name can never hold the worker up. A small file is read once into the worker's
// read buffer, which it keeps from one file to the next, hashed as it is read and sent from there;
// a large one is hashed in one pass and sent from the file in a second, so a worker's memory stays
// bounded whatever the size of the files it pushes. A file that cannot be read is sent as a
// failed item (status 16 with the reason) and recorded in the failures file; it is never posted
// as if its content were empty.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "engine/SolrTransmitterThread.h"
#include "foundation/Crc32.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "foundation/ReadAhead.h"
#include "foundation/StringHelpers.h"
#include "foundation/TextEncoding.h"
#include "platform/ItemLookup.h"
#include "platform/LogWriter.h"
#include "platform/StringFormat.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// The content documents travel as the extract request's parameters.
const EFieldForm kLiteral = EFieldForm::eLiteral;

const char kContentHeaderLine[] = "Content-Type: application/octet-stream";
const char kOptimizedPushMarker[] = "%OPTIMIZED_LOCAL_NODE_PUSH%";
const char kNoExtension[] = "%noext%";
const char kStateFailed[] = "16";
const char kReadErrorText[] = "Error reading file content";

const size_t kReadChunkSize = 1024 * 1024;
// Content up to this size is read once into memory, hashed and sent from there. A larger file
// is hashed in one pass and sent from the file in a second, so that a worker's memory stays
// bounded whatever the size of the files it pushes.
const uint64_t kStreamAboveBytes = 4 * 1024 * 1024;
// The hash takes a signed 32-bit count: longer content goes in slices of this size.
const size_t kHashSliceSize = 1024 * 1024 * 1024;

bool MatchesIncludeFilter(const std::set<std::string> &setFilters,
                          const std::string &strExtension) {
    for (const std::string &strFilter : setFilters) {
        if (FXString::CompareNoCase(strFilter, strExtension) == 0) {
            return true;
        }
    }
    return false;
}

// The calling thread's SHA-512, made once and started over after every use, so that hashing a
// file allocates nothing. A pass that ends early (an error, a file found too large) starts it
// over when it ends, so the next pass finds it empty.
class CHashPass {
public:
    CHashPass() : m_sha(ThreadSha512()) {}
    ~CHashPass() {
        if (!m_bFinished) {
            unsigned char abDiscarded[1];
            m_sha.finish(abDiscarded, 0);
        }
    }
    CHashPass(const CHashPass &) = delete;
    CHashPass &operator=(const CHashPass &) = delete;

    // The hash takes a signed 32-bit count: longer runs go in slices.
    void Add(const char *pData, size_t nLength) {
        while (nLength > 0) {
            const size_t nSlice = nLength < kHashSliceSize ? nLength : kHashSliceSize;
            m_sha.addData(pData, static_cast<int>(nSlice));
            pData += nSlice;
            nLength -= nSlice;
        }
    }
    // The digest in upper-case hexadecimal.
    std::string FinishHex() {
        unsigned char abDigest[64];
        m_sha.finish(abDigest, sizeof(abDigest));
        m_bFinished = true;
        return CTextEncoding::Hex(abDigest, sizeof(abDigest), CTextEncoding::eUpperHex);
    }

private:
    static TqcSHA512 &ThreadSha512() {
        thread_local TqcSHA512 sha;
        return sha;
    }

    TqcSHA512 &m_sha;
    bool m_bFinished = false;
};

// Opens the regular file at strPath without waiting: a FIFO or a device under a file's name is
// an error, never a blocked worker. ullSize is its size now.
CKyError OpenRegularFile(const std::string &strPath, auto_handle &hFile, uint64_t &ullSize) {
    CKyError error = FXFile::TQCreateFile(hFile, strPath, O_RDONLY | O_NONBLOCK);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    struct stat status;
    if (fstat(hFile.get(), &status) != 0) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to read the status of [%s]",
                                       strPath.c_str());
    }
    if (!S_ISREG(status.st_mode)) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidFunction,
                                       "[%s] is not a regular file", strPath.c_str());
    }
    ullSize = static_cast<uint64_t>(status.st_size);
    return CKyError::Success();
}

// Reads the open file whole into buffer, once, handing every piece to pHash (when given) right
// after it is read, while it is still in the cache. The buffer is made one byte larger than the
// size found, so a file that kept its size ends with a short read inside it and is never copied
// on the way; one that grew is read on. nSize is what was read and ullSeenSize how large the
// file was found. A file larger than ullMaxBytes sets bTooLarge and is not read to its end.
CKyError ReadFileIntoBuffer(const auto_handle &hFile, const std::string &strPath,
                            uint64_t ullFoundSize, uint64_t ullMaxBytes, CByteBuffer &buffer,
                            CHashPass *pHash, size_t &nSize, bool &bTooLarge,
                            uint64_t &ullSeenSize) {
    nSize = 0;
    bTooLarge = false;
    ullSeenSize = ullFoundSize;
    if (ullFoundSize > ullMaxBytes) {
        bTooLarge = true;
        return CKyError::Success();
    }
    for (uint64_t ullWanted = ullFoundSize + 1;; ullWanted = nSize + kReadChunkSize) {
        // First the size found and one byte, then more whenever a file that grew fills it.
        if (nSize == 0 || nSize == buffer.Capacity()) {
            if (ullWanted > SIZE_MAX || !buffer.Reserve(static_cast<size_t>(ullWanted), nSize)) {
                return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory,
                                               "Not enough memory to read [%s] (%llu bytes)",
                                               strPath.c_str(),
                                               static_cast<unsigned long long>(ullWanted));
            }
        }
        size_t nWant = buffer.Capacity() - nSize;
        if (nWant > kReadChunkSize) {
            nWant = kReadChunkSize;
        }
        size_t nRead = 0;
        CKyError error = FXFile::TQReadFile(hFile, buffer.Data() + nSize, nWant, nRead);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        if (pHash) {
            pHash->Add(buffer.Data() + nSize, nRead);
        }
        nSize += nRead;
        if (nSize > ullMaxBytes) {
            bTooLarge = true;
            ullSeenSize = nSize;
            return CKyError::Success();
        }
        if (nRead < nWant) {
            ullSeenSize = nSize;
            return CKyError::Success();
        }
    }
}

// A regular file's content as a request body, read from the file while it is sent. Hash reads the
// whole file once; the body is then exactly the bytes that were hashed, and a file that has
// become shorter by the time it is sent fails its request instead of sending other bytes.
class CFileContentStream : public TQLibCurl::CBodySource {
public:
    CKyError Open(const std::string &strPath) {
        m_strPath = strPath;
        CKyError error = OpenRegularFile(strPath, m_hFile, m_ullFoundSize);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        return CKyError::Success();
    }
    const auto_handle &GetHandle() const { return m_hFile; }
    // The size the file had when it was opened.
    uint64_t GetFoundSize() const { return m_ullFoundSize; }

    // SHA-512 of the whole content in upper-case hexadecimal, read in large pieces through
    // buffer and a second one, the next piece read while this one is hashed. A file found larger
    // than ullMaxBytes sets bTooLarge and is not hashed to its end.
    CKyError Hash(uint64_t ullMaxBytes, CByteBuffer &buffer, std::string &strHash,
                  bool &bTooLarge) {
        bTooLarge = false;
        // Both passes read the file from start to end: the system may read well ahead.
        posix_fadvise(m_hFile.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        CReadAhead reader(m_hFile, buffer, kReadChunkSize);
        CHashPass hash;
        uint64_t ullTotal = 0;
        for (;;) {
            const char *pData = nullptr;
            size_t nRead = 0;
            CKyError error = reader.Next(pData, nRead);
            if (error.IsError()) {
                return error.Push(FXLOC);
            }
            ullTotal += nRead;
            if (ullTotal > ullMaxBytes) {
                bTooLarge = true;
                m_ullSize = ullTotal;
                return CKyError::Success();
            }
            hash.Add(pData, nRead);
            if (nRead < kReadChunkSize) {
                break; // the end of the file: a piece is short only there
            }
        }
        m_ullSize = ullTotal;
        strHash = hash.FinishHex();
        return CKyError::Success();
    }

    uint64_t GetSize() const override { return m_ullSize; }

    bool Rewind() override {
        m_ullSent = 0;
        return lseek(m_hFile.get(), 0, SEEK_SET) == 0;
    }

    int64_t Read(char *pBuffer, size_t nMax) override {
        const uint64_t ullLeft = m_ullSize - m_ullSent;
        if (nMax > ullLeft) {
            nMax = static_cast<size_t>(ullLeft);
        }
        size_t nRead = 0;
        CKyError error = FXFile::TQReadFile(m_hFile, pBuffer, nMax, nRead);
        if (error.IsError() || (nRead == 0 && nMax != 0)) {
            IDX_LOG_ERROR("Content of [%s] could not be read while it was sent, error=%s",
                          m_strPath.c_str(),
                          error.IsError() ? error.AsString().c_str() : "the file is shorter");
            return -1;
        }
        m_ullSent += nRead;
        return static_cast<int64_t>(nRead);
    }

private:
    std::string m_strPath;
    auto_handle m_hFile;
    uint64_t m_ullFoundSize = 0;
    uint64_t m_ullSize = 0;
    uint64_t m_ullSent = 0;
};

// Reads the content of the regular file at strPath for its push, opening it once, with its
// SHA-512 in strHash and its size in ullSize. A file up to kStreamAboveBytes (by its size now,
// not when it was queued) is read once into buffer, hashed as it is read, and sent from there
// (its first nContentSize bytes); a larger one is hashed from the file, and ptrStream is left
// open to send it from there. A file larger than ullMaxBytes sets bTooLarge and is not read to
// its end.
CKyError ReadContentToPush(const std::string &strPath, uint64_t ullMaxBytes, CByteBuffer &buffer,
                           size_t &nContentSize, std::unique_ptr<CFileContentStream> &ptrStream,
                           std::string &strHash, bool &bTooLarge, uint64_t &ullSize) {
    bTooLarge = false;
    nContentSize = 0;
    std::unique_ptr<CFileContentStream> ptrFile(new CFileContentStream);
    CKyError error = ptrFile->Open(strPath);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    if (ptrFile->GetFoundSize() <= kStreamAboveBytes) {
        CHashPass hash;
        error = ReadFileIntoBuffer(ptrFile->GetHandle(), strPath, ptrFile->GetFoundSize(),
                                   ullMaxBytes, buffer, &hash, nContentSize, bTooLarge, ullSize);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        if (!bTooLarge) {
            strHash = hash.FinishHex();
        }
        return CKyError::Success();
    }
    error = ptrFile->Hash(ullMaxBytes, buffer, strHash, bTooLarge);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    ullSize = ptrFile->GetSize();
    if (!bTooLarge) {
        ptrStream = std::move(ptrFile);
    }
    return CKyError::Success();
}

} // namespace

CKyError CSolrTransmitterThread::ReadRegularFileContent(const std::string &strPath,
                                                        uint64_t ullMaxBytes,
                                                        std::string &strContent, bool &bTooLarge,
                                                        uint64_t &ullSeenSize) {
    bTooLarge = false;
    ullSeenSize = 0;
    auto_handle hFile;
    uint64_t ullSize = 0;
    CKyError error = OpenRegularFile(strPath, hFile, ullSize);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    CByteBuffer buffer;
    size_t nRead = 0;
    error = ReadFileIntoBuffer(hFile, strPath, ullSize, ullMaxBytes, buffer, nullptr, nRead,
                               bTooLarge, ullSeenSize);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    try {
        strContent.assign(buffer.Data() ? buffer.Data() : "", nRead);
    } catch (const std::bad_alloc &) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory,
                                       "Not enough memory to read [%s] (%llu bytes)",
                                       strPath.c_str(), static_cast<unsigned long long>(nRead));
    }
    return CKyError::Success();
}

std::string CSolrTransmitterThread::MakeHashSHA512(const std::string &strContent) {
    CHashPass hash;
    hash.Add(strContent.data(), strContent.size());
    return hash.FinishHex();
}

CKyError CSolrTransmitterThread::SendItemsWithContent(std::list<CItemPtr> &lstItems) {
    CItemBatch batch(*m_ptrSolrTransmitterPrivate);
    for (const CItemPtr &ptrItem : lstItems) {
        batch.Add(ptrItem);
    }
    lstItems.clear();
    return SendItemsWithContent(batch);
}

CKyError CSolrTransmitterThread::SendItemsWithContent(CItemBatch &batch) {
    CTransmitterOptions &options = *m_ptrOptions;
    const int64_t llBatchSize = static_cast<int64_t>(batch.GetSize());
    const int64_t llFailedBefore = batch.GetFailedCount();
    int64_t llBytes = 0;
    const bool bCloudMode = options.IsCloudMode();
    const std::string strErrorField = bCloudMode ? "Err" : "err";
    const std::string strStatusField = bCloudMode ? "ContentIndexingStatus" : "cistate";
    const std::set<std::string> &setIncludeFilters = options.GetIncludeFiltersSet();
    // Both bounds compare as unsigned values: a negative upper bound means no bound.
    const uint64_t ullMaxSize = static_cast<uint64_t>(options.GetMaxFileSizePushContent());
    const uint64_t ullMinSize = static_cast<uint64_t>(options.GetMinFileSizePushContent());

    // The literal parameters follow the URL's own query; an extract URL configured without one
    // gets an empty query, so that the first parameter does not become part of the path.
    std::string strExtractUrl = options.GetCompleteSolrExtractUrl();
    if (strExtractUrl.find('?') == std::string::npos) {
        strExtractUrl += '?';
    }

    // Items bound for the metadata request are owned by their own batch from the moment they
    // are moved there: should this call end early, they are recorded as failed, not lost.
    CItemBatch metadata(*m_ptrSolrTransmitterPrivate,
                        "the batch ended before its metadata request was sent");

    while (!batch.IsEmpty()) {
        if (options.IsAborted()) {
            if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
                IDX_LOG(4, "Received Quit flag. Exiting TransmitterThread");
            }
            AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted),
                        std::string());
            // What was not taken is not indexed.
            batch.FailAll("the transmitter was aborted before they were sent");
            break;
        }
        const CItemPtr ptrItem = batch.Front();
        const std::string &strPath = ptrItem->GetPath();

        if (ptrItem->IsFolder()) {
            batch.MoveFrontTo(metadata);
            continue;
        }
        CAnalyticsItemInterface *pAnalytics = GetAnalyticsItem(ptrItem);
        if (pAnalytics && pAnalytics->IsStub()) {
            if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(3)) {
                IDX_LOG(3, "Skipping Content push as the item is a stub. Item [%s]",
                        strPath.c_str());
            }
            batch.MoveFrontTo(metadata);
            continue;
        }
        // A deleted item has no content left to read: it goes out with an empty body and the
        // hash of the empty text, its document saying it was deleted.
        const bool bDeleted = pAnalytics && pAnalytics->IsItemDeleted();

        std::string strDocument;
        // The body: the optimized push's marker, or a small file's content in the worker's read
        // buffer; a large file's content is sent from the file (ptrStream).
        const char *pBody = "";
        size_t nBodyLength = 0;
        std::unique_ptr<CFileContentStream> ptrStream;
        bool bToMetadata = false;
        bool bReadError = false;
        {
            CAutoTimeCounter readTimer(m_ptrReadContentTimer.get());
            std::string strExtension = GetFileExtension(ptrItem->GetName());
            if (strExtension.empty()) {
                strExtension = kNoExtension;
            }
            if (ptrItem->IsSelectedForAccess()) {
                bToMetadata = true;
            } else if (!MatchesIncludeFilter(setIncludeFilters, strExtension)) {
                if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(3)) {
                    IDX_LOG(3,
                            "Skipping Content push as it did not meet the include filters. "
                            "File [%s]",
                            strPath.c_str());
                }
                bToMetadata = true;
            }

            if (!bToMetadata) {
                IDX_LOG(3, "Pushing Content for File [%s]", strPath.c_str());
                CKyError error = ShouldSendPartialData()
                                     ? BuildPartialItemDataAnalytics(ptrItem, kLiteral, strDocument)
                                     : BuildItemDataAnalytics(ptrItem, kLiteral, strDocument);
                if (error.IsError()) {
                    batch.FailAll("building the content document failed, error=" +
                                  error.AsString());
                    return error.Push(FXLOC);
                }

                const uint64_t ullSize = ptrItem->GetSize();
                if (ullSize > ullMaxSize || ullSize < ullMinSize) {
                    IDX_LOG_ERROR("Skipping item, filtered by size, Size = %llu bytes, Item = %s",
                                  static_cast<unsigned long long>(ullSize), strPath.c_str());
                    bToMetadata = true;
                } else if (bDeleted) {
                    strDocument +=
                        CreateField("FileContentHash", MakeHashSHA512(std::string()), kLiteral);
                } else if (options.IsOptimizeContentPush()) {
                    pBody = kOptimizedPushMarker;
                    nBodyLength = sizeof(kOptimizedPushMarker) - 1;
                    llBytes += static_cast<int64_t>(ullSize);
                    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(5)) {
                        IDX_LOG(5, "Pushing file content using optimized push [%s]",
                                strPath.c_str());
                    }
                } else {
                    bool bTooLarge = false;
                    uint64_t ullSeenSize = 0;
                    size_t nContentSize = 0;
                    std::string strHash;
                    try {
                        error = ReadContentToPush(ptrItem->GetFullyQualifiedItemName(), ullMaxSize,
                                                  m_readBuffer, nContentSize, ptrStream, strHash,
                                                  bTooLarge, ullSeenSize);
                    } catch (const std::exception &e) {
                        error = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidFunction, "%s",
                                                        e.what());
                    }
                    if (error.IsError()) {
                        bReadError = true;
                        IDX_LOG(0, "Error reading content from file, Item=%s, error=%s ",
                                strPath.c_str(), error.AsString().c_str());
                    } else if (bTooLarge) {
                        IDX_LOG_ERROR("Skipping item, filtered by size, Size = %llu bytes, "
                                      "Item = %s",
                                      static_cast<unsigned long long>(ullSeenSize),
                                      strPath.c_str());
                        bToMetadata = true;
                    } else {
                        llBytes += static_cast<int64_t>(ullSeenSize);
                        AppendField(strDocument, "FileContentHash", strHash, kLiteral);
                        if (!ptrStream) {
                            pBody = m_readBuffer.Data();
                            nBodyLength = nContentSize;
                        }
                    }
                    if (error.IsError() || bTooLarge) {
                        // Bytes read before the failure are not the file's content.
                        ptrStream.reset();
                    }
                }
            }
        }
        if (bToMetadata) {
            batch.MoveFrontTo(metadata);
            continue;
        }
        if (bReadError) {
            ChangeFieldValue(strDocument, strStatusField, kStateFailed, kLiteral);
            ChangeFieldValue(strDocument, strErrorField, kReadErrorText, kLiteral);
        }

        std::string strUrl = strExtractUrl + strDocument;
        CKyError postError =
            ptrStream ? PostItemsFromSource(strUrl, *ptrStream, kContentHeaderLine)
                      : PostItemsFromMemory(strUrl, pBody, nBodyLength, kContentHeaderLine);
        if (postError.IsError()) {
            IDX_LOG_ERROR("Retrying metadata push for failed item: Item=[%s]", strPath.c_str());
            ChangeFieldValue(strUrl, strStatusField, kStateFailed, kLiteral);
            CKyError retryError = PostItems2(strUrl, std::string(), kContentHeaderLine);
            if (retryError.IsError()) {
                IDX_LOG_ERROR("Failed to push meta data for failed item Error %s",
                              retryError.AsString().c_str());
            }
            batch.FailFront("the content request failed, error=" + postError.AsString());
        } else if (bReadError) {
            batch.FailFront("the file's content could not be read");
        } else {
            batch.SentFront();
        }
    }
    batch.RecordFailures();

    const int64_t llMetadataItems = static_cast<int64_t>(metadata.GetSize());
    if (!metadata.IsEmpty()) {
        CKyError error = SendItems(metadata);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to send meta data items to solr, Error=%s",
                          error.AsString().c_str());
        }
    }

    CSolrTransmitterCallbackPtr ptrCallback = options.GetCallback();
    if (ptrCallback) {
        const int64_t llFailed = batch.GetFailedCount() - llFailedBefore;
        ptrCallback->UpdateProgress(llBatchSize - llFailed - llMetadataItems, llBytes, llFailed);
    }
    return CKyError::Success();
}

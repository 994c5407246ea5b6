// Reading a file's content for its push: only regular files, opened without waiting, so that a
// FIFO or a device under a file's name can never hold the worker up. A small file is read once
// into the caller's buffer, which keeps its memory from one file to the next, hashed as it is
// read and sent from there; a large one is hashed in one pass and sent from the file in a second,
// so a worker's memory stays bounded whatever the size of the files it pushes.
#include "documents/ContentRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "foundation/Crc32.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "foundation/ReadAhead.h"
#include "foundation/TextEncoding.h"
#include "platform/LogWriter.h"
#include "platform/StringFormat.h"

namespace {

const size_t kReadChunkSize = 1024 * 1024;
// Content up to this size is read once into memory, hashed and sent from there. A larger file
// is hashed in one pass and sent from the file in a second, so that a worker's memory stays
// bounded whatever the size of the files it pushes.
const uint64_t kStreamAboveBytes = 4 * 1024 * 1024;
// The hash takes a signed 32-bit count: longer content goes in slices of this size.
const size_t kHashSliceSize = 1024 * 1024 * 1024;

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

} // namespace

namespace IdxDocuments {

CKyError ReadContentToPush(const std::string &strPath, uint64_t ullMaxBytes, CByteBuffer &buffer,
                           size_t &nContentSize, std::unique_ptr<TQLibCurl::CBodySource> &ptrStream,
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

CKyError ReadRegularFileContent(const std::string &strPath, uint64_t ullMaxBytes,
                                std::string &strContent, bool &bTooLarge, uint64_t &ullSeenSize) {
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

std::string MakeHashSHA512(const std::string &strContent) {
    CHashPass hash;
    hash.Add(strContent.data(), strContent.size());
    return hash.FinishHex();
}

} // namespace IdxDocuments

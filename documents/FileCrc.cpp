// The CRC-32 of a file's content, for the metadata documents of the push-with-CRC option.
#include "documents/FileCrc.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

#include "foundation/Crc32.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "platform/LogWriter.h"
#include "platform/StringFormat.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// Files are read for their CRC in pieces of this size, through the context's read buffer.
const size_t kCrcChunkBytes = 256 * 1024;

} // namespace

namespace IdxDocuments {

CKyError GetCRC32(CDocumentContext &context, const std::string &strPath, std::string &strCrc) {
    if (!context.Options().IsPushMetaDataWithCRC()) {
        return CKyError::Success();
    }
    CAutoTimeCounter crcTimer(context.Timer(CSolrTransmitterThread::ETimer::eGenerateCRC32));

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

    // The context's read buffer, which keeps its memory from one file to the next.
    CByteBuffer &readBuffer = context.ReadBuffer();
    if (!readBuffer.Reserve(kCrcChunkBytes)) {
        IDX_LOG_ERROR("Not enough memory (%llu bytes) to read the contents of file [%s]",
                      static_cast<unsigned long long>(kCrcChunkBytes), strPath.c_str());
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }

    CKyCRC32 crc;
    for (;;) {
        size_t nRead = 0;
        error = FXFile::TQReadFile(hFile, readBuffer.Data(), kCrcChunkBytes, nRead);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to read file [%s], error=%s", strPath.c_str(),
                          error.AsString().c_str());
            return error.Push(FXLOC);
        }
        if (nRead == 0) {
            break;
        }
        crc.UpdateCRC32(readBuffer.Data(), static_cast<unsigned int>(nRead));
        if (nRead < kCrcChunkBytes) {
            break; // the end of the file: TQReadFile reads until the buffer is full
        }
    }
    char szCrc[16];
    snprintf(szCrc, sizeof(szCrc), "%X", crc.GetCRC32());
    strCrc = szCrc;
    return CKyError::Success();
}

} // namespace IdxDocuments

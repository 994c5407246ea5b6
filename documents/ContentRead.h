// Reading a file's content for its push, and the SHA-512 the content documents carry. Only
// regular files are read, opened without waiting, so that a FIFO or a device under a file's name
// can never hold the worker up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/ByteBuffer.h"
#include "foundation/KyError.h"
#include "platform/TQLibCurl.h"

namespace IdxDocuments {

// Reads the content of the regular file at strPath for its push, opening it once, with its
// SHA-512 in strHash and its size in ullSize. A file up to 4 MiB (by its size now, not when it
// was queued) is read once into buffer, hashed as it is read, and sent from there (its first
// nContentSize bytes); a larger one is hashed from the file, and ptrStream is left open to send
// it from there: the body is then exactly the bytes that were hashed, and a file that has become
// shorter by the time it is sent fails its request. A file larger than ullMaxBytes sets
// bTooLarge and is not read to its end.
CKyError ReadContentToPush(const std::string &strPath, uint64_t ullMaxBytes, CByteBuffer &buffer,
                           size_t &nContentSize, std::unique_ptr<TQLibCurl::CBodySource> &ptrStream,
                           std::string &strHash, bool &bTooLarge, uint64_t &ullSize);
// Reads the regular file at strPath whole into strContent. A file larger than ullMaxBytes (it
// grew after it was queued) sets bTooLarge and leaves the content partial; ullSeenSize tells how
// large it was found. The file is read once, into one buffer of its size (and a byte): it is
// never copied into a larger one while it is read.
CKyError ReadRegularFileContent(const std::string &strPath, uint64_t ullMaxBytes,
                                std::string &strContent, bool &bTooLarge, uint64_t &ullSeenSize);
// SHA-512 of the bytes as 128 upper-case hexadecimal digits; any length is hashed whole.
std::string MakeHashSHA512(const std::string &strContent);

} // namespace IdxDocuments

// The CRC-32 of a file's content, for the metadata documents of the push-with-CRC option.
#pragma once

#include <string>

#include "documents/DocumentContext.h"

namespace IdxDocuments {

// With the push-metadata-with-CRC option: the CRC-32 of a regular file's bytes as "%X", read
// through the context's buffer. Without it: success, strCrc untouched.
CKyError GetCRC32(CDocumentContext &context, const std::string &strPath, std::string &strCrc);

} // namespace IdxDocuments

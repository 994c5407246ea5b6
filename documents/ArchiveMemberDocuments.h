// The documents of an archive file: its own document, marked compound, and one document per
// member file, as XML documents of an update request.
#pragma once

#include <string>

#include "documents/DocumentContext.h"
#include "platform/Item.h"

namespace IdxDocuments {

// From the archive unpacked into a scratch folder below the job's subclient folder; each member
// with the CRC-32 of its unpacked file (with the push-with-CRC option).
CKyError BuildCompressedItem2(CDocumentContext &context, const CItemPtr &ptrItem,
                              const std::string &strExtension, std::string &strDocument);
// The same documents from the archive's listing instead of its unpacked files (members get the
// listed CRC and no file of their own). Nothing in the library calls it.
CKyError BuildCompressedItem(CDocumentContext &context, const CItemPtr &ptrItem,
                             const std::string &strExtension, std::string &strDocument);

} // namespace IdxDocuments

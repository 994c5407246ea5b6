// The index server's message records as the index-log writer fills them: the metadata message of
// an item with its nested indexing-data, aging-data and database-information records, the
// live-crawl index command, and the cloud agent's metadata record. Each is a CNMessageBase of a
// fixed family and type and adds nothing to it.
#pragma once

#include <cstdint>

#include "foundation/Export.h"
#include "platform/MessageRecords.h"

namespace IdxMetadata {

// The index database and view an item belongs to (family 101, type 0).
class IDX_EXPORT IdxDbInfo : public CNMessageBase {
public:
    enum : int32_t { kFamily = 101, kType = 0 };
    IdxDbInfo() : CNMessageBase(kFamily, kType) {}
};

// The metadata message of one item (family 101, type 93).
class IDX_EXPORT IdxMetaData : public CNMessageBase {
public:
    enum : int32_t { kFamily = 101, kType = 93 };
    IdxMetaData() : CNMessageBase(kFamily, kType) {}
};

// What the cloud-item agent of a live-crawl job knows about one item (family 101, type 150). The
// producer makes it with new; the agent's handler takes it over.
class IDX_EXPORT CloudIdxMetadata : public CNMessageBase {
public:
    enum : int32_t { kFamily = 101, kType = 150 };
    CloudIdxMetadata() : CNMessageBase(kFamily, kType) {}
};

} // namespace IdxMetadata

namespace Indexing {

// One live-crawl index command (family 48, type 216).
class IDX_EXPORT IdxCommand : public CNMessageBase {
public:
    enum : int32_t { kFamily = 48, kType = 216 };
    IdxCommand() : CNMessageBase(kFamily, kType) {}
};

} // namespace Indexing

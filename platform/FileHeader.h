// The fixed-layout file header that the index server's log takes for every item
// (IndexingConnection::sendFileInfo): 1160 bytes in the machine's own layout and byte order.
//
// The fields are named for what the index-log writer puts into them; those it always leaves 0
// are reserved. The offsets are fixed by the index server, so they are checked here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct CXFileHeader {
    enum : size_t { kNameCapacity = 1028 };

    // Every number 0 and the name empty.
    CXFileHeader() { Clear(); }
    // Every one of the 1160 bytes.
    void Clear() { memset(static_cast<void *>(this), 0, sizeof(*this)); }

    uint32_t nHeaderType;       // 0
    uint32_t nHeaderFlags;      // 4
    uint32_t nDeleted;          // 8: 1 for a deleted item
    uint32_t nNameLength;       // 12: bytes of the name with its terminating zero
    uint64_t ullMode;           // 16: 0x4000 folder, 0x8000 file
    uint64_t ullReserved24;     // 24
    uint64_t ullLinkCount;      // 32
    uint32_t nCompressedState;  // 40
    uint32_t nAttributes;       // 44
    uint64_t ullFlags;          // 48
    uint64_t ullSize;           // 56
    int64_t llModificationTime; // 64: Unix seconds
    int64_t llChangeTime;       // 72: Unix seconds
    uint64_t ullReserved80;     // 80
    uint64_t ullReserved88;     // 88
    uint32_t nPathDelimiter;    // 96
    uint32_t nValidFields;      // 100
    uint32_t nChangeTimeRest;   // 104: the change time modulo 10,000,000
    uint32_t nFlags2;           // 108
    uint32_t nModificationRest; // 112: the modification time modulo 10,000,000
    uint32_t nReserved116;      // 116
    uint8_t abReserved120[4];   // 120
    uint32_t nAccessTime;       // 124: Unix seconds, 32 bits
    uint32_t nClientOSId;       // 128
    char szName[kNameCapacity]; // 132: zero-terminated
};

static_assert(sizeof(CXFileHeader) == 1160, "the index server takes a 1160-byte header");
static_assert(offsetof(CXFileHeader, ullMode) == 16, "header layout");
static_assert(offsetof(CXFileHeader, ullFlags) == 48, "header layout");
static_assert(offsetof(CXFileHeader, llModificationTime) == 64, "header layout");
static_assert(offsetof(CXFileHeader, nPathDelimiter) == 96, "header layout");
static_assert(offsetof(CXFileHeader, nAccessTime) == 124, "header layout");
static_assert(offsetof(CXFileHeader, szName) == 132, "header layout");

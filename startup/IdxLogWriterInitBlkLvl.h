// The initializer of block-level jobs (transmitter type 3): the archive file whose catalogue the
// job writes is given to the constructor, and its flags come from the archive manager; the
// index-server connection flags are 0x90.
#pragma once

#include <cstdint>

#include "startup/IdxLogWriterInit.h"

class CIdxLogWriterInitBlkLvl : public CIdxLogWriterInit {
public:
    explicit CIdxLogWriterInitBlkLvl(unsigned long ulArchiveFileId)
        : m_nArchiveFileID(ulArchiveFileId) {}
    ~CIdxLogWriterInitBlkLvl() override {}

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
    // The constructor's archive file id, then its flags (UpdateAFileFlags).
    CKyError UpdateSnapArchiveFileID(CBagPtr &ptrScannerBag, CBagPtr &ptrOptionsBag) override;
    CKyError UpdateIndexingConnectionFlags(CBagPtr &ptrOptionsBag) override;
    // Asks the archive manager for the archive file's flags and writes them with 0x214 added;
    // 774 "getAfileInfo failed for archiveId: %lu" when it refuses.
    CKyError UpdateAFileFlags(CBagPtr &ptrScannerBag, CBagPtr &ptrOptionsBag);

    uint64_t GetArchiveFileId() const { return m_nArchiveFileID; }

private:
    uint64_t m_nArchiveFileID;
};

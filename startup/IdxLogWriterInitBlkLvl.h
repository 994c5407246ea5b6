// The initializer of block-level jobs (transmitter type 3): the archive file whose catalogue the
// job writes is given to the constructor, and its flags come from the archive manager; the
// index-server connection flags are 0x90.
#pragma once

#include <cstdint>

#include "foundation/Export.h"
#include "startup/IdxLogWriterInit.h"

class IDX_EXPORT CIdxLogWriterInitBlkLvl : public CIdxLogWriterInit {
public:
    // The archive file whose catalogue the job writes.
    explicit CIdxLogWriterInitBlkLvl(unsigned long ulArchiveFileID);
    ~CIdxLogWriterInitBlkLvl() override;

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
    // The constructor's archive file id, then its flags (UpdateAFileFlags).
    CKyError UpdateSnapArchiveFileID(CBagPtr &ptrScannerBag, CBagPtr &ptrOptionsBag) override;
    CKyError UpdateIndexingConnectionFlags(CBagPtr &ptrOptionsBag) override;
    // Asks the archive manager for the archive file's flags and writes them with 0x214 added;
    // 774 "getAfileInfo failed for archiveId: %lu" when it refuses.
    CKyError UpdateAFileFlags(CBagPtr &ptrScannerBag, CBagPtr &ptrOptionsBag);

    uint64_t GetArchiveFileId() const { return m_nArchiveFileID; }

protected:
    unsigned long m_nArchiveFileID;
};

// The initializer of block-level catalogue jobs (transmitter type 3), made for one archive file.
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

protected:
    unsigned long m_nArchiveFileID;
};

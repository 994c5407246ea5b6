// The index-log worker of block-level jobs (transmitter type 3): the plain worker with its own view
// id
// ("default"). What else sets these jobs apart (the connection flags, the archive file and its
// flags, whether failures are logged) comes from the option record, which the worker passes on.
#pragma once

#include "logwriter/IdxLogWriterThread.h"

class CIdxLogWriterThreadBlkLvl : public CIdxLogWriterThread {
public:
    CIdxLogWriterThreadBlkLvl(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                              CTransmitterOptionsPtr ptrOptions);
    ~CIdxLogWriterThreadBlkLvl() override;

    void InitIdxDbInfoViewId() override;
};

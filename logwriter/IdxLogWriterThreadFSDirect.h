// The index-log worker of direct file-system jobs (transmitter type 4): the plain worker with its
// own view id
// ("default"). What else sets these jobs apart (the connection flags, the archive file and its
// flags, whether failures are logged) comes from the option record, which the worker passes on.
#pragma once

#include "logwriter/IdxLogWriterThread.h"

class CIdxLogWriterThreadFSDirect : public CIdxLogWriterThread {
public:
    CIdxLogWriterThreadFSDirect(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                                CTransmitterOptionsPtr ptrOptions);
    ~CIdxLogWriterThreadFSDirect() override;

    void InitIdxDbInfoViewId() override;
};

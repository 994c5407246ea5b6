// What the document builders read of the job and of the worker they build for: the job's option
// record, the transmitter's shared state (the partial-update settings), the worker's timers, and
// the buffer files are read through, which keeps its memory from one file to the next. A sender
// owns one; a builder is given it.
#pragma once

#include "engine/SolrTransmitterThread.h"
#include "foundation/ByteBuffer.h"

class CDocumentContext {
public:
    // For a worker: its option record, shared state and timers.
    explicit CDocumentContext(const CSolrTransmitterThread &worker);
    // Without a worker (documents built outside a job): no timers.
    CDocumentContext(CTransmitterOptions &options, const CSolrTransmitterPrivate &state);
    CDocumentContext(const CDocumentContext &) = delete;
    CDocumentContext &operator=(const CDocumentContext &) = delete;

    CTransmitterOptions &Options() const { return m_options; }
    const CSolrTransmitterPrivate &State() const { return m_state; }
    // Null without a worker and before the worker's start hook made its timers.
    CTimeCounter *Timer(CSolrTransmitterThread::ETimer eTimer) const;
    CByteBuffer &ReadBuffer() { return m_readBuffer; }

private:
    CTransmitterOptions &m_options;
    const CSolrTransmitterPrivate &m_state;
    const CSolrTransmitterThread *m_pWorker;
    CByteBuffer m_readBuffer;
};

// The content push sender: every file of a batch whose content qualifies is posted on its own,
// through the worker, to the engine's extract URL, the bytes as the body and the metadata as
// literal parameters; the other items go out together through a metadata sender.
#pragma once

#include <memory>

#include "documents/DocumentContext.h"
#include "documents/MetadataSender.h"
#include "engine/ItemSender.h"

class CContentPushSender : public IItemSender {
public:
    explicit CContentPushSender(CSolrTransmitterThread &worker);

    // A failed push or a file that cannot be read is sent with content-indexing status 16 and
    // lands in the failures file. A deleted item is not read: it is posted with an empty body and
    // the hash of the empty text.
    CKyError Send(CItemBatch &batch) override;

private:
    CSolrTransmitterThread &m_worker;
    // Shared with the metadata sender: one read buffer serves the content and the CRCs.
    std::shared_ptr<CDocumentContext> m_ptrContext;
    CMetadataSender m_metadata;
};

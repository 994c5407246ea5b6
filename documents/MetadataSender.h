// The metadata sender: a batch of items becomes one XML update request ("<add>" with one "<doc>"
// per document) posted through the worker to the engine's update URL; and the sender of the
// auditing context, which sends nothing.
#pragma once

#include <memory>
#include <string>

#include "documents/DocumentContext.h"
#include "engine/ItemSender.h"

class CMetadataSender : public IItemSender {
public:
    explicit CMetadataSender(CSolrTransmitterThread &worker);
    // With the context of the sender that hands this one the items it does not send itself.
    CMetadataSender(CSolrTransmitterThread &worker, std::shared_ptr<CDocumentContext> ptrContext);

    // Posts every item of the batch as one "<add>" request; a failed post fails every item (the
    // failures file lists their paths). An archive (with the push-with-CRC option) is sent as
    // its own document and one per member.
    CKyError Send(CItemBatch &batch) override;

private:
    CSolrTransmitterThread &m_worker;
    std::shared_ptr<CDocumentContext> m_ptrContext;
    // The body of the requests, reused from one to the next (cleared, never shrunk), so that a
    // request neither asks the system for memory nor gives any back.
    std::string m_strBody;
};

// The auditing context's items reach the audit core through the job's own channel: every item
// is settled as sent.
class CAuditSender : public IItemSender {
public:
    CKyError Send(CItemBatch &batch) override;
};

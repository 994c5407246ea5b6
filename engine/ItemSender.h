// The one interface through which the index-engine worker hands a batch on: a sender (metadata,
// content push, audit, virtual machine, collaboration site) settles each item it handles as sent
// or failed and leaves the rest to the batch. The worker is given a factory and makes its sender
// once, when it starts; the senders themselves live above the worker (documents/).
#pragma once

#include <functional>
#include <memory>

#include "foundation/KyError.h"

class CItemBatch;
class CSolrTransmitterThread;

class IItemSender {
public:
    virtual ~IItemSender() = default;
    // Sends what the batch holds; an error is the batch's, logged by the worker.
    virtual CKyError Send(CItemBatch &batch) = 0;
};

// Makes the sender of a worker for its job; the sender may keep the worker and use it for the
// exchange with the engine while the worker lives.
typedef std::function<std::unique_ptr<IItemSender>(CSolrTransmitterThread &)> FItemSenderFactory;

// The handlers of live-crawl items by producing agent: each moves its agent's metadata record
// into the item's index metadata and takes the record over.
//
// Ownership of an agent's record is handed over explicitly: the caller passes its pointer by
// reference, and a handler that takes the record sets that pointer to null before it frees the
// record, so no one is left pointing at freed storage. A handler that fails leaves the pointer,
// and the record, to the caller.
#pragma once

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "platform/Item.h"
#include "platform/MessageRecords.h"

class ILiveCrawlHandler {
public:
    // pAgentInstance: the agent's record (the handler's own type of it); pItemMetadata: the index
    // command's item metadata, which receives a copy.
    virtual CKyError ProcessAndPopulateItem(void *&pAgentInstance,
                                            CNMessageBase *pItemMetadata) = 0;

protected:
    // Handlers are owned through shared pointers made for their own class, never deleted
    // through this interface.
    ~ILiveCrawlHandler() = default;
};

// The handler table of one live-crawl worker, indexed by agent type (0 and 1; only the cloud
// agent, 1, has a handler).
class CLiveCrawlItemProcess {
public:
    enum : int { kHandlerCount = 2 };

    CLiveCrawlItemProcess() = default;
    ~CLiveCrawlItemProcess();
    CLiveCrawlItemProcess(const CLiveCrawlItemProcess &) = delete;
    CLiveCrawlItemProcess &operator=(const CLiveCrawlItemProcess &) = delete;

    // Registers the cloud handler (an allocation failure leaves the entry empty).
    void Initialize();
    // Changes nothing: the handlers stay until the table goes.
    void Uninitialize();
    // Runs the agent type's handler; 774 "Handler is not initialized for Agent Type(%u)" when
    // the type has none, the record then untouched.
    CKyError PopulateItem(LiveCrawlAgentType eAgentType, void *&pAgentInstance,
                          CNMessageBase *pItemMetadata);

private:
    boost::shared_ptr<ILiveCrawlHandler> m_handlers[kHandlerCount];
};

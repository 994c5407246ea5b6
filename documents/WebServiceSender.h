// What the two web-service senders (virtual-machine items, collaboration-site items) share: each
// item of a batch goes to the worker's web-service plug-in as an item record, with its content or
// as metadata only; what the plug-in reports failed goes to the failures file, and when a batch's
// failures reach a positive threshold the transmitter aborts. A sender says only how an item
// becomes its record.
#pragma once

#include <cstdint>

#include <boost/shared_ptr.hpp>

#include "engine/ItemSender.h"
#include "engine/SolrTransmitterThread.h"
#include "platform/Item.h"

class CWebServiceSender : public IItemSender {
public:
    // Without a handler (the worker's start ended before it was made) every item fails and the
    // transmitter aborts with the start's error. An abort before an item fails the items not yet
    // handed over (995).
    CKyError Send(CItemBatch &batch) final;

protected:
    // szThresholdMessage is logged when the batch's failures reach the threshold.
    CWebServiceSender(CSolrTransmitterThread &worker, const char *szThresholdMessage);

    // Once a batch, before its first item.
    virtual void BeginBatch() {}
    // The record of the item at the batch's front, and whether it goes with its content (true
    // unless set otherwise). bPassOver: nothing is owed for the item (it is settled as sent). A
    // null record without bPassOver is the want of memory. An error ends the batch.
    virtual CKyError MakeRecord(const CItemPtr &ptrItem, CItemBatch &batch,
                                TQLX_ContentIndexing::CCIItemInfoPtr &ptrRecord, bool &bWithContent,
                                bool &bPassOver, int64_t &llContentCount) = 0;

    CSolrTransmitterThread &m_worker;

private:
    // Hands the record of the batch's front item to the plug-in, with its content (timed as
    // "ReadContent") or as metadata only ("PostRequest"), and settles the front item. A refused
    // push fails the item and every other record the plug-in lists as failed; the list is
    // cleared.
    void PushToWebService(CItemBatch &batch, const TQLX_ContentIndexing::CCIItemInfoPtr &ptrRecord,
                          bool bWithContent);
    // The end of a batch: failures written, progress reported, and the threshold test; 995 (the
    // worker aborted) when the batch's failures reach a positive threshold.
    CKyError FinishBatch(CItemBatch &batch, int64_t llBatchSize, int64_t llContentCount,
                         int64_t llFailed);

    const char *m_szThresholdMessage;
};

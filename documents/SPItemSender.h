// The collaboration-site item sender: every item of a batch goes to the web-service plug-in with
// content, under the content id the job queued it with; no path rewriting, filters or custom
// properties.
#pragma once

#include "documents/WebServiceSender.h"

class CSPItemSender : public CWebServiceSender {
public:
    explicit CSPItemSender(CSolrTransmitterThread &worker);

protected:
    CKyError MakeRecord(const CItemPtr &ptrItem, CItemBatch &batch,
                        TQLX_ContentIndexing::CCIItemInfoPtr &ptrRecord, bool &bWithContent,
                        bool &bPassOver, int64_t &llContentCount) override;
};

// The virtual-machine item sender: every file and folder of a batch goes to the web-service
// plug-in as an item record (content id, version GUID, custom properties), with content when the
// job's include filters choose it.
#pragma once

#include <map>
#include <string>

#include "documents/DocumentContext.h"
#include "documents/WebServiceSender.h"

class CVMItemSender : public CWebServiceSender {
public:
    explicit CVMItemSender(CSolrTransmitterThread &worker);

protected:
    void BeginBatch() override;
    // An item the exclude filters match, and the "/" folder of a walk not marked as root, are
    // passed over.
    CKyError MakeRecord(const CItemPtr &ptrItem, CItemBatch &batch,
                        TQLX_ContentIndexing::CCIItemInfoPtr &ptrRecord, bool &bWithContent,
                        bool &bPassOver, int64_t &llContentCount) override;

private:
    CDocumentContext m_context;
    // The job's settings, read once a batch.
    std::map<std::string, std::string> m_mapMountPaths;
    bool m_bPushOnlyMetaData = false;
    bool m_bExcludeFilters = false;
    bool m_bIncludeFilters = false;
    bool m_bExcludePaths = false;
};

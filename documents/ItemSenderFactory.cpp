// The sender of an index-engine worker (see ItemSenderFactory.h).
#include "documents/ItemSenderFactory.h"

#include "documents/ContentPushSender.h"
#include "documents/MetadataSender.h"
#include "documents/SPItemSender.h"
#include "documents/VMItemSender.h"
#include "transmitter/TransmitterOptions.h"

std::unique_ptr<IItemSender> MakeItemSender(CSolrTransmitterThread &worker) {
    const CTransmitterOptions &options = worker.GetOptions();
    if (options.IsVMContentIndexing()) {
        return std::make_unique<CVMItemSender>(worker);
    }
    if (options.IsSPContentIndexing()) {
        return std::make_unique<CSPItemSender>(worker);
    }
    if (options.IsAuditingContext() && !options.GetAuditSolrUrl().empty()) {
        return std::make_unique<CAuditSender>();
    }
    if (options.IsPushOnlyMetaData()) {
        return std::make_unique<CMetadataSender>(worker);
    }
    return std::make_unique<CContentPushSender>(worker);
}

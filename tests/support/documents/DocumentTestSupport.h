// Fixtures for the document-builder tests: a never-started index-engine worker with access to
// its counters, the builders' context and senders on it, items made from real paths the way the
// queueing calls make them, and a strict reader of update bodies (UTF-8 and XML 1.0 characters
// first, then the markup).
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "documents/ContentPushSender.h"
#include "documents/DocumentContext.h"
#include "documents/FieldSyntax.h"
#include "documents/ItemMetadataDocument.h"
#include "documents/MetadataSender.h"
#include "documents/PartialUpdateDocument.h"
#include "engine/SolrTransmitterThread.h"
#include "platform/ItemLookup.h"
#include "tests/support/Utf8Text.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace idxtest {

// The worker with its protected counter state opened up for tests.
class DocumentWorker : public CSolrTransmitterThread {
public:
    using CSolrTransmitterThread::CSolrTransmitterThread;

    using CSolrTransmitterThread::m_llTransmittedItems;
    using CSolrTransmitterThread::m_llTransmittedPackets;
    using CSolrTransmitterThread::m_ptrBuildItemsTimer;
    using CSolrTransmitterThread::m_ptrChangeTimeTimer;
    using CSolrTransmitterThread::m_ptrGenerateCRC32Timer;
    using CSolrTransmitterThread::m_ptrOwnerAndAclTimer;
    using CSolrTransmitterThread::m_ptrReadContentTimer;
    using CSolrTransmitterThread::m_ptrSendItemsTimer;

    // Makes the builder's timers, as the start hook does.
    void MakeTimers();
};

// Hands the items to a batch of their own (the list is left empty) and the batch to the sender,
// as the worker's batch loop does with what it takes from the queue.
CKyError SendAsBatch(IItemSender &sender, CSolrTransmitterPrivate &state,
                     std::list<CItemPtr> &lstItems);

// A shared state, its option record and a worker on them, never started, with the builders'
// context on that worker and its senders (made once, so that each keeps what it reuses from one
// batch to the next). The push-only option is set before the worker is made, and the test's
// field form follows it (XML for a metadata-only job, literal parameters for a content-push job).
struct DocumentWorkerSet {
    CSolrTransmitterPrivatePtr ptrState;
    CTransmitterOptionsPtr ptrOptions;
    boost::shared_ptr<DocumentWorker> ptrWorker;
    std::shared_ptr<CDocumentContext> ptrContext;
    std::shared_ptr<CMetadataSender> ptrMetadataSender;
    std::shared_ptr<CContentPushSender> ptrContentPushSender;
    EFieldForm eForm = EFieldForm::eXml;

    // The builders in the form of the test's job, for tests that look at one form at a time.
    std::string CreateField(const std::string &strName, const std::string &strValue) const {
        return IdxDocuments::CreateField(strName, strValue, eForm);
    }
    void ChangeFieldValue(std::string &strDocument, const std::string &strName,
                          const std::string &strValue) const {
        IdxDocuments::ChangeFieldValue(strDocument, strName, strValue, eForm);
    }
    CKyError BuildItemDataAnalytics(const CItemPtr &ptrItem, std::string &strDocument) const {
        return IdxDocuments::BuildItemDataAnalytics(*ptrContext, ptrItem, eForm, strDocument);
    }
    CKyError BuildPartialItemDataAnalytics(const CItemPtr &ptrItem,
                                           std::string &strDocument) const {
        return IdxDocuments::BuildPartialItemDataAnalytics(*ptrContext, ptrItem, eForm,
                                                           strDocument);
    }
    // The set's senders, each given the list as one batch (see SendAsBatch).
    CKyError SendItems(std::list<CItemPtr> &lstItems) {
        return SendAsBatch(*ptrMetadataSender, *ptrState, lstItems);
    }
    CKyError SendItemsWithContent(std::list<CItemPtr> &lstItems) {
        return SendAsBatch(*ptrContentPushSender, *ptrState, lstItems);
    }
};
DocumentWorkerSet MakeDocumentWorker(bool bPushOnlyMetaData = true);

// Settings of the analytics record that the queueing calls attach.
struct AnalyticsSettings {
    uint32_t nCollectId = 0xFFFFFFFFu;
    int64_t llCollectOffset = -1;
    bool bSkippedForArchiving = false;
    bool bStub = false;
    bool bDeleted = false;
    uint32_t nErrorCode = 0; // non-zero marks the item failed
    std::string strAppGuid;
    CAnalyticsItemAddInfoPtr ptrAddInfo;
};

// The item at strPath as the path lookup gives it (also for a path that does not exist: then
// the lookup's error number goes into the record), with an analytics record that collects what
// the option record asks for.
CItemPtr MakePathItem(const std::string &strPath, const CTransmitterOptions &options,
                      const AnalyticsSettings &settings = AnalyticsSettings());
// The item of a deleted path, as the deleted-item queueing call makes it.
CItemPtr MakeDeletedItem(const std::string &strPath, const CTransmitterOptions &options);

struct DocumentField {
    std::string strName;
    bool bHasUpdate = false;
    std::string strUpdate;
    std::string strValue;
};
typedef std::vector<DocumentField> FieldList;

// Parses "<add>" with its "<doc>" elements strictly; false with a reason on anything else
// (also text or elements other than "doc" and "field", or a field without a name).
bool ParseUpdateBody(const std::string &strBody, std::vector<FieldList> &vecDocs,
                     std::string &strError);
// The fields of one document text as the builders write it (without "<doc>").
bool ParseDocumentFields(const std::string &strFields, FieldList &fields, std::string &strError);

std::vector<std::string> FieldNames(const FieldList &fields);
// The first field of that name; null when there is none.
const DocumentField *FindField(const FieldList &fields, const std::string &strName);
size_t CountFields(const FieldList &fields, const std::string &strName);

} // namespace idxtest

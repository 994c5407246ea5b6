// Fixtures for the document-builder tests: a never-started index-engine worker with access to
// its builder state, items made from real paths the way the queueing calls make them, and a
// strict reader of update bodies (UTF-8 and XML 1.0 characters first, then the markup).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/SolrTransmitterThread.h"
#include "platform/ItemLookup.h"
#include "tests/support/Utf8Text.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace idxtest {

// The worker with its protected builder state opened up for tests.
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
    using CSolrTransmitterThread::m_setCompressedExtensions;

    // Makes the builder's timers, as the start hook does.
    void MakeTimers();

    // The builders in the form of the test's job (see MakeDocumentWorker), for tests that look
    // at one form at a time.
    using CSolrTransmitterThread::BuildItemDataAnalytics;
    using CSolrTransmitterThread::BuildPartialItemDataAnalytics;
    using CSolrTransmitterThread::ChangeFieldValue;
    using CSolrTransmitterThread::CreateField;
    std::string CreateField(const std::string &strName, const std::string &strValue) const {
        return CreateField(strName, strValue, m_eForm);
    }
    void ChangeFieldValue(std::string &strDocument, const std::string &strName,
                          const std::string &strValue) const {
        ChangeFieldValue(strDocument, strName, strValue, m_eForm);
    }
    CKyError BuildItemDataAnalytics(const CItemPtr &ptrItem, std::string &strDocument) {
        return BuildItemDataAnalytics(ptrItem, m_eForm, strDocument);
    }
    CKyError BuildPartialItemDataAnalytics(const CItemPtr &ptrItem, std::string &strDocument) {
        return BuildPartialItemDataAnalytics(ptrItem, m_eForm, strDocument);
    }

    EFieldForm m_eForm = EFieldForm::eXml;
};

// A shared state, its option record and a worker on them, never started. The push-only option
// is set before the worker is made, and the test's field form follows it (XML for a metadata-only
// job, literal parameters for a content-push job).
struct DocumentWorkerSet {
    CSolrTransmitterPrivatePtr ptrState;
    CTransmitterOptionsPtr ptrOptions;
    boost::shared_ptr<DocumentWorker> ptrWorker;
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

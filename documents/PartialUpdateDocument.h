// The partial-update document: the item's document key and the field groups the job named, so
// that the engine replaces those fields of the existing document and keeps the others.
#pragma once

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "documents/DocumentContext.h"
#include "documents/FieldSyntax.h"
#include "platform/Item.h"

class CFSSolrAckRecord;

namespace IdxDocuments {

// Whether the job sends partial updates instead of whole documents.
bool ShouldSendPartialData(const CDocumentContext &context);
CKyError BuildPartialItemDataAnalytics(const CDocumentContext &context, const CItemPtr &ptrItem,
                                       EFieldForm eForm, std::string &strDocument);
// Writes nothing: the auditing context has no documents of its own here.
CKyError
BuildAuditItemDataAnalytics(const CItemPtr &ptrItem,
                            std::vector<boost::shared_ptr<CFSSolrAckRecord>> &vecAcknowledgements,
                            std::string &strDocument);

} // namespace IdxDocuments

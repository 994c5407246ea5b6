// The metadata document of one file, folder or deleted item (and the change-event document of a
// permission or owner change).
#pragma once

#include <string>

#include "documents/DocumentContext.h"
#include "documents/FieldSyntax.h"
#include "platform/Item.h"

class CAnalyticsItemInterface;

namespace IdxDocuments {

// Appends the item's fields to strDocument in the form given; always succeeds.
CKyError BuildItemDataAnalytics(const CDocumentContext &context, const CItemPtr &ptrItem,
                                EFieldForm eForm, std::string &strDocument);
// The item's analytics record (owned by the item) after it processed its security information;
// null when the item has none.
CAnalyticsItemInterface *GetAnalyticsItem(const CItemPtr &ptrItem);

} // namespace IdxDocuments

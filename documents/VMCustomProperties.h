// The custom properties of a virtual-machine item: name/value pairs that describe the file or
// folder and the virtual machine and backup it comes from, in the fixed order the web service
// reads them by.
#pragma once

#include <string>
#include <vector>

#include "documents/DocumentContext.h"
#include "platform/Item.h"
#include "platform/MessageRecords.h"

namespace IdxDocuments {

// Appends the item's properties in their fixed order and gives its version GUID; 1246 for the
// "/" folder of a walk that the job did not mark as root, which is not to be sent.
CKyError BuildVMCustomProperty(const CDocumentContext &context, const CItemPtr &ptrItem,
                               const std::string &strPath,
                               std::vector<App::NameValueMap> &vecProperties,
                               std::string &strVersionGuid);
void CreateCustomField(const std::string &strName, const std::string &strValue,
                       std::vector<App::NameValueMap> &vecProperties);
// Appends only a non-empty value.
void CreateCustomFieldForNonEmptyVal(const std::string &strName, const std::string &strValue,
                                     std::vector<App::NameValueMap> &vecProperties);

} // namespace IdxDocuments

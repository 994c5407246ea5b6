// The content-indexing message records of a search request, as the host's generated code gives
// them: each class is a CNMessageBase of its family and type. Which fields a request sets is the
// sender's matter (engine/FetchItemsFromSolrPrivate.cpp).
#pragma once

#include "foundation/Export.h"
#include "platform/MessageRecords.h"

namespace PyxContentIndexing {

// The search request: processing info (1/1), advanced search group (2/2), a 64-bit number (6/6)
// and the requesting user's record (8/8).
class IDX_EXPORT TQSearchReq : public CNMessageBase {
public:
    enum : int32_t { kFamily = 14, kType = 169 };
    TQSearchReq() : CNMessageBase(kFamily, kType) {}
};

// What to search: the search text's record (1/1) and a list of security groups (7/7).
class IDX_EXPORT TqAdvancedSearchGroup : public CNMessageBase {
public:
    enum : int32_t { kFamily = 14, kType = 157 };
    TqAdvancedSearchGroup() : CNMessageBase(kFamily, kType) {}
};

// A security group: a 64-bit number (1/1) and a list of 32-bit integers (2/2).
class IDX_EXPORT TQOrbisSecurityGroup : public CNMessageBase {
public:
    enum : int32_t { kFamily = 14, kType = 153 };
    TQOrbisSecurityGroup() : CNMessageBase(kFamily, kType) {}
};

// How to answer: a list of search parameters (5/5).
class IDX_EXPORT SearchProcessingInfo : public CNMessageBase {
public:
    enum : int32_t { kFamily = 14, kType = 159 };
    SearchProcessingInfo() : CNMessageBase(kFamily, kType) {}
};

// One search parameter: its name (1/1) and its value (2/5).
class IDX_EXPORT SearchParameters : public CNMessageBase {
public:
    enum : int32_t { kFamily = 14, kType = 158 };
    SearchParameters() : CNMessageBase(kFamily, kType) {}
};

} // namespace PyxContentIndexing

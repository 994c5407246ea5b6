// The part of the engine's query language that the engine stand-in evaluates: clauses joined by
// AND, each *:*, field:*, field:value, field:"value", field:(a OR b ...) or field:[low TO high]
// (inclusive, "*" for an open end), and sort lists "field asc|desc, ...". Anything else is
// refused with a message, so that a query the stand-in cannot judge never matches by accident.
#pragma once

#include "tests/support/engine/EngineStub.h"

#include <string>
#include <vector>

namespace idxtest {

struct EngineQueryClause {
    enum Kind { All, AnyValue, Values, Range } eKind = Values;
    std::string strField;
    std::vector<std::string> vecValues; // alternatives of Values
    std::string strLow, strHigh;        // bounds of Range; "*" is open
};
using EngineQuery = std::vector<EngineQueryClause>; // every clause must hold

struct EngineSortKey {
    std::string strField;
    bool bDescending = false;
};

bool ParseEngineQuery(const std::string &strText, EngineQuery &query, std::string &strError);
bool MatchesEngineQuery(const EngineDocument &doc, const EngineQuery &query);

bool ParseEngineSort(const std::string &strText, std::vector<EngineSortKey> &vecKeys,
                     std::string &strError);
// Stable; documents without a sort field come after those with it, in either direction.
void SortEngineDocuments(std::vector<EngineDocument> &vecDocs,
                         const std::vector<EngineSortKey> &vecKeys);

// Numeric order when both texts are numbers, byte order otherwise; <0, 0 or >0.
int CompareEngineValues(const std::string &strA, const std::string &strB);

} // namespace idxtest

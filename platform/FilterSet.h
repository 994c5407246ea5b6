// Include and exclude matching of paths against wildcard patterns: the filter sets through which
// a virtual-machine job chooses what to skip and what to index with content.
//
// Patterns are "/"-separated. Within one path component "*" matches any run of characters and
// "?" any one character ("[...]" classes as in fnmatch); a component "**" matches any number of
// components, none included, so "/**/*.tmp" matches "/x.tmp" and "/a/b/x.tmp". A pattern that
// does not begin with "/" may match at any depth, as if it began with "/**/". A pattern matches a
// path when it matches the whole path or one of the folders above it: the pattern of a folder
// takes in everything below that folder. Letters match without regard to case unless the set is
// made case-sensitive. A trailing "/" on a pattern or a path is ignored.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"

// The state of a pattern in a set: a pattern in state 1 (the one the library adds) brings what
// it matches into the set; a pattern in state 0 keeps what it matches out of the set, whatever
// other patterns say.
class BFilterNodeState {
public:
    enum : uint32_t { eExcluded = 0, eIncluded = 1 };

    // Implicit, since callers pass the plain number.
    BFilterNodeState(uint32_t nValue = eIncluded) : m_nValue(nValue) {}
    uint32_t Value() const { return m_nValue; }
    bool IsIncluded() const { return m_nValue != eExcluded; }

private:
    uint32_t m_nValue;
};

class IDX_EXPORT CFilterSet {
public:
    explicit CFilterSet(bool bCaseSensitive = false) : m_bCaseSensitive(bCaseSensitive) {}
    CFilterSet(const CFilterSet &) = delete;
    CFilterSet &operator=(const CFilterSet &) = delete;

    // Adds a pattern; error 87 for an empty one (after trailing "/" are dropped from a longer
    // pattern). Adding the same pattern again changes nothing.
    CKyError AddFilterItem(const std::string &strPattern, BFilterNodeState state = 1);

    // True when a pattern in state 1 matches the path and none in state 0 does; an empty set
    // holds nothing.
    bool IsIn(const std::string &strPath) const;

    bool IsEmpty() const;
    size_t GetCount() const;
    void Clear();

private:
    struct CPattern {
        std::string strText;
        std::vector<std::string> vecComponents;
        bool bIncluded;
    };

    bool Matches(const CPattern &pattern, const std::vector<std::string> &vecPath) const;

    bool m_bCaseSensitive;
    mutable std::mutex m_lock;
    std::vector<CPattern> m_vecPatterns;
};

typedef boost::shared_ptr<CFilterSet> CFilterSetPtr;

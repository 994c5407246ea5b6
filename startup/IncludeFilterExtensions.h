// The file extensions that a file-system job's include-filter text names, as both the
// index-engine initializer and the option translation read that text.
#pragma once

#include <set>
#include <string>

#include "foundation/StringHelpers.h"

// The text is split at every ","; of each piece only the text after its last "." remains (a
// piece without "." stays whole, one that ends in "." leaves the empty text). An empty piece
// ("*.doc," or ",,") names nothing and is skipped: taken as the empty extension it would select
// every file that has none.
inline std::set<std::string> IncludeFilterExtensions(const std::string &strFilters) {
    std::set<std::string> setExtensions;
    for (const std::string &strPiece : FXString::Split(strFilters, ",")) {
        if (strPiece.empty()) {
            continue;
        }
        const size_t nDot = strPiece.rfind('.');
        setExtensions.insert(nDot == std::string::npos ? strPiece : strPiece.substr(nDot + 1));
    }
    return setExtensions;
}

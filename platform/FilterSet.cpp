#include "platform/FilterSet.h"

#include <fnmatch.h>

namespace {

// The components of a path or pattern; an absolute one begins with an empty component, repeated
// and trailing "/" are dropped.
std::vector<std::string> SplitComponents(const std::string &strText) {
    std::vector<std::string> vecComponents;
    size_t nStart = 0;
    if (!strText.empty() && strText[0] == '/') {
        vecComponents.emplace_back();
        nStart = 1;
    }
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('/', nStart);
        if (nEnd == std::string::npos) {
            nEnd = strText.size();
        }
        if (nEnd > nStart) {
            vecComponents.push_back(strText.substr(nStart, nEnd - nStart));
        }
        nStart = nEnd + 1;
    }
    return vecComponents;
}

} // namespace

CKyError CFilterSet::AddFilterItem(const std::string &strPattern, BFilterNodeState state) {
    std::string strText = strPattern;
    while (strText.size() > 1 && strText.back() == '/') {
        strText.pop_back();
    }
    if (strText.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "Empty filter pattern");
    }
    CPattern pattern;
    pattern.strText = strText;
    pattern.bIncluded = state.IsIncluded();
    pattern.vecComponents = SplitComponents(strText);
    if (strText[0] != '/') {
        // A relative pattern may match at any depth.
        pattern.vecComponents.insert(pattern.vecComponents.begin(), "**");
    }

    std::lock_guard<std::mutex> guard(m_lock);
    for (const CPattern &existing : m_vecPatterns) {
        if (existing.strText == pattern.strText && existing.bIncluded == pattern.bIncluded) {
            return CKyError::Success();
        }
    }
    m_vecPatterns.push_back(std::move(pattern));
    return CKyError::Success();
}

bool CFilterSet::Matches(const CPattern &pattern, const std::vector<std::string> &vecPath) const {
    const std::vector<std::string> &vecPattern = pattern.vecComponents;
    const size_t nPattern = vecPattern.size();
    const size_t nPath = vecPath.size();
    const int nFlags = FNM_NOESCAPE | (m_bCaseSensitive ? 0 : FNM_CASEFOLD);

    // bMatch[i][j]: pattern components from i on match path components from j on, where a
    // pattern used up before the path is a match (the rest lies below a matched folder).
    std::vector<std::vector<char>> bMatch(nPattern + 1, std::vector<char>(nPath + 1, 0));
    for (size_t j = 0; j <= nPath; ++j) {
        bMatch[nPattern][j] = 1;
    }
    for (size_t i = nPattern; i-- > 0;) {
        for (size_t j = nPath + 1; j-- > 0;) {
            if (vecPattern[i] == "**") {
                bMatch[i][j] = bMatch[i + 1][j] || (j < nPath && bMatch[i][j + 1]);
            } else if (j < nPath) {
                bMatch[i][j] = bMatch[i + 1][j + 1] &&
                               fnmatch(vecPattern[i].c_str(), vecPath[j].c_str(), nFlags) == 0;
            }
        }
    }
    return bMatch[0][0] != 0;
}

bool CFilterSet::IsIn(const std::string &strPath) const {
    const std::vector<std::string> vecPath = SplitComponents(strPath);
    bool bIncluded = false;
    std::lock_guard<std::mutex> guard(m_lock);
    for (const CPattern &pattern : m_vecPatterns) {
        if (!pattern.bIncluded && Matches(pattern, vecPath)) {
            return false;
        }
        if (pattern.bIncluded && !bIncluded) {
            bIncluded = Matches(pattern, vecPath);
        }
    }
    return bIncluded;
}

bool CFilterSet::IsEmpty() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vecPatterns.empty();
}

size_t CFilterSet::GetCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vecPatterns.size();
}

void CFilterSet::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_vecPatterns.clear();
}

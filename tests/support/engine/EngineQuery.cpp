#include "tests/support/engine/EngineQuery.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace idxtest {

namespace {

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool ParseNumber(const std::string &strText, double &dValue) {
    if (strText.empty() || IsSpace(strText[0]))
        return false;
    char *pEnd = nullptr;
    dValue = std::strtod(strText.c_str(), &pEnd);
    return *pEnd == '\0';
}

// Reads a quoted value or a bare token ending at a blank or at one of szStop; a backslash takes
// the next character literally.
bool ReadValue(const std::string &s, size_t &i, const char *szStop, std::string &strValue,
               std::string &strError) {
    strValue.clear();
    if (i < s.size() && s[i] == '"') {
        for (++i; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] == '\\' && i + 1 < s.size())
                ++i;
            strValue += s[i];
        }
        if (i >= s.size()) {
            strError = "Unterminated quoted value in query: " + s;
            return false;
        }
        ++i;
        return true;
    }
    for (; i < s.size() && !IsSpace(s[i]) && std::string(szStop).find(s[i]) == std::string::npos;
         ++i) {
        if (s[i] == '\\' && i + 1 < s.size())
            ++i;
        strValue += s[i];
    }
    if (strValue.empty()) {
        strError = "Missing value in query: " + s;
        return false;
    }
    return true;
}

bool ReadWord(const std::string &s, size_t i, const char *szWord) {
    size_t n = std::char_traits<char>::length(szWord);
    return s.compare(i, n, szWord) == 0 && i + n < s.size() && IsSpace(s[i + n]);
}

void SkipSpaces(const std::string &s, size_t &i) {
    while (i < s.size() && IsSpace(s[i]))
        ++i;
}

bool ReadClause(const std::string &s, size_t &i, EngineQueryClause &clause, std::string &strError) {
    size_t nStart = i;
    while (i < s.size() && s[i] != ':' && !IsSpace(s[i]))
        ++i;
    if (i >= s.size() || s[i] != ':' || i == nStart) {
        strError = "Expected field:value in query: " + s;
        return false;
    }
    clause.strField = s.substr(nStart, i - nStart);
    ++i;
    if (i < s.size() && s[i] == '(') {
        clause.eKind = EngineQueryClause::Values;
        for (++i;;) {
            SkipSpaces(s, i);
            std::string strValue;
            if (!ReadValue(s, i, ")", strValue, strError))
                return false;
            clause.vecValues.push_back(strValue);
            SkipSpaces(s, i);
            if (i < s.size() && s[i] == ')')
                break;
            if (!ReadWord(s, i, "OR")) {
                strError = "Expected OR or ) in query: " + s;
                return false;
            }
            i += 2;
        }
        ++i;
    } else if (i < s.size() && s[i] == '[') {
        size_t nEnd = s.find(']', i);
        size_t nTo = s.find(" TO ", i);
        if (nEnd == std::string::npos || nTo == std::string::npos || nTo > nEnd) {
            strError = "Malformed range in query: " + s;
            return false;
        }
        clause.eKind = EngineQueryClause::Range;
        auto Trim = [](std::string str) {
            str.erase(0, str.find_first_not_of(" \t"));
            str.erase(str.find_last_not_of(" \t") + 1);
            return str;
        };
        clause.strLow = Trim(s.substr(i + 1, nTo - i - 1));
        clause.strHigh = Trim(s.substr(nTo + 4, nEnd - nTo - 4));
        if (clause.strLow.empty() || clause.strHigh.empty()) {
            strError = "Malformed range in query: " + s;
            return false;
        }
        i = nEnd + 1;
    } else {
        bool bQuoted = i < s.size() && s[i] == '"';
        std::string strValue;
        if (!ReadValue(s, i, "", strValue, strError))
            return false;
        if (!bQuoted && strValue == "*") {
            clause.eKind =
                clause.strField == "*" ? EngineQueryClause::All : EngineQueryClause::AnyValue;
        } else {
            clause.vecValues.push_back(strValue);
        }
    }
    if (clause.strField == "*" && clause.eKind != EngineQueryClause::All) {
        strError = "Only *:* may name every field, in query: " + s;
        return false;
    }
    return true;
}

bool ClauseMatches(const EngineDocument &doc, const EngineQueryClause &clause) {
    if (clause.eKind == EngineQueryClause::All)
        return true;
    auto it = doc.mapFields.find(clause.strField);
    if (it == doc.mapFields.end() || it->second.empty())
        return false;
    return std::any_of(it->second.begin(), it->second.end(), [&](const std::string &strValue) {
        switch (clause.eKind) {
        case EngineQueryClause::AnyValue:
            return true;
        case EngineQueryClause::Values:
            return std::find(clause.vecValues.begin(), clause.vecValues.end(), strValue) !=
                   clause.vecValues.end();
        case EngineQueryClause::Range:
            return (clause.strLow == "*" || CompareEngineValues(strValue, clause.strLow) >= 0) &&
                   (clause.strHigh == "*" || CompareEngineValues(strValue, clause.strHigh) <= 0);
        case EngineQueryClause::All:
            break;
        }
        return true;
    });
}

} // namespace

bool ParseEngineQuery(const std::string &strText, EngineQuery &query, std::string &strError) {
    query.clear();
    size_t i = 0;
    SkipSpaces(strText, i);
    if (i == strText.size()) {
        strError = "Empty query";
        return false;
    }
    for (;;) {
        query.emplace_back();
        if (!ReadClause(strText, i, query.back(), strError))
            return false;
        SkipSpaces(strText, i);
        if (i == strText.size())
            return true;
        if (!ReadWord(strText, i, "AND")) {
            strError = "Unsupported query syntax at offset " + std::to_string(i) + ": " + strText;
            return false;
        }
        i += 3;
        SkipSpaces(strText, i);
    }
}

bool MatchesEngineQuery(const EngineDocument &doc, const EngineQuery &query) {
    return std::all_of(query.begin(), query.end(),
                       [&](const EngineQueryClause &clause) { return ClauseMatches(doc, clause); });
}

bool ParseEngineSort(const std::string &strText, std::vector<EngineSortKey> &vecKeys,
                     std::string &strError) {
    vecKeys.clear();
    size_t nPos = 0;
    while (nPos < strText.size()) {
        size_t nEnd = std::min(strText.find(',', nPos), strText.size());
        std::string strPart = strText.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        size_t i = 0;
        SkipSpaces(strPart, i);
        size_t nField = i;
        while (i < strPart.size() && !IsSpace(strPart[i]))
            ++i;
        EngineSortKey key;
        key.strField = strPart.substr(nField, i - nField);
        SkipSpaces(strPart, i);
        size_t nDir = i;
        while (i < strPart.size() && !IsSpace(strPart[i]))
            ++i;
        std::string strDir = strPart.substr(nDir, i - nDir);
        SkipSpaces(strPart, i);
        if (key.strField.empty() || (strDir != "asc" && strDir != "desc") || i != strPart.size()) {
            strError = "Can't determine a sort order from: " + strText;
            return false;
        }
        key.bDescending = strDir == "desc";
        vecKeys.push_back(key);
    }
    return true;
}

void SortEngineDocuments(std::vector<EngineDocument> &vecDocs,
                         const std::vector<EngineSortKey> &vecKeys) {
    std::stable_sort(
        vecDocs.begin(), vecDocs.end(), [&](const EngineDocument &a, const EngineDocument &b) {
            for (const EngineSortKey &key : vecKeys) {
                bool bHasA = !a.Values(key.strField).empty();
                bool bHasB = !b.Values(key.strField).empty();
                if (bHasA != bHasB)
                    return bHasA;
                if (!bHasA)
                    continue;
                int n = CompareEngineValues(a.Value(key.strField), b.Value(key.strField));
                if (n != 0)
                    return key.bDescending ? n > 0 : n < 0;
            }
            return false;
        });
}

int CompareEngineValues(const std::string &strA, const std::string &strB) {
    double dA = 0, dB = 0;
    if (ParseNumber(strA, dA) && ParseNumber(strB, dB)) {
        // Whole numbers beyond double precision (64-bit offsets) compare by their digits.
        bool bDigitsA = std::all_of(strA.begin(), strA.end(), ::isdigit);
        bool bDigitsB = std::all_of(strB.begin(), strB.end(), ::isdigit);
        if (bDigitsA && bDigitsB) {
            std::string a = strA.substr(std::min(strA.find_first_not_of('0'), strA.size() - 1));
            std::string b = strB.substr(std::min(strB.find_first_not_of('0'), strB.size() - 1));
            if (a.size() != b.size())
                return a.size() < b.size() ? -1 : 1;
            return a.compare(b);
        }
        return dA < dB ? -1 : dA > dB ? 1 : 0;
    }
    return strA.compare(strB);
}

} // namespace idxtest

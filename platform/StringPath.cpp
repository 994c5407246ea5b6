// The framework half of FXString and FXPath.
#include "foundation/StringHelpers.h"

#include <strings.h>

#include <cstdarg>

#include "platform/StringFormat.h"

namespace {

void RemoveTrailingSlashes(std::string &strPath) {
    while (!strPath.empty() && strPath.back() == '/') {
        strPath.pop_back();
    }
}

// strPath is strBase itself or lies below it (strBase without trailing "/").
bool MatchLeftPath(const std::string &strPath, const std::string &strBase) {
    if (!FXString::MatchLeft(strPath, strBase)) {
        return false;
    }
    if (strPath.size() == strBase.size()) {
        return !strBase.empty();
    }
    return strPath[strBase.size()] == '/';
}

} // namespace

void FXString::Trim(std::string &strText, const char *szChars) {
    if (!szChars || !*szChars) {
        return;
    }
    size_t nLast = strText.find_last_not_of(szChars);
    if (nLast == std::string::npos) {
        strText.clear();
        return;
    }
    strText.erase(nLast + 1);
    strText.erase(0, strText.find_first_not_of(szChars));
}

bool FXString::RemoveRight(std::string &strText, const std::string &strSuffix) {
    if (strSuffix.empty() || !MatchRight(strText, strSuffix)) {
        return false;
    }
    strText.erase(strText.size() - strSuffix.size());
    return true;
}

bool FXString::RemoveRightNoCase(std::string &strText, const std::string &strSuffix) {
    if (strSuffix.empty() || strText.size() < strSuffix.size() ||
        strncasecmp(strText.c_str() + strText.size() - strSuffix.size(), strSuffix.c_str(),
                    strSuffix.size()) != 0) {
        return false;
    }
    strText.erase(strText.size() - strSuffix.size());
    return true;
}

bool FXString::ReplaceLeft(std::string &strText, const std::string &strPrefix,
                           const std::string &strReplacement) {
    if (!MatchLeft(strText, strPrefix)) {
        return false;
    }
    strText.replace(0, strPrefix.size(), strReplacement);
    return true;
}

bool FXString::ReplaceLeftNoCase(std::string &strText, const std::string &strPrefix,
                                 const std::string &strReplacement) {
    if (strText.size() < strPrefix.size() ||
        strncasecmp(strText.c_str(), strPrefix.c_str(), strPrefix.size()) != 0) {
        return false;
    }
    strText.replace(0, strPrefix.size(), strReplacement);
    return true;
}

std::string FXString::Format(const char *szFormat, ...) {
    va_list args;
    va_start(args, szFormat);
    std::string strText = FXFormatV(szFormat, args);
    va_end(args);
    return strText;
}

std::vector<std::string> FXString::Split(const std::string &strText,
                                         const std::string &strDelimiter) {
    std::vector<std::string> vecPieces;
    if (strText.empty()) {
        return vecPieces;
    }
    if (strDelimiter.empty()) {
        vecPieces.push_back(strText);
        return vecPieces;
    }
    size_t nStart = 0;
    for (;;) {
        size_t nFound = strText.find(strDelimiter, nStart);
        if (nFound == std::string::npos) {
            vecPieces.push_back(strText.substr(nStart));
            return vecPieces;
        }
        vecPieces.push_back(strText.substr(nStart, nFound - nStart));
        nStart = nFound + strDelimiter.size();
    }
}

std::string FXString::ToLower(const std::string &strText) {
    std::string strResult(strText);
    for (char &c : strResult) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return strResult;
}

std::string FXString::ToUpper(const std::string &strText) {
    std::string strResult(strText);
    for (char &c : strResult) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return strResult;
}

size_t FXString::Replace(std::string &strText, const std::string &strFrom,
                         const std::string &strTo) {
    if (strFrom.empty()) {
        return 0;
    }
    size_t nCount = 0;
    size_t nPos = 0;
    while ((nPos = strText.find(strFrom, nPos)) != std::string::npos) {
        strText.replace(nPos, strFrom.size(), strTo);
        nPos += strTo.size();
        ++nCount;
    }
    return nCount;
}

bool FXString::IsNumeric(const std::string &strText) {
    if (strText.empty()) {
        return false;
    }
    for (char c : strText) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

CKyError FXPath::Append(std::string &strPath, const std::string &strName, uint32_t /*nFlags*/) {
    if (strName.empty()) {
        return CKyError::Success();
    }
    if (strPath.empty()) {
        strPath = strName;
        return CKyError::Success();
    }
    bool bPathEnds = strPath.back() == '/';
    bool bNameStarts = strName.front() == '/';
    if (bPathEnds && bNameStarts) {
        strPath.append(strName, 1, std::string::npos);
    } else if (!bPathEnds && !bNameStarts) {
        strPath += '/';
        strPath += strName;
    } else {
        strPath += strName;
    }
    return CKyError::Success();
}

CKyError FXPath::SplitParentPath(const std::string &strPath, std::string &strParent,
                                 std::string &strName) {
    strParent.clear();
    strName.clear();
    if (strPath.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "%s", "Empty path cannot be split");
    }
    size_t nEnd = strPath.find_last_not_of('/');
    if (nEnd == std::string::npos) {
        strName = "/"; // the root alone
        return CKyError::Success();
    }
    size_t nSlash = strPath.rfind('/', nEnd);
    if (nSlash == std::string::npos) {
        strName = strPath.substr(0, nEnd + 1);
        return CKyError::Success();
    }
    strName = strPath.substr(nSlash + 1, nEnd - nSlash);
    size_t nParentEnd = strPath.find_last_not_of('/', nSlash);
    strParent = (nParentEnd == std::string::npos) ? "/" : strPath.substr(0, nParentEnd + 1);
    return CKyError::Success();
}

CKyError FXPath::ReplacePath(std::string &strPath, const std::string &strFrom,
                             const std::string &strTo) {
    if (strFrom.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "%s", "Empty path to replace");
    }
    // "/" alone becomes the empty text here, which every absolute path continues with a "/".
    std::string strBase = strFrom;
    RemoveTrailingSlashes(strBase);
    const bool bUnder = MatchLeftPath(strPath, strBase);
    if (!bUnder) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "Path [%s] is not under [%s]", strPath.c_str(),
                                       strFrom.c_str());
    }
    std::string strResult = strTo;
    RemoveTrailingSlashes(strResult);
    strResult.append(strPath, strBase.size(), std::string::npos);
    if (strResult.empty()) {
        strResult = "/";
    }
    strPath.swap(strResult);
    return CKyError::Success();
}

std::string FXPath::GetFileName(const std::string &strPath) {
    std::string strParent, strName;
    SplitParentPath(strPath, strParent, strName);
    return strName;
}

std::string FXPath::GetParent(const std::string &strPath) {
    std::string strParent, strName;
    SplitParentPath(strPath, strParent, strName);
    return strParent;
}

std::string FXPath::Join(const std::string &strPath, const std::string &strName) {
    std::string strResult(strPath);
    Append(strResult, strName, 0);
    return strResult;
}

bool FXPath::IsAncestorOf(const std::string &strAncestor, const std::string &strPath,
                          bool bIgnoreCase) {
    std::string strBase = strAncestor;
    std::string strUnder = strPath;
    // Trailing delimiters are no part of a path, except the one that is the root itself.
    while (strBase.size() > 1 && strBase.back() == '/') {
        strBase.pop_back();
    }
    while (strUnder.size() > 1 && strUnder.back() == '/') {
        strUnder.pop_back();
    }
    if (strBase.empty() || strUnder.empty() || strUnder.size() < strBase.size()) {
        return false;
    }
    const bool bPrefix = bIgnoreCase
                             ? strncasecmp(strUnder.c_str(), strBase.c_str(), strBase.size()) == 0
                             : strUnder.compare(0, strBase.size(), strBase) == 0;
    if (!bPrefix) {
        return false;
    }
    // "/vm" is an ancestor of "/vm/a" but not of "/vmx".
    return strUnder.size() == strBase.size() || strBase.back() == '/' ||
           strUnder[strBase.size()] == '/';
}

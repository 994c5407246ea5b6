// Byte-string and "/"-path helpers of the framework (FXString, FXPath), the bounded copy of
// zero-terminated strings into fixed-size fields and a number's decimal text on the stack
// (CNumberText).
//
// The comparisons, the trim and delimiter shortcuts and the bounded copy are inline; the rest
// (Trim, Split, Format, Append, SplitParentPath, ...) is the platform's (platform/StringPath.cpp).
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

#include "foundation/Export.h"
#include "foundation/KyError.h"

// Case-insensitive comparison of zero-terminated strings: negative, 0 or positive.
inline int _stricmp(const char *szFirst, const char *szSecond) {
    return strcasecmp(szFirst, szSecond);
}

class IDX_EXPORT FXString {
public:
    static bool MatchesNoCase(const std::string &strFirst, const std::string &strSecond) {
        return _stricmp(strFirst.c_str(), strSecond.c_str()) == 0;
    }
    static int CompareNoCase(const std::string &strFirst, const std::string &strSecond) {
        return _stricmp(strFirst.c_str(), strSecond.c_str());
    }
    // Case counts in both matches.
    static bool MatchLeft(const std::string &strText, const std::string &strPrefix) {
        return strText.size() >= strPrefix.size() &&
               strText.compare(0, strPrefix.size(), strPrefix) == 0;
    }
    static bool MatchRight(const std::string &strText, const std::string &strSuffix) {
        return strText.size() >= strSuffix.size() &&
               strText.compare(strText.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0;
    }
    static void TrimWhiteSpace(std::string &strText) { Trim(strText, " \t"); }

    // Removes every character found in szChars from both ends.
    static void Trim(std::string &strText, const char *szChars);
    // Removes one trailing strSuffix (case counts); true when something was removed.
    static bool RemoveRight(std::string &strText, const std::string &strSuffix);
    // The same with the suffix compared without regard to case.
    static bool RemoveRightNoCase(std::string &strText, const std::string &strSuffix);
    // Replaces a leading prefix (case counts); true when it was there.
    static bool ReplaceLeft(std::string &strText, const std::string &strPrefix,
                            const std::string &strReplacement);
    // Replaces a leading prefix compared without regard to case; true when it was there.
    static bool ReplaceLeftNoCase(std::string &strText, const std::string &strPrefix,
                                  const std::string &strReplacement);
    static std::string Format(const char *szFormat, ...) __attribute__((format(printf, 1, 2)));
    // Pieces between the delimiters, empty pieces kept: "a,,b" gives "a", "", "b". An empty text
    // gives no piece; an empty delimiter gives the whole text as the only piece.
    static std::vector<std::string> Split(const std::string &strText,
                                          const std::string &strDelimiter);
    // ASCII letters only; other bytes are kept as they are.
    static std::string ToLower(const std::string &strText);
    static std::string ToUpper(const std::string &strText);
    // Replaces every occurrence of strFrom, left to right without rescanning the replacement;
    // returns how many were replaced (none for an empty strFrom).
    static size_t Replace(std::string &strText, const std::string &strFrom,
                          const std::string &strTo);
    // True for a non-empty run of decimal digits only (no sign, no blanks).
    static bool IsNumeric(const std::string &strText);
};

class IDX_EXPORT FXPath {
public:
    static CKyError AppendTrailingDelimiter(std::string &strPath) {
        return Append(strPath, "/", 0);
    }
    static CKyError RemoveTrailingDelimiter(std::string &strPath) {
        FXString::RemoveRight(strPath, "/");
        return CKyError::Success();
    }

    // Appends strName to strPath with exactly one "/" between them: a "/" is added when neither
    // side has one and dropped when both have. An empty path becomes the name; an empty name
    // leaves the path as it is. No flag is defined yet: the callers pass 0 and other bits are
    // ignored. Always succeeds.
    static CKyError Append(std::string &strPath, const std::string &strName, uint32_t nFlags);
    // The last component as the name and the rest as the parent; trailing "/"s are ignored.
    // "/a/b" gives "/a" and "b", "/a" gives "/" and "a", "a" gives "" and "a", "/" gives "" and
    // "/". An empty path is error 87 with both outputs cleared.
    static CKyError SplitParentPath(const std::string &strPath, std::string &strParent,
                                    std::string &strName);
    // Moves a path from under strFrom to under strTo: a path equal to strFrom, or below it,
    // becomes strTo followed by the rest ("/mnt/vm/a" from "/mnt/vm" to "C:" gives "C:/a").
    // Components are compared whole and case counts, so "/mnt/vm" does not take in "/mnt/vm2";
    // trailing "/" of strFrom and strTo do not count. A path not under strFrom, or an empty
    // strFrom, is error 87 and the path stays as it is.
    static CKyError ReplacePath(std::string &strPath, const std::string &strFrom,
                                const std::string &strTo);
    static std::string GetFileName(const std::string &strPath);
    static std::string GetParent(const std::string &strPath);
    // The two parts joined as Append joins them.
    static std::string Join(const std::string &strPath, const std::string &strName);
    // True when strPath is strAncestor or lies under it, component by component (trailing "/"s
    // of either do not count; "/" is the ancestor of every absolute path). An empty ancestor or
    // path is no match. bIgnoreCase compares letters without regard to ASCII case.
    static bool IsAncestorOf(const std::string &strAncestor, const std::string &strPath,
                             bool bIgnoreCase);
};

// Result codes of the bounded copy, with their published values.
constexpr uint32_t STRSAFE_E_INVALID_PARAMETER = 0x80070057u;
constexpr uint32_t STRSAFE_E_INSUFFICIENT_BUFFER = 0x8007007Au;
constexpr size_t STRSAFE_MAX_CCH = 2147483647u;

// Copies the zero-terminated szSrc into szDest, a buffer of cchDest characters. Returns 0 on a full
// copy, STRSAFE_E_INSUFFICIENT_BUFFER when the text was cut to fit (the buffer still ends in a
// zero), STRSAFE_E_INVALID_PARAMETER when cchDest is 0 or too large (nothing is written).
inline uint32_t StringCchCopyA(char *szDest, size_t cchDest, const char *szSrc) {
    if (cchDest == 0 || cchDest > STRSAFE_MAX_CCH) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    uint32_t nResult = 0;
    size_t cchToCopy = STRSAFE_MAX_CCH - 1;
    while (cchDest != 0 && cchToCopy != 0 && *szSrc != '\0') {
        *szDest++ = *szSrc++;
        --cchDest;
        --cchToCopy;
    }
    if (cchDest == 0) {
        // The last character of the buffer gives way to the terminating zero.
        --szDest;
        nResult = STRSAFE_E_INSUFFICIENT_BUFFER;
    }
    *szDest = '\0';
    return nResult;
}

// A number in decimal, as "%llu" or "%lld" writes it, held on the stack.
class CNumberText {
public:
    template <typename TNumber> explicit CNumberText(TNumber value) {
        m_pEnd = std::to_chars(m_achText, m_achText + sizeof(m_achText), value).ptr;
    }
    std::string_view View() const {
        return std::string_view(m_achText, static_cast<size_t>(m_pEnd - m_achText));
    }

private:
    char m_achText[24]; // a 64-bit number with its sign
    char *m_pEnd;
};

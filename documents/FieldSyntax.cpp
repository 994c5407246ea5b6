// Field syntax of the index-engine worker: how one field of a document is written (an XML field
// element with an atomic-update attribute and CDATA value, or an "&literal." parameter of the
// extract URL).
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "documents/FieldSyntax.h"
#include "foundation/StringHelpers.h"
#include "foundation/TextEncoding.h"
#include "platform/LogWriter.h"

namespace {

const char kCDataOpen[] = "<![CDATA[";
const char kCDataClose[] = "]]>";
const size_t kCDataOpenLength = sizeof(kCDataOpen) - 1;
const size_t kCDataCloseLength = sizeof(kCDataClose) - 1;
const char kLiteralPrefix[] = "&literal.";

// What the XML form of a field starts and ends with.
constexpr std::string_view kFieldOpen = "<field name=\"";
constexpr std::string_view kFieldClose = "</field>";

constexpr std::string_view kAttributeSet = " update=\"set\"";
constexpr std::string_view kAttributeAdd = " update=\"add\"";

// Fields whose values accumulate in the engine instead of replacing each other.
constexpr std::string_view kAccumulatingFields[] = {
    "FileAccessedByUserName", "FileModifiedByUserName", "FileAccessedByTime", "FileModifiedByTime"};
constexpr std::string_view kKeyField = "contentid";

// The literal text of the U+FFFD replacement character, in the XML form and as a literal
// parameter.
const char kReplacementUtf8[] = "\xEF\xBF\xBD";
const char kReplacementLiteral[] = "%ef%bf%bd";

// A name compared as a zero-terminated text: what follows a zero byte does not count.
std::string_view AsZeroTerminated(std::string_view svName) {
    return svName.substr(0, svName.find('\0'));
}

bool MatchesNoCase(std::string_view svName, std::string_view svOther) {
    return svName.size() == svOther.size() &&
           strncasecmp(svName.data(), svOther.data(), svOther.size()) == 0;
}

// The atomic-update attribute of a field, with its leading space; empty for the key.
std::string_view UpdateAttribute(std::string_view svName) {
    const std::string_view svCompared = AsZeroTerminated(svName);
    if (MatchesNoCase(svCompared, kKeyField)) {
        return std::string_view();
    }
    for (std::string_view svAccumulating : kAccumulatingFields) {
        if (MatchesNoCase(svCompared, svAccumulating)) {
            return kAttributeAdd;
        }
    }
    return kAttributeSet;
}

bool IsIllegalXmlByte(unsigned char ch) {
    return (ch < 0x20 && ch != 0x09 && ch != 0x0A && ch != 0x0D) || ch == 0x7F;
}

// The bytes of plain text: ASCII that the XML filter keeps and that plays no part in a "]]>"
// (kPlainValue), and, for the name attribute, printable ASCII that can neither end the attribute
// nor start markup (kPlainName).
enum EPlainByte : unsigned char { kPlainValue = 1, kPlainName = 2 };

struct CPlainBytes {
    unsigned char abKinds[256] = {};
    constexpr CPlainBytes() {
        for (int ch = 0; ch < 256; ++ch) {
            const bool bPrintable = ch >= 0x20 && ch < 0x7F;
            if ((bPrintable && ch != ']' && ch != '>') || ch == 0x09 || ch == 0x0A || ch == 0x0D) {
                abKinds[ch] |= kPlainValue;
            }
            if (bPrintable && ch != '"' && ch != '<' && ch != '>' && ch != '&') {
                abKinds[ch] |= kPlainName;
            }
        }
    }
};
constexpr CPlainBytes kPlainBytes;

bool IsPlainXmlByte(unsigned char ch) {
    return (kPlainBytes.abKinds[ch] & kPlainValue) != 0;
}

// True when every byte of the text is plain of the given kind.
bool IsPlainText(std::string_view svText, EPlainByte eKind) {
    for (char ch : svText) {
        if ((kPlainBytes.abKinds[static_cast<unsigned char>(ch)] & eKind) == 0) {
            return false;
        }
    }
    return true;
}

// Decodes the UTF-8 sequence whose lead byte is at nPos as FXWideString decodes it. With
// bSkipIllegal, the bytes the XML filter removes are left out between its bytes, as if they had
// been removed first. On success abSequence holds its nLength bytes and nEnd is the position
// after its last byte; false when the lead byte starts no valid sequence.
bool DecodeSequence(const unsigned char *pBytes, size_t nSize, size_t nPos, bool bSkipIllegal,
                    unsigned char abSequence[4], size_t &nLength, uint32_t &nCodePoint,
                    size_t &nEnd) {
    const unsigned char bLead = pBytes[nPos];
    uint32_t nValue = 0;
    uint32_t nMinimum = 0;
    if (!CTextEncoding::Utf8Lead(bLead, nLength, nValue, nMinimum)) {
        return false;
    }
    abSequence[0] = bLead;
    size_t nNext = nPos + 1;
    for (size_t i = 1; i < nLength; ++i, ++nNext) {
        while (bSkipIllegal && nNext < nSize && IsIllegalXmlByte(pBytes[nNext])) {
            ++nNext;
        }
        if (nNext >= nSize || (pBytes[nNext] & 0xC0u) != 0x80u) {
            return false;
        }
        abSequence[i] = pBytes[nNext];
        nValue = (nValue << 6) | (pBytes[nNext] & 0x3Fu);
    }
    if (nValue < nMinimum || nValue > 0x10FFFF || (nValue >= 0xD800 && nValue <= 0xDFFF)) {
        return false;
    }
    nCodePoint = nValue;
    nEnd = nNext;
    return true;
}

// Appends the value as StripIllegalXmlCharacters returns it, in one pass over the value: the
// bytes XML cannot carry are dropped, bytes that are not UTF-8 become U+FFFD, U+FFFE and U+FFFF
// are dropped. With bDivideCDataClose, every "]]>" of the filtered text is written as "]]",
// the end of the CDATA section, the start of the next one and ">" (see GenerateCData); what was
// dropped counts as never there, so dropping it can never leave a "]]>" in one section. True
// when the filter changed the value.
bool AppendXmlText(std::string &strOut, std::string_view svValue, bool bDivideCDataClose) {
    const unsigned char *pBytes = reinterpret_cast<const unsigned char *>(svValue.data());
    const size_t nSize = svValue.size();
    bool bChanged = false;
    size_t nBrackets = 0; // "]" written in a row just before
    size_t nPos = 0;
    while (nPos < nSize) {
        size_t nPlain = nPos;
        while (nPlain < nSize && IsPlainXmlByte(pBytes[nPlain])) {
            ++nPlain;
        }
        if (nPlain > nPos) {
            strOut.append(svValue.data() + nPos, nPlain - nPos);
            nBrackets = 0;
            nPos = nPlain;
            if (nPos == nSize) {
                break;
            }
        }
        const unsigned char bByte = pBytes[nPos];
        if (bByte == ']') {
            strOut.push_back(']');
            ++nBrackets;
            ++nPos;
            continue;
        }
        if (bByte == '>') {
            if (bDivideCDataClose && nBrackets >= 2) {
                strOut.append(kCDataClose, kCDataCloseLength);
                strOut.append(kCDataOpen, kCDataOpenLength);
            }
            strOut.push_back('>');
            nBrackets = 0;
            ++nPos;
            continue;
        }
        if (bByte < 0x80) {
            // What IsPlainXmlByte leaves of ASCII: the bytes the filter drops.
            bChanged = true;
            ++nPos;
            continue;
        }
        unsigned char abSequence[4];
        size_t nLength = 0;
        uint32_t nCodePoint = 0;
        size_t nEnd = 0;
        if (!DecodeSequence(pBytes, nSize, nPos, true, abSequence, nLength, nCodePoint, nEnd)) {
            strOut.append(kReplacementUtf8, sizeof(kReplacementUtf8) - 1);
            nBrackets = 0;
            bChanged = true;
            ++nPos;
            continue;
        }
        if (nEnd != nPos + nLength) {
            bChanged = true; // dropped bytes stood between the sequence's own
        }
        if (nCodePoint == 0xFFFE || nCodePoint == 0xFFFF) {
            bChanged = true;
        } else {
            strOut.append(reinterpret_cast<const char *>(abSequence), nLength);
            nBrackets = 0;
        }
        nPos = nEnd;
    }
    return bChanged;
}

// The value filtered as StripIllegalXmlCharacters filters it, without its log line.
std::string FilteredXmlText(std::string_view svValue, bool &bChanged) {
    std::string strResult;
    strResult.reserve(svValue.size());
    bChanged = AppendXmlText(strResult, svValue, false);
    return strResult;
}

void LogFilteredValue(std::string_view svValue) {
    // The value is still sent, cleaned: nothing failed, so this is no error line.
    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(1)) {
        bool bChanged = false;
        const std::string strOld(svValue);
        const std::string strNew = FilteredXmlText(svValue, bChanged);
        IDX_LOG(1, "removing invalid character, old value [%s] to new value [%s]", strOld.c_str(),
                strNew.c_str());
    }
}

// Appends a name or value as it stands in a literal parameter. The engine decodes parameters
// as UTF-8 and refuses the whole request when one does not decode, which would leave the item
// without even its metadata: bytes that are not UTF-8 become U+FFFD first, as in the XML form.
void AppendLiteralText(std::string &strOut, std::string_view svText) {
    const unsigned char *pBytes = reinterpret_cast<const unsigned char *>(svText.data());
    const size_t nSize = svText.size();
    size_t nPos = 0;
    while (nPos < nSize) {
        size_t nAscii = nPos;
        while (nAscii < nSize && pBytes[nAscii] < 0x80) {
            ++nAscii;
        }
        CTextEncoding::AppendPercentEncoded(strOut, svText.data() + nPos, nAscii - nPos,
                                            CTextEncoding::kUnreservedMarks,
                                            CTextEncoding::eLowerHex);
        nPos = nAscii;
        if (nPos == nSize) {
            break;
        }
        unsigned char abSequence[4];
        size_t nLength = 0;
        uint32_t nCodePoint = 0;
        size_t nEnd = 0;
        if (DecodeSequence(pBytes, nSize, nPos, false, abSequence, nLength, nCodePoint, nEnd)) {
            CTextEncoding::AppendPercentEncoded(strOut, svText.data() + nPos, nLength,
                                                CTextEncoding::kUnreservedMarks,
                                                CTextEncoding::eLowerHex);
            nPos = nEnd;
        } else {
            strOut.append(kReplacementLiteral, sizeof(kReplacementLiteral) - 1);
            ++nPos;
        }
    }
}

std::string LiteralText(std::string_view svText) {
    std::string strText;
    AppendLiteralText(strText, svText);
    return strText;
}

// What CreateField writes in front of the value of a literal parameter.
void AppendLiteralParameter(std::string &strOut, std::string_view svName) {
    strOut += kLiteralPrefix;
    AppendLiteralText(strOut, svName);
    strOut += '=';
}

std::string LiteralParameter(std::string_view svName) {
    std::string strParameter;
    AppendLiteralParameter(strParameter, svName);
    return strParameter;
}

// The field name as the value of the name attribute. Most names are fixed, but schema fields
// take theirs from the job's configuration: a quote, "<" or "&" in one must neither end the
// attribute nor start markup, and what XML cannot carry is filtered as values are.
void AppendNameAttributeValue(std::string &strOut, std::string_view svName) {
    if (IsPlainText(svName, kPlainName)) {
        strOut.append(svName.data(), svName.size());
        return;
    }
    strOut += CTextEncoding::XmlEscape(IdxDocuments::StripIllegalXmlCharacters(std::string(svName)),
                                       CTextEncoding::eXmlMarkupAndQuote);
}

// The opening tag CreateField writes for a field with the given attribute.
void AppendOpeningTag(std::string &strOut, std::string_view svName, std::string_view svAttribute) {
    strOut += kFieldOpen;
    AppendNameAttributeValue(strOut, svName);
    strOut += '"';
    strOut += svAttribute;
    strOut += '>';
}

std::string OpeningTag(std::string_view svName, std::string_view svAttribute) {
    std::string strTag;
    AppendOpeningTag(strTag, svName, svAttribute);
    return strTag;
}

// Writes the piece at pOut; returns the end. An empty piece may have no data at all (an empty
// view), which memcpy must never be given.
char *Put(char *pOut, std::string_view svPiece) {
    if (!svPiece.empty()) {
        memcpy(pOut, svPiece.data(), svPiece.size());
    }
    return pOut + svPiece.size();
}

// The XML form of a field whose name and value are plain text (nearly every field): the same
// bytes as the opening tag, AppendCData and the closing tag write, sized once and copied in
// place. False, with nothing written, for any other field.
bool AppendPlainXmlField(std::string &strOut, std::string_view svName, std::string_view svAttribute,
                         std::string_view svValue) {
    if (!IsPlainText(svName, kPlainName) || !IsPlainText(svValue, kPlainValue)) {
        return false;
    }
    const std::string_view svCDataOpen(kCDataOpen, kCDataOpenLength);
    const std::string_view svCDataClose(kCDataClose, kCDataCloseLength);
    // A value that is empty gives no CDATA section, as in AppendCData.
    const size_t nCData = svValue.empty() ? 0 : kCDataOpenLength + kCDataCloseLength;
    const size_t nLength = kFieldOpen.size() + svName.size() + 1 + svAttribute.size() + 1 + nCData +
                           svValue.size() + kFieldClose.size();
    const size_t nStart = strOut.size();
    strOut.resize(nStart + nLength);
    char *pOut = &strOut[nStart];
    pOut = Put(pOut, kFieldOpen);
    pOut = Put(pOut, svName);
    *pOut++ = '"';
    pOut = Put(pOut, svAttribute);
    *pOut++ = '>';
    if (!svValue.empty()) {
        pOut = Put(pOut, svCDataOpen);
        pOut = Put(pOut, svValue);
        pOut = Put(pOut, svCDataClose);
    }
    Put(pOut, kFieldClose);
    return true;
}

// Position after the CDATA sections that start at nPos (the value of a field), or npos when a
// section is not closed. Each section's content holds no "]]>", so its first "]]>" ends it.
size_t SkipCDataSections(const std::string &strDocument, size_t nPos) {
    while (strDocument.compare(nPos, kCDataOpenLength, kCDataOpen) == 0) {
        size_t nClose = strDocument.find(kCDataClose, nPos + kCDataOpenLength);
        if (nClose == std::string::npos) {
            return std::string::npos;
        }
        nPos = nClose + kCDataCloseLength;
    }
    return nPos;
}

// Finds strTag in the markup of a document, never inside a CDATA section: a value may hold any
// text, also one that looks like the tag, and must not be taken for it.
size_t FindTagOutsideCData(const std::string &strDocument, const std::string &strTag) {
    size_t nPos = 0;
    for (;;) {
        size_t nTag = strDocument.find(strTag, nPos);
        size_t nCData = strDocument.find(kCDataOpen, nPos);
        if (nTag == std::string::npos) {
            return std::string::npos;
        }
        if (nCData == std::string::npos || nTag < nCData) {
            return nTag;
        }
        size_t nClose = strDocument.find(kCDataClose, nCData + kCDataOpenLength);
        if (nClose == std::string::npos) {
            return std::string::npos;
        }
        nPos = nClose + kCDataCloseLength;
    }
}

} // namespace

namespace IdxDocuments {

std::string CreateField(const std::string &strName, const std::string &strValue, EFieldForm eForm) {
    std::string strField;
    AppendField(strField, strName, strValue, eForm);
    return strField;
}

void AppendField(std::string &strOut, std::string_view svName, std::string_view svValue,
                 EFieldForm eForm) {
    if (eForm == EFieldForm::eLiteral) {
        // The name is encoded like the value: a "&" or "=" in a configured name must not split
        // the parameter. Plain names stay as they are.
        AppendLiteralParameter(strOut, svName);
        AppendLiteralText(strOut, svValue);
        return;
    }
    const std::string_view svAttribute = UpdateAttribute(svName);
    if (AppendPlainXmlField(strOut, svName, svAttribute, svValue)) {
        return;
    }
    AppendOpeningTag(strOut, svName, svAttribute);
    AppendCData(strOut, svValue);
    strOut += kFieldClose;
}

std::string GenerateCData(const std::string &strValue) {
    std::string strResult;
    AppendCData(strResult, strValue);
    return strResult;
}

void AppendCData(std::string &strOut, std::string_view svValue) {
    // Filtering comes first: removing a character between "]]" and ">" must not be able to
    // create a "]]>" after the value was split. A value that filters to nothing gives nothing.
    const size_t nStart = strOut.size();
    strOut.append(kCDataOpen, kCDataOpenLength);
    const bool bChanged = AppendXmlText(strOut, svValue, true);
    if (strOut.size() == nStart + kCDataOpenLength) {
        strOut.resize(nStart);
    } else {
        strOut.append(kCDataClose, kCDataCloseLength);
    }
    if (bChanged) {
        LogFilteredValue(svValue);
    }
}

std::string StripIllegalXmlCharacters(const std::string &strValue) {
    bool bChanged = false;
    std::string strResult = FilteredXmlText(strValue, bChanged);
    if (bChanged) {
        LogFilteredValue(strValue);
    }
    return strResult;
}

std::string Urlencode(const std::string &strValue) {
    return CTextEncoding::PercentEncode(strValue, CTextEncoding::kUnreservedMarks,
                                        CTextEncoding::eLowerHex);
}

void ChangeFieldValue(std::string &strDocument, const std::string &strName, std::string strValue,
                      EFieldForm eForm) {
    if (eForm == EFieldForm::eXml) {
        // Only the tag CreateField writes for this very name: two names can share the text of
        // the name attribute (a control character is filtered out of one) and differ in their
        // attribute, and the other one's field is not this one. The key has no attribute and is
        // never rewritten.
        const std::string_view svAttribute = UpdateAttribute(strName);
        if (svAttribute.empty()) {
            return;
        }
        const std::string strTag = OpeningTag(strName, svAttribute);
        const size_t nTag = FindTagOutsideCData(strDocument, strTag);
        if (nTag == std::string::npos) {
            return;
        }
        // The old value is every CDATA section up to the closing tag; the new one is written as
        // CreateField writes values, so it can neither end the field nor add markup.
        const size_t nValueStart = nTag + strTag.size();
        const size_t nValueEnd = SkipCDataSections(strDocument, nValueStart);
        if (nValueEnd == std::string::npos) {
            return;
        }
        strDocument.replace(nValueStart, nValueEnd - nValueStart, GenerateCData(strValue));
        return;
    }

    const std::string strParameter = LiteralParameter(strName);
    size_t nFound = strDocument.find(strParameter);
    if (nFound == std::string::npos) {
        return;
    }
    const size_t nValueStart = nFound + strParameter.size();
    size_t nValueEnd = strDocument.find("&literal", nFound + 1);
    if (nValueEnd == std::string::npos) {
        nValueEnd = strDocument.size();
    }
    strDocument.replace(nValueStart, nValueEnd - nValueStart, LiteralText(strValue));
}

} // namespace IdxDocuments

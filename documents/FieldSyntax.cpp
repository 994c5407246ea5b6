// Field syntax of the index-engine worker: how one field of a document is written (an XML field
// element with an atomic-update attribute and CDATA value, or an "&literal." parameter of the
// extract URL), and the helpers the builders and senders share.
#include <cstdio>
#include <cstring>

#include "engine/SolrTransmitterThread.h"
#include "foundation/Crc32.h"
#include "foundation/StringHelpers.h"
#include "foundation/TextEncoding.h"
#include "platform/LogWriter.h"
#include "platform/WideStrings.h"

namespace {

const char kCDataOpen[] = "<![CDATA[";
const char kCDataClose[] = "]]>";
const size_t kCDataOpenLength = sizeof(kCDataOpen) - 1;
const size_t kCDataCloseLength = sizeof(kCDataClose) - 1;
const char kLiteralPrefix[] = "&literal.";

const char kAttributeSet[] = " update=\"set\"";
const char kAttributeAdd[] = " update=\"add\"";

// Fields whose values accumulate in the engine instead of replacing each other.
const char *const kAccumulatingFields[] = {"FileAccessedByUserName", "FileModifiedByUserName",
                                           "FileAccessedByTime", "FileModifiedByTime"};

const char *UpdateAttribute(const std::string &strName) {
    if (FXString::MatchesNoCase(strName, "contentid")) {
        return "";
    }
    for (const char *szAccumulating : kAccumulatingFields) {
        if (FXString::MatchesNoCase(strName, szAccumulating)) {
            return kAttributeAdd;
        }
    }
    return kAttributeSet;
}

bool IsIllegalXmlByte(unsigned char ch) {
    return (ch < 0x20 && ch != 0x09 && ch != 0x0A && ch != 0x0D) || ch == 0x7F;
}

// The field name as the value of the name attribute. Most names are fixed, but schema fields
// take theirs from the job's configuration: a quote, "<" or "&" in one must neither end the
// attribute nor start markup, and what XML cannot carry is filtered as values are.
std::string NameAttributeValue(const std::string &strName) {
    bool bPlain = true;
    for (char ch : strName) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte >= 0x7F || ch == '"' || ch == '<' || ch == '>' || ch == '&') {
            bPlain = false;
            break;
        }
    }
    if (bPlain) {
        return strName;
    }
    return CTextEncoding::XmlEscape(CSolrTransmitterThread::StripIllegalXmlCharacters(strName),
                                    CTextEncoding::eXmlMarkupAndQuote);
}

// The opening tag CreateField writes for a field with the given attribute.
std::string OpeningTag(const std::string &strName, const char *szAttribute) {
    std::string strTag = "<field name=\"";
    strTag += NameAttributeValue(strName);
    strTag += '"';
    strTag += szAttribute;
    strTag += '>';
    return strTag;
}

// A name or value as it stands in a literal parameter. The engine decodes parameters as UTF-8
// and refuses the whole request when one does not decode, which would leave the item without
// even its metadata: bytes that are not UTF-8 become U+FFFD first, as in the XML form.
std::string LiteralText(const std::string &strText) {
    if (FXWideString::IsValidUtf8(strText)) {
        return CSolrTransmitterThread::Urlencode(strText);
    }
    return CSolrTransmitterThread::Urlencode(
        FXWideString::ToString(FXWideString::ToWstring(strText)));
}

// What CreateField writes in front of the value of a literal parameter.
std::string LiteralParameter(const std::string &strName) {
    return kLiteralPrefix + LiteralText(strName) + "=";
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

std::string CSolrTransmitterThread::CreateField(const std::string &strName,
                                                const std::string &strValue,
                                                EFieldForm eForm) const {
    if (eForm == EFieldForm::eLiteral) {
        // The name is encoded like the value: a "&" or "=" in a configured name must not split
        // the parameter. Plain names stay as they are.
        return LiteralParameter(strName) + LiteralText(strValue);
    }
    std::string strField = OpeningTag(strName, UpdateAttribute(strName));
    strField += GenerateCData(strValue);
    strField += "</field>";
    return strField;
}

std::string CSolrTransmitterThread::GenerateCData(const std::string &strValue) {
    // Filtering comes first: removing a character between "]]" and ">" must not be able to
    // create a "]]>" after the value was split.
    const std::string strFiltered = StripIllegalXmlCharacters(strValue);
    const std::vector<std::string> vecPieces = FXString::Split(strFiltered, kCDataClose);
    std::string strResult;
    if (vecPieces.empty()) {
        return strResult;
    }
    strResult.reserve(strFiltered.size() + vecPieces.size() * 16);
    for (size_t i = 0; i < vecPieces.size(); ++i) {
        strResult += kCDataOpen;
        // Each "]]>" is divided between two sections: "]]" ends one, ">" starts the next.
        if (i > 0) {
            strResult += '>';
        }
        strResult += vecPieces[i];
        if (i + 1 < vecPieces.size()) {
            strResult += "]]";
        }
        strResult += kCDataClose;
    }
    return strResult;
}

std::string CSolrTransmitterThread::StripIllegalXmlCharacters(const std::string &strValue) {
    std::string strBytes;
    strBytes.reserve(strValue.size());
    bool bAscii = true;
    for (char ch : strValue) {
        unsigned char byte = static_cast<unsigned char>(ch);
        if (IsIllegalXmlByte(byte)) {
            continue;
        }
        if (byte >= 0x80) {
            bAscii = false;
        }
        strBytes.push_back(ch);
    }

    std::string strResult;
    if (bAscii) {
        // Plain ASCII decodes to itself and holds neither U+FFFE nor U+FFFF.
        strResult.swap(strBytes);
    } else {
        // Decoding turns bytes that are not UTF-8 into U+FFFD, so the text that comes back is
        // always valid UTF-8; a value that filters to nothing stays empty.
        std::wstring wstrText = FXWideString::ToWstring(strBytes);
        std::wstring wstrKept;
        wstrKept.reserve(wstrText.size());
        for (wchar_t wch : wstrText) {
            if (wch != 0xFFFE && wch != 0xFFFF) {
                wstrKept.push_back(wch);
            }
        }
        strResult = FXWideString::ToString(wstrKept);
    }

    // The value is still sent, cleaned: nothing failed, so this is no error line.
    if (strResult != strValue) {
        IDX_LOG(1, "removing invalid character, old value [%s] to new value [%s]", strValue.c_str(),
                strResult.c_str());
    }
    return strResult;
}

std::string CSolrTransmitterThread::Urlencode(const std::string &strValue) {
    return CTextEncoding::PercentEncode(strValue, CTextEncoding::kUnreservedMarks,
                                        CTextEncoding::eLowerHex);
}

void CSolrTransmitterThread::ChangeFieldValue(std::string &strDocument, const std::string &strName,
                                              std::string strValue, EFieldForm eForm) const {
    if (eForm == EFieldForm::eXml) {
        // Only the tag CreateField writes for this very name: two names can share the text of
        // the name attribute (a control character is filtered out of one) and differ in their
        // attribute, and the other one's field is not this one. The key has no attribute and is
        // never rewritten.
        const char *szAttribute = UpdateAttribute(strName);
        if (*szAttribute == '\0') {
            return;
        }
        const std::string strTag = OpeningTag(strName, szAttribute);
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

std::string CSolrTransmitterThread::MakeHash(const std::string &strText) {
    CMd5 md5;
    md5.Update(strText);
    unsigned char abDigest[CMd5::kDigestLength];
    md5.Final(abDigest);
    return CTextEncoding::Hex(abDigest, sizeof(abDigest), CTextEncoding::eUpperHex);
}

std::string CSolrTransmitterThread::GetFileExtension(const std::string &strText) {
    size_t nDot = strText.rfind('.');
    if (nDot == std::string::npos) {
        return std::string();
    }
    return FXString::ToUpper(strText.substr(nDot + 1));
}

bool CSolrTransmitterThread::IsCompressedItem(const std::string &strExtension) const {
    return m_setCompressedExtensions.count(strExtension) != 0;
}

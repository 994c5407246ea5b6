// UTF-8 decoding and encoding for FXWideString.
#include "platform/WideStrings.h"

#include <cstddef>
#include <cstdint>

#include "foundation/TextEncoding.h"

namespace {

// Decodes the sequence starting at nPos. On success stores the code point and the sequence
// length; a byte that starts no valid sequence gives false (the caller takes one byte).
bool DecodeAt(const std::string &strText, size_t nPos, uint32_t &nCodePoint, size_t &nLength) {
    const unsigned char *pBytes = reinterpret_cast<const unsigned char *>(strText.data());
    const size_t nSize = strText.size();
    const unsigned char bLead = pBytes[nPos];
    if (bLead < 0x80) {
        nCodePoint = bLead;
        nLength = 1;
        return true;
    }
    uint32_t nValue = 0;
    uint32_t nMinimum = 0;
    if (!CTextEncoding::Utf8Lead(bLead, nLength, nValue, nMinimum)) {
        return false;
    }
    if (nSize - nPos < nLength) {
        return false;
    }
    for (size_t i = 1; i < nLength; ++i) {
        const unsigned char bNext = pBytes[nPos + i];
        if ((bNext & 0xC0u) != 0x80u) {
            return false;
        }
        nValue = (nValue << 6) | (bNext & 0x3Fu);
    }
    if (nValue < nMinimum || nValue > 0x10FFFF || (nValue >= 0xD800 && nValue <= 0xDFFF)) {
        return false;
    }
    nCodePoint = nValue;
    return true;
}

void AppendUtf8(std::string &strOut, uint32_t nCodePoint) {
    if (nCodePoint > 0x10FFFF || (nCodePoint >= 0xD800 && nCodePoint <= 0xDFFF)) {
        nCodePoint = FXWideString::kReplacementCharacter;
    }
    if (nCodePoint < 0x80) {
        strOut.push_back(static_cast<char>(nCodePoint));
    } else if (nCodePoint < 0x800) {
        strOut.push_back(static_cast<char>(0xC0 | (nCodePoint >> 6)));
        strOut.push_back(static_cast<char>(0x80 | (nCodePoint & 0x3F)));
    } else if (nCodePoint < 0x10000) {
        strOut.push_back(static_cast<char>(0xE0 | (nCodePoint >> 12)));
        strOut.push_back(static_cast<char>(0x80 | ((nCodePoint >> 6) & 0x3F)));
        strOut.push_back(static_cast<char>(0x80 | (nCodePoint & 0x3F)));
    } else {
        strOut.push_back(static_cast<char>(0xF0 | (nCodePoint >> 18)));
        strOut.push_back(static_cast<char>(0x80 | ((nCodePoint >> 12) & 0x3F)));
        strOut.push_back(static_cast<char>(0x80 | ((nCodePoint >> 6) & 0x3F)));
        strOut.push_back(static_cast<char>(0x80 | (nCodePoint & 0x3F)));
    }
}

} // namespace

std::wstring FXWideString::ToWstring(const std::string &strText) {
    std::wstring wstrOut;
    wstrOut.reserve(strText.size());
    size_t nPos = 0;
    while (nPos < strText.size()) {
        uint32_t nCodePoint = 0;
        size_t nLength = 0;
        if (DecodeAt(strText, nPos, nCodePoint, nLength)) {
            wstrOut.push_back(static_cast<wchar_t>(nCodePoint));
            nPos += nLength;
        } else {
            wstrOut.push_back(kReplacementCharacter);
            ++nPos;
        }
    }
    return wstrOut;
}

std::string FXWideString::ToString(const std::wstring &wstrText) {
    std::string strOut;
    strOut.reserve(wstrText.size());
    for (wchar_t wch : wstrText) {
        AppendUtf8(strOut, static_cast<uint32_t>(wch));
    }
    return strOut;
}

bool FXWideString::IsValidUtf8(const std::string &strText) {
    size_t nPos = 0;
    while (nPos < strText.size()) {
        uint32_t nCodePoint = 0;
        size_t nLength = 0;
        if (!DecodeAt(strText, nPos, nCodePoint, nLength)) {
            return false;
        }
        nPos += nLength;
    }
    return true;
}

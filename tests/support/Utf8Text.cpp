#include "tests/support/Utf8Text.h"

#include <cstdio>

namespace idxtest {

bool DecodeUtf8At(const std::string &strText, size_t nPos, uint32_t &nCodePoint, size_t &nLength) {
    const auto *pBytes = reinterpret_cast<const unsigned char *>(strText.data());
    const unsigned int nLead = pBytes[nPos];
    nLength = nLead < 0x80           ? 1
              : (nLead >> 5) == 0x6  ? 2
              : (nLead >> 4) == 0xE  ? 3
              : (nLead >> 3) == 0x1E ? 4
                                     : 0;
    if (nLength == 0 || nPos + nLength > strText.size()) {
        return false;
    }
    static const uint32_t s_anLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static const uint32_t s_anMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    uint32_t nCode = nLead & s_anLeadMask[nLength];
    for (size_t k = 1; k < nLength; ++k) {
        if ((pBytes[nPos + k] & 0xC0) != 0x80) {
            return false;
        }
        nCode = (nCode << 6) | (pBytes[nPos + k] & 0x3F);
    }
    if (nCode < s_anMinimum[nLength] || nCode > 0x10FFFF || (nCode >= 0xD800 && nCode <= 0xDFFF)) {
        return false;
    }
    nCodePoint = nCode;
    return true;
}

bool IsValidUtf8(const std::string &strText) {
    for (size_t nPos = 0; nPos < strText.size();) {
        uint32_t nCodePoint = 0;
        size_t nLength = 0;
        if (!DecodeUtf8At(strText, nPos, nCodePoint, nLength)) {
            return false;
        }
        nPos += nLength;
    }
    return true;
}

std::string XmlTextProblem(const std::string &strText) {
    char szHex[16];
    for (size_t nPos = 0; nPos < strText.size();) {
        uint32_t nCode = 0;
        size_t nLength = 0;
        if (!DecodeUtf8At(strText, nPos, nCode, nLength)) {
            snprintf(szHex, sizeof(szHex), "%02X", static_cast<unsigned char>(strText[nPos]));
            return std::string("invalid UTF-8 byte 0x") + szHex + " at offset " +
                   std::to_string(nPos);
        }
        const bool bXmlChar = nCode == 0x9 || nCode == 0xA || nCode == 0xD ||
                              (nCode >= 0x20 && nCode <= 0xD7FF) ||
                              (nCode >= 0xE000 && nCode <= 0xFFFD) || nCode >= 0x10000;
        if (!bXmlChar) {
            snprintf(szHex, sizeof(szHex), "%04X", static_cast<unsigned int>(nCode));
            return std::string("character U+") + szHex + " not allowed in XML at offset " +
                   std::to_string(nPos);
        }
        nPos += nLength;
    }
    return std::string();
}

} // namespace idxtest

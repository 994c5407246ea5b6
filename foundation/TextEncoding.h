// The byte-level encodings that texts need on their way into URLs, forms, XML and digests:
// hexadecimal output, percent encoding and its inverse, and XML escaping.
//
// Header-only on purpose: the framework's own records (libidxplatform) and the worker's
// documents and requests (libidxtransmitter) use the same code without one library linking the
// other. None of these looks at characters: every byte is handled on its own, so what is not
// UTF-8 passes through as bytes; making text valid UTF-8 first is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CTextEncoding {
public:
    enum EHexCase { eLowerHex, eUpperHex };
    enum EXmlEscape {
        // "&", "<", ">" and '"': enough for text and for an attribute in double quotes.
        eXmlMarkupAndQuote,
        // The same and "'" as well, for text that may land in either kind of attribute.
        eXmlMarkupAndQuotes,
    };

    // Marks kept by percent encoding besides ASCII letters and digits: the unreserved characters
    // of a URI, and the same without "~" for records whose readers predate it.
    static constexpr const char *kUnreservedMarks = "-_.~";
    static constexpr const char *kUnreservedMarksWithoutTilde = "-_.";

    static char HexDigit(unsigned int nNibble, EHexCase eCase) {
        return (eCase == eUpperHex ? "0123456789ABCDEF" : "0123456789abcdef")[nNibble & 0x0F];
    }

    // Appends two hexadecimal digits per byte, the high nibble first.
    static void AppendHex(std::string &strOut, const void *pData, size_t nLength, EHexCase eCase) {
        const unsigned char *pBytes = static_cast<const unsigned char *>(pData);
        strOut.reserve(strOut.size() + 2 * nLength);
        for (size_t i = 0; i < nLength; ++i) {
            strOut.push_back(HexDigit(pBytes[i] >> 4, eCase));
            strOut.push_back(HexDigit(pBytes[i], eCase));
        }
    }
    static std::string Hex(const void *pData, size_t nLength, EHexCase eCase) {
        std::string strHex;
        AppendHex(strHex, pData, nLength, eCase);
        return strHex;
    }

    // Keeps ASCII letters, digits and the bytes of szKeptMarks; every other byte becomes "%" and
    // two hexadecimal digits. A blank is "%20", never "+".
    static std::string PercentEncode(const std::string &strValue, const char *szKeptMarks,
                                     EHexCase eCase) {
        std::string strEncoded;
        strEncoded.reserve(strValue.size() * 3);
        AppendPercentEncoded(strEncoded, strValue.data(), strValue.size(), szKeptMarks, eCase);
        return strEncoded;
    }
    // PercentEncode of nLength bytes at pData, appended to strOut. The room for the longest
    // result is made first and written through a pointer, then cut to what was written.
    static void AppendPercentEncoded(std::string &strOut, const char *pData, size_t nLength,
                                     const char *szKeptMarks, EHexCase eCase) {
        const size_t nStart = strOut.size();
        strOut.resize(nStart + 3 * nLength);
        char *pOut = &strOut[nStart];
        for (size_t i = 0; i < nLength; ++i) {
            const char ch = pData[i];
            const unsigned char byte = static_cast<unsigned char>(ch);
            if (IsAsciiAlphanumeric(byte) || IsOneOf(ch, szKeptMarks)) {
                *pOut++ = ch;
            } else {
                *pOut++ = '%';
                *pOut++ = HexDigit(byte >> 4, eCase);
                *pOut++ = HexDigit(byte, eCase);
            }
        }
        strOut.resize(static_cast<size_t>(pOut - strOut.data()));
    }

    // The inverse of PercentEncode with either case of digits; every other byte stands for
    // itself ("+" too). False, with strText cleared, when a "%" is not followed by two
    // hexadecimal digits.
    static bool PercentDecode(const std::string &strEncoded, std::string &strText) {
        strText.clear();
        for (size_t i = 0; i < strEncoded.size(); ++i) {
            if (strEncoded[i] != '%') {
                strText.push_back(strEncoded[i]);
                continue;
            }
            const int nHigh = i + 2 < strEncoded.size() ? HexValue(strEncoded[i + 1]) : -1;
            const int nLow = nHigh >= 0 ? HexValue(strEncoded[i + 2]) : -1;
            if (nLow < 0) {
                strText.clear();
                return false;
            }
            strText.push_back(static_cast<char>((nHigh << 4) | nLow));
            i += 2;
        }
        return true;
    }

    // Replaces the characters that would end or start markup by their entities; other bytes,
    // also those XML cannot carry, are left to the caller.
    static std::string XmlEscape(const std::string &strValue, EXmlEscape eWhat) {
        std::string strEscaped;
        strEscaped.reserve(strValue.size());
        for (char ch : strValue) {
            switch (ch) {
            case '&':
                strEscaped += "&amp;";
                break;
            case '<':
                strEscaped += "&lt;";
                break;
            case '>':
                strEscaped += "&gt;";
                break;
            case '"':
                strEscaped += "&quot;";
                break;
            case '\'':
                if (eWhat == eXmlMarkupAndQuotes) {
                    strEscaped += "&apos;";
                } else {
                    strEscaped.push_back(ch);
                }
                break;
            default:
                strEscaped.push_back(ch);
            }
        }
        return strEscaped;
    }

    // What a UTF-8 lead byte of two to four bytes says: the sequence's length, the value bits
    // the lead carries and the smallest code point that length may encode (anything below is
    // overlong). False for ASCII, continuation bytes, the overlong leads C0 and C1, and F5..FF.
    static bool Utf8Lead(unsigned char bLead, size_t &nLength, uint32_t &nValue,
                         uint32_t &nMinimum) {
        if (bLead >= 0xC2 && bLead <= 0xDF) {
            nLength = 2;
            nValue = bLead & 0x1Fu;
            nMinimum = 0x80;
        } else if (bLead >= 0xE0 && bLead <= 0xEF) {
            nLength = 3;
            nValue = bLead & 0x0Fu;
            nMinimum = 0x800;
        } else if (bLead >= 0xF0 && bLead <= 0xF4) {
            nLength = 4;
            nValue = bLead & 0x07u;
            nMinimum = 0x10000;
        } else {
            return false;
        }
        return true;
    }

private:
    static bool IsAsciiAlphanumeric(unsigned char byte) {
        return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
               (byte >= 'a' && byte <= 'z');
    }
    static bool IsOneOf(char ch, const char *szSet) {
        for (; *szSet != '\0'; ++szSet) {
            if (*szSet == ch) {
                return true;
            }
        }
        return false;
    }
    static int HexValue(char ch) {
        if (ch >= '0' && ch <= '9') {
            return ch - '0';
        }
        if (ch >= 'A' && ch <= 'F') {
            return ch - 'A' + 10;
        }
        if (ch >= 'a' && ch <= 'f') {
            return ch - 'a' + 10;
        }
        return -1;
    }
};

#include "platform/SerializedBase.h"

#include <cstring>
#include <new>

namespace {

enum ETokenType : uint8_t {
    eTokenEnd = 0,
    eTokenText = 1,
    eTokenInt = 2,
    eTokenUInt = 3,
    eTokenLongLong = 4,
    eTokenULongLong = 5,
    eTokenBool = 6,
};

const size_t kHeaderSize = 1 + 4 + 4;
const uint32_t kErrorInvalidData = 13;
const uint32_t kErrorNotEnoughMemory = 14;
const uint32_t kErrorInvalidParameter = 87;
const uint32_t kErrorUnknownToken = 1608;

void PutLittleEndian(unsigned char *pOut, uint64_t ullValue, size_t nBytes) {
    for (size_t i = 0; i < nBytes; ++i) {
        pOut[i] = static_cast<unsigned char>(ullValue >> (8 * i));
    }
}

uint64_t GetLittleEndian(const unsigned char *pIn, size_t nBytes) {
    uint64_t ullValue = 0;
    for (size_t i = 0; i < nBytes; ++i) {
        ullValue |= static_cast<uint64_t>(pIn[i]) << (8 * i);
    }
    return ullValue;
}

CKyError AppendToken(CSerializedBuffer *pBuffer, ETokenType eType, unsigned int nId,
                     const void *pValue, size_t nLength) {
    if (pBuffer == nullptr || nLength > UINT32_MAX) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter,
                                       "Token %u cannot be serialised", nId);
    }
    unsigned char header[kHeaderSize];
    header[0] = eType;
    PutLittleEndian(header + 1, nId, 4);
    PutLittleEndian(header + 5, nLength, 4);
    // The header and the value go into the buffer in one piece, so that a buffer that cannot
    // grow keeps only whole tokens.
    std::string strToken;
    try {
        strToken.reserve(kHeaderSize + nLength);
    } catch (const std::bad_alloc &) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorNotEnoughMemory);
    }
    strToken.append(reinterpret_cast<const char *>(header), sizeof(header));
    if (nLength > 0) {
        strToken.append(static_cast<const char *>(pValue), nLength);
    }
    if (!pBuffer->Append(strToken.data(), strToken.size())) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorNotEnoughMemory);
    }
    return CKyError::Success();
}

CKyError AppendNumber(CSerializedBuffer *pBuffer, ETokenType eType, unsigned int nId,
                      uint64_t ullBits, size_t nBytes) {
    unsigned char value[8];
    PutLittleEndian(value, ullBits, nBytes);
    return AppendToken(pBuffer, eType, nId, value, nBytes);
}

CKyError Damaged(size_t nOffset, const char *szWhat) {
    return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidData,
                                   "Serialised data damaged at offset %zu: %s", nOffset, szWhat);
}

} // namespace

CKyError CSerializedBase::Save(CSerializedBuffer *pBuffer) const {
    CKyError error = AppendToken(pBuffer, eTokenEnd, 0, nullptr, 0);
    return error.IsError() ? error.Push(FXLOC) : error;
}

CKyError CSerializedBase::Load(const std::string &strData) {
    return Load(strData.data(), strData.size());
}

CKyError CSerializedBase::Load(const char *pData, unsigned long ulLength) {
    if (pData == nullptr && ulLength != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter, "No data to load");
    }
    // The whole data is checked before the first token is handed on, so that damaged data
    // changes nothing in the record.
    CKyError error = Walk(pData, ulLength, false);
    if (error.IsError()) {
        return error;
    }
    return Walk(pData, ulLength, true);
}

CKyError CSerializedBase::Walk(const char *pData, unsigned long ulLength, bool bHandOn) {
    const unsigned char *pBytes = reinterpret_cast<const unsigned char *>(pData);
    size_t nOffset = 0;
    for (;;) {
        if (ulLength - nOffset < kHeaderSize) {
            return Damaged(nOffset, "the data ends before its end token");
        }
        const unsigned char *pHeader = pBytes + nOffset;
        const uint8_t nType = pHeader[0];
        const unsigned int nId = static_cast<unsigned int>(GetLittleEndian(pHeader + 1, 4));
        const uint64_t ullLength = GetLittleEndian(pHeader + 5, 4);
        const size_t nValueOffset = nOffset + kHeaderSize;
        if (ullLength > ulLength - nValueOffset) {
            return Damaged(nOffset, "a token is longer than the data left");
        }
        const unsigned char *pValue = pBytes + nValueOffset;
        const size_t nLength = static_cast<size_t>(ullLength);

        size_t nExpected = 0;
        switch (nType) {
        case eTokenEnd:
            if (nId != 0 || nLength != 0 || nValueOffset != ulLength) {
                return Damaged(nOffset, "the end token is not the last bytes");
            }
            return CKyError::Success();
        case eTokenText:
            nExpected = nLength;
            break;
        case eTokenInt:
        case eTokenUInt:
            nExpected = 4;
            break;
        case eTokenLongLong:
        case eTokenULongLong:
            nExpected = 8;
            break;
        case eTokenBool:
            nExpected = 1;
            break;
        default:
            return Damaged(nOffset, "unknown token type");
        }
        if (nLength != nExpected) {
            return Damaged(nOffset, "a number of the wrong width");
        }

        if (nType == eTokenBool && pValue[0] > 1) {
            return Damaged(nOffset, "a bool that is neither 0 nor 1");
        }
        if (!bHandOn) {
            nOffset = nValueOffset + nLength;
            continue;
        }
        // A refused token (an id this record does not know) is passed over.
        switch (nType) {
        case eTokenText:
            LoadToken(nId, std::string(reinterpret_cast<const char *>(pValue), nLength));
            break;
        case eTokenInt:
            LoadToken(nId, static_cast<int>(static_cast<uint32_t>(GetLittleEndian(pValue, 4))));
            break;
        case eTokenUInt:
            LoadToken(nId, static_cast<unsigned int>(GetLittleEndian(pValue, 4)));
            break;
        case eTokenLongLong:
            LoadToken(nId, static_cast<long long>(GetLittleEndian(pValue, 8)));
            break;
        case eTokenULongLong:
            LoadToken(nId, static_cast<unsigned long long>(GetLittleEndian(pValue, 8)));
            break;
        case eTokenBool:
            LoadToken(nId, pValue[0] == 1);
            break;
        }
        nOffset = nValueOffset + nLength;
    }
}

CKyError CSerializedBase::LoadToken(unsigned int, const std::string &) {
    return FXErrorUtil::ErrorWin32(FXLOC, kErrorUnknownToken);
}
CKyError CSerializedBase::LoadToken(unsigned int, int) {
    return FXErrorUtil::ErrorWin32(FXLOC, kErrorUnknownToken);
}
CKyError CSerializedBase::LoadToken(unsigned int, unsigned int) {
    return FXErrorUtil::ErrorWin32(FXLOC, kErrorUnknownToken);
}
CKyError CSerializedBase::LoadToken(unsigned int, long long) {
    return FXErrorUtil::ErrorWin32(FXLOC, kErrorUnknownToken);
}
CKyError CSerializedBase::LoadToken(unsigned int, unsigned long long) {
    return FXErrorUtil::ErrorWin32(FXLOC, kErrorUnknownToken);
}
CKyError CSerializedBase::LoadToken(unsigned int, bool) {
    return FXErrorUtil::ErrorWin32(FXLOC, kErrorUnknownToken);
}

CKyError CSerializedBase::AddToken(CSerializedBuffer *pBuffer, unsigned int nId,
                                   const std::string &strValue) {
    CKyError error = AppendToken(pBuffer, eTokenText, nId, strValue.data(), strValue.size());
    return error.IsError() ? error.Push(FXLOC) : error;
}

CKyError CSerializedBase::AddToken(CSerializedBuffer *pBuffer, unsigned int nId, bool bValue) {
    return AppendNumber(pBuffer, eTokenBool, nId, bValue ? 1 : 0, 1);
}

CKyError CSerializedBase::AddToken(CSerializedBuffer *pBuffer, unsigned int nId,
                                   unsigned int nValue) {
    return AppendNumber(pBuffer, eTokenUInt, nId, nValue, 4);
}

CKyError CSerializedBase::AddToken(CSerializedBuffer *pBuffer, unsigned int nId, int nValue) {
    return AppendNumber(pBuffer, eTokenInt, nId, static_cast<uint32_t>(nValue), 4);
}

CKyError CSerializedBase::AddToken(CSerializedBuffer *pBuffer, unsigned int nId,
                                   long long llValue) {
    return AppendNumber(pBuffer, eTokenLongLong, nId, static_cast<uint64_t>(llValue), 8);
}

CKyError CSerializedBase::AddToken(CSerializedBuffer *pBuffer, unsigned int nId,
                                   unsigned long long ullValue) {
    return AppendNumber(pBuffer, eTokenULongLong, nId, ullValue, 8);
}

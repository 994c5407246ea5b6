// Serialised records: a record saves itself as a list of typed tokens, each named by a number,
// and is loaded again by handing every token to the LoadToken overload of its type.
//
// The encoding is this platform's own. A token is a type byte, the id (4 bytes) and the value's
// length (4 bytes), both little-endian, then the value: 4 bytes for int and unsigned int, 8 for
// long long and unsigned long long (little-endian), 1 for bool (0 or 1), the bytes of a text.
// Save ends the list with an end token (type 0, id 0, length 0). Load checks every length against
// the bytes left before it reads a value, so that truncated or damaged data is an error (13)
// rather than a read past the end, and it checks the whole data before it hands on the first
// token, so that damaged data changes nothing. A token whose LoadToken refuses it (an id the
// record does not know) is passed over and loading goes on.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/Accessors.h"
#include "foundation/Export.h"
#include "foundation/KyError.h"

class IDX_EXPORT CSerializedBase {
public:
    CSerializedBase() = default;
    virtual ~CSerializedBase() = default;

    // The base's part of saving, called after the record has added its tokens: ends the list.
    // Error 14 when the buffer cannot take the bytes.
    virtual CKyError Save(CSerializedBuffer *pBuffer) const;

    // Reads token data that Save wrote. Error 13 naming the offset when the data is damaged.
    virtual CKyError Load(const char *pData, unsigned long ulLength);
    virtual CKyError Load(const std::string &strData);

    // One token each; the base knows no id and refuses every token with 1608.
    virtual CKyError LoadToken(unsigned int nId, const std::string &strValue);
    virtual CKyError LoadToken(unsigned int nId, int nValue);
    virtual CKyError LoadToken(unsigned int nId, unsigned int nValue);
    virtual CKyError LoadToken(unsigned int nId, long long llValue);
    virtual CKyError LoadToken(unsigned int nId, unsigned long long ullValue);
    virtual CKyError LoadToken(unsigned int nId, bool bValue);

private:
    // One pass over the data: checks it, and with bHandOn hands every token to LoadToken.
    CKyError Walk(const char *pData, unsigned long ulLength, bool bHandOn);

protected:
    // Appends one token; error 14 when the buffer cannot take it, 87 for a null buffer or a text
    // longer than 4 GiB.
    static CKyError AddToken(CSerializedBuffer *pBuffer, unsigned int nId,
                             const std::string &strValue);
    static CKyError AddToken(CSerializedBuffer *pBuffer, unsigned int nId, bool bValue);
    static CKyError AddToken(CSerializedBuffer *pBuffer, unsigned int nId, unsigned int nValue);
    static CKyError AddToken(CSerializedBuffer *pBuffer, unsigned int nId, int nValue);
    static CKyError AddToken(CSerializedBuffer *pBuffer, unsigned int nId, long long llValue);
    static CKyError AddToken(CSerializedBuffer *pBuffer, unsigned int nId,
                             unsigned long long ullValue);
    // A character string would otherwise be taken as a bool.
    static CKyError AddToken(CSerializedBuffer *pBuffer, unsigned int nId,
                             const char *szValue) = delete;
};

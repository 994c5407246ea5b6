// A JSON value read from text, and the few reads the index engine's answers need: a member that
// is an object, an array or a number, and a member text.
//
// Values are immutable and cheap to copy: a member or array element shares the parsed text's
// storage. Nothing throws; every failure is a CKyError (774) naming the member and what was
// wrong with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"

class TqJsonDocument;

class IDX_EXPORT TqJson {
public:
    // Texts longer than this are refused rather than parsed.
    static constexpr size_t kMaxTextSize = 64u * 1024u * 1024u;

    // A null value.
    TqJson();

    // Parses the text into value; error naming the parse error and where it was found.
    static CKyError Unserialize(const std::string &strText, TqJson &value);

    bool IsNull() const;
    bool IsObject() const;
    bool IsArray() const;
    // Elements of an array or members of an object; 0 for anything else.
    size_t Size() const;

    // Members of an object. An absent member, or one of another type, is an error naming it.
    CKyError FindObjectValue(const std::string &strName, TqJson &value) const;
    CKyError FindArrayValue(const std::string &strName, std::vector<TqJson> &vecValues) const;
    // A whole number in the signed 64-bit range.
    CKyError GetIntValue(const std::string &strName, int64_t &llValue) const;
    // A whole number from 0 to 2^64-1.
    CKyError GetUInt64Value(const std::string &strName, uint64_t &ullValue) const;
    CKyError GetStringValue(const std::string &strName, std::string &strValue) const;

    // The value as compact JSON text.
    std::string Serialize() const;

private:
    TqJson(boost::shared_ptr<const TqJsonDocument> ptrDocument, const void *pValue)
        : m_ptrDocument(std::move(ptrDocument)), m_pValue(pValue) {}

    // The member of an object, or null with the error set.
    const void *FindMember(const std::string &strName, CKyError &error) const;

    boost::shared_ptr<const TqJsonDocument> m_ptrDocument;
    const void *m_pValue; // a value inside m_ptrDocument; null for the null value
};

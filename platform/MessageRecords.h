// Message records: typed fields addressed by number, the form in which the host product hands
// structured settings (such as a virtual-machine job's catalogue options) to the library.
//
// A record is made from a family and a type number. A field is addressed by its field index and
// its tag; the record-class hash and the field hash that generated code passes along are accepted
// and not checked. Integer fields are read by tag, text fields by index and tag, and a field that
// was never set reads as 0 or the empty text. Records copy by value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Export.h"

class IDX_EXPORT CNMessageBase {
public:
    CNMessageBase(int32_t nFamily, int32_t nType) : m_nFamily(nFamily), m_nType(nType) {}
    CNMessageBase(const CNMessageBase &) = default;
    CNMessageBase &operator=(const CNMessageBase &) = default;
    virtual ~CNMessageBase() = default;

    int32_t GetFamily() const { return m_nFamily; }
    int32_t GetType() const { return m_nType; }

    // Setters answer 0; a field set again keeps only its new value and type.
    int setint64(int32_t nIndex, int32_t nTag, int64_t llValue, uint32_t nClassHash = 0,
                 uint32_t nFieldHash = 0);
    int setstring(int32_t nIndex, int32_t nTag, const std::string &strValue,
                  uint32_t nClassHash = 0, uint32_t nFieldHash = 0);

    // 0 when the tag holds no integer.
    int64_t getint64(int32_t nTag, uint32_t nClassHash = 0, uint32_t nFieldHash = 0) const;
    // The empty text when the field holds no text.
    std::string getstring(int32_t nIndex, int32_t nTag, uint32_t nClassHash = 0,
                          uint32_t nFieldHash = 0) const;
    const std::string &getstringByRef(int32_t nIndex, int32_t nTag, uint32_t nClassHash = 0,
                                      uint32_t nFieldHash = 0) const;

    // Whether the field with this index has been set.
    bool isSet(int32_t nIndex, uint32_t nClassHash = 0, uint32_t nFieldHash = 0) const;
    // Forgets every field; family and type stay.
    void Clear() { m_vecFields.clear(); }

private:
    struct CField {
        int32_t nIndex;
        int32_t nTag;
        bool bText;
        int64_t llValue;
        std::string strValue;
    };

    const CField *FindByTag(int32_t nTag) const;
    CField &Slot(int32_t nIndex, int32_t nTag);

    int32_t m_nFamily;
    int32_t m_nType;
    std::vector<CField> m_vecFields; // few fields per record: a scan beats a map here
};

namespace VirtualServer {

// A virtual-machine job's catalogue options (family 26, type 127). Fields the library reads: the
// integer at tag 63 (the web-service mode) and the text at index 28, tag 64 (the web-service URL).
class IDX_EXPORT VMCatalogOptions : public CNMessageBase {
public:
    enum : int32_t { kFamily = 26, kType = 127 };
    VMCatalogOptions() : CNMessageBase(kFamily, kType) {}
};

} // namespace VirtualServer

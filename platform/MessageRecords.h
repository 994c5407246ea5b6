// Message records: typed fields addressed by number, the form in which the host product hands
// structured settings (such as a virtual-machine job's catalogue options) to the library and in
// which the library hands metadata and index commands to the index server.
//
// A record is made from a family and a type number. A field is addressed by its field index and
// its tag; the record-class hash and the field hash that generated code passes along are accepted
// and not checked. Integer fields are read by tag, text fields and nested records by index and
// tag, and a field that was never set reads as 0, the empty text or no record. A field holds an
// integer, a text or a nested record, which the record owns. Records copy by value, nested
// records included.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

class CNMessageBase {
public:
    CNMessageBase(int32_t nFamily, int32_t nType) : m_nFamily(nFamily), m_nType(nType) {}
    CNMessageBase(const CNMessageBase &other);
    CNMessageBase &operator=(const CNMessageBase &other);
    virtual ~CNMessageBase();

    int32_t GetFamily() const { return m_nFamily; }
    int32_t GetType() const { return m_nType; }

    // Setters answer 0; a field set again keeps only its new value and kind.
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

    // The address of the field's pointer to its nested record, through which the record is read
    // and filled. With bCreate a field without a record gets a new empty record of the family and
    // type given (a value of another kind there is replaced); without it the answer is null when
    // the field holds no record. bSetPresence is taken for the generated code's sake: a field
    // that holds a record always reads as set. The address stays valid while this record lives
    // and the field is not set to something else.
    CNMessageBase **getObjectAccessor(bool bCreate, bool bSetPresence, int32_t nIndex, int32_t nTag,
                                      uint32_t nClassHash, uint32_t nFieldHash, int32_t nFamily,
                                      int32_t nType);
    // Stores a copy of pRecord (family, type and fields, nested records included) in the field,
    // replacing what it held. 0, or 1 for a null record (the field is left as it was).
    int setObjectAccessor(const CNMessageBase *pRecord, int32_t nIndex, int32_t nTag,
                          uint32_t nClassHash = 0, uint32_t nFieldHash = 0);
    // The nested record of the field; null when it holds none.
    const CNMessageBase *getObject(int32_t nIndex, int32_t nTag, uint32_t nClassHash = 0,
                                   uint32_t nFieldHash = 0) const;

    // The record as XML text: a "Message" element with its family and type, and one "Field"
    // element per field in the order the fields were first set (attributes index and tag, and
    // int64="...", string="..." or a nested "Message"). bIndent lays it out over lines; false
    // writes one line. Answers 0.
    int serialize(std::string &strText, bool bIndent) const;

    // Whether the field with this index has been set.
    bool isSet(int32_t nIndex, uint32_t nClassHash = 0, uint32_t nFieldHash = 0) const;
    // Forgets every field; family and type stay.
    void Clear();

private:
    enum EKind { eInteger, eText, eRecord };
    struct CField {
        int32_t nIndex;
        int32_t nTag;
        EKind eKind;
        int64_t llValue;
        std::string strValue;
        CNMessageBase *pRecord; // owned; set only for eRecord
    };

    const CField *FindByTag(int32_t nTag) const;
    // The field of the tag, with the value it held released; a new one when the tag is unused.
    CField &Slot(int32_t nIndex, int32_t nTag);
    void CopyFieldsFrom(const CNMessageBase &other);

    int32_t m_nFamily;
    int32_t m_nType;
    // Few fields per record: a scan beats a map. A deque keeps each field where it is when more
    // are added, so an accessor's address stays good.
    std::deque<CField> m_dqFields;
};

namespace VirtualServer {

// A virtual-machine job's catalogue options (family 26, type 127). Fields the library reads: the
// integer at tag 63 (the web-service mode) and the text at index 28, tag 64 (the web-service URL).
class VMCatalogOptions : public CNMessageBase {
public:
    enum : int32_t { kFamily = 26, kType = 127 };
    VMCatalogOptions() : CNMessageBase(kFamily, kType) {}
};

} // namespace VirtualServer

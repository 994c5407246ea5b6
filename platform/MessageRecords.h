// Message records: typed fields addressed by number, the form in which the host product hands
// structured settings (such as a virtual-machine job's catalogue options) to the library, in
// which the management server is asked and answers, and in which the library hands metadata and
// index commands to the index server.
//
// A record is made from a family and a type number. A field is addressed by its field index and
// its tag; the record-class hash and the field hash that generated code passes along are accepted
// and not checked. Integer fields are read by tag, text fields and nested records by index and
// tag, and a field that was never set reads as 0, the empty text or no record. A field may also
// hold a nested record, a list of records or a list of 32-bit integers, which the record owns.
// Records copy by value, nested records and lists included.
//
// The XML form (serialize, unserialize) is this platform's own, written to be read and written by
// hand, and the one form in which records are written anywhere (log lines included):
//   <message family="13" type="995">
//     <string index="1" tag="1">text</string>
//     <int64 index="7" tag="16">-12</int64>
//     <message index="2" tag="5" family="13" type="171">...fields...</message>
//     <list index="1" tag="1"><message family="30" type="490">...</message>...</list>
//     <int32list index="2" tag="2"><int32>5</int32>...</int32list>
//   </message>
// Reading it is bounded: at most kMaxXmlBytes of text, kMaxDepth levels of nested records and
// kMaxFieldsPerRecord fields (or list entries) in one record.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "foundation/Export.h"

class IDX_EXPORT CNMessageBase {
public:
    // Results of serialize and unserialize.
    enum EMessageResult : int {
        eMessageOk = 0,
        eMessageMalformed = 1,   // not the XML form above, or a number out of range
        eMessageWrongRecord = 2, // the XML holds a record of another family or type
        eMessageTooLarge = 3,    // more text, nesting or fields than the bounds allow
    };
    static constexpr size_t kMaxXmlBytes = 1024 * 1024;
    static constexpr int kMaxDepth = 16;
    static constexpr size_t kMaxFieldsPerRecord = 10000;

    CNMessageBase(int32_t nFamily, int32_t nType) : m_nFamily(nFamily), m_nType(nType) {}
    CNMessageBase(const CNMessageBase &) = default;
    // Safe when other is nested in this record: it is copied aside before anything is released.
    CNMessageBase &operator=(const CNMessageBase &other);
    virtual ~CNMessageBase() = default;

    // Readies the message framework; this one needs nothing, so any number of calls is fine.
    static void Initialize() {}

    int32_t GetFamily() const { return m_nFamily; }
    int32_t GetType() const { return m_nType; }

    // Setters answer 0; a field set again keeps only its new value and kind.
    int setint64(int32_t nIndex, int32_t nTag, int64_t llValue, uint32_t nClassHash = 0,
                 uint32_t nFieldHash = 0);
    int setstring(int32_t nIndex, int32_t nTag, const std::string &strValue,
                  uint32_t nClassHash = 0, uint32_t nFieldHash = 0);
    // Stores a copy of the record (family, type and fields, nested records included) in the field,
    // replacing what it held; the caller keeps its own. The record may be this one or one nested
    // in it: the copy is made before the field lets go of anything.
    int setObjectAccessor(const CNMessageBase &record, int32_t nIndex, int32_t nTag,
                          uint32_t nClassHash = 0, uint32_t nFieldHash = 0);
    // The same through a pointer, as generated code passes it: 1 for a null record, and the field
    // is left as it was.
    int setObjectAccessor(const CNMessageBase *pRecord, int32_t nIndex, int32_t nTag,
                          uint32_t nClassHash = 0, uint32_t nFieldHash = 0);
    // Appends a copy of the record to the list in the field (made empty first when the field
    // holds no list).
    int addlistobject(int32_t nIndex, int32_t nTag, const CNMessageBase &record,
                      uint32_t nClassHash = 0, uint32_t nFieldHash = 0);
    // Appends a value to the list of 32-bit integers in the field (made empty first when the
    // field holds no such list).
    int addlistint32(int32_t nIndex, int32_t nTag, int32_t nValue, uint32_t nClassHash = 0,
                     uint32_t nFieldHash = 0);

    // 0 when the tag holds no integer.
    int64_t getint64(int32_t nTag, uint32_t nClassHash = 0, uint32_t nFieldHash = 0) const;
    // The empty text when the field holds no text.
    std::string getstring(int32_t nIndex, int32_t nTag, uint32_t nClassHash = 0,
                          uint32_t nFieldHash = 0) const;
    const std::string &getstringByRef(int32_t nIndex, int32_t nTag, uint32_t nClassHash = 0,
                                      uint32_t nFieldHash = 0) const;

    // The address of the field's pointer to its nested record of family nFamily and type nType,
    // through which the record is read and filled. When the field holds no such record: with
    // bCreate an empty one is stored (replacing whatever the field held) and its address given,
    // without it null is answered. bSetPresence is taken for the generated code's sake: a field
    // that holds a record always reads as set. The address stays valid while this record lives
    // and the field is not set to something else; fields added later do not move it.
    CNMessageBase **getObjectAccessor(bool bCreate, bool bSetPresence, int32_t nIndex, int32_t nTag,
                                      uint32_t nClassHash, uint32_t nFieldHash, int32_t nFamily,
                                      int32_t nType);
    // The nested record of the field, of whatever family and type; null when it holds none.
    const CNMessageBase *getObject(int32_t nIndex, int32_t nTag, uint32_t nClassHash = 0,
                                   uint32_t nFieldHash = 0) const;
    // The address of the field's pointer to its list of records; null when the field holds no
    // list, unless bCreate (then an empty list is stored). Valid as getObjectAccessor's.
    std::vector<CNMessageBase> **getlistobject(int32_t nIndex, int32_t nTag, uint32_t nClassHash,
                                               uint32_t nFieldHash, bool bCreate);
    // The field's list of 32-bit integers; null when the field holds none. Valid until the next
    // change.
    const std::vector<int32_t> *getlistint32(int32_t nIndex, int32_t nTag, uint32_t nClassHash = 0,
                                             uint32_t nFieldHash = 0) const;

    // Whether the field with this index has been set.
    bool isSet(int32_t nIndex, uint32_t nClassHash = 0, uint32_t nFieldHash = 0) const;
    // Forgets every field; family and type stay.
    void Clear() { m_dqFields.clear(); }

    // The XML form of the record into strXml, fields in the order they were first set; bIndent
    // lays it out over lines, false writes one line. eMessageOk.
    int serialize(std::string &strXml, bool bIndent) const;
    // Replaces every field with those of the XML form, which must be a record of this family and
    // type. On any other result the record is left empty.
    int unserialize(const std::string &strXml);

private:
    enum EKind : int32_t { eInteger, eText, eRecord, eList, eIntegerList };

    // One field. A nested record or a list is owned by the field and copied with it.
    struct CField {
        CField(int32_t nIndexIn, int32_t nTagIn) : nIndex(nIndexIn), nTag(nTagIn) {}
        CField(const CField &other);
        CField(CField &&other) noexcept;
        CField &operator=(const CField &other);
        ~CField();

        void Reset(EKind eNewKind);

        int32_t nIndex;
        int32_t nTag;
        EKind eKind = eInteger;
        int64_t llValue = 0;
        std::string strValue;
        CNMessageBase *pRecord = nullptr;
        std::vector<CNMessageBase> *pList = nullptr;
        std::vector<int32_t> vecIntegers;
    };

    friend class CMessageXml;

    const CField *FindByTag(int32_t nTag) const;
    CField &Slot(int32_t nIndex, int32_t nTag);

    int32_t m_nFamily;
    int32_t m_nType;
    // Few fields per record: a scan beats a map. A deque keeps each field where it is when more
    // are added, so an accessor's address stays good.
    std::deque<CField> m_dqFields;
};

namespace VirtualServer {

// A virtual-machine job's catalogue options (family 26, type 127). Fields the library reads: the
// integer at tag 63 (the web-service mode and the fleet number), the text at index 28, tag 64
// (the web-service URL), the virtual machine's and the backup's descriptions that become the
// custom properties of its items, and the nested record at index 8, tag 20 (family 26, type 37)
// with the application id (tag 43) and the archive-file id (tag 45).
class IDX_EXPORT VMCatalogOptions : public CNMessageBase {
public:
    enum : int32_t { kFamily = 26, kType = 127 };
    VMCatalogOptions() : CNMessageBase(kFamily, kType) {}
};

} // namespace VirtualServer

namespace App {

// One name and value (family 30, type 490): an extra URL parameter of the management server's
// answer, or a custom property of a virtual-machine item. Moving a pair copies it, as the
// generated records do.
class IDX_EXPORT NameValueMap : public CNMessageBase {
public:
    enum : int32_t { kFamily = 30, kType = 490 };
    enum : int32_t { kNameIndex = 1, kNameTag = 1, kValueIndex = 2, kValueTag = 5 };
    static constexpr uint32_t kClassHash = 0x1ED9D1F6;
    static constexpr uint32_t kNameFieldHash = 0x00337A8B;
    static constexpr uint32_t kValueFieldHash = 0x00AC9171;

    NameValueMap() : CNMessageBase(kFamily, kType) {}
    NameValueMap(const NameValueMap &other) : CNMessageBase(other) {}
    NameValueMap(NameValueMap &&other) : CNMessageBase(other) {}
    NameValueMap &operator=(const NameValueMap &) = default;
    ~NameValueMap() override = default;
};

} // namespace App

#include "platform/MessageRecords.h"

#include <sstream>

#include <pugixml.hpp>

namespace {

const std::string g_strEmpty;

} // namespace

CNMessageBase::CNMessageBase(const CNMessageBase &other)
    : m_nFamily(other.m_nFamily), m_nType(other.m_nType) {
    CopyFieldsFrom(other);
}

CNMessageBase &CNMessageBase::operator=(const CNMessageBase &other) {
    if (this != &other) {
        // Copied aside first: other may be nested in this record.
        CNMessageBase copy(other);
        Clear();
        m_nFamily = copy.m_nFamily;
        m_nType = copy.m_nType;
        m_dqFields.swap(copy.m_dqFields);
    }
    return *this;
}

CNMessageBase::~CNMessageBase() {
    Clear();
}

void CNMessageBase::CopyFieldsFrom(const CNMessageBase &other) {
    for (const CField &field : other.m_dqFields) {
        CField copy = field;
        copy.pRecord = nullptr;
        m_dqFields.push_back(copy);
        if (field.pRecord != nullptr) {
            m_dqFields.back().pRecord = new CNMessageBase(*field.pRecord);
        }
    }
}

void CNMessageBase::Clear() {
    for (CField &field : m_dqFields) {
        delete field.pRecord;
        field.pRecord = nullptr;
    }
    m_dqFields.clear();
}

const CNMessageBase::CField *CNMessageBase::FindByTag(int32_t nTag) const {
    for (const CField &field : m_dqFields) {
        if (field.nTag == nTag) {
            return &field;
        }
    }
    return nullptr;
}

CNMessageBase::CField &CNMessageBase::Slot(int32_t nIndex, int32_t nTag) {
    for (CField &field : m_dqFields) {
        if (field.nTag == nTag) {
            field.nIndex = nIndex;
            delete field.pRecord;
            field.pRecord = nullptr;
            field.llValue = 0;
            field.strValue.clear();
            return field;
        }
    }
    m_dqFields.push_back(CField{nIndex, nTag, eInteger, 0, std::string(), nullptr});
    return m_dqFields.back();
}

int CNMessageBase::setint64(int32_t nIndex, int32_t nTag, int64_t llValue, uint32_t, uint32_t) {
    CField &field = Slot(nIndex, nTag);
    field.eKind = eInteger;
    field.llValue = llValue;
    return 0;
}

int CNMessageBase::setstring(int32_t nIndex, int32_t nTag, const std::string &strValue, uint32_t,
                             uint32_t) {
    CField &field = Slot(nIndex, nTag);
    field.eKind = eText;
    field.strValue = strValue;
    return 0;
}

int64_t CNMessageBase::getint64(int32_t nTag, uint32_t, uint32_t) const {
    const CField *pField = FindByTag(nTag);
    return (pField && pField->eKind == eInteger) ? pField->llValue : 0;
}

std::string CNMessageBase::getstring(int32_t nIndex, int32_t nTag, uint32_t nClassHash,
                                     uint32_t nFieldHash) const {
    return getstringByRef(nIndex, nTag, nClassHash, nFieldHash);
}

const std::string &CNMessageBase::getstringByRef(int32_t nIndex, int32_t nTag, uint32_t,
                                                 uint32_t) const {
    const CField *pField = FindByTag(nTag);
    if (pField && pField->eKind == eText && pField->nIndex == nIndex) {
        return pField->strValue;
    }
    return g_strEmpty;
}

CNMessageBase **CNMessageBase::getObjectAccessor(bool bCreate, bool, int32_t nIndex, int32_t nTag,
                                                 uint32_t, uint32_t, int32_t nFamily,
                                                 int32_t nType) {
    for (CField &field : m_dqFields) {
        if (field.nTag == nTag && field.nIndex == nIndex && field.eKind == eRecord) {
            return &field.pRecord;
        }
    }
    if (!bCreate) {
        return nullptr;
    }
    CNMessageBase *pRecord = new CNMessageBase(nFamily, nType);
    CField &field = Slot(nIndex, nTag);
    field.eKind = eRecord;
    field.pRecord = pRecord;
    return &field.pRecord;
}

int CNMessageBase::setObjectAccessor(const CNMessageBase *pRecord, int32_t nIndex, int32_t nTag,
                                     uint32_t, uint32_t) {
    if (pRecord == nullptr) {
        return 1;
    }
    // The copy is made before the field lets go of what it held, which may be pRecord itself.
    CNMessageBase *pCopy = new CNMessageBase(*pRecord);
    CField &field = Slot(nIndex, nTag);
    field.eKind = eRecord;
    field.pRecord = pCopy;
    return 0;
}

const CNMessageBase *CNMessageBase::getObject(int32_t nIndex, int32_t nTag, uint32_t,
                                              uint32_t) const {
    const CField *pField = FindByTag(nTag);
    if (pField && pField->eKind == eRecord && pField->nIndex == nIndex) {
        return pField->pRecord;
    }
    return nullptr;
}

bool CNMessageBase::isSet(int32_t nIndex, uint32_t, uint32_t) const {
    for (const CField &field : m_dqFields) {
        if (field.nIndex == nIndex) {
            return true;
        }
    }
    return false;
}

int CNMessageBase::serialize(std::string &strText, bool bIndent) const {
    // A local class may use the private field list, as this function may.
    struct Writer {
        static void Append(pugi::xml_node parent, const CNMessageBase &record) {
            pugi::xml_node node = parent.append_child("Message");
            node.append_attribute("family") = record.m_nFamily;
            node.append_attribute("type") = record.m_nType;
            for (const CField &field : record.m_dqFields) {
                pugi::xml_node fieldNode = node.append_child("Field");
                fieldNode.append_attribute("index") = field.nIndex;
                fieldNode.append_attribute("tag") = field.nTag;
                switch (field.eKind) {
                case eInteger:
                    fieldNode.append_attribute("int64") = static_cast<long long>(field.llValue);
                    break;
                case eText:
                    fieldNode.append_attribute("string") = field.strValue.c_str();
                    break;
                case eRecord:
                    if (field.pRecord != nullptr) {
                        Append(fieldNode, *field.pRecord);
                    }
                    break;
                }
            }
        }
    };
    pugi::xml_document document;
    Writer::Append(document, *this);
    std::ostringstream stream;
    document.save(stream, "  ",
                  (bIndent ? pugi::format_indent : pugi::format_raw) | pugi::format_no_declaration,
                  pugi::encoding_utf8);
    strText = stream.str();
    return 0;
}

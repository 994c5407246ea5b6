#include "platform/MessageRecords.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <pugixml.hpp>

namespace {
const std::string g_strEmpty;

// A whole decimal number within [llMin, llMax]; no blanks, an optional sign.
bool ParseInteger(const char *szText, long long llMin, long long llMax, long long &llValue) {
    if (szText == nullptr || *szText == '\0') {
        return false;
    }
    const char *p = szText;
    if (*p == '-' || *p == '+') {
        ++p;
    }
    if (*p == '\0') {
        return false;
    }
    for (const char *q = p; *q; ++q) {
        if (*q < '0' || *q > '9') {
            return false;
        }
    }
    errno = 0;
    char *szEnd = nullptr;
    long long llParsed = strtoll(szText, &szEnd, 10);
    if (errno != 0 || szEnd == nullptr || *szEnd != '\0' || llParsed < llMin || llParsed > llMax) {
        return false;
    }
    llValue = llParsed;
    return true;
}

bool ParseInt32Attribute(const pugi::xml_node &node, const char *szName, int32_t &nValue) {
    pugi::xml_attribute attribute = node.attribute(szName);
    long long llValue = 0;
    if (!attribute || !ParseInteger(attribute.value(), INT32_MIN, INT32_MAX, llValue)) {
        return false;
    }
    nValue = static_cast<int32_t>(llValue);
    return true;
}

// The text of an element: its character data only; any child element makes it malformed.
bool ElementText(const pugi::xml_node &node, std::string &strText) {
    strText.clear();
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) {
            return false;
        }
        strText += child.value();
    }
    return true;
}

} // namespace

// The XML form of records, both ways; a friend of the record so that it can walk the fields.
class CMessageXml {
public:
    static void Write(const CNMessageBase &record, pugi::xml_node &node) {
        node.append_attribute("family") = record.m_nFamily;
        node.append_attribute("type") = record.m_nType;
        for (const CNMessageBase::CField &field : record.m_dqFields) {
            pugi::xml_node child;
            switch (field.eKind) {
            case CNMessageBase::eInteger:
                child = node.append_child("int64");
                break;
            case CNMessageBase::eText:
                child = node.append_child("string");
                break;
            case CNMessageBase::eRecord:
                child = node.append_child("message");
                break;
            case CNMessageBase::eList:
                child = node.append_child("list");
                break;
            case CNMessageBase::eIntegerList:
                child = node.append_child("int32list");
                break;
            }
            child.append_attribute("index") = field.nIndex;
            child.append_attribute("tag") = field.nTag;
            switch (field.eKind) {
            case CNMessageBase::eInteger:
                child.text().set(static_cast<long long>(field.llValue));
                break;
            case CNMessageBase::eText:
                child.text().set(field.strValue.c_str());
                break;
            case CNMessageBase::eRecord:
                Write(*field.pRecord, child);
                break;
            case CNMessageBase::eList:
                for (const CNMessageBase &entry : *field.pList) {
                    pugi::xml_node entryNode = child.append_child("message");
                    Write(entry, entryNode);
                }
                break;
            case CNMessageBase::eIntegerList:
                for (int32_t nValue : field.vecIntegers) {
                    child.append_child("int32").text().set(nValue);
                }
                break;
            }
        }
    }

    // Fills record (of the node's family and type) from the node's children.
    static int Read(const pugi::xml_node &node, CNMessageBase &record, int nDepth) {
        if (nDepth > CNMessageBase::kMaxDepth) {
            return CNMessageBase::eMessageTooLarge;
        }
        size_t nFields = 0;
        for (pugi::xml_node child : node.children()) {
            if (child.type() == pugi::node_pcdata && IsBlank(child.value())) {
                continue; // layout between elements
            }
            if (child.type() != pugi::node_element) {
                return CNMessageBase::eMessageMalformed;
            }
            if (++nFields > CNMessageBase::kMaxFieldsPerRecord) {
                return CNMessageBase::eMessageTooLarge;
            }
            int32_t nIndex = 0;
            int32_t nTag = 0;
            if (!ParseInt32Attribute(child, "index", nIndex) ||
                !ParseInt32Attribute(child, "tag", nTag)) {
                return CNMessageBase::eMessageMalformed;
            }
            const char *szName = child.name();
            if (strcmp(szName, "int64") == 0) {
                std::string strText;
                long long llValue = 0;
                if (!ElementText(child, strText) ||
                    !ParseInteger(strText.c_str(), LLONG_MIN, LLONG_MAX, llValue)) {
                    return CNMessageBase::eMessageMalformed;
                }
                record.setint64(nIndex, nTag, llValue);
            } else if (strcmp(szName, "string") == 0) {
                std::string strText;
                if (!ElementText(child, strText)) {
                    return CNMessageBase::eMessageMalformed;
                }
                record.setstring(nIndex, nTag, strText);
            } else if (strcmp(szName, "message") == 0) {
                CNMessageBase nested(0, 0);
                int nResult = ReadRecordElement(child, nested, nDepth + 1);
                if (nResult != CNMessageBase::eMessageOk) {
                    return nResult;
                }
                record.setObjectAccessor(nested, nIndex, nTag);
            } else if (strcmp(szName, "list") == 0) {
                std::vector<CNMessageBase> vecEntries;
                for (pugi::xml_node entryNode : child.children()) {
                    if (entryNode.type() == pugi::node_pcdata && IsBlank(entryNode.value())) {
                        continue;
                    }
                    if (entryNode.type() != pugi::node_element ||
                        strcmp(entryNode.name(), "message") != 0) {
                        return CNMessageBase::eMessageMalformed;
                    }
                    if (vecEntries.size() >= CNMessageBase::kMaxFieldsPerRecord) {
                        return CNMessageBase::eMessageTooLarge;
                    }
                    CNMessageBase entry(0, 0);
                    int nResult = ReadRecordElement(entryNode, entry, nDepth + 1);
                    if (nResult != CNMessageBase::eMessageOk) {
                        return nResult;
                    }
                    vecEntries.push_back(std::move(entry));
                }
                CNMessageBase::CField &field = record.Slot(nIndex, nTag);
                field.Reset(CNMessageBase::eList);
                field.pList = new std::vector<CNMessageBase>(std::move(vecEntries));
            } else if (strcmp(szName, "int32list") == 0) {
                std::vector<int32_t> vecValues;
                for (pugi::xml_node entryNode : child.children()) {
                    if (entryNode.type() == pugi::node_pcdata && IsBlank(entryNode.value())) {
                        continue;
                    }
                    std::string strText;
                    long long llValue = 0;
                    if (entryNode.type() != pugi::node_element ||
                        strcmp(entryNode.name(), "int32") != 0 ||
                        !ElementText(entryNode, strText) ||
                        !ParseInteger(strText.c_str(), INT32_MIN, INT32_MAX, llValue)) {
                        return CNMessageBase::eMessageMalformed;
                    }
                    if (vecValues.size() >= CNMessageBase::kMaxFieldsPerRecord) {
                        return CNMessageBase::eMessageTooLarge;
                    }
                    vecValues.push_back(static_cast<int32_t>(llValue));
                }
                CNMessageBase::CField &field = record.Slot(nIndex, nTag);
                field.Reset(CNMessageBase::eIntegerList);
                field.vecIntegers = std::move(vecValues);
            } else {
                return CNMessageBase::eMessageMalformed;
            }
        }
        return CNMessageBase::eMessageOk;
    }

    // A <message> element: its family and type make the record, its children fill it.
    static int ReadRecordElement(const pugi::xml_node &node, CNMessageBase &record, int nDepth) {
        int32_t nFamily = 0;
        int32_t nType = 0;
        if (!ParseInt32Attribute(node, "family", nFamily) ||
            !ParseInt32Attribute(node, "type", nType)) {
            return CNMessageBase::eMessageMalformed;
        }
        record = CNMessageBase(nFamily, nType);
        return Read(node, record, nDepth);
    }

private:
    static bool IsBlank(const char *szText) {
        for (const char *p = szText; *p; ++p) {
            if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
                return false;
            }
        }
        return true;
    }
};

CNMessageBase::CField::CField(const CField &other)
    : nIndex(other.nIndex), nTag(other.nTag), eKind(other.eKind), llValue(other.llValue),
      strValue(other.strValue),
      pRecord(other.pRecord ? new CNMessageBase(*other.pRecord) : nullptr),
      pList(other.pList ? new std::vector<CNMessageBase>(*other.pList) : nullptr),
      vecIntegers(other.vecIntegers) {}

CNMessageBase::CField::CField(CField &&other) noexcept
    : nIndex(other.nIndex), nTag(other.nTag), eKind(other.eKind), llValue(other.llValue),
      strValue(std::move(other.strValue)), pRecord(other.pRecord), pList(other.pList),
      vecIntegers(std::move(other.vecIntegers)) {
    other.pRecord = nullptr;
    other.pList = nullptr;
}

CNMessageBase::CField &CNMessageBase::CField::operator=(const CField &other) {
    if (this != &other) {
        CField copy(other);
        std::swap(nIndex, copy.nIndex);
        std::swap(nTag, copy.nTag);
        std::swap(eKind, copy.eKind);
        std::swap(llValue, copy.llValue);
        std::swap(strValue, copy.strValue);
        std::swap(pRecord, copy.pRecord);
        std::swap(pList, copy.pList);
        std::swap(vecIntegers, copy.vecIntegers);
    }
    return *this;
}

CNMessageBase::CField::~CField() {
    delete pRecord;
    delete pList;
}

void CNMessageBase::CField::Reset(EKind eNewKind) {
    delete pRecord;
    pRecord = nullptr;
    delete pList;
    pList = nullptr;
    eKind = eNewKind;
    llValue = 0;
    strValue.clear();
    vecIntegers.clear();
}

CNMessageBase &CNMessageBase::operator=(const CNMessageBase &other) {
    if (this != &other) {
        CNMessageBase copy(other);
        m_nFamily = copy.m_nFamily;
        m_nType = copy.m_nType;
        m_dqFields.swap(copy.m_dqFields);
    }
    return *this;
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
            return field;
        }
    }
    m_dqFields.emplace_back(nIndex, nTag);
    return m_dqFields.back();
}

int CNMessageBase::setint64(int32_t nIndex, int32_t nTag, int64_t llValue, uint32_t, uint32_t) {
    CField &field = Slot(nIndex, nTag);
    field.Reset(eInteger);
    field.llValue = llValue;
    return 0;
}

int CNMessageBase::setstring(int32_t nIndex, int32_t nTag, const std::string &strValue, uint32_t,
                             uint32_t) {
    CField &field = Slot(nIndex, nTag);
    field.Reset(eText);
    field.strValue = strValue;
    return 0;
}

int CNMessageBase::setObjectAccessor(const CNMessageBase &record, int32_t nIndex, int32_t nTag,
                                     uint32_t, uint32_t) {
    // Copied before the slot is touched: the record may be one of this record's own fields.
    CNMessageBase *pCopy = new CNMessageBase(record);
    CField &field = Slot(nIndex, nTag);
    field.Reset(eRecord);
    field.pRecord = pCopy;
    return 0;
}

int CNMessageBase::setObjectAccessor(const CNMessageBase *pRecord, int32_t nIndex, int32_t nTag,
                                     uint32_t nClassHash, uint32_t nFieldHash) {
    if (pRecord == nullptr) {
        return 1;
    }
    return setObjectAccessor(*pRecord, nIndex, nTag, nClassHash, nFieldHash);
}

int CNMessageBase::addlistobject(int32_t nIndex, int32_t nTag, const CNMessageBase &record,
                                 uint32_t, uint32_t) {
    CNMessageBase copy(record);
    CField &field = Slot(nIndex, nTag);
    if (field.eKind != eList || field.pList == nullptr) {
        field.Reset(eList);
        field.pList = new std::vector<CNMessageBase>();
    }
    field.pList->push_back(std::move(copy));
    return 0;
}

int CNMessageBase::addlistint32(int32_t nIndex, int32_t nTag, int32_t nValue, uint32_t, uint32_t) {
    CField &field = Slot(nIndex, nTag);
    if (field.eKind != eIntegerList) {
        field.Reset(eIntegerList);
    }
    field.vecIntegers.push_back(nValue);
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
        if (field.nTag == nTag && field.nIndex == nIndex && field.eKind == eRecord &&
            field.pRecord != nullptr && field.pRecord->GetFamily() == nFamily &&
            field.pRecord->GetType() == nType) {
            return &field.pRecord;
        }
    }
    if (!bCreate) {
        return nullptr;
    }
    setObjectAccessor(CNMessageBase(nFamily, nType), nIndex, nTag);
    return &Slot(nIndex, nTag).pRecord;
}

const CNMessageBase *CNMessageBase::getObject(int32_t nIndex, int32_t nTag, uint32_t,
                                              uint32_t) const {
    const CField *pField = FindByTag(nTag);
    if (pField && pField->eKind == eRecord && pField->nIndex == nIndex) {
        return pField->pRecord;
    }
    return nullptr;
}

std::vector<CNMessageBase> **CNMessageBase::getlistobject(int32_t nIndex, int32_t nTag, uint32_t,
                                                          uint32_t, bool bCreate) {
    for (CField &field : m_dqFields) {
        if (field.nTag == nTag && field.nIndex == nIndex && field.eKind == eList &&
            field.pList != nullptr) {
            return &field.pList;
        }
    }
    if (!bCreate) {
        return nullptr;
    }
    CField &field = Slot(nIndex, nTag);
    field.Reset(eList);
    field.pList = new std::vector<CNMessageBase>();
    return &field.pList;
}

const std::vector<int32_t> *CNMessageBase::getlistint32(int32_t nIndex, int32_t nTag, uint32_t,
                                                        uint32_t) const {
    const CField *pField = FindByTag(nTag);
    if (pField && pField->eKind == eIntegerList && pField->nIndex == nIndex) {
        return &pField->vecIntegers;
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

int CNMessageBase::serialize(std::string &strXml, bool bIndent) const {
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("message");
    CMessageXml::Write(*this, root);
    std::ostringstream stream;
    document.save(stream, "  ",
                  (bIndent ? pugi::format_indent : pugi::format_raw) | pugi::format_no_declaration,
                  pugi::encoding_utf8);
    strXml = stream.str();
    return eMessageOk;
}

int CNMessageBase::unserialize(const std::string &strXml) {
    Clear();
    if (strXml.size() > kMaxXmlBytes) {
        return eMessageTooLarge;
    }
    pugi::xml_document document;
    if (!document.load_buffer(strXml.data(), strXml.size())) {
        return eMessageMalformed;
    }
    pugi::xml_node root = document.document_element();
    if (!root || strcmp(root.name(), "message") != 0) {
        return eMessageMalformed;
    }
    CNMessageBase read(0, 0);
    int nResult = CMessageXml::ReadRecordElement(root, read, 0);
    if (nResult != eMessageOk) {
        return nResult;
    }
    if (read.m_nFamily != m_nFamily || read.m_nType != m_nType) {
        return eMessageWrongRecord;
    }
    m_dqFields = std::move(read.m_dqFields);
    return eMessageOk;
}

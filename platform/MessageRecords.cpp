#include "platform/MessageRecords.h"

namespace {
const std::string g_strEmpty;
}

const CNMessageBase::CField *CNMessageBase::FindByTag(int32_t nTag) const {
    for (const CField &field : m_vecFields) {
        if (field.nTag == nTag) {
            return &field;
        }
    }
    return nullptr;
}

CNMessageBase::CField &CNMessageBase::Slot(int32_t nIndex, int32_t nTag) {
    for (CField &field : m_vecFields) {
        if (field.nTag == nTag) {
            field.nIndex = nIndex;
            return field;
        }
    }
    m_vecFields.push_back(CField{nIndex, nTag, false, 0, std::string()});
    return m_vecFields.back();
}

int CNMessageBase::setint64(int32_t nIndex, int32_t nTag, int64_t llValue, uint32_t, uint32_t) {
    CField &field = Slot(nIndex, nTag);
    field.bText = false;
    field.llValue = llValue;
    field.strValue.clear();
    return 0;
}

int CNMessageBase::setstring(int32_t nIndex, int32_t nTag, const std::string &strValue, uint32_t,
                             uint32_t) {
    CField &field = Slot(nIndex, nTag);
    field.bText = true;
    field.llValue = 0;
    field.strValue = strValue;
    return 0;
}

int64_t CNMessageBase::getint64(int32_t nTag, uint32_t, uint32_t) const {
    const CField *pField = FindByTag(nTag);
    return (pField && !pField->bText) ? pField->llValue : 0;
}

std::string CNMessageBase::getstring(int32_t nIndex, int32_t nTag, uint32_t nClassHash,
                                     uint32_t nFieldHash) const {
    return getstringByRef(nIndex, nTag, nClassHash, nFieldHash);
}

const std::string &CNMessageBase::getstringByRef(int32_t nIndex, int32_t nTag, uint32_t,
                                                 uint32_t) const {
    const CField *pField = FindByTag(nTag);
    if (pField && pField->bText && pField->nIndex == nIndex) {
        return pField->strValue;
    }
    return g_strEmpty;
}

bool CNMessageBase::isSet(int32_t nIndex, uint32_t, uint32_t) const {
    for (const CField &field : m_vecFields) {
        if (field.nIndex == nIndex) {
            return true;
        }
    }
    return false;
}

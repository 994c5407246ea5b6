#include "platform/TqJson.h"

#include <boost/make_shared.hpp>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>

using json = nlohmann::json;

class TqJsonDocument {
public:
    json m_value;
};

namespace {

// Parsed values are only ever walked a few levels deep; refusing deeper nesting keeps the
// recursive parts of the JSON library (writing, copying) away from hostile input.
constexpr int kMaxDepth = 256;

struct CTooDeep {};

const json &AsJson(const void *pValue) {
    return *static_cast<const json *>(pValue);
}

} // namespace

TqJson::TqJson() : m_pValue(nullptr) {}

CKyError TqJson::Unserialize(const std::string &strText, TqJson &value) {
    if (strText.size() > kMaxTextSize) {
        return FXErrorUtil::ErrorWin32(FXLOC, 774, "JSON text too large, size=[%zu], limit=[%zu]",
                                       strText.size(), kMaxTextSize);
    }
    try {
        auto ptrDocument = boost::make_shared<TqJsonDocument>();
        auto fnLimitDepth = [](int nDepth, json::parse_event_t, json &) {
            if (nDepth > kMaxDepth) {
                throw CTooDeep();
            }
            return true;
        };
        ptrDocument->m_value = json::parse(strText, fnLimitDepth);
        const void *pRoot = &ptrDocument->m_value;
        value = TqJson(ptrDocument, pRoot);
    } catch (const CTooDeep &) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, 774, "Failed to parse JSON, error=[nested deeper than %d levels]", kMaxDepth);
    } catch (const json::parse_error &e) {
        return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to parse JSON, error=[%s]", e.what());
    } catch (const std::exception &e) {
        return FXErrorUtil::ErrorWin32(FXLOC, 14, "Failed to parse JSON, error=[%s]", e.what());
    }
    return CKyError::Success();
}

bool TqJson::IsNull() const {
    return m_pValue == nullptr || AsJson(m_pValue).is_null();
}
bool TqJson::IsObject() const {
    return m_pValue != nullptr && AsJson(m_pValue).is_object();
}
bool TqJson::IsArray() const {
    return m_pValue != nullptr && AsJson(m_pValue).is_array();
}

size_t TqJson::Size() const {
    return (IsObject() || IsArray()) ? AsJson(m_pValue).size() : 0;
}

const void *TqJson::FindMember(const std::string &strName, CKyError &error) const {
    if (!IsObject()) {
        error = FXErrorUtil::ErrorWin32(
            FXLOC, 774, "JSON value is not an object, cannot read member [%s]", strName.c_str());
        return nullptr;
    }
    const json &object = AsJson(m_pValue);
    auto it = object.find(strName);
    if (it == object.end()) {
        error = FXErrorUtil::ErrorWin32(FXLOC, 774, "JSON member [%s] not found", strName.c_str());
        return nullptr;
    }
    return &*it;
}

static CKyError WrongType(const std::string &strName, const json &value, const char *szWanted) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "JSON member [%s] is %s, not %s", strName.c_str(),
                                   value.type_name(), szWanted);
}

CKyError TqJson::FindObjectValue(const std::string &strName, TqJson &value) const {
    CKyError error;
    const void *pMember = FindMember(strName, error);
    if (pMember == nullptr) {
        return error.Push(FXLOC);
    }
    if (!AsJson(pMember).is_object()) {
        return WrongType(strName, AsJson(pMember), "an object");
    }
    value = TqJson(m_ptrDocument, pMember);
    return CKyError::Success();
}

CKyError TqJson::FindArrayValue(const std::string &strName, std::vector<TqJson> &vecValues) const {
    CKyError error;
    const void *pMember = FindMember(strName, error);
    if (pMember == nullptr) {
        return error.Push(FXLOC);
    }
    const json &array = AsJson(pMember);
    if (!array.is_array()) {
        return WrongType(strName, array, "an array");
    }
    vecValues.clear();
    vecValues.reserve(array.size());
    for (const json &element : array) {
        vecValues.push_back(TqJson(m_ptrDocument, &element));
    }
    return CKyError::Success();
}

CKyError TqJson::GetIntValue(const std::string &strName, int64_t &llValue) const {
    CKyError error;
    const void *pMember = FindMember(strName, error);
    if (pMember == nullptr) {
        return error.Push(FXLOC);
    }
    const json &number = AsJson(pMember);
    if (number.is_number_integer() && !number.is_number_unsigned()) {
        llValue = number.get<int64_t>();
        return CKyError::Success();
    }
    if (number.is_number_unsigned()) {
        uint64_t ullValue = number.get<uint64_t>();
        if (ullValue > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            return FXErrorUtil::ErrorWin32(
                FXLOC, 774, "JSON member [%s] is out of the signed 64-bit range", strName.c_str());
        }
        llValue = static_cast<int64_t>(ullValue);
        return CKyError::Success();
    }
    return WrongType(strName, number, "a whole number");
}

CKyError TqJson::GetUInt64Value(const std::string &strName, uint64_t &ullValue) const {
    CKyError error;
    const void *pMember = FindMember(strName, error);
    if (pMember == nullptr) {
        return error.Push(FXLOC);
    }
    const json &number = AsJson(pMember);
    if (number.is_number_unsigned()) {
        ullValue = number.get<uint64_t>();
        return CKyError::Success();
    }
    if (number.is_number_integer()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 774, "JSON member [%s] is negative, value=[%lld]",
                                       strName.c_str(),
                                       static_cast<long long>(number.get<int64_t>()));
    }
    return WrongType(strName, number, "a whole number");
}

CKyError TqJson::GetStringValue(const std::string &strName, std::string &strValue) const {
    CKyError error;
    const void *pMember = FindMember(strName, error);
    if (pMember == nullptr) {
        return error.Push(FXLOC);
    }
    const json &text = AsJson(pMember);
    if (!text.is_string()) {
        return WrongType(strName, text, "a string");
    }
    strValue = text.get<std::string>();
    return CKyError::Success();
}

std::string TqJson::Serialize() const {
    if (m_pValue == nullptr) {
        return "null";
    }
    // Invalid UTF-8 in a parsed string is replaced rather than thrown about.
    return AsJson(m_pValue).dump(-1, ' ', false, json::error_handler_t::replace);
}

#include "platform/Bag.h"

#include <boost/core/demangle.hpp>
#include <typeindex>
#include <unordered_map>

namespace {

// Short names of the types bags usually hold, so that error texts stay readable.
std::string ShortTypeName(const std::type_info &type) {
    static const std::unordered_map<std::type_index, const char *> mapNames = {
        {typeid(bool), "bool"},
        {typeid(int), "int32"},
        {typeid(unsigned int), "uint32"},
        {typeid(long), "long"},
        {typeid(unsigned long), "unsigned long"},
        {typeid(long long), "int64"},
        {typeid(unsigned long long), "uint64"},
        {typeid(double), "double"},
        {typeid(std::string), "std::string"},
        {typeid(std::vector<std::string>), "std::vector<std::string>"},
        {typeid(std::set<std::string>), "std::set<std::string>"},
        {typeid(std::map<std::string, std::string>), "std::map<std::string,std::string>"},
        {typeid(void), "void"},
    };
    auto it = mapNames.find(std::type_index(type));
    return it != mapNames.end() ? it->second : boost::core::demangle(type.name());
}

template <typename T> bool Widen(const boost::any &value, uint64_t &ullBits) {
    const T *pValue = boost::any_cast<T>(&value);
    if (pValue == nullptr) {
        return false;
    }
    // Signed values sign-extend, unsigned ones widen with zeros.
    ullBits = static_cast<uint64_t>(
        static_cast<typename std::conditional<std::is_signed<T>::value, int64_t, uint64_t>::type>(
            *pValue));
    return true;
}

} // namespace

CKyError CBag::WriteAny(const std::string &strName, const boost::any &value) {
    return WriteAny(strName, boost::any(value));
}

CKyError CBag::WriteAny(const std::string &strName, boost::any &&value) {
    if (strName.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "%s", "Property name is empty");
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_mapValues[strName] = std::move(value);
    return CKyError::Success();
}

CKyError CBag::ReadAny(const std::string &strName, boost::any &value, uint32_t nFlags) const {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_mapValues.find(strName);
        if (it != m_mapValues.end()) {
            value = it->second;
            return CKyError::Success();
        }
    }
    if (nFlags & eReadOptional) {
        value = boost::any();
        return CKyError::Success();
    }
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Property not found, PropertyName=[%s]",
                                   strName.c_str());
}

bool CBag::Has(const std::string &strName) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mapValues.count(strName) != 0;
}

bool CBag::Remove(const std::string &strName) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mapValues.erase(strName) != 0;
}

std::vector<std::string> CBag::Keys() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> vecKeys;
    vecKeys.reserve(m_mapValues.size());
    for (const auto &entry : m_mapValues) {
        vecKeys.push_back(entry.first);
    }
    return vecKeys;
}

std::string CBag::TypeName(const boost::any &value) {
    return ShortTypeName(value.type());
}

bool CBag::IntegerBits(const boost::any &value, uint64_t &ullBits) {
    return Widen<int>(value, ullBits) || Widen<unsigned int>(value, ullBits) ||
           Widen<long>(value, ullBits) || Widen<unsigned long>(value, ullBits) ||
           Widen<long long>(value, ullBits) || Widen<unsigned long long>(value, ullBits) ||
           Widen<short>(value, ullBits) || Widen<unsigned short>(value, ullBits) ||
           Widen<signed char>(value, ullBits) || Widen<unsigned char>(value, ullBits) ||
           Widen<char>(value, ullBits);
}

CKyError CBag::WrongType(const std::string &strName, const boost::any &value,
                         const std::type_info &asked) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 774, "Property has another type, PropertyName=[%s], PropertyType=[%s], Asked=[%s]",
        strName.c_str(), TypeName(value).c_str(), ShortTypeName(asked).c_str());
}

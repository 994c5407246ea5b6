// The property bag: named values of any type, read and written whole. Jobs, initializers and the
// transmitter hand settings to each other in bags; items carry one of their own.
//
// Typed reads never throw. Integers convert between widths on a typed read: a value stored as
// any integer type (bool excepted) is read as any other, keeping its low bits as a plain
// conversion does, because writers and readers of one key do not always agree on the width.
// A double also takes a stored float or integer. Every other type must match exactly. All
// operations are safe to call from several threads at once.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include <boost/any.hpp>
#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"

class CBag;
typedef boost::shared_ptr<CBag> CBagPtr;

class FXEvent;

class IDX_EXPORT CBag {
public:
    // Read flags: bit 0 makes the value optional, so that an absent key reads as success.
    enum EReadFlags : uint32_t { eReadOptional = 0x1 };

    CBag() = default;
    CBag(const CBag &) = delete;
    CBag &operator=(const CBag &) = delete;

    // Stores (or replaces) the value under the name; error 87 for an empty name.
    CKyError WriteAny(const std::string &strName, const boost::any &value);
    // The same, taking the value over instead of copying it.
    CKyError WriteAny(const std::string &strName, boost::any &&value);

    // The stored value unchanged. An absent key is error 774 naming the key, unless the read is
    // optional: then success with an empty value.
    CKyError ReadAny(const std::string &strName, boost::any &value, uint32_t nFlags = 0) const;

    template <typename T> CKyError Write(const std::string &strName, const T &value) {
        static_assert(!std::is_array<T>::value, "write texts as std::string or const char*");
        if constexpr (std::is_same<typename std::decay<T>::type, const char *>::value ||
                      std::is_same<typename std::decay<T>::type, char *>::value) {
            return Write(strName, static_cast<const char *>(value));
        } else {
            return WriteAny(strName, boost::any(value));
        }
    }
    // Texts are always stored as std::string.
    CKyError Write(const std::string &strName, const char *szValue) {
        return WriteAny(strName, boost::any(std::string(szValue ? szValue : "")));
    }

    // On success the value holds what is stored; on any error, and on an optional read of an
    // absent key, it is left as it was. A stored value of another type is error 774 naming the
    // key, the stored type and the asked type.
    template <typename T>
    CKyError Read(const std::string &strName, T &value, uint32_t nFlags = 0) const;

    // Shared pointers of every type, the shared event among them (Read<FXEvent>): a value of
    // another type, or an empty pointer when the read is not optional, is error 1168 (a stored
    // empty pointer is copied to the output either way).
    template <typename T>
    CKyError Read(const std::string &strName, boost::shared_ptr<T> &ptrValue,
                  uint32_t nFlags = 0) const;

    bool Has(const std::string &strName) const;
    // True when the name was there.
    bool Remove(const std::string &strName);
    std::vector<std::string> Keys() const;

    // A readable name of the type a value holds ("std::string", "uint32", "void" when empty).
    static std::string TypeName(const boost::any &value);

private:
    // The bits of a stored integer of any width, sign-extended; false when it holds none.
    static bool IntegerBits(const boost::any &value, uint64_t &ullBits);
    static CKyError WrongType(const std::string &strName, const boost::any &value,
                              const std::type_info &asked);

    template <typename T> static bool Convert(const boost::any &value, T &result) {
        if constexpr (std::is_integral<T>::value && !std::is_same<T, bool>::value) {
            uint64_t ullBits = 0;
            if (!IntegerBits(value, ullBits)) {
                return false;
            }
            result = static_cast<T>(ullBits);
            return true;
        } else if constexpr (std::is_same<T, double>::value) {
            if (const double *pDouble = boost::any_cast<double>(&value)) {
                result = *pDouble;
                return true;
            }
            if (const float *pFloat = boost::any_cast<float>(&value)) {
                result = *pFloat;
                return true;
            }
            uint64_t ullBits = 0;
            if (!IntegerBits(value, ullBits)) {
                return false;
            }
            // Only the two unsigned 64-bit types can hold values above the signed range.
            bool bUnsigned = boost::any_cast<unsigned long>(&value) != nullptr ||
                             boost::any_cast<unsigned long long>(&value) != nullptr;
            result = bUnsigned ? static_cast<double>(ullBits)
                               : static_cast<double>(static_cast<int64_t>(ullBits));
            return true;
        } else {
            const T *pStored = boost::any_cast<T>(&value);
            if (pStored == nullptr) {
                return false;
            }
            result = *pStored;
            return true;
        }
    }

    mutable std::mutex m_lock;
    std::map<std::string, boost::any> m_mapValues;
};

namespace BagDetail {
template <typename T> struct IsSharedPtr : std::false_type {};
template <typename T> struct IsSharedPtr<boost::shared_ptr<T>> : std::true_type {};

// The first step of every typed read: the stored value into stored. bAbsent when the value is
// optional and not there, which leaves the caller's value as it was.
inline CKyError ReadStored(const CBag &bag, const std::string &strName, boost::any &stored,
                           uint32_t nFlags, bool &bAbsent) {
    CKyError error = bag.ReadAny(strName, stored, nFlags);
    if (error.IsError()) {
        error.Push(FXLOC);
        return error;
    }
    bAbsent = stored.empty() && (nFlags & CBag::eReadOptional);
    return CKyError::Success();
}
} // namespace BagDetail

template <typename T>
CKyError CBag::Read(const std::string &strName, T &value, uint32_t nFlags) const {
    if constexpr (BagDetail::IsSharedPtr<T>::value) {
        // Read<CBagPtr>(...) reads like Read(..., CBagPtr&): one rule for every shared pointer.
        return Read<typename T::element_type>(strName, value, nFlags);
    } else {
        boost::any stored;
        bool bAbsent = false;
        CKyError error = BagDetail::ReadStored(*this, strName, stored, nFlags, bAbsent);
        if (error.IsError() || bAbsent) {
            return error;
        }
        T converted{};
        if (!Convert(stored, converted)) {
            return WrongType(strName, stored, typeid(T));
        }
        value = std::move(converted);
        return CKyError::Success();
    }
}

template <typename T>
CKyError CBag::Read(const std::string &strName, boost::shared_ptr<T> &ptrValue,
                    uint32_t nFlags) const {
    boost::any stored;
    bool bAbsent = false;
    CKyError error = BagDetail::ReadStored(*this, strName, stored, nFlags, bAbsent);
    if (error.IsError() || bAbsent) {
        return error;
    }
    const boost::shared_ptr<T> *pStored = boost::any_cast<boost::shared_ptr<T>>(&stored);
    if (pStored != nullptr) {
        ptrValue = *pStored;
    }
    // Another type stored, or an empty pointer where a value is required.
    if (pStored == nullptr || (!ptrValue && !(nFlags & eReadOptional))) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, 1168,
            "Failed to obtain shared pointer from property, PropertyName=[%s], PropertyType=[%s]",
            strName.c_str(), TypeName(stored).c_str());
    }
    return CKyError::Success();
}

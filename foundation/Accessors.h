// Width casts that bring printf arguments to the width their conversion expects, the framework's
// exception type, and the buffer that serialised records are written into.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <type_traits>

#include "foundation/Export.h"
#include "foundation/HandleOwners.h"

// Each cast names the type it takes as its template argument and returns that value converted to
// the type its name stands for. There is no range test: signed and unsigned of one width keep
// their bits, and an unsigned 32-bit value widens with zeros (lld<unsigned int>(4294967295) is
// 4294967295, never -1).
namespace tqcast {

namespace detail {
template <typename TTo, typename TFrom> constexpr TTo Convert(TFrom value) {
    static_assert(std::is_integral<TFrom>::value || std::is_enum<TFrom>::value,
                  "tqcast converts integer values only");
    return static_cast<TTo>(value);
}
} // namespace detail

template <typename TFrom> constexpr int d(TFrom value) {
    return detail::Convert<int>(value);
}
template <typename TFrom> constexpr unsigned long lu(TFrom value) {
    return detail::Convert<unsigned long>(value);
}
template <typename TFrom> constexpr long long lld(TFrom value) {
    return detail::Convert<long long>(value);
}
template <typename TFrom> constexpr unsigned long long llu(TFrom value) {
    return detail::Convert<unsigned long long>(value);
}
template <typename TFrom> constexpr long toLong(TFrom value) {
    return detail::Convert<long>(value);
}
template <typename TFrom> constexpr unsigned long toULong(TFrom value) {
    return detail::Convert<unsigned long>(value);
}
template <typename TFrom> constexpr long long toLLong(TFrom value) {
    return detail::Convert<long long>(value);
}
template <typename TFrom> constexpr unsigned long long toULLong(TFrom value) {
    return detail::Convert<unsigned long long>(value);
}

} // namespace tqcast

// The framework's exception. The text is copied, so a message built on the fly stays valid for
// as long as the exception lives.
class IDX_EXPORT TqException : public std::exception {
public:
    explicit TqException(const char *szMessage) : m_strMessage(szMessage ? szMessage : "") {}
    explicit TqException(std::string strMessage) : m_strMessage(std::move(strMessage)) {}

    const char *getMessage() const { return m_strMessage.c_str(); }
    const char *what() const noexcept override { return m_strMessage.c_str(); }

private:
    std::string m_strMessage;
};

// Bytes of a serialised record. Appending never throws: a buffer that cannot grow refuses the
// bytes and keeps what it held.
class CSerializedBuffer {
public:
    CSerializedBuffer() : m_ptrData(nullptr), m_ullSize(0), m_ullCapacity(0) {}
    CSerializedBuffer(const CSerializedBuffer &) = delete;
    CSerializedBuffer &operator=(const CSerializedBuffer &) = delete;

    const char *GetBuffer() const { return m_ptrData.get(); }
    uint64_t GetBufferSize() const { return m_ullSize; }

    bool Append(const void *pData, uint64_t ullLength) {
        if (ullLength == 0) {
            return true;
        }
        if (pData == nullptr || ullLength > UINT64_MAX / 2 - m_ullSize) {
            return false;
        }
        if (m_ullSize + ullLength > m_ullCapacity) {
            uint64_t ullCapacity = m_ullCapacity < 256 ? 256 : m_ullCapacity;
            while (ullCapacity < m_ullSize + ullLength) {
                ullCapacity *= 2;
            }
            char *pGrown = new (std::nothrow) char[ullCapacity];
            if (pGrown == nullptr) {
                return false;
            }
            if (m_ullSize > 0) {
                std::memcpy(pGrown, m_ptrData.get(), m_ullSize);
            }
            m_ptrData.reset(pGrown);
            m_ullCapacity = ullCapacity;
        }
        std::memcpy(m_ptrData.get() + m_ullSize, pData, ullLength);
        m_ullSize += ullLength;
        return true;
    }

    // Forgets the bytes but keeps the storage for reuse.
    void Clear() { m_ullSize = 0; }

private:
    auto_ptr_array<char> m_ptrData;
    uint64_t m_ullSize;
    uint64_t m_ullCapacity;
};

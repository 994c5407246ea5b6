// A byte area that a worker keeps for its whole life and reuses for every file it reads: it only
// grows, so reading one file after another neither asks the system for memory nor gives any
// back, and its bytes are never zeroed before they are overwritten.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

class CByteBuffer {
public:
    char *Data() { return m_ptrBytes.get(); }
    const char *Data() const { return m_ptrBytes.get(); }
    size_t Capacity() const { return m_nCapacity; }

    // Room for at least nBytes, keeping the first nKeep bytes (nKeep <= Capacity()). False, with
    // the buffer as it was, when the memory cannot be had.
    bool Reserve(size_t nBytes, size_t nKeep = 0) {
        if (nBytes <= m_nCapacity) {
            return true;
        }
        std::unique_ptr<char[]> ptrBytes(new (std::nothrow) char[nBytes]);
        if (!ptrBytes) {
            return false;
        }
        if (nKeep > 0) {
            memcpy(ptrBytes.get(), m_ptrBytes.get(), nKeep);
        }
        m_ptrBytes = std::move(ptrBytes);
        m_nCapacity = nBytes;
        return true;
    }

private:
    std::unique_ptr<char[]> m_ptrBytes;
    size_t m_nCapacity = 0;
};

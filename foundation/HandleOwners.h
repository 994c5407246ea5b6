// Owners that give back a stdio stream, a file descriptor, a directory enumeration or a new[]
// buffer when they go out of scope or are reset, so that no such value is ever held bare.
//
// An owner is not copied. Resetting an owner to the value it already holds keeps that value (it
// is not released), so a fill operation that stores into an owner twice cannot close it under
// the caller. A failed release is not reported; nothing here throws.
#pragma once

#include <cstddef>
#include <cstdio>
#include <unistd.h>

#include "platform/DirWrapper.h"

inline bool _dac_is_valid_fileptr(FILE *pFile) {
    return pFile != nullptr;
}
// Descriptor 0 is a valid descriptor like any other.
inline bool _dac_is_valid_handle(int nHandle) {
    return nHandle >= 0;
}
inline bool _dac_is_valid_find_handle_wrapper(DIR_Wrapper *pWrapper) {
    return pWrapper != nullptr;
}

class auto_fileptr {
public:
    auto_fileptr() : m_pFile(nullptr) {}
    ~auto_fileptr() { reset(nullptr); }
    auto_fileptr(const auto_fileptr &) = delete;
    auto_fileptr &operator=(const auto_fileptr &) = delete;

    FILE *get() const { return m_pFile; }
    void reset(FILE *pFile) {
        if (pFile == m_pFile) {
            return;
        }
        if (_dac_is_valid_fileptr(m_pFile)) {
            fclose(m_pFile);
        }
        m_pFile = pFile;
    }
    auto_fileptr &reset() {
        reset(nullptr);
        return *this;
    }
    // Stores without releasing what was held.
    void __set(FILE *pFile) { m_pFile = pFile; }

private:
    FILE *m_pFile;
};

class auto_handle {
public:
    auto_handle() : m_nHandle(-1) {}
    ~auto_handle() { reset(-1); }
    auto_handle(const auto_handle &) = delete;
    auto_handle &operator=(const auto_handle &) = delete;

    int get() const { return m_nHandle; }
    void reset(int nHandle) {
        if (nHandle == m_nHandle) {
            return;
        }
        if (_dac_is_valid_handle(m_nHandle)) {
            close(m_nHandle);
        }
        m_nHandle = nHandle;
    }
    void __set(int nHandle) { m_nHandle = nHandle; }

private:
    int m_nHandle;
};

class auto_find_handle {
public:
    auto_find_handle() : m_pWrapper(nullptr) {}
    ~auto_find_handle() { reset(nullptr); }
    auto_find_handle(const auto_find_handle &) = delete;
    auto_find_handle &operator=(const auto_find_handle &) = delete;

    DIR_Wrapper *get() const { return m_pWrapper; }
    void reset(DIR_Wrapper *pWrapper) {
        if (pWrapper == m_pWrapper) {
            return;
        }
        if (_dac_is_valid_find_handle_wrapper(m_pWrapper)) {
            CloseDirAndChangeDir(m_pWrapper);
        }
        m_pWrapper = pWrapper;
    }
    void __set(DIR_Wrapper *pWrapper) { m_pWrapper = pWrapper; }

private:
    DIR_Wrapper *m_pWrapper;
};

// Untyped holder of the pointer of auto_ptr_array.
class __ptr_base_xx {
public:
    void __set(void *pValue) { m_pValue = pValue; }

protected:
    explicit __ptr_base_xx(void *pValue) : m_pValue(pValue) {}
    ~__ptr_base_xx() = default;

    void *m_pValue;
};

// Owns a buffer made with new T[].
template <class T> class auto_ptr_array : public __ptr_base_xx {
public:
    explicit auto_ptr_array(T *pBuffer) : __ptr_base_xx(pBuffer) {}
    ~auto_ptr_array() { reset(nullptr); }
    auto_ptr_array(const auto_ptr_array &) = delete;
    auto_ptr_array &operator=(const auto_ptr_array &) = delete;

    T *get() const { return static_cast<T *>(m_pValue); }
    bool is_valid() const { return get() != nullptr; }
    T &operator[](size_t nIndex) const { return get()[nIndex]; }
    void reset(T *pBuffer) {
        T *pHeld = get();
        if (pBuffer != pHeld && pHeld != nullptr) {
            delete[] pHeld;
        }
        __set(pBuffer);
    }
    // Hands the buffer to the caller, who then deletes it.
    T *release() {
        T *pHeld = get();
        __set(nullptr);
        return pHeld;
    }
};

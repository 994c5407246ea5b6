// The error value that almost every operation returns, and the code location that is attached
// to it where it is made and wherever it is passed upward.
//
// The inline half (construction, success, the error test, copy) lives here; the factories and the
// operations that extend, test and print an error are the framework's (platform/KyError.cpp).
// Copies share one detail record: a location pushed through one copy shows in all of them.
#pragma once

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"

// Where an error is made or passed: bare source file name, pretty-function text, line.
struct FXCodeLocation {
    FXCodeLocation(const char *szFile, const char *szFunction, int nLine)
        : m_szFile(szFile), m_szFunction(szFunction), m_nLine(nLine) {}

    const char *m_szFile;
    const char *m_szFunction;
    int m_nLine;
};

// The bare file name of a __FILE__ text, found at compile time.
constexpr const char *FXSourceBaseName(const char *szPath) {
    const char *szName = szPath;
    for (const char *p = szPath; *p; ++p) {
        if (*p == '/') {
            szName = p + 1;
        }
    }
    return szName;
}

#define FXLOC FXCodeLocation(FXSourceBaseName(__FILE__), __PRETTY_FUNCTION__, __LINE__)

class FXErrorPrivate;

// Selects the text form of CKyError::AsString(EErrorOutputFormat).
class EErrorOutputFormat {
public:
    explicit EErrorOutputFormat(int nValue) : m_nValue(nValue) {}
    int Value() const { return m_nValue; }

private:
    int m_nValue;
};

class IDX_EXPORT CKyError {
public:
    CKyError() : m_nCode(0) {}
    CKyError(const CKyError &other) = default;
    CKyError &operator=(const CKyError &other) = default;
    ~CKyError() = default;

    static CKyError Success() { return CKyError(); }

    // True exactly when the code is negative.
    bool IsError() const { return m_nCode < 0; }

    int32_t GetCode() const { return m_nCode; }

    // Adds a code location (and a message) to the error's stack; the same error is returned.
    CKyError &Push(const FXCodeLocation &location);
    CKyError &Push(const FXCodeLocation &location, const char *szFormat, ...)
        __attribute__((format(printf, 3, 4)));

    std::string AsString() const;
    std::string AsString(EErrorOutputFormat format) const;

    // An independent deep copy: nothing pushed on the copy shows on this value and back.
    CKyError Copy() const;

    // Used by the factories only.
    CKyError(int32_t nCode, boost::shared_ptr<FXErrorPrivate> ptrDetail)
        : m_nCode(nCode), m_ptrDetail(std::move(ptrDetail)) {}
    const boost::shared_ptr<FXErrorPrivate> &Detail() const { return m_ptrDetail; }

private:
    int32_t m_nCode;
    boost::shared_ptr<FXErrorPrivate> m_ptrDetail;
};

// The framework's error factories and tests. The code of a made error packs a domain
// (Windows-style number, errno, framework result) and the number into a negative value.
class IDX_EXPORT FXErrorUtil {
public:
    static CKyError ErrorWin32(const FXCodeLocation &location, uint32_t nNumber);
    static CKyError ErrorWin32(const FXCodeLocation &location, uint32_t nNumber,
                               const char *szFormat, ...) __attribute__((format(printf, 3, 4)));
    // nNumber -1 takes the calling thread's current errno.
    static CKyError ErrorErrNo(const FXCodeLocation &location, int nNumber, const char *szFormat,
                               ...) __attribute__((format(printf, 3, 4)));
    static CKyError ErrorTQResult(const FXCodeLocation &location, int32_t nResult,
                                  const char *szFormat, ...) __attribute__((format(printf, 3, 4)));

    static bool IsWin32(const CKyError &error, uint32_t nNumber);
    static uint32_t GetWin32(const CKyError &error);
    // The errno carried by an ErrorErrNo error, 0 for any other.
    static int GetErrNo(const CKyError &error);
};

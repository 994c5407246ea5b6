// The framework half of CKyError: factories, Push, AsString and Copy.
#include "foundation/KyError.h"

#include <boost/make_shared.hpp>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/StringFormat.h"

namespace {

// Layout of an error code: sign bit set, domain in bits 28..30, number in bits 0..27.
enum EDomain : uint32_t { eDomainWin32 = 1, eDomainErrNo = 2, eDomainTQResult = 3 };
constexpr uint32_t kNumberMask = 0x0FFFFFFFu;

int32_t PackCode(EDomain eDomain, uint32_t nNumber) {
    uint32_t nBits = 0x80000000u | (static_cast<uint32_t>(eDomain) << 28) | (nNumber & kNumberMask);
    return static_cast<int32_t>(nBits);
}

EDomain DomainOf(int32_t nCode) {
    return static_cast<EDomain>((static_cast<uint32_t>(nCode) >> 28) & 0x7u);
}

uint32_t NumberOf(int32_t nCode) {
    return static_cast<uint32_t>(nCode) & kNumberMask;
}

} // namespace

struct FXErrorFrame {
    std::string strFile;
    std::string strFunction;
    int nLine;
    std::string strMessage;
};

class FXErrorPrivate {
public:
    std::mutex m_lock;        // the record is shared by copies that may live on several threads
    int32_t m_nRawNumber = 0; // the number as given (the code keeps only 28 bits)
    std::vector<FXErrorFrame> m_vecFrames;
};

static CKyError MakeError(EDomain eDomain, uint32_t nNumber, const FXCodeLocation &location,
                          std::string strMessage) {
    auto ptrDetail = boost::make_shared<FXErrorPrivate>();
    ptrDetail->m_nRawNumber = static_cast<int32_t>(nNumber);
    ptrDetail->m_vecFrames.push_back({location.m_szFile ? location.m_szFile : "",
                                      location.m_szFunction ? location.m_szFunction : "",
                                      location.m_nLine, std::move(strMessage)});
    return CKyError(PackCode(eDomain, nNumber), ptrDetail);
}

CKyError FXErrorUtil::ErrorWin32(const FXCodeLocation &location, uint32_t nNumber) {
    return MakeError(eDomainWin32, nNumber, location, std::string());
}

CKyError FXErrorUtil::ErrorWin32(const FXCodeLocation &location, uint32_t nNumber,
                                 const char *szFormat, ...) {
    va_list args;
    va_start(args, szFormat);
    std::string strMessage = FXFormatV(szFormat, args);
    va_end(args);
    return MakeError(eDomainWin32, nNumber, location, std::move(strMessage));
}

CKyError FXErrorUtil::ErrorErrNo(const FXCodeLocation &location, int nNumber, const char *szFormat,
                                 ...) {
    int nErrNo = (nNumber == -1) ? errno : nNumber;
    va_list args;
    va_start(args, szFormat);
    std::string strMessage = FXFormatV(szFormat, args);
    va_end(args);
    if (nErrNo != 0) {
        char szBuffer[256];
        const char *szText = strerror_r(nErrNo, szBuffer, sizeof(szBuffer));
        strMessage += FXFormat(" (errno %d: %s)", nErrNo, szText);
    }
    return MakeError(eDomainErrNo, static_cast<uint32_t>(nErrNo), location, std::move(strMessage));
}

CKyError FXErrorUtil::ErrorTQResult(const FXCodeLocation &location, int32_t nResult,
                                    const char *szFormat, ...) {
    va_list args;
    va_start(args, szFormat);
    std::string strMessage = FXFormatV(szFormat, args);
    va_end(args);
    CKyError error =
        MakeError(eDomainTQResult, static_cast<uint32_t>(nResult), location, std::move(strMessage));
    return error;
}

bool FXErrorUtil::IsWin32(const CKyError &error, uint32_t nNumber) {
    return error.IsError() && DomainOf(error.GetCode()) == eDomainWin32 &&
           NumberOf(error.GetCode()) == (nNumber & kNumberMask);
}

uint32_t FXErrorUtil::GetWin32(const CKyError &error) {
    if (!error.IsError() || DomainOf(error.GetCode()) != eDomainWin32) {
        return 0;
    }
    return NumberOf(error.GetCode());
}

int FXErrorUtil::GetErrNo(const CKyError &error) {
    if (!error.IsError() || DomainOf(error.GetCode()) != eDomainErrNo) {
        return 0;
    }
    return static_cast<int>(NumberOf(error.GetCode()));
}

CKyError &CKyError::Push(const FXCodeLocation &location) {
    if (m_ptrDetail) {
        std::lock_guard<std::mutex> guard(m_ptrDetail->m_lock);
        m_ptrDetail->m_vecFrames.push_back({location.m_szFile ? location.m_szFile : "",
                                            location.m_szFunction ? location.m_szFunction : "",
                                            location.m_nLine, std::string()});
    }
    return *this;
}

CKyError &CKyError::Push(const FXCodeLocation &location, const char *szFormat, ...) {
    if (m_ptrDetail) {
        va_list args;
        va_start(args, szFormat);
        std::string strMessage = FXFormatV(szFormat, args);
        va_end(args);
        std::lock_guard<std::mutex> guard(m_ptrDetail->m_lock);
        m_ptrDetail->m_vecFrames.push_back({location.m_szFile ? location.m_szFile : "",
                                            location.m_szFunction ? location.m_szFunction : "",
                                            location.m_nLine, std::move(strMessage)});
    }
    return *this;
}

static const char *DomainName(EDomain eDomain) {
    switch (eDomain) {
    case eDomainWin32:
        return "Win32";
    case eDomainErrNo:
        return "ErrNo";
    case eDomainTQResult:
        return "TQResult";
    }
    return "Unknown";
}

std::string CKyError::AsString() const {
    if (!IsError()) {
        return m_nCode == 0 ? "Success" : FXFormat("Code=%d", m_nCode);
    }
    std::string strText;
    if (m_ptrDetail) {
        std::lock_guard<std::mutex> guard(m_ptrDetail->m_lock);
        strText = FXFormat("%s=%d", DomainName(DomainOf(m_nCode)), m_ptrDetail->m_nRawNumber);
        // Messages first, newest last, then the stack of locations.
        for (const auto &frame : m_ptrDetail->m_vecFrames) {
            if (!frame.strMessage.empty()) {
                strText += " ";
                strText += frame.strMessage;
            }
        }
        for (const auto &frame : m_ptrDetail->m_vecFrames) {
            strText += FXFormat(" [%s:%d]", frame.strFile.c_str(), frame.nLine);
        }
    } else {
        strText = FXFormat("%s=%u", DomainName(DomainOf(m_nCode)), NumberOf(m_nCode));
    }
    return strText;
}

std::string CKyError::AsString(EErrorOutputFormat format) const {
    if (format.Value() != 2 || !IsError() || !m_ptrDetail) {
        return AsString();
    }
    // Form 2: one line per frame, with the function names.
    std::string strText = AsString();
    std::lock_guard<std::mutex> guard(m_ptrDetail->m_lock);
    for (const auto &frame : m_ptrDetail->m_vecFrames) {
        strText += FXFormat("\n  at %s (%s:%d)", frame.strFunction.c_str(), frame.strFile.c_str(),
                            frame.nLine);
    }
    return strText;
}

CKyError CKyError::Copy() const {
    if (!m_ptrDetail) {
        return CKyError(m_nCode, boost::shared_ptr<FXErrorPrivate>());
    }
    auto ptrDetail = boost::make_shared<FXErrorPrivate>();
    {
        std::lock_guard<std::mutex> guard(m_ptrDetail->m_lock);
        ptrDetail->m_nRawNumber = m_ptrDetail->m_nRawNumber;
        ptrDetail->m_vecFrames = m_ptrDetail->m_vecFrames;
    }
    return CKyError(m_nCode, ptrDetail);
}

// dlopen and dlsym behind CKyLibrary.
#include "platform/KyLibrary.h"

#include <dlfcn.h>

#include <exception>

namespace {

// Windows-style numbers the callers know these failures by.
constexpr uint32_t kErrorModuleNotFound = 126;
constexpr uint32_t kErrorProcNotFound = 127;
constexpr uint32_t kErrorInvalidParameter = 87;

} // namespace

CKyLibrary::CKyLibrary(bool bUnloadOnDestroy)
    : m_pHandle(nullptr), m_bUnloadOnDestroy(bUnloadOnDestroy) {}

CKyLibrary::~CKyLibrary() {
    if (m_bUnloadOnDestroy) {
        Unload();
    }
}

CKyError CKyLibrary::Load(const std::string &strFileName, bool bGlobalSymbols) {
    try {
        if (m_pHandle) {
            return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter,
                                           "Cannot load [%s], library [%s] already loaded",
                                           strFileName.c_str(), m_strFileName.c_str());
        }
        m_pHandle =
            dlopen(strFileName.c_str(), RTLD_NOW | (bGlobalSymbols ? RTLD_GLOBAL : RTLD_LOCAL));
        if (!m_pHandle) {
            const char *szReason = dlerror();
            return FXErrorUtil::ErrorWin32(FXLOC, kErrorModuleNotFound,
                                           "Failed to load library [%s]: %s", strFileName.c_str(),
                                           szReason ? szReason : "unknown reason");
        }
        m_strFileName = strFileName;
        return CKyError::Success();
    } catch (const std::exception &e) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorModuleNotFound,
                                       "Failed to load library [%s]: %s", strFileName.c_str(),
                                       e.what());
    }
}

CKyError CKyLibrary::GetAddress(const std::string &strSymbolName, void *&pAddress) const {
    pAddress = nullptr;
    if (!m_pHandle) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter,
                                       "No library loaded to look up [%s] in",
                                       strSymbolName.c_str());
    }
    dlerror(); // a null address is told apart from a failure only by dlerror
    pAddress = dlsym(m_pHandle, strSymbolName.c_str());
    if (!pAddress) {
        const char *szReason = dlerror();
        return FXErrorUtil::ErrorWin32(
            FXLOC, kErrorProcNotFound, "Symbol [%s] not found in library [%s]: %s",
            strSymbolName.c_str(), m_strFileName.c_str(), szReason ? szReason : "null address");
    }
    return CKyError::Success();
}

void CKyLibrary::Unload() {
    if (m_pHandle) {
        dlclose(m_pHandle);
        m_pHandle = nullptr;
        m_strFileName.clear();
    }
}

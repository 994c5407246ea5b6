// Loads a shared library by file name and looks its entry points up (dlopen and dlsym).
#pragma once

#include <string>

#include "foundation/Export.h"
#include "foundation/KyError.h"

class IDX_EXPORT CKyLibrary {
public:
    // With bUnloadOnDestroy false the library stays loaded after the loader is gone, for code
    // whose objects and functions are used long after the look-up.
    explicit CKyLibrary(bool bUnloadOnDestroy = true);
    ~CKyLibrary();
    CKyLibrary(const CKyLibrary &) = delete;
    CKyLibrary &operator=(const CKyLibrary &) = delete;

    // Loads with every symbol resolved at once; the library's own symbols stay private to it
    // unless bGlobalSymbols is set. A loader holds one library: loading a second one is refused.
    CKyError Load(const std::string &strFileName, bool bGlobalSymbols = false);

    // The address of an exported symbol; an error when nothing is loaded or it is not there.
    CKyError GetAddress(const std::string &strSymbolName, void *&pAddress) const;
    CKyError GetProcAddress(const std::string &strSymbolName, void *&pAddress) const {
        return GetAddress(strSymbolName, pAddress);
    }

    // Unloads now, whatever the destroy flag says.
    void Unload();

    bool IsLoaded() const { return m_pHandle != nullptr; }
    const std::string &GetFileName() const { return m_strFileName; }

private:
    void *m_pHandle;
    bool m_bUnloadOnDestroy;
    std::string m_strFileName;
};

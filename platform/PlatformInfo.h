// Registry-style platform settings by section and name, and the machine's name.
//
// Values come from the INI-style file named by IDX_PLATFORM_SETTINGS ("[Section]" lines, then
// "name=value" lines; ';' or '#' starts a comment line), and tests can override them
// (platform/testing/PlatformSettings.h). Sections and names match without regard to case. A
// setting that is absent is distinct from one that holds 0: the readers answer 0 ("not found")
// and leave the caller's value alone, so the caller's preset is the default. Thread-safe; the
// file is read on first use and again whenever it changes on disk.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/Export.h"

class IDX_EXPORT TQPlatformInfo {
public:
    TQPlatformInfo() = default;

    // Non-zero when the setting exists and holds a number (decimal, or hexadecimal after "0x",
    // optionally signed; a negative number is stored in two's complement). A value that is not
    // a number is logged and answered as absent.
    int getNumber(const char *szSection, const char *szName, unsigned long *pValue) const;

    // The 32-bit forms: read through the 64-bit form into a local that starts at 0 and, when the
    // setting exists, store its low 32 bits.
    int getNumber(const char *szSection, const char *szName, uint32_t *pValue) const {
        unsigned long ulValue = 0;
        int nFound = getNumber(szSection, szName, &ulValue);
        if (nFound != 0) {
            *pValue = static_cast<uint32_t>(ulValue);
        }
        return nFound;
    }
    int getNumber(const char *szSection, const char *szName, int32_t *pValue) const {
        unsigned long ulValue = 0;
        int nFound = getNumber(szSection, szName, &ulValue);
        if (nFound != 0) {
            *pValue = static_cast<int32_t>(static_cast<uint32_t>(ulValue));
        }
        return nFound;
    }

    // Non-zero when the setting exists; the value as written, blanks at both ends removed.
    int getString(const char *szSection, const char *szName, std::string &strValue) const;

    // This machine's host name; "localhost" when the system cannot tell.
    std::string getMachineName() const;
    // The physical machine's name, which on this platform is the host name.
    std::string getPhysicalMachine() const { return getMachineName(); }
};

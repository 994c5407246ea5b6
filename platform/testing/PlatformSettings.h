// Test control: platform settings set, hidden or reset from a test, ahead of the settings file.
// Never used by the library itself.
#pragma once

#include <string>

#include "foundation/Export.h"

namespace idxtest {

// The setting answers strValue from now on, whatever the settings file says.
IDX_EXPORT void SetPlatformSetting(const std::string &strSection, const std::string &strName,
                                   const std::string &strValue);

// The setting is absent from now on, whatever the settings file says.
IDX_EXPORT void ClearPlatformSetting(const std::string &strSection, const std::string &strName);

// Forgets every value set or cleared by the two calls above; the settings file is read again at
// the next use, so a change of IDX_PLATFORM_SETTINGS takes effect.
IDX_EXPORT void ResetPlatformSettings();

// Resets the settings when made and again when destroyed, so one test's settings never leak
// into the next.
class IDX_EXPORT PlatformSettingsScope {
public:
    PlatformSettingsScope() { ResetPlatformSettings(); }
    ~PlatformSettingsScope() { ResetPlatformSettings(); }
    PlatformSettingsScope(const PlatformSettingsScope &) = delete;
    PlatformSettingsScope &operator=(const PlatformSettingsScope &) = delete;
};

} // namespace idxtest

#include "platform/testing/PlatformSettings.h"

#include "platform/PlatformSettingsStore.h"

namespace idxtest {

void SetPlatformSetting(const std::string &strSection, const std::string &strName,
                        const std::string &strValue) {
    CPlatformSettingsStore::Instance().SetOverride(strSection, strName, strValue);
}

void ClearPlatformSetting(const std::string &strSection, const std::string &strName) {
    CPlatformSettingsStore::Instance().SetOverride(strSection, strName, std::nullopt);
}

void ResetPlatformSettings() {
    CPlatformSettingsStore::Instance().Reset();
}

} // namespace idxtest

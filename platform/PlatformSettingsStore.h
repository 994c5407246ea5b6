// The one process-wide store behind TQPlatformInfo: the settings file, read lazily and again when
// it changes, with the values that tests set or hide laid over it. Internal to the platform.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

class CPlatformSettingsStore {
public:
    static CPlatformSettingsStore &Instance();

    // The value of a setting, or nothing when it is absent.
    std::optional<std::string> Find(const std::string &strSection, const std::string &strName);

    void SetOverride(const std::string &strSection, const std::string &strName,
                     std::optional<std::string> value);
    void Reset();

private:
    using CKey = std::pair<std::string, std::string>; // section and name, in lower case

    // What identifies one state of the settings file on disk.
    struct CFileSignature {
        std::string strPath;
        bool bReadable = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        long long llModifiedNs = 0;
        bool operator==(const CFileSignature &other) const;
    };

    static CKey MakeKey(const std::string &strSection, const std::string &strName);
    static CFileSignature CurrentSignature();
    // Called with m_lock held; what went wrong with the file is returned for logging.
    void ReloadIfChanged(std::vector<std::string> &vecProblems);
    void LoadFile(const std::string &strPath, std::vector<std::string> &vecProblems);

    std::mutex m_lock;
    bool m_bLoaded = false;
    CFileSignature m_fileSignature;
    std::map<CKey, std::string> m_mapFileValues;
    std::map<CKey, std::optional<std::string>> m_mapOverrides;
};

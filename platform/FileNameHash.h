// The file-identifier generator of the index server: four identifiers of an item from its path,
// times, size and attributes, seeded with the application's GUID.
//
// Our stand-in derives each identifier deterministically (name-based, SHA-1) from what it is
// given, so the same input always gives the same identifiers: identifier 1 names the file (seed,
// volume mount path, path), identifier 2 one version of it (adding both times, the size, the
// attributes and the seed suffix), identifier 3 its folder (seed, parent path) and identifier 4
// its place in the index (seed, path, the two flags). Each is 32 upper-case hexadecimal digits.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/Export.h"
#include "foundation/KyError.h"

class IDX_EXPORT CFileNameHash {
public:
    struct GetValuesArgs {
        GetValuesArgs() = default;

        std::string strPath;
        int64_t llFirstTime = 0;
        int64_t llSecondTime = 0;
        uint64_t ullSize = 0;
        uint32_t nAttributes = 0xFFFFFFFFu;
        uint64_t ullReserved = 0;
        std::string strVolumeMountPath;
        std::string strParentPath;
        std::string *pFileId1 = nullptr;
        std::string *pFileId2 = nullptr;
        std::string *pFileId3 = nullptr;
        std::string *pFileId4 = nullptr;
        bool bCollectSecurity = false;
        bool bSecondFlag = false;
        const std::string *pSeedSuffix = nullptr;
    };

    explicit CFileNameHash(const std::string &strSeed) : m_strSeed(strSeed) {}

    // Fills the four outputs. Error 87 (nothing written) for an empty path or a missing output.
    CKyError GetValues(GetValuesArgs &args);

private:
    std::string m_strSeed;
};

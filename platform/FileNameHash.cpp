#include "platform/FileNameHash.h"

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/uuid.hpp>

namespace {

// A fixed name space of our own, so that these identifiers never coincide with the object and
// version GUIDs made from the same texts.
const boost::uuids::uuid kFileIdNamespace = {{0x2e, 0x91, 0x4c, 0x07, 0xd5, 0x63, 0x48, 0x1a, 0x8f,
                                              0x3b, 0x60, 0xa7, 0x19, 0xce, 0x54, 0x02}};

// Each part carries its length in front, so no choice of texts makes two different inputs one.
void AppendPart(std::string &strName, const std::string &strPart) {
    strName += std::to_string(strPart.size());
    strName += ':';
    strName += strPart;
}

std::string Identifier(const std::string &strKind, const std::string &strName) {
    boost::uuids::name_generator_sha1 generator(kFileIdNamespace);
    const boost::uuids::uuid id = generator(strKind + "|" + strName);
    static const char kHex[] = "0123456789ABCDEF";
    std::string strId;
    strId.reserve(32);
    for (uint8_t byte : id) {
        strId.push_back(kHex[byte >> 4]);
        strId.push_back(kHex[byte & 0xF]);
    }
    return strId;
}

} // namespace

CKyError CFileNameHash::GetValues(GetValuesArgs &args) {
    if (args.strPath.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "No path to make file identifiers from");
    }
    if (args.pFileId1 == nullptr || args.pFileId2 == nullptr || args.pFileId3 == nullptr ||
        args.pFileId4 == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "No place for the file identifiers of [%s]",
                                       args.strPath.c_str());
    }

    std::string strFile;
    AppendPart(strFile, m_strSeed);
    AppendPart(strFile, args.strVolumeMountPath);
    AppendPart(strFile, args.strPath);

    std::string strVersion = strFile;
    AppendPart(strVersion, std::to_string(args.llFirstTime));
    AppendPart(strVersion, std::to_string(args.llSecondTime));
    AppendPart(strVersion, std::to_string(args.ullSize));
    AppendPart(strVersion, std::to_string(args.nAttributes));
    AppendPart(strVersion, args.pSeedSuffix != nullptr ? *args.pSeedSuffix : std::string());

    std::string strFolder;
    AppendPart(strFolder, m_strSeed);
    AppendPart(strFolder, args.strParentPath);

    std::string strPlace;
    AppendPart(strPlace, m_strSeed);
    AppendPart(strPlace, args.strPath);
    AppendPart(strPlace, args.bCollectSecurity ? "1" : "0");
    AppendPart(strPlace, args.bSecondFlag ? "1" : "0");

    *args.pFileId1 = Identifier("file", strFile);
    *args.pFileId2 = Identifier("version", strVersion);
    *args.pFileId3 = Identifier("folder", strFolder);
    *args.pFileId4 = Identifier("place", strPlace);
    return CKyError::Success();
}

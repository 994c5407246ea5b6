// The keys and hashes of documents (see DocumentKeys.h).
#include "documents/DocumentKeys.h"

#include <set>

#include "foundation/Crc32.h"
#include "foundation/StringHelpers.h"
#include "foundation/TextEncoding.h"
#include "platform/ObjectGuid.h"

namespace {

const char kUncPrefix[] = "\\\\UNC\\";
const char kNetworkPrefix[] = "\\\\";
const char kNetworkKeyPrefix[] = "UNC-NT_";

} // namespace

namespace IdxDocuments {

std::string MakeHash(const std::string &strText) {
    char achHex[kHashDigits];
    MakeHashOfParts({strText}, achHex);
    return std::string(achHex, sizeof(achHex));
}

void MakeHashOfParts(std::initializer_list<std::string_view> parts, char achHex[kHashDigits]) {
    // One digest per thread, started over after each use: nothing is allocated per hash.
    thread_local CMd5 md5;
    for (std::string_view svPart : parts) {
        md5.Update(svPart.data(), svPart.size());
    }
    unsigned char abDigest[CMd5::kDigestLength];
    md5.Final(abDigest);
    static_assert(2 * CMd5::kDigestLength == kHashDigits, "two digits per byte");
    for (size_t i = 0; i < sizeof(abDigest); ++i) {
        achHex[2 * i] = CTextEncoding::HexDigit(abDigest[i] >> 4, CTextEncoding::eUpperHex);
        achHex[2 * i + 1] = CTextEncoding::HexDigit(abDigest[i], CTextEncoding::eUpperHex);
    }
}

std::string GetFileExtension(const std::string &strText) {
    size_t nDot = strText.rfind('.');
    if (nDot == std::string::npos) {
        return std::string();
    }
    return FXString::ToUpper(strText.substr(nDot + 1));
}

const std::set<std::string> &CompressedExtensions() {
    static const std::set<std::string> kCompressedExtensions = {"7Z",  "ZIP",  "TGZ", "GZ",
                                                                "BZ2", "TBZ2", "XZ",  "TXZ"};
    return kCompressedExtensions;
}

bool IsCompressedItem(const std::string &strExtension) {
    return CompressedExtensions().count(strExtension) != 0;
}

std::string MakeKeyPath(const std::string &strPath) {
    std::string strKeyPath = strPath;
    if (!FXString::ReplaceLeft(strKeyPath, kUncPrefix, kNetworkKeyPrefix)) {
        FXString::ReplaceLeft(strKeyPath, kNetworkPrefix, kNetworkKeyPrefix);
    }
    return strKeyPath;
}

void GetContentIdForVMFile(const std::string &strPath, bool bIgnoreCase, char chDelimiter,
                           const std::string &strAppGuid, const std::string &strVMGuid,
                           std::string &strOutput) {
    std::string strObjectGuid;
    GetObjectGuid(strPath, bIgnoreCase, chDelimiter, strObjectGuid);
    strOutput = strVMGuid + "!" + MakeHash(strObjectGuid + strAppGuid);
}

void GetContentIdForSPFile(const std::string &strFirst, const std::string &strSecond,
                           const std::string &strThird, std::string &strOutput) {
    // Joined as they are: a part that already ends with a backslash gives two in a row.
    GetObjectGuid(strFirst + "\\" + strSecond + "\\" + strThird, true, '\\', strOutput);
}

} // namespace IdxDocuments

// Name-based and random identifiers over Boost.Uuid.
#include "platform/ObjectGuid.h"

#include <cctype>

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>

namespace {

// Fixed name spaces, one per kind of identifier, so that an object key and a version key made
// from the same text never coincide.
const boost::uuids::uuid kObjectNamespace = {{0x5c, 0x0b, 0x7e, 0x31, 0x8a, 0x4d, 0x4f, 0x62, 0x9e,
                                              0x15, 0x27, 0xd3, 0x40, 0xb8, 0x6a, 0x91}};
const boost::uuids::uuid kVersionNamespace = {{0xa3, 0x6f, 0x12, 0xc4, 0x5e, 0x20, 0x4b, 0x8d, 0xb7,
                                               0x09, 0x6c, 0xe1, 0xf4, 0x38, 0x52, 0x7a}};

const uint32_t kErrorInvalidParameter = 87;

std::string NormalisePath(const std::string &strPath, bool bIgnoreCase, char chDelimiter) {
    std::string strName = strPath;
    // A path made only of delimiters (the root) keeps one of them.
    while (strName.size() > 1 && strName.back() == chDelimiter) {
        strName.pop_back();
    }
    if (bIgnoreCase) {
        for (char &ch : strName) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
    }
    return strName;
}

// Each part is written with its length in front, so no choice of texts can make two different
// argument lists produce the same name.
void AppendPart(std::string &strName, const std::string &strPart) {
    strName += std::to_string(strPart.size());
    strName += ':';
    strName += strPart;
}

} // namespace

CKyError GetObjectGuid(const std::string &strPath, bool bIgnoreCase, char chDelimiter,
                       std::string &strGuid) {
    if (strPath.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter, "Empty path");
    }
    boost::uuids::name_generator_sha1 generator(kObjectNamespace);
    strGuid = boost::uuids::to_string(generator(NormalisePath(strPath, bIgnoreCase, chDelimiter)));
    return CKyError::Success();
}

CKyError GetVersionGuid(const std::string &strPath, const std::string &strAppGuid,
                        int64_t llModificationTime, int64_t llChangeTime, uint64_t ullSize,
                        uint32_t nFlags, bool bIgnoreCase, char chDelimiter, std::string &strGuid,
                        uint32_t nReserved) {
    if (strPath.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter, "Empty path");
    }
    if (nReserved != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter,
                                       "Reserved argument must be 0, got %u", nReserved);
    }
    std::string strName;
    AppendPart(strName, NormalisePath(strPath, bIgnoreCase, chDelimiter));
    AppendPart(strName, strAppGuid);
    AppendPart(strName, std::to_string(llModificationTime));
    AppendPart(strName, std::to_string(llChangeTime));
    AppendPart(strName, std::to_string(ullSize));
    AppendPart(strName, std::to_string(nFlags));
    boost::uuids::name_generator_sha1 generator(kVersionNamespace);
    strGuid = boost::uuids::to_string(generator(strName));
    return CKyError::Success();
}

std::string GenerateRandomGuid() {
    boost::uuids::random_generator_mt19937 generator;
    return boost::uuids::to_string(generator());
}

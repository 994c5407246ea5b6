// Name-based identifiers over OpenSSL's SHA-1, random ones over Boost.Uuid.
#include "platform/ObjectGuid.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstring>
#include <new>
#include <string_view>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "foundation/StringHelpers.h"

namespace {

// Fixed name spaces, one per kind of identifier, so that an object key and a version key made
// from the same text never coincide.
const unsigned char kObjectNamespace[16] = {0x5c, 0x0b, 0x7e, 0x31, 0x8a, 0x4d, 0x4f, 0x62,
                                            0x9e, 0x15, 0x27, 0xd3, 0x40, 0xb8, 0x6a, 0x91};
const unsigned char kVersionNamespace[16] = {0xa3, 0x6f, 0x12, 0xc4, 0x5e, 0x20, 0x4b, 0x8d,
                                             0xb7, 0x09, 0x6c, 0xe1, 0xf4, 0x38, 0x52, 0x7a};

// SHA-1 as fetched from the provider, once per process and never freed: a context started with
// the legacy EVP_sha1() object would fetch it again on every start, under a global lock, and
// sharing one fetched object keeps every context's start from touching its reference count.
const EVP_MD *Sha1Type() {
    static const EVP_MD *const s_pType = [] {
        const EVP_MD *pFetched = EVP_MD_fetch(nullptr, "SHA1", nullptr);
        return pFetched ? pFetched : EVP_sha1();
    }();
    return s_pType;
}

// One SHA-1 context per thread, made once and started over for every identifier: a document
// build makes two identifiers per item, and a context made for each would cost more than the
// hash of a short name. (The provider still makes its small state block anew at every start:
// libcrypto 3.0 offers no way to start a context over without that.)
class CSha1 {
public:
    CSha1() : m_pType(Sha1Type()), m_pContext(EVP_MD_CTX_new()) {}
    ~CSha1() { EVP_MD_CTX_free(m_pContext); }
    CSha1(const CSha1 &) = delete;
    CSha1 &operator=(const CSha1 &) = delete;

    // SHA-1 of the name space followed by the name; false only when the library failed (no
    // memory), and then abDigest is all zeros.
    bool Digest(const unsigned char (&abNamespace)[16], const std::string &strName,
                unsigned char (&abDigest)[EVP_MAX_MD_SIZE]) {
        memset(abDigest, 0, sizeof(abDigest));
        unsigned int nLength = 0;
        return m_pType && m_pContext && EVP_DigestInit_ex(m_pContext, m_pType, nullptr) == 1 &&
               EVP_DigestUpdate(m_pContext, abNamespace, sizeof(abNamespace)) == 1 &&
               EVP_DigestUpdate(m_pContext, strName.data(), strName.size()) == 1 &&
               EVP_DigestFinal_ex(m_pContext, abDigest, &nLength) == 1;
    }

private:
    const EVP_MD *m_pType;
    EVP_MD_CTX *m_pContext;
};

// The name-based identifier of RFC 4122, version 5: the first 16 bytes of the digest with the
// version and variant bits set, in the 36-character lower-case text form.
std::string NameBasedGuid(const unsigned char (&abNamespace)[16], const std::string &strName) {
    thread_local CSha1 sha1;
    unsigned char abDigest[EVP_MAX_MD_SIZE];
    if (!sha1.Digest(abNamespace, strName, abDigest)) {
        throw std::bad_alloc();
    }
    abDigest[6] = static_cast<unsigned char>((abDigest[6] & 0x0F) | 0x50);
    abDigest[8] = static_cast<unsigned char>((abDigest[8] & 0x3F) | 0x80);
    static const char kDigits[] = "0123456789abcdef";
    std::string strGuid;
    strGuid.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            strGuid.push_back('-');
        }
        strGuid.push_back(kDigits[abDigest[i] >> 4]);
        strGuid.push_back(kDigits[abDigest[i] & 0x0F]);
    }
    return strGuid;
}

const uint32_t kErrorInvalidParameter = 87;

// The length of the path as identifiers name it: without trailing delimiters (a path made only
// of delimiters, the root, keeps one of them).
size_t NormalisedLength(const std::string &strPath, char chDelimiter) {
    size_t nLength = strPath.size();
    while (nLength > 1 && strPath[nLength - 1] == chDelimiter) {
        --nLength;
    }
    return nLength;
}

// Appends the path as identifiers name it: NormalisedLength of it, in lower case when the case
// is ignored.
void AppendNormalisedPath(std::string &strName, const std::string &strPath, bool bIgnoreCase,
                          char chDelimiter) {
    const size_t nStart = strName.size();
    strName.append(strPath, 0, NormalisedLength(strPath, chDelimiter));
    if (bIgnoreCase) {
        for (size_t i = nStart; i < strName.size(); ++i) {
            strName[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(strName[i])));
        }
    }
}

void AppendLength(std::string &strName, size_t nLength) {
    strName += CNumberText(nLength).View();
    strName += ':';
}

// Each part is written with its length in front, so no choice of texts can make two different
// argument lists produce the same name.
void AppendPart(std::string &strName, std::string_view svPart) {
    AppendLength(strName, svPart.size());
    strName.append(svPart.data(), svPart.size());
}

// The text an identifier is made from, kept per thread so that making one allocates nothing
// once the thread has made a few.
std::string &NameScratch() {
    thread_local std::string t_strName;
    t_strName.clear();
    return t_strName;
}

} // namespace

CKyError GetObjectGuid(const std::string &strPath, bool bIgnoreCase, char chDelimiter,
                       std::string &strGuid) {
    if (strPath.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter, "Empty path");
    }
    std::string &strName = NameScratch();
    AppendNormalisedPath(strName, strPath, bIgnoreCase, chDelimiter);
    strGuid = NameBasedGuid(kObjectNamespace, strName);
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
    std::string &strName = NameScratch();
    AppendLength(strName, NormalisedLength(strPath, chDelimiter));
    AppendNormalisedPath(strName, strPath, bIgnoreCase, chDelimiter);
    AppendPart(strName, strAppGuid);
    AppendPart(strName, CNumberText(llModificationTime).View());
    AppendPart(strName, CNumberText(llChangeTime).View());
    AppendPart(strName, CNumberText(ullSize).View());
    AppendPart(strName, CNumberText(nFlags).View());
    strGuid = NameBasedGuid(kVersionNamespace, strName);
    return CKyError::Success();
}

std::string GenerateRandomGuid() {
    boost::uuids::random_generator_mt19937 generator;
    return boost::uuids::to_string(generator());
}

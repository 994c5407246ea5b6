// The framework half of the digests: CRC-32 over zlib, SHA-512 and MD5 over libcrypto's EVP
// interface, and the storage of TqcBucket.
#include "foundation/Crc32.h"
#include "foundation/TextEncoding.h"

#include <cstring>

#include <boost/make_shared.hpp>
#include <openssl/evp.h>
#include <zlib.h>

void CKyCRC32::UpdateCRC32(const unsigned char *pData, unsigned int nLength) {
    if (nLength == 0 || !pData) {
        return; // zlib answers a null buffer with its initial value, which would lose the register
    }
    // zlib takes and returns the complemented (finished) value, not the register itself.
    m_nRegister = ~static_cast<uint32_t>(crc32(~m_nRegister, pData, nLength));
}

TqcBucket::TqcBucket(int nSize) : m_nInlineSize(0), m_abInline() {
    if (nSize <= 0) {
        return;
    }
    if (nSize <= kInlineCapacity) {
        m_nInlineSize = nSize;
        return;
    }
    auto ptrBlock = boost::make_shared<TqcBucketBlock>();
    ptrBlock->m_pBytes = new unsigned char[static_cast<size_t>(nSize)]();
    ptrBlock->m_nSize = nSize;
    m_ptrBlock = ptrBlock;
}

void TqcBucket::detach() {
    if (!m_ptrBlock || m_ptrBlock.use_count() == 1) {
        return;
    }
    auto ptrCopy = boost::make_shared<TqcBucketBlock>();
    ptrCopy->m_pBytes = new unsigned char[static_cast<size_t>(m_ptrBlock->m_nSize)];
    memcpy(ptrCopy->m_pBytes, m_ptrBlock->m_pBytes, static_cast<size_t>(m_ptrBlock->m_nSize));
    ptrCopy->m_nSize = m_ptrBlock->m_nSize;
    m_ptrBlock = ptrCopy;
}

namespace {

// The digest implementations, fetched from the provider once per process. A context set up
// with the legacy EVP_md5()/EVP_sha512() objects fetches the implementation again on every
// start, under a global lock; a fetched one is used directly. Never freed: contexts may use them
// until the process ends.
const EVP_MD *FetchedDigest(const char *szName, const EVP_MD *pLegacy) {
    const EVP_MD *pFetched = EVP_MD_fetch(nullptr, szName, nullptr);
    return pFetched ? pFetched : pLegacy;
}

const EVP_MD *Sha512Type() {
    static const EVP_MD *s_pType = FetchedDigest("SHA512", EVP_sha512());
    return s_pType;
}

const EVP_MD *Md5Type() {
    static const EVP_MD *s_pType = FetchedDigest("MD5", EVP_md5());
    return s_pType;
}

// One running EVP digest whose context is made once and started over after every finish, so
// that hashing many short texts makes no context and fetches nothing (the provider's own state
// block is still made anew at every start: libcrypto 3.0 has no call that keeps it).
class EvpDigest {
public:
    explicit EvpDigest(const EVP_MD *pType) : m_pType(pType), m_pContext(EVP_MD_CTX_new()) {
        Restart();
    }
    ~EvpDigest() { EVP_MD_CTX_free(m_pContext); }
    EvpDigest(const EvpDigest &) = delete;
    EvpDigest &operator=(const EvpDigest &) = delete;

    void Add(const void *pData, size_t nLength) {
        if (m_bReady && nLength > 0) {
            m_bReady = EVP_DigestUpdate(m_pContext, pData, nLength) == 1;
        }
    }

    // The digest, or all zeros when the library failed (only when out of memory).
    void Finish(unsigned char *pOut, size_t nOutLength) {
        unsigned char abDigest[EVP_MAX_MD_SIZE] = {};
        unsigned int nDigestLength = 0;
        if (m_bReady) {
            EVP_DigestFinal_ex(m_pContext, abDigest, &nDigestLength);
        }
        size_t nCopy = static_cast<size_t>(EVP_MD_get_size(m_pType));
        memcpy(pOut, abDigest, nOutLength < nCopy ? nOutLength : nCopy);
        Restart();
    }

private:
    void Restart() {
        m_bReady = m_pContext && EVP_DigestInit_ex(m_pContext, m_pType, nullptr) == 1;
    }

    const EVP_MD *m_pType;
    EVP_MD_CTX *m_pContext;
    bool m_bReady = false;
};

} // namespace

struct TqcSHA512::Private {
    EvpDigest m_digest{Sha512Type()};
};

TqcSHA512::TqcSHA512() : TqcHash(64), m_ptrPrivate(new Private) {}
TqcSHA512::~TqcSHA512() = default;

void TqcSHA512::addData(const void *pData, int nLength) {
    if (nLength > 0) {
        m_ptrPrivate->m_digest.Add(pData, static_cast<size_t>(nLength));
    }
}

void TqcSHA512::finish(void *pOut, int nLength) {
    m_ptrPrivate->m_digest.Finish(static_cast<unsigned char *>(pOut),
                                  nLength > 0 ? static_cast<size_t>(nLength) : 0);
}

struct CMd5::Private {
    EvpDigest m_digest{Md5Type()};
};

CMd5::CMd5() : m_ptrPrivate(new Private) {}
CMd5::~CMd5() = default;

void CMd5::Update(const void *pData, size_t nLength) {
    m_ptrPrivate->m_digest.Add(pData, nLength);
}

void CMd5::Final(unsigned char abDigest[kDigestLength]) {
    m_ptrPrivate->m_digest.Finish(abDigest, kDigestLength);
}

std::string CMd5::FinalHex() {
    unsigned char abDigest[kDigestLength];
    Final(abDigest);
    return CTextEncoding::Hex(abDigest, sizeof(abDigest), CTextEncoding::eLowerHex);
}

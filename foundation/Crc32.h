// Digests of the framework: the CRC-32 accumulator, the byte buffer a hash hands its digest out
// in, the hash base with SHA-512, and MD5.
//
// The accumulator's register starts at 0xFFFFFFFF and GetCRC32 is its complement, so an empty
// input gives 0 and "123456789" gives 0xCBF43926 (the standard CRC-32). The byte update, the
// bucket's storage and the hashes are the platform's (platform/Digests.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"

class IDX_EXPORT CKyCRC32 {
public:
    CKyCRC32() { Reset(); }
    ~CKyCRC32() {}

    void Reset() { m_nRegister = 0xFFFFFFFFu; }
    void UpdateCRC32(const char *pData, unsigned int nLength) {
        UpdateCRC32(reinterpret_cast<const unsigned char *>(pData), nLength);
    }
    void UpdateCRC32(const unsigned char *pData, unsigned int nLength);
    // Does not change the register: more data may follow.
    uint32_t GetCRC32() const { return ~m_nRegister; }

private:
    uint32_t m_nRegister;
};

// Where a TqcBucket's bytes live when they do not fit inline; shared by copies of the bucket
// until one of them writes.
struct TqcBucketBlock {
    unsigned char *m_pBytes = nullptr;
    int32_t m_nSize = 0;

    TqcBucketBlock() = default;
    ~TqcBucketBlock() { delete[] m_pBytes; }
    TqcBucketBlock(const TqcBucketBlock &) = delete;
    TqcBucketBlock &operator=(const TqcBucketBlock &) = delete;
};

class IDX_EXPORT TqcBucket {
public:
    static constexpr int kInlineCapacity = 64;

    TqcBucket() : m_nInlineSize(0), m_abInline() {}
    // nSize zero bytes (a negative size counts as 0).
    explicit TqcBucket(int nSize);

    unsigned char *getData() {
        detach();
        return m_ptrBlock ? m_ptrBlock->m_pBytes : m_abInline;
    }
    const unsigned char *getData() const { return m_ptrBlock ? m_ptrBlock->m_pBytes : m_abInline; }
    int getSize() const { return m_ptrBlock ? m_ptrBlock->m_nSize : m_nInlineSize; }

    // Gives this bucket its own copy of a block that another bucket shares.
    void detach();

private:
    int32_t m_nInlineSize;
    unsigned char m_abInline[kInlineCapacity];
    boost::shared_ptr<TqcBucketBlock> m_ptrBlock;
};

class IDX_EXPORT TqcHash {
public:
    virtual ~TqcHash() {}

    int getLength() const { return m_nLength; }
    // Writes the first min(nLength, getLength()) bytes of the digest of what was added into
    // pOut; the hash then starts over, empty.
    virtual void finish(void *pOut, int nLength) = 0;
    TqcBucket finish() {
        TqcBucket bucket(m_nLength);
        finish(bucket.getData(), m_nLength);
        return bucket;
    }

protected:
    explicit TqcHash(int nLength) : m_nLength(nLength) {}

    int32_t m_nLength; // digest length in bytes
};

class IDX_EXPORT TqcSHA512 : public TqcHash {
public:
    TqcSHA512();
    ~TqcSHA512() override;
    TqcSHA512(const TqcSHA512 &) = delete;
    TqcSHA512 &operator=(const TqcSHA512 &) = delete;

    using TqcHash::finish;
    void addData(const void *pData, int nLength);
    void finish(void *pOut, int nLength) override;

private:
    struct Private;
    std::unique_ptr<Private> m_ptrPrivate;
};

class IDX_EXPORT CMd5 {
public:
    static constexpr size_t kDigestLength = 16;

    CMd5();
    ~CMd5();
    CMd5(const CMd5 &) = delete;
    CMd5 &operator=(const CMd5 &) = delete;

    void Update(const void *pData, size_t nLength);
    void Update(const std::string &strData) { Update(strData.data(), strData.size()); }
    // Writes the 16 digest bytes; the digest then starts over, empty.
    void Final(unsigned char abDigest[kDigestLength]);
    // Final as 32 lower-case hexadecimal characters.
    std::string FinalHex();

private:
    struct Private;
    std::unique_ptr<Private> m_ptrPrivate;
};

#include "foundation/Crc32.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <vector>

#include "foundation/StringHelpers.h"

namespace {

// Bit-at-a-time reflected CRC-32 (polynomial 0xEDB88320), independent of the library's table.
uint32_t ReferenceCrc32(const std::string &strData) {
    uint32_t nRegister = 0xFFFFFFFFu;
    for (unsigned char b : strData) {
        nRegister ^= b;
        for (int i = 0; i < 8; ++i) {
            nRegister = (nRegister >> 1) ^ (0xEDB88320u & (0u - (nRegister & 1u)));
        }
    }
    return ~nRegister;
}

std::string HexUpper(const unsigned char *pBytes, int nSize) {
    std::string strHex;
    for (int i = 0; i < nSize; ++i) {
        strHex += FXString::Format("%02X", pBytes[i]);
    }
    return strHex;
}

std::string Crc32Text(const std::string &strData) {
    CKyCRC32 crc;
    crc.UpdateCRC32(strData.data(), static_cast<unsigned int>(strData.size()));
    return FXString::Format("%X", crc.GetCRC32());
}

TEST(Crc32Test, KnownValues) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "0"},
        {"123456789", "CBF43926"},
        {"a", "E8B7BE43"},
        {"The quick brown fox jumps over the lazy dog", "414FA339"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Crc32Text(c.first), c.second) << c.first;
    }
    CKyCRC32 fresh;
    EXPECT_EQ(fresh.GetCRC32(), 0u);
}

TEST(Crc32Test, SplitFeedsAndRepeatedReadsAgree) {
    std::mt19937 random(7);
    std::string strData(100000, '\0');
    for (char &c : strData) {
        c = static_cast<char>(random() & 0xFF);
    }
    uint32_t nExpected = ReferenceCrc32(strData);

    for (size_t nChunk : {size_t(1), size_t(7), size_t(4096), strData.size()}) {
        CKyCRC32 crc;
        for (size_t nPos = 0; nPos < strData.size(); nPos += nChunk) {
            size_t nLength = std::min(nChunk, strData.size() - nPos);
            crc.UpdateCRC32(strData.data() + nPos, static_cast<unsigned int>(nLength));
            crc.UpdateCRC32(strData.data(), 0u); // an empty feed changes nothing
        }
        EXPECT_EQ(crc.GetCRC32(), nExpected) << "chunk " << nChunk;
        EXPECT_EQ(crc.GetCRC32(), nExpected);
    }

    CKyCRC32 crc;
    crc.UpdateCRC32(reinterpret_cast<const unsigned char *>("xyz"), 3u);
    crc.Reset();
    EXPECT_EQ(crc.GetCRC32(), 0u);
    crc.UpdateCRC32(static_cast<const char *>(nullptr), 0u);
    EXPECT_EQ(crc.GetCRC32(), 0u);
}

TEST(Crc32Test, Sha512DigestInABucket) {
    const std::pair<std::string, const char *> cases[] = {
        {"abc", "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
                "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
        {"", "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE"
             "47D0D13C5D85F2B0FF8318D2877EEC2F63B931BD47417A81A538327AF927DA3E"},
    };
    for (const auto &c : cases) {
        TqcSHA512 hash;
        EXPECT_EQ(hash.getLength(), 64);
        hash.addData(c.first.data(), static_cast<int>(c.first.size()));
        TqcBucket bucket = hash.finish();
        ASSERT_EQ(bucket.getSize(), 64);
        EXPECT_EQ(HexUpper(bucket.getData(), bucket.getSize()), c.second) << c.first;
    }

    // Data given in pieces gives the same digest; finish starts the hash over.
    TqcSHA512 hash;
    hash.addData("a", 1);
    hash.addData("bc", 2);
    TqcBucket first = hash.finish();
    TqcBucket second = hash.finish();
    EXPECT_EQ(HexUpper(first.getData(), 64), cases[0].second);
    EXPECT_EQ(HexUpper(second.getData(), 64), cases[1].second);

    // A shorter output gets the first bytes of the digest and nothing more.
    unsigned char abOut[12];
    memset(abOut, 0xEE, sizeof(abOut));
    hash.addData("abc", 3);
    hash.finish(abOut, 10);
    EXPECT_EQ(HexUpper(abOut, 10), std::string(cases[0].second, 20));
    EXPECT_EQ(abOut[10], 0xEE);
}

TEST(Crc32Test, BucketCopiesDetachBeforeWriting) {
    const std::pair<int, int> sizes[] = {{0, 0}, {-5, 0}, {64, 64}, {65, 65}, {1000, 1000}};
    for (const auto &size : sizes) {
        TqcBucket bucket(size.first);
        EXPECT_EQ(bucket.getSize(), size.second) << size.first;
        const TqcBucket &constBucket = bucket;
        for (int i = 0; i < constBucket.getSize(); ++i) {
            ASSERT_EQ(constBucket.getData()[i], 0);
        }
    }

    for (int nSize : {16, 300}) {
        TqcBucket original(nSize);
        memset(original.getData(), 'a', static_cast<size_t>(nSize));
        TqcBucket copy(original);
        copy.getData()[0] = 'b';
        EXPECT_EQ(original.getData()[0], 'a') << nSize;
        EXPECT_EQ(copy.getData()[0], 'b');
        EXPECT_EQ(copy.getData()[nSize - 1], 'a');
        EXPECT_EQ(copy.getSize(), nSize);
    }
}

TEST(Crc32Test, Md5KnownValues) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    };
    CMd5 md5;
    for (const auto &c : cases) {
        md5.Update(std::string(c.first));
        EXPECT_EQ(md5.FinalHex(), c.second) << c.first;
    }
    md5.Update("ab", 2);
    md5.Update("c", 1);
    unsigned char abDigest[CMd5::kDigestLength];
    md5.Final(abDigest);
    EXPECT_EQ(FXString::ToLower(HexUpper(abDigest, 16)), cases[1].second);
}

// Longer published vectors: texts of more than one block, and a million bytes given in pieces,
// each hashed on several threads at once (every thread's hash is its own) and twice on each, so
// that a digest started over after a finish is checked as well.
TEST(Crc32Test, DigestsOfMultiBlockTextsOnSeveralThreads) {
    const std::string strTwoBlocks =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
        "lmnopqrsmnopqrstnopqrstu";
    const char *szSha512TwoBlocks =
        "8E959B75DAE313DA8CF4F72814FC143F8F7779C6EB9F7FA17299AEADB6889018"
        "501D289E4900F7E4331B99DEC4B5433AC7D329EEB6DD26545E96E55B874BE909";
    const char *szSha512Million =
        "E718483D0CE769644E2E42C7BC15B4638E1F98B13B2044285632A803AFA973EB"
        "DE0FF244877EA60A4CB0432CE577C31BEB009C5C2C49AA2E4EADB217AD8CC09B";
    const std::string strMd5Digits =
        "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    const char *szMd5Digits = "57edf4a22be3c955ac49da2e2107b67a";
    const char *szMd5Alphabet = "c3fcd3d76192e4007dfb496cca67e13b";
    const std::string strChunk(1000, 'a');

    auto check = [&] {
        for (int nRound = 0; nRound < 2; ++nRound) {
            TqcSHA512 sha;
            sha.addData(strTwoBlocks.data(), static_cast<int>(strTwoBlocks.size()));
            TqcBucket bucket = sha.finish();
            EXPECT_EQ(HexUpper(bucket.getData(), bucket.getSize()), szSha512TwoBlocks);
            for (int i = 0; i < 1000; ++i) {
                sha.addData(strChunk.data(), static_cast<int>(strChunk.size()));
            }
            bucket = sha.finish();
            EXPECT_EQ(HexUpper(bucket.getData(), bucket.getSize()), szSha512Million);

            CMd5 md5;
            md5.Update(strMd5Digits);
            EXPECT_EQ(md5.FinalHex(), szMd5Digits);
            md5.Update(std::string("abcdefghijklmnopqrstuvwxyz"));
            EXPECT_EQ(md5.FinalHex(), szMd5Alphabet);
        }
    };
    std::vector<std::thread> vecThreads;
    for (int i = 0; i < 4; ++i) {
        vecThreads.emplace_back(check);
    }
    for (std::thread &thread : vecThreads) {
        thread.join();
    }
}

} // namespace

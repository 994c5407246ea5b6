#include "foundation/Accessors.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <type_traits>

namespace {

TEST(AccessorsTest, CastsGiveTheTypeTheirNameStandsFor) {
    static_assert(std::is_same<decltype(tqcast::d<int>(1)), int>::value, "d");
    static_assert(std::is_same<decltype(tqcast::lu<unsigned int>(1u)), unsigned long>::value, "lu");
    static_assert(std::is_same<decltype(tqcast::lld<unsigned int>(1u)), long long>::value, "lld");
    static_assert(std::is_same<decltype(tqcast::llu<long long>(1)), unsigned long long>::value,
                  "llu");
    static_assert(std::is_same<decltype(tqcast::toLong<long long>(1)), long>::value, "toLong");
    static_assert(std::is_same<decltype(tqcast::toULong<unsigned int>(1u)), unsigned long>::value,
                  "toULong");
    static_assert(std::is_same<decltype(tqcast::toLLong<long>(1)), long long>::value, "toLLong");
    static_assert(std::is_same<decltype(tqcast::toULLong<long long>(1)), unsigned long long>::value,
                  "toULLong");
}

TEST(AccessorsTest, UnsignedWidensWithZerosAndSameWidthKeepsBits) {
    EXPECT_EQ(tqcast::lld<unsigned int>(4294967295u), 4294967295LL);
    EXPECT_EQ(tqcast::lu<unsigned int>(4294967295u), 4294967295UL);
    EXPECT_EQ(tqcast::toULong<unsigned int>(0x80000000u), 0x80000000UL);
    // The template argument is the source type: a negative int given as unsigned int is taken
    // as its 32-bit pattern first.
    EXPECT_EQ(tqcast::lld<unsigned int>(-1), 4294967295LL);

    EXPECT_EQ(tqcast::llu<long long>(-1), ULLONG_MAX);
    EXPECT_EQ(tqcast::toULLong<long long>(-2), ULLONG_MAX - 1);
    EXPECT_EQ(tqcast::lld<unsigned long>(ULONG_MAX), -1LL);
    EXPECT_EQ(tqcast::llu<unsigned long>(ULONG_MAX), ULLONG_MAX);
    EXPECT_EQ(tqcast::lld<long long>(LLONG_MIN), LLONG_MIN);
    EXPECT_EQ(tqcast::toLong<long long>(-5), -5L);
    EXPECT_EQ(tqcast::toLLong<long>(LONG_MIN), static_cast<long long>(LONG_MIN));
    EXPECT_EQ(tqcast::toLLong<unsigned long>(12345UL), 12345LL);
    EXPECT_EQ(tqcast::d<int>(INT_MIN), INT_MIN);
}

TEST(AccessorsTest, ExceptionKeepsItsOwnCopyOfTheMessage) {
    std::string strMessage = "Not enough memory to initialize TqSemaphore";
    TqException exception(strMessage.c_str());
    strMessage.assign("overwritten");
    EXPECT_STREQ(exception.getMessage(), "Not enough memory to initialize TqSemaphore");
    EXPECT_STREQ(exception.what(), exception.getMessage());
    EXPECT_STREQ(TqException(static_cast<const char *>(nullptr)).getMessage(), "");

    try {
        throw TqException(std::string("thrown ") + "text");
    } catch (const TqException &caught) {
        EXPECT_STREQ(caught.getMessage(), "thrown text");
    }
}

TEST(AccessorsTest, SerializedBufferGrowsAndKeepsEveryByte) {
    CSerializedBuffer buffer;
    EXPECT_EQ(buffer.GetBuffer(), nullptr);
    EXPECT_EQ(buffer.GetBufferSize(), 0u);
    EXPECT_TRUE(buffer.Append(nullptr, 0));
    EXPECT_FALSE(buffer.Append(nullptr, 3));

    std::string strExpected;
    for (int i = 0; i < 1000; ++i) {
        std::string strPiece = "token" + std::to_string(i) + '\0';
        ASSERT_TRUE(buffer.Append(strPiece.data(), strPiece.size()));
        strExpected += strPiece;
    }
    ASSERT_EQ(buffer.GetBufferSize(), strExpected.size());
    EXPECT_EQ(std::string(buffer.GetBuffer(), buffer.GetBufferSize()), strExpected);

    buffer.Clear();
    EXPECT_EQ(buffer.GetBufferSize(), 0u);
    ASSERT_TRUE(buffer.Append("xy", 2));
    EXPECT_EQ(std::string(buffer.GetBuffer(), buffer.GetBufferSize()), "xy");
}

} // namespace

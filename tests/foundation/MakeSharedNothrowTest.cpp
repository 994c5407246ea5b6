#include "foundation/MakeSharedNothrow.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>

#include "foundation/Locks.h"

namespace {

int g_nLive = 0;

// Counts the objects alive, to show that a failed make leaves none behind.
struct CLiveCounter {
    CLiveCounter() { ++g_nLive; }
    ~CLiveCounter() { --g_nLive; }
};

// A buffer from an allocator that has run out of its interprocess memory.
struct CExhaustedBuffer {
    CExhaustedBuffer() { throw boost::interprocess::bad_alloc(); }
};

// The object's own allocation comes from the exhausted allocator after a member was made.
struct CNeedsInterprocessMemory {
    CLiveCounter m_counter;
    CExhaustedBuffer m_buffer;
};

struct CNeedsHeapMemory {
    CLiveCounter m_counter;
    CNeedsHeapMemory() { throw std::bad_alloc(); }
};

struct CFailsWithText {
    CFailsWithText() { throw "Not enough memory to initialize TqSemaphore"; }
};

struct CTakesArguments {
    CTakesArguments(int &nOut, const std::string &strName, std::unique_ptr<int> ptrValue)
        : m_strName(strName), m_ptrValue(std::move(ptrValue)) {
        nOut = 7;
    }
    std::string m_strName;
    std::unique_ptr<int> m_ptrValue;
    CLiveCounter m_counter;
};

TEST(MakeSharedNothrowTest, InterprocessAllocationFailureGivesEmptyPointerAndLeavesNothing) {
    g_nLive = 0;
    boost::shared_ptr<CNeedsInterprocessMemory> ptr;
    EXPECT_NO_THROW(ptr = boost::make_shared_nothrow<CNeedsInterprocessMemory>());
    EXPECT_FALSE(ptr);
    EXPECT_EQ(g_nLive, 0);
}

TEST(MakeSharedNothrowTest, OtherExceptionsReachTheCaller) {
    g_nLive = 0;
    EXPECT_THROW(boost::make_shared_nothrow<CNeedsHeapMemory>(), std::bad_alloc);
    EXPECT_EQ(g_nLive, 0);
    try {
        boost::make_shared_nothrow<CFailsWithText>();
        ADD_FAILURE() << "no exception";
    } catch (const char *szText) {
        EXPECT_STREQ(szText, "Not enough memory to initialize TqSemaphore");
    }
}

TEST(MakeSharedNothrowTest, SuccessForwardsArgumentsAndHoldsTheOnlyReference) {
    g_nLive = 0;
    int nOut = 0;
    const std::string strName = "worker";
    auto ptr =
        boost::make_shared_nothrow<CTakesArguments>(nOut, strName, std::make_unique<int>(42));
    ASSERT_TRUE(ptr);
    EXPECT_EQ(ptr.use_count(), 1);
    EXPECT_EQ(nOut, 7);
    EXPECT_EQ(ptr->m_strName, "worker");
    EXPECT_EQ(*ptr->m_ptrValue, 42);
    EXPECT_EQ(g_nLive, 1);
    ptr.reset();
    EXPECT_EQ(g_nLive, 0);
}

TEST(MakeSharedNothrowTest, MakesASemaphoreWithItsCount) {
    auto ptrSemaphore = boost::make_shared_nothrow<TqSemaphore>(1);
    ASSERT_TRUE(ptrSemaphore);
    EXPECT_TRUE(ptrSemaphore->wait(0));
    EXPECT_FALSE(ptrSemaphore->wait(0));
}

} // namespace

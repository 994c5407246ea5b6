#include "foundation/HandleOwners.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/TempDir.h"

namespace {

bool IsOpen(int nHandle) {
    return fcntl(nHandle, F_GETFD) != -1;
}

// A descriptor of its own, so that closing it touches nothing else of the process.
int NewDescriptor() {
    return open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// A stdio stream whose close is counted, to see how often the owner releases it.
FILE *CountedStream(int *pCloses) {
    cookie_io_functions_t functions{};
    functions.close = [](void *pCookie) {
        ++*static_cast<int *>(pCookie);
        return 0;
    };
    return fopencookie(pCloses, "r", functions);
}

TEST(HandleOwnersTest, ValidityTests) {
    EXPECT_FALSE(_dac_is_valid_fileptr(nullptr));
    EXPECT_TRUE(_dac_is_valid_fileptr(stderr));
    EXPECT_FALSE(_dac_is_valid_handle(-1));
    EXPECT_FALSE(_dac_is_valid_handle(-7));
    EXPECT_TRUE(_dac_is_valid_handle(0));
    EXPECT_FALSE(_dac_is_valid_find_handle_wrapper(nullptr));
}

TEST(HandleOwnersTest, HandleIsClosedOnceAndSameValueIsKept) {
    int nFirst = NewDescriptor();
    ASSERT_GE(nFirst, 0);
    {
        auto_handle handle;
        EXPECT_EQ(handle.get(), -1);
        handle.reset(nFirst);
        handle.reset(nFirst); // the same value: kept open
        EXPECT_TRUE(IsOpen(nFirst));

        int nSecond = NewDescriptor();
        handle.reset(nSecond);
        EXPECT_FALSE(IsOpen(nFirst));
        // The freed number is taken again; the owner must not close it a second time.
        int nReused = NewDescriptor();
        EXPECT_EQ(nReused, nFirst);
        handle.reset(-1);
        EXPECT_FALSE(IsOpen(nSecond));
        EXPECT_TRUE(IsOpen(nReused));
        handle.reset(nReused);
    }
    EXPECT_FALSE(IsOpen(nFirst));
}

TEST(HandleOwnersTest, HandleZeroIsClosed) {
    // Descriptor 0 is swapped for a private one while the owner holds it, then restored.
    int nSavedStdin = dup(0);
    int nPrivate = NewDescriptor();
    ASSERT_GE(nPrivate, 0);
    ASSERT_EQ(dup2(nPrivate, 0), 0);
    close(nPrivate);
    {
        auto_handle handle;
        handle.reset(0);
        EXPECT_TRUE(IsOpen(0));
    }
    EXPECT_FALSE(IsOpen(0));
    if (nSavedStdin >= 0) {
        dup2(nSavedStdin, 0);
        close(nSavedStdin);
    }
}

TEST(HandleOwnersTest, EmptyOwnersMakeNoCall) {
    // A close of -1 or of a null handle would leave an error number behind.
    errno = 0;
    {
        auto_handle handle;
        auto_fileptr file;
        auto_find_handle find;
        handle.reset(-1);
        EXPECT_EQ(&file.reset(), &file);
        find.reset(nullptr);
    }
    EXPECT_EQ(errno, 0);
}

TEST(HandleOwnersTest, SetStoresWithoutReleasing) {
    int nFirst = NewDescriptor();
    int nSecond = NewDescriptor();
    {
        auto_handle handle;
        handle.reset(nFirst);
        handle.__set(nSecond);
        EXPECT_TRUE(IsOpen(nFirst));
        EXPECT_EQ(handle.get(), nSecond);
    }
    EXPECT_FALSE(IsOpen(nSecond));
    EXPECT_TRUE(IsOpen(nFirst));
    close(nFirst);
}

TEST(HandleOwnersTest, StreamIsClosedExactlyOnce) {
    int nCloses = 0;
    {
        auto_fileptr file;
        FILE *pStream = CountedStream(&nCloses);
        ASSERT_NE(pStream, nullptr);
        file.reset(pStream);
        file.reset(pStream);
        EXPECT_EQ(nCloses, 0);
        EXPECT_EQ(file.get(), pStream);
        auto_fileptr &self = file.reset();
        EXPECT_EQ(&self, &file);
        EXPECT_EQ(nCloses, 1);
        EXPECT_EQ(file.get(), nullptr);
        file.reset(CountedStream(&nCloses));
    }
    EXPECT_EQ(nCloses, 2);

    int nSetCloses = 0;
    FILE *pKept = CountedStream(&nSetCloses);
    {
        auto_fileptr file;
        file.reset(pKept);
        file.__set(nullptr);
    }
    EXPECT_EQ(nSetCloses, 0);
    fclose(pKept);
    EXPECT_EQ(nSetCloses, 1);
}

TEST(HandleOwnersTest, FindHandleIsClosedOnce) {
    idxtest::TempDir dir;
    auto MakeWrapper = [&dir]() {
        DIR_Wrapper *pWrapper = new DIR_Wrapper;
        pWrapper->m_pDir = opendir(dir.Path().c_str());
        pWrapper->m_strFolder = dir.Path();
        return pWrapper;
    };
    DIR_Wrapper *pFirst = MakeWrapper();
    ASSERT_NE(pFirst->m_pDir, nullptr);
    int nFirstFd = dirfd(pFirst->m_pDir);
    int nSecondFd = -1;
    {
        auto_find_handle find;
        find.reset(pFirst);
        find.reset(pFirst);
        EXPECT_TRUE(IsOpen(nFirstFd));
        DIR_Wrapper *pSecond = MakeWrapper();
        nSecondFd = dirfd(pSecond->m_pDir);
        find.reset(pSecond);
        EXPECT_FALSE(IsOpen(nFirstFd));
        EXPECT_EQ(find.get(), pSecond);
    }
    EXPECT_FALSE(IsOpen(nSecondFd));
}

struct Counted {
    static int s_nDestroyed;
    int m_nValue = 0;
    ~Counted() { ++s_nDestroyed; }
};
int Counted::s_nDestroyed = 0;

TEST(HandleOwnersTest, ArrayKeepsItsOwnPointerAndFreesOthers) {
    Counted::s_nDestroyed = 0;
    Counted *pFirst = new Counted[3];
    {
        auto_ptr_array<Counted> buffer(pFirst);
        EXPECT_TRUE(buffer.is_valid());
        buffer.reset(pFirst);
        EXPECT_EQ(Counted::s_nDestroyed, 0);
        buffer[2].m_nValue = 42; // still usable
        EXPECT_EQ(pFirst[2].m_nValue, 42);

        buffer.reset(new Counted[2]);
        EXPECT_EQ(Counted::s_nDestroyed, 3);
    }
    EXPECT_EQ(Counted::s_nDestroyed, 5);

    auto_ptr_array<char> empty(nullptr);
    EXPECT_FALSE(empty.is_valid());
    empty.reset(nullptr);

    auto_ptr_array<char> text(new char[6]);
    memcpy(text.get(), "hello", 6);
    char *pText = text.release();
    EXPECT_FALSE(text.is_valid());
    EXPECT_STREQ(pText, "hello");
    delete[] pText;
}

} // namespace

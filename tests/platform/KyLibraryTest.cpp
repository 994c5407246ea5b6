#include "platform/KyLibrary.h"

#include <gtest/gtest.h>

namespace {

TEST(KyLibraryTest, LoadsALibraryAndFindsItsEntryPoint) {
    CKyLibrary library;
    CKyError error = library.Load("libc.so.6");
    ASSERT_FALSE(error.IsError()) << error.AsString();
    EXPECT_TRUE(library.IsLoaded());
    void *pAddress = nullptr;
    error = library.GetAddress("strlen", pAddress);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    ASSERT_NE(pAddress, nullptr);
    auto pStrlen = reinterpret_cast<size_t (*)(const char *)>(pAddress);
    EXPECT_EQ(pStrlen("seven.."), 7u);

    EXPECT_TRUE(library.Load("libm.so.6").IsError()); // one library per loader
    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
}

TEST(KyLibraryTest, FailuresNameTheLibraryOrTheSymbol) {
    CKyLibrary library(false);
    void *pAddress = &library;
    CKyError error = library.GetAddress("strlen", pAddress);
    EXPECT_TRUE(error.IsError());
    EXPECT_EQ(pAddress, nullptr);

    error = library.Load("libNoSuchPlugin.so");
    ASSERT_TRUE(error.IsError());
    EXPECT_NE(error.AsString().find("libNoSuchPlugin.so"), std::string::npos) << error.AsString();
    EXPECT_FALSE(library.IsLoaded());

    ASSERT_FALSE(library.Load("libc.so.6").IsError());
    error = library.GetProcAddress("noSuchEntryPoint", pAddress);
    ASSERT_TRUE(error.IsError());
    EXPECT_NE(error.AsString().find("noSuchEntryPoint"), std::string::npos) << error.AsString();
    EXPECT_EQ(pAddress, nullptr);
}

} // namespace

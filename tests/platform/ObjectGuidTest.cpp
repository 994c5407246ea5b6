// Object and version GUIDs: deterministic, sensitive to every argument that is part of the
// name, normalised for trailing delimiters; random GUIDs: version 4 and distinct.
#include "platform/ObjectGuid.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "tests/support/TextShape.h"

using idxtest::MatchesShape;

namespace {

std::string Object(const std::string &strPath, bool bIgnoreCase = false) {
    std::string strGuid;
    EXPECT_FALSE(GetObjectGuid(strPath, bIgnoreCase, '/', strGuid).IsError());
    return strGuid;
}

std::string Version(const std::string &strPath, const std::string &strApp, int64_t llModified,
                    int64_t llChanged, uint64_t ullSize, uint32_t nFlags) {
    std::string strGuid;
    EXPECT_FALSE(GetVersionGuid(strPath, strApp, llModified, llChanged, ullSize, nFlags, false, '/',
                                strGuid, 0)
                     .IsError());
    return strGuid;
}

const char kNameBasedShape[] = "xxxxxxxx-xxxx-5xxx-vxxx-xxxxxxxxxxxx";

TEST(ObjectGuidTest, ObjectGuidIsANameBasedFunctionOfThePath) {
    const std::string strGuid = Object("/data/a.txt");
    EXPECT_TRUE(MatchesShape(strGuid, kNameBasedShape)) << strGuid;
    EXPECT_EQ(strGuid, Object("/data/a.txt"));
    EXPECT_EQ(strGuid, Object("/data/a.txt/"));
    EXPECT_EQ(strGuid, Object("/data/a.txt//"));
    EXPECT_NE(strGuid, Object("/data/A.txt"));
    EXPECT_EQ(Object("/data/a.txt", true), Object("/DATA/A.TXT", true));
    EXPECT_NE(Object("/"), Object("/data"));
    EXPECT_NE(Object("UNC-NT_srv\\share"), Object("\\\\srv\\share"));
}

// Keys already stored in an index must never change: they are exactly the RFC 4122 version-5
// identifiers of these name spaces, as Boost.Uuid's generator makes them, whatever computes them.
TEST(ObjectGuidTest, KeysAreTheVersionFiveIdentifiersOfTheirNameSpaces) {
    const boost::uuids::uuid objectSpace = {{0x5c, 0x0b, 0x7e, 0x31, 0x8a, 0x4d, 0x4f, 0x62, 0x9e,
                                             0x15, 0x27, 0xd3, 0x40, 0xb8, 0x6a, 0x91}};
    const boost::uuids::uuid versionSpace = {{0xa3, 0x6f, 0x12, 0xc4, 0x5e, 0x20, 0x4b, 0x8d, 0xb7,
                                              0x09, 0x6c, 0xe1, 0xf4, 0x38, 0x52, 0x7a}};
    boost::uuids::name_generator_sha1 objectKey(objectSpace);
    boost::uuids::name_generator_sha1 versionKey(versionSpace);
    const std::vector<std::string> vecPaths = {"/",
                                               "/data/a.txt",
                                               "inv\xff\xfe.txt",
                                               "/d/\xc3\xa9t\xc3\xa9",
                                               std::string(5000, 'x'),
                                               std::string("/nul\0inside", 11)};
    for (const std::string &strPath : vecPaths) {
        SCOPED_TRACE(strPath.size());
        EXPECT_EQ(boost::uuids::to_string(objectKey(strPath)), Object(strPath));
    }
    EXPECT_EQ(boost::uuids::to_string(versionKey(std::string("2:/a3:app3:1003:2003:3001:0"))),
              Version("/a", "app", 100, 200, 300, 0));
    EXPECT_EQ(boost::uuids::to_string(versionKey(std::string("2:/b0:2:-12:-21:01:7"))),
              Version("/b", "", -1, -2, 0, 7));
}

TEST(ObjectGuidTest, EmptyPathIsRefusedAndLeavesTheOutput) {
    std::string strGuid = "before";
    CKyError error = GetObjectGuid("", false, '/', strGuid);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
    EXPECT_EQ("before", strGuid);
    error = GetVersionGuid("", "", 0, 0, 0, 0, false, '/', strGuid, 0);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
    error = GetVersionGuid("/a", "", 0, 0, 0, 0, false, '/', strGuid, 1);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
    EXPECT_EQ("before", strGuid);
}

TEST(ObjectGuidTest, VersionGuidChangesWithEveryArgument) {
    const std::string strBase = Version("/a", "app", 100, 200, 300, 0);
    EXPECT_TRUE(MatchesShape(strBase, kNameBasedShape));
    EXPECT_EQ(strBase, Version("/a", "app", 100, 200, 300, 0));
    EXPECT_EQ(strBase, Version("/a/", "app", 100, 200, 300, 0));
    const std::vector<std::string> vecOthers = {
        Version("/b", "app", 100, 200, 300, 0),
        Version("/a", "app2", 100, 200, 300, 0),
        Version("/a", "app", 101, 200, 300, 0),
        Version("/a", "app", 100, 201, 300, 0),
        Version("/a", "app", 100, 200, 301, 0),
        Version("/a", "app", 100, 200, 300, 1),
        // Texts are length-prefixed: moving characters between path and application GUID
        // gives another name.
        Version("/aa", "pp", 100, 200, 300, 0),
        Version("/a", "app", 100, 200, 300, 2),
    };
    std::set<std::string> setAll(vecOthers.begin(), vecOthers.end());
    setAll.insert(strBase);
    EXPECT_EQ(vecOthers.size() + 1, setAll.size());
    // An object key and a version key of one path never coincide.
    EXPECT_NE(Object("/a"), strBase);
}

TEST(ObjectGuidTest, RandomGuidsAreVersionFourAndDistinct) {
    std::set<std::string> setSeen;
    for (int i = 0; i < 100; ++i) {
        const std::string strGuid = GenerateRandomGuid();
        EXPECT_TRUE(MatchesShape(strGuid, "xxxxxxxx-xxxx-4xxx-vxxx-xxxxxxxxxxxx")) << strGuid;
        setSeen.insert(strGuid);
    }
    EXPECT_EQ(100u, setSeen.size());
}

} // namespace

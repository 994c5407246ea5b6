#include "foundation/StringHelpers.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

TEST(StringHelpersTest, CaseInsensitiveComparisons) {
    EXPECT_EQ(_stricmp("ABC", "abc"), 0);
    EXPECT_LT(_stricmp("abc", "ABD"), 0);
    EXPECT_GT(_stricmp("b", "A"), 0);
    EXPECT_TRUE(FXString::MatchesNoCase("ABC", "abc"));
    EXPECT_FALSE(FXString::MatchesNoCase("abc", "abcd"));
    EXPECT_EQ(FXString::CompareNoCase("UNC-NT_x", "unc-nt_X"), 0);
    EXPECT_LT(FXString::CompareNoCase("a", "B"), 0);
}

TEST(StringHelpersTest, MatchLeftAndRightCountCase) {
    struct Case {
        const char *szText;
        const char *szPart;
        bool bLeft;
        bool bRight;
    };
    const Case cases[] = {
        {"ab", "abc", false, false},
        {"b", "ab", false, false},
        {"x.tmp", ".TMP", false, false},
        {"x.tmp", ".tmp", false, true},
        {"abc", "ab", true, false},
        {"abc", "", true, true},
        {"", "", true, true},
        {"/a/b/", "/", true, true},
        {"Success", "success", false, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FXString::MatchLeft(c.szText, c.szPart), c.bLeft) << c.szText << " " << c.szPart;
        EXPECT_EQ(FXString::MatchRight(c.szText, c.szPart), c.bRight)
            << c.szText << " " << c.szPart;
    }
}

TEST(StringHelpersTest, TrimAndRemoveRight) {
    const std::pair<const char *, const char *> trims[] = {
        {" \t a b \t", "a b"}, {"\t\t", ""}, {"", ""}, {"x", "x"}, {"\n x \n", "\n x \n"}};
    for (const auto &trim : trims) {
        std::string strText = trim.first;
        FXString::TrimWhiteSpace(strText);
        EXPECT_EQ(strText, trim.second);
    }
    std::string strText = "--a-b--";
    FXString::Trim(strText, "-");
    EXPECT_EQ(strText, "a-b");

    std::string strPath = "/a/b//";
    EXPECT_TRUE(FXString::RemoveRight(strPath, "/"));
    EXPECT_EQ(strPath, "/a/b/");
    EXPECT_FALSE(FXString::RemoveRight(strPath, "B/"));
    EXPECT_FALSE(FXString::RemoveRight(strPath, ""));
    EXPECT_EQ(strPath, "/a/b/");

    // Without regard to case: an engine URL loses its trailing "update" in any spelling.
    const struct {
        const char *szText;
        const char *szSuffix;
        bool bRemoved;
        const char *szAfter;
    } cases[] = {{"http://h/solr/c/UpDate", "update", true, "http://h/solr/c/"},
                 {"http://h/solr/c/update/", "update", false, "http://h/solr/c/update/"},
                 {"date", "update", false, "date"},
                 {"x", "", false, "x"}};
    for (const auto &c : cases) {
        std::string strUrl = c.szText;
        EXPECT_EQ(FXString::RemoveRightNoCase(strUrl, c.szSuffix), c.bRemoved) << c.szText;
        EXPECT_EQ(strUrl, c.szAfter);
    }
}

TEST(StringHelpersTest, SplitKeepsEmptyPieces) {
    using V = std::vector<std::string>;
    EXPECT_EQ(FXString::Split("a,,b", ","), (V{"a", "", "b"}));
    EXPECT_EQ(FXString::Split("1|0@2|5", "@"), (V{"1|0", "2|5"}));
    EXPECT_EQ(FXString::Split("a::b::", "::"), (V{"a", "b", ""}));
    EXPECT_EQ(FXString::Split("abc", ","), (V{"abc"}));
    EXPECT_EQ(FXString::Split("abc", ""), (V{"abc"}));
    EXPECT_TRUE(FXString::Split("", ",").empty());
}

TEST(StringHelpersTest, FormatCaseReplaceAndNumeric) {
    std::string strOutside = "50%s";
    EXPECT_EQ(FXString::Format("%s-%d-%X", strOutside.c_str(), 7, 255u), "50%s-7-FF");
    EXPECT_EQ(FXString::Format("%s", std::string(1000, 'x').c_str()).size(), 1000u);
    EXPECT_EQ(FXString::ToLower("AbC-\xC4Z"), "abc-\xC4z");
    EXPECT_EQ(FXString::ToUpper("aBc-1"), "ABC-1");

    std::string strText = "a.b.c";
    EXPECT_EQ(FXString::Replace(strText, ".", ".."), 2u);
    EXPECT_EQ(strText, "a..b..c");
    EXPECT_EQ(FXString::Replace(strText, "", "x"), 0u);
    EXPECT_EQ(FXString::Replace(strText, "q", "x"), 0u);
    EXPECT_EQ(strText, "a..b..c");

    for (const char *szYes : {"0", "0123", "18446744073709551615"}) {
        EXPECT_TRUE(FXString::IsNumeric(szYes)) << szYes;
    }
    for (const char *szNo : {"", "-1", " 1", "1a", "1.0"}) {
        EXPECT_FALSE(FXString::IsNumeric(szNo)) << szNo;
    }
}

TEST(StringHelpersTest, PathDelimitersAndAppend) {
    const std::pair<const char *, const char *> trailing[] = {
        {"/a", "/a/"}, {"/a/", "/a/"}, {"", "/"}, {"/", "/"}};
    for (const auto &item : trailing) {
        std::string strPath = item.first;
        EXPECT_FALSE(FXPath::AppendTrailingDelimiter(strPath).IsError());
        EXPECT_EQ(strPath, item.second);
        EXPECT_FALSE(FXPath::RemoveTrailingDelimiter(strPath).IsError());
        EXPECT_FALSE(FXString::MatchRight(strPath, "/")) << item.first;
    }

    struct Join {
        const char *szPath;
        const char *szName;
        const char *szResult;
    };
    const Join joins[] = {{"/a", "b", "/a/b"},  {"/a/", "b", "/a/b"}, {"/a/", "/b", "/a/b"},
                          {"/a", "/b", "/a/b"}, {"", "b", "b"},       {"/a", "", "/a"},
                          {"/", "etc", "/etc"}};
    for (const Join &j : joins) {
        std::string strPath = j.szPath;
        EXPECT_FALSE(FXPath::Append(strPath, j.szName, 0).IsError());
        EXPECT_EQ(strPath, j.szResult);
        EXPECT_EQ(FXPath::Join(j.szPath, j.szName), j.szResult);
    }
}

TEST(StringHelpersTest, SplitParentPath) {
    struct Case {
        const char *szPath;
        const char *szParent;
        const char *szName;
    };
    const Case cases[] = {{"/a/b", "/a", "b"},
                          {"/a/b/", "/a", "b"},
                          {"/a", "/", "a"},
                          {"a", "", "a"},
                          {"/", "", "/"},
                          {"//x//y", "//x", "y"},
                          {"a/b/c.txt", "a/b", "c.txt"}};
    for (const Case &c : cases) {
        std::string strParent = "old", strName = "old";
        EXPECT_FALSE(FXPath::SplitParentPath(c.szPath, strParent, strName).IsError());
        EXPECT_EQ(strParent, c.szParent) << c.szPath;
        EXPECT_EQ(strName, c.szName) << c.szPath;
        EXPECT_EQ(FXPath::GetParent(c.szPath), c.szParent);
        EXPECT_EQ(FXPath::GetFileName(c.szPath), c.szName);
    }
    std::string strParent = "old", strName = "old";
    CKyError error = FXPath::SplitParentPath("", strParent, strName);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
    EXPECT_TRUE(strParent.empty());
    EXPECT_TRUE(strName.empty());
}

TEST(StringHelpersTest, ReplaceLeftCountsCase) {
    std::string strPath = "\\\\UNC\\server\\share";
    EXPECT_TRUE(FXString::ReplaceLeft(strPath, "\\\\UNC\\", "\\\\"));
    EXPECT_EQ(strPath, "\\\\server\\share");
    std::string strLower = "\\\\unc\\server";
    EXPECT_FALSE(FXString::ReplaceLeft(strLower, "\\\\UNC\\", "\\\\"));
    EXPECT_EQ(strLower, "\\\\unc\\server");
}

TEST(StringHelpersTest, ReplacePathMovesAPathFromUnderOneFolderToAnother) {
    struct Case {
        const char *szPath;
        const char *szFrom;
        const char *szTo;
        const char *szResult; // null: not under szFrom, left as it is
    };
    const Case cases[] = {
        {"/mnt/vm/0/Windows/a.txt", "/mnt/vm/0", "C:", "C:/Windows/a.txt"},
        {"/mnt/vm/0/Windows/a.txt", "/mnt/vm/0/", "C:/", "C:/Windows/a.txt"},
        {"/mnt/vm/0", "/mnt/vm/0", "C:", "C:"},
        {"/mnt/vm/0/", "/mnt/vm/0", "D:", "D:/"},
        {"/mnt/vm/01/a", "/mnt/vm/0", "C:", nullptr},
        {"/MNT/vm/0/a", "/mnt/vm/0", "C:", nullptr},
        {"/mnt/vm", "/mnt/vm/0", "C:", nullptr},
        {"/data/a", "/", "/vol", "/vol/data/a"},
        {"relative/a", "/", "/vol", nullptr},
        {"/mnt/vm/0/a", "/mnt/vm/0", "", "/a"},
    };
    for (const Case &c : cases) {
        std::string strPath = c.szPath;
        CKyError error = FXPath::ReplacePath(strPath, c.szFrom, c.szTo);
        if (c.szResult == nullptr) {
            EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << c.szPath << " " << c.szFrom;
            EXPECT_EQ(strPath, c.szPath);
        } else {
            EXPECT_FALSE(error.IsError()) << c.szPath << " " << c.szFrom;
            EXPECT_EQ(strPath, c.szResult) << c.szPath << " " << c.szFrom;
        }
    }
    std::string strPath = "/a";
    EXPECT_TRUE(FXErrorUtil::IsWin32(FXPath::ReplacePath(strPath, "", "/b"), 87));
    EXPECT_EQ(strPath, "/a");
}

TEST(StringHelpersTest, BoundedCopy) {
    struct Case {
        size_t cchDest;
        const char *szSrc;
        const char *szExpected;
        uint32_t nResult;
    };
    const Case cases[] = {
        {4, "abcdef", "abc", STRSAFE_E_INSUFFICIENT_BUFFER},
        {4, "abcd", "abc", STRSAFE_E_INSUFFICIENT_BUFFER},
        {4, "abc", "abc", 0},
        {4, "", "", 0},
        {1, "a", "", STRSAFE_E_INSUFFICIENT_BUFFER},
        {1, "", "", 0},
    };
    for (const Case &c : cases) {
        char szBuffer[8];
        memset(szBuffer, '#', sizeof(szBuffer));
        EXPECT_EQ(StringCchCopyA(szBuffer, c.cchDest, c.szSrc), c.nResult) << c.szSrc;
        EXPECT_STREQ(szBuffer, c.szExpected);
        // Nothing is written past the buffer.
        EXPECT_EQ(szBuffer[c.cchDest], '#');
    }
    for (size_t cchDest : {size_t(0), size_t(0x80000000u)}) {
        char szBuffer[4] = {'x', 'y', 'z', 'w'};
        EXPECT_EQ(StringCchCopyA(szBuffer, cchDest, "abc"), STRSAFE_E_INVALID_PARAMETER);
        EXPECT_EQ(std::string(szBuffer, 4), "xyzw");
    }
    EXPECT_EQ(STRSAFE_E_INVALID_PARAMETER, 0x80070057u);
    EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, 0x8007007Au);
}

TEST(StringHelpersTest, AncestorGoesByWholeComponents) {
    struct Case {
        const char *szAncestor;
        const char *szPath;
        bool bIgnoreCase;
        bool bAncestor;
    };
    const Case cases[] = {
        {"/vm", "/vm/disk1/a", false, true}, {"/vm/", "/vm/disk1", false, true},
        {"/vm", "/vm", false, true},         {"/vm", "/vm/", false, true},
        {"/vm", "/vmx/a", false, false},     {"/vm/disk1", "/vm/x", false, false},
        {"/", "/anything", false, true},     {"", "/vm", false, false},
        {"/vm", "", false, false},           {"/VM", "/vm/a", false, false},
        {"/VM", "/vm/a", true, true},        {"/vm/disk1/a", "/vm/disk1", false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.szAncestor) + " of " + c.szPath);
        EXPECT_EQ(c.bAncestor, FXPath::IsAncestorOf(c.szAncestor, c.szPath, c.bIgnoreCase));
    }
}

} // namespace

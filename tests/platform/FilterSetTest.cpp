#include "platform/FilterSet.h"

#include <gtest/gtest.h>

namespace {

struct MatchCase {
    const char *szPattern;
    const char *szPath;
    bool bIn;
};

TEST(FilterSetTest, WildcardPatternsMatchAsDocumented) {
    const MatchCase cases[] = {
        // "**" spans any number of folders, none included.
        {"/**/*.tmp", "/x.tmp", true},
        {"/**/*.tmp", "/a/b/c/x.tmp", true},
        {"/**/*.tmp", "/a/b/x.tmpl", false},
        {"/**/*.tmp", "/a/b/x.tmp/inner.doc", true}, // below a matched folder
        {"/**/docs", "/home/u/docs", true},
        {"/**/docs", "/home/u/docs/report.pdf", true},
        {"/**/docs", "/home/u/mydocs/report.pdf", false},
        // "*" and "?" stay within one component.
        {"/data/*.log", "/data/app.log", true},
        {"/data/*.log", "/data/sub/app.log", false},
        {"/data/?.log", "/data/a.log", true},
        {"/data/?.log", "/data/ab.log", false},
        {"/data/[ab]*.txt", "/data/beta.txt", true},
        {"/data/[ab]*.txt", "/data/gamma.txt", false},
        // A plain path takes in its folder's contents, and only whole components.
        {"/mnt/vm/Windows", "/mnt/vm/Windows", true},
        {"/mnt/vm/Windows", "/mnt/vm/Windows/System32/x.dll", true},
        {"/mnt/vm/Windows", "/mnt/vm/WindowsOld/x.dll", false},
        {"/mnt/vm/Windows/", "/mnt/vm/Windows/a", true},
        {"/", "/anything/at/all", true},
        // A relative pattern matches at any depth.
        {"*.iso", "/images/disk.iso", true},
        {"*.iso", "/disk.iso", true},
        {"cache", "/var/cache/x", true},
        {"cache", "/var/cached/x", false},
        // Letters match without regard to case by default.
        {"/**/*.PDF", "/a/report.pdf", true},
        {"/**/*.pdf", "/A/REPORT.PDF", true},
        // Backslashes are plain characters, never escapes.
        {"/share/a\\b", "/share/a\\b", true},
        {"/share/a\\*", "/share/a\\anything", true},
        // Repeated slashes in a path are one separator.
        {"/data/*.log", "//data//x.log", true},
        {"/**/*.tmp", "", false},
    };
    for (const MatchCase &matchCase : cases) {
        CFilterSet set;
        ASSERT_FALSE(set.AddFilterItem(matchCase.szPattern, 1).IsError()) << matchCase.szPattern;
        EXPECT_EQ(set.IsIn(matchCase.szPath), matchCase.bIn)
            << matchCase.szPattern << " against " << matchCase.szPath;
    }
}

TEST(FilterSetTest, IncludeAndExcludeSetsAsAVirtualMachineJobUsesThem) {
    CFilterSet include;
    CFilterSet exclude;
    CFilterSet excludedPaths;
    for (const char *szPattern : {"/**/*.doc", "/**/*.pdf"}) {
        EXPECT_FALSE(include.AddFilterItem(szPattern, 1).IsError());
    }
    EXPECT_FALSE(exclude.AddFilterItem("/**/*.tmp", 1).IsError());
    EXPECT_FALSE(excludedPaths.AddFilterItem("/C/Windows", 1).IsError());

    struct Expectation {
        const char *szPath;
        bool bIncluded;
        bool bExcluded;
        bool bExcludedPath;
    };
    const Expectation expectations[] = {
        {"/C/Users/a/letter.doc", true, false, false},
        {"/C/Users/a/scan.PDF", true, false, false},
        {"/C/Users/a/~draft.tmp", false, true, false},
        {"/C/Windows/help/readme.doc", true, false, true},
        {"/C/Users/a/notes.txt", false, false, false},
    };
    for (const Expectation &expectation : expectations) {
        EXPECT_EQ(include.IsIn(expectation.szPath), expectation.bIncluded) << expectation.szPath;
        EXPECT_EQ(exclude.IsIn(expectation.szPath), expectation.bExcluded) << expectation.szPath;
        EXPECT_EQ(excludedPaths.IsIn(expectation.szPath), expectation.bExcludedPath)
            << expectation.szPath;
    }
}

TEST(FilterSetTest, AnExcludedNodeWinsOverIncludedOnes) {
    CFilterSet set;
    EXPECT_FALSE(set.AddFilterItem("/data", 1).IsError());
    EXPECT_FALSE(set.AddFilterItem("/data/private", BFilterNodeState::eExcluded).IsError());
    EXPECT_TRUE(set.IsIn("/data/public/a.txt"));
    EXPECT_FALSE(set.IsIn("/data/private/a.txt"));
    EXPECT_FALSE(set.IsIn("/other/a.txt"));

    // Only excluded nodes: nothing is in.
    CFilterSet onlyExcluded;
    EXPECT_FALSE(onlyExcluded.AddFilterItem("/tmp", BFilterNodeState::eExcluded).IsError());
    EXPECT_FALSE(onlyExcluded.IsIn("/home/a"));
}

TEST(FilterSetTest, EmptySetsHoldNothingAndBadPatternsAreRefused) {
    CFilterSet set;
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_FALSE(set.IsIn("/a"));
    EXPECT_FALSE(set.IsIn("/"));

    CKyError error = set.AddFilterItem("", 1);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
    EXPECT_TRUE(set.IsEmpty());

    EXPECT_FALSE(set.AddFilterItem("/**/*.doc", 1).IsError());
    EXPECT_FALSE(set.AddFilterItem("/**/*.doc", 1).IsError());
    EXPECT_EQ(set.GetCount(), 1u);
    set.Clear();
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_FALSE(set.IsIn("/a/b.doc"));
}

TEST(FilterSetTest, CaseSensitiveSetsTellCasesApart) {
    CFilterSet set(true);
    EXPECT_FALSE(set.AddFilterItem("/**/*.PDF", 1).IsError());
    EXPECT_TRUE(set.IsIn("/a/b.PDF"));
    EXPECT_FALSE(set.IsIn("/a/b.pdf"));
}

TEST(FilterSetTest, ManyStarsStayFast) {
    // A pattern that would explode a naive backtracking matcher.
    CFilterSet set;
    EXPECT_FALSE(set.AddFilterItem("/**/a/**/a/**/a/**/a/**/a/**/b", 1).IsError());
    std::string strPath;
    for (int i = 0; i < 60; ++i) {
        strPath += "/a";
    }
    EXPECT_FALSE(set.IsIn(strPath + "/c"));
    EXPECT_TRUE(set.IsIn(strPath + "/b"));
}

} // namespace

#include "platform/ScanMisc.h"

#include <gtest/gtest.h>

namespace {

TEST(ScanMiscTest, NetworkPathsAreSplitIntoServerShareAndRest) {
    struct Case {
        const char *szPath;
        bool bUnc;
        bool bParses;
        const char *szServer;
        const char *szShare;
        const char *szRest;
    };
    const Case cases[] = {
        {"\\\\srv\\share", true, true, "srv", "share", ""},
        {"\\\\srv\\share\\", true, true, "srv", "share", ""},
        {"\\\\srv\\share\\dir\\f.txt", true, true, "srv", "share", "dir\\f.txt"},
        {"\\\\srv/share/dir", true, true, "srv", "share", "dir"},
        {"UNC-NT_srv\\share\\dir", false, true, "srv", "share", "dir"},
        {"\\\\srv", true, false, "", "", ""},
        {"\\\\", true, false, "", "", ""},
        {"/home/a", false, false, "", "", ""},
        {"unc-nt_srv\\share", false, false, "", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szPath);
        EXPECT_EQ(c.bUnc, SXScanMisc::IsUncPath(c.szPath));
        EXPECT_EQ(c.bUnc, FXFile::IsVolumeUnc(c.szPath));
        std::string strServer = "x", strShare = "x", strRest = "x";
        CKyError error = SXScanMisc::ParseUncPath(c.szPath, strServer, strShare, strRest);
        EXPECT_EQ(!c.bParses, error.IsError());
        EXPECT_EQ(c.szServer, strServer);
        EXPECT_EQ(c.szShare, strShare);
        EXPECT_EQ(c.szRest, strRest);
    }
}

} // namespace

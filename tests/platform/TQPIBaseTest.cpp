// The installation's home folder: the operator's variable first, else the library's folder.
#include "platform/TQPIBase.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace {

// Sets or clears IDX_HOME_DIR for one test and puts the old value back.
class HomeVariableScope {
public:
    HomeVariableScope() {
        const char *szOld = getenv("IDX_HOME_DIR");
        m_bHadValue = szOld != nullptr;
        m_strOld = szOld ? szOld : "";
    }
    ~HomeVariableScope() {
        if (m_bHadValue) {
            setenv("IDX_HOME_DIR", m_strOld.c_str(), 1);
        } else {
            unsetenv("IDX_HOME_DIR");
        }
    }

private:
    bool m_bHadValue;
    std::string m_strOld;
};

TEST(TQPIBaseTest, HomeDirectoryComesFromTheVariableOrTheLibrarysFolder) {
    HomeVariableScope scope;
    setenv("IDX_HOME_DIR", "/opt/installed/here", 1);
    EXPECT_EQ(TQPI_Base().getHomeDirectory(), "/opt/installed/here");

    for (bool bSetEmpty : {true, false}) {
        if (bSetEmpty) {
            setenv("IDX_HOME_DIR", "", 1);
        } else {
            unsetenv("IDX_HOME_DIR");
        }
        const std::string strHome = TQPI_Base().getHomeDirectory();
        ASSERT_FALSE(strHome.empty());
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(strHome) / "libidxplatform.so"))
            << strHome;
    }
}

TEST(TQPIBaseTest, JobResultsLiveInTheHomeFolder) {
    HomeVariableScope scope;
    setenv("IDX_HOME_DIR", "/opt/installed/here/", 1);
    EXPECT_EQ(TQPI_CommClient().getJobResultsDirectory("any-machine"),
              "/opt/installed/here/JobResults");
}

} // namespace

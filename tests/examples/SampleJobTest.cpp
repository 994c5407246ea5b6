// The sample job as the README runs it: the program itself for what it says about its folder, and
// scripts/run-example for the library log the script makes, which a run keeps only when something
// was written to it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// The variables through which an operator steers the sample job; a test sets its own.
const std::vector<std::string> kOperatorVariables = {"IDX_LOG_FILE", "IDX_LOG_LEVEL",
                                                     "IDX_JOB_EVENTS", "IDX_MANAGEMENT_REPLY",
                                                     "IDX_PLATFORM_SETTINGS"};

TEST(SampleJobTest, AFolderThatIsNotThereIsNamedWithExitStatusTwo) {
    idxtest::TempDir dir;
    const std::string strMissing = dir / "no-such-folder";
    const std::string strFile = dir.WriteFile("plain.txt", "x");
    const struct {
        std::string strFolder;
        std::string strSaid;
    } cases[] = {{strMissing, "folder not found: " + strMissing},
                 {strFile, "not a folder: " + strFile}};
    for (const auto &c : cases) {
        const std::string strOutput = dir / "output.txt";
        EXPECT_EQ(idxtest::RunProgram({IDX_SAMPLE_JOB, c.strFolder}, strOutput), 2);
        const std::string strText = idxtest::ReadWholeFile(strOutput);
        EXPECT_NE(strText.find(c.strSaid), std::string::npos) << strText;
    }
}

// scripts/run-example in a tree of its own whose build step stands done and whose
// build/Release is this build, so that the script runs as it is without building anything.
class RunExampleScript {
public:
    RunExampleScript() {
        m_dir.WriteFile("root/scripts/build", "#!/bin/sh\nexit 0\n");
        fs::copy_file(fs::path(IDX_SOURCE_DIR) / "scripts" / "run-example",
                      m_dir / "root/scripts/run-example");
        for (const char *szScript : {"build", "run-example"}) {
            chmod((m_dir / "root/scripts/" + szScript).c_str(), 0755);
        }
        fs::create_directories(m_dir / "root/build");
        fs::create_directory_symlink(IDX_BUILD_DIR, m_dir / "root/build/Release");
        m_dir.WriteFile("job/a.txt", "a");
        m_dir.WriteFile("job/sub/b.txt", "b");
    }

    // Runs the script on the job folder at the log level; its exit status and its output.
    int Run(const std::string &strLevel, std::string &strOutput) {
        const std::vector<std::string> vecEnvironment =
            idxtest::EnvironmentWith(kOperatorVariables, {"IDX_LOG_LEVEL=" + strLevel});
        const std::string strOutputFile = m_dir / "output.txt";
        const int nStatus =
            idxtest::RunProgram({"/bin/bash", m_dir / "root/scripts/run-example", m_dir / "job"},
                                strOutputFile, &vecEnvironment);
        strOutput = idxtest::ReadWholeFile(strOutputFile);
        return nStatus;
    }

private:
    idxtest::TempDir m_dir;
};

// The library logs named in the output: the words that hold "/idx-sample-log.", each once.
std::vector<std::string> NamedLogs(const std::string &strOutput) {
    std::vector<std::string> vecLogs;
    const std::string strMark = "/idx-sample-log.";
    for (size_t nAt = strOutput.find(strMark); nAt != std::string::npos;
         nAt = strOutput.find(strMark, nAt + strMark.size())) {
        const size_t nStart = strOutput.find_last_of(" \n", nAt) + 1;
        const size_t nEnd = strOutput.find_first_of(" \n", nAt);
        const std::string strPath = strOutput.substr(nStart, nEnd - nStart);
        if (std::find(vecLogs.begin(), vecLogs.end(), strPath) == vecLogs.end()) {
            vecLogs.push_back(strPath);
        }
    }
    return vecLogs;
}

TEST(SampleJobTest, TheScriptKeepsTheLibraryLogOnlyWhenSomethingWasWrittenToIt) {
    RunExampleScript script;
    // At level -1 a clean run writes no line; at level 0 it writes its settings and totals.
    for (const char *szLevel : {"-1", "0"}) {
        SCOPED_TRACE(std::string("IDX_LOG_LEVEL=") + szLevel);
        std::string strOutput;
        EXPECT_EQ(script.Run(szLevel, strOutput), 0) << strOutput;
        EXPECT_NE(strOutput.find("sample job succeeded"), std::string::npos) << strOutput;
        const std::vector<std::string> vecLogs = NamedLogs(strOutput);
        ASSERT_EQ(vecLogs.size(), 1u) << strOutput;
        std::error_code ec;
        const bool bKept = fs::exists(vecLogs[0], ec);
        if (std::string(szLevel) == "-1") {
            EXPECT_FALSE(bKept) << vecLogs[0] << " is left behind, "
                                << fs::file_size(vecLogs[0], ec) << " bytes";
            EXPECT_NE(strOutput.find("library log: nothing was written"), std::string::npos)
                << strOutput;
        } else {
            EXPECT_TRUE(bKept) << strOutput;
            EXPECT_GT(fs::file_size(vecLogs[0], ec), 0u);
        }
        fs::remove(vecLogs[0], ec);
    }
}

} // namespace

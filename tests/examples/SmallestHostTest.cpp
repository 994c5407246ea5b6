// The smallest host example run as the program it is, against the engine stand-in: what it
// queues reaches the engine and is committed, and without an engine it says so and fails at once.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/RefusingPort.h"
#include "tests/support/TempDir.h"
#include "tests/support/engine/EngineStub.h"

namespace {

// Runs the example with the arguments, its output to strOutput; its exit status, or -1.
int RunSmallestHost(const std::vector<std::string> &vecArgs, const std::string &strOutput) {
    std::vector<std::string> vecAll = {IDX_SMALLEST_HOST};
    vecAll.insert(vecAll.end(), vecArgs.begin(), vecArgs.end());
    return idxtest::RunProgram(vecAll, strOutput);
}

TEST(SmallestHostTest, QueuedPathsReachTheEngineAndAreCommitted) {
    idxtest::TempDir dir;
    idxtest::EngineStub stub;
    const std::string strSubClient = dir / "subclient";
    const std::vector<std::string> vecPaths = {dir.WriteFile("tree/a.txt", "a"),
                                               dir.WriteFile("tree/deep/b.txt", "b"), dir / "tree"};
    dir.WriteFile("subclient/.keep", "");
    std::vector<std::string> vecArgs = {stub.UpdateUrl(), strSubClient};
    vecArgs.insert(vecArgs.end(), vecPaths.begin(), vecPaths.end());

    const std::string strOutput = dir / "output.txt";
    EXPECT_EQ(RunSmallestHost(vecArgs, strOutput), 0) << idxtest::ReadWholeFile(strOutput);
    EXPECT_NE(idxtest::ReadWholeFile(strOutput).find("queued 3 of 3, failed 0"), std::string::npos)
        << idxtest::ReadWholeFile(strOutput);
    std::set<std::string> setUrls;
    for (const auto &entry : stub.Documents()) {
        setUrls.insert(entry.second.Value("Url"));
    }
    EXPECT_EQ(setUrls, std::set<std::string>(vecPaths.begin(), vecPaths.end()));
    EXPECT_GE(stub.CommitCount(), 1);
    EXPECT_EQ(idxtest::ReadWholeFile(strSubClient + "/SolrScanFailures.tqf"), "");
}

TEST(SmallestHostTest, WithoutAnEngineItSaysSoAndFails) {
    idxtest::TempDir dir;
    idxtest::RefusingPort port;
    dir.WriteFile("subclient/.keep", "");
    const std::string strOutput = dir / "output.txt";
    EXPECT_EQ(RunSmallestHost({port.Url("/solr/collection1/update"), dir / "subclient",
                               dir.WriteFile("a.txt", "a")},
                              strOutput),
              1);
    EXPECT_NE(idxtest::ReadWholeFile(strOutput).find("no engine answers at " +
                                                     port.Url("/solr/collection1/")),
              std::string::npos)
        << idxtest::ReadWholeFile(strOutput);
}

TEST(SmallestHostTest, WrongUsageIsExitStatusTwo) {
    idxtest::TempDir dir;
    EXPECT_EQ(RunSmallestHost({"http://127.0.0.1:1/solr/collection1/update"}, dir / "out.txt"), 2);
}

} // namespace

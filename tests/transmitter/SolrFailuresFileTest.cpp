#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/testing/LogCapture.h"
#include "tests/support/TempDir.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

using idxtest::ReadWholeFile;
using idxtest::TempDir;

namespace {

bool FileExists(const std::string &strPath) {
    struct stat status;
    return stat(strPath.c_str(), &status) == 0;
}

CSolrTransmitterPrivatePtr MakeState(const std::string &strSubClientDir, bool bScanPhase) {
    CSolrTransmitterPrivatePtr ptrState =
        boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
    ptrState->m_ptrOptions->SetSubClientDir(strSubClientDir);
    ptrState->m_ptrOptions->SetScanPhase(bScanPhase);
    return ptrState;
}

} // namespace

TEST(SolrFailuresFileTest, ScanPhaseRewritesItsListAndCountsNothing) {
    TempDir dir;
    dir.WriteFile("SolrScanFailures.tqf", "old1\nold2\n");
    dir.WriteFile("SolrBackupFailures.tqf", "b1\nb2\n");
    dir.WriteFile("scan_Failures.tqf", "s1\n");
    CSolrTransmitterPrivatePtr ptrState = MakeState(dir.Path(), true);

    ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
    EXPECT_EQ(0, ptrState->GetFailedItemCount());
    EXPECT_FALSE(ptrState->IfPushDataToSolrFailed());

    ASSERT_FALSE(ptrState->AddItemToSolrFailures({"/new/one", "/new/two"}).IsError());
    ptrState->CloseSolrFailuresFile();
    EXPECT_EQ("/new/one\n/new/two\n", ReadWholeFile(dir / "SolrScanFailures.tqf"));
    EXPECT_EQ(2, ptrState->GetFailedItemCount());
    // The backup phase's list is not touched.
    EXPECT_EQ("b1\nb2\n", ReadWholeFile(dir / "SolrBackupFailures.tqf"));
}

TEST(SolrFailuresFileTest, BackupPhaseWithoutEarlierListsCreatesItsFile) {
    TempDir dir;
    CSolrTransmitterPrivatePtr ptrState = MakeState(dir.Path(), false);
    idxtest::LogCapture capture(0);

    ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
    EXPECT_TRUE(FileExists(dir / "SolrBackupFailures.tqf"));
    EXPECT_EQ(0, ptrState->GetFailedItemCount());
    EXPECT_FALSE(ptrState->IfPushDataToSolrFailed());
    // No scan-phase list is the list of a scan that failed nothing: no error line.
    EXPECT_EQ(0u, capture.CountAtLevel("Failed to open file to count lines", -1));
    EXPECT_EQ(0u, capture.CountAtLevel("", -1));
}

TEST(SolrFailuresFileTest, BackupPhaseCountsEarlierFailuresAndAppends) {
    TempDir dir;
    dir.WriteFile("SolrBackupFailures.tqf", "/b/1\n/b/2\n");
    dir.WriteFile("scan_Failures.tqf", "/s/1\n");
    CSolrTransmitterPrivatePtr ptrState = MakeState(dir.Path(), false);
    idxtest::LogCapture capture(0);

    ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
    EXPECT_EQ(3, ptrState->GetFailedItemCount());
    EXPECT_TRUE(ptrState->IfPushDataToSolrFailed());
    EXPECT_EQ(
        1u, capture.CountAtLevel("Lines in file [" + (dir / "SolrBackupFailures.tqf") + "]=2", 0));
    EXPECT_EQ(1u, capture.CountAtLevel("Lines in file [" + (dir / "scan_Failures.tqf") + "]=1", 0));

    ASSERT_FALSE(ptrState->AddItemToSolrFailures({"/b/3"}).IsError());
    EXPECT_EQ(4, ptrState->GetFailedItemCount());
    ptrState->CloseSolrFailuresFile();
    EXPECT_EQ("/b/1\n/b/2\n/b/3\n", ReadWholeFile(dir / "SolrBackupFailures.tqf"));
}

TEST(SolrFailuresFileTest, BackupPhaseAppendsOnALineOfItsOwn) {
    struct Case {
        const char *szName;
        const char *szEarlier;
        int64_t llEarlier;
        const char *szAfter;
    };
    const Case cases[] = {
        {"empty", "", 0, "/b/3\n"},
        {"terminated", "/b/1\n/b/2\n", 2, "/b/1\n/b/2\n/b/3\n"},
        {"unterminated", "/b/1\n/b/2", 2, "/b/1\n/b/2\n/b/3\n"},
        {"unterminated-only-line", "/b/1", 1, "/b/1\n/b/3\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        TempDir dir;
        dir.WriteFile("SolrBackupFailures.tqf", c.szEarlier);
        CSolrTransmitterPrivatePtr ptrState = MakeState(dir.Path(), false);
        ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
        EXPECT_EQ(c.llEarlier, ptrState->GetFailedItemCount());

        ASSERT_FALSE(ptrState->AddItemToSolrFailures({"/b/3"}).IsError());
        EXPECT_EQ(c.llEarlier + 1, ptrState->GetFailedItemCount());
        ptrState->CloseSolrFailuresFile();
        EXPECT_EQ(c.szAfter, ReadWholeFile(dir / "SolrBackupFailures.tqf"));

        // A later attempt counts the same lines and adds no empty one.
        CSolrTransmitterPrivatePtr ptrNext = MakeState(dir.Path(), false);
        ASSERT_FALSE(ptrNext->OpenSolrFailuresFile().IsError());
        EXPECT_EQ(c.llEarlier + 1, ptrNext->GetFailedItemCount());
        ptrNext->CloseSolrFailuresFile();
        EXPECT_EQ(c.szAfter, ReadWholeFile(dir / "SolrBackupFailures.tqf"));
    }
}

// Runs in the given folder while it lives, then returns to the folder it started in.
class ScopedWorkingFolder {
public:
    explicit ScopedWorkingFolder(const std::string &strFolder) {
        char szOld[PATH_MAX];
        m_bSaved = getcwd(szOld, sizeof(szOld)) != nullptr;
        m_strOld = m_bSaved ? szOld : "";
        m_bEntered = chdir(strFolder.c_str()) == 0;
    }
    ~ScopedWorkingFolder() {
        if (m_bSaved && chdir(m_strOld.c_str()) != 0) {
            ADD_FAILURE() << "cannot return to " << m_strOld;
        }
    }
    bool Entered() const { return m_bEntered; }

private:
    bool m_bSaved = false;
    bool m_bEntered = false;
    std::string m_strOld;
};

TEST(SolrFailuresFileTest, FailuresFileInTheWorkingFolderIsNamedInTheLog) {
    TempDir dir;
    char szReal[PATH_MAX];
    ASSERT_NE(nullptr, realpath(dir.Path().c_str(), szReal));
    const std::string strWorking = szReal;
    ScopedWorkingFolder working(strWorking);
    ASSERT_TRUE(working.Entered());

    const struct {
        bool bScanPhase;
        const char *szFile;
    } cases[] = {{true, "SolrScanFailures.tqf"}, {false, "SolrBackupFailures.tqf"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szFile);
        CSolrTransmitterPrivatePtr ptrState = MakeState("", c.bScanPhase);
        idxtest::LogCapture capture(0);
        ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
        ptrState->CloseSolrFailuresFile();

        // Where it always went, and now said where that is.
        EXPECT_TRUE(FileExists(strWorking + "/" + c.szFile));
        EXPECT_EQ(1u, capture.CountAtLevel("[" + strWorking + "/" + c.szFile + "]", 0));
    }

    // A subclient folder of its own says nothing of the kind.
    CSolrTransmitterPrivatePtr ptrState = MakeState(strWorking, true);
    idxtest::LogCapture capture(0);
    ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
    EXPECT_FALSE(capture.Contains("working folder"));
}

TEST(SolrFailuresFileTest, CountLinesCountsOneLinePerStartedPiece) {
    TempDir dir;
    struct Case {
        const char *szName;
        std::string strContent;
        int64_t llExpected;
    };
    const Case cases[] = {
        {"empty", "", 0},
        {"one-line", "a\n", 1},
        {"no-final-newline", "a\nb", 2},
        {"blank-lines", "\n\n\n", 3},
        {"exactly-one-buffer", std::string(65534, 'x') + "\n", 1},
        {"one-byte-over", std::string(65535, 'x') + "\n", 2},
        {"three-pieces", std::string(65535 * 2 + 10, 'y'), 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        std::string strPath = dir.WriteFile(c.szName, c.strContent);
        EXPECT_EQ(c.llExpected, CSolrTransmitterPrivate::CountLines(strPath));
    }
}

TEST(SolrFailuresFileTest, CountLinesOfAMissingFileIsZeroWithAnErrorLine) {
    TempDir dir;
    idxtest::LogCapture capture(0);
    EXPECT_EQ(0, CSolrTransmitterPrivate::CountLines(dir / "absent.tqf"));
    EXPECT_EQ(1u, capture.CountAtLevel("Failed to open file to count lines", -1));
}

TEST(SolrFailuresFileTest, DisabledLoggingOpensAndWritesNothingButCountsTheFailures) {
    TempDir dir;
    dir.WriteFile("SolrBackupFailures.tqf", "/b/1\n");
    for (bool bScanPhase : {true, false}) {
        SCOPED_TRACE(bScanPhase);
        CSolrTransmitterPrivatePtr ptrState = MakeState(dir.Path(), bScanPhase);
        ptrState->m_ptrOptions->SetDisableFailureLogging(true);
        idxtest::LogCapture capture(0);

        ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
        EXPECT_EQ(1u, capture.CountAtLevel("Failure logging is disabled.", 0));
        EXPECT_FALSE(capture.Contains("Lines in file"));
        EXPECT_FALSE(FileExists(dir / "SolrScanFailures.tqf"));
        EXPECT_EQ(0, ptrState->GetFailedItemCount());
        EXPECT_FALSE(ptrState->IfPushDataToSolrFailed());

        // The job keeps no list, but it learns how many items failed.
        EXPECT_FALSE(ptrState->AddItemToSolrFailures({"/x", "/y"}).IsError());
        EXPECT_EQ(2, ptrState->GetFailedItemCount());
        EXPECT_FALSE(FileExists(dir / "SolrScanFailures.tqf"));
    }
    EXPECT_EQ("/b/1\n", ReadWholeFile(dir / "SolrBackupFailures.tqf"));
}

TEST(SolrFailuresFileTest, OpenFailureSetsTheReasonAndNamesThePath) {
    TempDir dir;
    for (bool bScanPhase : {true, false}) {
        SCOPED_TRACE(bScanPhase);
        CSolrTransmitterPrivatePtr ptrState = MakeState(dir / "missing-folder", bScanPhase);
        CKyError error = ptrState->OpenSolrFailuresFile();
        ASSERT_TRUE(error.IsError());
        EXPECT_NE(std::string::npos,
                  error.AsString().find(
                      "Failed to open solr failures file [" + (dir / "missing-folder") + "/" +
                      (bScanPhase ? "SolrScanFailures.tqf" : "SolrBackupFailures.tqf") +
                      "] for writing: the transmitter does not start, since items that "
                      "fail could not be listed"));
        EXPECT_EQ(std::string::npos, error.AsString().find("will not be tracked"));
        // And why the file could not be opened.
        EXPECT_NE(std::string::npos, error.AsString().find("No such file or directory"));
        EXPECT_EQ("Failed to open solr failures file. ", ptrState->GetSolrFailureReason());
    }
}

TEST(SolrFailuresFileTest, WritingWithoutAnOpenFileFailsAndWritesNothing) {
    TempDir dir;
    CSolrTransmitterPrivatePtr ptrState = MakeState(dir.Path(), true);
    EXPECT_TRUE(ptrState->AddItemToSolrFailures({"/never"}).IsError());
    EXPECT_EQ(0, ptrState->GetFailedItemCount());

    // After a close, too.
    ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
    ptrState->CloseSolrFailuresFile();
    EXPECT_TRUE(ptrState->AddItemToSolrFailures({"/late"}).IsError());
    EXPECT_EQ(0, ptrState->GetFailedItemCount());
    EXPECT_EQ("", ReadWholeFile(dir / "SolrScanFailures.tqf"));
}

TEST(SolrFailuresFileTest, EachNameIsOneLineAndOnlyALineBreakIsEscaped) {
    TempDir dir;
    CSolrTransmitterPrivatePtr ptrState = MakeState(dir.Path(), true);
    ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());
    idxtest::LogCapture capture(0);

    ASSERT_FALSE(ptrState->AddItemToSolrFailures({}).IsError());
    EXPECT_EQ(0, ptrState->GetFailedItemCount());

    struct Case {
        std::string strName;
        std::string strLine;
    };
    const Case cases[] = {
        // Names without a line break are written as they are, backslashes and all.
        {"/100%s%n%d", "/100%s%n%d"},
        {"\\\\server\\share", "\\\\server\\share"},
        {"/job/a\\nb", "/job/a\\nb"},
        // A line break would list a name that is not the item's and lose the item's own.
        {"/job/evil\n/etc/passwd", "/job/evil\\n/etc/passwd"},
        {"/job/cr\r\nlf\r", "/job/cr\\r\\nlf\\r"},
        {"/job/back\\slash\nbreak", "/job/back\\\\slash\\nbreak"},
    };
    std::vector<std::string> vecNames;
    std::string strExpected;
    for (const Case &c : cases) {
        vecNames.push_back(c.strName);
        strExpected += c.strLine + "\n";
    }
    ASSERT_FALSE(ptrState->AddItemToSolrFailures(vecNames).IsError());
    EXPECT_EQ(6, ptrState->GetFailedItemCount());
    ptrState->CloseSolrFailuresFile();

    EXPECT_EQ(strExpected, ReadWholeFile(dir / "SolrScanFailures.tqf"));
    EXPECT_EQ(6, CSolrTransmitterPrivate::CountLines(dir / "SolrScanFailures.tqf"));
    // Each escaped name is named in the log as it was written.
    EXPECT_EQ(3u, capture.CountAtLevel("holds a line break", -1));
    EXPECT_EQ(1u, capture.CountAtLevel("item=[/job/evil\\n/etc/passwd]", -1));
}

TEST(SolrFailuresFileTest, ConcurrentWritersKeepTheirLinesWholeAndTheCountExact) {
    TempDir dir;
    CSolrTransmitterPrivatePtr ptrState = MakeState(dir.Path(), true);
    ASSERT_FALSE(ptrState->OpenSolrFailuresFile().IsError());

    const int nThreads = 4;
    const int nCalls = 50;
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < nThreads; ++t) {
        vecThreads.emplace_back([&, t] {
            std::string strLine = "/worker" + std::to_string(t) + "/" + std::string(200, 'z');
            for (int i = 0; i < nCalls; ++i) {
                EXPECT_FALSE(ptrState->AddItemToSolrFailures({strLine, strLine}).IsError());
            }
        });
    }
    for (auto &thread : vecThreads) {
        thread.join();
    }
    ptrState->CloseSolrFailuresFile();
    EXPECT_EQ(nThreads * nCalls * 2, ptrState->GetFailedItemCount());

    std::string strContent = ReadWholeFile(dir / "SolrScanFailures.tqf");
    size_t nLines = 0;
    size_t nStart = 0;
    while (nStart < strContent.size()) {
        size_t nEnd = strContent.find('\n', nStart);
        ASSERT_NE(std::string::npos, nEnd);
        EXPECT_EQ(209u, nEnd - nStart);
        ++nLines;
        nStart = nEnd + 1;
    }
    EXPECT_EQ(static_cast<size_t>(nThreads * nCalls * 2), nLines);
}

TEST(SolrFailuresFileTest, AHostKilledInTheMiddleOfItsJobKeepsEveryRefusedName) {
    TempDir dir;
    dir.WriteFile("subclient/.keep", "");
    std::vector<std::string> vecPaths;
    std::string strCommand = "exec '" IDX_KILLED_HOST "' '" + (dir / "subclient") + "'";
    for (int i = 0; i < 12; ++i) {
        vecPaths.push_back(dir.WriteFile("tree/f" + std::to_string(i) + ".txt", "x"));
        strCommand += " '" + vecPaths.back() + "'";
    }
    strCommand += " 2>'" + (dir / "host.log") + "'";

    // The host says so once its engine has refused every item and the transmitter counts each
    // as failed; then it does nothing more and is killed before any end of its job.
    FILE *pHost = popen(strCommand.c_str(), "r");
    ASSERT_NE(nullptr, pHost);
    char szSaid[128] = "";
    long long llRecorded = -1;
    int nPid = 0;
    if (fgets(szSaid, sizeof(szSaid), pHost) != nullptr &&
        sscanf(szSaid, "recorded %lld %d", &llRecorded, &nPid) == 2 && nPid > 0) {
        kill(nPid, SIGKILL);
    }
    const int nStatus = pclose(pHost);
    ASSERT_EQ(12, llRecorded) << szSaid << ReadWholeFile(dir / "host.log");
    EXPECT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL);

    std::multiset<std::string> setListed;
    std::istringstream lines(ReadWholeFile(dir / "subclient/SolrBackupFailures.tqf"));
    for (std::string strLine; std::getline(lines, strLine);) {
        setListed.insert(strLine);
    }
    EXPECT_EQ(std::multiset<std::string>(vecPaths.begin(), vecPaths.end()), setListed);
}

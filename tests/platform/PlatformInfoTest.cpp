#include "platform/PlatformInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/LogCapture.h"
#include "platform/testing/PlatformSettings.h"
#include "tests/support/TempDir.h"

namespace {

const char *kSection = "FileSystemAgent";

// Points IDX_PLATFORM_SETTINGS at a file for the test's duration and starts from no test values.
class SettingsFile {
public:
    explicit SettingsFile(const std::string &strContent) {
        m_strPath = m_dir.WriteFile("settings.ini", strContent);
        const char *szOld = getenv("IDX_PLATFORM_SETTINGS");
        m_bHadOld = szOld != nullptr;
        m_strOld = szOld ? szOld : "";
        setenv("IDX_PLATFORM_SETTINGS", m_strPath.c_str(), 1);
        idxtest::ResetPlatformSettings();
    }
    ~SettingsFile() {
        if (m_bHadOld) {
            setenv("IDX_PLATFORM_SETTINGS", m_strOld.c_str(), 1);
        } else {
            unsetenv("IDX_PLATFORM_SETTINGS");
        }
        idxtest::ResetPlatformSettings();
    }
    const std::string &Path() const { return m_strPath; }

private:
    idxtest::TempDir m_dir;
    std::string m_strPath;
    bool m_bHadOld = false;
    std::string m_strOld;
};

TEST(PlatformInfoTest, AbsentSettingLeavesPresetAndAnswersZero) {
    SettingsFile file("[FileSystemAgent]\nnOther=5\n");
    TQPlatformInfo info;
    uint32_t nQueueSize = 10000;
    EXPECT_EQ(info.getNumber(kSection, "nMaxQueueSize", &nQueueSize), 0);
    EXPECT_EQ(nQueueSize, 10000u);
    int32_t nSigned = -7;
    EXPECT_EQ(info.getNumber(kSection, "nMaxQueueSize", &nSigned), 0);
    EXPECT_EQ(nSigned, -7);
    unsigned long ulWide = 99;
    EXPECT_EQ(info.getNumber(kSection, "nMaxQueueSize", &ulWide), 0);
    EXPECT_EQ(ulWide, 99ul);
    std::string strValue = "preset";
    EXPECT_EQ(info.getString(kSection, "sSolrURL", strValue), 0);
    EXPECT_EQ(strValue, "preset");
}

TEST(PlatformInfoTest, ZeroIsAValueNotAnAbsence) {
    SettingsFile file("[FileSystemAgent]\nnMaxQueueSize=0\n");
    uint32_t nQueueSize = 10000;
    EXPECT_NE(TQPlatformInfo().getNumber(kSection, "nMaxQueueSize", &nQueueSize), 0);
    EXPECT_EQ(nQueueSize, 0u);
}

TEST(PlatformInfoTest, NumbersFromTheFile) {
    SettingsFile file("; comment\n"
                      "# another comment\n"
                      "[FileSystemAgent]\n"
                      "  nDecimal = 42  \n"
                      "nHex=0x1F\n"
                      "nBig=4294967296\n"
                      "nAboveAndLow=4294967301\n"
                      "nNegative=-1\n"
                      "nMax=18446744073709551615\n"
                      "sSolrURL = http://127.0.0.1:8983/solr/ \n"
                      "sQuoted=\"  keep blanks  \"\n"
                      "[OtherSection]\n"
                      "nDecimal=7\n");
    TQPlatformInfo info;
    struct Case {
        const char *szName;
        unsigned long ulWide;
        uint32_t nLow;
        int32_t nSigned;
    } cases[] = {
        {"nDecimal", 42, 42, 42},
        {"ndecimal", 42, 42, 42}, // names match without regard to case
        {"nHex", 31, 31, 31},
        {"nBig", 4294967296ul, 0, 0},
        {"nAboveAndLow", 4294967301ul, 5, 5},
        {"nNegative", 0xFFFFFFFFFFFFFFFFul, 0xFFFFFFFFu, -1},
        {"nMax", 0xFFFFFFFFFFFFFFFFul, 0xFFFFFFFFu, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szName);
        unsigned long ulWide = 1;
        uint32_t nLow = 1;
        int32_t nSigned = 1;
        EXPECT_EQ(info.getNumber(kSection, c.szName, &ulWide), 1);
        EXPECT_EQ(info.getNumber(kSection, c.szName, &nLow), 1);
        EXPECT_EQ(info.getNumber("filesystemagent", c.szName, &nSigned), 1);
        EXPECT_EQ(ulWide, c.ulWide);
        EXPECT_EQ(nLow, c.nLow);
        EXPECT_EQ(nSigned, c.nSigned);
    }
    uint32_t nOther = 0;
    EXPECT_EQ(info.getNumber("OtherSection", "nDecimal", &nOther), 1);
    EXPECT_EQ(nOther, 7u);

    std::string strValue;
    EXPECT_EQ(info.getString(kSection, "sSolrURL", strValue), 1);
    EXPECT_EQ(strValue, "http://127.0.0.1:8983/solr/");
    EXPECT_EQ(info.getString(kSection, "sQuoted", strValue), 1);
    EXPECT_EQ(strValue, "keep blanks");
}

TEST(PlatformInfoTest, JunkLinesAreSkippedWithALogLine) {
    idxtest::LogCapture capture(0);
    SettingsFile file("nBeforeSection=1\n"
                      "[FileSystemAgent]\n"
                      "this line has no equals sign\n"
                      "=novalue\n"
                      "[unclosed\n"
                      "[]\n"
                      "nGood=12\n"
                      "\x01\x02\xff\n"
                      "nAfterJunk=13\n");
    TQPlatformInfo info;
    uint32_t nGood = 0;
    uint32_t nAfterJunk = 0;
    EXPECT_EQ(info.getNumber(kSection, "nGood", &nGood), 1);
    EXPECT_EQ(info.getNumber(kSection, "nAfterJunk", &nAfterJunk), 1);
    EXPECT_EQ(nGood, 12u);
    EXPECT_EQ(nAfterJunk, 13u);
    uint32_t nBefore = 77;
    EXPECT_EQ(info.getNumber(kSection, "nBeforeSection", &nBefore), 0);
    EXPECT_EQ(nBefore, 77u);

    // Six bad lines, each logged once, at error level, naming the file and the line number.
    EXPECT_EQ(capture.CountAtLevel("Skipping line", -1), 6u);
    EXPECT_TRUE(capture.Contains("Skipping line 1 of platform settings file [" + file.Path()));
    EXPECT_TRUE(capture.Contains("Skipping line 3 "));
    EXPECT_TRUE(capture.Contains("[this line has no equals sign]"));
    // Reading again does not parse (and log) the unchanged file again.
    info.getNumber(kSection, "nGood", &nGood);
    EXPECT_EQ(capture.Count("Skipping line"), 6u);
}

TEST(PlatformInfoTest, ValueThatIsNoNumberIsLoggedAndAbsent) {
    idxtest::LogCapture capture(0);
    SettingsFile file("[FileSystemAgent]\nnA=12abc\nnB=0x\nnC=99999999999999999999\nnD=\n");
    TQPlatformInfo info;
    for (const char *szName : {"nA", "nB", "nC", "nD"}) {
        uint32_t nValue = 5;
        EXPECT_EQ(info.getNumber(kSection, szName, &nValue), 0) << szName;
        EXPECT_EQ(nValue, 5u) << szName;
    }
    EXPECT_EQ(capture.CountAtLevel("is not a number", -1), 4u);
    EXPECT_TRUE(capture.Contains("[FileSystemAgent\\nA] is not a number, value=[12abc]"));
    // As a text the value is there.
    std::string strValue;
    EXPECT_EQ(info.getString(kSection, "nA", strValue), 1);
    EXPECT_EQ(strValue, "12abc");
}

TEST(PlatformInfoTest, ChangedFileIsReadAgain) {
    SettingsFile file("[FileSystemAgent]\nnValue=1\n");
    TQPlatformInfo info;
    uint32_t nValue = 0;
    EXPECT_EQ(info.getNumber(kSection, "nValue", &nValue), 1);
    EXPECT_EQ(nValue, 1u);
    // A different size is enough to notice the change even within one time-stamp tick.
    std::string strPath = file.Path();
    FILE *pFile = fopen(strPath.c_str(), "w");
    ASSERT_NE(pFile, nullptr);
    fputs("[FileSystemAgent]\nnValue=222\n", pFile);
    fclose(pFile);
    EXPECT_EQ(info.getNumber(kSection, "nValue", &nValue), 1);
    EXPECT_EQ(nValue, 222u);
}

TEST(PlatformInfoTest, MissingFileMeansNoSettings) {
    idxtest::LogCapture capture(0);
    setenv("IDX_PLATFORM_SETTINGS", "/nonexistent/idx/settings.ini", 1);
    idxtest::ResetPlatformSettings();
    uint32_t nValue = 3;
    EXPECT_EQ(TQPlatformInfo().getNumber(kSection, "nValue", &nValue), 0);
    EXPECT_EQ(nValue, 3u);
    EXPECT_TRUE(capture.Contains("is not a readable file"));
    unsetenv("IDX_PLATFORM_SETTINGS");
    idxtest::ResetPlatformSettings();
}

TEST(PlatformInfoTest, TestValuesOverrideTheFileUntilReset) {
    SettingsFile file("[FileSystemAgent]\nnMaxQueueSize=500\nnTransmitterThreads=4\n");
    TQPlatformInfo info;
    idxtest::SetPlatformSetting(kSection, "nMaxQueueSize", "700");
    idxtest::ClearPlatformSetting(kSection, "nTransmitterThreads");
    idxtest::SetPlatformSetting(kSection, "WebServerURL", "http://127.0.0.1:81/");

    uint32_t nQueue = 0;
    uint32_t nThreads = 15;
    std::string strUrl;
    EXPECT_EQ(info.getNumber(kSection, "nMaxQueueSize", &nQueue), 1);
    EXPECT_EQ(nQueue, 700u);
    EXPECT_EQ(info.getNumber(kSection, "nTransmitterThreads", &nThreads), 0);
    EXPECT_EQ(nThreads, 15u);
    EXPECT_EQ(info.getString(kSection, "WebServerURL", strUrl), 1);
    EXPECT_EQ(strUrl, "http://127.0.0.1:81/");

    idxtest::ResetPlatformSettings();
    EXPECT_EQ(info.getNumber(kSection, "nMaxQueueSize", &nQueue), 1);
    EXPECT_EQ(nQueue, 500u);
    EXPECT_EQ(info.getNumber(kSection, "nTransmitterThreads", &nThreads), 1);
    EXPECT_EQ(nThreads, 4u);
    EXPECT_EQ(info.getString(kSection, "WebServerURL", strUrl), 0);
}

TEST(PlatformInfoTest, ConcurrentReadersAndWritersAgree) {
    idxtest::PlatformSettingsScope scope;
    std::atomic<int> nBad{0};
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < 8; ++t) {
        vecThreads.emplace_back([t, &nBad] {
            TQPlatformInfo info;
            std::string strName = "nThread" + std::to_string(t);
            for (int i = 0; i < 500; ++i) {
                idxtest::SetPlatformSetting(kSection, strName, std::to_string(i));
                uint32_t nValue = 0;
                if (info.getNumber(kSection, strName.c_str(), &nValue) != 1 ||
                    nValue != static_cast<uint32_t>(i)) {
                    ++nBad;
                }
            }
        });
    }
    for (auto &thread : vecThreads) {
        thread.join();
    }
    EXPECT_EQ(nBad.load(), 0);
}

TEST(PlatformInfoTest, MachineNameIsKnown) {
    TQPlatformInfo info;
    EXPECT_FALSE(info.getMachineName().empty());
    EXPECT_EQ(info.getPhysicalMachine(), info.getMachineName());
}

} // namespace

#include "bench/EndToEndBench/TreeMaker.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace idxbench {

namespace {

const int kFilesPerFolder = 1000;

int RemoveEntry(const char *szPath, const struct stat *, int, struct FTW *) {
    remove(szPath);
    return 0;
}

} // namespace

bool ScratchFolder::Create() {
    const char *szTmp = getenv("TMPDIR");
    std::string strTemplate = std::string(szTmp && *szTmp ? szTmp : "/tmp") + "/idx-e2e-XXXXXX";
    std::vector<char> vecName(strTemplate.begin(), strTemplate.end());
    vecName.push_back('\0');
    if (!mkdtemp(vecName.data())) {
        return false;
    }
    m_strPath = vecName.data();
    return true;
}

ScratchFolder::~ScratchFolder() {
    if (!m_strPath.empty()) {
        nftw(m_strPath.c_str(), RemoveEntry, 32, FTW_DEPTH | FTW_PHYS);
    }
}

std::string FilePath(const std::string &strTree, long long llIndex) {
    char szName[64];
    snprintf(szName, sizeof(szName), "/d%05lld/f%07lld.txt", llIndex / kFilesPerFolder, llIndex);
    return strTree + szName;
}

bool MakeTree(const std::string &strTree, long long llItems) {
    if (mkdir(strTree.c_str(), 0755) != 0) {
        return false;
    }
    for (long long i = 0; i < llItems; ++i) {
        if (i % kFilesPerFolder == 0) {
            char szFolder[32];
            snprintf(szFolder, sizeof(szFolder), "/d%05lld", i / kFilesPerFolder);
            if (mkdir((strTree + szFolder).c_str(), 0755) != 0) {
                return false;
            }
        }
        const std::string strPath = FilePath(strTree, i);
        int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            return false;
        }
        char szContent[48];
        int nLength = snprintf(szContent, sizeof(szContent), "small file %lld\n", i);
        bool bWritten = write(fd, szContent, static_cast<size_t>(nLength)) == nLength;
        close(fd);
        if (!bWritten) {
            return false;
        }
    }
    return true;
}

} // namespace idxbench

#include "platform/XHSMLowLevel.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "platform/StringFormat.h"

CXHSMLowLevel::~CXHSMLowLevel() = default;

int CXHSMLowLevel::IsStub(const std::string &strPath) {
    struct stat st;
    if (lstat(strPath.c_str(), &st) != 0) {
        int nErrNo = errno;
        char szBuffer[256];
        SetLastError(FXFormat("Failed to read the status of [%s], errno=%d (%s)", strPath.c_str(),
                              nErrNo, strerror_r(nErrNo, szBuffer, sizeof(szBuffer))));
        return -1;
    }
    return (S_ISREG(st.st_mode) && st.st_size > 0 && st.st_blocks == 0) ? 1 : 0;
}

void CXHSMMntTab::AddMountPoint(const std::string &strMountPoint) {
    std::string strClean = strMountPoint;
    while (strClean.size() > 1 && strClean.back() == '/') {
        strClean.pop_back();
    }
    if (!strClean.empty() && strClean[0] == '/') {
        m_vecMountPoints.push_back(strClean);
    }
}

std::string CXHSMMntTab::FindMountPoint(const std::string &strPath) const {
    if (strPath.empty() || strPath[0] != '/') {
        return std::string();
    }
    if (m_vecMountPoints.empty()) {
        return "/";
    }
    std::string strBest;
    for (const std::string &strMount : m_vecMountPoints) {
        bool bHolds = strMount == "/" ||
                      (strPath.compare(0, strMount.size(), strMount) == 0 &&
                       (strPath.size() == strMount.size() || strPath[strMount.size()] == '/'));
        if (bHolds && strMount.size() > strBest.size()) {
            strBest = strMount;
        }
    }
    return strBest;
}

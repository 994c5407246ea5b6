#include "platform/ScanMisc.h"

namespace {

const char kUncStart[] = "\\\\";
const char kUncStandIn[] = "UNC-NT_";

bool IsDelimiter(char ch) {
    return ch == '\\' || ch == '/';
}

} // namespace

bool SXScanMisc::IsUncPath(const std::string &strPath) {
    return strPath.compare(0, 2, kUncStart) == 0;
}

CKyError SXScanMisc::ParseUncPath(const std::string &strPath, std::string &strServer,
                                  std::string &strShare, std::string &strRemainder) {
    strServer.clear();
    strShare.clear();
    strRemainder.clear();
    size_t nPos = 0;
    if (IsUncPath(strPath)) {
        nPos = 2;
    } else if (strPath.compare(0, sizeof(kUncStandIn) - 1, kUncStandIn) == 0) {
        nPos = sizeof(kUncStandIn) - 1;
    } else {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "Not a network path [%s]", strPath.c_str());
    }

    // The server and the share each run to the next delimiter.
    std::string *apParts[] = {&strServer, &strShare};
    for (std::string *pPart : apParts) {
        const size_t nStart = nPos;
        while (nPos < strPath.size() && !IsDelimiter(strPath[nPos])) {
            ++nPos;
        }
        if (nPos == nStart) {
            strServer.clear();
            strShare.clear();
            return FXErrorUtil::ErrorWin32(FXLOC, 87, "Network path without server or share [%s]",
                                           strPath.c_str());
        }
        pPart->assign(strPath, nStart, nPos - nStart);
        while (nPos < strPath.size() && IsDelimiter(strPath[nPos])) {
            ++nPos;
        }
    }
    strRemainder.assign(strPath, nPos, std::string::npos);
    return CKyError::Success();
}

bool FXFile::IsVolumeUnc(const std::string &strPath) {
    return SXScanMisc::IsUncPath(strPath);
}

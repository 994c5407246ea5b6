// Network-path helpers of the scanning framework: whether a path is a network path (two
// backslashes, then the server, the share and the rest), and its parts.
//
// A network path begins with two backslashes; the form "UNC-NT_" stands for them where a path must
// not begin with backslashes. After the prefix the parts are separated by "\" or "/".
#pragma once

#include <string>

#include "foundation/Export.h"
#include "foundation/KyError.h"

class IDX_EXPORT SXScanMisc {
public:
    // True when the path begins with "\\".
    static bool IsUncPath(const std::string &strPath);
    // Splits "\\server\share\rest" (or "UNC-NT_server\share\rest") into the server, the share and
    // the rest after the share's delimiter (empty when the path ends at the share, delimiters
    // after it included). Error 87, outputs cleared, when the path is no network path or lacks a
    // server or a share.
    static CKyError ParseUncPath(const std::string &strPath, std::string &strServer,
                                 std::string &strShare, std::string &strRemainder);
};

namespace FXFile {

// True when the path names something on a network volume, that is when it is a network path.
IDX_EXPORT bool IsVolumeUnc(const std::string &strPath);

} // namespace FXFile

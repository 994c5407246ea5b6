// The management server's record of the web server that serves this installation's searches.
//
// The stand-in answers what a test told it (platform/testing/WebServerInfo.h) or else the URL in
// the environment variable IDX_WEB_SERVER_URL; with neither there is no web server on record.
#pragma once

#include <string>

#include "foundation/Export.h"
#include "foundation/KyError.h"

namespace I2 {
namespace Utils {

class IDX_EXPORT IdxWebServerClient {
public:
    // The web server's base URL (such as "http://host:81"); error 1168 when the management
    // server has none on record.
    static CKyError getWebServerInfoFromHQ(std::string &strWebServerUrl);
};

} // namespace Utils
} // namespace I2

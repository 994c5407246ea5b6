// Test control: the web server the management server has on record
// (I2::Utils::IdxWebServerClient::getWebServerInfoFromHQ). Never used by the library itself.
#pragma once

#include <string>

#include "foundation/Export.h"

namespace idxtest {

// The management server answers this URL from now on; an empty text means it has none.
IDX_EXPORT void SetWebServerOnRecord(const std::string &strUrl);
// Back to the environment (IDX_WEB_SERVER_URL); the query count starts again from 0.
IDX_EXPORT void ResetWebServerOnRecord();
// How often the management server was asked since the last reset.
IDX_EXPORT int WebServerQueries();

// Resets when made and again when destroyed, so one test's answer never leaks into the next.
class WebServerOnRecordScope {
public:
    WebServerOnRecordScope() { ResetWebServerOnRecord(); }
    ~WebServerOnRecordScope() { ResetWebServerOnRecord(); }
    WebServerOnRecordScope(const WebServerOnRecordScope &) = delete;
    WebServerOnRecordScope &operator=(const WebServerOnRecordScope &) = delete;
};

} // namespace idxtest

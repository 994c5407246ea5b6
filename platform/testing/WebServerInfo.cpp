#include "platform/testing/WebServerInfo.h"

#include "platform/WebServerInfoStore.h"

namespace idxtest {

void SetWebServerOnRecord(const std::string &strUrl) {
    CWebServerInfoStore::Instance().Set(strUrl);
}

void ResetWebServerOnRecord() {
    CWebServerInfoStore::Instance().Reset();
}

int WebServerQueries() {
    return CWebServerInfoStore::Instance().Queries();
}

} // namespace idxtest

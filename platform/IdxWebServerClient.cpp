#include "platform/IdxWebServerClient.h"

#include <cstdlib>

#include "platform/WebServerInfoStore.h"

CWebServerInfoStore &CWebServerInfoStore::Instance() {
    static CWebServerInfoStore s_store;
    return s_store;
}

std::optional<std::string> CWebServerInfoStore::Query() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_nQueries;
    std::string strUrl = m_strUrl;
    if (!m_bSetByTest) {
        const char *szUrl = std::getenv("IDX_WEB_SERVER_URL");
        strUrl = szUrl ? szUrl : "";
    }
    if (strUrl.empty()) {
        return std::nullopt;
    }
    return strUrl;
}

void CWebServerInfoStore::Set(const std::string &strUrl) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSetByTest = true;
    m_strUrl = strUrl;
}

void CWebServerInfoStore::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSetByTest = false;
    m_strUrl.clear();
    m_nQueries = 0;
}

int CWebServerInfoStore::Queries() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nQueries;
}

namespace I2 {
namespace Utils {

CKyError IdxWebServerClient::getWebServerInfoFromHQ(std::string &strWebServerUrl) {
    std::optional<std::string> url = CWebServerInfoStore::Instance().Query();
    if (!url) {
        return FXErrorUtil::ErrorWin32(FXLOC, 1168,
                                       "The management server has no web server on record");
    }
    strWebServerUrl = *url;
    return CKyError::Success();
}

} // namespace Utils
} // namespace I2

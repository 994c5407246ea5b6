// What the management server has on record for the web server, as the stand-in keeps it: what a
// test set, and how often it was asked. Internal to the platform; tests reach it through
// platform/testing/WebServerInfo.h.
#pragma once

#include <mutex>
#include <optional>
#include <string>

class CWebServerInfoStore {
public:
    static CWebServerInfoStore &Instance();

    // The URL on record: a test's value, else IDX_WEB_SERVER_URL; nothing when neither is set
    // (or the one that applies is empty). Counts the query.
    std::optional<std::string> Query();

    void Set(const std::string &strUrl);
    void Reset();
    int Queries();

private:
    std::mutex m_lock;
    bool m_bSetByTest = false;
    std::string m_strUrl;
    int m_nQueries = 0;
};

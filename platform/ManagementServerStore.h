// The one process-wide store behind App_ExecuteSP: scripted answers by procedure and the calls
// received. Internal to the platform.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class CManagementServerStore {
public:
    struct CCall {
        uint32_t nProcedureId;
        std::string strInputXml;
    };
    static const size_t kMaxCallsKept = 1000;

    static CManagementServerStore &Instance();

    // True with the scripted result and answer when the procedure has a script.
    bool FindScript(uint32_t nProcedureId, int &nResult, std::string &strAnswer);
    void SetScript(uint32_t nProcedureId, int nResult, const std::string &strAnswer);
    void RecordCall(uint32_t nProcedureId, const std::string &strInputXml);
    std::vector<CCall> Calls();
    void Reset();

private:
    std::mutex m_lock;
    std::map<uint32_t, std::pair<int, std::string>> m_mapScripts;
    std::deque<CCall> m_dequeCalls;
};

#include "platform/StoredProcedure.h"

#include <cstdlib>

#include "foundation/FileData.h"
#include "platform/LogWriter.h"
#include "platform/ManagementServerStore.h"
#include "platform/MessageRecords.h"

CManagementServerStore &CManagementServerStore::Instance() {
    static CManagementServerStore store;
    return store;
}

bool CManagementServerStore::FindScript(uint32_t nProcedureId, int &nResult,
                                        std::string &strAnswer) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_mapScripts.find(nProcedureId);
    if (it == m_mapScripts.end()) {
        return false;
    }
    nResult = it->second.first;
    strAnswer = it->second.second;
    return true;
}

void CManagementServerStore::SetScript(uint32_t nProcedureId, int nResult,
                                       const std::string &strAnswer) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_mapScripts[nProcedureId] = std::make_pair(nResult, strAnswer);
}

void CManagementServerStore::RecordCall(uint32_t nProcedureId, const std::string &strInputXml) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_dequeCalls.push_back(CCall{nProcedureId, strInputXml});
    while (m_dequeCalls.size() > kMaxCallsKept) {
        m_dequeCalls.pop_front();
    }
}

std::vector<CManagementServerStore::CCall> CManagementServerStore::Calls() {
    std::lock_guard<std::mutex> lock(m_lock);
    return std::vector<CCall>(m_dequeCalls.begin(), m_dequeCalls.end());
}

void CManagementServerStore::Reset() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_mapScripts.clear();
    m_dequeCalls.clear();
}

int App_ExecuteSP::executeStoredProcedure(uint32_t nProcedureId, const std::string &strInputXml,
                                          std::string &strOutputXml, void *) {
    strOutputXml.clear();
    CManagementServerStore &store = CManagementServerStore::Instance();
    store.RecordCall(nProcedureId, strInputXml);

    int nResult = 0;
    std::string strAnswer;
    if (store.FindScript(nProcedureId, nResult, strAnswer)) {
        if (nResult == 0) {
            strOutputXml = strAnswer;
        }
        return nResult;
    }

    const char *szReplyFile = getenv("IDX_MANAGEMENT_REPLY");
    if (szReplyFile == nullptr || *szReplyFile == '\0') {
        IDX_LOG_ERROR("No management server: stored procedure %u has no answer (set "
                      "IDX_MANAGEMENT_REPLY to a reply file)",
                      nProcedureId);
        return eNoManagementServer;
    }
    CKyError error = FXFile::ReadWholeFile(szReplyFile, strAnswer, CNMessageBase::kMaxXmlBytes);
    if (error.IsError()) {
        IDX_LOG_ERROR("The management server's reply file [%s] cannot be read, error=%s",
                      szReplyFile, error.AsString().c_str());
        return eReplyUnreadable;
    }
    strOutputXml = strAnswer;
    return 0;
}

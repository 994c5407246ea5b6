#include "platform/testing/ManagementServer.h"

#include "platform/ManagementServerStore.h"

namespace idxtest {

ManagementServer::ManagementServer() {
    CManagementServerStore::Instance().Reset();
}

ManagementServer::~ManagementServer() {
    CManagementServerStore::Instance().Reset();
}

void ManagementServer::Answer(uint32_t nProcedureId, int nResult, const std::string &strAnswerXml) {
    CManagementServerStore::Instance().SetScript(nProcedureId, nResult, strAnswerXml);
}

std::vector<StoredProcedureCall> ManagementServer::Calls() const {
    std::vector<StoredProcedureCall> vecCalls;
    for (const CManagementServerStore::CCall &call : CManagementServerStore::Instance().Calls()) {
        vecCalls.push_back(StoredProcedureCall{call.nProcedureId, call.strInputXml});
    }
    return vecCalls;
}

} // namespace idxtest

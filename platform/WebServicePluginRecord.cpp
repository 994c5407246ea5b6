#include "platform/WebServicePluginRecord.h"

#include <utility>

#include "platform/WebServicePluginStore.h"

int CWebServicePluginRecord::AddHandler() {
    return CWebServicePluginStore::Instance().AddHandler();
}

void CWebServicePluginRecord::ForgetHandler(int nHandler) {
    CWebServicePluginStore::Instance().ForgetHandler(nHandler);
}

void CWebServicePluginRecord::SetAbortCheck(int nHandler, std::function<bool()> fnAbortCheck) {
    CWebServicePluginStore::Instance().SetAbortCheck(nHandler, std::move(fnAbortCheck));
}

uint32_t CWebServicePluginRecord::TakeCallError(const std::string &strOperation) {
    return CWebServicePluginStore::Instance().TakeCallError(strOperation);
}

bool CWebServicePluginRecord::FindItemFailure(const std::string &strPath,
                                              idxtest::WebServiceItemFailure &failure) {
    return CWebServicePluginStore::Instance().FindItemFailure(strPath, failure);
}

void CWebServicePluginRecord::Record(idxtest::WebServiceCall call) {
    CWebServicePluginStore::Instance().Record(std::move(call));
}

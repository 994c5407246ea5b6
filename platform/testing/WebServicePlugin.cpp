#include "platform/testing/WebServicePlugin.h"

#include "platform/WebServicePluginStore.h"

namespace idxtest {

std::string WebServiceCall::Argument(const std::string &strName) const {
    for (const auto &argument : vecArguments) {
        if (argument.first == strName) {
            return argument.second;
        }
    }
    return std::string();
}

std::string WebServiceCall::Property(const std::string &strName) const {
    for (const auto &property : vecProperties) {
        if (property.first == strName) {
            return property.second;
        }
    }
    return std::string();
}

bool WebServiceCall::HasProperty(const std::string &strName) const {
    for (const auto &property : vecProperties) {
        if (property.first == strName) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> WebServiceCall::PropertyNames() const {
    std::vector<std::string> vecNames;
    for (const auto &property : vecProperties) {
        vecNames.push_back(property.first);
    }
    return vecNames;
}

WebServicePlugin::WebServicePlugin() {
    Reset();
}

WebServicePlugin::~WebServicePlugin() {
    Reset();
}

std::vector<WebServiceCall> WebServicePlugin::Calls() const {
    return CWebServicePluginStore::Instance().GetCalls();
}

std::vector<WebServiceCall> WebServicePlugin::Calls(const std::string &strOperation) const {
    std::vector<WebServiceCall> vecCalls;
    for (WebServiceCall &call : Calls()) {
        if (call.strOperation == strOperation) {
            vecCalls.push_back(std::move(call));
        }
    }
    return vecCalls;
}

std::vector<std::string> WebServicePlugin::Operations(int nHandler) const {
    std::vector<std::string> vecOperations;
    for (const WebServiceCall &call : Calls()) {
        if (call.nHandler == nHandler) {
            vecOperations.push_back(call.strOperation);
        }
    }
    return vecOperations;
}

std::vector<WebServiceCall> WebServicePlugin::Items() const {
    std::vector<WebServiceCall> vecItems;
    for (WebServiceCall &call : Calls()) {
        if (call.strOperation == "PushItem" || call.strOperation == "PushItemMetadata") {
            vecItems.push_back(std::move(call));
        }
    }
    return vecItems;
}

int WebServicePlugin::HandlersMade() const {
    return CWebServicePluginStore::Instance().GetHandlersMade();
}

int WebServicePlugin::HandlersAlive() const {
    return CWebServicePluginStore::Instance().GetHandlersAlive();
}

void WebServicePlugin::FailCall(const std::string &strOperation, uint32_t nError, int nTimes) {
    CWebServicePluginStore::Instance().FailCall(strOperation, nError, nTimes);
}

void WebServicePlugin::FailItem(const WebServiceItemFailure &failure) {
    CWebServicePluginStore::Instance().FailItem(failure);
}

bool WebServicePlugin::CallAbortCheck(int nHandler, bool &bAnswer) const {
    return CWebServicePluginStore::Instance().CallAbortCheck(nHandler, bAnswer);
}

void WebServicePlugin::Reset() {
    CWebServicePluginStore::Instance().Reset();
}

size_t WebServicePlugin::MaxCallsKept() {
    return CWebServicePluginStore::kMaxCallsKept;
}

} // namespace idxtest

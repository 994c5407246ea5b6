#include "platform/testing/IndexServer.h"

namespace idxtest {

IndexServer::IndexServer() {
    Reset();
}

IndexServer::~IndexServer() {
    Reset();
}

void IndexServer::Reset() {
    CIndexServerStore::Instance().Reset();
}

std::vector<IndexServerCall> IndexServer::Calls() const {
    return CIndexServerStore::Instance().Calls();
}

std::vector<IndexServerCall> IndexServer::Calls(int nConnection) const {
    std::vector<IndexServerCall> vecCalls;
    for (const IndexServerCall &call : Calls()) {
        if (call.nConnection == nConnection) {
            vecCalls.push_back(call);
        }
    }
    return vecCalls;
}

std::vector<std::string> IndexServer::CallNames(int nConnection) const {
    std::vector<std::string> vecNames;
    for (const IndexServerCall &call : Calls(nConnection)) {
        vecNames.push_back(call.strCall);
    }
    return vecNames;
}

std::vector<IndexServerCall> IndexServer::CallsNamed(const std::string &strCall) const {
    std::vector<IndexServerCall> vecCalls;
    for (const IndexServerCall &call : Calls()) {
        if (call.strCall == strCall) {
            vecCalls.push_back(call);
        }
    }
    return vecCalls;
}

int IndexServer::ConnectionsMade() const {
    return CIndexServerStore::Instance().ConnectionsMade();
}

void IndexServer::FailCall(const std::string &strCall, int nOccurrence, int nResult) {
    CIndexServerStore::Instance().FailCall(strCall, nOccurrence, nResult, false);
}

void IndexServer::FailEveryCall(const std::string &strCall, int nResult) {
    CIndexServerStore::Instance().FailCall(strCall, 1, nResult, true);
}

void IndexServer::FailConnection(int nOccurrence) {
    CIndexServerStore::Instance().FailConstruction(nOccurrence);
}

void IndexServer::SetAfileInfoReply(const GetAfileInfoRetCC_t &reply) {
    CIndexServerStore::Instance().SetAfileInfoReply(reply);
}

void IndexServer::SetObserver(std::function<void(const IndexServerCall &)> fnObserver) {
    CIndexServerStore::Instance().SetObserver(std::move(fnObserver));
}

} // namespace idxtest

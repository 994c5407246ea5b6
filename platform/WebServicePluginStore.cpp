#include "platform/WebServicePluginStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/LogWriter.h"

namespace {

// One call as one JSON object. Paths and properties come from the job and need not be valid
// UTF-8: such bytes are replaced in the file rather than making the write fail.
std::string ToJsonLine(const idxtest::WebServiceCall &call) {
    nlohmann::json line;
    line["seq"] = call.llSequence;
    line["handler"] = call.nHandler;
    line["call"] = call.strOperation;
    nlohmann::json arguments = nlohmann::json::object();
    for (const auto &argument : call.vecArguments) {
        arguments[argument.first] = argument.second;
    }
    line["args"] = arguments;
    if (call.strOperation == "PushItem" || call.strOperation == "PushItemMetadata") {
        nlohmann::json item;
        item["versionGuid"] = call.strVersionGuid;
        item["contentId"] = call.strContentId;
        item["path"] = call.strPath;
        item["documentType"] = call.nDocumentType;
        // Pairs in their order: the order of the properties is part of what was handed over.
        nlohmann::json properties = nlohmann::json::array();
        for (const auto &property : call.vecProperties) {
            properties.push_back(nlohmann::json::array({property.first, property.second}));
        }
        item["properties"] = properties;
        line["item"] = item;
    }
    line["error"] = call.nError;
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

CWebServicePluginStore &CWebServicePluginStore::Instance() {
    static CWebServicePluginStore s_store;
    return s_store;
}

int CWebServicePluginStore::AddHandler() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_nHandlersMade;
    const int nHandler = ++m_nLastHandler;
    m_mapAliveHandlers[nHandler] = std::function<bool()>();
    return nHandler;
}

void CWebServicePluginStore::ForgetHandler(int nHandler) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_mapAliveHandlers.erase(nHandler);
}

void CWebServicePluginStore::SetAbortCheck(int nHandler, std::function<bool()> fnAbortCheck) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_mapAliveHandlers.find(nHandler);
    if (it != m_mapAliveHandlers.end()) {
        it->second = std::move(fnAbortCheck);
    }
}

bool CWebServicePluginStore::CallAbortCheck(int nHandler, bool &bAnswer) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_mapAliveHandlers.find(nHandler);
    if (it == m_mapAliveHandlers.end() || !it->second) {
        return false;
    }
    bAnswer = it->second();
    return true;
}

uint32_t CWebServicePluginStore::TakeCallError(const std::string &strOperation) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_mapCallFailures.find(strOperation);
    if (it == m_mapCallFailures.end()) {
        return 0;
    }
    const uint32_t nError = it->second.nError;
    if (it->second.nTimes > 0 && --it->second.nTimes == 0) {
        m_mapCallFailures.erase(it);
    }
    return nError;
}

bool CWebServicePluginStore::FindItemFailure(const std::string &strPath,
                                             idxtest::WebServiceItemFailure &failure) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_mapItemFailures.find(strPath);
    if (it == m_mapItemFailures.end()) {
        return false;
    }
    failure = it->second;
    return true;
}

void CWebServicePluginStore::Record(idxtest::WebServiceCall call) {
    std::lock_guard<std::mutex> guard(m_lock);
    call.llSequence = ++m_llSequence;

    // An operator's job may push millions of items: with a file named, the file is the record.
    // Without one, tests read the latest calls from memory, kept within a fixed number.
    const char *szFile = getenv("IDX_WEBSERVICE_CALLS");
    if (szFile == nullptr || *szFile == '\0') {
        if (m_dqCalls.size() >= kMaxCallsKept) {
            m_dqCalls.pop_front();
        }
        m_dqCalls.push_back(std::move(call));
        return;
    }
    std::string strLine = ToJsonLine(call);
    strLine.push_back('\n');
    m_callsFile.Append(szFile, strLine);
}

std::vector<idxtest::WebServiceCall> CWebServicePluginStore::GetCalls() {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::vector<idxtest::WebServiceCall>(m_dqCalls.begin(), m_dqCalls.end());
}

int CWebServicePluginStore::GetHandlersMade() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nHandlersMade;
}

int CWebServicePluginStore::GetHandlersAlive() {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_mapAliveHandlers.size());
}

void CWebServicePluginStore::FailCall(const std::string &strOperation, uint32_t nError,
                                      int nTimes) {
    // The calls that answer with an error; a refusal scripted for any other would never be seen,
    // and a test that asks for one is told so instead of passing for the wrong reason.
    static const std::set<std::string> setAnswering = {
        "getTqCIWebServiceHandle", "Initialize",  "SubmitTask", "FinishTask", "PushItem",
        "PushItemMetadata",        "FinishVMTask"};
    if (setAnswering.count(strOperation) == 0) {
        throw std::invalid_argument("The stand-in plug-in's " + strOperation +
                                    " gives no answer and cannot be made to fail");
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (nTimes == 0) {
        m_mapCallFailures.erase(strOperation);
        return;
    }
    m_mapCallFailures[strOperation] = CCallFailure{nError, nTimes < 0 ? -1 : nTimes};
}

void CWebServicePluginStore::FailItem(const idxtest::WebServiceItemFailure &failure) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_mapItemFailures[failure.strPath] = failure;
}

void CWebServicePluginStore::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_llSequence = 0;
    m_dqCalls.clear();
    // Handlers still alive keep their numbers and checks; numbers are never given twice.
    m_nHandlersMade = 0;
    m_mapCallFailures.clear();
    m_mapItemFailures.clear();
    m_callsFile.Reset();
}

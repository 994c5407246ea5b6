// The stand-in web-service plug-in's memory, kept in the platform library so that the plug-in
// (loaded at run time) and the tests' controls share one: the calls its handlers were given, the
// refusals tests have scripted, the handlers alive with their abort checks, and the calls file
// named by IDX_WEBSERVICE_CALLS. Internal to the platform: the plug-in reaches it through
// platform/WebServicePluginRecord.h, tests through platform/testing/WebServicePlugin.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/OperatorRecordFile.h"
#include "platform/testing/WebServicePlugin.h"

class CWebServicePluginStore {
public:
    static CWebServicePluginStore &Instance();

    // Enough for any one test to read all it caused; a long job stays within a few megabytes.
    static constexpr size_t kMaxCallsKept = 10000;

    // A new handler's number (never given before in this process); it counts as alive until it
    // is forgotten.
    int AddHandler();
    void ForgetHandler(int nHandler);
    void SetAbortCheck(int nHandler, std::function<bool()> fnAbortCheck);
    // Calls the handler's abort check under the store's lock, so that the handler cannot go
    // while it runs; false when there is none.
    bool CallAbortCheck(int nHandler, bool &bAnswer);

    // The error scripted for the next call of the operation (0 when none), used up by this call.
    uint32_t TakeCallError(const std::string &strOperation);
    // The refusal scripted for a record with this path; false when there is none.
    bool FindItemFailure(const std::string &strPath, idxtest::WebServiceItemFailure &failure);

    // Numbers the call and appends it to the calls file, if one is named, or else keeps it in
    // the bounded list.
    void Record(idxtest::WebServiceCall call);

    // Under the lock: the calls kept, and the handler counts.
    std::vector<idxtest::WebServiceCall> GetCalls();
    int GetHandlersMade();
    int GetHandlersAlive();

    void FailCall(const std::string &strOperation, uint32_t nError, int nTimes);
    void FailItem(const idxtest::WebServiceItemFailure &failure);

    void Reset();

private:
    struct CCallFailure {
        uint32_t nError;
        int nTimes; // -1: every call
    };

    std::mutex m_lock;
    long long m_llSequence = 0;
    std::deque<idxtest::WebServiceCall> m_dqCalls;
    int m_nHandlersMade = 0; // since the reset
    int m_nLastHandler = 0;
    std::map<int, std::function<bool()>> m_mapAliveHandlers;
    std::map<std::string, CCallFailure> m_mapCallFailures;
    std::map<std::string, idxtest::WebServiceItemFailure> m_mapItemFailures;
    CAppendedRecordFile m_callsFile{"web-service plug-in calls"};
};

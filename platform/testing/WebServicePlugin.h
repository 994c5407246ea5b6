// Test control of the stand-in web-service plug-in (libTqCIWebServiceHandler.so, built from
// platform/webservice/): read every call its handlers were given, and script refusals. Never used
// by the library itself.
//
// An idxtest::WebServicePlugin instance resets the plug-in's record and script when it is made and
// again when it goes out of scope. Handlers are numbered in the order the entry point made them,
// never twice in a process; the entry point's call carries the number of the handler it made (0
// when it made none). With a calls file named (IDX_WEBSERVICE_CALLS) the file alone keeps the
// calls and none are kept in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Export.h"

namespace idxtest {

// One call of the plug-in as it was made.
struct IDX_EXPORT WebServiceCall {
    long long llSequence = 0;
    int nHandler = 0;
    // "getTqCIWebServiceHandle", "Initialize", "SubmitTask", "FinishTask", "PushItem",
    // "PushItemMetadata", "FinishVMTask", "GetFailedItems", "ClearFailedItems", "SetBatchLimits",
    // "SetOptionFlag", "SetPushOnlyMetadata", "SetSubClientDir", "SetMode", "SetJobId",
    // "SetAbortCheck" or "~ICIWSHandler".
    std::string strOperation;
    // The arguments by name, in the order of the operation's parameters, as text ("1"/"0" for a
    // flag).
    std::vector<std::pair<std::string, std::string>> vecArguments;
    // PushItem and PushItemMetadata: the record handed over.
    std::string strVersionGuid;
    std::string strContentId;
    std::string strPath;
    int nDocumentType = 0;
    std::vector<std::pair<std::string, std::string>> vecProperties;
    // The error number the call answered with; 0 for success (and for calls without a result).
    uint32_t nError = 0;

    // The argument's text; empty when the call has no such argument.
    std::string Argument(const std::string &strName) const;
    // The value of the first custom property of that name; empty when there is none.
    std::string Property(const std::string &strName) const;
    bool HasProperty(const std::string &strName) const;
    std::vector<std::string> PropertyNames() const;
};

// A scripted refusal of one item: the push of the record with this path fails.
struct WebServiceItemFailure {
    std::string strPath;
    uint32_t nError = 774;
    // The record is in the failed list after its push.
    bool bListed = true;
    // Records taken earlier (within the handler's current transaction, as many as its batch
    // limit) that are reported failed together with this one, by path.
    std::vector<std::string> vecAlsoListed;
};

class IDX_EXPORT WebServicePlugin {
public:
    WebServicePlugin();
    ~WebServicePlugin();
    WebServicePlugin(const WebServicePlugin &) = delete;
    WebServicePlugin &operator=(const WebServicePlugin &) = delete;

    // Every call so far, in order.
    std::vector<WebServiceCall> Calls() const;
    // The calls of one operation, in order.
    std::vector<WebServiceCall> Calls(const std::string &strOperation) const;
    // The operation names one handler was called with, in order.
    std::vector<std::string> Operations(int nHandler) const;
    // The records pushed (with or without content), in order.
    std::vector<WebServiceCall> Items() const;
    // Handlers the entry point made since the reset, and those not yet deleted.
    int HandlersMade() const;
    int HandlersAlive() const;

    // The operation answers with error nError (the entry point: with no handler) nTimes times
    // from now on; -1 for every call until the reset. Only the calls that answer can fail:
    // getTqCIWebServiceHandle, Initialize, SubmitTask, FinishTask, PushItem, PushItemMetadata and
    // FinishVMTask; any other name throws std::invalid_argument.
    void FailCall(const std::string &strOperation, uint32_t nError = 774, int nTimes = -1);
    // Every push of a record with the failure's path is refused as the failure says.
    void FailItem(const WebServiceItemFailure &failure);

    // Calls the abort check that handler nHandler was given; false when the handler is gone or
    // was given none.
    bool CallAbortCheck(int nHandler, bool &bAnswer) const;

    static void Reset();
    // How many of the latest calls are kept in memory.
    static size_t MaxCallsKept();
};

} // namespace idxtest

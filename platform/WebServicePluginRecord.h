// The stand-in web-service plug-in's link to its record in the platform library
// (platform/WebServicePluginStore.h): the plug-in, a library of its own (platform/webservice/),
// reports every call it receives here and asks here what tests have scripted. Nothing else calls
// it: tests read the record through platform/testing/WebServicePlugin.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/Export.h"
#include "platform/testing/WebServicePlugin.h"

class IDX_EXPORT CWebServicePluginRecord {
public:
    // A new handler's number (never given before in this process); it counts as alive until it
    // is forgotten.
    static int AddHandler();
    static void ForgetHandler(int nHandler);
    // Kept while the handler lives, for the tests to call.
    static void SetAbortCheck(int nHandler, std::function<bool()> fnAbortCheck);
    // The error scripted for this call of the operation (0 when none), used up by the call.
    static uint32_t TakeCallError(const std::string &strOperation);
    // The refusal scripted for a record with this path; false when there is none.
    static bool FindItemFailure(const std::string &strPath,
                                idxtest::WebServiceItemFailure &failure);
    // Numbers the call and keeps it (or appends it to the calls file, when one is named).
    static void Record(idxtest::WebServiceCall call);
};

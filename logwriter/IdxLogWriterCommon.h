// What the index-log workers share beyond their base: the abort test and the progress report,
// both of which call the job's own callback and so must not let its exceptions through.
#pragma once

#include "foundation/KyError.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace idxlogwriter {

// The transmitter's sticky abort test. It may ask the job's quit flag, whose exception is logged
// and read as "not aborted": the next test asks again.
inline bool IsAbortedOrLog(CTransmitterOptions &options) {
    try {
        return options.IsAborted();
    } catch (...) {
        CKyError error = ErrorFromCaughtException(FXLOC);
        IDX_LOG_ERROR("Abort test failed, error=%s", error.AsString().c_str());
        return false;
    }
}

// Hands the job an increment of progress (items, bytes, failures) when it gave a callback; a
// refusal or an exception is only logged.
inline void ReportProgress(CTransmitterOptions &options, long long llItems, long long llBytes,
                           long long llFailed) {
    CSolrTransmitterCallbackPtr ptrCallback = options.GetCallback();
    if (!ptrCallback) {
        return;
    }
    CKyError error;
    try {
        error = ptrCallback->UpdateProgress(llItems, llBytes, llFailed);
    } catch (...) {
        error = ErrorFromCaughtException(FXLOC);
    }
    if (error.IsError()) {
        IDX_LOG_ERROR("Unable to update the progress information. Error [%s]",
                      error.AsString().c_str());
    }
}

} // namespace idxlogwriter

// What the index-log workers share beyond their base: the progress report, which calls the job's
// own callback and so must not let its exceptions through.
#pragma once

#include "foundation/KyError.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace idxlogwriter {

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

// What the index-log workers share beyond their base: the walk over a batch's items, and the
// progress report, which calls the job's own callback and so must not let its exceptions through.
#pragma once

#include <string>

#include "foundation/KyError.h"
#include "platform/IndexingConnection.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/ItemBatch.h"
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

// Opens the connection to the index server for the job the options describe; the connection's
// own answer, 0 when it is open.
inline int InitializeIndexConnection(IndexingConnection &connection,
                                     const CTransmitterOptions &options) {
    const std::string strJobToken = options.GetJobToken();
    const std::string strMangledName = options.GetIndexingServerMangledName();
    const std::string strClientName = options.GetIndexingServerClientName();
    return connection.initialize(options.GetFleetId(), options.GetApplicationNumber(),
                                 options.GetAppType(), options.GetBackupType(), strJobToken.c_str(),
                                 strMangledName.c_str(), strClientName.c_str(),
                                 options.GetIndexingConnectionFlags());
}

// The next item of the batch for the index, or an empty pointer when the batch holds no more. The
// root is no item of the index: it (and an empty entry) is passed over, settled as sent without
// being sent or counted.
inline CItemPtr NextIndexItem(CItemBatch &batch) {
    while (!batch.IsEmpty()) {
        CItemPtr ptrItem = batch.Front();
        if (ptrItem && ptrItem->GetPath() != "/") {
            return ptrItem;
        }
        batch.SentFront();
    }
    return CItemPtr();
}

} // namespace idxlogwriter

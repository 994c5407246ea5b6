// Turns an exception caught at the edge of an exported operation, or of a worker's step, into an
// error value, so that nothing thrown inside (an allocation, the job's own callback) leaves the
// library or silently ends a worker's thread.
#pragma once

#include <exception>
#include <new>

#include "foundation/ErrorCodes.h"
#include "foundation/KyError.h"

// Call only inside a catch block: rethrows the exception being handled to classify it. Running
// out of memory is 14; anything else is 1359 with whatever text the exception carries.
inline CKyError ErrorFromCaughtException(const FXCodeLocation &location) {
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return FXErrorUtil::ErrorWin32(location, EIdxError::eNotEnoughMemory);
    } catch (const std::exception &e) {
        return FXErrorUtil::ErrorWin32(location, EIdxError::eQuitOrNoWorkers,
                                       "Unexpected exception: %s", e.what());
    } catch (const char *szText) {
        return FXErrorUtil::ErrorWin32(location, EIdxError::eQuitOrNoWorkers,
                                       "Unexpected exception: %s", szText ? szText : "");
    } catch (...) {
        return FXErrorUtil::ErrorWin32(location, EIdxError::eQuitOrNoWorkers,
                                       "Unexpected exception");
    }
}

// The error numbers the library returns and tests for. Errors are made with
// FXErrorUtil::ErrorWin32(location, number, ...) and recognised with FXErrorUtil::IsWin32; call
// sites name the number with one of these constants, never with a bare literal.
#pragma once

#include <cstdint>

struct EIdxError {
    enum : uint32_t {
        // What the library reports.
        eGeneralFailure = 774,        // the most common failure of an operation
        eNotEnoughMemory = 14,        // an allocation failed
        eOperationAborted = 995,      // the job's quit flag or an abort
        eCacheReadWriteFailed = 1627, // the configuration cache could not be read or written
        eNotSupported = 50,
        eCacheTokenUnknown = 1608, // a configuration-cache token id is not recognised
        eEnginePingFailed = 1168,
        eQuitOrNoWorkers = 1359, // the quit flag during the wait, or no worker to wait for
        eInvalidParameter = 87,
        eNoEngineAddress = 13,
        eQueueWaitGivenUp = 258,
        eSkipItem = 1246,        // skip this virtual-machine item
        eEngineBadRequest = 400, // the engine refused the request as malformed
        eSearchReturnedNothing = 4306,
        // What the library reads in the results of the platform's calls.
        eInvalidFunction = 1, // the path is not a regular file
        eFileNotFound = 2,
        ePathNotFound = 3,
        eNoMoreFiles = 18, // end of a directory enumeration
    };
};

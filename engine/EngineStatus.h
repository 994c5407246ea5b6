// The statuses the engine failure policy decides on: HTTP statuses of the engine's answers, the
// engine's own status numbers above 589 that its answers carry, and the numbers this side gives
// an exchange that produced no usable answer. Call sites use these names, never bare numbers.
#pragma once

#include <cstdint>

struct EEngineStatus {
    enum : uint32_t {
        eOk = 200,
        eBadRequest = 400,
        eOutOfMemory = 590,
        eOutOfDiskSpace = 592,
        eIndexServerError = 593,
        ePushFailed = 594,
        eCompletedWithErrors = 595, // taken, but part of it failed: the job completes with errors
        ePushFailedOther = 596,
        eFleetServerDown = 597,
        eNotResponding = 601,
        eEmptyAnswer = 999, // no answer, an empty one, or a transport failure
    };
};

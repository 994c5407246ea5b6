// A queue size or worker count read from the platform settings, shared by the two initializer
// families.
#pragma once

#include <cstdint>

#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"

// szName in szSection as a count from 1 to the largest signed 32-bit number, else nDefault. The
// transmitter takes any int: a queue without a slot never moves, and a job without a worker
// never sends what it queues, so a value outside the range is logged and taken as absent.
inline int ReadCountSetting(const TQPlatformInfo &platformInfo, const char *szSection,
                            const char *szName, int nDefault) {
    unsigned long ulValue = 0;
    if (!platformInfo.getNumber(szSection, szName, &ulValue)) {
        return nDefault;
    }
    if (ulValue == 0 || ulValue > static_cast<unsigned long>(INT32_MAX)) {
        IDX_LOG_ERROR("Platform setting %s=[%ld] is not a count from 1 to %d; using %d", szName,
                      static_cast<long>(ulValue), INT32_MAX, nDefault);
        return nDefault;
    }
    return static_cast<int>(ulValue);
}

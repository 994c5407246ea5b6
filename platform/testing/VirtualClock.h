// Test control: while an instance lives, CTimeStamp::Now reads a virtual clock that only
// KYSLEEP_InTeRnAl and Advance move, so that waits of seconds or minutes cost nothing.
#pragma once

#include <cstdint>

#include "foundation/Export.h"

namespace idxtest {

class IDX_EXPORT VirtualClock {
public:
    VirtualClock();
    ~VirtualClock();
    VirtualClock(const VirtualClock &) = delete;
    VirtualClock &operator=(const VirtualClock &) = delete;

    static void Advance(uint32_t nMilliseconds);
    static int64_t Ticks();
};

} // namespace idxtest

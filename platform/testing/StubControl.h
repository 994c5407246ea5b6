// Test control of stub detection (platform/StubQueries.h): load the stubbing driver, have the
// stub filter skip chosen paths or fail its set-up, see which paths stub filters were made from,
// and make a file that the HSM low-level query reports as a stub. Never used by the library.
//
// An idxtest::StubControl instance resets the script when it is made and again when it goes out
// of scope: no driver, nothing skipped, no failures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Export.h"

namespace idxtest {

class IDX_EXPORT StubControl {
public:
    StubControl();
    ~StubControl();
    StubControl(const StubControl &) = delete;
    StubControl &operator=(const StubControl &) = delete;

    void SetDriverLoaded(bool bLoaded);
    // The stub filter skips the item whose path (CItem::GetPath) is exactly strPath.
    void SkipForArchiving(const std::string &strPath, const std::string &strReason);
    // The next nTimes Initialize calls of stub filters fail with error 774.
    void FailFilterInitialize(int nTimes = 1);

    // The paths stub filters were made from, in order, and how often Initialize ran.
    std::vector<std::string> FilterPaths() const;
    int FilterInitializeCalls() const;

    // Makes strPath a file of ullSize bytes that occupies no blocks, as the archiver leaves a
    // file whose data it moved away; false when it cannot be made so.
    static bool MakeStubFile(const std::string &strPath, uint64_t ullSize);

    static void Reset();
};

} // namespace idxtest

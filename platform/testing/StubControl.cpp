#include "platform/testing/StubControl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/StubQueriesStore.h"

namespace idxtest {

StubControl::StubControl() {
    Reset();
}

StubControl::~StubControl() {
    Reset();
}

void StubControl::Reset() {
    CStubQueriesStore::Instance().Reset();
}

void StubControl::SetDriverLoaded(bool bLoaded) {
    CStubQueriesStore::Instance().With(
        [&](CStubScript &script) { script.bDriverLoaded = bLoaded; });
}

void StubControl::SkipForArchiving(const std::string &strPath, const std::string &strReason) {
    CStubQueriesStore::Instance().With(
        [&](CStubScript &script) { script.mapSkipped[strPath] = strReason; });
}

void StubControl::FailFilterInitialize(int nTimes) {
    CStubQueriesStore::Instance().With(
        [&](CStubScript &script) { script.nInitializeFailuresLeft = nTimes; });
}

std::vector<std::string> StubControl::FilterPaths() const {
    return CStubQueriesStore::Instance().With(
        [](CStubScript &script) { return script.vecFilterPaths; });
}

int StubControl::FilterInitializeCalls() const {
    return CStubQueriesStore::Instance().With(
        [](CStubScript &script) { return script.nInitializeCalls; });
}

bool StubControl::MakeStubFile(const std::string &strPath, uint64_t ullSize) {
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool bMade = ftruncate(fd, static_cast<off_t>(ullSize)) == 0;
    struct stat st;
    bMade = bMade && fstat(fd, &st) == 0 && st.st_blocks == 0 &&
            static_cast<uint64_t>(st.st_size) == ullSize;
    close(fd);
    return bMade;
}

} // namespace idxtest

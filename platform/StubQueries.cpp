#include "platform/StubQueries.h"

#include "platform/StubQueriesStore.h"

CStubQueriesStore &CStubQueriesStore::Instance() {
    static CStubQueriesStore s_store;
    return s_store;
}

CStubbingFilterUnix::CStubbingFilterUnix(const std::string &strPath) : m_strPath(strPath) {
    CStubQueriesStore::Instance().With(
        [&](CStubScript &script) { script.vecFilterPaths.push_back(strPath); });
}

CKyError CStubbingFilterUnix::Initialize() {
    bool bFail = CStubQueriesStore::Instance().With([](CStubScript &script) {
        ++script.nInitializeCalls;
        if (script.nInitializeFailuresLeft > 0) {
            --script.nInitializeFailuresLeft;
            return true;
        }
        return false;
    });
    if (bFail) {
        return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to initialize the stub filter for [%s]",
                                       m_strPath.c_str());
    }
    return CKyError::Success();
}

bool CStubbingFilterUnix::IsItemToBeSkipped(const CItemPtr &ptrItem, std::string &strReason) {
    if (!ptrItem) {
        return false;
    }
    const std::string &strPath = ptrItem->GetPath();
    return CStubQueriesStore::Instance().With([&](CStubScript &script) {
        auto it = script.mapSkipped.find(strPath);
        if (it == script.mapSkipped.end()) {
            return false;
        }
        strReason = it->second;
        return true;
    });
}

bool CXHSMServiceHelper::IsFSFDriverLoaded() {
    return CStubQueriesStore::Instance().With(
        [](CStubScript &script) { return script.bDriverLoaded; });
}

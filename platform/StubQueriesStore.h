// What tests have scripted about stubs on this host. Internal to the platform; tests reach it
// through platform/testing/StubControl.h.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

struct CStubScript {
    bool bDriverLoaded = false;
    // Item path to the reason it is skipped for archiving.
    std::map<std::string, std::string> mapSkipped;
    int nInitializeFailuresLeft = 0;
    // What the stub filters saw: the paths they were made from and their Initialize calls.
    std::vector<std::string> vecFilterPaths;
    int nInitializeCalls = 0;
};

class CStubQueriesStore {
public:
    static CStubQueriesStore &Instance();

    template <class Fn> auto With(Fn fn) {
        std::lock_guard<std::mutex> guard(m_lock);
        return fn(m_script);
    }

    void Reset() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_script = CStubScript();
    }

private:
    std::mutex m_lock;
    CStubScript m_script;
};

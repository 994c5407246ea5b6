# Proves that scripts/check-thread-safety fails on a locking violation and passes the same code
# without it:
#   cmake -DSCRIPT=<scripts/check-thread-safety> -DBUILD=<build folder> -DWORK=<folder>
#         -P ThreadSafetyCheck.cmake
# Each planted file differs from the correct one in one place: a guarded field written without
# its lock, a function that requires a lock called without it, a field guarded by a standard mutex
# read outside its guard.
cmake_minimum_required(VERSION 3.25)

foreach(var SCRIPT BUILD WORK)
    if(NOT ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

set(strHead [=[
#include "foundation/Locks.h"

class CCounter {
public:
    void Set(int n);
    void Reset();
    int Get();

private:
    void SetLocked(int n) IDX_REQUIRES(m_lock) { m_n = n; }
    FXCriticalSection m_lock;
    int m_n IDX_GUARDED_BY(m_lock) = 0;
    CStdMutex m_mutex;
    int m_nOther IDX_GUARDED_BY(m_mutex) = 0;
};
]=])
set(strCorrect [=[
void CCounter::Set(int n) {
    auto_lock lock(&m_lock, true);
    m_n = n;
}
void CCounter::Reset() {
    auto_lock lock(&m_lock, true);
    SetLocked(0);
}
int CCounter::Get() {
    CStdMutexLock lock(m_mutex);
    return m_nOther;
}
]=])

file(MAKE_DIRECTORY "${WORK}")
set(nProblems 0)

function(check strName strText bExpectFailure)
    set(strFile "${WORK}/${strName}.cpp")
    file(WRITE "${strFile}" "${strHead}${strText}")
    execute_process(COMMAND "${SCRIPT}" --build "${BUILD}" "${strFile}"
        RESULT_VARIABLE nResult OUTPUT_VARIABLE strOut ERROR_VARIABLE strOut)
    if(bExpectFailure)
        if(nResult EQUAL 0 OR NOT strOut MATCHES "-Wthread-safety")
            message(SEND_ERROR "${strName}: the check did not fail on the violation:\n${strOut}")
            set(nProblems 1 PARENT_SCOPE)
        endif()
    elseif(NOT nResult EQUAL 0)
        message(SEND_ERROR "${strName}: the check failed on correct code:\n${strOut}")
        set(nProblems 1 PARENT_SCOPE)
    endif()
endfunction()

# Plants one violation: strFrom of the correct code becomes strTo.
function(plant strName strFrom strTo)
    string(REPLACE "${strFrom}" "${strTo}" strText "${strCorrect}")
    if(strText STREQUAL strCorrect)
        message(FATAL_ERROR "${strName}: nothing was planted")
    endif()
    check(${strName} "${strText}" TRUE)
    set(nProblems ${nProblems} PARENT_SCOPE)
endfunction()

check(Correct "${strCorrect}" FALSE)
plant(GuardedFieldWithoutLock "    auto_lock lock(&m_lock, true);\n    m_n = n;" "    m_n = n;")
plant(RequiredLockNotHeld "    auto_lock lock(&m_lock, true);\n    SetLocked(0);" "    SetLocked(0);")
plant(StdMutexFieldWithoutLock "    CStdMutexLock lock(m_mutex);\n" "")
if(nProblems)
    message(FATAL_ERROR "the thread-safety check does not tell violations from correct code")
endif()

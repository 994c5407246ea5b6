#include "transmitter/AbortState.h"

#include "platform/EventThread.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"

bool CAbortState::IsQuitFlagSet() const {
    return m_ptrCallback && m_ptrCallback->IsQuitFlagSet();
}

bool CAbortState::AskJob() {
    std::lock_guard<std::mutex> lock(m_lockAskJob);
    // The job's quit flag first, then its abort event; neither is asked once the flag is on.
    // Only a set event counts; a failed test is taken as not set.
    const bool bAborted = m_bAborted.load(std::memory_order_acquire) || IsQuitFlagSet() ||
                          (m_ptrAbortEvent && m_ptrAbortEvent->WaitForSet(0) == 0);
    if (bAborted) {
        m_bAborted.store(true, std::memory_order_release);
    }
    return bAborted;
}

bool CAbortState::IsAborted(EJobFault eFault) {
    if (IsAbortFlagSet()) {
        return true;
    }
    if (eFault == ePassOn) {
        return AskJob();
    }
    try {
        return AskJob();
    } catch (...) {
        if (eFault == eNotAbortedLogged) {
            CKyError error = ErrorFromCaughtException(FXLOC);
            IDX_LOG_ERROR("Abort test failed, error=%s", error.AsString().c_str());
        }
        return false;
    }
}

void CAbortState::SetAborted(bool bAborted) {
    std::lock_guard<std::mutex> lock(m_lockAskJob);
    m_bAborted.store(bAborted, std::memory_order_release);
}

#include "platform/EventThread.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <memory>
#include <system_error>

#include "platform/LogWriter.h"

namespace {

std::atomic<uint64_t> g_ullNextThreadSerial{1};
// A process-unique number of the calling thread; unlike a thread id it is never reused, so a new
// thread never inherits a dead thread's view of an event.
thread_local uint64_t t_ullThreadSerial = 0;
// The stop flag of the event thread that runs on this thread, if any: it ends its waits.
thread_local const std::atomic<bool> *t_pStopRequested = nullptr;

uint64_t CurrentThreadSerial() {
    if (t_ullThreadSerial == 0) {
        t_ullThreadSerial = g_ullNextThreadSerial.fetch_add(1);
    }
    return t_ullThreadSerial;
}

class CStopFlagScope {
public:
    explicit CStopFlagScope(const std::atomic<bool> *pStopRequested)
        : m_pPrevious(t_pStopRequested) {
        t_pStopRequested = pStopRequested;
    }
    ~CStopFlagScope() { t_pStopRequested = m_pPrevious; }
    CStopFlagScope(const CStopFlagScope &) = delete;
    CStopFlagScope &operator=(const CStopFlagScope &) = delete;

private:
    const std::atomic<bool> *m_pPrevious;
};

// Runs a hook; an exception ends up in the log instead of ending the process. False when thrown.
template <class Hook> bool CallHook(const char *szHook, Hook fnHook) {
    try {
        fnHook();
        return true;
    } catch (const std::exception &e) {
        IDX_LOG_ERROR("Event thread hook %s failed: %s", szHook, e.what());
    } catch (...) {
        IDX_LOG_ERROR("Event thread hook %s failed with an unknown exception", szHook);
    }
    return false;
}

// The waiter of a thread (TWaiter is FXEvent's), made once per thread and shared with the set
// that wakes it, so that its condition outlives a thread that returns, and even ends, while that
// set is still notifying it.
template <class TWaiter>
struct CSharedWaiter : TWaiter, std::enable_shared_from_this<CSharedWaiter<TWaiter>> {};

} // namespace

FXEvent::FXEvent(unsigned int nFlags) : m_nFlags(nFlags) {}

void FXEvent::AppendWaiter(CWaiter *pWaiter) {
    pWaiter->pPrev = m_pLastWaiter;
    pWaiter->pNext = nullptr;
    if (m_pLastWaiter != nullptr) {
        m_pLastWaiter->pNext = pWaiter;
    } else {
        m_pFirstWaiter = pWaiter;
    }
    m_pLastWaiter = pWaiter;
}

void FXEvent::UnlinkWaiter(CWaiter *pWaiter) {
    (pWaiter->pPrev != nullptr ? pWaiter->pPrev->pNext : m_pFirstWaiter) = pWaiter->pNext;
    (pWaiter->pNext != nullptr ? pWaiter->pNext->pPrev : m_pLastWaiter) = pWaiter->pPrev;
    pWaiter->pPrev = nullptr;
    pWaiter->pNext = nullptr;
}

// Set notifies the waiters with the lock held, which keeps every one of them waiting until it has
// notified them all; it is the rare broadcast (stop, commit), so that costs nothing that matters.
void FXEvent::Set() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_ullGeneration;
    for (CWaiter *pWaiter = m_pFirstWaiter; pWaiter != nullptr; pWaiter = pWaiter->pNext) {
        pWaiter->bWoken = true;
        pWaiter->cv.notify_one();
    }
    m_pFirstWaiter = nullptr;
    m_pLastWaiter = nullptr;
}

// SetOne notifies after it has released the lock: a thread woken with the lock still held only
// wakes to block on it, and the release then has to wake it a second time. The reference taken
// under the lock keeps the waiter's condition alive until the notification is made.
void FXEvent::SetOne() {
    std::shared_ptr<CSharedWaiter<CWaiter>> ptrWoken;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_ullGeneration;
        CWaiter *pWaiter = m_pFirstWaiter;
        if (pWaiter == nullptr) {
            return;
        }
        UnlinkWaiter(pWaiter);
        pWaiter->bWoken = true;
        // Every listed waiter is a thread's shared one (Wait lists no other).
        ptrWoken = static_cast<CSharedWaiter<CWaiter> *>(pWaiter)->shared_from_this();
    }
    ptrWoken->cv.notify_one();
}

void FXEvent::Alert() {
    // Under the lock, the stop flag's store comes before any waiter's next test of it.
    std::lock_guard<std::mutex> guard(m_lock);
    for (CWaiter *pWaiter = m_pFirstWaiter; pWaiter != nullptr; pWaiter = pWaiter->pNext) {
        pWaiter->cv.notify_one();
    }
}

uint32_t FXEvent::WaitForSet(uint32_t nMilliseconds) {
    return Wait(nMilliseconds, false);
}

uint32_t FXEvent::WaitForSetReal(uint32_t nMilliseconds) {
    return Wait(nMilliseconds, true);
}

uint32_t FXEvent::Wait(uint32_t nMilliseconds, bool bRealClock) {
    const std::atomic<bool> *pStopRequested = t_pStopRequested;
    const uint64_t ullSerial = CurrentThreadSerial();
    std::unique_lock<std::mutex> lock(m_lock);
    // A first wait starts from generation 0, so it sees the Sets made before it.
    uint64_t &ullSeen = m_mapSeen[ullSerial];
    auto bStopRequested = [pStopRequested] {
        return pStopRequested != nullptr && pStopRequested->load();
    };
    // A set made since this thread last saw one is seen at once; otherwise the thread waits until
    // a set wakes it (a SetOne wakes the thread that has waited longest) or its wait ends.
    if (m_ullGeneration == ullSeen && !bStopRequested() && nMilliseconds != 0) {
        // A notification of an earlier wait that arrives late is a spurious wake-up of this one,
        // which bDone sends back to its wait.
        thread_local const std::shared_ptr<CSharedWaiter<CWaiter>> t_ptrWaiter =
            std::make_shared<CSharedWaiter<CWaiter>>();
        CWaiter &waiter = *t_ptrWaiter;
        waiter.bWoken = false;
        AppendWaiter(&waiter);
        auto bDone = [&] { return waiter.bWoken || bStopRequested(); };
        if (nMilliseconds == TQ_INFINITE) {
            waiter.cv.wait(lock, bDone);
        } else if (bRealClock) {
            waiter.cv.wait_for(lock, std::chrono::milliseconds(nMilliseconds), bDone);
        } else {
            TqTimedWait(waiter.cv, lock, nMilliseconds, bDone);
        }
        if (!waiter.bWoken) {
            UnlinkWaiter(&waiter); // timed out or stopped: still listed
        }
    }
    if (m_ullGeneration != ullSeen) {
        ullSeen = m_ullGeneration;
        return TQ_WAIT_OBJECT_0;
    }
    return bStopRequested() ? TQ_WAIT_IO_COMPLETION : TQ_WAIT_TIMEOUT;
}

CAlertableEventThread::CAlertableEventThread(boost::shared_ptr<FXEvent> &ptrEvent)
    : m_ptrEvent(ptrEvent ? ptrEvent : boost::shared_ptr<FXEvent>(new FXEvent(0))) {}

CAlertableEventThread::CAlertableEventThread() : m_ptrEvent(new FXEvent(0)) {}

CAlertableEventThread::~CAlertableEventThread() {
    StopBeforeDestruction();
}

void CAlertableEventThread::StopBeforeDestruction() {
    CAlertableEventThread::Stop(true);
    std::lock_guard<std::mutex> guard(m_lockState);
    if (m_thread.joinable()) {
        // Only left when the object is destroyed by its own hook, which cannot join itself.
        IDX_LOG_ERROR("Event thread destroyed by its own hook; its thread is detached");
        m_thread.detach();
    }
}

CKyError CAlertableEventThread::Start() {
    std::unique_lock<std::mutex> lock(m_lockState);
    if (m_eState != eNotStarted) {
        return FXErrorUtil::ErrorWin32(FXLOC, 1247, "The event thread was already started");
    }
    try {
        m_thread = std::thread(&CAlertableEventThread::ThreadMain, this);
    } catch (const std::system_error &e) {
        return FXErrorUtil::ErrorErrNo(FXLOC, e.code().value(),
                                       "Failed to create the event thread: %s", e.what());
    }
    m_eState = eStarting;
    m_cvState.wait(lock, [this] { return m_eState != eStarting; });
    return CKyError::Success();
}

CKyError CAlertableEventThread::StartSynchronously() {
    {
        std::lock_guard<std::mutex> guard(m_lockState);
        if (m_eState != eNotStarted) {
            return FXErrorUtil::ErrorWin32(FXLOC, 1247, "The event thread was already started");
        }
        m_eState = eStarting;
        m_idThread = std::this_thread::get_id();
    }
    RunLife();
    return CKyError::Success();
}

void CAlertableEventThread::ThreadMain() {
    {
        // Start holds the lock until it waits, so the state is eStarting by now.
        std::lock_guard<std::mutex> guard(m_lockState);
        m_idThread = std::this_thread::get_id();
    }
    RunLife();
}

void CAlertableEventThread::RunLife() {
    CStopFlagScope scope(&m_bStopRequested);
    if (!CallHook("OnStart", [this] { OnStart(); })) {
        RequestStop();
    }
    SetState(eRunning);
    if (!CallHook("Run", [this] { Run(); })) {
        RequestStop();
    }
    CallHook("OnStop", [this] { OnStop(); });
    SetState(eEnded);
}

void CAlertableEventThread::Run() {
    OnRun();
    while (!m_bStopRequested.load()) {
        const uint32_t nResult = WaitForEvent();
        if (m_bStopRequested.load()) {
            break;
        }
        switch (nResult) {
        case TQ_WAIT_OBJECT_0:
            OnEvent();
            break;
        case TQ_WAIT_TIMEOUT:
            OnTimeout();
            break;
        case TQ_WAIT_ABANDONED:
            OnAbandoned();
            break;
        default:
            OnCompletion();
            break;
        }
    }
}

void CAlertableEventThread::SetState(EState eState) {
    std::lock_guard<std::mutex> guard(m_lockState);
    m_eState = eState;
    m_cvState.notify_all();
}

CKyError CAlertableEventThread::Stop(bool bWait) {
    RequestStop();
    if (!bWait) {
        return CKyError::Success();
    }
    std::thread thread;
    {
        std::unique_lock<std::mutex> lock(m_lockState);
        if (m_eState == eNotStarted || m_idThread == std::this_thread::get_id()) {
            // Never started, or asked from its own hook: the loop ends when the hook returns.
            return CKyError::Success();
        }
        m_cvState.wait(lock, [this] { return m_eState == eEnded; });
        thread = std::move(m_thread);
    }
    if (thread.joinable()) {
        thread.join();
    }
    return CKyError::Success();
}

bool CAlertableEventThread::WaitForStop(CTimeInterval interval) {
    std::unique_lock<std::mutex> lock(m_lockState);
    auto bEnded = [this] { return m_eState == eNotStarted || m_eState == eEnded; };
    if (bEnded()) {
        return true;
    }
    if (m_idThread == std::this_thread::get_id()) {
        return false;
    }
    if (interval.GetTicks() <= 0) {
        m_cvState.wait(lock, bEnded);
        return true;
    }
    const uint64_t ullMilliseconds = static_cast<uint64_t>(interval.GetTicks() + 9999) / 10000;
    return TqTimedWait(m_cvState, lock, ullMilliseconds, bEnded);
}

uint32_t CAlertableEventThread::WaitForEvent() {
    return m_ptrEvent->WaitForSet(TimeoutMilliseconds());
}

uint32_t CAlertableEventThread::TimeoutMilliseconds() const {
    const int64_t llTicks = m_llTimeoutTicks.load();
    if (llTicks <= 0) {
        return TQ_INFINITE;
    }
    // Rounded up, so that a time-out below one millisecond does not turn into a busy poll.
    const uint64_t ullMilliseconds = (static_cast<uint64_t>(llTicks) + 9999) / 10000;
    return static_cast<uint32_t>(std::min<uint64_t>(ullMilliseconds, TQ_INFINITE - 1));
}

void CAlertableEventThread::SetTimeout(CTimeInterval interval) {
    m_llTimeoutTicks.store(interval.GetTicks());
}

CTimeInterval CAlertableEventThread::GetTimeout() const {
    return CTimeInterval(m_llTimeoutTicks.load());
}

void CAlertableEventThread::InternalStop() {
    RequestStop();
}

void CAlertableEventThread::RequestStop() {
    m_bStopRequested.store(true);
    m_ptrEvent->Alert();
}

void CAlertableEventThread::SetEvent() {
    m_ptrEvent->Set();
}

bool CAlertableEventThread::IsRunning() const {
    std::lock_guard<std::mutex> guard(m_lockState);
    return m_eState == eStarting || m_eState == eRunning;
}

TqThread::~TqThread() {
    if (!m_bCreated) {
        return;
    }
    if (pthread_equal(m_thread, pthread_self())) {
        pthread_detach(m_thread);
    } else {
        pthread_join(m_thread, nullptr);
    }
}

int TqThread::createThread(TqThreadEntry pfnEntry, void *pArgument) {
    if (pfnEntry == nullptr) {
        return EINVAL;
    }
    if (m_bCreated) {
        return EBUSY;
    }
    const int nResult = pthread_create(&m_thread, nullptr, pfnEntry, pArgument);
    if (nResult == 0) {
        m_bCreated = true;
    }
    return nResult;
}

int TqThread::join() {
    if (!m_bCreated) {
        return ESRCH;
    }
    if (pthread_equal(m_thread, pthread_self())) {
        return EDEADLK;
    }
    const int nResult = pthread_join(m_thread, nullptr);
    if (nResult == 0) {
        m_bCreated = false;
    }
    return nResult;
}

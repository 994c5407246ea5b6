// The framework's event threads: a thread that runs hooks of a derived class when its event is
// set or a time-out passes, the broadcast event they wait on, and a plain joinable thread.
//
// Contract of CAlertableEventThread:
// - Start() returns after OnStart() has run on the new thread; the hooks of one thread run on it
//   one at a time, in this order: OnStart, OnRun, then the loop (WaitForEvent, then OnEvent,
//   OnTimeout, OnAbandoned or OnCompletion after its result), and OnStop last.
// - A stop request (Stop, InternalStop) ends the loop at its next turn and ends a WaitForSet of
//   the thread on its own event at once; Stop(true) then waits until OnStop has returned, so no
//   hook runs after it. Called from the thread's own hook it only requests the stop.
// - A thread object that was never started starts nothing and its destructor waits for nothing.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"
#include "foundation/TimeValues.h"
#include "platform/SyncHandles.h"

// Broadcast event. Each thread keeps its own view of it: a Set wakes every thread that waits on
// it, and a thread that was busy when the event was set sees that Set at its next wait (several
// Sets seen at once count as one). A thread that never waited before sees every earlier Set.
class IDX_EXPORT FXEvent {
public:
    // The flags are kept for the owner; no value changes the behaviour.
    explicit FXEvent(unsigned int nFlags = 0);
    FXEvent(const FXEvent &) = delete;
    FXEvent &operator=(const FXEvent &) = delete;

    void Set();
    // Sets the event but wakes at most one waiting thread: the others see the set when they are
    // woken or wait again. For an event that many interchangeable consumers wait on (the item
    // queue), so that each set wakes one idle consumer instead of all of them.
    void SetOne();

    // TQ_WAIT_OBJECT_0 (0) when the event was set since this thread last saw it set;
    // TQ_WAIT_TIMEOUT when the time ran out; TQ_WAIT_IO_COMPLETION when the calling event
    // thread was asked to stop. TQ_INFINITE waits without limit, 0 only tests.
    uint32_t WaitForSet(uint32_t nMilliseconds);
    // The same, but a limited wait is measured on the steady real clock whatever the platform
    // clock does: for waits of a few milliseconds that must end on time even while a test holds
    // a virtual clock still.
    uint32_t WaitForSetReal(uint32_t nMilliseconds);

    unsigned int GetFlags() const { return m_nFlags; }

private:
    friend class CAlertableEventThread;
    // A thread blocked in WaitForSet. Each has a condition of its own, and a set marks the ones it
    // wakes before it notifies them: which thread a set wakes never depends on how the system
    // shares one condition's notifications among several waiters.
    // Waiters live on their threads' stacks and are linked in place, so a wait allocates nothing.
    struct CWaiter {
        std::condition_variable cv;
        bool bWoken = false;
        CWaiter *pPrev = nullptr;
        CWaiter *pNext = nullptr;
    };

    void AppendWaiter(CWaiter *pWaiter);
    void UnlinkWaiter(CWaiter *pWaiter);

    // Wakes the waiters so that a thread asked to stop leaves its wait; sets nothing.
    void Alert();
    uint32_t Wait(uint32_t nMilliseconds, bool bRealClock);

    const unsigned int m_nFlags;
    std::mutex m_lock;
    uint64_t m_ullGeneration = 0;
    // The generation each waiting thread (by its process-unique serial) has seen.
    std::unordered_map<uint64_t, uint64_t> m_mapSeen;
    // The blocked threads not woken yet, the longest waiting first.
    CWaiter *m_pFirstWaiter = nullptr;
    CWaiter *m_pLastWaiter = nullptr;
};

class IDX_EXPORT CAlertableEventThread {
public:
    // Waits on the given event, shared with other threads; an empty pointer gets an own event.
    explicit CAlertableEventThread(boost::shared_ptr<FXEvent> &ptrEvent);
    // Waits on an event of its own.
    CAlertableEventThread();
    // Stops the thread and waits for its end when it still runs (see StopBeforeDestruction).
    virtual ~CAlertableEventThread();
    CAlertableEventThread(const CAlertableEventThread &) = delete;
    CAlertableEventThread &operator=(const CAlertableEventThread &) = delete;

    // Starts the thread once; a second Start fails with error 1247.
    virtual CKyError Start();
    // Runs the thread's whole life (hooks and loop) on the calling thread and returns when the
    // loop has been stopped from a hook or another thread.
    virtual CKyError StartSynchronously();
    virtual CKyError Stop(bool bWait);
    // True when the thread has ended (or never started) within the interval; a clear interval
    // waits without limit. Never waits for the calling thread itself.
    virtual bool WaitForStop(CTimeInterval interval);
    // The loop: OnRun, then wait and dispatch until a stop is requested.
    virtual void Run();
    // Waits on the thread's event with the time-out; a derived override should wait on
    // GetEvent() so that a stop request ends its wait too.
    virtual uint32_t WaitForEvent();
    virtual void OnStart() {}
    virtual void OnRun() {}
    virtual void OnStop() {}
    virtual void OnEvent() {}
    virtual void OnCompletion() {}
    virtual void OnTimeout() {}
    virtual void OnAbandoned() {}
    // A clear (or negative) interval means no time-out; takes effect at the next wait.
    virtual void SetTimeout(CTimeInterval interval);
    // Asks the loop to end; an override may do its own work first and then call this one.
    virtual void InternalStop();

    CTimeInterval GetTimeout() const;
    // Sets the thread's event (the shared one, when shared): the next loop turn runs OnEvent.
    void SetEvent();

    bool IsStopRequested() const { return m_bStopRequested.load(); }
    // Started and OnStop not yet returned.
    bool IsRunning() const;

protected:
    const boost::shared_ptr<FXEvent> &GetEvent() const { return m_ptrEvent; }

    // The first statement of the destructor of a derived class whose hooks use its members:
    // stops the thread and waits for its end while those members still exist (the base
    // destructor does the same, but only after they are gone). Harmless when not running.
    void StopBeforeDestruction();

private:
    enum EState { eNotStarted, eStarting, eRunning, eEnded };

    void ThreadMain();
    void RunLife();
    void RequestStop();
    void SetState(EState eState);
    uint32_t TimeoutMilliseconds() const;

    boost::shared_ptr<FXEvent> m_ptrEvent;
    std::atomic<int64_t> m_llTimeoutTicks{0};
    std::atomic<bool> m_bStopRequested{false};

    mutable std::mutex m_lockState;
    std::condition_variable m_cvState;
    EState m_eState = eNotStarted;
    std::thread::id m_idThread;
    std::thread m_thread;
};

// A plain joinable thread that runs one function with one argument. Not thread-safe itself: one
// controlling thread creates and joins it.
class IDX_EXPORT TqThread {
public:
    typedef void *(*TqThreadEntry)(void *pArgument);

    TqThread() = default;
    // Joins a thread that was created and not joined (detaches it when called on that thread).
    ~TqThread();
    TqThread(const TqThread &) = delete;
    TqThread &operator=(const TqThread &) = delete;

    // 0 when the thread was started; EINVAL for a null function, EBUSY while an earlier thread
    // is not joined, or the error of the thread creation.
    int createThread(TqThreadEntry pfnEntry, void *pArgument);
    // Waits until the thread function has returned: 0, ESRCH when no thread is to be joined,
    // EDEADLK when called on the thread itself.
    int join();
    bool isCreated() const { return m_bCreated; }

private:
    pthread_t m_thread{};
    bool m_bCreated = false;
};

// Locks shared by every subsystem: the lockable-resource interface with its recursive in-process
// lock and scope guard, a standard mutex that the thread-safety analysis knows, and the thread id.
// The owners of the platform's handles (foundation/SyncHandleOwners.h) and the locking annotations
// (foundation/ThreadAnnotations.h) come with it.
//
// Everything here is inline, so that platform units can use it as well.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <system_error>

#include "foundation/Export.h"
#include "foundation/SyncHandleOwners.h"
#include "foundation/ThreadAnnotations.h"
#include "foundation/TimeValues.h"
#include "platform/LogWriter.h"

// The low 32 bits of the calling thread's pthread_self() value; stable for the thread's life.
inline uint32_t GetCurrentThreadId() {
    return static_cast<uint32_t>(static_cast<uint64_t>(pthread_self()) & 0xFFFFFFFFu);
}

class FXThread {
public:
    static uint32_t GetCurrentThreadId() { return ::GetCurrentThreadId(); }
};

// Something that can be locked by one thread at a time. The owner is informational only: it is
// the thread that last took the lock, cleared on every release (also a release of one level of
// a lock still held recursively).
class IDX_EXPORT IDX_CAPABILITY("mutex") FXLockableResource {
public:
    FXLockableResource() : m_nLockOwner(0) {}
    virtual ~FXLockableResource() = default;
    FXLockableResource(const FXLockableResource &) = delete;
    FXLockableResource &operator=(const FXLockableResource &) = delete;

    virtual bool TryLock() IDX_TRY_ACQUIRE(true) = 0;
    // The interval is not waited: one TryLock() decides (see the body below).
    virtual bool TryLock(CTimeInterval interval) IDX_TRY_ACQUIRE(true) = 0;
    virtual void Lock() IDX_ACQUIRE() = 0;
    virtual void Unlock() IDX_RELEASE() = 0;

    uint32_t GetLockOwner() const { return m_nLockOwner.load(std::memory_order_relaxed); }

protected:
    void SetLockOwner() { m_nLockOwner.store(GetCurrentThreadId(), std::memory_order_relaxed); }
    void ClearLockOwner() { m_nLockOwner.store(0, std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> m_nLockOwner;
};

inline bool FXLockableResource::TryLock(CTimeInterval /*interval*/) {
    return TryLock();
}

// Recursive in-process lock: the holder may take it again and must release it as often. No lock
// of the library is shared with another process, so it is a process-private mutex: taking and
// releasing it stays in user space while nobody else holds it, and a wake-up of a waiter is a
// private futex wake.
//
// A mutex failure is logged at error level and never leaves the caller believing it holds the
// lock: TryLock answers false, and Lock passes the exception on, since returning from Lock
// without the lock would run the caller's critical section unprotected and have it release a
// lock it never took.
class IDX_EXPORT IDX_CAPABILITY("mutex") FXCriticalSection : public FXLockableResource {
public:
    FXCriticalSection() = default;

    bool TryLock() IDX_TRY_ACQUIRE(true) override {
        if (!m_mutex.try_lock()) {
            return false;
        }
        SetLockOwner();
        return true;
    }

    bool TryLock(CTimeInterval interval) IDX_TRY_ACQUIRE(true) override {
        return FXLockableResource::TryLock(interval);
    }

    void Lock() IDX_ACQUIRE() override {
        try {
            m_mutex.lock();
        } catch (const std::system_error &e) {
            IDX_LOG_ERROR("Failed to take the lock, error=%s", e.what());
            throw;
        }
        SetLockOwner();
    }

    void Unlock() IDX_RELEASE() override {
        ClearLockOwner();
        m_mutex.unlock();
    }

private:
    std::recursive_mutex m_mutex;
};

// Holds a lockable resource for a scope. It releases only what it took: Lock() twice takes the
// lock once, Unlock() twice releases it once, and a null resource makes every call a no-op.
class IDX_SCOPED_CAPABILITY auto_lock {
public:
    explicit auto_lock(FXLockableResource *pResource, bool bLockNow = true) IDX_ACQUIRE(pResource)
        : m_pResource(pResource), m_bLocked(false) {
        if (bLockNow) {
            Lock();
        }
    }
    ~auto_lock() IDX_RELEASE() { Unlock(); }
    auto_lock(const auto_lock &) = delete;
    auto_lock &operator=(const auto_lock &) = delete;

    void Lock() IDX_ACQUIRE() {
        if (m_pResource != nullptr && !m_bLocked) {
            m_pResource->Lock();
            m_bLocked = true;
        }
    }

    void Unlock() IDX_RELEASE() {
        if (m_pResource != nullptr && m_bLocked) {
            m_pResource->Unlock();
            m_bLocked = false;
        }
    }

    bool IsLocked() const { return m_bLocked; }

private:
    FXLockableResource *m_pResource;
    bool m_bLocked;
};

// A standard mutex that the thread-safety analysis knows: the standard library's own carries no
// annotation, so fields guarded by one could not be checked.
class IDX_CAPABILITY("mutex") CStdMutex {
public:
    CStdMutex() = default;
    CStdMutex(const CStdMutex &) = delete;
    CStdMutex &operator=(const CStdMutex &) = delete;

    void lock() IDX_ACQUIRE() { m_mutex.lock(); }
    void unlock() IDX_RELEASE() { m_mutex.unlock(); }

private:
    friend class CStdMutexLock;
    std::mutex m_mutex;
};

// Holds a CStdMutex for a scope. Native() is the lock for a std::condition_variable wait; the wait
// releases and takes the mutex again before it returns, so for the analysis it stays held. A wait
// predicate that reads guarded fields says so: [&]() IDX_REQUIRES(m_lock) { ... }.
class IDX_SCOPED_CAPABILITY CStdMutexLock {
public:
    explicit CStdMutexLock(CStdMutex &mutex) IDX_ACQUIRE(mutex) : m_lock(mutex.m_mutex) {}
    ~CStdMutexLock() IDX_RELEASE() {}
    CStdMutexLock(const CStdMutexLock &) = delete;
    CStdMutexLock &operator=(const CStdMutexLock &) = delete;

    std::unique_lock<std::mutex> &Native() { return m_lock; }

private:
    std::unique_lock<std::mutex> m_lock;
};

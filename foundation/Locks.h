// Locks and handle owners shared by every subsystem: the lockable-resource interface with its
// recursive in-process lock and scope guard, the thread id, and the owners of the platform's
// critical-section, semaphore and event handles (platform/SyncHandles.h).
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
#include "foundation/TimeValues.h"
#include "platform/LogWriter.h"
#include "platform/SyncHandles.h"

// Names, at a field's declaration, the lock that every reader and writer of the field holds:
// "int64_t m_llCount IDX_GUARDED_BY(m_lock);". It expands to nothing; it is there for the reader.
#define IDX_GUARDED_BY(lock)

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
class IDX_EXPORT FXLockableResource {
public:
    FXLockableResource() : m_nLockOwner(0) {}
    virtual ~FXLockableResource() = default;
    FXLockableResource(const FXLockableResource &) = delete;
    FXLockableResource &operator=(const FXLockableResource &) = delete;

    virtual bool TryLock() = 0;
    // The interval is not waited: one TryLock() decides (see the body below).
    virtual bool TryLock(CTimeInterval interval) = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;

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
class IDX_EXPORT FXCriticalSection : public FXLockableResource {
public:
    FXCriticalSection() = default;

    bool TryLock() override {
        if (!m_mutex.try_lock()) {
            return false;
        }
        SetLockOwner();
        return true;
    }

    bool TryLock(CTimeInterval interval) override { return FXLockableResource::TryLock(interval); }

    void Lock() override {
        try {
            m_mutex.lock();
        } catch (const std::system_error &e) {
            IDX_LOG_ERROR("Failed to take the lock, error=%s", e.what());
            throw;
        }
        SetLockOwner();
    }

    void Unlock() override {
        ClearLockOwner();
        m_mutex.unlock();
    }

private:
    std::recursive_mutex m_mutex;
};

// Holds a lockable resource for a scope. It releases only what it took: Lock() twice takes the
// lock once, Unlock() twice releases it once, and a null resource makes every call a no-op.
class auto_lock {
public:
    explicit auto_lock(FXLockableResource *pResource, bool bLockNow = true)
        : m_pResource(pResource), m_bLocked(false) {
        if (bLockNow) {
            Lock();
        }
    }
    ~auto_lock() { Unlock(); }
    auto_lock(const auto_lock &) = delete;
    auto_lock &operator=(const auto_lock &) = delete;

    void Lock() {
        if (m_pResource != nullptr && !m_bLocked) {
            m_pResource->Lock();
            m_bLocked = true;
        }
    }

    void Unlock() {
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

// The handle owners below make their handle in the constructor and throw a plain text
// ("Not enough memory to initialize ...") when it cannot be allocated; an exception of the
// handle's own constructor passes on unchanged (nothrow new gives the memory back itself).

// Recursive lock over the platform's critical-section handle.
class TqCriticalSection {
public:
    TqCriticalSection() : m_pHandle(new (std::nothrow) TqCriticalSectionH()) {
        if (m_pHandle == nullptr) {
            throw "Not enough memory to initialize TqCriticalSection";
        }
    }
    ~TqCriticalSection() {
        delete m_pHandle;
        m_pHandle = nullptr;
    }
    TqCriticalSection(const TqCriticalSection &) = delete;
    TqCriticalSection &operator=(const TqCriticalSection &) = delete;

    // bWait true waits for the lock and answers true; false only tries.
    bool enter(bool bWait) { return m_pHandle->enter(bWait); }
    void leave() { m_pHandle->leave(); }

private:
    TqCriticalSectionH *m_pHandle;
};

// Enters a critical section for a scope and always leaves at scope end what it entered; a null
// section makes it do nothing.
class TqCriticalSectionLock {
public:
    explicit TqCriticalSectionLock(TqCriticalSection *pSection) : m_pSection(pSection) {
        if (m_pSection != nullptr) {
            m_pSection->enter(true);
        }
    }
    ~TqCriticalSectionLock() {
        if (m_pSection != nullptr) {
            m_pSection->leave();
        }
    }
    TqCriticalSectionLock(const TqCriticalSectionLock &) = delete;
    TqCriticalSectionLock &operator=(const TqCriticalSectionLock &) = delete;

private:
    TqCriticalSection *m_pSection;
};

// Counting semaphore; safe to use from any thread.
class TqSemaphore {
public:
    explicit TqSemaphore(int32_t nCount) : m_pHandle(new (std::nothrow) TqSemaphoreH(nCount)) {
        if (m_pHandle == nullptr) {
            throw "Not enough memory to initialize TqSemaphore";
        }
    }
    ~TqSemaphore() { delete m_pHandle; }
    TqSemaphore(const TqSemaphore &) = delete;
    TqSemaphore &operator=(const TqSemaphore &) = delete;

    // Raises the count by nCount; 0 or less changes nothing.
    void release(int32_t nCount) { m_pHandle->release(nCount); }
    void wait() { m_pHandle->wait(); }
    // True when a count was taken within the time, false when it ran out.
    bool wait(uint64_t ullMilliseconds) { return m_pHandle->wait(ullMilliseconds); }

private:
    TqSemaphoreH *m_pHandle;
};

// Event that a set ends a pending wait of. With bAutoReset true a wait that sees the set clears
// it; with false it stays set. A set while nobody waits is kept for the next wait.
class TqEvent {
public:
    explicit TqEvent(bool bAutoReset) : m_pHandle(new (std::nothrow) TqEventH(bAutoReset)) {
        if (m_pHandle == nullptr) {
            throw "Not enough memory to initialize TqEvent";
        }
    }
    ~TqEvent() { delete m_pHandle; }
    TqEvent(const TqEvent &) = delete;
    TqEvent &operator=(const TqEvent &) = delete;

    // 0 when the event was set, TQ_WAIT_TIMEOUT when the time ran out.
    uint32_t wait(uint64_t ullMilliseconds) { return m_pHandle->wait(ullMilliseconds); }
    void set() { m_pHandle->set(); }

private:
    TqEventH *m_pHandle;
};

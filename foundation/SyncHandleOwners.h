// The owners of the platform's critical-section, semaphore and event handles
// (platform/SyncHandles.h): the second lock type with its scope guard, the counting semaphore and
// the event. A host's header can hold one by value: nothing here needs more than the platform's
// handles.
#pragma once

#include <cstdint>
#include <new>

#include "foundation/ThreadAnnotations.h"
#include "platform/SyncHandles.h"

// The handle owners below make their handle in the constructor and throw a plain text
// ("Not enough memory to initialize ...") when it cannot be allocated; an exception of the
// handle's own constructor passes on unchanged (nothrow new gives the memory back itself).

// Recursive lock over the platform's critical-section handle.
class IDX_CAPABILITY("mutex") TqCriticalSection {
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
    bool enter(bool bWait) IDX_TRY_ACQUIRE(true) { return m_pHandle->enter(bWait); }
    void leave() IDX_RELEASE() { m_pHandle->leave(); }

private:
    TqCriticalSectionH *m_pHandle;
};

// Enters a critical section for a scope and always leaves at scope end what it entered; a null
// section makes it do nothing.
class IDX_SCOPED_CAPABILITY TqCriticalSectionLock {
public:
    explicit TqCriticalSectionLock(TqCriticalSection *pSection) IDX_ACQUIRE(pSection)
        : m_pSection(pSection) {
        if (m_pSection != nullptr) {
            m_pSection->enter(true);
        }
    }
    ~TqCriticalSectionLock() IDX_RELEASE() {
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
    // Takes a count when one is there, without waiting; false when there is none.
    bool try_wait() { return m_pHandle->TryTake(); }
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

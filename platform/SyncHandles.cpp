#include "platform/SyncHandles.h"

bool TqCriticalSectionH::enter(bool bWait) {
    if (!bWait) {
        return m_mutex.try_lock();
    }
    m_mutex.lock();
    return true;
}

void TqCriticalSectionH::leave() {
    m_mutex.unlock();
}

bool TqSemaphoreH::TryTake() {
    int64_t llCount = m_llCount.load();
    while (llCount > 0) {
        if (m_llCount.compare_exchange_weak(llCount, llCount - 1)) {
            return true;
        }
    }
    return false;
}

void TqSemaphoreH::release(int32_t nCount) {
    if (nCount <= 0) {
        return;
    }
    m_llCount.fetch_add(nCount);
    if (m_nWaiters.load() > 0) {
        // Taking the lock orders this release after a waiter's last look at the count, which it
        // makes under the lock: the waiter is then either waiting and woken, or not yet looking.
        { std::lock_guard<std::mutex> guard(m_lock); }
        // One count is taken by one waiter: waking the rest would only send them back to sleep.
        if (nCount == 1) {
            m_cv.notify_one();
        } else {
            m_cv.notify_all();
        }
    }
}

void TqSemaphoreH::wait() {
    if (TryTake()) {
        return;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    ++m_nWaiters;
    m_cv.wait(lock, [this] { return TryTake(); });
    --m_nWaiters;
}

bool TqSemaphoreH::wait(uint64_t ullMilliseconds) {
    if (TryTake()) {
        return true;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    ++m_nWaiters;
    const bool bTaken = TqTimedWait(m_cv, lock, ullMilliseconds, [this] { return TryTake(); });
    --m_nWaiters;
    return bTaken;
}

uint32_t TqEventH::wait(uint64_t ullMilliseconds) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!TqTimedWait(m_cv, lock, ullMilliseconds, [this] { return m_bSet; })) {
        return TQ_WAIT_TIMEOUT;
    }
    if (m_bAutoReset) {
        m_bSet = false;
    }
    return TQ_WAIT_OBJECT_0;
}

void TqEventH::set() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bSet) {
            // Nobody waits on a set event: every wait tests it under this lock before it blocks,
            // and the set that made it so has already woken those that were blocked.
            return;
        }
        m_bSet = true;
    }
    // Only one wait can take the set of an auto-reset event; waking the others would just send
    // them back to sleep.
    if (m_bAutoReset) {
        m_cv.notify_one();
    } else {
        m_cv.notify_all();
    }
}

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

void TqSemaphoreH::release(int32_t nCount) {
    if (nCount <= 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_llCount += nCount;
    }
    m_cv.notify_all();
}

void TqSemaphoreH::wait() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_cv.wait(lock, [this] { return m_llCount > 0; });
    --m_llCount;
}

bool TqSemaphoreH::wait(uint64_t ullMilliseconds) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!TqTimedWait(m_cv, lock, ullMilliseconds, [this] { return m_llCount > 0; })) {
        return false;
    }
    --m_llCount;
    return true;
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
        m_bSet = true;
    }
    m_cv.notify_all();
}

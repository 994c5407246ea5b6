#include "transmitter/SolrItemQueue.h"

#include <algorithm>
#include <climits>

#include <boost/make_shared.hpp>

#include "foundation/Accessors.h"
#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "platform/EventThread.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/TransmitterOptions.h"

CSolrItemQueue::CSolrItemQueue(CTransmitterOptionsPtr ptrOptions)
    : m_ptrOptions(std::move(ptrOptions)), m_ptrItemQueuedEvent(boost::make_shared<FXEvent>(0u)),
      m_llItemsQueued(0), m_ullAppended(0), m_ullLeft(0), m_ullFlushedUpTo(0) {}

CSolrItemQueue::~CSolrItemQueue() = default;

CKyError CSolrItemQueue::Create(int32_t nCapacity) {
    if (nCapacity < 1) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Queue size must be at least 1, given [%d]", nCapacity);
    }
    boost::shared_ptr<TqSemaphore> ptrSlots = boost::make_shared_nothrow<TqSemaphore>(nCapacity);
    if (!ptrSlots) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    auto_lock lock(&m_lock, true);
    try {
        m_vecSlotsMade.push_back(ptrSlots);
    } catch (...) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    m_pFreeSlots.store(ptrSlots.get(), std::memory_order_release);
    return CKyError::Success();
}

bool CSolrItemQueue::IsCreated() const {
    return m_pFreeSlots.load(std::memory_order_acquire) != nullptr;
}

boost::shared_ptr<TqSemaphore> CSolrItemQueue::GetFreeSlotsForTest() const {
    auto_lock lock(&m_lock, true);
    return m_vecSlotsMade.empty() ? boost::shared_ptr<TqSemaphore>() : m_vecSlotsMade.back();
}

void CSolrItemQueue::SetItemsQueuedForTest(int64_t llItemsQueued) {
    auto_lock lock(&m_lock, true);
    m_llItemsQueued = llItemsQueued;
}

void CSolrItemQueue::ReleaseSlots(TqSemaphore *pSlots, size_t nSlots) {
    if (pSlots == nullptr || nSlots == 0) {
        return;
    }
    try {
        while (nSlots > 0) {
            const size_t nNow = std::min<size_t>(nSlots, INT32_MAX);
            pSlots->release(static_cast<int32_t>(nNow));
            nSlots -= nNow;
        }
    } catch (TqException &e) {
        IDX_LOG(3, "Exception occurred : %s", e.getMessage());
    } catch (...) {
        IDX_LOG(3, "Unknown exception occurred in release semaphore function");
    }
}

CKyError CSolrItemQueue::Add(const CItemPtr &ptrItem, CTimeCounter *pWaitTimer) {
    TqSemaphore *const pSlots = m_pFreeSlots.load(std::memory_order_acquire);
    if (pSlots == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Transmitter was not started");
    }
    // The abort test asks the job's own callback, which may throw like any outside code.
    try {
        if (m_ptrOptions->IsAborted()) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted);
        }
    } catch (...) {
        return ErrorFromCaughtException(FXLOC);
    }

    if (!pSlots->try_wait()) {
        // Only a wait for a slot is timed: while the queue has room, queueing reads no clock.
        CAutoTimeCounter waitTimer(pWaitTimer);
        pSlots->wait();
    } else if (pWaitTimer != nullptr) {
        // Every call is still one sample of the queue-full wait, of no time.
        *pWaitTimer += CTimeInterval();
    }

    // Read outside the lock: the lock is held only for the append.
    const CLingerClock::time_point tpNow = CLingerClock::now();
    const int64_t llBatch = std::max(1, m_ptrOptions->GetMaxItemsPerTransaction());
    int64_t llLength = 0;
    bool bLingerWatched = false;
    // The settled item whose list node the new item takes: freed on return, after the lock.
    CItemPtr ptrSettled;
    try {
        auto_lock lock(&m_lock, true);
        if (m_ptrOptions->IsAborted()) {
            // The abort gave back one slot per item it removed, which may be fewer than the
            // callers blocked here. Passing the slot on wakes the next blocked caller, which
            // sees the abort in turn, so every one of them is refused instead of left waiting.
            ReleaseSlots(pSlots, 1);
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted);
        }
        m_dqQueuedAt.push_back(tpNow);
        if (!m_lstSettled.empty()) {
            // Nothing here can throw: the node moves, the pointers are swapped and copied.
            ptrSettled.swap(m_lstSettled.front());
            m_lstSettled.front() = ptrItem;
            m_lstItems.splice(m_lstItems.end(), m_lstSettled, m_lstSettled.begin());
        } else {
            try {
                m_lstItems.push_back(ptrItem);
            } catch (...) {
                m_dqQueuedAt.pop_back();
                throw;
            }
        }
        ++m_llItemsQueued;
        ++m_ullAppended;
        llLength = static_cast<int64_t>(m_lstItems.size());
        bLingerWatched = m_nLingerWatchers > 0;
    } catch (...) {
        // Nothing was appended (the abort test or the append threw): the slot taken above goes
        // back, or the queue would be one slot smaller for good and, once no slot is left, every
        // later caller would wait forever with nothing that could wake it.
        ReleaseSlots(pSlots, 1);
        return ErrorFromCaughtException(FXLOC);
    }

    IDX_LOG(7, "%lld items in queue", static_cast<long long>(llLength));
    // An idle worker is woken when a further batch has gathered, and when this item ends an
    // empty queue and no worker is watching the linger already: the woken worker finds a partial
    // batch, holds it back and waits out its linger (CLingerWatch), so that some worker always has
    // the oldest item in view. Workers drain every ready batch before they wait again, and a
    // worker that is busy sees a set at its next wait, so every item is taken. Waking every idle
    // worker for every item instead makes them race each other for batches of one item.
    if ((llLength == 1 && !bLingerWatched) || llLength % llBatch == 0) {
        m_ptrItemQueuedEvent->SetOne();
    }
    return CKyError::Success();
}

void CSolrItemQueue::TakeLocked(std::list<CItemPtr> &lstItems, int nMaxItems) {
    if (nMaxItems <= 0 || m_lstItems.empty()) {
        return;
    }
    // Splicing moves the list nodes: nothing is allocated or copied, so nothing here can throw
    // between taking the items and giving their slots back.
    auto itEnd = m_lstItems.begin();
    size_t nTaken = 0;
    while (itEnd != m_lstItems.end() && nTaken < static_cast<size_t>(nMaxItems)) {
        ++itEnd;
        ++nTaken;
    }
    lstItems.splice(lstItems.end(), m_lstItems, m_lstItems.begin(), itEnd);
    m_dqQueuedAt.erase(m_dqQueuedAt.begin(),
                       m_dqQueuedAt.begin() + static_cast<std::ptrdiff_t>(nTaken));
    m_ullLeft += nTaken;
    ReleaseSlots(m_pFreeSlots.load(std::memory_order_acquire), nTaken);
}

void CSolrItemQueue::Take(std::list<CItemPtr> &lstItems, int nMaxItems) {
    lstItems.clear();
    {
        auto_lock lock(&m_lock, true);
        TakeLocked(lstItems, nMaxItems);
    }
    if (!lstItems.empty()) {
        m_activitySleep.Wake();
    }
}

void CSolrItemQueue::TakeBatch(std::list<CItemPtr> &lstItems, int nMaxItems,
                               std::list<CItemPtr> *pSettled, bool *pLeftEmpty) {
    lstItems.clear();
    {
        auto_lock lock(&m_lock, true);
        if (pSettled != nullptr) {
            ReturnSettledLocked(*pSettled);
        }
        if (nMaxItems > 0 && !m_lstItems.empty() &&
            LingerLeftLocked(nMaxItems) == CLingerClock::duration::zero()) {
            TakeLocked(lstItems, nMaxItems);
        }
        if (pLeftEmpty != nullptr) {
            *pLeftEmpty = m_lstItems.empty();
        }
    }
    // Beyond the bound, the settled items are freed here, after the lock.
    if (pSettled != nullptr) {
        pSettled->clear();
    }
    if (!lstItems.empty()) {
        m_activitySleep.Wake();
    }
}

void CSolrItemQueue::RemoveAll(std::list<CItemPtr> &lstRemoved) {
    lstRemoved.clear();
    {
        auto_lock lock(&m_lock, true);
        if (m_lstItems.empty()) {
            return;
        }
        const size_t nRemoved = m_lstItems.size();
        lstRemoved.splice(lstRemoved.end(), m_lstItems);
        m_dqQueuedAt.clear();
        m_ullLeft += nRemoved;
        ReleaseSlots(m_pFreeSlots.load(std::memory_order_acquire), nRemoved);
    }
    m_activitySleep.Wake();
}

void CSolrItemQueue::ReturnSettled(std::list<CItemPtr> &lstSettled) {
    if (lstSettled.empty()) {
        return;
    }
    {
        auto_lock lock(&m_lock, true);
        ReturnSettledLocked(lstSettled);
    }
    lstSettled.clear();
}

void CSolrItemQueue::ReturnSettledLocked(std::list<CItemPtr> &lstSettled) {
    if (m_lstSettled.size() + lstSettled.size() <= kMaxSettledItems) {
        m_lstSettled.splice(m_lstSettled.end(), lstSettled);
    }
}

void CSolrItemQueue::ReleaseSettled() {
    std::list<CItemPtr> lstSettled;
    {
        auto_lock lock(&m_lock, true);
        lstSettled.swap(m_lstSettled);
    }
}

size_t CSolrItemQueue::GetSettledLengthForTest() const {
    auto_lock lock(&m_lock, true);
    return m_lstSettled.size();
}

void CSolrItemQueue::Flush() {
    bool bWake = false;
    {
        auto_lock lock(&m_lock, true);
        m_ullFlushedUpTo = m_ullAppended;
        bWake = !m_lstItems.empty();
    }
    // One worker is enough: it drains every ready batch before it waits again.
    if (bWake) {
        m_ptrItemQueuedEvent->SetOne();
    }
}

CSolrItemQueue::CLingerClock::duration CSolrItemQueue::LingerLeftLocked(int nMaxItems) const {
    if (m_lstItems.size() >= static_cast<size_t>(std::max(nMaxItems, 1)) ||
        m_ullLeft < m_ullFlushedUpTo) {
        return CLingerClock::duration::zero();
    }
    const CLingerClock::duration left = std::chrono::milliseconds(m_nLingerMs.load()) -
                                        (CLingerClock::now() - m_dqQueuedAt.front());
    return std::max(left, CLingerClock::duration::zero());
}

uint32_t CSolrItemQueue::GetLingerLeftMs(int nMaxItems) const {
    auto_lock lock(&m_lock, true);
    return LingerLeftMsLocked(nMaxItems);
}

uint32_t CSolrItemQueue::CLingerWatch::LeftMs(int nMaxItems) {
    auto_lock lock(&m_queue.m_lock, true);
    const uint32_t nLeftMs = m_queue.LingerLeftMsLocked(nMaxItems);
    const bool bWatching = nLeftMs != 0 && nLeftMs != TQ_INFINITE;
    if (bWatching != m_bWatching) {
        m_queue.m_nLingerWatchers += bWatching ? 1 : -1;
        m_bWatching = bWatching;
    }
    return nLeftMs;
}

CSolrItemQueue::CLingerWatch::~CLingerWatch() {
    if (!m_bWatching) {
        return;
    }
    try {
        auto_lock lock(&m_queue.m_lock, true);
        --m_queue.m_nLingerWatchers;
    } catch (...) {
        IDX_LOG_ERROR("Failed to end a worker's watch of the queue's linger");
    }
}

int CSolrItemQueue::GetLingerWatchersForTest() const {
    auto_lock lock(&m_lock, true);
    return m_nLingerWatchers;
}

uint32_t CSolrItemQueue::LingerLeftMsLocked(int nMaxItems) const {
    if (m_lstItems.empty()) {
        return TQ_INFINITE;
    }
    // Rounded up, so that a wait of this length ends once the linger is over, not just before.
    const auto llLeftMs =
        std::chrono::ceil<std::chrono::milliseconds>(LingerLeftLocked(nMaxItems)).count();
    return static_cast<uint32_t>(std::min<int64_t>(llLeftMs, TQ_INFINITE - 1));
}

size_t CSolrItemQueue::GetLength() const {
    auto_lock lock(&m_lock, true);
    return m_lstItems.size();
}

int64_t CSolrItemQueue::GetItemsQueued() const {
    auto_lock lock(&m_lock, true);
    return m_llItemsQueued;
}

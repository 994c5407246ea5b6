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
      m_llItemsQueued(0) {}

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
    m_ptrFreeSlots = ptrSlots;
    return CKyError::Success();
}

bool CSolrItemQueue::IsCreated() const {
    auto_lock lock(&m_lock, true);
    return static_cast<bool>(m_ptrFreeSlots);
}

boost::shared_ptr<TqSemaphore> CSolrItemQueue::GetFreeSlotsForTest() const {
    auto_lock lock(&m_lock, true);
    return m_ptrFreeSlots;
}

void CSolrItemQueue::SetItemsQueuedForTest(int64_t llItemsQueued) {
    auto_lock lock(&m_lock, true);
    m_llItemsQueued = llItemsQueued;
}

void CSolrItemQueue::ReleaseSlots(const boost::shared_ptr<TqSemaphore> &ptrSlots, size_t nSlots) {
    if (!ptrSlots || nSlots == 0) {
        return;
    }
    try {
        while (nSlots > 0) {
            const size_t nNow = std::min<size_t>(nSlots, INT32_MAX);
            ptrSlots->release(static_cast<int32_t>(nNow));
            nSlots -= nNow;
        }
    } catch (TqException &e) {
        IDX_LOG(3, "Exception occurred : %s", e.getMessage());
    } catch (...) {
        IDX_LOG(3, "Unknown exception occurred in release semaphore function");
    }
}

CKyError CSolrItemQueue::Add(const CItemPtr &ptrItem, CTimeCounter *pWaitTimer) {
    // The copy keeps the semaphore alive across the wait, whatever a restart does meanwhile.
    boost::shared_ptr<TqSemaphore> ptrSlots;
    {
        auto_lock lock(&m_lock, true);
        ptrSlots = m_ptrFreeSlots;
    }
    if (!ptrSlots) {
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

    {
        CAutoTimeCounter waitTimer(pWaitTimer);
        ptrSlots->wait();
    }

    int64_t llLength = 0;
    try {
        auto_lock lock(&m_lock, true);
        if (m_ptrOptions->IsAborted()) {
            // The abort gave back one slot per item it removed, which may be fewer than the
            // callers blocked here. Passing the slot on wakes the next blocked caller, which
            // sees the abort in turn, so every one of them is refused instead of left waiting.
            ReleaseSlots(ptrSlots, 1);
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted);
        }
        m_lstItems.push_back(ptrItem);
        ++m_llItemsQueued;
        llLength = static_cast<int64_t>(m_lstItems.size());
    } catch (...) {
        // Nothing was appended (the abort test or the append threw): the slot taken above goes
        // back, or the queue would be one slot smaller for good and, once no slot is left, every
        // later caller would wait forever with nothing that could wake it.
        ReleaseSlots(ptrSlots, 1);
        return ErrorFromCaughtException(FXLOC);
    }

    IDX_LOG(7, "%lld items in queue", static_cast<long long>(llLength));
    // An idle worker is woken when this item ends an empty queue, and another one each time a
    // further batch has gathered. A woken worker drains the queue until it finds it empty before
    // it waits again (and a worker that is busy sees a set at its next wait), so every item is
    // taken; while the job queues faster than the workers post, the backlog wakes one more
    // worker per batch and the workers take whole batches. Waking every idle worker for every
    // item instead makes them race each other for batches of one item.
    const int64_t llBatch = std::max(1, m_ptrOptions->GetMaxItemsPerTransaction());
    if (llLength == 1 || llLength % llBatch == 0) {
        m_ptrItemQueuedEvent->SetOne();
    }
    return CKyError::Success();
}

void CSolrItemQueue::Take(std::list<CItemPtr> &lstItems, int nMaxItems) {
    lstItems.clear();
    auto_lock lock(&m_lock, true);
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
    ReleaseSlots(m_ptrFreeSlots, nTaken);
}

void CSolrItemQueue::RemoveAll(std::list<CItemPtr> &lstRemoved) {
    lstRemoved.clear();
    auto_lock lock(&m_lock, true);
    if (m_lstItems.empty()) {
        return;
    }
    const size_t nRemoved = m_lstItems.size();
    lstRemoved.splice(lstRemoved.end(), m_lstItems);
    ReleaseSlots(m_ptrFreeSlots, nRemoved);
}

size_t CSolrItemQueue::GetLength() const {
    auto_lock lock(&m_lock, true);
    return m_lstItems.size();
}

int64_t CSolrItemQueue::GetItemsQueued() const {
    auto_lock lock(&m_lock, true);
    return m_llItemsQueued;
}

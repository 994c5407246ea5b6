// The transmitter's one bounded item queue: the items in the order they were queued, a
// semaphore that counts the free slots, the lock over both and the one item-queued event every
// worker waits on.
//
// The job's threads append (waiting while the queue is full), the workers take batches (never
// waiting), and an abort or a stop removes what is left. An item leaves the queue only by being
// taken or removed, and either way its slot goes back at once, so free slots plus queued items
// never exceed the capacity. What happens to removed items is the caller's business: the
// transmitter records them as failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "foundation/Locks.h"
#include "platform/Item.h"
#include "transmitter/TransmitterTypes.h"

class FXEvent;

class CSolrItemQueue {
public:
    // The option record gives the abort test and the batch size; the queue has no slots until
    // Create.
    explicit CSolrItemQueue(CTransmitterOptionsPtr ptrOptions);
    ~CSolrItemQueue();
    CSolrItemQueue(const CSolrItemQueue &) = delete;
    CSolrItemQueue &operator=(const CSolrItemQueue &) = delete;

    // Makes a fresh free-slot semaphore of nCapacity slots (at least 1); a restart of the
    // transmitter replaces it. 14 when it cannot be made.
    CKyError Create(int32_t nCapacity);
    // True once Create has run; stays true.
    bool IsCreated() const;

    // Appends one item, waiting without limit for a free slot. 995 once the transmitter is
    // aborted (tested before and after the wait); 774 "Transmitter was not started" before
    // Create. An exception inside (the job's quit query, the append) comes back as an error, with
    // the slot it had taken given back. pWaitTimer, when given, measures the wait for a slot.
    CKyError Add(const CItemPtr &ptrItem, CTimeCounter *pWaitTimer = nullptr);
    // Moves at most nMaxItems of the oldest items into lstItems (emptied first) and frees one
    // slot per item moved. Never waits.
    void Take(std::list<CItemPtr> &lstItems, int nMaxItems);
    // Removes every queued item into lstRemoved (emptied first), giving back one slot per item.
    void RemoveAll(std::list<CItemPtr> &lstRemoved);

    size_t GetLength() const;
    bool IsEmpty() const { return GetLength() == 0; }
    // Items ever appended; never decreases.
    int64_t GetItemsQueued() const;
    boost::shared_ptr<FXEvent> GetItemQueuedEvent() const { return m_ptrItemQueuedEvent; }
    // The lock over the list. The periodic commit thread holds it while it places its requests,
    // so that no worker is in the middle of taking items meanwhile; nothing else outside the
    // queue takes it.
    FXLockableResource *GetLock() const { return &m_lock; }

    // The free-slot semaphore, for tests that count slots; null before Create.
    boost::shared_ptr<TqSemaphore> GetFreeSlotsForTest() const;
    // Sets the appended-items count, for tests that drive a worker without queueing.
    void SetItemsQueuedForTest(int64_t llItemsQueued);

private:
    // Gives back nSlots free slots; a failure of the platform's semaphore is logged, never thrown.
    void ReleaseSlots(const boost::shared_ptr<TqSemaphore> &ptrSlots, size_t nSlots);

    const CTransmitterOptionsPtr m_ptrOptions;
    const boost::shared_ptr<FXEvent> m_ptrItemQueuedEvent;
    // Replaced only by Create, on the job's thread while no queueing call runs; every user takes
    // a copy under the lock so that a waiting caller keeps its semaphore alive.
    boost::shared_ptr<TqSemaphore> m_ptrFreeSlots IDX_GUARDED_BY(m_lock);
    mutable FXCriticalSection m_lock;
    std::list<CItemPtr> m_lstItems IDX_GUARDED_BY(m_lock);
    int64_t m_llItemsQueued IDX_GUARDED_BY(m_lock);
};

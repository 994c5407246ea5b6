// The transmitter's one bounded item queue: the items in the order they were queued, a
// semaphore that counts the free slots, the lock over both and the one item-queued event every
// worker waits on.
//
// The job's threads append (waiting while the queue is full), the workers take batches (never
// waiting), and an abort or a stop removes what is left. An item leaves the queue only into a
// batch (CItemBatch, the only caller of the takes and the removal), taken or removed, and either
// way its slot goes back at once (one release per batch), so free slots plus queued items never
// exceed the capacity. The batch owns what it holds: it settles what it took and fails what was
// removed.
//
// Settled items. A worker hands the items it has settled back to the queue (ReturnSettled),
// still in the list nodes that held them; each append frees the oldest of them and puts the new
// item in its node. The items are then freed by the thread that queued them, from the memory it
// took them from, instead of by the workers, whose frees of another thread's memory all queue on
// that thread's heap lock; and an append in the steady state allocates no list node. A stop
// frees what is left of them (ReleaseSettled).
//
// Batches. An engine request costs about the same for one item as for a full batch, so the
// workers wait for full batches: an idle worker is woken when a full batch has gathered, and a
// partial batch is held back until its oldest item has waited a short linger (TakeBatch,
// GetLingerLeftMs). The end of a job, a stop, an abort and a commit flush the queue: what it holds
// at that moment is taken at once, without the linger.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "foundation/Locks.h"
#include "platform/Clock.h"
#include "platform/Item.h"
#include "transmitter/TransmitterTypes.h"

class FXEvent;

class CSolrItemQueue {
public:
    // How long the oldest item of a partial batch waits for the batch to fill before a worker
    // takes it anyway. It is measured on the steady real clock, never on the platform clock: a
    // test that runs on the virtual clock and never advances it must not leave an item waiting
    // for ever, and a few milliseconds are not worth a virtual step.
    static constexpr uint32_t kLingerMilliseconds = 5;
    // The most settled items kept waiting for appends: in the steady state an append frees one
    // for every item a worker settles, so this is reached only when the job stops queueing.
    static constexpr size_t kMaxSettledItems = 4096;

    // The option record gives the abort test and the batch size; the queue has no slots until
    // Create.
    explicit CSolrItemQueue(CTransmitterOptionsPtr ptrOptions);
    ~CSolrItemQueue();
    CSolrItemQueue(const CSolrItemQueue &) = delete;
    CSolrItemQueue &operator=(const CSolrItemQueue &) = delete;

    // Makes a fresh free-slot semaphore of nCapacity slots (at least 1); a restart of the
    // transmitter replaces it. 14 when it cannot be made.
    CKyError Create(int32_t nCapacity);
    // True once Create has run; stays true. Takes no lock.
    bool IsCreated() const;

    // Appends one item, waiting without limit for a free slot; the queue lock is taken once.
    // 995 once the transmitter is aborted (tested before and after the wait); 774 "Transmitter
    // was not started" before Create. An exception inside (the job's quit query, the append) comes
    // back as an error, with the slot it had taken given back. pWaitTimer, when given, measures
    // the wait for a slot.
    CKyError Add(const CItemPtr &ptrItem, CTimeCounter *pWaitTimer = nullptr);
    // Takes the settled items of lstSettled (which it empties) for the appends to free. Beyond
    // kMaxSettledItems waiting, they are freed here instead.
    void ReturnSettled(std::list<CItemPtr> &lstSettled);
    // Frees every settled item still waiting, on the calling thread.
    void ReleaseSettled();
    // Settled items waiting to be freed, for tests.
    size_t GetSettledLengthForTest() const;
    // Makes everything queued now ready to be taken at once and wakes a worker for it.
    void Flush();
    // For a worker taking batches of nMaxItems: TQ_INFINITE while the queue is empty; 0 when a
    // batch is ready (see TakeBatch); otherwise the milliseconds until the oldest item has
    // lingered.
    uint32_t GetLingerLeftMs(int nMaxItems) const;
    // One wait of a worker that waits out the linger. While some worker watches the linger of the
    // oldest item, an item that starts an empty queue wakes nobody: the watcher's wait ends no
    // later than the new item's linger (its oldest item came first), and it looks again.
    class CLingerWatch {
    public:
        explicit CLingerWatch(CSolrItemQueue &queue) : m_queue(queue) {}
        // Ends the watch, however the wait ends (a ready batch, a stop, a time-out, an
        // exception), or the next item to start an empty queue would wake nobody.
        ~CLingerWatch();
        CLingerWatch(const CLingerWatch &) = delete;
        CLingerWatch &operator=(const CLingerWatch &) = delete;

        // GetLingerLeftMs for a worker that waits out what it answers: with a finite, non-zero
        // answer it watches the linger, with any other it does not.
        uint32_t LeftMs(int nMaxItems);
        bool IsWatching() const { return m_bWatching; }

    private:
        CSolrItemQueue &m_queue;
        bool m_bWatching = false;
    };
    // Workers watching the linger now, for tests.
    int GetLingerWatchersForTest() const;

    size_t GetLength() const;
    bool IsEmpty() const { return GetLength() == 0; }
    // Items ever appended; never decreases.
    int64_t GetItemsQueued() const;
    boost::shared_ptr<FXEvent> GetItemQueuedEvent() const { return m_ptrItemQueuedEvent; }
    // The lock over the list. The periodic commit thread holds it while it places its requests,
    // so that no worker is in the middle of taking items meanwhile; nothing else outside the
    // queue takes it.
    FXLockableResource *GetLock() const { return &m_lock; }

    // The end-of-job wait sleeps on this between its looks at the queue and the workers. Taking
    // or removing items wakes it, and so does a worker that goes idle (NoteWorkerIdle); appending
    // does not, as the wait has nothing to do until the queue drains.
    CWakeableSleep &GetActivitySleep() { return m_activitySleep; }
    void NoteWorkerIdle() { m_activitySleep.Wake(); }

    // The free-slot semaphore, for tests that count slots; null before Create.
    boost::shared_ptr<TqSemaphore> GetFreeSlotsForTest() const;
    // Sets the appended-items count, for tests that drive a worker without queueing.
    void SetItemsQueuedForTest(int64_t llItemsQueued);
    // Replaces the linger, for tests that must see a partial batch held back whatever the
    // machine's speed.
    void SetLingerForTest(uint32_t nMilliseconds) { m_nLingerMs.store(nMilliseconds); }

private:
    typedef std::chrono::steady_clock CLingerClock;

    // Items leave the queue only into a batch, which owns them from then on: the takes and the
    // removal are the batch's (CItemBatch), and nothing else can reach them.
    friend class CItemBatch;

    // Moves at most nMaxItems of the oldest items into lstItems (emptied first) and gives their
    // slots back in one release. Never waits, never holds anything back.
    void Take(std::list<CItemPtr> &lstItems, int nMaxItems);
    // As Take, but only a batch that is ready: nMaxItems items are waiting, or the oldest has
    // waited the linger, or it was queued before the last flush. Otherwise lstItems stays empty
    // and the caller waits (GetLingerLeftMs tells it how long). Under the same lock, it takes
    // the settled items of *pSettled as ReturnSettled does, when given, and tells in *pLeftEmpty
    // whether the queue is empty after the call, so that a worker going on to wait needs no
    // further look.
    void TakeBatch(std::list<CItemPtr> &lstItems, int nMaxItems,
                   std::list<CItemPtr> *pSettled = nullptr, bool *pLeftEmpty = nullptr);
    // Removes every queued item into lstRemoved (emptied first), giving back their slots.
    void RemoveAll(std::list<CItemPtr> &lstRemoved);

    // Gives back nSlots free slots; a failure of the platform's semaphore is logged, never thrown.
    void ReleaseSlots(TqSemaphore *pSlots, size_t nSlots);
    // Moves the settled items of lstSettled to the ones waiting to be freed, unless that would
    // make more than kMaxSettledItems; the queue lock is held. lstSettled keeps what was not
    // taken.
    void ReturnSettledLocked(std::list<CItemPtr> &lstSettled) IDX_REQUIRES(m_lock);
    // Moves at most nMaxItems of the oldest items into lstItems; the queue lock is held.
    void TakeLocked(std::list<CItemPtr> &lstItems, int nMaxItems) IDX_REQUIRES(m_lock);
    // The time until the queued batch is ready for a taker of nMaxItems, zero when it is; the
    // queue lock is held and the queue is not empty.
    CLingerClock::duration LingerLeftLocked(int nMaxItems) const IDX_REQUIRES(m_lock);
    // GetLingerLeftMs with the queue lock held.
    uint32_t LingerLeftMsLocked(int nMaxItems) const IDX_REQUIRES(m_lock);

    const CTransmitterOptionsPtr m_ptrOptions;
    const boost::shared_ptr<FXEvent> m_ptrItemQueuedEvent;
    mutable FXCriticalSection m_lock;
    // The current free-slot semaphore, read without the lock by every queueing call. Create
    // replaces it (on the job's thread while no queueing call runs), and every semaphore ever
    // made is kept until the queue goes, so a caller still waiting on a replaced one never finds
    // it gone.
    std::atomic<TqSemaphore *> m_pFreeSlots{nullptr};
    std::vector<boost::shared_ptr<TqSemaphore>> m_vecSlotsMade IDX_GUARDED_BY(m_lock);
    std::list<CItemPtr> m_lstItems IDX_GUARDED_BY(m_lock);
    // Settled items in their list nodes, oldest first, waiting for an append to free them.
    std::list<CItemPtr> m_lstSettled IDX_GUARDED_BY(m_lock);
    // When each queued item was appended, in the same order as the list.
    std::deque<CLingerClock::time_point> m_dqQueuedAt IDX_GUARDED_BY(m_lock);
    int64_t m_llItemsQueued IDX_GUARDED_BY(m_lock);
    // Items ever appended and ever taken or removed: the oldest queued item is number m_ullLeft.
    uint64_t m_ullAppended IDX_GUARDED_BY(m_lock);
    uint64_t m_ullLeft IDX_GUARDED_BY(m_lock);
    // Items numbered below this were queued before the last flush.
    uint64_t m_ullFlushedUpTo IDX_GUARDED_BY(m_lock);
    std::atomic<uint32_t> m_nLingerMs{kLingerMilliseconds};
    // Workers waiting out the linger of a partial batch (CLingerWatch).
    int m_nLingerWatchers IDX_GUARDED_BY(m_lock) = 0;
    CWakeableSleep m_activitySleep;
};

// Hands the settled items left in a list back to the queue when the scope ends
// (CSolrItemQueue::ReturnSettled), whichever way it ends.
class CSettledItemsReturn {
public:
    CSettledItemsReturn(CSolrItemQueue &queue, std::list<CItemPtr> &lstSettled)
        : m_queue(queue), m_lstSettled(lstSettled) {}
    ~CSettledItemsReturn() {
        try {
            m_queue.ReturnSettled(m_lstSettled);
        } catch (...) {
            // Only the lock can fail: the list frees the items where it is.
        }
    }
    CSettledItemsReturn(const CSettledItemsReturn &) = delete;
    CSettledItemsReturn &operator=(const CSettledItemsReturn &) = delete;

private:
    CSolrItemQueue &m_queue;
    std::list<CItemPtr> &m_lstSettled;
};

// The owner of the items a worker took off the queue.
//
// A batch holds each taken item until it is settled: marked sent (accepted by the engine, the
// index server or the plug-in) or failed. Whatever is still held when the batch is destroyed --
// at the normal end, after an error, an exception, an abort or a stop -- is failed with the
// batch's reason, and every failed item is written to the failures file, so no path out of a
// sender can lose an item. (An item that throws when asked for its path cannot be listed: it is
// failed and counted by the batch, the log says so, and the items around it are listed.) Senders
// never write their own "what is left" path: they settle what they handled and let the batch take
// care of the rest.
//
// Settled items are not freed by the batch: when it ends, it hands them back to the queue, whose
// appends free them on the queueing thread (CSolrItemQueue::ReturnSettled). A worker that takes
// one batch after another gives each batch a list of its own to leave them in instead, and hands
// them back with its next take, under the lock that take holds anyway.
//
// A batch is used by one thread at a time.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "platform/Item.h"
#include "transmitter/TransmitterTypes.h"

class CItemBatch {
public:
    // strReason is what the log gives for items still held at the end.
    explicit CItemBatch(CSolrTransmitterPrivate &state,
                        std::string strReason = "the batch ended before they were sent");
    // A batch that leaves its settled items in lstSettled when it ends, for its owner to hand
    // back to the queue (TakeBatchFromQueue of its next batch, or ReturnSettled).
    CItemBatch(CSolrTransmitterPrivate &state, std::list<CItemPtr> &lstSettled);
    // Fails what is still held and records every failed item. Never throws.
    ~CItemBatch();
    CItemBatch(const CItemBatch &) = delete;
    CItemBatch &operator=(const CItemBatch &) = delete;

    // The only ways out of the queue (CSolrItemQueue). Each takes only into an empty batch and
    // never waits; the time spent goes to the transmitter's queue-taking timer.
    // Takes at most nMaxItems of the oldest queued items.
    void TakeFromQueue(int nMaxItems);
    // The same, but takes only a ready batch (CSolrItemQueue::TakeBatch): a partial batch that
    // has not lingered yet stays queued and the batch stays empty. A batch made with a settled
    // list hands what that list holds back to the queue in the same call. Answers whether the
    // queue was empty after the take.
    bool TakeBatchFromQueue(int nMaxItems);
    // Removes every queued item: they will not be sent. The batch's reason becomes strReason,
    // and they are failed with it when the batch ends (or at FailHeldAndRecord).
    void RemoveAllFromQueue(const std::string &strReason);
    // Holds one more item (a queued item handed on from another owner).
    void Add(const CItemPtr &ptrItem);

    bool IsEmpty() const { return m_lstHeld.empty(); }
    // Items still held, not yet settled.
    size_t GetSize() const { return m_lstHeld.size(); }
    const std::list<CItemPtr> &GetItems() const { return m_lstHeld; }
    // The oldest held item; the batch must not be empty.
    const CItemPtr &Front() const { return m_lstHeld.front(); }

    // The reason given to items still held when the batch ends.
    void SetReason(const std::string &strReason) { m_strReason = strReason; }

    // Settling the oldest held item.
    void SentFront();
    void FailFront(const std::string &strReason);
    // Hands the oldest held item to another batch, which owns it from then on.
    void MoveFrontTo(CItemBatch &other);

    // An item no longer held (already handed over and settled as sent, by this batch or an
    // earlier one) that its receiver has since reported failed: its name goes to the failures
    // file with this batch's failures and it counts among them. The sent count is not lowered.
    void FailHandedOver(const std::string &strName, const std::string &strReason);

    // Settling every held item at once.
    void SentAll();
    void FailAll(const std::string &strReason);

    int64_t GetSentCount() const { return m_llSent; }
    int64_t GetFailedCount() const { return m_llFailed; }

    // Writes the items failed so far to the failures file now (the destructor does it for what
    // is left). Held items are not touched.
    void RecordFailures();
    // Fails every held item with the batch's reason and writes all its failures now, so that
    // the failures file lists them before anything recorded later (what an abort removes from the
    // queue).
    void FailHeldAndRecord();

private:
    void NoteFailureReason(const std::string &strReason);
    void FailFrontSilently();
    // Moves the oldest held item to the settled ones.
    void SettleFront();

    CSolrTransmitterPrivate &m_state;
    std::string m_strReason;
    std::list<CItemPtr> m_lstHeld;
    // Items sent or failed, for the queue to free when the batch ends.
    std::list<CItemPtr> m_lstSettled;
    // Where the settled items go when the batch ends, when its owner gave a list; null to hand
    // them to the queue at once.
    std::list<CItemPtr> *m_pSettledOut = nullptr;
    // Names of failed items not yet written, all failed for the same reason.
    std::vector<std::string> m_vecFailedNames;
    std::string m_strFailedReason;
    int64_t m_llSent;
    int64_t m_llFailed;
};

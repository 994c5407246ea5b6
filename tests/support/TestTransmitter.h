// Test fixtures for the transmitter: a small worker derived from CIdxTransmitterThread that
// drains the queue into a list the test can read, and a transmitter whose worker factory makes
// such workers (or fails on request) and exposes the shared state.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include <boost/weak_ptr.hpp>

#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"

namespace idxtest {

class TestTransmitterThread : public CIdxTransmitterThread {
public:
    TestTransmitterThread(CSolrTransmitterPrivatePtr ptrState, CTransmitterOptionsPtr ptrOptions);
    ~TestTransmitterThread() override;

    void OnStart() override;
    void OnEvent() override;
    void OnTimeout() override;

    CKyError SendCommit() override { return CKyError::Success(); }
    bool IsIdxEngineRunning() override { return true; }
    CKyError LogPerformanceCounters() override { return CKyError::Success(); }
    CKyError SendDeleteDataSourceContent(const std::string &) override {
        return CKyError::Success();
    }
    CKyError PruneAuditCore(const std::string &, const std::string &) override {
        return CKyError::Success();
    }
    CKyError SyncAuditAndMainCore(int32_t, const std::string &) override {
        return CKyError::Success();
    }

    // Its own pass (pause and abort controls, batches of 3 taken without waiting for them to be
    // ready): records what each batch holds and settles it as sent.
    CKyError ProcessBatch(CItemBatch &batch) override;
    bool OnBatchError(const CKyError &, std::string &) override { return false; }

    // While paused the worker wakes but takes nothing.
    void SetPaused(bool bPaused);
    // The next wake-up aborts the worker with this error and reason instead of taking items.
    void AbortOnNextEvent(const CKyError &error, const std::string &strReason);

    // Items taken so far, oldest first.
    std::vector<CItemPtr> TakenItems();
    // Waits (for real, on a condition, at most nMilliseconds) until nCount items were taken.
    bool WaitForTaken(size_t nCount, int nMilliseconds = 5000);
    int StartCount();
    int EventCount();
    int TimeoutCount();
    // Waits until the worker has run OnEvent at least nCount times.
    bool WaitForEvents(int nCount, int nMilliseconds = 5000);

    // Exposed for tests of the base.
    using CIdxTransmitterThread::SetIdle;

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<CItemPtr> m_vecTaken;
    bool m_bPaused = false;
    bool m_bAbortNext = false;
    CKyError m_abortError;
    std::string m_strAbortReason;
    int m_nStarts = 0;
    int m_nEvents = 0;
    int m_nTimeouts = 0;
};

typedef boost::shared_ptr<TestTransmitterThread> TestTransmitterThreadPtr;

// A transmitter whose workers are TestTransmitterThread objects.
class TestSolrTransmitter : public CSolrTransmitter {
public:
    explicit TestSolrTransmitter(eIDX_Transmitter_Type eType = eIDX_Transmitter_Solr)
        : CSolrTransmitter(eType) {}

    IIdxTransmitterThreadPtr GetIdxTransmitterThreadObj() override;

    // The factory answers with an empty worker from its (nCall+1)-th call on.
    void FailFactoryAfter(int nCalls) { m_nFailAfter = nCalls; }
    int FactoryCalls() const { return m_nFactoryCalls; }
    // The workers the factory made that are still alive; the list keeps none of them alive.
    std::vector<TestTransmitterThreadPtr> Workers();
    const std::vector<boost::weak_ptr<TestTransmitterThread>> &WeakWorkers() const {
        return m_vecWorkers;
    }

    CSolrTransmitterPrivate &State() { return *m_ptrSolrTransmitterPrivate; }
    CSolrTransmitterPrivatePtr StatePtr() { return m_ptrSolrTransmitterPrivate; }

private:
    int m_nFailAfter = -1;
    int m_nFactoryCalls = 0;
    std::vector<boost::weak_ptr<TestTransmitterThread>> m_vecWorkers;
};

// Takes at most nMaxItems of the oldest queued items into a batch, as a worker does, settles them
// as sent and returns them, oldest first.
std::list<CItemPtr> TakeQueued(CSolrTransmitterPrivate &state, int nMaxItems);

// Makes a plain item with the given path.
CItemPtr MakeTestItem(const std::string &strPath);

// Free slots of a semaphore, counted by taking them without waiting and giving them back.
int CountFreeSlots(TqSemaphore &semaphore);

} // namespace idxtest

#include "tests/support/TestTransmitter.h"

#include <chrono>

#include <boost/make_shared.hpp>

#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterOptions.h"

namespace idxtest {

TestTransmitterThread::TestTransmitterThread(CSolrTransmitterPrivatePtr ptrState,
                                             CTransmitterOptionsPtr ptrOptions)
    : CIdxTransmitterThread(ptrState, ptrOptions) {}

TestTransmitterThread::~TestTransmitterThread() {
    StopBeforeDestruction();
}

void TestTransmitterThread::OnStart() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_nStarts;
}

void TestTransmitterThread::OnEvent() {
    SetIdle(false);
    bool bAbort = false;
    bool bPaused = false;
    CKyError abortError;
    std::string strReason;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        bAbort = m_bAbortNext;
        m_bAbortNext = false;
        bPaused = m_bPaused;
        abortError = m_abortError;
        strReason = m_strAbortReason;
    }
    if (bAbort) {
        AbortThread(abortError, strReason);
    } else if (!bPaused) {
        for (;;) {
            CItemBatch batch(*m_ptrSolrTransmitterPrivate);
            batch.TakeFromQueue(3);
            if (batch.IsEmpty()) {
                break;
            }
            ProcessBatch(batch);
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_nEvents;
    }
    m_cv.notify_all();
    SetIdle(true);
}

CKyError TestTransmitterThread::ProcessBatch(CItemBatch &batch) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecTaken.insert(m_vecTaken.end(), batch.GetItems().begin(), batch.GetItems().end());
    }
    batch.SentAll();
    return CKyError::Success();
}

void TestTransmitterThread::OnTimeout() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_nTimeouts;
    }
    m_cv.notify_all();
}

void TestTransmitterThread::SetPaused(bool bPaused) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bPaused = bPaused;
}

void TestTransmitterThread::AbortOnNextEvent(const CKyError &error, const std::string &strReason) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bAbortNext = true;
    m_abortError = error;
    m_strAbortReason = strReason;
}

std::vector<CItemPtr> TestTransmitterThread::TakenItems() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vecTaken;
}

bool TestTransmitterThread::WaitForTaken(size_t nCount, int nMilliseconds) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_cv.wait_for(guard, std::chrono::milliseconds(nMilliseconds),
                         [&] { return m_vecTaken.size() >= nCount; });
}

bool TestTransmitterThread::WaitForEvents(int nCount, int nMilliseconds) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_cv.wait_for(guard, std::chrono::milliseconds(nMilliseconds),
                         [&] { return m_nEvents >= nCount; });
}

int TestTransmitterThread::StartCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nStarts;
}

int TestTransmitterThread::EventCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nEvents;
}

int TestTransmitterThread::TimeoutCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nTimeouts;
}

std::list<CItemPtr> TakeQueued(CSolrTransmitterPrivate &state, int nMaxItems) {
    CItemBatch batch(state);
    batch.TakeFromQueue(nMaxItems);
    std::list<CItemPtr> lstTaken(batch.GetItems());
    batch.SentAll();
    return lstTaken;
}

IIdxTransmitterThreadPtr TestSolrTransmitter::GetIdxTransmitterThreadObj() {
    ++m_nFactoryCalls;
    if (m_nFailAfter >= 0 && m_nFactoryCalls > m_nFailAfter) {
        return IIdxTransmitterThreadPtr();
    }
    TestTransmitterThreadPtr ptrWorker = boost::make_shared<TestTransmitterThread>(
        m_ptrSolrTransmitterPrivate, m_ptrSolrTransmitterPrivate->m_ptrOptions);
    m_vecWorkers.push_back(ptrWorker);
    return ptrWorker;
}

std::vector<TestTransmitterThreadPtr> TestSolrTransmitter::Workers() {
    std::vector<TestTransmitterThreadPtr> vecWorkers;
    for (const auto &weakWorker : m_vecWorkers) {
        if (TestTransmitterThreadPtr ptrWorker = weakWorker.lock()) {
            vecWorkers.push_back(ptrWorker);
        }
    }
    return vecWorkers;
}

CItemPtr MakeTestItem(const std::string &strPath) {
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ptrItem->SetPath(strPath);
    return ptrItem;
}

int CountFreeSlots(TqSemaphore &semaphore) {
    int nFree = 0;
    while (semaphore.wait(static_cast<uint64_t>(0))) {
        ++nFree;
    }
    semaphore.release(nFree);
    return nFree;
}

} // namespace idxtest

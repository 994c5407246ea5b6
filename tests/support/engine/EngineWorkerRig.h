// Fixtures for tests of the index-engine worker against the engine stand-in: an option record
// pointed at the stand-in, a worker whose inner state a test can read, a job callback that records
// what the library told the job (and can hold a worker in its progress report), and an
// index-engine transmitter whose option record a test fills directly instead of through a bag.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/SolrTransmitterThread.h"
#include "tests/support/engine/EngineStub.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace idxtest {

// A metadata-only index-engine job in its backup phase on the stand-in's main core, audit core
// and REST root. With strHostUrl ("http://127.0.0.1:PORT") the same paths are reached there
// instead of on the stand-in's own port (through a forwarder, say).
void PointOptionsAtStub(CTransmitterOptions &options, const EngineStub &stub,
                        const std::string &strHostUrl = std::string());

// The worker with read access to the state the failure policy and the start keep.
class InspectableSolrWorker : public CSolrTransmitterThread {
public:
    using CSolrTransmitterThread::CSolrTransmitterThread;
    ~InspectableSolrWorker() override;

    int64_t ConsecutiveFailures() const { return m_exchange.ConsecutiveFailures(); }
    void SetConsecutiveFailures(int64_t llCount) { m_exchange.SetConsecutiveFailures(llCount); }
    const std::string &HttpHeader() const { return m_exchange.HttpHeader(); }
    bool CountersReady() const { return m_bCountersReady.load(); }
    // Whether the start put a pattern into the excluded-path set that takes in strPath.
    bool IsExcludedPath(const std::string &strPath) const;
    // Adds to the worker's item and packet totals as the metadata sender does.
    void AddTransmitted(int64_t llItems, int64_t llPackets);
    // The worker's timer of that name ("PostRequest", "BuildItems", ...); empty before the start
    // made the timers.
    boost::shared_ptr<CTimeCounter> Timer(const std::string &strName) const;
};

typedef boost::shared_ptr<InspectableSolrWorker> InspectableSolrWorkerPtr;

// Shared state, option record (pointed at the stub) and one worker that is never started, as the
// transmitter makes them for a one-shot request.
struct OneShotRig {
    explicit OneShotRig(const EngineStub &stub);
    // Counts nItems as queued, which opens the policy's gate for codes 601 and 999.
    void MarkItemsQueued(int64_t llItems);

    CSolrTransmitterPrivatePtr ptrState;
    CTransmitterOptionsPtr ptrOptions;
    InspectableSolrWorkerPtr ptrWorker;
};

// Records the reports of the library; every operation succeeds.
class RecordingCallback : public CSolrTransmitterCallback {
public:
    CKyError InitializeThread() override;
    CKyError UpdateProgress(long long llItemsIndexed, long long llUnCompressedBytes,
                            long long llFailedItems) override;
    CKyError SetJobPendingReason(long nCode, const std::string &strReason) override;
    CKyError ResetJobPendingReason() override;
    // The job's quit flag, as the test sets it (SetQuitFlag).
    bool IsQuitFlagSet() override;
    void SetQuitFlag(bool bQuit);

    // While held, a progress report blocks its worker until Release.
    void HoldProgress();
    void ReleaseProgress();
    // Waits (for real, at most nMilliseconds) until nCount progress reports arrived.
    bool WaitForProgress(size_t nCount, int nMilliseconds = 5000);

    std::vector<std::pair<long, std::string>> PendingReasons() const;
    int ResetCount() const;
    int InitializeCount() const;
    // Items indexed per progress report, in order.
    std::vector<long long> ProgressItems() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_bHold = false;
    int m_nResets = 0;
    int m_nInitialized = 0;
    std::vector<std::pair<long, std::string>> m_vecPendingReasons;
    std::vector<long long> m_vecProgressItems;
    std::atomic<bool> m_bQuit{false};
};

typedef boost::shared_ptr<RecordingCallback> RecordingCallbackPtr;

// An index-engine transmitter (type 0, its own worker factory) with direct access to its state.
class EngineTransmitter : public CSolrTransmitter {
public:
    EngineTransmitter() : CSolrTransmitter(eIDX_Transmitter_Solr) {}
    CSolrTransmitterPrivate &State() { return *m_ptrSolrTransmitterPrivate; }
    CTransmitterOptions &Options() { return *m_ptrSolrTransmitterPrivate->m_ptrOptions; }
};

// Waits (for real, polling every 2 ms) until the predicate holds; false after nMilliseconds.
template <typename TPredicate> bool WaitUntil(TPredicate predicate, int nMilliseconds = 5000) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Number of "<doc>" elements in an update body.
size_t CountDocs(const std::string &strBody);

} // namespace idxtest

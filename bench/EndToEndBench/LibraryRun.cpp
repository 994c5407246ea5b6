#include "bench/EndToEndBench/LibraryRun.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include <boost/make_shared.hpp>

#include "bench/EndToEndBench/TreeMaker.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace idxbench {

namespace {

typedef SXTransmitterConfigurationBagId BagId;

// Counts what the workers report after each batch; notes when the last item was answered.
class CountingCallback : public CSolrTransmitterCallback {
public:
    explicit CountingCallback(long long llExpected) : m_llExpected(llExpected) {}

    CKyError UpdateProgress(long long llItemsIndexed, long long /*llUnCompressedBytes*/,
                            long long llFailedItems) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_llIndexed += llItemsIndexed;
        m_llFailed += llFailedItems;
        ++m_llBatches;
        const size_t nSize = static_cast<size_t>(std::max(0LL, llItemsIndexed + llFailedItems));
        if (m_vecBatchSizes.size() <= nSize) {
            m_vecBatchSizes.resize(nSize + 1);
        }
        ++m_vecBatchSizes[nSize];
        if (m_llIndexed + m_llFailed >= m_llExpected && !m_bDone) {
            m_bDone = true;
            m_tpLast = Clock::now();
        }
        return CKyError::Success();
    }

    long long Indexed() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_llIndexed;
    }
    long long Failed() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_llFailed;
    }
    long long Batches() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_llBatches;
    }
    std::vector<long long> BatchSizes() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_vecBatchSizes;
    }
    bool LastAnswer(Clock::time_point &tp) const {
        std::lock_guard<std::mutex> guard(m_lock);
        tp = m_tpLast;
        return m_bDone;
    }

private:
    mutable std::mutex m_lock;
    long long m_llExpected;
    long long m_llIndexed = 0;
    long long m_llFailed = 0;
    long long m_llBatches = 0;
    std::vector<long long> m_vecBatchSizes; // [size]: how many batches had it
    bool m_bDone = false;
    Clock::time_point m_tpLast;
};

} // namespace

CBagPtr MakeOptionsBag(const NullEngine &engine, const std::string &strSubClient, int nBatch,
                       bool bContent) {
    CBagPtr ptrBag = boost::make_shared<CBag>();
    ptrBag->Write(BagId::idUpdateUrl, engine.UpdateUrl());
    ptrBag->Write(BagId::idBaseSolrUrl, engine.BaseUrl());
    ptrBag->Write(BagId::idCompleteSolrUrl, engine.UpdateUrl());
    ptrBag->Write(BagId::idAuditSolrUrl, engine.AuditUrl());
    ptrBag->Write(BagId::idCompleteSolrExtractUrl, engine.ExtractUrl());
    ptrBag->Write(BagId::idSubClientDir, strSubClient);
    ptrBag->Write(BagId::idClientName, std::string(kClientName));
    ptrBag->Write(BagId::idSolrClientName, std::string(kClientName));
    ptrBag->Write(BagId::idAppId, uint32_t(17));
    ptrBag->Write(BagId::idAppGUID, std::string("6f1d2c9e-0d1b-4a57-9c55-1f5e1a0b7c42"));
    ptrBag->Write(BagId::idJobId, 4242LL);
    ptrBag->Write(BagId::idClientId, uint32_t(2));
    ptrBag->Write(BagId::idMaxItemsPerTransaction, nBatch);
    ptrBag->Write(BagId::idPushOnlyMetaData, !bContent);
    if (bContent) {
        ptrBag->Write(BagId::idIncludeFilters, std::string("txt,bin"));
        ptrBag->Write(BagId::idMinFileSizePushContents, 0LL);
        ptrBag->Write(BagId::idMaxFileSizePushContents, 4LL * 1024 * 1024 * 1024);
    }
    ptrBag->Write(BagId::idIsScanPhase, false);
    return ptrBag;
}

LibraryResult RunLibrary(const BenchConfig &config, const CBagPtr &ptrBag,
                         const std::string &strTree) {
    LibraryResult result;
    boost::shared_ptr<CountingCallback> ptrCallback =
        boost::make_shared<CountingCallback>(config.llItems);
    const double dCpuStart = CpuSeconds();
    const double dThreadCpuStart = ThreadCpuSeconds();
    const Clock::time_point tpStart = Clock::now();
    result.dStartEpoch = EpochSeconds();
    {
        CSolrTransmitter transmitter(eIDX_Transmitter_Solr);
        CKyError error = transmitter.SetMaxQueueSize(config.nQueueSize);
        if (!error.IsError()) {
            error = transmitter.SetNumberofTransmitterThreads(config.nWorkers);
        }
        if (!error.IsError()) {
            error = transmitter.SetCallback(ptrCallback);
        }
        if (!error.IsError()) {
            error = transmitter.SetOptions(ptrBag);
        }
        if (!error.IsError()) {
            error = transmitter.Start();
        }
        if (error.IsError()) {
            fprintf(stderr, "EndToEndBench: the transmitter did not start: %s\n",
                    error.AsString().c_str());
            return result;
        }
        // Named after Start, so that the workers it started keep the process's name.
        ThreadName name("job-thread");
        for (long long i = 0; i < config.llItems; ++i) {
            // An item selected for access goes out as metadata only.
            error = transmitter.BuildAndAddToQueue(FilePath(strTree, i), 2, i * 100, false,
                                                   !config.bContent);
            if (error.IsError()) {
                fprintf(stderr, "EndToEndBench: queueing item %lld failed: %s\n", i,
                        error.AsString().c_str());
                return result;
            }
        }
        error = transmitter.WaitAndCommit();
        if (error.IsError()) {
            fprintf(stderr, "EndToEndBench: WaitAndCommit failed: %s\n", error.AsString().c_str());
        }
        result.dTotalSeconds = Seconds(Clock::now() - tpStart);
        result.dCpuSeconds = CpuSeconds() - dCpuStart;
        result.dJobThreadCpuSeconds = ThreadCpuSeconds() - dThreadCpuStart;
        if (transmitter.IfPushDataToSolrFailed()) {
            fprintf(stderr, "EndToEndBench: the library reports a failed push: %s\n",
                    transmitter.GetSolrFailureReason().c_str());
        }
    }
    result.lPeakRssKb = PeakRssKb();
    Clock::time_point tpLast;
    result.bOk = ptrCallback->LastAnswer(tpLast);
    result.dDrainSeconds = result.bOk ? Seconds(tpLast - tpStart) : result.dTotalSeconds;
    result.llIndexed = ptrCallback->Indexed();
    result.llFailed = ptrCallback->Failed();
    result.llBatches = ptrCallback->Batches();
    result.vecBatchSizes = ptrCallback->BatchSizes();
    return result;
}

} // namespace idxbench

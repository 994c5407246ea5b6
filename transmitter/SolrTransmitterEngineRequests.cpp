// The transmitter's one-shot engine requests (clear, prune, sync, ping). Each runs on the caller's
// thread on an index-engine worker made for the call and never started; the running workers are
// not involved. The worker comes from the layer above (transmitter/TransmitterAssembly.h).
#include <string>

#include "foundation/ErrorCodes.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterAssembly.h"

namespace {

// An index-engine worker for one request, whatever the transmitter's type; never started. Empty
// when none could be made.
IIdxTransmitterThreadPtr MakeOneShotWorker(const CSolrTransmitterPrivatePtr &ptrState) {
    FnMakeTransmitterWorker fnMake = GetTransmitterAssembly().fnMakeOneShotEngineWorker;
    return fnMake ? fnMake(ptrState) : IIdxTransmitterThreadPtr();
}

// Runs one engine request on a worker made for the call and never started, then commits it
// on the same worker, so that the engine's searchers see the change.
template <typename Request>
CKyError RunRequestAndCommit(CSolrTransmitterPrivatePtr &ptrState, Request request) {
    try {
        IIdxTransmitterThreadPtr ptrWorker = MakeOneShotWorker(ptrState);
        if (!ptrWorker) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        CKyError error = request(*ptrWorker);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        error = ptrWorker->SendCommit();
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        return CKyError::Success();
    } catch (...) {
        return ErrorFromCaughtException(FXLOC);
    }
}

} // namespace

CKyError CSolrTransmitter::ClearDataSource(const std::string &strDataSource) {
    CKyError error =
        RunRequestAndCommit(m_ptrSolrTransmitterPrivate, [&](IIdxTransmitterThread &worker) {
            return worker.SendDeleteDataSourceContent(strDataSource);
        });
    return error.IsError() ? error.Push(FXLOC) : error;
}

CKyError CSolrTransmitter::PruneAuditSource(const std::string &strEventTime,
                                            const std::string &strAppId) {
    CKyError error =
        RunRequestAndCommit(m_ptrSolrTransmitterPrivate, [&](IIdxTransmitterThread &worker) {
            return worker.PruneAuditCore(strEventTime, strAppId);
        });
    return error.IsError() ? error.Push(FXLOC) : error;
}

CKyError CSolrTransmitter::SyncAuditAndMainSource(int32_t nEventBits, const std::string &strAppId) {
    CKyError error =
        RunRequestAndCommit(m_ptrSolrTransmitterPrivate, [&](IIdxTransmitterThread &worker) {
            return worker.SyncAuditAndMainCore(nEventBits, strAppId);
        });
    return error.IsError() ? error.Push(FXLOC) : error;
}

CKyError CSolrTransmitter::IsSolrEngineRunning(bool &bRunning) {
    try {
        CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;

        // The index-log translation never marks the state as configured, so without this test
        // it would rewrite the option record under running workers, which read it unlocked.
        const bool bHasWorkers = !state.GetWorkers().empty();
        if (!state.IsDataConfiguredFromBag() && !bHasWorkers) {
            CKyError error = state.ConfigureFromBag();
            if (error.IsError()) {
                return error.Push(FXLOC);
            }
        }
        bRunning = false;

        IIdxTransmitterThreadPtr ptrWorker = MakeOneShotWorker(m_ptrSolrTransmitterPrivate);
        if (!ptrWorker) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        if (!ptrWorker->IsIdxEngineRunning()) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eEnginePingFailed,
                                           "Solr ping request to server failed");
        }
        bRunning = true;
        return CKyError::Success();
    } catch (...) {
        return ErrorFromCaughtException(FXLOC);
    }
}

// The restart position of a job and the one-shot engine requests of the transmitter.
//
// The restart string comes from the index engine (one select query per collect id for the
// largest collect offset it holds for the job) or, for live crawl, from the job manager. The
// one-shot requests (clear, prune, sync, ping) run on the caller's thread on an index-engine
// worker made for the call and never started; the running workers are not involved.
#include <cstdint>
#include <curl/curl.h>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "engine/SolrTransmitterThread.h"
#include "foundation/ErrorCodes.h"
#include "foundation/Locks.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "platform/JobClients.h"
#include "platform/LogWriter.h"
#include "platform/StringFormat.h"
#include "platform/TQLibCurl.h"
#include "platform/TqJson.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kRestartPrefix[] = "-o ";
// The query asks for one document; an answer beyond this is refused by the handle rather than
// held and parsed.
const size_t kMaxSelectAnswerBytes = 1024 * 1024;

// Appends "id|offset@" for every document of one collect id that the engine returns (at most
// one: the query asks for the largest offset). Uses a handle of its own, released on return.
CKyError AppendRestartPairs(const std::string &strQueryUrl, const std::string &strPingUrl,
                            const std::string &strClientName, bool &bUseDynamicTppm,
                            std::string &strRestartString) {
    TQLibCurl curl;
    curl.SetMaxAnswerSize(kMaxSelectAnswerBytes);
    if (!curl.TQLibCurlInit("Content-Type: text/json", false, false)) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "TQLibCurlInit failed");
    }
    if (!curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_NOSIGNAL, 1)) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "TQLibCurlSetAdditionalOptionsIntValue failed");
    }
    if (!curl.TQLibCurlDynamiceTppmCheck(strPingUrl, strClientName, bUseDynamicTppm)) {
        IDX_LOG_ERROR("Failed to decide if dynamictppm option must be used");
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "TQLibCurlDynamiceTppmCheck failed");
    }
    size_t nLength = 0;
    if (curl.GetHttpResponse(nLength, true) == nullptr) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "GetHttpResponse failed");
    }
    if (!curl.TQLibCurlSendHttpReq2(0, strQueryUrl, nullptr, 0, false, strClientName,
                                    bUseDynamicTppm)) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "TQLibCurlSendHttpReq2 failed");
    }
    const char *szAnswer = curl.GetHttpResponse(nLength, false);
    if (szAnswer == nullptr) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "GetHttpResponse failed");
    }

    TqJson answer;
    if (TqJson::Unserialize(std::string(szAnswer, nLength), answer).IsError() ||
        !answer.IsObject()) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Unserialize failed");
    }
    TqJson response;
    if (answer.FindObjectValue("response", response).IsError()) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "FindObjectValue failed");
    }
    std::vector<TqJson> vecDocs;
    if (response.FindArrayValue("docs", vecDocs).IsError()) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "FindArrayValue failed");
    }

    for (const TqJson &doc : vecDocs) {
        int64_t llCollectId = 0;
        CKyError error = doc.GetIntValue("CollectId", llCollectId);
        if (error.IsError() || llCollectId < std::numeric_limits<int32_t>::min() ||
            llCollectId > std::numeric_limits<int32_t>::max()) {
            return FXErrorUtil::ErrorErrNo(
                FXLOC, -1, "GetIntValue failed, CollectId missing or not a 32-bit number");
        }
        // A missing or negative offset is refused: read as unsigned it would become a huge
        // offset and the restarted job would skip everything.
        uint64_t ullCollectOffset = 0;
        error = doc.GetUInt64Value("CollectOffset", ullCollectOffset);
        if (error.IsError()) {
            return FXErrorUtil::ErrorErrNo(
                FXLOC, -1,
                "GetUInt64Value failed, CollectOffset of CollectId [%d] is missing or "
                "negative",
                static_cast<int>(llCollectId));
        }
        strRestartString += FXFormat("%d|%llu@", static_cast<int>(llCollectId),
                                     static_cast<unsigned long long>(ullCollectOffset));
    }
    return CKyError::Success();
}

// An index-engine worker for one request, whatever the transmitter's type; never started, so it
// takes no batch and needs no sender.
IIdxTransmitterThreadPtr MakeOneShotWorker(CSolrTransmitterPrivatePtr &ptrState) {
    return boost::make_shared_nothrow<CSolrTransmitterThread,
                                      boost::shared_ptr<CSolrTransmitterPrivate> &,
                                      boost::shared_ptr<CTransmitterOptions> &, FItemSenderFactory>(
        ptrState, ptrState->m_ptrOptions, FItemSenderFactory());
}

} // namespace

CKyError CSolrTransmitter::GetRestartString(int nCollectIds, std::string &strRestartString) {
    try {
        CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;

        if (state.m_eTransmitterType == eIDX_Transmitter_LiveCrawl) {
            strRestartString.clear();
            if (state.m_pBackupJobClient) {
                state.m_pBackupJobClient->getRestartString(strRestartString, JM_RESTART_LOOKUP_JOB);
            }
            return CKyError::Success();
        }

        const CTransmitterOptions &options = *state.m_ptrOptions;
        const std::string strBaseUrl = options.GetBaseSolrUrl();
        const std::string &strClientName = options.GetSolrClientName();
        strRestartString += kRestartPrefix;
        bool bUseDynamicTppm = true;
        // No "/" is put between the two: the base URL is expected to end with one.
        const std::string strPingUrl = strBaseUrl + "admin/ping";
        IDX_LOG(0, "On restart using BaseSolrUrl=[%s], GetSolrClientName=[%s]", strPingUrl.c_str(),
                strClientName.c_str());

        std::string strSelectBase = strBaseUrl;
        FXString::RemoveRight(strSelectBase, "/");
        strSelectBase += "/select?q=CollectId:";

        for (int nCollectId = 1; nCollectId <= nCollectIds; ++nCollectId) {
            const std::string strQueryUrl = strSelectBase + std::to_string(nCollectId) +
                                            "%20AND%20JobId:" + options.GetJobIdString() +
                                            "&wt=json&rows=1&sort=CollectOffset%20desc";
            CKyError error = AppendRestartPairs(strQueryUrl, strPingUrl, strClientName,
                                                bUseDynamicTppm, strRestartString);
            if (error.IsError()) {
                strRestartString.clear();
                return error.Push(FXLOC);
            }
        }

        strRestartString.pop_back();
        if (FXString::MatchesNoCase(strRestartString, "-o")) {
            strRestartString.clear();
        }
        IDX_LOG(3, "Restart string from solr engine [%s]", strRestartString.c_str());
        return CKyError::Success();
    } catch (...) {
        strRestartString.clear();
        return ErrorFromCaughtException(FXLOC);
    }
}

namespace {

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

// The restart position of a job, and the index-engine worker of the transmitter's one-shot
// requests (transmitter/SolrTransmitterEngineRequests.cpp).
//
// The restart string comes from the index engine (one select query per collect id for the
// largest collect offset it holds for the job) or, for live crawl, from the job manager.
#include <cstdint>
#include <curl/curl.h>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "engine/OneShotEngineWorker.h"
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

} // namespace

IIdxTransmitterThreadPtr MakeOneShotEngineWorker(const CSolrTransmitterPrivatePtr &ptrState) {
    // Never started, so it takes no batch and needs no sender.
    return boost::make_shared_nothrow<CSolrTransmitterThread, const CSolrTransmitterPrivatePtr &,
                                      const CTransmitterOptionsPtr &, FItemSenderFactory>(
        ptrState, ptrState->m_ptrOptions, FItemSenderFactory());
}

CKyError CSolrTransmitter::GetRestartString(int nCollectIds, std::string &strRestartString) {
    try {
        CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;

        if (state.GetTransmitterType() == eIDX_Transmitter_LiveCrawl) {
            strRestartString.clear();
            if (state.Config().m_pBackupJobClient) {
                state.Config().m_pBackupJobClient->getRestartString(strRestartString,
                                                                    JM_RESTART_LOOKUP_JOB);
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

#include "bench/EndToEndBench/ReplayClient.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include <boost/make_shared.hpp>
#include <curl/curl.h>

#include "bench/EndToEndBench/TreeMaker.h"
#include "engine/SolrTransmitterThread.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace idxbench {

bool BuildFullBatches(const BenchConfig &config, const CBagPtr &ptrBag, const std::string &strTree,
                      const std::string &strUrl, std::vector<ReplayRequest> &vecRequests) {
    CSolrTransmitterPrivatePtr ptrState =
        boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
    ptrState->m_ptrOptionsBag = ptrBag;
    CKyError error = ptrState->ConfigureFromBag();
    if (error.IsError()) {
        fprintf(stderr, "EndToEndBench: option translation failed: %s\n", error.AsString().c_str());
        return false;
    }
    const CTransmitterOptions &options = *ptrState->m_ptrOptions;
    CSolrTransmitterThread builder(ptrState, ptrState->m_ptrOptions);
    idxtest::AnalyticsSettings settings;
    settings.nCollectId = 2;
    settings.strAppGuid = options.GetAppGUID();

    std::string strBody;
    for (long long i = 0; i < config.llItems; ++i) {
        if (strBody.empty()) {
            strBody = "<add>";
        }
        settings.llCollectOffset = i * 100;
        CItemPtr ptrItem = idxtest::MakePathItem(FilePath(strTree, i), options, settings);
        if (!ptrItem) {
            fprintf(stderr, "EndToEndBench: no item for %s\n", FilePath(strTree, i).c_str());
            return false;
        }
        ptrItem->SetSelectedForAccess(true);
        std::string strDocument;
        error = builder.BuildItemDataAnalytics(ptrItem, EFieldForm::eXml, strDocument);
        if (error.IsError()) {
            fprintf(stderr, "EndToEndBench: building a document failed: %s\n",
                    error.AsString().c_str());
            return false;
        }
        strBody += "<doc>";
        strBody += strDocument;
        strBody += "</doc>";
        if ((i + 1) % config.nBatch == 0 || i + 1 == config.llItems) {
            strBody += "</add>";
            vecRequests.push_back({strUrl, std::move(strBody)});
            strBody.clear();
        }
    }
    return true;
}

ReplayResult RunReplay(const BenchConfig &config, const std::string &strPingUrl,
                       const std::vector<ReplayRequest> &vecRequests) {
    ReplayResult result;
    std::atomic<long long> llFailed(0);
    std::mutex lockStart;
    std::condition_variable cvStart;
    int nConnected = 0;
    bool bGo = false;
    double dCpuStart = 0;
    Clock::time_point tpStart;

    auto fnThread = [&](size_t nThread) {
        CURL *pCurl = curl_easy_init();
        struct curl_slist *pHeaders = nullptr;
        pHeaders = curl_slist_append(pHeaders, "Content-Type: text/xml");
        pHeaders = curl_slist_append(pHeaders, "Expect:");
        std::string strAnswer;
        if (pCurl) {
            curl_easy_setopt(pCurl, CURLOPT_USERAGENT, "bench-client");
            curl_easy_setopt(pCurl, CURLOPT_NOPROXY, "127.0.0.1");
            curl_easy_setopt(pCurl, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(pCurl, CURLOPT_TIMEOUT, 60L);
            curl_easy_setopt(
                pCurl, CURLOPT_WRITEFUNCTION,
                +[](char *pData, size_t nSize, size_t nCount, void *pContext) {
                    static_cast<std::string *>(pContext)->append(pData, nSize * nCount);
                    return nSize * nCount;
                });
            curl_easy_setopt(pCurl, CURLOPT_WRITEDATA, &strAnswer);
            curl_easy_setopt(pCurl, CURLOPT_URL, strPingUrl.c_str());
            curl_easy_perform(pCurl);
        }
        {
            std::unique_lock<std::mutex> guard(lockStart);
            ++nConnected;
            cvStart.notify_all();
            cvStart.wait(guard, [&] { return bGo; });
        }
        if (!pCurl) {
            llFailed += 1;
            return;
        }
        curl_easy_setopt(pCurl, CURLOPT_HTTPHEADER, pHeaders);
        const size_t nThreads = static_cast<size_t>(config.nWorkers);
        for (size_t i = nThread; i < vecRequests.size(); i += nThreads) {
            strAnswer.clear();
            curl_easy_setopt(pCurl, CURLOPT_URL, vecRequests[i].strUrl.c_str());
            curl_easy_setopt(pCurl, CURLOPT_POST, 1L);
            curl_easy_setopt(pCurl, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(vecRequests[i].strBody.size()));
            curl_easy_setopt(pCurl, CURLOPT_POSTFIELDS, vecRequests[i].strBody.data());
            long nStatus = 0;
            if (curl_easy_perform(pCurl) != CURLE_OK ||
                curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &nStatus) != CURLE_OK ||
                nStatus != 200) {
                llFailed += 1;
            }
        }
        curl_slist_free_all(pHeaders);
        curl_easy_cleanup(pCurl);
    };

    std::vector<std::thread> vecThreads;
    for (int t = 0; t < config.nWorkers; ++t) {
        vecThreads.emplace_back(fnThread, static_cast<size_t>(t));
    }
    {
        std::unique_lock<std::mutex> guard(lockStart);
        cvStart.wait(guard, [&] { return nConnected == config.nWorkers; });
        dCpuStart = CpuSeconds();
        tpStart = Clock::now();
        bGo = true;
    }
    cvStart.notify_all();
    for (std::thread &thread : vecThreads) {
        thread.join();
    }
    result.dSeconds = Seconds(Clock::now() - tpStart);
    result.dCpuSeconds = CpuSeconds() - dCpuStart;
    result.llFailedPosts = llFailed.load();
    return result;
}

} // namespace idxbench

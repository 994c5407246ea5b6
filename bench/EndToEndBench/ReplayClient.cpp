#include "bench/EndToEndBench/ReplayClient.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
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

namespace {

// Reads a regular file whole into strContent, reusing its storage.
bool ReadWholeFile(const std::string &strFile, std::string &strContent) {
    int fd = open(strFile.c_str(), O_RDONLY);
    if (fd < 0) {
        return false;
    }
    struct stat status;
    bool bOk = fstat(fd, &status) == 0;
    if (bOk) {
        strContent.resize(static_cast<size_t>(status.st_size));
        size_t nDone = 0;
        while (bOk && nDone < strContent.size()) {
            const ssize_t nRead = read(fd, &strContent[nDone], strContent.size() - nDone);
            bOk = nRead > 0;
            nDone += bOk ? static_cast<size_t>(nRead) : 0;
        }
    }
    close(fd);
    return bOk;
}

} // namespace

bool BuildBatches(const BenchConfig &config, const CBagPtr &ptrBag, const std::string &strTree,
                  const std::string &strUrl, const std::vector<long long> &vecBatchSizes,
                  std::vector<ReplayRequest> &vecRequests) {
    // The sizes in turn (one batch of each size that has some left, then again), so that each
    // replay thread gets a like mix.
    std::vector<long long> vecLeft = vecBatchSizes, vecOrder;
    long long llCovered = 0;
    for (bool bAny = true; bAny;) {
        bAny = false;
        for (size_t nSize = 1; nSize < vecLeft.size(); ++nSize) {
            if (vecLeft[nSize] > 0) {
                --vecLeft[nSize];
                vecOrder.push_back(static_cast<long long>(nSize));
                llCovered += static_cast<long long>(nSize);
                bAny = true;
            }
        }
    }
    if (llCovered != config.llItems) {
        fprintf(stderr, "EndToEndBench: the batches hold %lld items, not %lld\n", llCovered,
                config.llItems);
        return false;
    }
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
    size_t nBatch = 0;
    long long llInBatch = 0;
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
        if (++llInBatch == vecOrder[nBatch]) {
            ++nBatch;
            llInBatch = 0;
            strBody += "</add>";
            vecRequests.push_back({strUrl, "text/xml", std::move(strBody), std::string()});
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
        // The header lists of this thread, one per content type, built once.
        std::map<std::string, curl_slist *> mapHeaders;
        std::string strContent;
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
        const size_t nThreads = static_cast<size_t>(config.nWorkers);
        for (size_t i = nThread; i < vecRequests.size(); i += nThreads) {
            const ReplayRequest &request = vecRequests[i];
            strAnswer.clear();
            curl_slist *&pHeaders = mapHeaders[request.strContentType];
            if (!pHeaders) {
                // The library sends no "Expect: 100-continue".
                pHeaders =
                    curl_slist_append(nullptr, ("Content-Type: " + request.strContentType).c_str());
                pHeaders = curl_slist_append(pHeaders, "Expect:");
            }
            const std::string *pBody = &request.strBody;
            if (!request.strFile.empty()) {
                if (!ReadWholeFile(request.strFile, strContent)) {
                    llFailed += 1;
                    continue;
                }
                pBody = &strContent;
            }
            curl_easy_setopt(pCurl, CURLOPT_HTTPHEADER, pHeaders);
            curl_easy_setopt(pCurl, CURLOPT_URL, request.strUrl.c_str());
            curl_easy_setopt(pCurl, CURLOPT_POST, 1L);
            curl_easy_setopt(pCurl, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(pBody->size()));
            curl_easy_setopt(pCurl, CURLOPT_POSTFIELDS, pBody->data());
            long nStatus = 0;
            if (curl_easy_perform(pCurl) != CURLE_OK ||
                curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &nStatus) != CURLE_OK ||
                nStatus != 200) {
                llFailed += 1;
            }
        }
        for (auto &entry : mapHeaders) {
            curl_slist_free_all(entry.second);
        }
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

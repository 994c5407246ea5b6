#include "bench/EndToEndBench/ReplayClient.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include <boost/make_shared.hpp>
#include <curl/curl.h>

#include "bench/EndToEndBench/TreeMaker.h"
#include "documents/DocumentContext.h"
#include "documents/ItemMetadataDocument.h"
#include "engine/SolrTransmitterThread.h"
#include "foundation/Crc32.h"
#include "platform/TQLibCurl.h"
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
    ptrState->SetUp().m_ptrOptionsBag = ptrBag;
    CKyError error = ptrState->ConfigureFromBag();
    if (error.IsError()) {
        fprintf(stderr, "EndToEndBench: option translation failed: %s\n", error.AsString().c_str());
        return false;
    }
    const CTransmitterOptions &options = *ptrState->m_ptrOptions;
    CDocumentContext builder(*ptrState->m_ptrOptions, *ptrState);
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
        error =
            IdxDocuments::BuildItemDataAnalytics(builder, ptrItem, EFieldForm::eXml, strDocument);
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
            strBody += "</add>";
            vecRequests.push_back(
                {strUrl, "text/xml", std::move(strBody), std::string(), llInBatch});
            llInBatch = 0;
            strBody.clear();
        }
    }
    return true;
}

namespace {

// Thread t takes requests t, t + threads, ...
class RoundRobinDealer : public RequestDealer {
public:
    RoundRobinDealer(size_t nThreads, size_t nRequests)
        : m_nThreads(nThreads), m_nRequests(nRequests), m_vecNext(nThreads) {
        for (size_t t = 0; t < nThreads; ++t) {
            m_vecNext[t] = t;
        }
    }

    bool Next(size_t nThread, size_t &nRequest) override {
        // Each thread reads and writes only its own slot.
        nRequest = m_vecNext[nThread];
        m_vecNext[nThread] += m_nThreads;
        return nRequest < m_nRequests;
    }

private:
    size_t m_nThreads;
    size_t m_nRequests;
    std::vector<size_t> m_vecNext;
};

size_t KeepAnswer(char *pData, size_t nSize, size_t nCount, void *pContext) {
    static_cast<std::string *>(pContext)->append(pData, nSize * nCount);
    return nSize * nCount;
}

// The engine worker's cancel check: called as often as the library's, it never cancels here.
int NeverCancel(void *, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return 0;
}

// The options the library's engine worker gives its handle (its HTTP client's set-up with
// keep-alive probes and compressed answers, no signals, its client name as User-Agent, a
// progress callback for its cancel check, no redirects), so that libcurl does the same work per
// request on both sides. The answer is appended to strAnswer.
bool SetUpLikeTheLibrary(CURL *pCurl, std::string &strAnswer, char *szError) {
    return curl_easy_setopt(pCurl, CURLOPT_ERRORBUFFER, szError) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_WRITEFUNCTION, &KeepAnswer) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_WRITEDATA, &strAnswer) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1") == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_CONNECTTIMEOUT_MS,
                            TQLibCurl::kDefaultConnectTimeoutMs) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_LOW_SPEED_TIME, TQLibCurl::kDefaultStallSeconds) ==
               CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_MAXREDIRS, 5L) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_TCP_KEEPALIVE, 1L) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_ACCEPT_ENCODING, "") == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_USERAGENT, kClientName) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_XFERINFOFUNCTION, &NeverCancel) == CURLE_OK &&
           curl_easy_setopt(pCurl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

// SHA-512 of a body with the library's hash, in slices that its int length can take.
bool HashBody(TqcSHA512 &sha, const std::string &strBody) {
    const size_t kSlice = 1024 * 1024 * 1024;
    for (size_t nDone = 0; nDone < strBody.size(); nDone += kSlice) {
        sha.addData(strBody.data() + nDone,
                    static_cast<int>(std::min(kSlice, strBody.size() - nDone)));
    }
    unsigned char abDigest[64];
    sha.finish(abDigest, sizeof(abDigest));
    return sha.getLength() == static_cast<int>(sizeof(abDigest));
}

} // namespace

ReplayResult RunReplay(const BenchConfig &config, const std::string &strPingUrl,
                       const std::vector<ReplayRequest> &vecRequests, const char *szThreadName,
                       EBodyWork eWork) {
    RoundRobinDealer dealer(static_cast<size_t>(config.nWorkers), vecRequests.size());
    return PostRequests(config, strPingUrl, vecRequests, szThreadName, eWork, dealer, [] {});
}

ReplayResult PostRequests(const BenchConfig &config, const std::string &strPingUrl,
                          const std::vector<ReplayRequest> &vecRequests, const char *szThreadName,
                          EBodyWork eWork, RequestDealer &dealer,
                          const std::function<void()> &fnFeed) {
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
        char szError[CURL_ERROR_SIZE] = "";
        TqcSHA512 sha;
        if (pCurl && SetUpLikeTheLibrary(pCurl, strAnswer, szError)) {
            curl_easy_setopt(pCurl, CURLOPT_URL, strPingUrl.c_str());
            curl_easy_perform(pCurl);
        } else if (pCurl) {
            curl_easy_cleanup(pCurl);
            pCurl = nullptr;
        }
        {
            std::unique_lock<std::mutex> guard(lockStart);
            ++nConnected;
            cvStart.notify_all();
            cvStart.wait(guard, [&] { return bGo; });
        }
        size_t nRequest = 0;
        while (dealer.Next(nThread, nRequest)) {
            if (!pCurl) {
                llFailed += 1;
                continue;
            }
            const ReplayRequest &request = vecRequests[nRequest];
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
            if (eWork == EBodyWork::eHashFirst && !HashBody(sha, *pBody)) {
                llFailed += 1;
                continue;
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
        if (pCurl) {
            curl_easy_cleanup(pCurl);
        }
    };

    std::vector<std::thread> vecThreads;
    {
        ThreadName name(szThreadName);
        for (int t = 0; t < config.nWorkers; ++t) {
            vecThreads.emplace_back(fnThread, static_cast<size_t>(t));
        }
    }
    {
        std::unique_lock<std::mutex> guard(lockStart);
        cvStart.wait(guard, [&] { return nConnected == config.nWorkers; });
        dCpuStart = CpuSeconds();
        tpStart = Clock::now();
        bGo = true;
    }
    cvStart.notify_all();
    fnFeed();
    for (std::thread &thread : vecThreads) {
        thread.join();
    }
    result.dSeconds = Seconds(Clock::now() - tpStart);
    result.dCpuSeconds = CpuSeconds() - dCpuStart;
    result.llFailedPosts = llFailed.load();
    return result;
}

} // namespace idxbench

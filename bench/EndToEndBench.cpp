// End-to-end cost of the library: N small files queued through a metadata-mode transmitter to the
// engine stand-in (started here with --discard --keep-alive --record), against a plain libcurl
// loop on as many threads that posts exactly the update requests the stand-in recorded to a
// fresh stand-in. The ratio of the two throughputs is the library's own cost measured in one run;
// CPU time and peak RSS come from getrusage.
//
//   EndToEndBench [N [workers [batch [idx-engine-stub]]]] [--queue Q]
//   EndToEndBench --rss-check [idx-engine-stub]   peak RSS with 20k and 200k items, in two children
//
// The library is timed from Start to the answer of its last batch (seen through the progress
// callback) and, separately, to the return of WaitAndCommit, whose end-of-job waits do not
// depend on N. The exact replay sends the recorded bodies (the library's own batches, whatever
// their sizes) to the recorded paths with "Content-Type: text/xml", one keep-alive handle per
// thread, the bodies dealt round-robin among the threads. A second replay, for information,
// posts full batches built once more in this process with the library's own builder (the item
// lookup the queueing call makes, then the metadata document of each item, "<doc>" per item and
// "<add>" per batch as the metadata sender assembles them): the floor the library would reach
// if every batch it sent were full. Replay connections are opened before their clock starts.
// Everything runs on 127.0.0.1, each phase is bounded in time, and the stand-ins and the
// temporary tree are removed at the end. Targets are reported as PASS or WARN lines; the exit
// status only says whether the run could be made at all. The library's own log goes where
// IDX_LOG_FILE says (stderr by default).
#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <curl/curl.h>

#include "engine/SolrTransmitterThread.h"
#include "platform/Bag.h"
#include "tests/support/documents/DocumentTestSupport.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineStubProcess.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

namespace {

typedef SXTransmitterConfigurationBagId BagId;
typedef std::chrono::steady_clock Clock;

const double kThroughputTarget = 0.7;
const double kRssTarget = 1.2;
// Above this the replay is bound by the stand-in's answer time rather than by sending.
const double kSlowAnswerMs = 20.0;
const long long kMaxItems = 2000000;
const int kFilesPerFolder = 1000;
// Upper bound of one library or replay phase; a run that takes longer is abandoned.
const int kPhaseTimeoutSeconds = 600;

struct BenchConfig {
    long long llItems = 20000;
    int nWorkers = 15;
    int nBatch = 20;
    int nQueueSize = 10000;
    std::string strStub;
    bool bRssCheck = false;
    bool bLibraryOnly = false; // a child of --rss-check: library phase only, one result line
};

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double CpuSeconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The temporary folder of the run: the file tree, the subclient folder, the stand-in's files.
class ScratchFolder {
public:
    bool Create() {
        const char *szTmp = getenv("TMPDIR");
        std::string strTemplate = std::string(szTmp && *szTmp ? szTmp : "/tmp") + "/idx-e2e-XXXXXX";
        std::vector<char> vecName(strTemplate.begin(), strTemplate.end());
        vecName.push_back('\0');
        if (!mkdtemp(vecName.data())) {
            return false;
        }
        m_strPath = vecName.data();
        return true;
    }
    ~ScratchFolder() {
        if (!m_strPath.empty()) {
            nftw(m_strPath.c_str(), RemoveEntry, 32, FTW_DEPTH | FTW_PHYS);
        }
    }
    const std::string &Path() const { return m_strPath; }

private:
    static int RemoveEntry(const char *szPath, const struct stat *, int, struct FTW *) {
        remove(szPath);
        return 0;
    }
    std::string m_strPath;
};

// The i-th file of the tree, computed rather than stored so that the list of names does not
// grow the process with N.
std::string FilePath(const std::string &strTree, long long llIndex) {
    char szName[64];
    snprintf(szName, sizeof(szName), "/d%05lld/f%07lld.txt", llIndex / kFilesPerFolder, llIndex);
    return strTree + szName;
}

bool MakeTree(const std::string &strTree, long long llItems) {
    if (mkdir(strTree.c_str(), 0755) != 0) {
        return false;
    }
    for (long long i = 0; i < llItems; ++i) {
        if (i % kFilesPerFolder == 0) {
            char szFolder[32];
            snprintf(szFolder, sizeof(szFolder), "/d%05lld", i / kFilesPerFolder);
            if (mkdir((strTree + szFolder).c_str(), 0755) != 0) {
                return false;
            }
        }
        const std::string strPath = FilePath(strTree, i);
        int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            return false;
        }
        char szContent[48];
        int nLength = snprintf(szContent, sizeof(szContent), "small file %lld\n", i);
        bool bWritten = write(fd, szContent, static_cast<size_t>(nLength)) == nLength;
        close(fd);
        if (!bWritten) {
            return false;
        }
    }
    return true;
}

CBagPtr MakeOptionsBag(const idxtest::EngineStubProcess &stub, const std::string &strSubClient,
                       int nBatch) {
    CBagPtr ptrBag = boost::make_shared<CBag>();
    ptrBag->Write(BagId::idUpdateUrl, stub.UpdateUrl());
    ptrBag->Write(BagId::idBaseSolrUrl, stub.BaseUrl());
    ptrBag->Write(BagId::idCompleteSolrUrl, stub.UpdateUrl());
    ptrBag->Write(BagId::idAuditSolrUrl, stub.AuditUrl());
    ptrBag->Write(BagId::idCompleteSolrExtractUrl, stub.ExtractUrl());
    ptrBag->Write(BagId::idSubClientDir, strSubClient);
    ptrBag->Write(BagId::idClientName, std::string("bench-client"));
    ptrBag->Write(BagId::idSolrClientName, std::string("bench-client"));
    ptrBag->Write(BagId::idAppId, uint32_t(17));
    ptrBag->Write(BagId::idAppGUID, std::string("6f1d2c9e-0d1b-4a57-9c55-1f5e1a0b7c42"));
    ptrBag->Write(BagId::idJobId, 4242LL);
    ptrBag->Write(BagId::idClientId, uint32_t(2));
    ptrBag->Write(BagId::idMaxItemsPerTransaction, nBatch);
    ptrBag->Write(BagId::idPushOnlyMetaData, true);
    ptrBag->Write(BagId::idIsScanPhase, false);
    return ptrBag;
}

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
    bool m_bDone = false;
    Clock::time_point m_tpLast;
};

// Ends the process if a phase overruns, after stopping the stand-in (the scratch folder is then
// left behind and named).
class Watchdog {
public:
    Watchdog(const char *szPhase, const idxtest::EngineStubProcess &stub,
             const std::string &strScratch)
        : m_thread([this, szPhase, &stub, strScratch] {
              std::unique_lock<std::mutex> guard(m_lock);
              if (!m_cv.wait_for(guard, std::chrono::seconds(kPhaseTimeoutSeconds),
                                 [this] { return m_bDone; })) {
                  fprintf(stderr, "EndToEndBench: %s did not finish in %d s; stopping\n", szPhase,
                          kPhaseTimeoutSeconds);
                  if (stub.Pid() > 0) {
                      kill(stub.Pid(), SIGKILL);
                  }
                  fprintf(stderr, "EndToEndBench: scratch folder left at %s\n", strScratch.c_str());
                  _exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_bDone = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_bDone = false;
    std::thread m_thread;
};

struct LibraryResult {
    bool bOk = false;
    double dDrainSeconds = 0; // Start to the answer of the last batch
    double dTotalSeconds = 0; // Start to the return of WaitAndCommit
    double dCpuSeconds = 0;
    long long llIndexed = 0;
    long long llFailed = 0;
    long long llBatches = 0;
    long lPeakRssKb = 0;
};

LibraryResult RunLibrary(const BenchConfig &config, const CBagPtr &ptrBag,
                         const std::string &strTree) {
    LibraryResult result;
    boost::shared_ptr<CountingCallback> ptrCallback =
        boost::make_shared<CountingCallback>(config.llItems);
    const double dCpuStart = CpuSeconds();
    const Clock::time_point tpStart = Clock::now();
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
        for (long long i = 0; i < config.llItems; ++i) {
            error = transmitter.BuildAndAddToQueue(FilePath(strTree, i), 2, i * 100, false, true);
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
    return result;
}

// One POST of a replay.
struct ReplayRequest {
    std::string strUrl;
    std::string strBody;
};

// The update bodies the metadata sender posts for the tree if every batch is full.
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
        error = builder.BuildItemDataAnalytics(ptrItem, strDocument);
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

struct ReplayResult {
    double dSeconds = 0;
    double dCpuSeconds = 0;
    long long llFailedPosts = 0;
};

// Connections that the kernel turned away because a listening socket's queue was full, on this
// machine (its network namespace); -1 when unknown. Each one costs its client a SYN retransmit,
// about a second.
long long ListenOverflows() {
    FILE *pFile = fopen("/proc/net/netstat", "r");
    if (!pFile) {
        return -1;
    }
    std::vector<std::string> vecLines;
    char szLine[8192];
    while (fgets(szLine, sizeof(szLine), pFile)) {
        if (strncmp(szLine, "TcpExt:", 7) == 0) {
            vecLines.push_back(szLine);
        }
    }
    fclose(pFile);
    if (vecLines.size() < 2) {
        return -1;
    }
    // The first TcpExt line names the counters, the second holds their values.
    std::vector<std::string> vecNames, vecValues;
    for (size_t i = 0; i < 2; ++i) {
        std::vector<std::string> &vecWords = i == 0 ? vecNames : vecValues;
        char *pSave = nullptr;
        for (char *p = strtok_r(&vecLines[i][0], " \n", &pSave); p;
             p = strtok_r(nullptr, " \n", &pSave)) {
            vecWords.push_back(p);
        }
    }
    for (size_t i = 0; i < vecNames.size() && i < vecValues.size(); ++i) {
        if (vecNames[i] == "ListenOverflows") {
            return atoll(vecValues[i].c_str());
        }
    }
    return -1;
}

// Each thread keeps one handle (and so one connection), as each library worker does; thread t
// sends requests t, t + threads, ... The connections are opened (with a ping) before the clock
// starts, so the replay measures sending alone.
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

int Usage() {
    fprintf(stderr, "usage: EndToEndBench [N [workers [batch [idx-engine-stub]]]] [--queue Q]\n"
                    "       EndToEndBench --rss-check [idx-engine-stub]\n");
    return 2;
}

bool ParseArguments(int argc, char **argv, BenchConfig &config) {
    std::vector<std::string> vecPositional;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--rss-check") {
            config.bRssCheck = true;
        } else if (strArg == "--library-only") {
            config.bLibraryOnly = true;
        } else if (strArg == "--queue" && i + 1 < argc) {
            config.nQueueSize = atoi(argv[++i]);
        } else if (!strArg.empty() && strArg[0] == '-') {
            return false;
        } else {
            vecPositional.push_back(strArg);
        }
    }
    if (config.bRssCheck) {
        if (vecPositional.size() > 1) {
            return false;
        }
        if (!vecPositional.empty()) {
            config.strStub = vecPositional[0];
        }
        return true;
    }
    if (vecPositional.size() > 4) {
        return false;
    }
    if (vecPositional.size() > 0) {
        config.llItems = atoll(vecPositional[0].c_str());
    }
    if (vecPositional.size() > 1) {
        config.nWorkers = atoi(vecPositional[1].c_str());
    }
    if (vecPositional.size() > 2) {
        config.nBatch = atoi(vecPositional[2].c_str());
    }
    if (vecPositional.size() > 3) {
        config.strStub = vecPositional[3];
    }
    return config.llItems > 0 && config.llItems <= kMaxItems && config.nWorkers > 0 &&
           config.nWorkers <= 64 && config.nBatch > 0 && config.nBatch <= 1000 &&
           config.nQueueSize > 0;
}

// Throughput figures of one replay, printed as one line; returns the time per request and thread.
double PrintReplay(const char *szName, const BenchConfig &config,
                   const std::vector<ReplayRequest> &vecRequests, const ReplayResult &replay) {
    size_t nBytes = 0;
    for (const ReplayRequest &request : vecRequests) {
        nBytes += request.strBody.size();
    }
    const double dN = static_cast<double>(config.llItems);
    // With every thread busy, each thread's share of the time per request it made.
    const double dThreads = static_cast<double>(
        std::min<size_t>(static_cast<size_t>(config.nWorkers), vecRequests.size()));
    const double dLatencyMs = replay.dSeconds * 1000.0 * dThreads /
                              static_cast<double>(std::max<size_t>(1, vecRequests.size()));
    printf("%s: %zu requests (%.1f MiB), %lld failed; %.0f items/s (%.3f s); %.3f CPU s per "
           "100k items; %.2f ms per request and thread\n",
           szName, vecRequests.size(), static_cast<double>(nBytes) / (1024.0 * 1024.0),
           replay.llFailedPosts, dN / replay.dSeconds, replay.dSeconds,
           replay.dCpuSeconds * 100000.0 / dN, dLatencyMs);
    return dLatencyMs;
}

bool StartStub(const BenchConfig &config, const std::string &strScratch, const char *szName,
               const std::string &strRecordFile, idxtest::EngineStubProcess &stub) {
    idxtest::EngineStubProcess::Options stubOptions;
    stubOptions.bDiscard = true;
    stubOptions.bKeepAlive = true;
    stubOptions.strRecordFile = strRecordFile;
    stubOptions.strStderrFile = strScratch + "/" + szName + ".log";
    std::string strError;
    if (!stub.Start(config.strStub, strScratch, stubOptions, strError)) {
        fprintf(stderr, "EndToEndBench: %s\n", strError.c_str());
        return false;
    }
    return true;
}

// One measured run: library phase, then (unless library-only) the replays.
int RunOnce(const BenchConfig &config) {
    ScratchFolder scratch;
    if (!scratch.Create()) {
        fprintf(stderr, "EndToEndBench: cannot make a temporary folder\n");
        return 1;
    }
    const std::string strTree = scratch.Path() + "/tree";
    const std::string strSubClient = scratch.Path() + "/subclient";
    if (mkdir(strSubClient.c_str(), 0755) != 0 || !MakeTree(strTree, config.llItems)) {
        fprintf(stderr, "EndToEndBench: cannot make the file tree under %s\n",
                scratch.Path().c_str());
        return 1;
    }

    // The library's stand-in records what it receives, unless only memory is measured.
    const std::string strRecordFile =
        config.bLibraryOnly ? std::string() : scratch.Path() + "/updates.rec";
    idxtest::EngineStubProcess stub;
    if (!StartStub(config, scratch.Path(), "engine-stub", strRecordFile, stub)) {
        return 1;
    }
    const CBagPtr ptrBag = MakeOptionsBag(stub, strSubClient, config.nBatch);

    const long long llOverflowsBefore = ListenOverflows();
    LibraryResult library;
    {
        Watchdog watchdog("the library phase", stub, scratch.Path());
        library = RunLibrary(config, ptrBag, strTree);
    }
    const long long llOverflows =
        llOverflowsBefore < 0 ? -1 : ListenOverflows() - llOverflowsBefore;
    const int nLibraryPort = stub.Port();
    // Stopping closes the recording.
    const bool bStubStopped = stub.Stop();
    if (config.bLibraryOnly) {
        printf("library-only items=%lld ok=%d peak_rss_kb=%ld\n", config.llItems,
               library.bOk ? 1 : 0, library.lPeakRssKb);
        return library.bOk ? 0 : 1;
    }

    const double dN = static_cast<double>(config.llItems);
    printf("end-to-end: %lld files, %d workers, batches of %d, queue of %d, stand-in on port %d\n",
           config.llItems, config.nWorkers, config.nBatch, config.nQueueSize, nLibraryPort);

    std::vector<idxtest::RecordedUpdate> vecRecorded;
    std::string strError;
    if (!bStubStopped || !idxtest::ReadRecordedUpdates(strRecordFile, vecRecorded, strError)) {
        fprintf(stderr, "EndToEndBench: the recording of the library's requests is unusable: %s\n",
                bStubStopped ? strError.c_str() : "the stand-in did not stop cleanly");
        return 1;
    }
    // Document batches are "<add>" bodies; the rest (the commit of the end of the job) is
    // replayed too, as recorded.
    size_t nAdds = 0, nOtherType = 0;
    for (const idxtest::RecordedUpdate &update : vecRecorded) {
        nAdds += update.strBody.compare(0, 5, "<add>") == 0 ? 1 : 0;
        nOtherType += update.strContentType == "text/xml" ? 0 : 1;
    }
    printf("library: %lld indexed, %lld failed; %zu update requests (%zu document batches, "
           "mean batch %.2f items; %zu other), %lld progress reports\n",
           library.llIndexed, library.llFailed, vecRecorded.size(), nAdds,
           nAdds == 0 ? 0.0 : static_cast<double>(library.llIndexed) / static_cast<double>(nAdds),
           vecRecorded.size() - nAdds, library.llBatches);
    printf("library: %.0f items/s to the last answer (%.3f s); %.0f items/s with the end of the "
           "job (WaitAndCommit returned after %.3f s)\n",
           dN / library.dDrainSeconds, library.dDrainSeconds, dN / library.dTotalSeconds,
           library.dTotalSeconds);
    printf("library: %.3f CPU s per 100k items; peak RSS %ld KiB\n",
           library.dCpuSeconds * 100000.0 / dN, library.lPeakRssKb);
    if (llOverflows > 0) {
        printf("WARN: %lld connection(s) overflowed a listen queue during the library phase; "
               "each waited about a second for a retry\n",
               llOverflows);
    }
    if (nOtherType > 0) {
        printf("WARN: %zu recorded request(s) had a content type other than text/xml; the replay "
               "sends text/xml\n",
               nOtherType);
    }

    // A fresh stand-in for the replays, so that nothing of the library phase carries over.
    if (!StartStub(config, scratch.Path(), "engine-stub-replay", std::string(), stub)) {
        return 1;
    }
    std::vector<ReplayRequest> vecExact;
    vecExact.reserve(vecRecorded.size());
    const std::string strHost = "http://127.0.0.1:" + std::to_string(stub.Port());
    for (idxtest::RecordedUpdate &update : vecRecorded) {
        vecExact.push_back({strHost + update.strTarget, std::move(update.strBody)});
    }
    vecRecorded.clear();
    std::vector<ReplayRequest> vecFull;
    if (!BuildFullBatches(config, ptrBag, strTree, stub.UpdateUrl(), vecFull)) {
        return 1;
    }
    ReplayResult exact, full;
    {
        Watchdog watchdog("the replays", stub, scratch.Path());
        exact = RunReplay(config, stub.PingUrl(), vecExact);
        full = RunReplay(config, stub.PingUrl(), vecFull);
    }
    stub.Stop();

    const double dLatencyMs =
        PrintReplay("replay (the library's requests)", config, vecExact, exact);
    PrintReplay("full-batch floor (rebuilt full batches)", config, vecFull, full);

    const double dRatio = exact.dSeconds / library.dDrainSeconds;
    const double dRatioTotal = exact.dSeconds / library.dTotalSeconds;
    printf("ratio library/replay: %.2f to the last answer, %.2f with the end of the job\n", dRatio,
           dRatioTotal);
    printf("ratio library/full-batch floor (information): %.2f to the last answer, %.2f with the "
           "end of the job\n",
           full.dSeconds / library.dDrainSeconds, full.dSeconds / library.dTotalSeconds);
    const bool bClean =
        library.bOk && library.llFailed == 0 && exact.llFailedPosts == 0 && full.llFailedPosts == 0;
    if (!bClean) {
        printf("WARN: failures during the run: the figures above are not comparable\n");
    }
    // A stand-in that is slow to answer bounds both sides alike: the ratio then says nothing
    // about the library, and a pass would mislead.
    const bool bMeaningful = dLatencyMs <= kSlowAnswerMs;
    if (!bMeaningful) {
        printf("WARN: the stand-in needs %.1f ms per request: both sides wait on its answers, so "
               "the ratios hide the library's own cost\n",
               dLatencyMs);
    }
    const char *szVerdict = bClean && bMeaningful && dRatio >= kThroughputTarget ? "PASS" : "WARN";
    printf("%s: throughput ratio to the last answer %.2f (target >= %.1f)\n", szVerdict, dRatio,
           kThroughputTarget);
    szVerdict = bClean && bMeaningful && dRatioTotal >= kThroughputTarget ? "PASS" : "WARN";
    printf("%s: throughput ratio with the end of the job %.2f (target >= %.1f)\n", szVerdict,
           dRatioTotal, kThroughputTarget);
    return 0;
}

// Runs this program with --library-only for nItems and returns the peak RSS it printed, or -1.
long ChildPeakRss(const BenchConfig &config, long long llItems) {
    char szSelf[4096];
    ssize_t nLength = readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
    if (nLength <= 0) {
        return -1;
    }
    std::vector<std::string> vecArgs = {std::string(szSelf, static_cast<size_t>(nLength)),
                                        "--library-only",
                                        std::to_string(llItems),
                                        std::to_string(config.nWorkers),
                                        std::to_string(config.nBatch),
                                        config.strStub,
                                        "--queue",
                                        std::to_string(config.nQueueSize)};
    int fdPipe[2];
    if (pipe(fdPipe) != 0) {
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(fdPipe[0]);
        close(fdPipe[1]);
        return -1;
    }
    if (pid == 0) {
        std::vector<char *> vecArgv;
        for (std::string &strArg : vecArgs) {
            vecArgv.push_back(&strArg[0]);
        }
        vecArgv.push_back(nullptr);
        dup2(fdPipe[1], STDOUT_FILENO);
        close(fdPipe[0]);
        close(fdPipe[1]);
        execv(vecArgv[0], vecArgv.data());
        _exit(127);
    }
    close(fdPipe[1]);
    std::string strOutput;
    char szBuffer[512];
    ssize_t nRead;
    while ((nRead = read(fdPipe[0], szBuffer, sizeof(szBuffer))) > 0) {
        strOutput.append(szBuffer, static_cast<size_t>(nRead));
    }
    close(fdPipe[0]);
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    long lPeak = -1;
    int nOk = 0;
    long long llReported = 0;
    if (sscanf(strOutput.c_str(), "library-only items=%lld ok=%d peak_rss_kb=%ld", &llReported,
               &nOk, &lPeak) != 3 ||
        !nOk || !WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
        fprintf(stderr, "EndToEndBench: the run with %lld items failed: %s\n", llItems,
                strOutput.c_str());
        return -1;
    }
    return lPeak;
}

int RunRssCheck(const BenchConfig &config) {
    const long long llSmall = 20000, llLarge = 200000;
    printf("peak RSS check: %lld and %lld files, %d workers, batches of %d, queue of %d\n", llSmall,
           llLarge, config.nWorkers, config.nBatch, config.nQueueSize);
    fflush(stdout);
    const long lSmall = ChildPeakRss(config, llSmall);
    if (lSmall < 0) {
        return 1;
    }
    printf("peak RSS with %lld items: %ld KiB\n", llSmall, lSmall);
    fflush(stdout);
    const long lLarge = ChildPeakRss(config, llLarge);
    if (lLarge < 0) {
        return 1;
    }
    printf("peak RSS with %lld items: %ld KiB\n", llLarge, lLarge);
    const double dRatio = static_cast<double>(lLarge) / static_cast<double>(lSmall);
    printf("%s: peak RSS ratio %.2f (target <= %.1f)\n", dRatio <= kRssTarget ? "PASS" : "WARN",
           dRatio, kRssTarget);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    BenchConfig config;
    if (!ParseArguments(argc, argv, config)) {
        return Usage();
    }
    if (config.strStub.empty()) {
        config.strStub = idxtest::EngineStubProcess::FindNextToBuild();
    }
    if (config.strStub.empty() || access(config.strStub.c_str(), X_OK) != 0) {
        fprintf(stderr, "EndToEndBench: idx-engine-stub not found; give its path\n");
        return Usage();
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int nResult = config.bRssCheck ? RunRssCheck(config) : RunOnce(config);
    curl_global_cleanup();
    return nResult;
}

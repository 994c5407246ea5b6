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
//
// This unit runs the phases in order and parses the command line; the file tree, the library
// side, the replay client and the report are units of their own (bench/EndToEndBench/).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>

#include "bench/EndToEndBench/BenchRun.h"
#include "bench/EndToEndBench/LibraryRun.h"
#include "bench/EndToEndBench/ReplayClient.h"
#include "bench/EndToEndBench/Report.h"
#include "bench/EndToEndBench/TreeMaker.h"
#include "platform/Bag.h"
#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineStubProcess.h"

namespace idxbench {

namespace {

const long long kMaxItems = 2000000;
// Upper bound of one library or replay phase; a run that takes longer is abandoned.
const int kPhaseTimeoutSeconds = 600;

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

    ReportRun(config, nLibraryPort);

    std::vector<idxtest::RecordedUpdate> vecRecorded;
    std::string strError;
    if (!bStubStopped || !idxtest::ReadRecordedUpdates(strRecordFile, vecRecorded, strError)) {
        fprintf(stderr, "EndToEndBench: the recording of the library's requests is unusable: %s\n",
                bStubStopped ? strError.c_str() : "the stand-in did not stop cleanly");
        return 1;
    }
    ReportLibrary(config, library, vecRecorded, llOverflows);

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

    ReportReplays(config, library, vecExact, exact, vecFull, full);
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
    ReportRss(lSmall, lLarge);
    return 0;
}

} // namespace

} // namespace idxbench

int main(int argc, char **argv) {
    idxbench::BenchConfig config;
    if (!idxbench::ParseArguments(argc, argv, config)) {
        return idxbench::Usage();
    }
    if (config.strStub.empty()) {
        config.strStub = idxtest::EngineStubProcess::FindNextToBuild();
    }
    if (config.strStub.empty() || access(config.strStub.c_str(), X_OK) != 0) {
        fprintf(stderr, "EndToEndBench: idx-engine-stub not found; give its path\n");
        return idxbench::Usage();
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int nResult = config.bRssCheck ? idxbench::RunRssCheck(config) : idxbench::RunOnce(config);
    curl_global_cleanup();
    return nResult;
}

// The sample host job: what a file-system job does with the library, from the initializer to the
// commit, against the engine stand-in (idx-engine-stub) on 127.0.0.1.
//
//   SampleJob [folder [idx-engine-stub]]
//
// It starts the transmitter as a host does, through CSolrTransmitterInit: the initializer asks the
// management server for the engine's address (this platform's stand-in answers from the file
// named by IDX_MANAGEMENT_REPLY; unless that is set, the job writes a reply pointing at the
// stand-in), applies the platform settings, starts the transmitter and pings the engine. The job
// then walks the folder (default: this examples folder) and queues every file and folder in its
// scan phase; a folder it cannot read is counted as skipped and the walk goes on. It waits and
// commits, and prints what the engine holds and the end counts.
//
// While it runs it prints its progress every few seconds, and what the library tells the job
// (through the job events file, IDX_JOB_EVENTS, which it names in its scratch folder unless that
// is set). The job gives up, aborting the transmitter, when the library reports that the engine
// keeps failing or when the stand-in it started is gone.
//
// Exit status 0 when every queued item reached the engine and nothing failed; 1 otherwise, and
// then the scratch folder (the stand-in's log and dump, the failures file, the job events) is
// kept and named; 2 on bad usage or a folder that is not there, which it names.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <nlohmann/json.hpp>

#include "platform/JobClients.h"
#include "platform/ManagementData.h"
#include "startup/SolrTransmitterInit.h"
#include "tests/support/engine/EngineStubProcess.h"
#include "transmitter/SolrTransmitter.h"

namespace fs = std::filesystem;

namespace {

const char kMemberDocumentType[] = "10"; // a document of an archive member, not a queued item
const size_t kSkipLinesShown = 10;       // unreadable folders named one by one, then only counted

// The management server's answer for the job's subclient: the engine's update URL and no content
// indexing, so the job sends metadata only.
bool WriteManagementReply(const std::string &strFile, const std::string &strUpdateUrl) {
    std::ofstream file(strFile);
    file << "<message family=\"13\" type=\"995\">\n"
         << "  <string index=\"1\" tag=\"1\">" << strUpdateUrl << "</string>\n"
         << "  <int64 index=\"7\" tag=\"16\">0</int64>\n"
         << "</message>\n";
    return static_cast<bool>(file);
}

size_t CountLines(const std::string &strPath) {
    std::ifstream file(strPath);
    size_t nLines = 0;
    for (std::string strLine; std::getline(file, strLine);) {
        nLines += strLine.empty() ? 0 : 1;
    }
    return nLines;
}

// A stored field's first value as text; "" when the document has no such field.
std::string Field(const nlohmann::json &document, const char *szName) {
    if (!document.is_object() || !document.contains(szName)) {
        return std::string();
    }
    const nlohmann::json &value = document.at(szName);
    const nlohmann::json &first = value.is_array() && !value.empty() ? value.at(0) : value;
    return first.is_string() ? first.get<std::string>() : first.dump();
}

// Names may hold control characters; they are shown as '?' so one name stays one line.
std::string Printable(std::string strText) {
    for (char &c : strText) {
        c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    }
    return strText;
}

// The stand-in's dump with only the fields shown here: a large dump stays small in memory.
nlohmann::json ReadDump(const std::string &strDump) {
    std::ifstream file(strDump);
    if (!file) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    // Depth 4 is a field of a document ({"documents": {core: [{field: ...}]}}).
    const nlohmann::json::parser_callback_t fnKeep =
        [](int nDepth, nlohmann::json::parse_event_t event, nlohmann::json &parsed) {
            if (event != nlohmann::json::parse_event_t::key || nDepth != 4) {
                return true;
            }
            return parsed == "DocumentType" || parsed == "Url" || parsed == "FilePath";
        };
    return nlohmann::json::parse(file, fnKeep, false);
}

// The counts the progress lines and the end show; written by the job's thread.
struct Counts {
    std::atomic<long> nQueued{0};
    std::atomic<long> nNotQueued{0};
    std::atomic<long> nSkippedFolders{0};
};

// Reads the lines the library's job clients append to the job events file, from where the file
// ended when the job started.
class JobEventsFeed {
public:
    explicit JobEventsFeed(std::string strPath) : m_strPath(std::move(strPath)) {
        std::error_code ec;
        const uintmax_t nSize = fs::file_size(m_strPath, ec);
        m_nOffset = ec ? 0 : static_cast<std::streamoff>(nSize);
    }

    // The events added since the last call; a line still being written waits for the next.
    std::vector<nlohmann::json> Poll() {
        std::vector<nlohmann::json> vecEvents;
        std::ifstream file(m_strPath, std::ios::binary);
        if (!file || !file.seekg(m_nOffset)) {
            return vecEvents;
        }
        std::string strLine;
        while (std::getline(file, strLine)) {
            if (file.eof()) {
                break; // no newline yet
            }
            m_nOffset += static_cast<std::streamoff>(strLine.size()) + 1;
            nlohmann::json event = nlohmann::json::parse(strLine, nullptr, false);
            if (event.is_object()) {
                vecEvents.push_back(std::move(event));
            }
        }
        return vecEvents;
    }

private:
    std::string m_strPath;
    std::streamoff m_nOffset = 0;
};

// The texts of a raised pending cause: the reason the library gave the job.
std::string PendingReason(const nlohmann::json &event) {
    std::string strReason;
    for (const nlohmann::json &argument : event.value("arguments", nlohmann::json::array())) {
        if (argument.is_object() && argument.contains("text") && argument["text"].is_string()) {
            strReason += (strReason.empty() ? "" : " ") + argument["text"].get<std::string>();
        }
    }
    return strReason.empty() ? std::string("(no reason given)") : strReason;
}

// Prints the progress every few seconds and what the library tells the job, and gives the job up
// (aborts the transmitter) when the engine keeps failing or the stand-in is gone.
class JobWatch {
public:
    JobWatch(CSolrTransmitter &transmitter, const Counts &counts, JobEventsFeed &feed,
             idxtest::EngineStubProcess *pEngine)
        : m_transmitter(transmitter), m_counts(counts), m_feed(feed), m_pEngine(pEngine),
          m_thread([this] { Run(); }) {}
    ~JobWatch() { Finish(); }
    JobWatch(const JobWatch &) = delete;
    JobWatch &operator=(const JobWatch &) = delete;

    void Finish() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_bDone = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool GaveUp() const { return m_bGaveUp.load(); }
    bool EngineGone() const { return m_bEngineGone.load(); }

private:
    void Run() {
        const auto tpStart = std::chrono::steady_clock::now();
        auto tpNextLine = tpStart + std::chrono::seconds(2);
        long nLastQueued = -1;
        auto tpLastChange = tpStart;
        std::unique_lock<std::mutex> lock(m_lock);
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(200), [this] { return m_bDone; })) {
            std::string strGiveUp;
            for (const nlohmann::json &event : m_feed.Poll()) {
                const std::string strEvent = event.value("event", "");
                if (strEvent == "setPendingCauseAndCriticalEvent") {
                    printf("SampleJob: the library reports: %s\n", PendingReason(event).c_str());
                    strGiveUp = "the engine keeps failing";
                } else if (strEvent == "resetPendingCause" && event.value("wasPending", false)) {
                    printf("SampleJob: the library reports that the engine answers again\n");
                }
            }
            if (m_pEngine && !m_bEngineGone && m_pEngine->HasExited()) {
                m_bEngineGone = true;
                printf("SampleJob: the engine stand-in exited\n");
                strGiveUp = "the engine is gone";
            }
            if (!strGiveUp.empty() && !m_bGaveUp) {
                m_bGaveUp = true;
                printf("SampleJob: giving up (%s): aborting the job; what was not sent goes to "
                       "the failures file\n",
                       strGiveUp.c_str());
                m_transmitter.Abort(true);
            }

            const auto tpNow = std::chrono::steady_clock::now();
            const long nQueued = m_counts.nQueued.load();
            if (nQueued != nLastQueued) {
                nLastQueued = nQueued;
                tpLastChange = tpNow;
            }
            if (tpNow >= tpNextLine) {
                tpNextLine = tpNow + std::chrono::seconds(2);
                const long long llStill =
                    std::chrono::duration_cast<std::chrono::seconds>(tpNow - tpLastChange).count();
                printf(
                    "  %4llds: queued %ld, failed %lld, skipped folders %ld%s\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::seconds>(tpNow - tpStart).count()),
                    nQueued, static_cast<long long>(m_transmitter.GetFailedItemCount()),
                    m_counts.nSkippedFolders.load(),
                    llStill >= 6 ? " (nothing queued for a while: the queue is full or the "
                                   "workers are finishing)"
                                 : "");
            }
            fflush(stdout);
        }
    }

    CSolrTransmitter &m_transmitter;
    const Counts &m_counts;
    JobEventsFeed &m_feed;
    idxtest::EngineStubProcess *m_pEngine;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_bDone = false;
    std::atomic<bool> m_bGaveUp{false};
    std::atomic<bool> m_bEngineGone{false};
    std::thread m_thread; // last: it starts once everything above is there
};

// Queues one path; false when the transmitter refuses it for good (the job was aborted).
bool Queue(CSolrTransmitter &transmitter, const std::string &strPath, Counts &counts) {
    CKyError error = transmitter.BuildAndAddToQueue(strPath, 1, counts.nQueued.load(), false, true);
    if (error.IsError()) {
        ++counts.nNotQueued;
        if (transmitter.IsAborted()) {
            return false;
        }
        fprintf(stderr, "SampleJob: %s not queued: %s\n", Printable(strPath).c_str(),
                error.AsString().c_str());
        return true;
    }
    ++counts.nQueued;
    return true;
}

// The folder itself, then everything under it, depth first; links are queued, never followed. A
// folder whose entries cannot be listed is queued itself, counted as skipped, and the walk goes
// on with the next one.
void WalkAndQueue(CSolrTransmitter &transmitter, const std::string &strFolder, Counts &counts) {
    if (!Queue(transmitter, strFolder, counts)) {
        return;
    }
    std::vector<fs::path> vecFolders = {fs::path(strFolder)};
    while (!vecFolders.empty()) {
        const fs::path folder = vecFolders.back();
        vecFolders.pop_back();
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            if (!Queue(transmitter, it->path().string(), counts)) {
                return;
            }
            std::error_code ecType;
            if (it->symlink_status(ecType).type() == fs::file_type::directory) {
                vecFolders.push_back(it->path());
            }
        }
        if (ec) {
            if (static_cast<size_t>(++counts.nSkippedFolders) <= kSkipLinesShown) {
                printf("SampleJob: skipping what cannot be read in %s: %s\n",
                       Printable(folder.string()).c_str(), ec.message().c_str());
            }
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    const std::string strFolder =
        argc > 1 ? argv[1] : fs::path(__FILE__).parent_path().string(); // this examples folder
    std::string strStub = argc > 2 ? argv[2] : idxtest::EngineStubProcess::FindNextToBuild();
    const auto Usage = [](const std::string &strWhy) {
        if (!strWhy.empty()) {
            fprintf(stderr, "SampleJob: %s\n", strWhy.c_str());
        }
        fprintf(stderr, "usage: SampleJob [folder [idx-engine-stub]]\n");
        return 2;
    };
    if (argc > 3) {
        return Usage(std::string());
    }
    std::error_code ecFolder;
    const fs::file_status folderStatus = fs::status(strFolder, ecFolder);
    if (folderStatus.type() == fs::file_type::not_found) {
        return Usage("folder not found: " + strFolder);
    }
    if (ecFolder) {
        return Usage("cannot look at " + strFolder + ": " + ecFolder.message());
    }
    if (!fs::is_directory(folderStatus)) {
        return Usage("not a folder: " + strFolder);
    }
    if (strStub.empty()) {
        return Usage("no engine stand-in (idx-engine-stub) next to this build; name one");
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);

    char szScratch[] = "/tmp/idx-sample-XXXXXX";
    if (!mkdtemp(szScratch)) {
        perror("SampleJob: mkdtemp");
        return 1;
    }
    const std::string strScratch = szScratch;
    const std::string strSubClient = strScratch + "/subclient";
    const std::string strDump = strScratch + "/engine.json";
    mkdir(strSubClient.c_str(), 0755);
    const auto Fail = [&strScratch](const std::string &strWhy) {
        printf("sample job FAILED: %s\n", strWhy.c_str());
        printf("scratch folder kept: %s (the failures file is subclient/SolrScanFailures.tqf)\n",
               strScratch.c_str());
        return 1;
    };

    // Set before any thread runs: the library's job clients read it on every report.
    const char *szEvents = getenv("IDX_JOB_EVENTS");
    if (szEvents == nullptr || *szEvents == '\0') {
        setenv("IDX_JOB_EVENTS", (strScratch + "/job-events.jsonl").c_str(), 1);
    }
    const std::string strEvents = getenv("IDX_JOB_EVENTS");
    const char *szLog = getenv("IDX_LOG_FILE");
    const std::string strLog = szLog && *szLog ? szLog : "standard error";

    idxtest::EngineStubProcess engine;
    idxtest::EngineStubProcess::Options options;
    options.strDumpFile = strDump;
    options.strStderrFile = strScratch + "/engine-stub.log";
    std::string strError;
    if (!engine.Start(strStub, strScratch, options, strError)) {
        return Fail("the engine stand-in did not start: " + strError);
    }
    printf("engine stand-in at %s\n", engine.BaseUrl().c_str());

    std::string strEngine = engine.BaseUrl();
    const char *szReply = getenv("IDX_MANAGEMENT_REPLY");
    if (szReply == nullptr || *szReply == '\0') {
        const std::string strReply = strScratch + "/management-reply.xml";
        if (!WriteManagementReply(strReply, engine.UpdateUrl())) {
            return Fail("cannot write " + strReply);
        }
        setenv("IDX_MANAGEMENT_REPLY", strReply.c_str(), 1); // no thread runs yet
    } else {
        strEngine = std::string("the engine named in ") + szReply;
    }

    TQJobCtrlClient jobControl;
    TQBkpJobClient backupJob;
    TQClientInfo client;
    client.strName = "sample-client";
    client.ullId = 1;
    SubclientInfo subclient;
    subclient.nId = 1;
    subclient.strGUID = "sample-subclient";
    ApplicationIdPtr ptrApplication = boost::make_shared<ApplicationId>(
        boost::make_shared<TQClient>(client), boost::make_shared<Subclient>(subclient));

    // The initializer pings the engine: an engine that is down fails the start within seconds.
    CSolrTransmitterPtr ptrTransmitter;
    {
        CSolrTransmitterInit init;
        CKyError error = init.InitializeSolrTransmitter(ptrApplication, strSubClient, &jobControl,
                                                        &backupJob, false, false);
        if (error.IsError()) {
            printf("SampleJob: the transmitter did not start: %s\n", error.AsString().c_str());
            if (!init.GetSolrInitFailureReason().empty()) {
                printf("SampleJob: %s (%s)\n", init.GetSolrInitFailureReason().c_str(),
                       strEngine.c_str());
            }
            printf("library log: %s\n", strLog.c_str());
            return Fail("no transmitter");
        }
        ptrTransmitter = init.GetSolrTransmitterInstance();
    }

    Counts counts;
    JobEventsFeed feed(strEvents);
    bool bGaveUp = false;
    bool bEngineGone = false;
    long long llFailed = 0;
    CKyError endError;
    {
        JobWatch watch(*ptrTransmitter, counts, feed, &engine);
        WalkAndQueue(*ptrTransmitter, strFolder, counts);
        printf("walk done: %ld items queued; waiting for the workers to send the rest and to "
               "commit\n",
               counts.nQueued.load());
        endError = ptrTransmitter->WaitAndCommit();
        watch.Finish();
        bGaveUp = watch.GaveUp();
        bEngineGone = watch.EngineGone();
        llFailed = ptrTransmitter->GetFailedItemCount();
    }
    if (endError.IsError()) {
        printf("SampleJob: the end of the job failed: %s %s\n", endError.AsString().c_str(),
               ptrTransmitter->GetSolrFailureReason().c_str());
    }
    // Its destructor ends the job once more, which must still find the engine there.
    ptrTransmitter.reset();
    const std::string strFailures = strSubClient + "/SolrScanFailures.tqf";
    const size_t nFailureLines = CountLines(strFailures);

    // The stand-in writes what it holds when it stops, however long that takes for a large job.
    nlohmann::json dump(nlohmann::json::value_t::discarded);
    if (!bEngineGone) {
        printf("waiting for the engine stand-in to write what it holds\n");
        if (engine.Stop(-1)) {
            dump = ReadDump(strDump);
        }
    }
    long nIndexed = 0;
    long nMembers = 0;
    nlohmann::json documents = nlohmann::json::array();
    if (dump.is_object() && dump.contains("documents") && dump["documents"].is_object() &&
        dump["documents"].contains("collection1")) {
        documents = std::move(dump["documents"]["collection1"]);
    }
    for (const nlohmann::json &document : documents) {
        ++(Field(document, "DocumentType") == kMemberDocumentType ? nMembers : nIndexed);
    }
    if (dump.is_object()) {
        printf("the engine holds %zu documents (%ld of archive members) after %d commit(s)\n",
               documents.size(), nMembers, dump.value("commits", 0));
        for (size_t i = 0; i < documents.size() && i < 5; ++i) {
            printf("  type %-2s %s\n", Field(documents.at(i), "DocumentType").c_str(),
                   Printable(Field(documents.at(i), "Url")).c_str());
        }
    }

    const long nQueued = counts.nQueued.load();
    const std::string strIndexed =
        dump.is_object() ? std::to_string(nIndexed) : std::string("unknown (no dump)");
    printf("queued %ld, indexed %s, failed %lld, skipped folders %ld", nQueued, strIndexed.c_str(),
           llFailed, counts.nSkippedFolders.load());
    if (counts.nNotQueued.load() > 0) {
        printf(", not queued %ld", counts.nNotQueued.load());
    }
    printf("\nfailures file: %zu lines\nlibrary log: %s\n", nFailureLines, strLog.c_str());

    std::string strWhy;
    if (bGaveUp) {
        strWhy = "the job gave up";
    } else if (!dump.is_object()) {
        strWhy = "the engine stand-in wrote no dump (see its log)";
    } else if (nQueued == 0) {
        strWhy = "nothing was queued";
    } else if (nIndexed != nQueued || llFailed != 0 || nFailureLines != 0 ||
               counts.nNotQueued.load() != 0) {
        strWhy = "not every item reached the engine";
    } else if (dump.value("commits", 0) == 0) {
        strWhy = "nothing was committed";
    } else if (endError.IsError()) {
        strWhy = "the end of the job failed";
    }
    if (!strWhy.empty()) {
        return Fail(strWhy);
    }
    std::error_code ec;
    fs::remove_all(strScratch, ec);
    if (counts.nSkippedFolders.load() > 0) {
        printf("sample job succeeded; %ld folders could not be read and were skipped\n",
               counts.nSkippedFolders.load());
    } else {
        printf("sample job succeeded\n");
    }
    return 0;
}

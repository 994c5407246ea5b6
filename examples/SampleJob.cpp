// The sample host job: what a file-system job does with the library, from the initializer to the
// commit, against the engine stand-in (idx-engine-stub) on 127.0.0.1.
//
//   SampleJob [folder [idx-engine-stub]]
//
// It starts the transmitter as a host does, through CSolrTransmitterInit: the initializer asks the
// management server for the engine's address (this platform's stand-in answers from the file
// named by IDX_MANAGEMENT_REPLY; unless that is set, the job writes a reply pointing at the
// stand-in), applies the platform settings and hands back a started transmitter. The job then
// queues every file and folder under the folder (default: this examples folder) in its scan
// phase, waits and commits, and prints what the engine holds and how many items the failures
// file lists. Exit status 0 when every queued item reached the engine and nothing failed.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
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

// Names may hold control characters; they are shown as '?' so one document stays one line.
std::string Printable(std::string strText) {
    for (char &c : strText) {
        c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    }
    return strText;
}

// Runs the job; returns how many items were queued, or -1 when the transmitter did not start.
long QueueFolder(const std::string &strFolder, const std::string &strSubClient,
                 long long &llFailed) {
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

    CSolrTransmitterPtr ptrTransmitter;
    {
        CSolrTransmitterInit init;
        CKyError error = init.InitializeSolrTransmitter(ptrApplication, strSubClient, &jobControl,
                                                        &backupJob, false, false);
        if (error.IsError()) {
            fprintf(stderr, "SampleJob: the transmitter did not start: %s %s\n",
                    error.AsString().c_str(), init.GetSolrInitFailureReason().c_str());
            return -1;
        }
        ptrTransmitter = init.GetSolrTransmitterInstance();
    }
    CSolrTransmitter &transmitter = *ptrTransmitter;
    CKyError error;

    // The folder itself, then everything under it; links are queued, never followed.
    std::vector<std::string> vecPaths = {strFolder};
    std::error_code ec;
    for (fs::recursive_directory_iterator it(strFolder, ec), end; !ec && it != end;
         it.increment(ec)) {
        vecPaths.push_back(it->path().string());
    }
    long nQueued = 0;
    for (const std::string &strPath : vecPaths) {
        error = transmitter.BuildAndAddToQueue(strPath, 1, nQueued, false, true);
        if (error.IsError()) {
            fprintf(stderr, "SampleJob: %s not queued: %s\n", strPath.c_str(),
                    error.AsString().c_str());
            continue;
        }
        ++nQueued;
    }

    error = transmitter.WaitAndCommit();
    if (error.IsError() || transmitter.IfPushDataToSolrFailed()) {
        fprintf(stderr, "SampleJob: the end of the job failed: %s %s\n", error.AsString().c_str(),
                transmitter.GetSolrFailureReason().c_str());
    }
    llFailed = transmitter.GetFailedItemCount();
    return nQueued;
}

} // namespace

int main(int argc, char **argv) {
    const std::string strFolder =
        argc > 1 ? argv[1] : fs::path(__FILE__).parent_path().string(); // this examples folder
    std::string strStub = argc > 2 ? argv[2] : idxtest::EngineStubProcess::FindNextToBuild();
    if (!fs::is_directory(strFolder) || strStub.empty()) {
        fprintf(stderr, "usage: SampleJob [folder [idx-engine-stub]]\n");
        return 2;
    }

    char szScratch[] = "/tmp/idx-sample-XXXXXX";
    if (!mkdtemp(szScratch)) {
        perror("SampleJob: mkdtemp");
        return 1;
    }
    const std::string strScratch = szScratch;
    const std::string strSubClient = strScratch + "/subclient";
    const std::string strDump = strScratch + "/engine.json";
    mkdir(strSubClient.c_str(), 0755);

    idxtest::EngineStubProcess engine;
    idxtest::EngineStubProcess::Options options;
    options.strDumpFile = strDump;
    options.strStderrFile = strScratch + "/engine-stub.log";
    std::string strError;
    if (!engine.Start(strStub, strScratch, options, strError)) {
        fprintf(stderr, "SampleJob: %s\n", strError.c_str()); // the folder is kept to look into
        return 1;
    }
    printf("engine stand-in at %s\n", engine.BaseUrl().c_str());

    const char *szReply = getenv("IDX_MANAGEMENT_REPLY");
    if (szReply == nullptr || *szReply == '\0') {
        const std::string strReply = strScratch + "/management-reply.xml";
        if (!WriteManagementReply(strReply, engine.UpdateUrl())) {
            fprintf(stderr, "SampleJob: cannot write %s\n", strReply.c_str());
            return 1;
        }
        setenv("IDX_MANAGEMENT_REPLY", strReply.c_str(), 1); // no thread runs yet
    }

    long long llFailed = 0;
    const long nQueued = QueueFolder(strFolder, strSubClient, llFailed);
    const size_t nFailureLines = CountLines(strSubClient + "/SolrScanFailures.tqf");
    engine.Stop(); // it writes what it holds to the dump file

    nlohmann::json dump = nlohmann::json::parse(std::ifstream(strDump), nullptr, false);
    fs::remove_all(strScratch);
    if (nQueued < 0 || dump.is_discarded()) {
        fprintf(stderr, "SampleJob: no result from the engine stand-in\n");
        return 1;
    }
    const nlohmann::json documents =
        dump.contains("documents") ? dump.at("documents").value("collection1", nlohmann::json())
                                   : nlohmann::json();
    const size_t nDocuments = documents.size();
    printf("queued %ld items from %s\n", nQueued, strFolder.c_str());
    printf("the engine holds %zu documents after %d commit(s)\n", nDocuments,
           dump.value("commits", 0));
    for (size_t i = 0; i < nDocuments && i < 5; ++i) {
        printf("  type %-2s %s\n", Field(documents.at(i), "DocumentType").c_str(),
               Printable(Field(documents.at(i), "Url")).c_str());
    }
    printf("failures file: %zu items (the transmitter counted %lld)\n", nFailureLines, llFailed);

    const bool bOk = nQueued > 0 && nDocuments == static_cast<size_t>(nQueued) &&
                     nFailureLines == 0 && llFailed == 0 && dump.value("commits", 0) > 0;
    printf("%s\n", bOk ? "sample job succeeded" : "sample job FAILED");
    return bOk ? 0 : 1;
}

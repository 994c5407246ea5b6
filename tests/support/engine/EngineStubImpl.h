// Inside of the engine stand-in, shared by its units (the server, the request parsing and the
// document store). Not for tests: they use EngineStub.h.
#pragma once

#include "tests/support/engine/EngineStub.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace idxtest {

namespace enginestub {

const char *const kXmlType = "application/xml; charset=UTF-8";
const char *const kJsonType = "application/json; charset=UTF-8";

struct Answer {
    int nStatus = 200;
    std::string strBody;
    std::string strType = kXmlType;
};

inline Answer XmlError(int nStatus, const std::string &strMessage) {
    return {nStatus, EngineStub::ErrorAnswer(nStatus, strMessage), kXmlType};
}

// The listening socket is needed after bind: httplib listens with a backlog of five (fixed when
// the library was compiled), and a burst of clients connecting at once then waits a second for a
// SYN retransmit. Listening again on the bound socket raises the backlog.
class EngineHttpServer : public httplib::Server {
public:
    int ListeningSocket() const { return svr_sock_; }
};

} // namespace enginestub

struct EngineStub::Impl {
    enginestub::EngineHttpServer server;
    std::thread threadServer;
    std::atomic<bool> bListenEnded{false};
    int nPort = -1;

    mutable std::mutex mtx;
    std::condition_variable cvStop;
    mutable std::condition_variable cvHandled;
    bool bStopping = false;
    bool bStopped = false;
    bool bDiscard = false;
    std::map<std::string, std::map<std::string, EngineDocument>> mapCores;
    std::map<std::string, int> mapCommits;
    std::vector<EngineRequest> vecLog;
    unsigned long long nReceived = 0;
    unsigned long long nHandled = 0;
    std::map<EngineRoute, std::deque<EngineScript>> mapScripts;
    size_t nStalled = 0;
    unsigned long long nStallReleases = 0;
    std::vector<std::string> vecExportLines;

    // The recording has a lock of its own, so that writing a body never holds up the others.
    mutable std::mutex mtxRecord;
    std::FILE *pRecord = nullptr;
    std::vector<char> vecRecordBuffer;
    unsigned long long ullRecordLimit = 0;
    unsigned long long ullRecordBytes = 0;
    size_t nRecorded = 0;
    size_t nRecordSkipped = 0;

    void Record(const std::string &strTarget, const std::string &strType,
                const std::string &strBody);
    void CloseRecord();
    void Handle(const httplib::Request &req, httplib::Response &res);
    void LogRefused(const httplib::Request &req, httplib::Response &res);
    enginestub::Answer Serve(const EngineRequest &request);
    enginestub::Answer ServeUpdate(const EngineRequest &request);
    enginestub::Answer ServeExtract(const EngineRequest &request);
    enginestub::Answer ServeSelect(const EngineRequest &request);
    enginestub::Answer ServeExport(const EngineRequest &request);
};

} // namespace idxtest

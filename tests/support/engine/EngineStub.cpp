// The engine stand-in's server: routes, scripted answers (status, body, delay, drop, reset, stall,
// a hook on arrival), the request log, the recording of update requests, start and stop. Request
// parsing and the documents are units of their own (EngineRequestParsing, EngineDocumentStore).
#include "tests/support/engine/EngineStub.h"

#include "tests/support/engine/EngineRequestParsing.h"
#include "tests/support/engine/EngineStubImpl.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "platform/ContentIndexingMessages.h"

namespace idxtest {

using enginestub::Answer;
using enginestub::ContainsNoCase;
using enginestub::kJsonType;
using enginestub::kXmlType;
using enginestub::ParamUtf8Problem;
using enginestub::ParseForm;
using enginestub::XmlError;

namespace {

std::string XmlEscape(const std::string &strText) {
    std::string strOut;
    for (char c : strText) {
        switch (c) {
        case '<':
            strOut += "&lt;";
            break;
        case '>':
            strOut += "&gt;";
            break;
        case '&':
            strOut += "&amp;";
            break;
        case '"':
            strOut += "&quot;";
            break;
        default:
            strOut += c;
        }
    }
    return strOut;
}

// The descriptor of the stand-in's side of one of its connections, or -1. httplib does not hand
// the socket to a handler, so the handler finds its connection by the kernel's socket tables.
// Only names are read (the socket's inode from the TCP table, then the fd links that name it): the
// other descriptors belong to threads that may close them at any moment, so none but the
// handler's own, which httplib keeps open while the handler runs, is ever used.
int FindConnection(int nLocalPort, int nPeerPort) {
    unsigned long nInode = 0;
    if (FILE *pTable = fopen("/proc/self/net/tcp", "r")) {
        char szLine[512];
        while (nInode == 0 && fgets(szLine, sizeof szLine, pTable)) {
            unsigned int nLocalAddr = 0, nLocal = 0, nPeerAddr = 0, nPeer = 0, nState = 0;
            unsigned long nLineInode = 0;
            if (sscanf(szLine, " %*u: %x:%x %x:%x %x %*x:%*x %*x:%*x %*x %*u %*u %lu", &nLocalAddr,
                       &nLocal, &nPeerAddr, &nPeer, &nState, &nLineInode) == 6 &&
                static_cast<int>(nLocal) == nLocalPort && static_cast<int>(nPeer) == nPeerPort) {
                nInode = nLineInode;
            }
        }
        fclose(pTable);
    }
    if (nInode == 0)
        return -1;
    const std::string strTarget = "socket:[" + std::to_string(nInode) + "]";
    // Opened with open() rather than opendir(): ThreadSanitizer learns that a descriptor number was
    // made anew only from calls like open(), and the numbers come back from sockets that httplib
    // closed where it does not look, so closing a directory whose making it did not see would
    // look like a race with the last use of that number by another connection's handler.
    const int nDirFd = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *pDir = nDirFd < 0 ? nullptr : fdopendir(nDirFd);
    if (pDir == nullptr) {
        if (nDirFd >= 0)
            close(nDirFd);
        return -1;
    }
    int nFound = -1;
    while (dirent *pEntry = readdir(pDir)) {
        char *pEnd = nullptr;
        long nFd = std::strtol(pEntry->d_name, &pEnd, 10);
        if (*pEnd != '\0' || pEnd == pEntry->d_name)
            continue;
        char szLink[64];
        std::string strPath = std::string("/proc/self/fd/") + pEntry->d_name;
        ssize_t nLength = readlink(strPath.c_str(), szLink, sizeof szLink - 1);
        if (nLength > 0 && strTarget.compare(0, std::string::npos, szLink, nLength) == 0) {
            nFound = static_cast<int>(nFd);
            break;
        }
    }
    closedir(pDir);
    return nFound;
}

// Ends a connection without an answer. A drop shuts it down: the client reads the end of the
// stream (FIN). A reset aborts it: the client's read fails with "connection reset by peer" (RST).
// Disconnecting the socket (a connect to AF_UNSPEC) sends the reset at once and leaves the
// descriptor open; a zero linger would reset only on close, which is httplib's to do, and a
// shutdown after it still sends FIN. Either way httplib's answer then fails to write and httplib
// closes the descriptor itself.
bool EndConnection(int nLocalPort, int nPeerPort, bool bReset) {
    const int nFd = FindConnection(nLocalPort, nPeerPort);
    if (nFd < 0)
        return false;
    if (!bReset)
        return shutdown(nFd, SHUT_RDWR) == 0;
    sockaddr address{};
    address.sa_family = AF_UNSPEC;
    return connect(nFd, &address, sizeof address) == 0;
}

std::vector<std::string> SplitPath(const std::string &strPath) {
    std::vector<std::string> vecParts;
    size_t nPos = 1;
    while (nPos <= strPath.size()) {
        size_t nEnd = strPath.find('/', nPos);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        vecParts.push_back(strPath.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
    }
    return vecParts;
}

void Classify(EngineRequest &request) {
    // The web server's export, under as many leading slashes as a client puts before it.
    const size_t nAfterSlashes = request.strPath.find_first_not_of('/');
    if (nAfterSlashes != std::string::npos && nAfterSlashes > 0 &&
        request.strPath.compare(nAfterSlashes, std::string::npos, "Stream/ExportSearchResults") ==
            0) {
        request.eRoute = EngineRoute::ExportSearchResults;
        return;
    }
    std::vector<std::string> v = SplitPath(request.strPath);
    if (v.size() < 3 || v[0] != "solr")
        return;
    if (v[1] == "rest") {
        if (v.size() >= 5 && v[2] == "monitoring" && v[3] == "sync" &&
            request.strPath.size() > std::string("/solr/rest/monitoring/sync/").size()) {
            request.eRoute = EngineRoute::MonitoringSync;
        } else if (v.size() == 4 && !v[2].empty() && v[3] == "computefolderstats") {
            request.eRoute = EngineRoute::FolderStats;
            request.strCore = v[2];
        }
        return;
    }
    if (v[1].empty())
        return;
    EngineRoute eRoute = EngineRoute::Other;
    if (v.size() == 3 && v[2] == "update")
        eRoute = EngineRoute::Update;
    if (v.size() == 4 && v[2] == "update" && (v[3] == "tqextract" || v[3] == "extract")) {
        eRoute = EngineRoute::Extract;
    }
    if (v.size() == 3 && v[2] == "select")
        eRoute = EngineRoute::Select;
    if (v.size() == 4 && v[2] == "admin" && v[3] == "ping")
        eRoute = EngineRoute::Ping;
    if (eRoute != EngineRoute::Other) {
        request.eRoute = eRoute;
        request.strCore = v[1];
    }
}

} // namespace

const char *EngineRouteName(EngineRoute eRoute) {
    switch (eRoute) {
    case EngineRoute::Update:
        return "update";
    case EngineRoute::Extract:
        return "extract";
    case EngineRoute::Select:
        return "select";
    case EngineRoute::Ping:
        return "ping";
    case EngineRoute::FolderStats:
        return "computefolderstats";
    case EngineRoute::MonitoringSync:
        return "monitoring-sync";
    case EngineRoute::ExportSearchResults:
        return "export-search-results";
    case EngineRoute::Other:
        break;
    }
    return "other";
}

// Set by the handler for the answer it is about to write, so that the error hook can tell its
// answers from those httplib gives on its own.
thread_local bool t_bAnsweredByHandler = false;

const int kListenBacklog = 1024;

void PutLength(std::FILE *pFile, unsigned long long ullLength) {
    unsigned char szBytes[8];
    for (int i = 0; i < 8; ++i)
        szBytes[i] = static_cast<unsigned char>(ullLength >> (8 * i));
    std::fwrite(szBytes, 1, sizeof szBytes, pFile);
}

// Reads one length-prefixed field. nLengthBytes tells how many bytes of the length were there,
// so that the end of the file between two records can be told from a cut record.
bool GetField(std::FILE *pFile, std::string &strField, size_t &nLengthBytes) {
    unsigned char szBytes[8];
    nLengthBytes = std::fread(szBytes, 1, sizeof szBytes, pFile);
    if (nLengthBytes != sizeof szBytes)
        return false;
    unsigned long long ullLength = 0;
    for (int i = 0; i < 8; ++i)
        ullLength |= static_cast<unsigned long long>(szBytes[i]) << (8 * i);
    if (ullLength > (1ULL << 34))
        return false;
    strField.resize(static_cast<size_t>(ullLength));
    return ullLength == 0 || std::fread(&strField[0], 1, strField.size(), pFile) == strField.size();
}

void EngineStub::Impl::Handle(const httplib::Request &req, httplib::Response &res) {
    EngineRequest request;
    request.strMethod = req.method;
    size_t nQuery = req.target.find('?');
    request.strPath = req.target.substr(0, nQuery);
    if (nQuery != std::string::npos)
        request.strQuery = req.target.substr(nQuery + 1);
    request.vecParams = ParseForm(request.strQuery);
    for (const auto &[strKey, strValue] : req.headers) {
        // httplib adds the connection's addresses as pseudo headers.
        if (strKey == "REMOTE_ADDR" || strKey == "REMOTE_PORT" || strKey == "LOCAL_ADDR" ||
            strKey == "LOCAL_PORT") {
            continue;
        }
        request.vecHeaders.emplace_back(strKey, strValue);
    }
    request.strBody = req.body;
    Classify(request);
    if (request.eRoute == EngineRoute::Update && request.strMethod == "POST")
        Record(req.target, request.Header("Content-Type"), request.strBody);

    std::optional<EngineScript> script;
    unsigned long long nSequence = 0;
    {
        std::lock_guard<std::mutex> lock(mtx);
        nSequence = ++nReceived;
        if (!bDiscard)
            vecLog.push_back(request);
        std::deque<EngineScript> &dequeScripts = mapScripts[request.eRoute];
        if (!dequeScripts.empty()) {
            script = dequeScripts.front();
            if (dequeScripts.front().nCount > 0 && --dequeScripts.front().nCount == 0) {
                dequeScripts.pop_front();
            }
        }
    }
    if (script && script->fnOnArrival)
        script->fnOnArrival();
    if (script && script->nDelayMs > 0) {
        std::unique_lock<std::mutex> lock(mtx);
        cvStop.wait_for(lock, std::chrono::milliseconds(script->nDelayMs),
                        [this] { return bStopping; });
    }

    bool bDrop = script && script->bDrop;
    const bool bReset = script && script->bReset;
    if (script && script->bStall) {
        std::unique_lock<std::mutex> lock(mtx);
        const unsigned long long nRelease = nStallReleases;
        ++nStalled;
        cvHandled.notify_all();
        cvStop.wait(lock, [&] { return bStopping || nStallReleases != nRelease; });
        --nStalled;
        bDrop = true;
    }

    Answer answer;
    if (bDrop || bReset) {
        EndConnection(nPort, req.remote_port, bReset);
        answer.nStatus = 0;
    } else if (script && script->nStatus != 0) {
        answer = {script->nStatus, script->strBody, script->strContentType};
    } else {
        try {
            answer = Serve(request);
        } catch (const std::exception &e) {
            answer = XmlError(500, std::string("Stand-in failure: ") + e.what());
        }
    }
    res.status = answer.nStatus == 0 ? 500 : answer.nStatus;
    res.set_content(answer.strBody, answer.strType.c_str());

    {
        std::lock_guard<std::mutex> lock(mtx);
        ++nHandled;
        // The entry is near the end unless the log was cleared meanwhile; it is found by its
        // place among the requests received since.
        size_t nLater = static_cast<size_t>(nReceived - nSequence);
        if (!bDiscard && nLater < vecLog.size()) {
            vecLog[vecLog.size() - 1 - nLater].nStatus = answer.nStatus;
        }
    }
    cvHandled.notify_all();
    t_bAnsweredByHandler = res.status >= 400;
}

void EngineStub::Impl::Record(const std::string &strTarget, const std::string &strType,
                              const std::string &strBody) {
    std::lock_guard<std::mutex> lock(mtxRecord);
    if (pRecord == nullptr)
        return;
    unsigned long long ullSize = 24 + strTarget.size() + strType.size() + strBody.size();
    if (ullRecordBytes + ullSize > ullRecordLimit) {
        ++nRecordSkipped;
        return;
    }
    for (const std::string *pField : {&strTarget, &strType, &strBody}) {
        PutLength(pRecord, pField->size());
        std::fwrite(pField->data(), 1, pField->size(), pRecord);
    }
    ullRecordBytes += ullSize;
    ++nRecorded;
}

void EngineStub::Impl::CloseRecord() {
    std::lock_guard<std::mutex> lock(mtxRecord);
    if (pRecord != nullptr) {
        std::fclose(pRecord);
        pRecord = nullptr;
    }
}

// httplib refuses some requests before any handler sees them (a POST without Content-Length,
// for one); they are logged too, and answered like the engine would.
void EngineStub::Impl::LogRefused(const httplib::Request &req, httplib::Response &res) {
    EngineRequest request;
    request.strMethod = req.method;
    size_t nQuery = req.target.find('?');
    request.strPath = req.target.substr(0, nQuery);
    if (nQuery != std::string::npos)
        request.strQuery = req.target.substr(nQuery + 1);
    Classify(request);
    request.nStatus = res.status;
    res.set_content(ErrorAnswer(res.status, "Request refused by the HTTP layer (" + req.method +
                                                " without Content-Length?)"),
                    kXmlType);
    {
        std::lock_guard<std::mutex> lock(mtx);
        ++nReceived;
        ++nHandled;
        if (!bDiscard)
            vecLog.push_back(request);
    }
    cvHandled.notify_all();
}

Answer EngineStub::Impl::Serve(const EngineRequest &request) {
    // Parameters are decoded as UTF-8 before any handler sees them; one that does not decode
    // fails the whole request.
    const std::string strProblem = ParamUtf8Problem(request);
    if (!strProblem.empty())
        return XmlError(400, strProblem);
    bool bPost = request.strMethod == "POST";
    switch (request.eRoute) {
    case EngineRoute::Update:
        return bPost ? ServeUpdate(request) : XmlError(405, "The update handler takes POST");
    case EngineRoute::Extract:
        return bPost ? ServeExtract(request) : XmlError(405, "The extract handler takes POST");
    case EngineRoute::Select:
        return ServeSelect(request);
    case EngineRoute::Ping:
        if (request.Param("wt") == "json") {
            return {200, R"({"responseHeader":{"status":0,"QTime":0},"status":"OK"})", kJsonType};
        }
        return {200,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<response>\n<lst "
                "name=\"responseHeader\"><int name=\"status\">0</int><int "
                "name=\"QTime\">0</int></lst>\n<str name=\"status\">OK</str>\n</response>\n",
                kXmlType};
    case EngineRoute::FolderStats:
        return bPost ? Answer{200, OkAnswer(), kXmlType}
                     : XmlError(405, "Folder statistics take POST");
    case EngineRoute::MonitoringSync: {
        if (!bPost)
            return XmlError(405, "The monitoring sync takes POST");
        if (!ContainsNoCase(request.Header("Content-Type"), "application/x-www-form-urlencoded")) {
            return XmlError(400, "The monitoring sync needs a form body (Content-Type: "
                                 "application/x-www-form-urlencoded), got '" +
                                     request.Header("Content-Type") + "'");
        }
        auto vecForm = ParseForm(request.strBody);
        bool bHasBits = std::any_of(vecForm.begin(), vecForm.end(),
                                    [](const auto &pair) { return pair.first == "eventBits"; });
        if (!bHasBits)
            return XmlError(400, "The monitoring sync form has no eventBits");
        return {200, OkAnswer(), kXmlType};
    }
    case EngineRoute::ExportSearchResults:
        return bPost ? ServeExport(request) : XmlError(405, "The search export takes POST");
    case EngineRoute::Other:
        break;
    }
    return {404, HtmlErrorPage(404, "Not Found"), "text/html; charset=UTF-8"};
}

Answer EngineStub::Impl::ServeExport(const EngineRequest &request) {
    if (request.Param("writer") != "1") {
        return XmlError(400, "The search export needs writer=1");
    }
    PyxContentIndexing::TQSearchReq record;
    if (record.unserialize(request.strBody) != CNMessageBase::eMessageOk) {
        return XmlError(400, "The search export takes a search request record");
    }
    std::string strLines;
    {
        std::lock_guard<std::mutex> lock(mtx);
        for (const std::string &strLine : vecExportLines) {
            strLines += strLine + "\n";
        }
    }
    return {200, strLines, "text/plain; charset=UTF-8"};
}

EngineStub::EngineStub(bool bDiscard, bool bKeepAlive) : m_ptrImpl(std::make_unique<Impl>()) {
    Impl &impl = *m_ptrImpl;
    impl.bDiscard = bDiscard;
    // Each connection holds a pool thread while it lives; delayed answers hold theirs too.
    impl.server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    impl.server.set_keep_alive_max_count(bKeepAlive ? 100000 : 1);
    // Without it each answer on a kept-alive connection waits for the client's delayed ACK.
    // Accepted sockets inherit the option from the listening socket.
    impl.server.set_tcp_nodelay(true);
    auto handler = [&impl](const httplib::Request &req, httplib::Response &res) {
        impl.Handle(req, res);
    };
    impl.server.Get(".*", handler);
    impl.server.Post(".*", handler);
    impl.server.Put(".*", handler);
    impl.server.Delete(".*", handler);
    impl.server.Patch(".*", handler);
    impl.server.Options(".*", handler);
    impl.server.set_error_handler(httplib::Server::HandlerWithResponse(
        [&impl](const httplib::Request &req, httplib::Response &res) {
            if (t_bAnsweredByHandler) {
                t_bAnsweredByHandler = false;
                return httplib::Server::HandlerResponse::Unhandled;
            }
            impl.LogRefused(req, res);
            return httplib::Server::HandlerResponse::Handled;
        }));
    impl.nPort = impl.server.bind_to_any_port("127.0.0.1");
    if (impl.nPort <= 0)
        throw std::runtime_error("engine stand-in: cannot bind 127.0.0.1");
    if (::listen(impl.server.ListeningSocket(), kListenBacklog) != 0)
        throw std::runtime_error("engine stand-in: cannot raise the listen backlog");
    impl.threadServer = std::thread([&impl] {
        impl.server.listen_after_bind();
        impl.bListenEnded = true;
    });
    // Stop must not run before the accept loop has started, or the loop would never end.
    while (!impl.server.is_running() && !impl.bListenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

EngineStub::~EngineStub() {
    Stop();
}

void EngineStub::Stop() {
    Impl &impl = *m_ptrImpl;
    {
        std::lock_guard<std::mutex> lock(impl.mtx);
        if (impl.bStopped)
            return;
        impl.bStopped = true;
        impl.bStopping = true;
    }
    impl.cvStop.notify_all();
    impl.server.stop();
    if (impl.threadServer.joinable())
        impl.threadServer.join();
    impl.CloseRecord();
}

int EngineStub::Port() const {
    return m_ptrImpl->nPort;
}
std::string EngineStub::HostUrl() const {
    return "http://127.0.0.1:" + std::to_string(Port());
}
std::string EngineStub::BaseUrl(const std::string &strCore) const {
    return HostUrl() + "/solr/" + strCore + "/";
}
std::string EngineStub::UpdateUrl(const std::string &strCore) const {
    return BaseUrl(strCore) + "update";
}
std::string EngineStub::ExtractUrl(const std::string &strCore) const {
    return UpdateUrl(strCore) + "/tqextract";
}
std::string EngineStub::SelectUrl(const std::string &strCore) const {
    return BaseUrl(strCore) + "select";
}
std::string EngineStub::PingUrl(const std::string &strCore) const {
    return BaseUrl(strCore) + "admin/ping";
}
std::string EngineStub::AuditUrl() const {
    return UpdateUrl(kAuditCore);
}
std::string EngineStub::RestUrl() const {
    return HostUrl() + "/solr";
}
std::string EngineStub::FolderStatsUrl(const std::string &strCore) const {
    return RestUrl() + "/rest/" + strCore + "/computefolderstats";
}
std::string EngineStub::SyncUrl(const std::string &strApplicationId) const {
    return RestUrl() + "/rest/monitoring/sync/" + strApplicationId;
}

std::vector<EngineRequest> EngineStub::Requests() const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    return m_ptrImpl->vecLog;
}

std::vector<EngineRequest> EngineStub::Requests(EngineRoute eRoute) const {
    std::vector<EngineRequest> vecOut;
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    std::copy_if(m_ptrImpl->vecLog.begin(), m_ptrImpl->vecLog.end(), std::back_inserter(vecOut),
                 [eRoute](const EngineRequest &request) { return request.eRoute == eRoute; });
    return vecOut;
}

size_t EngineStub::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    return static_cast<size_t>(m_ptrImpl->nReceived);
}

bool EngineStub::WaitForRequests(size_t nCount, int nTimeoutMs) const {
    std::unique_lock<std::mutex> lock(m_ptrImpl->mtx);
    return m_ptrImpl->cvHandled.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                                         [&] { return m_ptrImpl->nHandled >= nCount; });
}

void EngineStub::ClearRequests() {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    m_ptrImpl->vecLog.clear();
}

void EngineStub::Script(EngineRoute eRoute, const EngineScript &script) {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    if (script.nCount != 0)
        m_ptrImpl->mapScripts[eRoute].push_back(script);
}

void EngineStub::FailNext(EngineRoute eRoute, int nTimes, int nStatus, const std::string &strBody) {
    EngineScript script;
    script.nCount = nTimes;
    script.nStatus = nStatus;
    script.strBody = strBody.empty() ? ErrorAnswer(nStatus, "Scripted failure") : strBody;
    Script(eRoute, script);
}

void EngineStub::DelayNext(EngineRoute eRoute, int nDelayMs, int nTimes) {
    EngineScript script;
    script.nCount = nTimes;
    script.nDelayMs = nDelayMs;
    Script(eRoute, script);
}

void EngineStub::DropNext(EngineRoute eRoute, int nTimes) {
    EngineScript script;
    script.nCount = nTimes;
    script.bDrop = true;
    Script(eRoute, script);
}

void EngineStub::ResetNext(EngineRoute eRoute, int nTimes) {
    EngineScript script;
    script.nCount = nTimes;
    script.bReset = true;
    Script(eRoute, script);
}

void EngineStub::AnswerNext(EngineRoute eRoute, int nTimes, int nStatus,
                            const std::string &strBody) {
    EngineScript script;
    script.nCount = nTimes;
    script.nStatus = nStatus;
    script.strBody = strBody;
    Script(eRoute, script);
}

void EngineStub::StallNext(EngineRoute eRoute, int nTimes) {
    EngineScript script;
    script.nCount = nTimes;
    script.bStall = true;
    Script(eRoute, script);
}

void EngineStub::ReleaseStalls() {
    {
        std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
        ++m_ptrImpl->nStallReleases;
    }
    m_ptrImpl->cvStop.notify_all();
}

size_t EngineStub::StalledCount() const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    return m_ptrImpl->nStalled;
}

bool EngineStub::WaitForStalled(size_t nCount, int nTimeoutMs) const {
    std::unique_lock<std::mutex> lock(m_ptrImpl->mtx);
    return m_ptrImpl->cvHandled.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                                         [&] { return m_ptrImpl->nStalled >= nCount; });
}

void EngineStub::ClearScripts() {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    m_ptrImpl->mapScripts.clear();
}

void EngineStub::SetDiscard(bool bDiscard) {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    m_ptrImpl->bDiscard = bDiscard;
}

void EngineStub::SetExportLines(const std::vector<std::string> &vecLines) {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    m_ptrImpl->vecExportLines = vecLines;
}

bool EngineStub::RecordUpdates(const std::string &strFile, std::string &strError,
                               unsigned long long ullMaxBytes) {
    Impl &impl = *m_ptrImpl;
    std::lock_guard<std::mutex> lock(impl.mtxRecord);
    if (impl.pRecord != nullptr) {
        strError = "a recording is already open";
        return false;
    }
    impl.pRecord = std::fopen(strFile.c_str(), "wb");
    if (impl.pRecord == nullptr) {
        strError = "cannot create " + strFile;
        return false;
    }
    impl.vecRecordBuffer.resize(1 << 20);
    std::setvbuf(impl.pRecord, impl.vecRecordBuffer.data(), _IOFBF, impl.vecRecordBuffer.size());
    impl.ullRecordLimit = ullMaxBytes;
    return true;
}

size_t EngineStub::RecordedCount() const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtxRecord);
    return m_ptrImpl->nRecorded;
}

size_t EngineStub::RecordSkippedCount() const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtxRecord);
    return m_ptrImpl->nRecordSkipped;
}

bool ReadRecordedUpdates(const std::string &strFile, std::vector<RecordedUpdate> &vecUpdates,
                         std::string &strError) {
    std::FILE *pFile = std::fopen(strFile.c_str(), "rb");
    if (pFile == nullptr) {
        strError = "cannot open " + strFile;
        return false;
    }
    bool bOk = true;
    for (;;) {
        RecordedUpdate update;
        size_t nLengthBytes = 0;
        if (!GetField(pFile, update.strTarget, nLengthBytes)) {
            // A clean end is the end of the file exactly between two records.
            bOk = nLengthBytes == 0 && std::feof(pFile);
            break;
        }
        if (!GetField(pFile, update.strContentType, nLengthBytes) ||
            !GetField(pFile, update.strBody, nLengthBytes)) {
            bOk = false;
            break;
        }
        vecUpdates.push_back(std::move(update));
    }
    std::fclose(pFile);
    if (!bOk)
        strError = strFile + " ends inside a record after " + std::to_string(vecUpdates.size()) +
                   " whole records";
    return bOk;
}

std::string EngineStub::OkAnswer() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<response>\n<lst "
           "name=\"responseHeader\"><int name=\"status\">0</int><int "
           "name=\"QTime\">0</int></lst>\n</response>\n";
}

std::string EngineStub::ErrorAnswer(int nStatus, const std::string &strMessage) {
    std::string strStatus = std::to_string(nStatus);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<response>\n<lst "
           "name=\"responseHeader\"><int name=\"status\">" +
           strStatus +
           "</int><int name=\"QTime\">0</int></lst>\n<lst name=\"error\"><str "
           "name=\"msg\">" +
           XmlEscape(strMessage) + "</str><int name=\"code\">" + strStatus +
           "</int></lst>\n</response>\n";
}

std::string EngineStub::HtmlErrorPage(int nStatus, const std::string &strMessage) {
    std::string strStatus = std::to_string(nStatus);
    return "<html>\n<head><title>Error " + strStatus + " " + XmlEscape(strMessage) +
           "</title></head>\n<body><h2>HTTP ERROR " + strStatus +
           "</h2>\n<p>Problem accessing "
           "the engine. Reason:</p>\n<pre>    " +
           XmlEscape(strMessage) + "</pre>\n</body>\n</html>\n";
}

} // namespace idxtest

#include "bench/EndToEndBench/NullEngine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace idxbench {

namespace {

// nginx serves with this many worker processes: enough that it never bounds a client of 15
// threads on an 8-core machine, few enough to leave the cores to the side being measured. Both
// sides of every ratio meet the same server.
const int kWorkerProcesses = 4;
const int kStartTimeoutMs = 10000;
const int kStopTimeoutMs = 10000;
const int kStartAttempts = 5;

// The engine's answers, as the stand-in gives them (tests/support/engine).
const char kOkAnswer[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\\n<response>\\n<lst "
                         "name=\"responseHeader\"><int name=\"status\">0</int><int "
                         "name=\"QTime\">0</int></lst>\\n</response>\\n";
const char kPingAnswer[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\\n<response>\\n<lst "
                           "name=\"responseHeader\"><int name=\"status\">0</int><int "
                           "name=\"QTime\">0</int></lst>\\n<str name=\"status\">OK</str>\\n"
                           "</response>\\n";
const char kPingJsonAnswer[] = "{\"responseHeader\":{\"status\":0,\"QTime\":0},\"status\":\"OK\"}";
const char kSelectAnswer[] = "{\"responseHeader\":{\"status\":0,\"QTime\":0},\"response\":{"
                             "\"numFound\":0,\"start\":0,\"docs\":[]}}";
const char kXmlType[] = "application/xml; charset=UTF-8";
const char kJsonType[] = "application/json; charset=UTF-8";

// A port that was free a moment ago; nginx may still lose it to another program, and Start then
// tries another.
int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t nLength = sizeof(address);
    int nPort = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &nLength) == 0) {
        nPort = ntohs(address.sin_port);
    }
    close(fd);
    return nPort;
}

bool Accepts(int nPort) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    const bool bConnected =
        connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    close(fd);
    return bConnected;
}

// Whether every nginx worker serves: with "reuseport" each worker listens on a socket of its
// own, and a connection the kernel hands to a worker that is still starting waits until it runs.
// A connection that the master's socket accepts is therefore no proof; kReadyConnections fresh
// connections, each asking the unrecorded ready route and each answered, reach every worker with
// near certainty. A phase whose clock starts before then would time nginx's start-up.
bool Serves(int nPort) {
    const int kReadyConnections = 32;
    const char kRequest[] = "GET /null-engine/ready HTTP/1.0\r\n\r\n";
    std::vector<int> vecSockets;
    bool bAll = true;
    for (int i = 0; i < kReadyConnections && bAll; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) {
            bAll = false;
            break;
        }
        vecSockets.push_back(fd);
        timeval timeout{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(nPort));
        bAll = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
               send(fd, kRequest, sizeof(kRequest) - 1, MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(sizeof(kRequest) - 1);
    }
    for (int fd : vecSockets) {
        char szStatus[16] = {};
        bAll = bAll && recv(fd, szStatus, sizeof(szStatus) - 1, MSG_WAITALL) > 9 &&
               strncmp(szStatus, "HTTP/1.1 2", 10) == 0;
        close(fd);
    }
    return bAll;
}

std::string ReadText(const std::string &strFile) {
    std::ifstream file(strFile);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The configuration: every path under the run's folder, one server on the port, the success
// answer everywhere but on the routes that answer otherwise (ping, select, the search export).
// Bodies are read and dropped by nginx itself. The recording is one short line per request,
// written to /dev/null when none is asked for, so that every phase costs nginx the same.
std::string Configuration(const std::string &strFolder, int nPort,
                          const std::string &strRecordFile) {
    std::string strUser;
    if (geteuid() == 0) {
        // Workers would otherwise switch to an unprivileged user.
        strUser = "user root;\n";
    }
    const std::string strRecord = strRecordFile.empty() ? "/dev/null" : strRecordFile;
    std::string strText;
    strText += strUser;
    strText += "daemon off;\nmaster_process on;\n";
    strText += "worker_processes " + std::to_string(kWorkerProcesses) + ";\n";
    strText += "pid " + strFolder + "/nginx.pid;\n";
    strText += "error_log " + strFolder + "/error.log warn;\n";
    strText += "events { worker_connections 4096; multi_accept on; }\n";
    strText += "http {\n";
    strText += "  client_body_temp_path " + strFolder + "/body;\n";
    for (const char *szModule : {"proxy", "fastcgi", "uwsgi", "scgi"}) {
        strText +=
            "  " + std::string(szModule) + "_temp_path " + strFolder + "/" + szModule + ";\n";
    }
    strText += "  client_max_body_size 0;\n";
    strText += "  keepalive_requests 100000000;\n  keepalive_timeout 600s;\n";
    strText += "  tcp_nodelay on;\n  server_tokens off;\n";
    // One line per request; the values are JSON-escaped, so a tab or a newline is never raw.
    strText += "  log_format record escape=json "
               "'$request_method\\t$request_uri\\t$content_type\\t$msec\\t$request_time\\t"
               "$content_length';\n";
    strText += "  access_log " + strRecord + " record buffer=1m;\n";
    strText += "  server {\n";
    strText += "    listen 127.0.0.1:" + std::to_string(nPort) + " reuseport backlog=4096;\n";
    strText += "    default_type \"" + std::string(kXmlType) + "\";\n";
    strText += "    location / { return 200 '" + std::string(kOkAnswer) + "'; }\n";
    strText += "    location = /null-engine/ready { access_log off; return 200 ''; }\n";
    strText += "    location ~ /admin/ping$ {\n";
    strText += "      if ($arg_wt = json) { rewrite ^ /null-engine/ping-json last; }\n";
    strText += "      return 200 '" + std::string(kPingAnswer) + "';\n    }\n";
    strText += "    location = /null-engine/ping-json { internal; default_type \"" +
               std::string(kJsonType) + "\"; return 200 '" + kPingJsonAnswer + "'; }\n";
    strText += "    location ~ /select$ { default_type \"" + std::string(kJsonType) +
               "\"; return 200 '" + kSelectAnswer + "'; }\n";
    strText += "    location = /Stream/ExportSearchResults { default_type \"text/plain; "
               "charset=UTF-8\"; return 200 ''; }\n";
    strText += "  }\n}\n";
    return strText;
}

// Undoes nginx's JSON escaping of one logged value.
bool Unescape(const char *pBegin, const char *pEnd, std::string &strOut) {
    strOut.clear();
    strOut.reserve(static_cast<size_t>(pEnd - pBegin));
    for (const char *p = pBegin; p < pEnd; ++p) {
        if (*p != '\\') {
            strOut += *p;
            continue;
        }
        if (++p == pEnd) {
            return false;
        }
        switch (*p) {
        case 'n':
            strOut += '\n';
            break;
        case 'r':
            strOut += '\r';
            break;
        case 't':
            strOut += '\t';
            break;
        case 'b':
            strOut += '\b';
            break;
        case 'f':
            strOut += '\f';
            break;
        case 'u': {
            if (pEnd - p < 5) {
                return false;
            }
            const std::string strHex(p + 1, 4);
            char *pStop = nullptr;
            const unsigned long ulCode = strtoul(strHex.c_str(), &pStop, 16);
            // nginx escapes only control characters this way.
            if (*pStop != '\0' || ulCode > 0xff) {
                return false;
            }
            strOut += static_cast<char>(ulCode);
            p += 4;
            break;
        }
        default:
            strOut += *p;
            break;
        }
    }
    return true;
}

} // namespace

std::string FindOnPath(const std::string &strName) {
    const char *szPath = getenv("PATH");
    std::stringstream path(szPath ? szPath : "");
    std::string strFolder;
    while (std::getline(path, strFolder, ':')) {
        const std::string strCandidate = strFolder + "/" + strName;
        if (!strFolder.empty() && access(strCandidate.c_str(), X_OK) == 0) {
            return strCandidate;
        }
    }
    return std::string();
}

std::string NullEngine::FindNginx() {
    const char *szOwn = getenv("IDX_NGINX");
    if (szOwn && *szOwn) {
        return access(szOwn, X_OK) == 0 ? std::string(szOwn) : std::string();
    }
    if (access("/usr/sbin/nginx", X_OK) == 0) {
        return "/usr/sbin/nginx";
    }
    return FindOnPath("nginx");
}

int NullEngine::WorkerProcesses() const {
    return kWorkerProcesses;
}

bool NullEngine::Start(const std::string &strNginx, const std::string &strFolder,
                       const std::string &strRecordFile, std::string &strError) {
    if (m_pid > 0) {
        strError = "nginx is already running";
        return false;
    }
    mkdir(strFolder.c_str(), 0755);
    for (int nAttempt = 0; nAttempt < kStartAttempts; ++nAttempt) {
        bool bPortTaken = false;
        if (StartOnce(strNginx, strFolder, strRecordFile, bPortTaken, strError)) {
            return true;
        }
        if (!bPortTaken) {
            return false;
        }
    }
    return false;
}

bool NullEngine::StartOnce(const std::string &strNginx, const std::string &strFolder,
                           const std::string &strRecordFile, bool &bPortTaken,
                           std::string &strError) {
    const int nPort = FreePort();
    if (nPort <= 0) {
        strError = "no free port on 127.0.0.1";
        return false;
    }
    const std::string strConfig = strFolder + "/nginx.conf";
    m_strErrorLog = strFolder + "/error.log";
    {
        std::ofstream file(strConfig, std::ios::trunc);
        file << Configuration(strFolder, nPort, strRecordFile);
        if (!file.good()) {
            strError = "cannot write " + strConfig;
            return false;
        }
    }
    unlink(m_strErrorLog.c_str());
    if (!strRecordFile.empty()) {
        unlink(strRecordFile.c_str());
    }
    std::vector<std::string> vecArgs = {strNginx,  "-p", strFolder + "/", "-c",
                                        strConfig, "-e", m_strErrorLog};
    std::vector<char *> vecArgv;
    for (std::string &strArg : vecArgs) {
        vecArgv.push_back(&strArg[0]);
    }
    vecArgv.push_back(nullptr);
    const std::string strOutput = strFolder + "/nginx.out";

    pid_t pid = fork();
    if (pid < 0) {
        strError = "fork failed";
        return false;
    }
    if (pid == 0) {
        // A group of its own, so that its workers can be ended with it.
        setpgid(0, 0);
        int fd = open(strOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        execv(vecArgv[0], vecArgv.data());
        _exit(127);
    }
    setpgid(pid, pid);
    m_pid = pid;

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    for (;;) {
        if (Accepts(nPort) && Serves(nPort)) {
            m_nPort = nPort;
            return true;
        }
        int nStatus = 0;
        if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
            m_pid = -1;
            const std::string strLog = ReadText(m_strErrorLog) + ReadText(strOutput);
            bPortTaken = strLog.find("Address already in use") != std::string::npos;
            strError = "nginx exited before it served: " + strLog;
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            Stop();
            strError = "nginx did not accept connections within " +
                       std::to_string(kStartTimeoutMs / 1000) + " s (see " + m_strErrorLog + ")";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool NullEngine::Stop() {
    if (m_pid <= 0) {
        return false;
    }
    // A fast shutdown; the workers write out their recording buffers as they exit.
    kill(m_pid, SIGTERM);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
    int nStatus = 0;
    bool bExited = false;
    for (;;) {
        pid_t result = waitpid(m_pid, &nStatus, WNOHANG);
        if (result == m_pid || result < 0) {
            bExited = result == m_pid;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-m_pid, SIGKILL);
            waitpid(m_pid, &nStatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Workers that outlived their master (none should) go with the group.
    kill(-m_pid, SIGKILL);
    m_pid = -1;
    m_nPort = 0;
    return bExited && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

bool ReadRecording(const std::string &strFile, std::vector<RecordedRequest> &vecRequests,
                   std::string &strError) {
    FILE *pFile = fopen(strFile.c_str(), "rb");
    if (!pFile) {
        strError = "cannot open " + strFile;
        return false;
    }
    char *pLine = nullptr;
    size_t nCapacity = 0;
    ssize_t nLength;
    std::string strField;
    bool bOk = true;
    while ((nLength = getline(&pLine, &nCapacity, pFile)) > 0) {
        const char *pEnd = pLine + nLength;
        if (pEnd[-1] != '\n') {
            bOk = false;
            strError = strFile + " ends inside a line";
            break;
        }
        --pEnd;
        std::vector<std::pair<const char *, const char *>> vecFields;
        const char *pStart = pLine;
        for (const char *p = pLine; p <= pEnd; ++p) {
            if (p == pEnd || *p == '\t') {
                vecFields.emplace_back(pStart, p);
                pStart = p + 1;
            }
        }
        RecordedRequest request;
        std::string strStarted, strDuration, strLength;
        if (vecFields.size() != 6 ||
            !Unescape(vecFields[0].first, vecFields[0].second, request.strMethod) ||
            !Unescape(vecFields[1].first, vecFields[1].second, request.strTarget) ||
            !Unescape(vecFields[2].first, vecFields[2].second, request.strContentType) ||
            !Unescape(vecFields[3].first, vecFields[3].second, strStarted) ||
            !Unescape(vecFields[4].first, vecFields[4].second, strDuration) ||
            !Unescape(vecFields[5].first, vecFields[5].second, strLength)) {
            bOk = false;
            strError = strFile + ": line " + std::to_string(vecRequests.size() + 1) +
                       " is not a recorded request";
            break;
        }
        // The log is written when the request ends: it began its duration earlier.
        request.dStartedEpoch = atof(strStarted.c_str()) - atof(strDuration.c_str());
        request.llBodyLength = atoll(strLength.c_str());
        vecRequests.push_back(std::move(request));
    }
    free(pLine);
    fclose(pFile);
    return bOk;
}

} // namespace idxbench

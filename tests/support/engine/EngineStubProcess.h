// The engine stand-in as a child process (the idx-engine-stub executable), for the sample job and
// the benchmarks: start it on 127.0.0.1, learn its port, reach its routes, stop it and reap it.
//
// Header-only so that a program outside the test support library can use it without linking the
// fixtures. Start must run before the caller starts any thread: the child only redirects its
// standard error and executes the stand-in, but fork in a threaded process is best avoided.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace idxtest {

class EngineStubProcess {
public:
    struct Options {
        bool bDiscard = false;     // parse and answer updates, store nothing
        bool bKeepAlive = false;   // keep connections open between requests
        std::string strDumpFile;   // where the stored documents go as JSON when it stops
        std::string strRecordFile; // where each update request goes as received (--record)
        std::string strStderrFile; // the stand-in's own messages; empty: /dev/null
    };

    EngineStubProcess() = default;
    ~EngineStubProcess() { Stop(); }
    EngineStubProcess(const EngineStubProcess &) = delete;
    EngineStubProcess &operator=(const EngineStubProcess &) = delete;

    // build/<config>/tests/idx-engine-stub seen from a program in build/<config>/<folder>/;
    // empty when there is none.
    static std::string FindNextToBuild() {
        char szSelf[PATH_MAX];
        ssize_t nLength = readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
        if (nLength <= 0) {
            return std::string();
        }
        std::string strSelf(szSelf, static_cast<size_t>(nLength));
        size_t nSlash = strSelf.rfind('/');
        if (nSlash == std::string::npos) {
            return std::string();
        }
        std::string strCandidate = strSelf.substr(0, nSlash) + "/../tests/idx-engine-stub";
        return access(strCandidate.c_str(), X_OK) == 0 ? strCandidate : std::string();
    }

    // Starts strExecutable, which writes its port file into strWorkFolder; waits up to
    // nTimeoutMs for the port. False with a reason when it did not come up (the child is reaped).
    bool Start(const std::string &strExecutable, const std::string &strWorkFolder,
               const Options &options, std::string &strError, int nTimeoutMs = 10000) {
        if (m_pid > 0) {
            strError = "the stand-in is already running";
            return false;
        }
        const std::string strPortFile = strWorkFolder + "/engine-stub.port";
        unlink(strPortFile.c_str());

        // Everything the child needs is prepared before fork.
        std::vector<std::string> vecArgs = {strExecutable, "--port-file", strPortFile};
        if (!options.strDumpFile.empty()) {
            vecArgs.insert(vecArgs.end(), {"--dump", options.strDumpFile});
        }
        if (!options.strRecordFile.empty()) {
            vecArgs.insert(vecArgs.end(), {"--record", options.strRecordFile});
        }
        if (options.bDiscard) {
            vecArgs.push_back("--discard");
        }
        if (options.bKeepAlive) {
            vecArgs.push_back("--keep-alive");
        }
        std::vector<char *> vecArgv;
        for (std::string &strArg : vecArgs) {
            vecArgv.push_back(&strArg[0]);
        }
        vecArgv.push_back(nullptr);
        const std::string strStderr =
            options.strStderrFile.empty() ? std::string("/dev/null") : options.strStderrFile;

        pid_t pid = fork();
        if (pid < 0) {
            strError = "fork failed";
            return false;
        }
        if (pid == 0) {
            int fd = open(strStderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, STDERR_FILENO);
                close(fd);
            }
            execv(vecArgv[0], vecArgv.data());
            _exit(127);
        }
        m_pid = pid;

        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        for (;;) {
            std::ifstream file(strPortFile);
            int nPort = 0;
            if (file >> nPort && nPort > 0 && nPort < 65536) {
                m_nPort = nPort;
                return true;
            }
            int nStatus = 0;
            if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
                m_pid = -1;
                strError = "the stand-in exited before it served (see " + strStderr + ")";
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                Stop();
                strError = "the stand-in did not write its port in time";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Asks it to stop (it then writes its dump file) and reaps it; after nTimeoutMs it is
    // killed, and a negative nTimeoutMs waits as long as it takes (a large dump takes long).
    // True when it exited by itself with status 0. Does nothing when not running.
    bool Stop(int nTimeoutMs = 10000) {
        if (m_pid <= 0) {
            return false;
        }
        kill(m_pid, SIGTERM);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        int nStatus = 0;
        bool bExited = false;
        while (!bExited) {
            pid_t result = waitpid(m_pid, &nStatus, WNOHANG);
            if (result == m_pid || result < 0) {
                bExited = result == m_pid;
                break;
            }
            if (nTimeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &nStatus, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_pid = -1;
        m_nPort = 0;
        return bExited && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
    }

    // True once it has exited without being asked to (it is then reaped, and Stop does nothing).
    bool HasExited() {
        int nStatus = 0;
        if (m_pid <= 0 || waitpid(m_pid, &nStatus, WNOHANG) != m_pid) {
            return false;
        }
        m_pid = -1;
        m_nPort = 0;
        return true;
    }

    bool IsRunning() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    int Port() const { return m_nPort; }

    // The stand-in's URL layout (tests/support/engine/EngineStub.h).
    std::string BaseUrl(const std::string &strCore = "collection1") const {
        return "http://127.0.0.1:" + std::to_string(m_nPort) + "/solr/" + strCore + "/";
    }
    std::string UpdateUrl(const std::string &strCore = "collection1") const {
        return BaseUrl(strCore) + "update";
    }
    std::string ExtractUrl(const std::string &strCore = "collection1") const {
        return BaseUrl(strCore) + "update/tqextract";
    }
    std::string PingUrl(const std::string &strCore = "collection1") const {
        return BaseUrl(strCore) + "admin/ping";
    }
    std::string AuditUrl() const { return UpdateUrl("audit"); }

private:
    pid_t m_pid = -1;
    int m_nPort = 0;
};

} // namespace idxtest

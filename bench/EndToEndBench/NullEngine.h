// The null engine the end-to-end benchmark measures against: nginx on a free 127.0.0.1 port, with
// a configuration of the benchmark's own written into a folder of the run (prefix, pid file,
// temporary paths, error log, recording), running as the current user. Every route the library
// uses is answered at once with the engine's success answer; request bodies are read and
// dropped unread. Each request can be recorded (method, target, content type, body length, when
// it started), not its body: reading and logging bodies would slow nginx down.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace idxbench {

// One request as the null engine recorded it.
struct RecordedRequest {
    std::string strMethod;
    std::string strTarget; // path and query as sent
    std::string strContentType;
    double dStartedEpoch = 0;   // wall-clock seconds at which its first bytes arrived
    long long llBodyLength = 0; // as the request announced it
};

class NullEngine {
public:
    NullEngine() = default;
    ~NullEngine() { Stop(); }
    NullEngine(const NullEngine &) = delete;
    NullEngine &operator=(const NullEngine &) = delete;

    // The nginx executable (IDX_NGINX, else /usr/sbin/nginx, else the PATH); empty when none.
    static std::string FindNginx();

    // Starts nginx from strFolder (made when missing). With strRecordFile set, each request is
    // appended there (read it with ReadRecording after Stop); without, the lines go to
    // /dev/null, so that every phase costs nginx the same. Must run before the caller starts any
    // thread. False with a reason when it did not come up within a few seconds.
    bool Start(const std::string &strNginx, const std::string &strFolder,
               const std::string &strRecordFile, std::string &strError);

    // Stops nginx (its recording is then complete) and reaps it; its processes are killed when
    // they do not end within a few seconds. True when it ended by itself.
    bool Stop();

    // The process group of nginx (its master and workers), or -1; a watchdog kills it whole.
    pid_t ProcessGroup() const { return m_pid; }
    int Port() const { return m_nPort; }
    int WorkerProcesses() const;

    std::string HostUrl() const { return "http://127.0.0.1:" + std::to_string(m_nPort); }
    std::string BaseUrl() const { return HostUrl() + "/solr/collection1/"; }
    std::string UpdateUrl() const { return BaseUrl() + "update"; }
    std::string ExtractUrl() const { return BaseUrl() + "update/tqextract"; }
    std::string PingUrl() const { return BaseUrl() + "admin/ping"; }
    std::string AuditUrl() const { return HostUrl() + "/solr/audit/update"; }

private:
    bool StartOnce(const std::string &strNginx, const std::string &strFolder,
                   const std::string &strRecordFile, bool &bPortTaken, std::string &strError);

    pid_t m_pid = -1;
    int m_nPort = 0;
    std::string m_strErrorLog;
};

// The executable strName in a folder of the PATH; empty when none.
std::string FindOnPath(const std::string &strName);

// Reads what a null engine recorded; false with a reason when the file is not a whole recording.
bool ReadRecording(const std::string &strFile, std::vector<RecordedRequest> &vecRequests,
                   std::string &strError);

} // namespace idxbench

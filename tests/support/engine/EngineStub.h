// Stand-in for the index engine: a loopback HTTP server that speaks the engine protocol the
// library uses (update XML with atomic updates, extract, select, ping, control routes), keeps
// what it was sent and can be told to misbehave. A test fixture, never part of the library.
//
// Path layout (every URL function below returns one of these; <core> is "collection1" unless
// given):
//   http://127.0.0.1:PORT/solr/<core>/                      BaseUrl (ends with "/")
//   .../solr/<core>/update                                   update handler (POST XML)
//   .../solr/<core>/update/tqextract, .../update/extract     extract handler (POST raw bytes)
//   .../solr/<core>/select                                   select (GET or POST, wt=json)
//   .../solr/<core>/admin/ping                               ping
//   .../solr/rest/<core>/computefolderstats                  folder statistics
//   .../solr/rest/monitoring/sync/<application id>           monitoring sync
//   http://127.0.0.1:PORT/Stream/ExportSearchResults?writer=1  the web server's search export
//                                                            (POST of a search request record)
// The audit core is the core "audit"; an audit prune is a delete query posted to its update URL.
// Anything else is logged and answered 404 with an HTML error page.
// Updates and extracts are checked against the schema's integer fields ("ClientId",
// "ApplicationId", "JobId", "Size", ...; see FieldTypeProblem): a document with any other text
// there, an empty one too, is refused with a 400, as a strict schema refuses it.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace idxtest {

enum class EngineRoute {
    Update,
    Extract,
    Select,
    Ping,
    FolderStats,
    MonitoringSync,
    ExportSearchResults,
    Other
};

const char *EngineRouteName(EngineRoute eRoute);

// One request as the stand-in received it.
struct EngineRequest {
    EngineRoute eRoute = EngineRoute::Other;
    std::string strCore;   // core named in the path; empty for the routes outside a core
    std::string strMethod; // "GET", "POST", ...
    std::string strPath;   // path as sent, without the query string
    std::string strQuery;  // raw query string after "?", empty when there is none
    std::vector<std::pair<std::string, std::string>> vecHeaders; // sorted by name
    std::vector<std::pair<std::string, std::string>> vecParams;  // decoded query, in order
    std::string strBody;
    int nStatus = 0; // status answered; 0 when the connection was dropped, reset or not answered

    std::string Header(const std::string &strName) const; // first match, any case; "" if absent
    std::string Param(const std::string &strName) const;  // first value; "" if absent
    bool HasParam(const std::string &strName) const;
};

// One update request as the stand-in recorded it (see EngineStub::RecordUpdates).
struct RecordedUpdate {
    std::string strTarget;      // path and query as sent
    std::string strContentType; // "" when none was sent
    std::string strBody;        // the bytes as received
};

// Reads a recording: each request is three fields (target, content type, body), each an 8-byte
// little-endian length followed by that many bytes. False with a reason when the file cannot be
// read or ends inside a record.
bool ReadRecordedUpdates(const std::string &strFile, std::vector<RecordedUpdate> &vecUpdates,
                         std::string &strError);

// A stored document. Values keep their order; a field that received an "add" update stays
// multi-valued even with one value.
struct EngineDocument {
    std::map<std::string, std::vector<std::string>> mapFields;
    std::set<std::string> setMultiValued;
    std::string strContent; // body of the extract request that stored it
    bool bExtracted = false;

    std::string Value(const std::string &strName) const; // first value; "" if absent
    std::vector<std::string> Values(const std::string &strName) const;
    bool Has(const std::string &strName) const { return mapFields.count(strName) != 0; }
};

// A scripted answer for the next requests of one route. Scripts of a route are used in the order
// they were added; each serves nCount requests (-1: every request until ClearScripts).
struct EngineScript {
    int nCount = 1;
    int nDelayMs = 0;   // wait before answering; Stop cuts the wait short
    bool bDrop = false; // close the connection without writing an answer (the client reads its end)
    // Reset the connection (RST) without writing an answer: the client's read fails with
    // "connection reset by peer" instead of reaching the end of the stream.
    bool bReset = false;
    // Hold the request without answering until ReleaseStalls or Stop, then close the connection
    // without handling it: an engine that hangs, whose work is never done.
    bool bStall = false;
    int nStatus = 0; // 0: the route's own handling runs (after the delay)
    std::string strBody;
    std::string strContentType = "application/xml; charset=UTF-8";
    // Runs on the server's thread when a request takes this script, before its delay and its
    // answer: a test's hook into the order of the requests (to make the network around the
    // stand-in fail from that request on, say).
    std::function<void()> fnOnArrival;
};

class EngineStub {
public:
    static constexpr const char *kMainCore = "collection1";
    static constexpr const char *kAuditCore = "audit";

    // Binds 127.0.0.1 on an ephemeral port and serves on threads of its own; throws
    // std::runtime_error when it cannot bind. In discard mode updates and extracts are parsed
    // and answered but nothing is stored, and requests are counted but not logged.
    // Without keep-alive every answer closes its connection: a client that reuses connections
    // (libcurl) resends a request once when a reused connection closes without an answer, which
    // would hide a scripted drop. Keep-alive is for benchmarks.
    explicit EngineStub(bool bDiscard = false, bool bKeepAlive = false);
    ~EngineStub();
    EngineStub(const EngineStub &) = delete;
    EngineStub &operator=(const EngineStub &) = delete;

    void Stop(); // idempotent; ends delays in progress and joins the server threads

    int Port() const;
    std::string HostUrl() const; // "http://127.0.0.1:PORT"
    std::string BaseUrl(const std::string &strCore = kMainCore) const;
    std::string UpdateUrl(const std::string &strCore = kMainCore) const;
    std::string ExtractUrl(const std::string &strCore = kMainCore) const; // ".../update/tqextract"
    std::string SelectUrl(const std::string &strCore = kMainCore) const;
    std::string PingUrl(const std::string &strCore = kMainCore) const;
    std::string AuditUrl() const; // UpdateUrl(kAuditCore)
    // What the library derives from BaseUrl: everything up to and including the first "solr".
    std::string RestUrl() const;
    std::string FolderStatsUrl(const std::string &strCore = kMainCore) const;
    std::string SyncUrl(const std::string &strApplicationId) const;

    // Documents, by "contentid".
    std::map<std::string, EngineDocument> Documents(const std::string &strCore = kMainCore) const;
    std::optional<EngineDocument> Document(const std::string &strKey,
                                           const std::string &strCore = kMainCore) const;
    size_t DocumentCount(const std::string &strCore = kMainCore) const;
    // Stores a document directly (one value per field); it must hold "contentid".
    void PutDocument(const std::map<std::string, std::string> &mapFields,
                     const std::string &strCore = kMainCore);
    void ClearDocuments();
    int CommitCount(const std::string &strCore = std::string()) const; // empty: every core

    // Request log, in arrival order.
    std::vector<EngineRequest> Requests() const;
    std::vector<EngineRequest> Requests(EngineRoute eRoute) const;
    size_t RequestCount() const; // every request received, also in discard mode
    // True once nCount requests have been answered (or dropped) since the start.
    bool WaitForRequests(size_t nCount, int nTimeoutMs) const;
    void ClearRequests();

    // Scripted answers.
    void Script(EngineRoute eRoute, const EngineScript &script);
    // nTimes answers of nStatus; the body defaults to ErrorAnswer(nStatus, "Scripted failure").
    void FailNext(EngineRoute eRoute, int nTimes, int nStatus, const std::string &strBody = "");
    void DelayNext(EngineRoute eRoute, int nDelayMs, int nTimes = 1);
    void DropNext(EngineRoute eRoute, int nTimes = 1);
    void ResetNext(EngineRoute eRoute, int nTimes = 1); // EngineScript::bReset
    // nTimes answers of nStatus with exactly this body (an empty one too).
    void AnswerNext(EngineRoute eRoute, int nTimes, int nStatus, const std::string &strBody);
    // nTimes requests held without an answer (EngineScript::bStall).
    void StallNext(EngineRoute eRoute, int nTimes = 1);
    // Ends the stalls in progress (their connections are closed unanswered).
    void ReleaseStalls();
    size_t StalledCount() const; // requests held by a stall right now
    // True once nCount requests are held by a stall at the same time.
    bool WaitForStalled(size_t nCount, int nTimeoutMs) const;
    void ClearScripts();

    void SetDiscard(bool bDiscard);

    // The web server's search export answers a search request record (family 14, type 169) with
    // these lines, each ending in a line break; none at first (an empty answer). A request
    // without "writer=1" or whose body is no such record gets a 400.
    void SetExportLines(const std::vector<std::string> &vecLines);

    // Appends every POST to an update handler (any core, also in discard mode) to strFile as it
    // arrives, in the format ReadRecordedUpdates reads; for benchmarks that replay exactly what a
    // client sent. Once ullMaxBytes would be passed, further requests are only counted as
    // skipped. Stop (or the destructor) flushes and closes the file. False with a reason when
    // the file cannot be created or a recording is already open.
    static constexpr unsigned long long kDefaultRecordLimit = 2ULL << 30;
    bool RecordUpdates(const std::string &strFile, std::string &strError,
                       unsigned long long ullMaxBytes = kDefaultRecordLimit);
    size_t RecordedCount() const;
    size_t RecordSkippedCount() const;

    // {"commits":N,"requests":N,"documents":{"<core>":[{field:value...}...]}}, documents by key.
    std::string DumpJson() const;

    // Engine-style answers, for scripts and for tests that compare.
    static std::string OkAnswer();
    static std::string ErrorAnswer(int nStatus, const std::string &strMessage);
    static std::string HtmlErrorPage(int nStatus, const std::string &strMessage);

    struct Impl;

private:
    std::unique_ptr<Impl> m_ptrImpl;
};

} // namespace idxtest

#include "tests/support/engine/EngineStub.h"

#include "tests/support/Utf8Text.h"
#include "tests/support/engine/EngineQuery.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/ContentIndexingMessages.h"

namespace idxtest {

namespace {

const char *const kXmlType = "application/xml; charset=UTF-8";
const char *const kJsonType = "application/json; charset=UTF-8";
const char *const kKeyField = "contentid";

bool EqualsNoCase(const std::string &strA, const std::string &strB) {
    return strA.size() == strB.size() &&
           std::equal(strA.begin(), strA.end(), strB.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool ContainsNoCase(const std::string &strText, const std::string &strPart) {
    return std::search(strText.begin(), strText.end(), strPart.begin(), strPart.end(),
                       [](char a, char b) {
                           return std::tolower(static_cast<unsigned char>(a)) ==
                                  std::tolower(static_cast<unsigned char>(b));
                       }) != strText.end();
}

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

std::string PercentDecode(const std::string &strText) {
    std::string strOut;
    for (size_t i = 0; i < strText.size(); ++i) {
        char c = strText[i];
        if (c == '+') {
            strOut += ' ';
        } else if (c == '%' && i + 2 < strText.size() &&
                   std::isxdigit(static_cast<unsigned char>(strText[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(strText[i + 2]))) {
            strOut += static_cast<char>(std::stoi(strText.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            strOut += c;
        }
    }
    return strOut;
}

std::vector<std::pair<std::string, std::string>> ParseForm(const std::string &strText) {
    std::vector<std::pair<std::string, std::string>> vecOut;
    size_t nPos = 0;
    while (nPos <= strText.size() && !strText.empty()) {
        size_t nEnd = strText.find('&', nPos);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strPair = strText.substr(nPos, nEnd - nPos);
        if (!strPair.empty()) {
            size_t nEq = strPair.find('=');
            if (nEq == std::string::npos) {
                vecOut.emplace_back(PercentDecode(strPair), std::string());
            } else {
                vecOut.emplace_back(PercentDecode(strPair.substr(0, nEq)),
                                    PercentDecode(strPair.substr(nEq + 1)));
            }
        }
        nPos = nEnd + 1;
    }
    return vecOut;
}

// Checks that the bytes are UTF-8 and every character is allowed in XML 1.0, as a conforming
// parser does before it looks at the markup.
bool CheckXmlText(const std::string &strText, std::string &strError) {
    strError = XmlTextProblem(strText);
    return strError.empty();
}

bool IsBlank(const char *szText) {
    for (; *szText; ++szText) {
        if (!std::isspace(static_cast<unsigned char>(*szText)))
            return false;
    }
    return true;
}

// One field of a document in an update request: no update attribute, "set" or "add".
struct FieldUpdate {
    std::string strName;
    std::string strOp;
    std::string strValue;
};

struct DocUpdate {
    std::string strKey;
    bool bAtomic = false;
    std::vector<FieldUpdate> vecFields;
};

struct UpdateCommand {
    enum Kind { Add, Commit, Delete } eKind = Add;
    std::vector<DocUpdate> vecDocs;
    std::vector<EngineQuery> vecQueries;
    std::vector<std::string> vecIds;
};

// Text of an element that may hold only character data and CDATA sections.
bool ElementText(const pugi::xml_node &node, std::string &strText, std::string &strError) {
    strText.clear();
    for (const pugi::xml_node &child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            strText += child.value();
        } else if (child.type() == pugi::node_element) {
            strError = std::string("Unexpected element <") + child.name() + "> inside <" +
                       node.name() + ">";
            return false;
        }
    }
    return CheckXmlText(strText, strError);
}

bool OnlyElementsNamed(const pugi::xml_node &node, const std::set<std::string> &setNames,
                       std::string &strError) {
    for (const pugi::xml_node &child : node.children()) {
        if (child.type() == pugi::node_element && setNames.count(child.name()) == 0) {
            strError = std::string("Unexpected element <") + child.name() + "> inside <" +
                       node.name() + ">";
            return false;
        }
        if ((child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) &&
            !IsBlank(child.value())) {
            strError = std::string("Unexpected text inside <") + node.name() + ">";
            return false;
        }
    }
    return true;
}

bool ParseDoc(const pugi::xml_node &nodeDoc, DocUpdate &doc, std::string &strError) {
    if (!OnlyElementsNamed(nodeDoc, {"field"}, strError))
        return false;
    bool bHasKey = false;
    for (const pugi::xml_node &nodeField : nodeDoc.children("field")) {
        FieldUpdate field;
        field.strName = nodeField.attribute("name").value();
        if (field.strName.empty()) {
            strError = "A <field> element has no name attribute";
            return false;
        }
        pugi::xml_attribute attrUpdate = nodeField.attribute("update");
        if (attrUpdate) {
            field.strOp = attrUpdate.value();
            if (field.strOp != "set" && field.strOp != "add") {
                strError =
                    "Unknown update operation '" + field.strOp + "' on field " + field.strName;
                return false;
            }
        }
        if (!ElementText(nodeField, field.strValue, strError))
            return false;
        if (field.strName == kKeyField) {
            if (!field.strOp.empty()) {
                strError = "The key field contentid cannot be updated atomically";
                return false;
            }
            if (bHasKey || field.strValue.empty()) {
                strError = "Document has a missing or repeated contentid";
                return false;
            }
            bHasKey = true;
            doc.strKey = field.strValue;
        }
        doc.bAtomic = doc.bAtomic || !field.strOp.empty();
        doc.vecFields.push_back(std::move(field));
    }
    if (!bHasKey) {
        strError = "Document is missing mandatory uniqueKey field: contentid";
        return false;
    }
    return true;
}

bool ParseUpdate(const std::string &strBody, UpdateCommand &cmd, std::string &strError) {
    if (strBody.empty()) {
        strError = "missing content stream";
        return false;
    }
    if (!CheckXmlText(strBody, strError))
        return false;
    pugi::xml_document xml;
    pugi::xml_parse_result result =
        xml.load_buffer(strBody.data(), strBody.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
        strError = std::string("Unparseable XML: ") + result.description() + " at offset " +
                   std::to_string(result.offset);
        return false;
    }
    pugi::xml_node nodeRoot;
    for (const pugi::xml_node &child : xml.children()) {
        if (child.type() == pugi::node_element) {
            if (nodeRoot) {
                strError = "More than one root element";
                return false;
            }
            nodeRoot = child;
        } else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            strError = "Text outside the root element";
            return false;
        }
    }
    std::string strRoot = nodeRoot ? nodeRoot.name() : "";
    if (strRoot == "add") {
        cmd.eKind = UpdateCommand::Add;
        if (!OnlyElementsNamed(nodeRoot, {"doc"}, strError))
            return false;
        for (const pugi::xml_node &nodeDoc : nodeRoot.children("doc")) {
            cmd.vecDocs.emplace_back();
            if (!ParseDoc(nodeDoc, cmd.vecDocs.back(), strError))
                return false;
        }
        return true;
    }
    if (strRoot == "commit") {
        cmd.eKind = UpdateCommand::Commit;
        return OnlyElementsNamed(nodeRoot, {}, strError);
    }
    if (strRoot == "delete") {
        cmd.eKind = UpdateCommand::Delete;
        if (!OnlyElementsNamed(nodeRoot, {"query", "id"}, strError))
            return false;
        for (const pugi::xml_node &child : nodeRoot.children()) {
            if (child.type() != pugi::node_element)
                continue;
            std::string strText;
            if (!ElementText(child, strText, strError))
                return false;
            if (std::string(child.name()) == "id") {
                cmd.vecIds.push_back(strText);
            } else {
                cmd.vecQueries.emplace_back();
                if (!ParseEngineQuery(strText, cmd.vecQueries.back(), strError))
                    return false;
            }
        }
        return true;
    }
    strError = strRoot.empty() ? std::string("No root element") : "Unexpected <" + strRoot + ">";
    return false;
}

// The stand-in has no schema: a value that reads as a whole number is answered as a JSON number
// (so that "CollectId" and "CollectOffset" come back typed), anything else as a string.
nlohmann::json TypedValue(const std::string &strValue) {
    bool bInteger = !strValue.empty() && strValue.size() <= 20;
    size_t nStart = (bInteger && strValue[0] == '-') ? 1 : 0;
    bInteger = bInteger && nStart < strValue.size() &&
               (strValue[nStart] != '0' || strValue.size() == nStart + 1) &&
               std::all_of(strValue.begin() + static_cast<std::ptrdiff_t>(nStart), strValue.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
    if (bInteger) {
        errno = 0;
        if (nStart == 0) {
            unsigned long long ullValue = std::strtoull(strValue.c_str(), nullptr, 10);
            if (errno == 0)
                return ullValue;
        } else {
            long long llValue = std::strtoll(strValue.c_str(), nullptr, 10);
            if (errno == 0)
                return llValue;
        }
    }
    return strValue;
}

nlohmann::json DocumentJson(const EngineDocument &doc, const std::set<std::string> &setFields) {
    nlohmann::json jsonDoc = nlohmann::json::object();
    for (const auto &[strName, vecValues] : doc.mapFields) {
        if (!setFields.empty() && setFields.count(strName) == 0)
            continue;
        if (vecValues.size() == 1 && doc.setMultiValued.count(strName) == 0) {
            jsonDoc[strName] = TypedValue(vecValues[0]);
        } else {
            nlohmann::json jsonValues = nlohmann::json::array();
            for (const std::string &strValue : vecValues)
                jsonValues.push_back(TypedValue(strValue));
            jsonDoc[strName] = jsonValues;
        }
    }
    return jsonDoc;
}

std::string DumpJsonText(const nlohmann::json &json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string JsonError(int nStatus, const std::string &strMessage) {
    nlohmann::json json = {{"responseHeader", {{"status", nStatus}, {"QTime", 0}}},
                           {"error", {{"msg", strMessage}, {"code", nStatus}}}};
    return DumpJsonText(json);
}

// A dropped connection: httplib does not hand the socket to a handler, so the handler finds its
// connection by the kernel's socket tables and shuts it down. httplib's answer then fails to write
// and httplib closes the descriptor itself. Only names are read (the socket's inode from the TCP
// table, then the fd links that name it): the other descriptors belong to threads that may close
// them at any moment, so none but our own is ever used.
bool ShutdownConnection(int nLocalPort, int nPeerPort) {
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
        return false;
    const std::string strTarget = "socket:[" + std::to_string(nInode) + "]";
    DIR *pDir = opendir("/proc/self/fd");
    if (pDir == nullptr)
        return false;
    bool bFound = false;
    while (dirent *pEntry = readdir(pDir)) {
        char *pEnd = nullptr;
        long nFd = std::strtol(pEntry->d_name, &pEnd, 10);
        if (*pEnd != '\0' || pEnd == pEntry->d_name)
            continue;
        char szLink[64];
        std::string strPath = std::string("/proc/self/fd/") + pEntry->d_name;
        ssize_t nLength = readlink(strPath.c_str(), szLink, sizeof szLink - 1);
        if (nLength > 0 && strTarget.compare(0, std::string::npos, szLink, nLength) == 0) {
            bFound = shutdown(static_cast<int>(nFd), SHUT_RDWR) == 0;
            break;
        }
    }
    closedir(pDir);
    return bFound;
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

struct Answer {
    int nStatus = 200;
    std::string strBody;
    std::string strType = kXmlType;
};

Answer XmlError(int nStatus, const std::string &strMessage) {
    return {nStatus, EngineStub::ErrorAnswer(nStatus, strMessage), kXmlType};
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

std::string EngineRequest::Header(const std::string &strName) const {
    for (const auto &[strKey, strValue] : vecHeaders) {
        if (EqualsNoCase(strKey, strName))
            return strValue;
    }
    return std::string();
}

std::string EngineRequest::Param(const std::string &strName) const {
    for (const auto &[strKey, strValue] : vecParams) {
        if (strKey == strName)
            return strValue;
    }
    return std::string();
}

bool EngineRequest::HasParam(const std::string &strName) const {
    return std::any_of(vecParams.begin(), vecParams.end(),
                       [&](const auto &pair) { return pair.first == strName; });
}

std::string EngineDocument::Value(const std::string &strName) const {
    auto it = mapFields.find(strName);
    return it == mapFields.end() || it->second.empty() ? std::string() : it->second.front();
}

std::vector<std::string> EngineDocument::Values(const std::string &strName) const {
    auto it = mapFields.find(strName);
    return it == mapFields.end() ? std::vector<std::string>() : it->second;
}

// Set by the handler for the answer it is about to write, so that the error hook can tell its
// answers from those httplib gives on its own.
thread_local bool t_bAnsweredByHandler = false;

// The listening socket is needed after bind: httplib listens with a backlog of five (fixed when
// the library was compiled), and a burst of clients connecting at once then waits a second for a
// SYN retransmit. Listening again on the bound socket raises the backlog.
class EngineHttpServer : public httplib::Server {
public:
    int ListeningSocket() const { return svr_sock_; }
};

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

struct EngineStub::Impl {
    EngineHttpServer server;
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
    Answer Serve(const EngineRequest &request);
    Answer ServeUpdate(const EngineRequest &request);
    Answer ServeExtract(const EngineRequest &request);
    Answer ServeSelect(const EngineRequest &request);
    Answer ServeExport(const EngineRequest &request);
};

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
    if (script && script->nDelayMs > 0) {
        std::unique_lock<std::mutex> lock(mtx);
        cvStop.wait_for(lock, std::chrono::milliseconds(script->nDelayMs),
                        [this] { return bStopping; });
    }

    bool bDrop = script && script->bDrop;
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
    if (bDrop) {
        ShutdownConnection(nPort, req.remote_port);
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
    for (size_t i = 0; i < request.vecParams.size(); ++i) {
        if (!IsValidUtf8(request.vecParams[i].first) || !IsValidUtf8(request.vecParams[i].second)) {
            return XmlError(400, "Invalid UTF-8 in request parameter " + std::to_string(i + 1) +
                                     " after percent-decoding");
        }
    }
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

Answer EngineStub::Impl::ServeUpdate(const EngineRequest &request) {
    std::string strType = request.Header("Content-Type");
    if (!ContainsNoCase(strType, "xml")) {
        return XmlError(400, "Unsupported ContentType: '" + strType +
                                 "' Not in: [application/xml, text/xml]");
    }
    UpdateCommand cmd;
    std::string strError;
    if (!ParseUpdate(request.strBody, cmd, strError))
        return XmlError(400, strError);

    std::lock_guard<std::mutex> lock(mtx);
    if (cmd.eKind == UpdateCommand::Commit) {
        ++mapCommits[request.strCore];
        return {200, OkAnswer(), kXmlType};
    }
    if (bDiscard)
        return {200, OkAnswer(), kXmlType};
    std::map<std::string, EngineDocument> &mapDocs = mapCores[request.strCore];
    if (cmd.eKind == UpdateCommand::Delete) {
        for (const std::string &strId : cmd.vecIds)
            mapDocs.erase(strId);
        for (const EngineQuery &query : cmd.vecQueries) {
            for (auto it = mapDocs.begin(); it != mapDocs.end();) {
                it = MatchesEngineQuery(it->second, query) ? mapDocs.erase(it) : std::next(it);
            }
        }
        return {200, OkAnswer(), kXmlType};
    }
    for (const DocUpdate &update : cmd.vecDocs) {
        // A document without update attributes replaces the stored one; an atomic update
        // changes only the fields it names. Several "set" of one name in a document make a list.
        EngineDocument doc = update.bAtomic ? mapDocs[update.strKey] : EngineDocument();
        std::set<std::string> setReplaced;
        for (const FieldUpdate &field : update.vecFields) {
            std::vector<std::string> &vecValues = doc.mapFields[field.strName];
            if (field.strOp == "add") {
                doc.setMultiValued.insert(field.strName);
            } else if (setReplaced.insert(field.strName).second) {
                vecValues.clear();
            }
            vecValues.push_back(field.strValue);
        }
        doc.mapFields[kKeyField] = {update.strKey};
        mapDocs[update.strKey] = std::move(doc);
    }
    return {200, OkAnswer(), kXmlType};
}

Answer EngineStub::Impl::ServeExtract(const EngineRequest &request) {
    EngineDocument doc;
    for (const auto &[strKey, strValue] : request.vecParams) {
        if (strKey.compare(0, 8, "literal.") == 0 && strKey.size() > 8) {
            doc.mapFields[strKey.substr(8)].push_back(strValue);
        }
    }
    const std::vector<std::string> vecKey = doc.Values(kKeyField);
    if (vecKey.size() != 1 || vecKey[0].empty()) {
        return XmlError(400, "Document is missing mandatory uniqueKey field: contentid");
    }
    doc.strContent = request.strBody;
    doc.bExtracted = true;
    std::lock_guard<std::mutex> lock(mtx);
    if (!bDiscard)
        mapCores[request.strCore][vecKey[0]] = std::move(doc);
    return {200, OkAnswer(), kXmlType};
}

Answer EngineStub::Impl::ServeSelect(const EngineRequest &request) {
    if (request.Param("wt") != "json") {
        return XmlError(400, "This stand-in answers select with wt=json only");
    }
    auto Error = [](const std::string &strMessage) {
        return Answer{400, JsonError(400, strMessage), kJsonType};
    };
    std::vector<EngineQuery> vecFilters(1);
    std::string strError;
    if (!request.HasParam("q"))
        return Error("no query given (q)");
    if (!ParseEngineQuery(request.Param("q"), vecFilters[0], strError))
        return Error(strError);
    for (const auto &[strKey, strValue] : request.vecParams) {
        if (strKey != "fq")
            continue;
        vecFilters.emplace_back();
        if (!ParseEngineQuery(strValue, vecFilters.back(), strError))
            return Error(strError);
    }
    std::vector<EngineSortKey> vecSort;
    if (!ParseEngineSort(request.Param("sort"), vecSort, strError))
        return Error(strError);
    long nRows = 10, nStart = 0;
    for (auto [szName, pnValue] :
         {std::make_pair("rows", &nRows), std::make_pair("start", &nStart)}) {
        if (!request.HasParam(szName))
            continue;
        std::string strValue = request.Param(szName);
        char *pEnd = nullptr;
        *pnValue = std::strtol(strValue.c_str(), &pEnd, 10);
        if (strValue.empty() || *pEnd != '\0' || *pnValue < 0) {
            return Error(std::string("Invalid ") + szName + ": '" + strValue + "'");
        }
    }
    std::set<std::string> setFields;
    std::string strFl = request.Param("fl");
    std::replace(strFl.begin(), strFl.end(), ',', ' ');
    for (size_t nPos = 0; nPos < strFl.size();) {
        size_t nEnd = std::min(strFl.find(' ', nPos), strFl.size());
        std::string strName = strFl.substr(nPos, nEnd - nPos);
        if (strName == "*")
            setFields.clear();
        if (strName == "*")
            break;
        if (!strName.empty())
            setFields.insert(strName);
        nPos = nEnd + 1;
    }

    std::vector<EngineDocument> vecHits;
    {
        std::lock_guard<std::mutex> lock(mtx);
        auto itCore = mapCores.find(request.strCore);
        if (itCore != mapCores.end()) {
            for (const auto &entry : itCore->second) {
                bool bMatch = std::all_of(vecFilters.begin(), vecFilters.end(),
                                          [&](const EngineQuery &query) {
                                              return MatchesEngineQuery(entry.second, query);
                                          });
                if (bMatch)
                    vecHits.push_back(entry.second);
            }
        }
    }
    SortEngineDocuments(vecHits, vecSort);
    nlohmann::json jsonDocs = nlohmann::json::array();
    size_t nFirst = std::min(vecHits.size(), static_cast<size_t>(nStart));
    size_t nLast = nFirst + std::min(vecHits.size() - nFirst, static_cast<size_t>(nRows));
    for (size_t i = nFirst; i < nLast; ++i)
        jsonDocs.push_back(DocumentJson(vecHits[i], setFields));
    nlohmann::json json = {
        {"responseHeader", {{"status", 0}, {"QTime", 0}}},
        {"response", {{"numFound", vecHits.size()}, {"start", nStart}, {"docs", jsonDocs}}}};
    return {200, DumpJsonText(json), kJsonType};
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

std::map<std::string, EngineDocument> EngineStub::Documents(const std::string &strCore) const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    auto it = m_ptrImpl->mapCores.find(strCore);
    return it == m_ptrImpl->mapCores.end() ? std::map<std::string, EngineDocument>() : it->second;
}

std::optional<EngineDocument> EngineStub::Document(const std::string &strKey,
                                                   const std::string &strCore) const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    auto itCore = m_ptrImpl->mapCores.find(strCore);
    if (itCore == m_ptrImpl->mapCores.end())
        return std::nullopt;
    auto it = itCore->second.find(strKey);
    if (it == itCore->second.end())
        return std::nullopt;
    return it->second;
}

size_t EngineStub::DocumentCount(const std::string &strCore) const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    auto it = m_ptrImpl->mapCores.find(strCore);
    return it == m_ptrImpl->mapCores.end() ? 0 : it->second.size();
}

void EngineStub::PutDocument(const std::map<std::string, std::string> &mapFields,
                             const std::string &strCore) {
    auto itKey = mapFields.find(kKeyField);
    if (itKey == mapFields.end())
        throw std::invalid_argument("PutDocument needs a contentid");
    EngineDocument doc;
    for (const auto &[strName, strValue] : mapFields)
        doc.mapFields[strName] = {strValue};
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    m_ptrImpl->mapCores[strCore][itKey->second] = std::move(doc);
}

void EngineStub::ClearDocuments() {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    m_ptrImpl->mapCores.clear();
    m_ptrImpl->mapCommits.clear();
}

int EngineStub::CommitCount(const std::string &strCore) const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    int nCount = 0;
    for (const auto &[strName, nCommits] : m_ptrImpl->mapCommits) {
        if (strCore.empty() || strCore == strName)
            nCount += nCommits;
    }
    return nCount;
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

std::string EngineStub::DumpJson() const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    int nCommits = 0;
    for (const auto &entry : m_ptrImpl->mapCommits)
        nCommits += entry.second;
    nlohmann::json jsonCores = nlohmann::json::object();
    for (const auto &[strCore, mapDocs] : m_ptrImpl->mapCores) {
        nlohmann::json jsonDocs = nlohmann::json::array();
        for (const auto &entry : mapDocs)
            jsonDocs.push_back(DocumentJson(entry.second, {}));
        jsonCores[strCore] = jsonDocs;
    }
    nlohmann::json json = {
        {"commits", nCommits}, {"requests", m_ptrImpl->nReceived}, {"documents", jsonCores}};
    return DumpJsonText(json);
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

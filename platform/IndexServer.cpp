// The stand-in index server: the record of what the connections and the archive-manager client
// were given, the connections themselves and the archive manager's answers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <boost/interprocess/exceptions.hpp>
#include <nlohmann/json.hpp>

#include "platform/ArMgrClientAPI.h"
#include "platform/Clock.h"
#include "platform/IndexServerStore.h"
#include "platform/IndexingConnection.h"
#include "platform/LogWriter.h"

namespace {

// What the index server answers a call it refuses on its own (out of order, bad argument).
const int kRefused = 87;

nlohmann::json HeaderAsJson(const CXFileHeader &header) {
    // The name is bounded by its field even when a caller left no terminating zero.
    const size_t nNameLength = strnlen(header.szName, CXFileHeader::kNameCapacity);
    return {{"headerType", header.nHeaderType},
            {"headerFlags", header.nHeaderFlags},
            {"deleted", header.nDeleted},
            {"nameLength", header.nNameLength},
            {"mode", header.ullMode},
            {"linkCount", header.ullLinkCount},
            {"compressedState", header.nCompressedState},
            {"attributes", header.nAttributes},
            {"flags", header.ullFlags},
            {"size", header.ullSize},
            {"modificationTime", header.llModificationTime},
            {"changeTime", header.llChangeTime},
            {"pathDelimiter", header.nPathDelimiter},
            {"validFields", header.nValidFields},
            {"changeTimeRest", header.nChangeTimeRest},
            {"flags2", header.nFlags2},
            {"modificationRest", header.nModificationRest},
            {"accessTime", header.nAccessTime},
            {"clientOSId", header.nClientOSId},
            {"name", std::string(header.szName, nNameLength)}};
}

std::string RecordAsXml(const std::shared_ptr<CNMessageBase> &ptrRecord) {
    std::string strXml;
    if (ptrRecord) {
        ptrRecord->serialize(strXml, false);
    }
    return strXml;
}

// Items' names and tokens come from outside and need not be valid UTF-8: such bytes are replaced
// in the log file rather than making the write fail.
std::string CallAsJsonLine(const CIndexServerCall &call, long long llSequence) {
    nlohmann::json line = {
        {"seq", llSequence},
        {"timeMs", (CTimeStamp::Now().GetTicks() - CTimeStamp::kUnixEpochTicks) / 10000},
        {"connection", call.nConnection},
        {"call", call.strCall},
        {"result", call.nResult},
        {"numbers", call.vecNumbers},
        {"texts", call.vecTexts}};
    if (call.bHeader) {
        line["header"] = HeaderAsJson(call.header);
    }
    if (call.ptrRecord) {
        line["record"] = RecordAsXml(call.ptrRecord);
    }
    if (call.ptrDbInfo) {
        line["dbInfo"] = RecordAsXml(call.ptrDbInfo);
    }
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

uint64_t Signed(int64_t llValue) {
    return static_cast<uint64_t>(llValue);
}

} // namespace

// ---- the record ----

CIndexServerStore &CIndexServerStore::Instance() {
    static CIndexServerStore s_store;
    return s_store;
}

int CIndexServerStore::NewConnection() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nFailConstructionSkip == 0) {
        m_nFailConstructionSkip = -1;
        return 0;
    }
    if (m_nFailConstructionSkip > 0) {
        --m_nFailConstructionSkip;
    }
    return ++m_nConnections;
}

int CIndexServerStore::ScriptedResult(const std::string &strCall) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_lstScripts.begin(); it != m_lstScripts.end(); ++it) {
        if (it->strCall != strCall) {
            continue;
        }
        if (it->bEvery) {
            return it->nResult;
        }
        if (it->nSkip > 0) {
            --it->nSkip;
            return 0;
        }
        const int nResult = it->nResult;
        m_lstScripts.erase(it);
        return nResult;
    }
    return 0;
}

void CIndexServerStore::Record(CIndexServerCall call) {
    std::function<void(const CIndexServerCall &)> fnObserver;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        fnObserver = m_fnObserver;
        const long long llSequence = ++m_llSequence;
        const char *szFile = getenv("IDX_INDEX_SERVER_LOG");
        if (szFile == nullptr || *szFile == '\0') {
            if (m_dqCalls.size() >= kMaxCallsKept) {
                m_dqCalls.pop_front();
                ++m_llDroppedCalls;
            }
            m_dqCalls.push_back(call);
        } else {
            const std::string strLine = CallAsJsonLine(call, llSequence);
            m_logFile.Append(szFile, strLine);
        }
    }
    if (fnObserver) {
        fnObserver(call);
    }
}

GetAfileInfoRetCC_t CIndexServerStore::AfileInfoReply(const GetAfileInfoArgsCC_t &args) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bHaveAfileReply) {
        return m_afileReply;
    }
    GetAfileInfoRetCC_t reply;
    reply.ullAfileId = args.ullAfileId;
    return reply;
}

void CIndexServerStore::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_dqCalls.clear();
    m_llDroppedCalls = 0;
    m_llSequence = 0;
    m_nConnections = 0;
    m_lstScripts.clear();
    m_nFailConstructionSkip = -1;
    m_bHaveAfileReply = false;
    m_afileReply = GetAfileInfoRetCC_t();
    m_fnObserver = nullptr;
    m_logFile.Reset();
}

std::vector<CIndexServerCall> CIndexServerStore::Calls() {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::vector<CIndexServerCall>(m_dqCalls.begin(), m_dqCalls.end());
}

long long CIndexServerStore::DroppedCalls() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_llDroppedCalls;
}

int CIndexServerStore::ConnectionsMade() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nConnections;
}

void CIndexServerStore::FailCall(const std::string &strCall, int nOccurrence, int nResult,
                                 bool bEvery) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lstScripts.push_back(CScript{strCall, nOccurrence > 1 ? nOccurrence - 1 : 0,
                                   nResult == 0 ? 1 : nResult, bEvery});
}

void CIndexServerStore::FailConstruction(int nOccurrence) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nFailConstructionSkip = nOccurrence > 1 ? nOccurrence - 1 : 0;
}

void CIndexServerStore::SetAfileInfoReply(const GetAfileInfoRetCC_t &reply) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bHaveAfileReply = true;
    m_afileReply = reply;
}

void CIndexServerStore::SetObserver(std::function<void(const CIndexServerCall &)> fnObserver) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_fnObserver = std::move(fnObserver);
}

// ---- the connection ----

namespace {

int NewConnectionOrThrow() {
    const int nConnection = CIndexServerStore::Instance().NewConnection();
    if (nConnection == 0) {
        throw boost::interprocess::bad_alloc();
    }
    return nConnection;
}

} // namespace

IndexingConnection::IndexingConnection()
    : m_nConnection(NewConnectionOrThrow()), m_bInitialized(false), m_ullHeadersAccepted(0) {}

IndexingConnection::~IndexingConnection() = default;

template <class Fill>
int IndexingConnection::Call(const char *szCall, bool bNeedsInitialize, Fill fnFill) {
    CIndexServerCall call;
    call.nConnection = m_nConnection;
    call.strCall = szCall;
    // fnFill copies the arguments and answers whether the index server takes them.
    const bool bValid = fnFill(call);
    int nResult = CIndexServerStore::Instance().ScriptedResult(call.strCall);
    if (nResult == 0 && (!bValid || (bNeedsInitialize && !m_bInitialized))) {
        nResult = kRefused;
    }
    call.nResult = nResult;
    CIndexServerStore::Instance().Record(std::move(call));
    return nResult;
}

int IndexingConnection::initialize(uint64_t ullFleetId, uint64_t ullApplicationNumber,
                                   uint64_t ullAppType, int32_t nBackupLevel,
                                   const char *szJobToken, const char *szIndexServerMangledName,
                                   const char *szIndexServerClientName,
                                   uint64_t ullConnectionFlags) {
    const int nResult = Call("initialize", false, [&](CIndexServerCall &call) {
        call.vecNumbers = {ullFleetId, ullApplicationNumber, ullAppType, Signed(nBackupLevel),
                           ullConnectionFlags};
        call.vecTexts = {szJobToken ? szJobToken : "",
                         szIndexServerMangledName ? szIndexServerMangledName : "",
                         szIndexServerClientName ? szIndexServerClientName : ""};
        return szJobToken != nullptr && szIndexServerMangledName != nullptr &&
               szIndexServerClientName != nullptr;
    });
    if (nResult == 0) {
        m_bInitialized = true;
    }
    return nResult;
}

int IndexingConnection::setStreamJobId(int64_t llSnapJobId) {
    return Call("setStreamJobId", true, [&](CIndexServerCall &call) {
        call.vecNumbers = {Signed(llSnapJobId)};
        return true;
    });
}

int IndexingConnection::sendAfileInfo(ArchiveFileId_t *pAfileId, bool bFinal,
                                      uint64_t ullReplyValue, uint64_t ullAfileFlags,
                                      uint32_t nApplicationNumber, int64_t llSnapJobId,
                                      int nReserved) {
    return Call("sendAfileInfo", true, [&](CIndexServerCall &call) {
        if (pAfileId == nullptr) {
            return false;
        }
        call.vecNumbers = {pAfileId->nFleetId, pAfileId->nIdentifier, pAfileId->nAfileId,
                           bFinal ? 1u : 0u,   ullReplyValue,         ullAfileFlags,
                           nApplicationNumber, Signed(llSnapJobId),   Signed(nReserved)};
        return true;
    });
}

int IndexingConnection::sendAfileInfo(ArchiveFileId_t *pAfileId, bool bFinal,
                                      uint64_t ullReplyValue, uint64_t ullAfileFlags) {
    return Call("sendAfileInfo", true, [&](CIndexServerCall &call) {
        if (pAfileId == nullptr) {
            return false;
        }
        call.vecNumbers = {pAfileId->nFleetId, pAfileId->nIdentifier, pAfileId->nAfileId,
                           bFinal ? 1u : 0u,   ullReplyValue,         ullAfileFlags};
        return true;
    });
}

int IndexingConnection::sendMetaDataInfo(IdxMetadata::IdxMetaData *pMetadata) {
    return Call("sendMetaDataInfo", true, [&](CIndexServerCall &call) {
        if (pMetadata == nullptr) {
            return false;
        }
        call.ptrRecord = std::make_shared<CNMessageBase>(*pMetadata);
        return true;
    });
}

int IndexingConnection::sendFileInfo(CXFileHeader *pHeader, uint64_t ullSequence, void *pReserved,
                                     int nReserved) {
    const int nResult = Call("sendFileInfo", true, [&](CIndexServerCall &call) {
        call.vecNumbers = {ullSequence, Signed(nReserved)};
        if (pHeader == nullptr) {
            return false;
        }
        call.bHeader = true;
        call.header = *pHeader;
        // The sequence numbers of one connection run 0, 1, 2, ... over the headers it accepted.
        return ullSequence == m_ullHeadersAccepted && pReserved == nullptr;
    });
    if (nResult == 0) {
        ++m_ullHeadersAccepted;
    }
    return nResult;
}

int IndexingConnection::sendFileInfoV2(IdxMetadata::IdxDbInfo &dbInfo,
                                       Indexing::IdxCommand &command) {
    return Call("sendFileInfoV2", true, [&](CIndexServerCall &call) {
        call.ptrRecord = std::make_shared<CNMessageBase>(command);
        call.ptrDbInfo = std::make_shared<CNMessageBase>(dbInfo);
        return true;
    });
}

int IndexingConnection::updateRestartInfo(int nReserved) {
    return Call("updateRestartInfo", true, [&](CIndexServerCall &call) {
        call.vecNumbers = {Signed(nReserved)};
        return true;
    });
}

int IndexingConnection::backupDone(int nFinal) {
    return Call("backupDone", true, [&](CIndexServerCall &call) {
        call.vecNumbers = {Signed(nFinal)};
        return true;
    });
}

// ---- the archive manager ----

int ArMgrClientAPI::getAfileInfo(GetAfileInfoArgsCC_t *pArgs, GetAfileInfoRetCC_t *pReply) {
    CIndexServerStore &store = CIndexServerStore::Instance();
    CIndexServerCall call;
    call.strCall = "getAfileInfo";
    int nResult = store.ScriptedResult(call.strCall);
    if (pArgs == nullptr || pReply == nullptr) {
        nResult = nResult != 0 ? nResult : kRefused;
    } else {
        call.vecNumbers = {pArgs->ullAfileId, pArgs->ullReserved, pArgs->ullFleetId};
        if (nResult == 0) {
            *pReply = store.AfileInfoReply(*pArgs);
        }
    }
    call.nResult = nResult;
    store.Record(std::move(call));
    return nResult;
}

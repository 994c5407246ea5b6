// The index server of the process as the stand-in connections and archive-manager client see it:
// every call they were given (deep copies), the answers tests have scripted, and the file named
// by IDX_INDEX_SERVER_LOG. Internal to the platform; tests reach it through
// platform/testing/IndexServer.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ArMgrTypes.h"
#include "platform/FileHeader.h"
#include "platform/MessageRecords.h"
#include "platform/OperatorRecordFile.h"

// One call as the index server received it.
struct CIndexServerCall {
    // The connection that made the call (1 for the first one made since the reset); 0 for the
    // archive manager's getAfileInfo.
    int nConnection = 0;
    std::string strCall; // the operation's name, e.g. "sendFileInfo"
    int nResult = 0;     // what the caller was answered
    // The numeric arguments in the operation's order (a flag as 0 or 1, a signed value as its
    // two's complement); for sendAfileInfo the identifier's three words come first.
    std::vector<uint64_t> vecNumbers;
    std::vector<std::string> vecTexts; // the text arguments in order
    bool bHeader = false;              // sendFileInfo: the header as given
    CXFileHeader header;
    // sendMetaDataInfo: the metadata message; sendFileInfoV2: the index command and the
    // database information.
    std::shared_ptr<CNMessageBase> ptrRecord;
    std::shared_ptr<CNMessageBase> ptrDbInfo;
};

class CIndexServerStore {
public:
    static CIndexServerStore &Instance();

    // Enough for any one test; a long job without a log file stays within a few megabytes.
    static constexpr size_t kMaxCallsKept = 10000;

    // A new connection's number, or 0 when a scripted failure says it cannot be made.
    int NewConnection();
    // The scripted answer for the next call named strCall (0 when none is scripted).
    int ScriptedResult(const std::string &strCall);
    // Keeps the call (or appends it to the log file when one is named), then runs the test's
    // observer, outside the lock, on the calling thread.
    void Record(CIndexServerCall call);
    GetAfileInfoRetCC_t AfileInfoReply(const GetAfileInfoArgsCC_t &args);

    // Test controls (platform/testing/IndexServer.h).
    void Reset();
    std::vector<CIndexServerCall> Calls();
    long long DroppedCalls();
    int ConnectionsMade();
    void FailCall(const std::string &strCall, int nOccurrence, int nResult, bool bEvery);
    void FailConstruction(int nOccurrence);
    void SetAfileInfoReply(const GetAfileInfoRetCC_t &reply);
    void SetObserver(std::function<void(const CIndexServerCall &)> fnObserver);

private:
    struct CScript {
        std::string strCall;
        int nSkip; // matching calls to let pass first
        int nResult;
        bool bEvery;
    };

    std::mutex m_lock;
    std::deque<CIndexServerCall> m_dqCalls;
    long long m_llDroppedCalls = 0;
    long long m_llSequence = 0;
    int m_nConnections = 0;
    std::list<CScript> m_lstScripts;
    int m_nFailConstructionSkip = -1; // constructions to let pass first; -1 none scripted
    bool m_bHaveAfileReply = false;
    GetAfileInfoRetCC_t m_afileReply;
    std::function<void(const CIndexServerCall &)> m_fnObserver;
    CAppendedRecordFile m_logFile{"index-server calls"};
};

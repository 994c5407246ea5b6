// The job manager of the process as the stand-in clients see it: what the job was told, what
// tests have scripted it to answer, and the events file named by IDX_JOB_EVENTS. Internal to the
// platform; tests reach it through platform/testing/JobManager.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/OperatorRecordFile.h"

// One snapshot of the job as the job manager sees it.
struct CJobManagerRecord {
    long long llJobId = 1;
    std::string strJobToken = "1";
    bool bQuitFlag = false;

    // Offered by the backup-job client, not yet passed on with updateInfo.
    long long llOfferedFilesIndexed = 0;
    long long llOfferedContentIdxFailures = 0;
    long long llOfferedUnCompBytes = 0;
    bool bRestartStringOffered = false;
    std::string strOfferedRestartString;

    // What the job shows: the sums passed on by successful updateInfo calls.
    long long llFilesIndexed = 0;
    long long llContentIdxFailures = 0;
    long long llUnCompBytes = 0;
    std::string strRestartString;
    int nUpdateInfoCalls = 0;

    // The pending cause with its critical event.
    bool bPendingCause = false;
    uint32_t nPendingCauseMessageId = 0;
    std::vector<std::string> vecPendingCauseArguments;
    int nPendingCausesSet = 0;
    int nPendingCausesReset = 0;

    // The latest reports (at most CJobManagerStore::kMaxEventsKept), each the JSON object the
    // events file would get; kept only while no events file is named.
    std::deque<std::string> dqEvents;
    long long llDroppedEvents = 0; // older reports let go to keep the bound
    long long llLastSequence = 0;

    // Answers scripted by tests.
    bool bRefuseUnCompBytes = false;
    bool bRefuseUpdateInfo = false;
    bool bRefuseRestartString = false;
    std::map<int, std::string> mapTaskOptions;
};

class CJobManagerStore {
public:
    static CJobManagerStore &Instance();

    // Enough for any one test to read all it caused; a long job stays within a few megabytes.
    static constexpr size_t kMaxEventsKept = 10000;

    // Runs fn on the record under the store's lock and returns what it returns.
    template <class Fn> auto With(Fn fn) {
        std::lock_guard<std::mutex> guard(m_lock);
        return fn(m_record);
    }

    // Numbers and stamps one report ("event" names the client call) and appends it to the events
    // file, if one is named, or else keeps it in the record's bounded list. Called from within
    // With, on its record.
    void AppendEventLocked(CJobManagerRecord &record, nlohmann::json event);

    void Reset();

private:
    std::mutex m_lock;
    CJobManagerRecord m_record;
    CAppendedRecordFile m_eventsFile{"job events"};
};

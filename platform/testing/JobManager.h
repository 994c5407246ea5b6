// Test control of the job manager behind the job-manager clients (platform/JobClients.h): read
// what the job was told, set the quit flag and the job's identity, and script refusals. Never
// used by the library itself.
//
// An idxtest::JobManager instance resets the job manager when it is made and again when it goes
// out of scope, so every test starts from a job with id 1, token "1", no quit flag, no counts,
// no pending cause and no restart string. The events file (IDX_JOB_EVENTS) is never truncated.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "foundation/Export.h"

namespace idxtest {

// What the job shows and what it was told, at one moment.
struct JobManagerSnapshot {
    long long llJobId = 0;
    bool bQuitFlag = false;

    // Sums passed on to the job by successful updateInfo calls.
    long long llFilesIndexed = 0;
    long long llContentIdxFailures = 0;
    long long llUnCompBytes = 0;
    // Offered by the backup-job client since the last successful updateInfo.
    long long llOfferedFilesIndexed = 0;
    long long llOfferedContentIdxFailures = 0;
    long long llOfferedUnCompBytes = 0;
    int nUpdateInfoCalls = 0;

    // The restart string the job keeps (passed on by updateInfo).
    std::string strRestartString;

    bool bPendingCause = false;
    unsigned int nPendingCauseMessageId = 0;
    std::vector<std::string> vecPendingCauseArguments;
    int nPendingCausesSet = 0;
    int nPendingCausesReset = 0;

    // The latest reports in order (at most JobManager::MaxEventsKept()), each the JSON object
    // the events file would get. With an events file named (IDX_JOB_EVENTS) the file alone
    // keeps them and this stays empty.
    std::vector<std::string> vecEvents;
    // Older reports let go to keep vecEvents within its bound.
    long long llDroppedEvents = 0;
};

class IDX_EXPORT JobManager {
public:
    JobManager();
    ~JobManager();
    JobManager(const JobManager &) = delete;
    JobManager &operator=(const JobManager &) = delete;

    JobManagerSnapshot Snapshot() const;
    // The "event" names of the reports so far, in order (e.g. "addFilesIndexed").
    std::vector<std::string> EventNames() const;

    void SetQuitFlag(bool bSet);
    void SetJobId(long long llJobId);
    void SetJobToken(const std::string &strToken);
    // The restart string the job keeps, as a restarted job would find it.
    void SetRestartString(const std::string &strRestart);
    // A task option of the running job (EvTask::getOptionString); RemoveTaskOption drops it.
    void SetTaskOption(int nOptionId, const std::string &strValue);
    void RemoveTaskOption(int nOptionId);

    // Refusals stay in force until switched off.
    void RefuseUnCompBytes(bool bRefuse);
    void RefuseUpdateInfo(bool bRefuse);
    void RefuseRestartString(bool bRefuse);

    static void Reset();
    // How many of the latest reports the job manager keeps in memory.
    static size_t MaxEventsKept();
};

} // namespace idxtest

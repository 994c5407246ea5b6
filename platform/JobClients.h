// The hosting job's job-manager clients, as the library talks to them: the quit flag and the job's
// id from the job-control client; progress counts, pending causes with their critical event, the
// job token and the restart string through the backup-job client (which is also the job's
// TQJobClient and EvEvent); the running job's id and its task options for the search export.
//
// Every client reports to the one job manager of the process (platform/JobManagerStore.h). When
// the environment variable IDX_JOB_EVENTS names a file, it appends each report there as one JSON
// object a line; otherwise it keeps the latest reports in memory for tests
// (platform/testing/JobManager.h). Clients belong to the job; the library only borrows them and
// never deletes one.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Export.h"

// The job's access token: who the job runs as. The library keeps it and never looks inside.
class IDX_EXPORT FXAccessToken {
public:
    FXAccessToken() = default;
    explicit FXAccessToken(std::string strUserName) : m_strUserName(std::move(strUserName)) {}
    const std::string &GetUserName() const { return m_strUserName; }

private:
    std::string m_strUserName;
};

// The job's acknowledgement callback. The library stores one for the job and calls none of its
// operations.
class IDX_EXPORT CFSSolrAckCallbackInterface {
public:
    virtual ~CFSSolrAckCallbackInterface() = default;
};

// How getRestartString looks the restart string up: the string the job manager keeps for the
// running job is the only kind there is here.
enum JMRestartLookupType : int32_t { JM_RESTART_LOOKUP_JOB = 0 };

// Answers only the job's quit flag and its id.
class IDX_EXPORT TQJobCtrlClient {
public:
    TQJobCtrlClient() = default;
    virtual ~TQJobCtrlClient() = default;

    // Non-zero when the job has been asked to stop. Asked anew on every call.
    int checkQuitFlag();
    long long GetJobID();
};

// The job's event record: texts gathered with operator<< become the arguments of the next
// critical event the job raises (TQJobClient::setPendingCauseAndCriticalEvent), which consumes
// them.
class IDX_EXPORT EvEvent {
public:
    // The type number of a text argument.
    enum : int { kTextArgument = 11 };

    EvEvent() = default;
    EvEvent(const EvEvent &) = delete;
    EvEvent &operator=(const EvEvent &) = delete;
    virtual ~EvEvent() = default;

    void addArgument(const char *szText, int nType);
    EvEvent &operator<<(const char *szText) {
        addArgument(szText, kTextArgument);
        return *this;
    }

    // The id of the job this process runs.
    static long long getJobId();

protected:
    // The gathered arguments (type, text), emptied.
    std::vector<std::pair<int, std::string>> TakeArguments();

private:
    std::mutex m_lockArguments;
    std::vector<std::pair<int, std::string>> m_vecArguments;
};

// The task record of a job: the options the job was started with (option 120008 is the name of
// the user who started it).
class IDX_EXPORT EvTask {
public:
    enum : int { kOptionStartedByUser = 120008 };

    EvTask(long long llJobId, int nFlags, const void *pReserved, bool bReadOnly);

    // 0 with the option's text; non-zero, text untouched, when the job has no such option or the
    // task is not the running job's.
    int getOptionString(int nOptionId, std::string &strValue, const void *pReserved);

private:
    long long m_llJobId;
};

// The job's own client: its token, its pending cause and the restart string it keeps.
class IDX_EXPORT TQJobClient : public EvEvent {
public:
    TQJobClient() = default;

    // The job token; the text stays valid until the next call on this client.
    const char *GetJobToken();

    // Sets the job's pending cause and raises a critical event whose arguments are the texts
    // gathered with operator<<. The cause stands until resetPendingCause. Answers 0.
    int setPendingCauseAndCriticalEvent(uint32_t nMessageId, int32_t nMessageParam, bool bFailJob,
                                        int32_t nMessageType, bool bNotifyOnly,
                                        int32_t nAlertColourLevel, uint32_t nPendingCauseFlags,
                                        uint32_t nReserved1, uint32_t nReserved2);
    // Clears the pending cause (a no-op when none stands). Answers 0.
    int resetPendingCause(const std::list<std::string> *pCauses, uint32_t nPendingCauseFlags,
                          uint32_t nReserved);

    // The restart string the job manager keeps for the job (empty when none). Answers 0.
    int getRestartString(std::string &strRestart, JMRestartLookupType eLookupType);

private:
    std::string m_strJobToken;
};

// The backup job's client. Counts and the restart string are offered first and reach the job
// manager's view of the job with updateInfo.
class IDX_EXPORT TQBkpJobClient : public TQJobClient {
public:
    TQBkpJobClient() = default;

    int addFilesIndexed(long long llCount);
    int addContentIdxFileFailures(long lCount);
    // False when the job manager does not take the bytes; nothing is then offered.
    bool setUnCompBytesToAdd(long long llBytes);
    // False when the job manager refuses the text.
    bool setRestartString(const std::string &strRestart);
    // Passes what was offered on to the job; false when the job was not updated, and then the
    // offered values stay offered.
    bool updateInfo(bool bFinal, const void *pReserved);
};

#include "platform/JobClients.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/Clock.h"
#include "platform/JobManagerStore.h"
#include "platform/LogWriter.h"

namespace {

// Paths, tokens and reasons come from outside and need not be valid UTF-8: such bytes are
// replaced in the events file rather than making the write fail.
std::string ToJsonLine(const nlohmann::json &event) {
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

// ---- the store ----

CJobManagerStore &CJobManagerStore::Instance() {
    static CJobManagerStore s_store;
    return s_store;
}

void CJobManagerStore::AppendEventLocked(CJobManagerRecord &record, nlohmann::json event) {
    event["seq"] = ++record.llLastSequence;
    event["jobId"] = record.llJobId;
    event["timeMs"] = (CTimeStamp::Now().GetTicks() - CTimeStamp::kUnixEpochTicks) / 10000;
    std::string strLine = ToJsonLine(event);

    // An operator's job may report millions of times: with a file named, the file is the record.
    // Without one, tests read the latest reports from memory, kept within a fixed number.
    const char *szFile = getenv("IDX_JOB_EVENTS");
    if (szFile == nullptr || *szFile == '\0') {
        if (record.dqEvents.size() >= kMaxEventsKept) {
            record.dqEvents.pop_front();
            ++record.llDroppedEvents;
        }
        record.dqEvents.push_back(std::move(strLine));
        return;
    }
    strLine.push_back('\n');
    m_eventsFile.Append(szFile, strLine);
}

void CJobManagerStore::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_record = CJobManagerRecord();
    m_eventsFile.Reset();
}

// ---- job-control client ----

int TQJobCtrlClient::checkQuitFlag() {
    return CJobManagerStore::Instance().With(
        [](CJobManagerRecord &record) { return record.bQuitFlag ? 1 : 0; });
}

long long TQJobCtrlClient::GetJobID() {
    return CJobManagerStore::Instance().With(
        [](CJobManagerRecord &record) { return record.llJobId; });
}

// ---- event record ----

void EvEvent::addArgument(const char *szText, int nType) {
    std::lock_guard<std::mutex> guard(m_lockArguments);
    m_vecArguments.emplace_back(nType, szText ? szText : "");
}

std::vector<std::pair<int, std::string>> EvEvent::TakeArguments() {
    std::lock_guard<std::mutex> guard(m_lockArguments);
    std::vector<std::pair<int, std::string>> vecArguments;
    vecArguments.swap(m_vecArguments);
    return vecArguments;
}

long long EvEvent::getJobId() {
    return CJobManagerStore::Instance().With(
        [](CJobManagerRecord &record) { return record.llJobId; });
}

// ---- task record ----

EvTask::EvTask(long long llJobId, int, const void *, bool) : m_llJobId(llJobId) {}

int EvTask::getOptionString(int nOptionId, std::string &strValue, const void *) {
    const int kOptionNotFound = 2;
    const int nResult = CJobManagerStore::Instance().With([&](CJobManagerRecord &record) {
        if (record.llJobId != m_llJobId) {
            return kOptionNotFound;
        }
        auto it = record.mapTaskOptions.find(nOptionId);
        if (it == record.mapTaskOptions.end()) {
            return kOptionNotFound;
        }
        strValue = it->second;
        return 0;
    });
    // Outside tests nothing records the task's options: an operator names the user who started
    // the job in the environment, as the job manager would have it on record.
    if (nResult == kOptionNotFound && nOptionId == kOptionStartedByUser) {
        const char *szUser = std::getenv("IDX_JOB_STARTED_BY");
        if (szUser != nullptr && *szUser != '\0') {
            strValue = szUser;
            return 0;
        }
    }
    return nResult;
}

// ---- job client ----

const char *TQJobClient::GetJobToken() {
    m_strJobToken = CJobManagerStore::Instance().With(
        [](CJobManagerRecord &record) { return record.strJobToken; });
    return m_strJobToken.c_str();
}

int TQJobClient::setPendingCauseAndCriticalEvent(uint32_t nMessageId, int32_t nMessageParam,
                                                 bool bFailJob, int32_t nMessageType,
                                                 bool bNotifyOnly, int32_t nAlertColourLevel,
                                                 uint32_t nPendingCauseFlags, uint32_t, uint32_t) {
    std::vector<std::pair<int, std::string>> vecArguments = TakeArguments();
    return CJobManagerStore::Instance().With([&](CJobManagerRecord &record) {
        record.bPendingCause = true;
        record.nPendingCauseMessageId = nMessageId;
        record.vecPendingCauseArguments.clear();
        nlohmann::json arguments = nlohmann::json::array();
        for (const auto &argument : vecArguments) {
            record.vecPendingCauseArguments.push_back(argument.second);
            arguments.push_back({{"type", argument.first}, {"text", argument.second}});
        }
        ++record.nPendingCausesSet;
        CJobManagerStore::Instance().AppendEventLocked(
            record, {{"event", "setPendingCauseAndCriticalEvent"},
                     {"messageId", nMessageId},
                     {"messageParam", nMessageParam},
                     {"failJob", bFailJob},
                     {"messageType", nMessageType},
                     {"notifyOnly", bNotifyOnly},
                     {"alertColourLevel", nAlertColourLevel},
                     {"pendingCauseFlags", nPendingCauseFlags},
                     {"arguments", arguments}});
        return 0;
    });
}

int TQJobClient::resetPendingCause(const std::list<std::string> *pCauses,
                                   uint32_t nPendingCauseFlags, uint32_t) {
    nlohmann::json causes = nlohmann::json::array();
    if (pCauses != nullptr) {
        for (const std::string &strCause : *pCauses) {
            causes.push_back(strCause);
        }
    }
    return CJobManagerStore::Instance().With([&](CJobManagerRecord &record) {
        bool bWasPending = record.bPendingCause;
        record.bPendingCause = false;
        record.nPendingCauseMessageId = 0;
        record.vecPendingCauseArguments.clear();
        ++record.nPendingCausesReset;
        CJobManagerStore::Instance().AppendEventLocked(record,
                                                       {{"event", "resetPendingCause"},
                                                        {"wasPending", bWasPending},
                                                        {"causes", causes},
                                                        {"pendingCauseFlags", nPendingCauseFlags}});
        return 0;
    });
}

int TQJobClient::getRestartString(std::string &strRestart, JMRestartLookupType) {
    strRestart = CJobManagerStore::Instance().With(
        [](CJobManagerRecord &record) { return record.strRestartString; });
    return 0;
}

// ---- backup-job client ----

int TQBkpJobClient::addFilesIndexed(long long llCount) {
    return CJobManagerStore::Instance().With([&](CJobManagerRecord &record) {
        record.llOfferedFilesIndexed += llCount;
        CJobManagerStore::Instance().AppendEventLocked(
            record, {{"event", "addFilesIndexed"}, {"count", llCount}});
        return 0;
    });
}

int TQBkpJobClient::addContentIdxFileFailures(long lCount) {
    return CJobManagerStore::Instance().With([&](CJobManagerRecord &record) {
        record.llOfferedContentIdxFailures += lCount;
        CJobManagerStore::Instance().AppendEventLocked(
            record, {{"event", "addContentIdxFileFailures"}, {"count", lCount}});
        return 0;
    });
}

bool TQBkpJobClient::setUnCompBytesToAdd(long long llBytes) {
    return CJobManagerStore::Instance().With([&](CJobManagerRecord &record) {
        bool bAccepted = !record.bRefuseUnCompBytes;
        if (bAccepted) {
            record.llOfferedUnCompBytes += llBytes;
        }
        CJobManagerStore::Instance().AppendEventLocked(
            record,
            {{"event", "setUnCompBytesToAdd"}, {"bytes", llBytes}, {"accepted", bAccepted}});
        return bAccepted;
    });
}

bool TQBkpJobClient::setRestartString(const std::string &strRestart) {
    return CJobManagerStore::Instance().With([&](CJobManagerRecord &record) {
        bool bAccepted = !record.bRefuseRestartString;
        if (bAccepted) {
            record.bRestartStringOffered = true;
            record.strOfferedRestartString = strRestart;
        }
        CJobManagerStore::Instance().AppendEventLocked(record, {{"event", "setRestartString"},
                                                                {"restartString", strRestart},
                                                                {"accepted", bAccepted}});
        return bAccepted;
    });
}

bool TQBkpJobClient::updateInfo(bool bFinal, const void *) {
    return CJobManagerStore::Instance().With([&](CJobManagerRecord &record) {
        ++record.nUpdateInfoCalls;
        bool bAccepted = !record.bRefuseUpdateInfo;
        if (bAccepted) {
            record.llFilesIndexed += record.llOfferedFilesIndexed;
            record.llContentIdxFailures += record.llOfferedContentIdxFailures;
            record.llUnCompBytes += record.llOfferedUnCompBytes;
            record.llOfferedFilesIndexed = 0;
            record.llOfferedContentIdxFailures = 0;
            record.llOfferedUnCompBytes = 0;
            if (record.bRestartStringOffered) {
                record.strRestartString = record.strOfferedRestartString;
                record.bRestartStringOffered = false;
                record.strOfferedRestartString.clear();
            }
        }
        CJobManagerStore::Instance().AppendEventLocked(
            record, {{"event", "updateInfo"},
                     {"final", bFinal},
                     {"accepted", bAccepted},
                     {"filesIndexed", record.llFilesIndexed},
                     {"contentIdxFailures", record.llContentIdxFailures},
                     {"unCompBytes", record.llUnCompBytes},
                     {"restartString", record.strRestartString}});
        return bAccepted;
    });
}

#include "platform/testing/JobManager.h"

#include "platform/JobManagerStore.h"

namespace idxtest {

namespace {

template <class Fn> auto WithRecord(Fn fn) {
    return CJobManagerStore::Instance().With(fn);
}

} // namespace

JobManager::JobManager() {
    Reset();
}

JobManager::~JobManager() {
    Reset();
}

void JobManager::Reset() {
    CJobManagerStore::Instance().Reset();
}

size_t JobManager::MaxEventsKept() {
    return CJobManagerStore::kMaxEventsKept;
}

JobManagerSnapshot JobManager::Snapshot() const {
    return WithRecord([](CJobManagerRecord &record) {
        JobManagerSnapshot snapshot;
        snapshot.llJobId = record.llJobId;
        snapshot.bQuitFlag = record.bQuitFlag;
        snapshot.llFilesIndexed = record.llFilesIndexed;
        snapshot.llContentIdxFailures = record.llContentIdxFailures;
        snapshot.llUnCompBytes = record.llUnCompBytes;
        snapshot.llOfferedFilesIndexed = record.llOfferedFilesIndexed;
        snapshot.llOfferedContentIdxFailures = record.llOfferedContentIdxFailures;
        snapshot.llOfferedUnCompBytes = record.llOfferedUnCompBytes;
        snapshot.nUpdateInfoCalls = record.nUpdateInfoCalls;
        snapshot.strRestartString = record.strRestartString;
        snapshot.bPendingCause = record.bPendingCause;
        snapshot.nPendingCauseMessageId = record.nPendingCauseMessageId;
        snapshot.vecPendingCauseArguments = record.vecPendingCauseArguments;
        snapshot.nPendingCausesSet = record.nPendingCausesSet;
        snapshot.nPendingCausesReset = record.nPendingCausesReset;
        snapshot.vecEvents.assign(record.dqEvents.begin(), record.dqEvents.end());
        snapshot.llDroppedEvents = record.llDroppedEvents;
        return snapshot;
    });
}

std::vector<std::string> JobManager::EventNames() const {
    std::vector<std::string> vecEvents = Snapshot().vecEvents;
    std::vector<std::string> vecNames;
    vecNames.reserve(vecEvents.size());
    for (const std::string &strEvent : vecEvents) {
        nlohmann::json event = nlohmann::json::parse(strEvent, nullptr, false);
        vecNames.push_back(event.is_object() && event.contains("event") &&
                                   event["event"].is_string()
                               ? event["event"].get<std::string>()
                               : std::string());
    }
    return vecNames;
}

void JobManager::SetQuitFlag(bool bSet) {
    WithRecord([&](CJobManagerRecord &record) { record.bQuitFlag = bSet; });
}

void JobManager::SetJobId(long long llJobId) {
    WithRecord([&](CJobManagerRecord &record) { record.llJobId = llJobId; });
}

void JobManager::SetJobToken(const std::string &strToken) {
    WithRecord([&](CJobManagerRecord &record) { record.strJobToken = strToken; });
}

void JobManager::SetRestartString(const std::string &strRestart) {
    WithRecord([&](CJobManagerRecord &record) { record.strRestartString = strRestart; });
}

void JobManager::SetTaskOption(int nOptionId, const std::string &strValue) {
    WithRecord([&](CJobManagerRecord &record) { record.mapTaskOptions[nOptionId] = strValue; });
}

void JobManager::RemoveTaskOption(int nOptionId) {
    WithRecord([&](CJobManagerRecord &record) { record.mapTaskOptions.erase(nOptionId); });
}

void JobManager::RefuseUnCompBytes(bool bRefuse) {
    WithRecord([&](CJobManagerRecord &record) { record.bRefuseUnCompBytes = bRefuse; });
}

void JobManager::RefuseUpdateInfo(bool bRefuse) {
    WithRecord([&](CJobManagerRecord &record) { record.bRefuseUpdateInfo = bRefuse; });
}

void JobManager::RefuseRestartString(bool bRefuse) {
    WithRecord([&](CJobManagerRecord &record) { record.bRefuseRestartString = bRefuse; });
}

} // namespace idxtest

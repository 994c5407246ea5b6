// Start-up cost of the index-engine initializer: CSolrTransmitterInit::InitializeSolrTransmitter
// against the engine stand-in on 127.0.0.1, with the management server answering in-process, in
// both forms: asking the management server (and saving the configuration cache), then from the
// cache. Each start-up is timed from the call to its return with a started, pinged transmitter;
// the transmitter's stop is outside the timing. A start-up from the cache must not query the
// management server at all.
//
//   StartUpBench [runs]     (default 20 of each form, default worker count)
//
// Targets are printed as PASS or WARN lines; the exit status only says whether the runs could be
// made.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "platform/JobClients.h"
#include "platform/ManagementData.h"
#include "platform/TQPIBase.h"
#include "platform/testing/JobManager.h"
#include "platform/testing/ManagementServer.h"
#include "platform/testing/PlatformSettings.h"
#include "startup/DataSourceQuery.h"
#include "startup/SolrTransmitterInit.h"
#include "tests/support/StartupTestSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/engine/EngineStub.h"
#include "transmitter/SolrTransmitter.h"

namespace {

// "Well under a second" against a local engine, for the slowest run.
const double kTargetMs = 500.0;

struct SFormResult {
    std::vector<double> vecMs;
    size_t nManagementQueries = 0;
    int nFailures = 0;
};

double Percentile(std::vector<double> vecMs, double dFraction) {
    if (vecMs.empty()) {
        return 0.0;
    }
    std::sort(vecMs.begin(), vecMs.end());
    const size_t nIndex = std::min(vecMs.size() - 1, static_cast<size_t>(dFraction * vecMs.size()));
    return vecMs[nIndex];
}

void Report(const char *szForm, const SFormResult &result) {
    printf("%-22s runs=%zu failed=%d median=%.2f ms p90=%.2f ms max=%.2f ms "
           "management-server queries=%zu\n",
           szForm, result.vecMs.size(), result.nFailures, Percentile(result.vecMs, 0.5),
           Percentile(result.vecMs, 0.9), Percentile(result.vecMs, 1.0), result.nManagementQueries);
    const double dMax = Percentile(result.vecMs, 1.0);
    printf("%s %s: slowest start-up %.2f ms (target under %.0f ms)\n",
           result.nFailures == 0 && dMax < kTargetMs ? "PASS" : "WARN", szForm, dMax, kTargetMs);
}

} // namespace

int main(int argc, char **argv) {
    const int nRuns = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    idxtest::PlatformSettingsScope settings;
    idxtest::JobManager job;
    idxtest::ManagementServer server;
    idxtest::TempDir dir;
    idxtest::EngineStub engine;

    TQClientInfo clientInfo;
    clientInfo.strName = "client-a";
    clientInfo.ullId = 5;
    SubclientInfo subclientInfo;
    subclientInfo.nId = 12;
    subclientInfo.strGUID = "GUID-12";
    const ApplicationIdPtr ptrApplication = boost::make_shared<ApplicationId>(
        boost::make_shared<TQClient>(clientInfo), boost::make_shared<Subclient>(subclientInfo));
    TQJobCtrlClient jobControl;
    TQBkpJobClient backupJob;

    idxtest::DataSourceReply reply;
    reply.Url(engine.UpdateUrl()).ContentIndexing(0);
    server.Answer(kGetClientDataSourceProcedure, 0, reply.Xml());

    SFormResult fromServer;
    SFormResult fromCache;
    for (int i = 0; i < 2 * nRuns; ++i) {
        // The first half asks the management server and saves the cache, the second reads it.
        const bool bUseCache = i >= nRuns;
        SFormResult &result = bUseCache ? fromCache : fromServer;
        const size_t nQueriesBefore = server.Calls().size();

        CSolrTransmitterInit init;
        const auto tStart = std::chrono::steady_clock::now();
        CKyError error = init.InitializeSolrTransmitter(ptrApplication, dir.Path(), &jobControl,
                                                        &backupJob, bUseCache, !bUseCache);
        const auto tEnd = std::chrono::steady_clock::now();

        result.nManagementQueries += server.Calls().size() - nQueriesBefore;
        if (error.IsError()) {
            ++result.nFailures;
            fprintf(stderr, "StartUpBench: start-up failed: %s\n", error.AsString().c_str());
            continue;
        }
        result.vecMs.push_back(std::chrono::duration<double, std::milli>(tEnd - tStart).count());
        CSolrTransmitterPtr ptrTransmitter = init.GetSolrTransmitterInstance();
        if (ptrTransmitter) {
            ptrTransmitter->Stop();
        }
    }

    printf("StartUpBench: %d start-ups of each form against the engine stand-in on 127.0.0.1\n",
           nRuns);
    Report("management server", fromServer);
    Report("configuration cache", fromCache);
    printf("%s configuration cache: %zu management-server queries (target 0)\n",
           fromCache.nManagementQueries == 0 ? "PASS" : "WARN", fromCache.nManagementQueries);
    return fromServer.vecMs.empty() || fromCache.vecMs.empty() ? 1 : 0;
}

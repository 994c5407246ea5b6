// The smallest host of the library: an option bag, a started transmitter, the paths it is given
// queued in the job's scan phase, then wait and commit. It uses only the installed headers and
// libidxtransmitter.so; what a real job adds (the initializer, the job's clients, the platform
// settings) is in SampleJob.cpp.
//
//   SmallestHost <engine update URL> <subclient folder> <path>...
//
// The update URL is the update handler of the engine's core, as
// "http://127.0.0.1:8983/solr/collection1/update"; the subclient folder receives the failures
// file. Exit status 0 when every path was queued and none failed, 1 otherwise, 2 on bad usage.
#include <cstdio>
#include <string>

#include <boost/make_shared.hpp>

#include "platform/Bag.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

// The job's side of the reports: every worker reports each batch it sent outside the scan phase,
// and the transmitter asks it whether the job is to stop. This one only prints the reasons.
class PrintingCallback : public CSolrTransmitterCallback {
public:
    CKyError SetJobPendingReason(long nCode, const std::string &strReason) override {
        fprintf(stderr, "SmallestHost: the engine fails (%ld): %s\n", nCode, strReason.c_str());
        return CKyError::Success();
    }
};

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: SmallestHost <engine update URL> <subclient folder> <path>...\n");
        return 2;
    }
    typedef SXTransmitterConfigurationBagId BagId;
    const std::string strUpdateUrl = argv[1];
    // The core's own URL, below which the ping and the other requests go: without "update".
    std::string strCoreUrl = strUpdateUrl;
    const std::string strUpdate = "update";
    if (strCoreUrl.size() >= strUpdate.size() &&
        strCoreUrl.compare(strCoreUrl.size() - strUpdate.size(), strUpdate.size(), strUpdate) ==
            0) {
        strCoreUrl.erase(strCoreUrl.size() - strUpdate.size());
    }

    // The four addresses are required for a file-system job (the audit core's may be empty);
    // every other key has a default.
    CBagPtr ptrOptions = boost::make_shared<CBag>();
    ptrOptions->Write(BagId::idUpdateUrl, strUpdateUrl);
    ptrOptions->Write(BagId::idCompleteSolrUrl, strUpdateUrl);
    ptrOptions->Write(BagId::idBaseSolrUrl, strCoreUrl);
    ptrOptions->Write(BagId::idAuditSolrUrl, std::string());
    ptrOptions->Write(BagId::idSubClientDir, std::string(argv[2]));
    ptrOptions->Write(BagId::idJobId, 1LL);
    ptrOptions->Write(BagId::idPushOnlyMetaData, true); // metadata documents, no content
    ptrOptions->Write(BagId::idIsScanPhase, true);

    CSolrTransmitter transmitter;
    CKyError error = transmitter.SetOptions(ptrOptions);
    if (!error.IsError()) {
        error = transmitter.SetCallback(boost::make_shared<PrintingCallback>());
    }
    if (!error.IsError()) {
        error = transmitter.Start();
    }
    bool bRunning = false;
    if (!error.IsError()) {
        error = transmitter.IsSolrEngineRunning(bRunning);
    }
    if (error.IsError() || !bRunning) {
        fprintf(stderr, "SmallestHost: no engine answers at %s: %s\n", strCoreUrl.c_str(),
                error.AsString().c_str());
        transmitter.Abort(true);
        return 1;
    }

    int nQueued = 0;
    for (int i = 3; i < argc; ++i) {
        // Collect id 1, the path's place in the job's list as its offset; not a stub; the job
        // selected it.
        error = transmitter.BuildAndAddToQueue(std::string(argv[i]), 1, i - 3, false, true);
        if (error.IsError()) {
            fprintf(stderr, "SmallestHost: %s not queued: %s\n", argv[i], error.AsString().c_str());
            continue;
        }
        ++nQueued;
    }

    // Waits until the workers sent everything, stops them and commits.
    error = transmitter.WaitAndCommit();
    const long long llFailed = static_cast<long long>(transmitter.GetFailedItemCount());
    printf("queued %d of %d, failed %lld%s%s\n", nQueued, argc - 3, llFailed,
           error.IsError() ? ", end of job: " : "",
           error.IsError() ? error.AsString().c_str() : "");
    return !error.IsError() && nQueued == argc - 3 && llFailed == 0 ? 0 : 1;
}

// idx-engine-stub: the engine stand-in as a process, for the sample job and the benchmarks.
//   idx-engine-stub --port-file F [--dump F] [--discard] [--keep-alive] [--record F]
// Writes its port to the port file once it accepts connections, serves until SIGTERM or SIGINT,
// then writes the stored documents as JSON to the dump file. With --record every update request
// is appended to the record file as received (see ReadRecordedUpdates), up to 2 GiB.
#include "tests/support/engine/EngineStub.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>

namespace {

bool WriteFileAtomically(const std::string &strPath, const std::string &strText) {
    // Written under another name and renamed, so that a reader never sees half a file.
    std::string strTemp = strPath + ".tmp";
    {
        std::ofstream file(strTemp, std::ios::binary | std::ios::trunc);
        file << strText;
        if (!file.flush())
            return false;
    }
    return std::rename(strTemp.c_str(), strPath.c_str()) == 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: idx-engine-stub --port-file F [--dump F] [--discard] [--keep-alive] "
                 "[--record F]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::string strPortFile, strDumpFile, strRecordFile;
    bool bDiscard = false, bKeepAlive = false;
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        if (strArg == "--port-file" && i + 1 < argc) {
            strPortFile = argv[++i];
        } else if (strArg == "--dump" && i + 1 < argc) {
            strDumpFile = argv[++i];
        } else if (strArg == "--record" && i + 1 < argc) {
            strRecordFile = argv[++i];
        } else if (strArg == "--discard") {
            bDiscard = true;
        } else if (strArg == "--keep-alive") {
            bKeepAlive = true;
        } else {
            return Usage();
        }
    }
    if (strPortFile.empty())
        return Usage();

    // Blocked before the server threads start, so that only sigwait below takes them.
    sigset_t setSignals;
    sigemptyset(&setSignals);
    sigaddset(&setSignals, SIGTERM);
    sigaddset(&setSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &setSignals, nullptr);

    try {
        idxtest::EngineStub stub(bDiscard, bKeepAlive);
        std::string strError;
        if (!strRecordFile.empty() && !stub.RecordUpdates(strRecordFile, strError)) {
            std::fprintf(stderr, "idx-engine-stub: %s\n", strError.c_str());
            return 1;
        }
        if (!WriteFileAtomically(strPortFile, std::to_string(stub.Port()) + "\n")) {
            std::fprintf(stderr, "idx-engine-stub: cannot write %s\n", strPortFile.c_str());
            return 1;
        }
        std::fprintf(stderr, "idx-engine-stub: serving %s\n", stub.BaseUrl().c_str());
        int nSignal = 0;
        sigwait(&setSignals, &nSignal);
        stub.Stop();
        if (!strDumpFile.empty() && !WriteFileAtomically(strDumpFile, stub.DumpJson() + "\n")) {
            std::fprintf(stderr, "idx-engine-stub: cannot write %s\n", strDumpFile.c_str());
            return 1;
        }
        std::fprintf(stderr, "idx-engine-stub: stopped after %zu requests\n", stub.RequestCount());
        if (!strRecordFile.empty()) {
            std::fprintf(stderr, "idx-engine-stub: recorded %zu update requests, skipped %zu\n",
                         stub.RecordedCount(), stub.RecordSkippedCount());
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "idx-engine-stub: %s\n", e.what());
        return 1;
    }
    return 0;
}

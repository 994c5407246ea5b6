// A host that is killed in the middle of its job. It runs an engine stand-in that refuses every
// update, starts a metadata transmitter on it, queues the paths it is given, waits until the
// transmitter counts every one of them as failed, says so on its standard output and then waits
// to be killed: whatever its failures file holds then is what a killed host leaves.
//
//   idx-killed-host <subclient folder> <path>...
//
// Its one line of output is "recorded <count> <process id>" once every queued path was failed,
// or "not recorded <count>" when that did not happen within two minutes (it then exits 1).
// Exit status 2 on bad usage, 1 when the transmitter does not start or a path is not queued.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/engine/EngineStub.h"
#include "tests/support/engine/EngineWorkerRig.h"

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: idx-killed-host <subclient folder> <path>...\n");
        return 2;
    }
    idxtest::EngineStub stub;
    stub.FailNext(idxtest::EngineRoute::Update, -1, 400);
    idxtest::EngineTransmitter transmitter;
    idxtest::PointOptionsAtStub(transmitter.Options(), stub);
    transmitter.Options().SetSubClientDir(argv[1]);
    CKyError error = transmitter.Start();
    if (error.IsError()) {
        fprintf(stderr, "idx-killed-host: the transmitter did not start: %s\n",
                error.AsString().c_str());
        return 1;
    }

    const int nPaths = argc - 2;
    for (int i = 0; i < nPaths; ++i) {
        error = transmitter.BuildAndAddToQueue(std::string(argv[i + 2]), 1, i, false, true);
        if (error.IsError()) {
            fprintf(stderr, "idx-killed-host: %s not queued: %s\n", argv[i + 2],
                    error.AsString().c_str());
            return 1;
        }
    }

    // The count rises once a batch's names are recorded. The bound is for a broken library only:
    // the engine refuses at once.
    if (!idxtest::WaitUntil([&] { return transmitter.GetFailedItemCount() == nPaths; }, 120000)) {
        printf("not recorded %lld\n", static_cast<long long>(transmitter.GetFailedItemCount()));
        return 1;
    }
    printf("recorded %lld %d\n", static_cast<long long>(transmitter.GetFailedItemCount()),
           static_cast<int>(getpid()));
    fflush(stdout);
    for (;;) {
        pause();
    }
}

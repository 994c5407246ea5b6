// The PHP extension client of the end-to-end benchmark: the same full batches as the full-batch
// replay, posted by Debian's php-solr extension (php-cli and php-solr, installed by
// scripts/install-deps) from as many php processes as the library has workers. The batches are
// written to files and a small PHP script into a folder of the run beforehand; each process reads
// its share of the files (dealt round-robin), makes its client for the null engine's collection
// and opens its connection with a ping, says it is ready and waits for the start signal (the end
// of its standard input), so that PHP's start-up is not timed. Each then posts its batches with
// the client's raw update request, counts the failures and prints its count. The clock runs from
// the signal to the last of these counts, printed right after each process's last answer; the
// end of the last process, after PHP's shutdown (which unloads its extensions, tens of
// milliseconds and more on a busy machine), is kept beside it.
#pragma once

#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "bench/EndToEndBench/NullEngine.h"
#include "bench/EndToEndBench/ReplayClient.h"

namespace idxbench {

struct PhpClientResult {
    bool bMeasured = false;
    std::string strNotMeasured; // why not, when not measured
    long long llRequests = 0;
    long long llFailed = 0;   // failed posts, and the batches of a process that did not report
    double dSeconds = 0;      // from the start signal to the last process's last answer
    double dSecondsToEnd = 0; // from the start signal to the end of the last process
};

// Posts vecBatches to engine's update route from config.nWorkers php processes, working in
// strFolder (made here). Not measured, with the reason, where php or its extension is missing
// or the processes could not be set up.
PhpClientResult RunPhpClient(const BenchConfig &config, const NullEngine &engine,
                             const std::string &strFolder,
                             const std::vector<ReplayRequest> &vecBatches);

} // namespace idxbench

#include "bench/EndToEndBench/PhpClient.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace idxbench {

namespace {

// One posting process: argv holds the engine's host, port and collection path, the folder of
// the batch files, their number, this process's number and the number of processes. Its lines
// on stdout: "ready" (or "no-extension"), then "done R F" (R batches posted, F of them failed).
const char *const kScript = R"php(<?php
if (!class_exists('SolrClient')) {
    echo "no-extension\n";
    exit(0);
}
[, $host, $port, $path, $folder, $batches, $process, $processes] = $argv;
$bodies = [];
for ($i = (int)$process; $i < (int)$batches; $i += (int)$processes) {
    $bodies[] = file_get_contents(sprintf('%s/batch-%07d.xml', $folder, $i));
}
$client = new SolrClient(['hostname' => $host, 'port' => (int)$port, 'path' => $path]);
try {
    $client->ping();
} catch (Exception $e) {
}
echo "ready\n";
fgets(STDIN);
$failed = 0;
foreach ($bodies as $body) {
    try {
        if ($body === false || !$client->request($body)->success()) {
            $failed++;
        }
    } catch (Exception $e) {
        $failed++;
    }
}
echo "done ", count($bodies), " ", $failed, "\n";
)php";

std::string BatchFile(const std::string &strFolder, size_t nBatch) {
    char szName[32];
    snprintf(szName, sizeof(szName), "/batch-%07zu.xml", nBatch);
    return strFolder + szName;
}

bool WriteFile(const std::string &strFile, const std::string &strContent) {
    FILE *pFile = fopen(strFile.c_str(), "wb");
    if (!pFile) {
        return false;
    }
    const bool bWritten =
        fwrite(strContent.data(), 1, strContent.size(), pFile) == strContent.size();
    return fclose(pFile) == 0 && bWritten;
}

// A php process with its standard input on the start signal's pipe and its standard output on a
// pipe of its own.
struct PhpProcess {
    pid_t pid = -1;
    int fdOutput = -1;
    std::string strPending; // what it printed that is not yet taken as lines
    long long llShare = 0;  // batches dealt to it
};

// Starts php with vecArgs; fdStart becomes its standard input. Only async-signal-safe calls
// between fork and exec: this process has threads.
bool StartProcess(std::vector<std::string> vecArgs, int fdStart, PhpProcess &process) {
    int fdOutput[2];
    if (pipe2(fdOutput, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<char *> vecArgv;
    for (std::string &strArg : vecArgs) {
        vecArgv.push_back(&strArg[0]);
    }
    vecArgv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fdOutput[0]);
        close(fdOutput[1]);
        return false;
    }
    if (pid == 0) {
        // dup2 clears close-on-exec on the copies.
        if (dup2(fdStart, STDIN_FILENO) < 0 || dup2(fdOutput[1], STDOUT_FILENO) < 0) {
            _exit(126);
        }
        execv(vecArgv[0], vecArgv.data());
        _exit(127);
    }
    close(fdOutput[1]);
    process.pid = pid;
    process.fdOutput = fdOutput[0];
    return true;
}

// Takes the first whole line of what process printed, without its end; false when there is
// none yet.
bool TakeLine(PhpProcess &process, std::string &strLine) {
    const size_t nEnd = process.strPending.find('\n');
    if (nEnd == std::string::npos) {
        return false;
    }
    strLine = process.strPending.substr(0, nEnd);
    process.strPending.erase(0, nEnd + 1);
    return true;
}

// Reads once from process's output into its pending text; false at its end (or on an error).
bool ReadSome(PhpProcess &process) {
    char szBuffer[256];
    ssize_t nRead;
    while ((nRead = read(process.fdOutput, szBuffer, sizeof(szBuffer))) < 0 && errno == EINTR) {
    }
    if (nRead <= 0) {
        return false;
    }
    process.strPending.append(szBuffer, static_cast<size_t>(nRead));
    return true;
}

// The first line process prints, waiting for it; false when it ends without one.
bool ReadLine(PhpProcess &process, std::string &strLine) {
    while (!TakeLine(process, strLine)) {
        if (process.fdOutput < 0 || !ReadSome(process)) {
            return false;
        }
    }
    return true;
}

void EndProcess(PhpProcess &process, bool bKill) {
    if (process.pid > 0) {
        if (bKill) {
            kill(process.pid, SIGKILL);
        }
        int nStatus = 0;
        while (waitpid(process.pid, &nStatus, 0) < 0 && errno == EINTR) {
        }
        process.pid = -1;
    }
    if (process.fdOutput >= 0) {
        close(process.fdOutput);
        process.fdOutput = -1;
    }
}

} // namespace

PhpClientResult RunPhpClient(const BenchConfig &config, const NullEngine &engine,
                             const std::string &strFolder,
                             const std::vector<ReplayRequest> &vecBatches) {
    PhpClientResult result;
    const std::string strPhp = FindOnPath("php");
    if (strPhp.empty()) {
        result.strNotMeasured = "php is not installed (Debian's php-cli and php-solr)";
        return result;
    }
    const std::string strScript = strFolder + "/post-batches.php";
    bool bWritten =
        (mkdir(strFolder.c_str(), 0755) == 0 || errno == EEXIST) && WriteFile(strScript, kScript);
    for (size_t i = 0; bWritten && i < vecBatches.size(); ++i) {
        bWritten = WriteFile(BatchFile(strFolder, i), vecBatches[i].strBody);
    }
    if (!bWritten) {
        result.strNotMeasured = "cannot write the batch files under " + strFolder;
        return result;
    }

    // The collection's path on the engine ("solr/collection1"); the client adds its update route.
    std::string strPath = engine.BaseUrl().substr(engine.HostUrl().size() + 1);
    while (!strPath.empty() && strPath.back() == '/') {
        strPath.pop_back();
    }
    int fdStart[2];
    if (pipe2(fdStart, O_CLOEXEC) != 0) {
        result.strNotMeasured = "no pipe for the start signal";
        return result;
    }
    const size_t nProcesses = static_cast<size_t>(config.nWorkers);
    std::vector<PhpProcess> vecProcesses(nProcesses);
    std::string strProblem;
    for (size_t p = 0; p < nProcesses && strProblem.empty(); ++p) {
        vecProcesses[p].llShare =
            static_cast<long long>((vecBatches.size() + nProcesses - 1 - p) / nProcesses);
        const std::vector<std::string> vecArgs = {strPhp,
                                                  "-d",
                                                  "display_errors=stderr",
                                                  "-d",
                                                  "log_errors=0",
                                                  "-d",
                                                  "memory_limit=-1",
                                                  strScript,
                                                  "127.0.0.1",
                                                  std::to_string(engine.Port()),
                                                  strPath,
                                                  strFolder,
                                                  std::to_string(vecBatches.size()),
                                                  std::to_string(p),
                                                  std::to_string(nProcesses)};
        if (!StartProcess(vecArgs, fdStart[0], vecProcesses[p])) {
            strProblem = std::string("a php process did not start: ") + strerror(errno);
        }
    }
    close(fdStart[0]);
    for (size_t p = 0; p < nProcesses && strProblem.empty(); ++p) {
        std::string strLine;
        if (!ReadLine(vecProcesses[p], strLine)) {
            strProblem = "a php process ended before it was ready";
        } else if (strLine == "no-extension") {
            strProblem = "php has no solr extension (Debian's php-solr)";
        } else if (strLine != "ready") {
            strProblem = "a php process said \"" + strLine + "\" instead of being ready";
        }
    }
    if (!strProblem.empty()) {
        close(fdStart[1]);
        for (PhpProcess &process : vecProcesses) {
            EndProcess(process, true);
        }
        result.strNotMeasured = strProblem;
        return result;
    }

    // Every process has loaded its batches and opened its connection: the end of their standard
    // input starts them all. Each prints its count right after its last answer; its end (the end
    // of its output) comes after PHP's shutdown.
    const Clock::time_point tpStart = Clock::now();
    close(fdStart[1]);
    Clock::time_point tpLastCount = tpStart, tpLastEnd = tpStart;
    std::vector<bool> vecReported(nProcesses, false);
    for (size_t nOpen = nProcesses; nOpen > 0;) {
        std::vector<pollfd> vecPoll;
        std::vector<size_t> vecWhich;
        for (size_t p = 0; p < nProcesses; ++p) {
            if (vecProcesses[p].fdOutput >= 0) {
                vecPoll.push_back({vecProcesses[p].fdOutput, POLLIN, 0});
                vecWhich.push_back(p);
            }
        }
        if (poll(vecPoll.data(), vecPoll.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (size_t i = 0; i < vecPoll.size(); ++i) {
            if (vecPoll[i].revents == 0) {
                continue;
            }
            PhpProcess &process = vecProcesses[vecWhich[i]];
            const bool bOpen = ReadSome(process);
            std::string strLine;
            long long llPosted = 0, llFailed = 0;
            while (TakeLine(process, strLine)) {
                if (sscanf(strLine.c_str(), "done %lld %lld", &llPosted, &llFailed) == 2 &&
                    llPosted == process.llShare && !vecReported[vecWhich[i]]) {
                    vecReported[vecWhich[i]] = true;
                    result.llFailed += llFailed;
                    tpLastCount = Clock::now();
                }
            }
            if (!bOpen) {
                tpLastEnd = Clock::now();
                close(process.fdOutput);
                process.fdOutput = -1;
                --nOpen;
            }
        }
    }
    for (size_t p = 0; p < nProcesses; ++p) {
        EndProcess(vecProcesses[p], vecProcesses[p].fdOutput >= 0);
        result.llRequests += vecProcesses[p].llShare;
        result.llFailed += vecReported[p] ? 0 : vecProcesses[p].llShare;
    }
    result.dSeconds = Seconds(tpLastCount - tpStart);
    result.dSecondsToEnd = Seconds(tpLastEnd - tpStart);
    result.bMeasured = true;
    return result;
}

} // namespace idxbench

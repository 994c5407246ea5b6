// Content push against a null engine: a loopback server of this program's own that reads every
// request whole and answers it at once with the engine's success answer, keeping nothing but the
// request's target and when its head arrived.
//   - 1 MiB files: one worker's content push of a batch of files against a plain libcurl replay
//     of the same extract requests (same targets, the bytes from memory) on one connection;
//     PASS when the library reaches 0.9 of the replay.
//   - A 2 GiB file: the time from the sender's call to the head of its request, which is the
//     hash pass over the file (in the page cache); PASS at 500 MB/s or more.
// Usage: ContentPushBench [files [MiB of the large file]]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>

#include "tests/support/TempDir.h"
#include "tests/support/documents/DocumentTestSupport.h"

namespace {

const char kAnswer[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<response><lst "
                       "name=\"responseHeader\"><int name=\"status\">0</int><int "
                       "name=\"QTime\">0</int></lst></response>\n";

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Reads requests one after another on each connection and answers each at once.
class CNullEngine {
public:
    CNullEngine() {
        m_nListen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int nYes = 1;
        setsockopt(m_nListen, SOL_SOCKET, SO_REUSEADDR, &nYes, sizeof(nYes));
        if (bind(m_nListen, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
            listen(m_nListen, 16) != 0) {
            perror("null engine");
            exit(1);
        }
        socklen_t nLength = sizeof(address);
        getsockname(m_nListen, reinterpret_cast<sockaddr *>(&address), &nLength);
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] { Accept(); });
    }
    ~CNullEngine() {
        shutdown(m_nListen, SHUT_RDWR);
        close(m_nListen);
        m_thread.join();
        for (std::thread &connection : m_vecConnections) {
            connection.join();
        }
    }

    std::string Url(const std::string &strPath) const {
        return "http://127.0.0.1:" + std::to_string(m_nPort) + strPath;
    }
    std::vector<std::string> Targets() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_vecTargets;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecTargets.clear();
        m_vecHeadTimes.clear();
    }
    std::vector<double> HeadTimes() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_vecHeadTimes;
    }

private:
    void Accept() {
        for (;;) {
            int nSocket = accept(m_nListen, nullptr, nullptr);
            if (nSocket < 0) {
                return;
            }
            int nYes = 1;
            setsockopt(nSocket, IPPROTO_TCP, TCP_NODELAY, &nYes, sizeof(nYes));
            m_vecConnections.emplace_back([this, nSocket] { Serve(nSocket); });
        }
    }

    void Serve(int nSocket) {
        std::vector<char> vecBuffer(1 << 20);
        std::string strHead;
        size_t nHave = 0; // bytes of vecBuffer not yet looked at
        for (;;) {
            // The head, up to the empty line.
            size_t nEnd = std::string::npos;
            strHead.clear();
            while (nEnd == std::string::npos) {
                if (nHave == 0) {
                    ssize_t nRead = recv(nSocket, vecBuffer.data(), vecBuffer.size(), 0);
                    if (nRead <= 0) {
                        close(nSocket);
                        return;
                    }
                    nHave = static_cast<size_t>(nRead);
                }
                strHead.append(vecBuffer.data(), nHave);
                nHave = 0;
                nEnd = strHead.find("\r\n\r\n");
            }
            const double dHead = Seconds();
            const size_t nTargetStart = strHead.find(' ') + 1;
            const std::string strTarget =
                strHead.substr(nTargetStart, strHead.find(' ', nTargetStart) - nTargetStart);
            unsigned long long ullBody = 0;
            size_t nLengthAt = strHead.find("Content-Length:");
            if (nLengthAt == std::string::npos) {
                nLengthAt = strHead.find("content-length:");
            }
            if (nLengthAt != std::string::npos && nLengthAt < nEnd) {
                ullBody = strtoull(strHead.c_str() + nLengthAt + 15, nullptr, 10);
            }
            // What came after the head belongs to the body (or the next request).
            const size_t nExtra = strHead.size() - (nEnd + 4);
            unsigned long long ullTaken = nExtra < ullBody ? nExtra : ullBody;
            const size_t nLeftOver = nExtra - static_cast<size_t>(ullTaken);
            if (nLeftOver > 0) {
                memcpy(vecBuffer.data(), strHead.data() + strHead.size() - nLeftOver, nLeftOver);
                nHave = nLeftOver;
            }
            while (ullTaken < ullBody) {
                const size_t nWant = static_cast<size_t>(
                    std::min<unsigned long long>(ullBody - ullTaken, vecBuffer.size()));
                ssize_t nRead = recv(nSocket, vecBuffer.data(), nWant, 0);
                if (nRead <= 0) {
                    close(nSocket);
                    return;
                }
                ullTaken += static_cast<unsigned long long>(nRead);
            }
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_vecTargets.push_back(strTarget);
                m_vecHeadTimes.push_back(dHead);
            }
            const std::string strAnswer =
                "HTTP/1.1 200 OK\r\nContent-Type: application/xml; charset=UTF-8\r\n"
                "Content-Length: " +
                std::to_string(sizeof(kAnswer) - 1) + "\r\n\r\n" + kAnswer;
            if (send(nSocket, strAnswer.data(), strAnswer.size(), MSG_NOSIGNAL) < 0) {
                close(nSocket);
                return;
            }
        }
    }

    int m_nListen = -1;
    int m_nPort = 0;
    std::thread m_thread;
    std::vector<std::thread> m_vecConnections;
    std::mutex m_lock;
    std::vector<std::string> m_vecTargets;
    std::vector<double> m_vecHeadTimes;
};

size_t Discard(char *, size_t nSize, size_t nCount, void *) {
    return nSize * nCount;
}

idxtest::DocumentWorkerSet PushWorker(const CNullEngine &engine) {
    idxtest::DocumentWorkerSet set = idxtest::MakeDocumentWorker(false);
    CTransmitterOptions &options = *set.ptrOptions;
    options.SetBaseSolrUrl(engine.Url("/solr/collection1/"));
    options.SetCompleteSolrUrl(engine.Url("/solr/collection1/update"));
    options.SetCompleteSolrExtractUrl(
        engine.Url("/solr/collection1/update/tqextract?commit=false"));
    options.SetSolrClientName("bench");
    options.SetPushOnlyMetaData(false);
    options.SetScanPhase(true);
    options.SetIncludeFiltersSet({"bin"});
    options.SetMaxFileSizePushContent(-1);
    return set;
}

const char *Verdict(bool bPass) {
    return bPass ? "PASS" : "WARN";
}

} // namespace

int main(int argc, char **argv) {
    const int nFiles = argc > 1 ? atoi(argv[1]) : 200;
    const uint64_t ullLargeMiB = argc > 2 ? strtoull(argv[2], nullptr, 10) : 2048;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    idxtest::TempDir dir;
    CNullEngine engine;

    // 1 MiB files, in batches of 20 as a worker takes them.
    std::string strContent(1024 * 1024, '\0');
    for (size_t i = 0; i < strContent.size(); ++i) {
        strContent[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    std::vector<std::string> vecPaths;
    for (int i = 0; i < nFiles; ++i) {
        vecPaths.push_back(dir.WriteFile("f" + std::to_string(i) + ".bin", strContent));
    }
    idxtest::DocumentWorkerSet set = PushWorker(engine);
    std::vector<std::list<CItemPtr>> vecBatches;
    for (int i = 0; i < nFiles; ++i) {
        if (i % 20 == 0) {
            vecBatches.emplace_back();
        }
        vecBatches.back().push_back(idxtest::MakePathItem(vecPaths[i], *set.ptrOptions));
    }
    std::list<CItemPtr> lstWarm = {idxtest::MakePathItem(vecPaths[0], *set.ptrOptions)};
    set.SendItemsWithContent(lstWarm); // the handle's set-up and its ping
    engine.Clear();
    double dStart = Seconds();
    double dCpuStart = CpuSeconds();
    for (std::list<CItemPtr> &lstBatch : vecBatches) {
        set.SendItemsWithContent(lstBatch);
    }
    const double dLibrary = Seconds() - dStart;
    const double dLibraryCpu = CpuSeconds() - dCpuStart;
    const std::vector<std::string> vecTargets = engine.Targets();

    // The replay: the same targets, the bytes from memory, one connection.
    CURL *pCurl = curl_easy_init();
    curl_slist *pHeaders = curl_slist_append(nullptr, "Content-Type: application/octet-stream");
    pHeaders = curl_slist_append(pHeaders, "Expect:");
    curl_easy_setopt(pCurl, CURLOPT_HTTPHEADER, pHeaders);
    curl_easy_setopt(pCurl, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(pCurl, CURLOPT_POSTFIELDS, strContent.data());
    curl_easy_setopt(pCurl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(strContent.size()));
    dStart = Seconds();
    dCpuStart = CpuSeconds();
    for (const std::string &strTarget : vecTargets) {
        const std::string strUrl = engine.Url(strTarget);
        curl_easy_setopt(pCurl, CURLOPT_URL, strUrl.c_str());
        curl_easy_perform(pCurl);
    }
    const double dReplay = Seconds() - dStart;
    const double dReplayCpu = CpuSeconds() - dCpuStart;
    curl_slist_free_all(pHeaders);
    curl_easy_cleanup(pCurl);
    const double dRatio = dLibrary > 0 ? dReplay / dLibrary : 0;
    printf("content push of %zu 1 MiB files: library %.3f s (%.0f files/s, CPU %.0f us/file), "
           "replay %.3f s (CPU %.0f us/file)\n",
           vecTargets.size(), dLibrary, vecTargets.size() / dLibrary,
           1e6 * dLibraryCpu / vecTargets.size(), dReplay, 1e6 * dReplayCpu / vecTargets.size());
    printf("%s library / replay of its own extract requests = %.2f (at least 0.90)\n",
           Verdict(dRatio >= 0.9), dRatio);

    // The large file: from the sender's call to the head of its request.
    if (ullLargeMiB > 0) {
        const std::string strLarge = dir / "large.bin";
        {
            FILE *pFile = fopen(strLarge.c_str(), "wb");
            for (uint64_t i = 0; i < ullLargeMiB; ++i) {
                strContent[0] = static_cast<char>(i);
                fwrite(strContent.data(), 1, strContent.size(), pFile);
            }
            fclose(pFile);
        }
        const double dBytes = static_cast<double>(ullLargeMiB) * 1024 * 1024;
        std::list<CItemPtr> lstLarge = {idxtest::MakePathItem(strLarge, *set.ptrOptions)};
        engine.Clear();
        dStart = Seconds();
        set.SendItemsWithContent(lstLarge);
        const double dEnd = Seconds();
        const std::vector<double> vecHeads = engine.HeadTimes();
        if (vecHeads.size() != 1) {
            printf("WARN the large file gave %zu requests\n", vecHeads.size());
            return 0;
        }
        const double dHash = vecHeads[0] - dStart;
        const double dRate = dBytes / dHash / 1e6;
        printf("%llu MiB file: request head after %.2f s (%.0f MB/s), whole push %.2f s\n",
               static_cast<unsigned long long>(ullLargeMiB), dHash, dRate, dEnd - dStart);
        printf("%s the large file is hashed at %.0f MB/s (at least 500)\n", Verdict(dRate >= 500),
               dRate);
        remove(strLarge.c_str());
    }
    return 0;
}

// The plain libcurl side of the end-to-end benchmark: posts a list of requests on as many threads
// as the library has workers, one keep-alive handle per thread set up as the library's engine
// worker sets up its own, and times it. The list is either what the library sent (as the null
// engine recorded it), or full batches built here with the library's own document builder, or the
// library's extract requests with the bytes of their files. Which thread posts which request is
// up to a dealer: a fixed share each, or whatever a feeding thread has made ready.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bench/EndToEndBench/BenchRun.h"
#include "platform/Bag.h"

namespace idxbench {

// One POST of a replay: the body is strBody, or the content of strFile read when it is sent.
struct ReplayRequest {
    std::string strUrl;
    std::string strContentType;
    std::string strBody;
    std::string strFile;
    long long llItems; // documents in the body (0 for the job's other requests)
};

struct ReplayResult {
    double dSeconds = 0;
    double dCpuSeconds = 0; // the whole process: posting threads and the feeding thread
    long long llFailedPosts = 0;
};

// What a posting thread does with a body before it posts it.
enum class EBodyWork {
    eSendOnly,
    eHashFirst, // SHA-512 over the whole body with the library's hash, as a content push needs
};

// Tells each posting thread which request it sends next.
class RequestDealer {
public:
    virtual ~RequestDealer() = default;
    // The index of thread nThread's next request, waiting until one is ready; false once it has
    // none left.
    virtual bool Next(size_t nThread, size_t &nRequest) = 0;
};

// The update bodies the metadata sender posts for the tree in batches of the given sizes
// (vecBatchSizes[k] batches of k items), the items in queue order: "<add>", then "<doc>" and the
// item's metadata document and "</doc>" per item, then "</add>". False when the sizes do not
// add up to the tree.
bool BuildBatches(const BenchConfig &config, const CBagPtr &ptrBag, const std::string &strTree,
                  const std::string &strUrl, const std::vector<long long> &vecBatchSizes,
                  std::vector<ReplayRequest> &vecRequests);

// Each thread keeps one handle (and so one connection), as each library worker does; thread t
// sends requests t, t + threads, ... The connections are opened (with a ping) before the clock
// starts, so the replay measures sending alone. A request with a file reads it whole into a
// buffer the thread reuses, then posts that buffer, hashing it first with eHashFirst. The
// threads are named szThreadName.
ReplayResult RunReplay(const BenchConfig &config, const std::string &strPingUrl,
                       const std::vector<ReplayRequest> &vecRequests, const char *szThreadName,
                       EBodyWork eWork = EBodyWork::eSendOnly);

// RunReplay with the requests handed out by dealer. fnFeed runs on the calling thread once the
// clock has started (and may make requests ready for the dealer); the clock stops when every
// posting thread is done.
ReplayResult PostRequests(const BenchConfig &config, const std::string &strPingUrl,
                          const std::vector<ReplayRequest> &vecRequests, const char *szThreadName,
                          EBodyWork eWork, RequestDealer &dealer,
                          const std::function<void()> &fnFeed);

} // namespace idxbench

// The exchange of one index-engine worker with the engine: posting a request, reading the answer
// into the status the failure policy sees, the policy itself (retry, fail or abort by HTTP status
// and transport outcome, the wait before a retry) and the HTTP handle's cancel check.
//
// A worker owns one exchange and hands it, when it is made, everything it works with: the option
// record, the shared state's failure ledger, the HTTP handle and the worker's stop, running and
// abort operations. The exchange never reaches back into the worker otherwise.
//
// The class is spread over two units: the handle's set-up, the cancel check and the post
// (EngineExchange.cpp); reading the answer, the failure policy and its waits
// (EngineExchangePolicy.cpp).
//
// An exchange runs on one thread at a time: its worker's own, or the caller's for a worker made
// for one request, which sets its HTTP handle up on its first post.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "platform/Clock.h"
#include "platform/TQLibCurl.h"
#include "transmitter/TransmitterTypes.h"

// Process-wide: set while the job shows the engine-failure pending reason, so that it is reported
// once per failure episode however many workers fail; the next successful post of any worker
// withdraws the reason and clears it.
extern std::atomic<bool> g_bEventSent;

// What the exchange asks of the worker that owns it, fixed when the worker is made.
struct SEngineExchangeOwner {
    // Whether the worker is asked to stop.
    std::function<bool()> fnIsStopRequested;
    // Whether the worker's own thread runs (a worker made for one request never does).
    std::function<bool()> fnIsRunning;
    // The worker's abort (CIdxTransmitterThread::AbortThread), for the non-resilient policy.
    std::function<void(const CKyError &, const std::string &)> fnAbort;
};

class CEngineExchange {
public:
    // The header line of every XML post to the engine.
    static constexpr const char *kXmlHeaderLine = "Content-Type: text/xml";

    // Puts the cancel check on the handle; nothing is set up or connected.
    CEngineExchange(CTransmitterOptionsPtr ptrOptions, CSolrTransmitterPrivatePtr ptrState,
                    boost::shared_ptr<TQLibCurl> ptrCurl, SEngineExchangeOwner owner);
    CEngineExchange(const CEngineExchange &) = delete;
    CEngineExchange &operator=(const CEngineExchange &) = delete;

    // Marks the HTTP client library as loaded (each worker's start does); always succeeds.
    static CKyError LoadTqCurlLib();

    // Sets the HTTP handle up: default header line, no signals, and (for engine jobs) the
    // dynamic-TPPM check against the engine's ping URL, made once per transmitter: the first
    // worker's decision is every later worker's. 774 when the handle refuses.
    CKyError InitializeCurlObject();
    // Whether the handle has been set up (the header line it was set up with, empty before).
    const std::string &HttpHeader() const { return m_strHttpHeader; }

    // The start-up's pings (the dynamic-TPPM check, the engine ping) give up once the engine has
    // sent no byte for this many seconds: the handle's own stall limit, meant for long content
    // pushes and commits, would let a silent engine hold the job's start for half an hour. The
    // job's quit flag ends them sooner, as it ends every transfer (ShouldGiveUpTransfer).
    static constexpr long kPingIdleSeconds = 30;
    // Replaces kPingIdleSeconds for the whole process (0 puts it back), for tests that cannot
    // wait for it.
    static void SetPingIdleLimitForTest(long nSeconds);
    // The engine's ping: an empty JSON post to strUrl under the ping's idle limit, after the
    // handle is set up when it was not yet.
    CKyError Ping(const std::string &strUrl);

    // One POST of strBody to strUrl with strHeaderLine as its only extra header line; retried as
    // the failure policy decides. A final failure sets the transmitter's push-failed flag and
    // returns 400 "http post failed" for HTTP status 400, success for status 595 and 774 "http
    // post failed" otherwise. An empty URL, or one of 65536 bytes or more, is never sent: 87
    // (naming the length), push-failed flag set; so is a URL the HTTP client cannot use (unknown
    // scheme, malformed), 87 naming it, without retries. An update, extract or commit answered
    // 200 with an empty body is the empty answer (999). A request in flight when the worker is
    // asked to stop or the transmitter is aborted (the job's quit flag included) is given up
    // within about a second: final failure, 774 (see ShouldGiveUpTransfer for requests made
    // after that).
    CKyError PostItems2(const std::string &strUrl, const std::string &strBody,
                        const std::string &strHeaderLine);
    // The same exchange with a body read from a source while it is sent (a large file's
    // content); a body that cannot be read fails the request at once, without a retry.
    CKyError PostItemsFromSource(const std::string &strUrl, TQLibCurl::CBodySource &source,
                                 const std::string &strHeaderLine);
    // The same exchange with the nLength bytes at pBody as the body (a file's content read into
    // the worker's buffer), sent from where they are.
    CKyError PostItemsFromMemory(const std::string &strUrl, const char *pBody, size_t nLength,
                                 const std::string &strHeaderLine);
    // Reads an answer into the status the failure policy sees: 200 is not parsed; an empty
    // answer becomes 999; an HTML error page gives its first "pre" text as the message; an
    // engine answer gives its status element (an answer without one, or whose status is not a
    // decimal number of 32 bits, keeps the HTTP status). The engine's own error message is not
    // the policy's message; pEngineMessage, when given, receives it, for the log and the job.
    CKyError ParseResult(const std::string &strAnswer, uint32_t &nStatus, std::string &strMessage,
                         std::string *pEngineMessage = nullptr);

    // Failure policy: decides from the status whether the failed
    // request is sent again (after its wait), sets the job pending reason once per failure
    // episode in resilient mode, and aborts the worker in non-resilient mode. Never retries once
    // the transmitter is aborted or the worker is asked to stop; its waits end early then.
    // Always succeeds.
    CKyError HandleHttpError(uint32_t nStatus, const std::string &strMessage, bool &bRetry);
    // The policy's count of failures in a row; a successful post sets it back to 0.
    int64_t ConsecutiveFailures() const { return m_llConsecutiveFailures; }
    void SetConsecutiveFailures(int64_t llCount) { m_llConsecutiveFailures = llCount; }

    // The time spent posting (waits of the policy included). Made by MakePostRequestTimer at the
    // worker's start: an exchange without it measures nothing.
    void MakePostRequestTimer();
    const boost::shared_ptr<CTimeCounter> &PostRequestTimer() const {
        return m_ptrPostRequestTimer;
    }

private:
    // The exchange behind PostItems2, PostItemsFromMemory and PostItemsFromSource: the nLength
    // bytes at pBody, or with pSource the bytes it reads.
    CKyError PostRequest(const std::string &strUrl, const char *pBody, size_t nLength,
                         TQLibCurl::CBodySource *pSource, const std::string &strHeaderLine);
    // A request that failed for good: the push-failed flag, and strReason as the transmitter's
    // failure reason (see CSolrTransmitterPrivate::SetFailedRequestReason).
    void NoteFailedRequest(const std::string &strReason);
    // Update, extract and commit requests: their answer always has a body.
    bool ExpectsEngineAnswer(const std::string &strUrl) const;
    // Runs one ping on the handle with the stall limit lowered to the ping's, and puts the
    // handle's own limit back after it; returns what fnPing returns.
    bool PingWithIdleLimit(const std::function<bool()> &fnPing);

    // Waits nMilliseconds in short slices, so that a stop or an abort ends the wait early; false
    // when it ended early.
    bool WaitBeforeRetry(uint32_t nMilliseconds);

    // The HTTP handle's cancel check, on the posting thread.
    // - A request in flight when the end comes (the worker's stop, the transmitter's abort, the
    //   job's quit flag, polled about once a second) is given up within a second: at once when
    //   nothing moves, half a second later at most while an answer or a body is still on its
    //   way (an answer arriving just then is still taken).
    // - A request made after the end is still sent, so that an engine that answers gets it (a
    //   one-shot request of the end of a job after an abort, a stopping worker's remaining
    //   batches), but given up once it has gone two seconds without moving a byte, so that a
    //   stalled engine cannot hold the end of a job.
    // - A running worker sends nothing once the transmitter is aborted, as its batch loop takes
    //   nothing more then.
    bool ShouldGiveUpTransfer(bool bStarting, int64_t llElapsedMs, int64_t llIdleMs);

    // Given when the worker is made; fixed after.
    const CTransmitterOptionsPtr m_ptrOptions;
    const CSolrTransmitterPrivatePtr m_ptrState;
    const boost::shared_ptr<TQLibCurl> m_ptrCurl;
    const SEngineExchangeOwner m_owner;

    // Used on the posting thread only.
    int64_t m_llConsecutiveFailures = 0;
    // Empty until the HTTP handle has been set up.
    std::string m_strHttpHeader;
    bool m_bUseDynamicTppm = false;
    // Made at the worker's start and read by the performance thread afterwards.
    boost::shared_ptr<CTimeCounter> m_ptrPostRequestTimer;

    // The transfer watch (ShouldGiveUpTransfer), used on the posting thread only.
    bool m_bEndedBeforeTransfer = false;
    bool m_bAbortSeen = false;
    int64_t m_llLastAbortPollMs = 0; // time into the request of the last full abort test
    int64_t m_llEndSeenAtMs = -1;    // time into the request when the end was seen; -1: not yet

    // Set by every worker's start; several workers may start at once.
    static std::atomic<bool> s_bCurlWrapperloaded;
    // kPingIdleSeconds unless a test replaced it.
    static std::atomic<long> s_nPingIdleSecondsForTest;
};

// The HTTP client that all engine and web-server traffic goes through: TQLibCurl, one reusable
// libcurl request handle, and TqCurlReadStream, which posts a request and stores the answer in a
// file. A handle is used by one thread at a time; it keeps its connection open between requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Export.h"
#include "foundation/KyError.h"

// libcurl stays inside the implementation; callers that pass option numbers by name include
// <curl/curl.h> themselves.
struct curl_slist;

class IDX_EXPORT TQLibCurl {
public:
    // libcurl's write-callback form: receives the answer bytes, returns how many it took.
    typedef size_t (*TQLibCurlWriteCallback)(char *pData, size_t nSize, size_t nCount,
                                             void *pContext);

    // What a cancel check is told of the request in flight.
    struct STransferState {
        bool bStarting;      // the request is about to be sent: once per request, first
        int64_t llElapsedMs; // since the request began
        int64_t llIdleMs;    // since it last sent or received a byte (or began)
    };
    // Consulted while a request runs: once before it is sent, then about once a second while
    // nothing moves (more often while bytes do). True gives the request up at once (before it
    // starts, nothing is sent). It runs on the thread of the request.
    typedef std::function<bool(const STransferState &)> TQLibCurlCancelCheck;

    // Why the last request did not succeed.
    enum class EFailure {
        eNone,           // it succeeded
        eHttpStatus,     // an answer came, with a status outside 2xx
        eTransport,      // no complete answer: no connection, TLS, time-out, dropped, ...
        eUnusableUrl,    // the URL can never be used: unknown or disabled scheme, malformed URL
        eCancelled,      // the cancel check gave the transfer up
        eLocal,          // the handle refused the request before sending it
        eBodyUnreadable, // a streamed body could not be read (see CBodySource)
    };

    // A request body read while it is sent, for bodies too large to hold in memory (a file's
    // content). The handle sends exactly GetSize() bytes and starts the body over (Rewind) before
    // every request that sends it.
    class CBodySource {
    public:
        virtual ~CBodySource() = default;
        virtual uint64_t GetSize() const = 0;
        // Back to the first byte; false when the body cannot be read again.
        virtual bool Rewind() = 0;
        // Copies at most nMax of the next bytes into pBuffer: the count copied, or -1 when the
        // body cannot be read (it also fails when it ends before GetSize() bytes). The request
        // then fails with eBodyUnreadable.
        virtual int64_t Read(char *pBuffer, size_t nMax) = 0;
    };

    // Answers larger than this are refused rather than kept in memory (SetMaxAnswerSize).
    static constexpr size_t kDefaultMaxAnswerBytes = 256u * 1024u * 1024u;
    // No connection within this time fails the request (CURLOPT_CONNECTTIMEOUT_MS).
    static constexpr long kDefaultConnectTimeoutMs = 30000;
    // A transfer that moves less than one byte a second for this long is given up
    // (CURLOPT_LOW_SPEED_TIME). There is no total time-out by default: a large content push or
    // a long commit is legitimate as long as the peer is alive. CURLOPT_TIMEOUT_MS sets one.
    static constexpr long kDefaultStallSeconds = 1800;

    TQLibCurl();
    ~TQLibCurl();
    TQLibCurl(const TQLibCurl &) = delete;
    TQLibCurl &operator=(const TQLibCurl &) = delete;

    // Makes the handle ready. strDefaultHeaderLine goes with every request unless an appended
    // line of the same header name replaces it. bKeepAliveProbes turns on TCP keep-alive probes
    // (for long-lived handles); bAcceptCompressed asks for compressed answers, which are decoded
    // before they are kept. With a write callback the answer bytes go to it (with pWriteContext)
    // instead of being kept by the handle. Calling it again starts over with the new values.
    bool TQLibCurlInit(const std::string &strDefaultHeaderLine, bool bKeepAliveProbes,
                       bool bAcceptCompressed, TQLibCurlWriteCallback pWriteCallback = nullptr,
                       void *pWriteContext = nullptr);

    // Sets an integer option by libcurl number (CURLOPT_NOSIGNAL, CURLOPT_TIMEOUT_MS, ...);
    // it stays for every later request. Options that do not take an integer are refused.
    bool TQLibCurlSetAdditionalOptionsIntValue(long nOption, long nValue);

    // Probes the engine with a GET of its ping URL and decides whether requests go through the
    // dynamic-TPPM route. This platform only knows the direct connection, so the flag is always
    // set to false; the answer tells whether the engine answered the ping with a 2xx status, and
    // the ping's answer can be read with GetHttpResponse.
    bool TQLibCurlDynamiceTppmCheck(const std::string &strPingUrl, const std::string &strClientName,
                                    bool &bUseDynamicTppm);

    // Drops every header line appended so far; the default line applies again.
    void TQLibCurlFreeHttpHeaderList();

    // Makes strHeaderLine the only appended line, as TQLibCurlFreeHttpHeaderList followed by
    // TQLibCurlAppendHeader(0, strHeaderLine) does. The same line as the last call's changes
    // nothing, so a handle that sends one kind of request after another keeps its header list
    // instead of making it again for every request.
    bool TQLibCurlSetHeaderLine(const std::string &strHeaderLine);

    // Adds a request header line (header type 0; other types are refused) for the next
    // requests. It replaces the default line and earlier appended lines of the same name. A
    // line without a colon names the body's media type: "text/xml" becomes
    // "Content-Type: text/xml", a bare subtype such as "x-www-form-urlencoded" is taken under
    // "application/". Empty lines and lines with CR or LF are refused.
    bool TQLibCurlAppendHeader(int nHeaderType, const std::string &strHeaderLine);

    // Sends one request and blocks until the exchange ends (or the cancel check gives it up).
    // nRequestType 1 is a POST of nLength bytes at pBody (pBody may be null when nLength is 0),
    // 0 a GET. True only when the exchange completed with a 2xx status (an answer cut at the
    // bound counts as completed); after a non-2xx answer the status and the answer are still
    // readable. No connection leaves status 0 and no answer. GetLastFailure and
    // GetLastErrorText tell why a request failed. bFollowRedirects lets libcurl follow
    // redirections. The client name goes out as the User-Agent.
    bool TQLibCurlSendHttpReq2(int nRequestType, const std::string &strUrl, const char *pBody,
                               size_t nLength, bool bFollowRedirects,
                               const std::string &strClientName, bool bUseDynamicTppm);

    // A POST like TQLibCurlSendHttpReq2 whose body is read from the source while it is sent.
    bool TQLibCurlSendHttpReqFromSource(const std::string &strUrl, CBodySource &source,
                                        bool bFollowRedirects, const std::string &strClientName,
                                        bool bUseDynamicTppm);

    // The answer of the last completed exchange, zero-terminated, owned by the handle until the
    // next request; null when there is none. The handle keeps only its last answer, so the flag
    // (set by callers that read the dynamic-TPPM check's answer) changes nothing.
    const char *GetHttpResponse(size_t &nLength, bool bAfterCheck);

    // HTTP status of the last request; 0 when no answer came.
    int64_t GetHttpErrorCode() const { return m_llHttpStatus; }

    // Why the last request failed: libcurl's own text (with its error number) for a transfer
    // that failed, the status for a non-2xx answer; empty after a success.
    const std::string &GetLastErrorText() const { return m_strLastError; }
    EFailure GetLastFailure() const { return m_eLastFailure; }

    // Bounds the answer the handle keeps. By default a longer answer is refused: the request
    // fails and no answer is kept. With bCutLonger the transfer ends once the bound is reached,
    // the first nMaxBytes bytes are kept as the answer and the request counts by its status, as
    // any other; IsAnswerCut tells that it happened.
    void SetMaxAnswerSize(size_t nMaxBytes, bool bCutLonger = false) {
        m_nMaxAnswerBytes = nMaxBytes;
        m_bCutLongerAnswers = bCutLonger;
    }
    bool IsAnswerCut() const { return m_bAnswerCut; }

    // Installs (or, with an empty one, removes) the check that can give a transfer up; it
    // stays for every later request.
    void SetCancelCheck(TQLibCurlCancelCheck fnCancelCheck) {
        m_fnCancelCheck = std::move(fnCancelCheck);
    }

private:
    static constexpr size_t kCurlErrorBytes = 256; // libcurl's CURL_ERROR_SIZE

    static size_t OnAnswerBytes(char *pData, size_t nSize, size_t nCount, void *pContext);
    bool AskCancelCheck(const STransferState &state);
    static int OnTransferProgress(void *pContext, int64_t llDownTotal, int64_t llDownNow,
                                  int64_t llUpTotal, int64_t llUpNow);
    static size_t OnBodyBytes(char *pBuffer, size_t nSize, size_t nCount, void *pContext);
    bool Perform(int nRequestType, const std::string &strUrl, const char *pBody, size_t nLength,
                 bool bFollowRedirects, const std::string &strClientName,
                 CBodySource *pSource = nullptr);
    bool BuildHeaderList();
    bool SetUserAgent(const std::string &strClientName);
    void ClearAnswer();

    void *m_pCurl; // the libcurl easy handle
    curl_slist *m_pHeaderList;
    std::string m_strDefaultHeader;
    std::vector<std::string> m_vecAppendedHeaders;
    // The header list is made again only after the lines changed (or the handle was set up
    // again); the line of the last TQLibCurlSetHeaderLine, empty once others were given.
    bool m_bHeaderListCurrent;
    std::string m_strSetHeaderLine;
    // The User-Agent the handle holds, so that it is handed to libcurl only when it changes.
    bool m_bUserAgentSet;
    std::string m_strUserAgent;
    TQLibCurlWriteCallback m_pWriteCallback;
    void *m_pWriteContext;

    std::string m_strAnswer;
    bool m_bHasAnswer;
    bool m_bAnswerTooLarge;
    bool m_bAnswerCut;
    bool m_bCutLongerAnswers;
    size_t m_nMaxAnswerBytes;
    int64_t m_llHttpStatus;
    std::string m_strLastError;
    EFailure m_eLastFailure;
    char m_szCurlError[kCurlErrorBytes];

    TQLibCurlCancelCheck m_fnCancelCheck;
    // The progress of the transfer in flight, as the cancel check sees it.
    bool m_bCancelled;
    int64_t m_llBytesMoved;
    int64_t m_llStartMs;    // steady clock, milliseconds
    int64_t m_llLastMoveMs; // steady clock, milliseconds
    // The streamed body of the request in flight, and whether reading it failed.
    CBodySource *m_pBodySource;
    uint64_t m_ullBodyLeft;
    bool m_bBodyFailed;
};

// Posts a request text and stores the answer in a file.
class IDX_EXPORT TqCurlReadStream {
public:
    // Success only when the answer came with a 2xx status and is completely in the file; on
    // failure the error names the URL and the status, and the file that the download opened is
    // removed. When the file cannot be opened, nothing is sent and whatever is at that path is
    // left as it is.
    CKyError Download(const std::string &strOutputPath, const std::string &strUrl,
                      const std::string &strRequest);

    // The check that can give the download up, as TQLibCurl::SetCancelCheck; it holds for every
    // later download of this stream.
    void SetCancelCheck(TQLibCurl::TQLibCurlCancelCheck fnCancelCheck) {
        m_fnCancelCheck = std::move(fnCancelCheck);
    }
    // A download whose answer moves fewer than nBytesPerSecond bytes a second for nSeconds is
    // given up as idle (CURLOPT_LOW_SPEED_LIMIT, CURLOPT_LOW_SPEED_TIME). Unless set, the
    // handle's own stall limit holds: TQLibCurl::kDefaultStallSeconds at one byte a second.
    void SetIdleLimit(long nSeconds, long nBytesPerSecond) {
        m_nIdleSeconds = nSeconds;
        m_nIdleBytesPerSecond = nBytesPerSecond;
    }

private:
    TQLibCurl::TQLibCurlCancelCheck m_fnCancelCheck;
    long m_nIdleSeconds = TQLibCurl::kDefaultStallSeconds;
    long m_nIdleBytesPerSecond = 1;
};

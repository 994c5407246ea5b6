// The index-engine worker of a transmitter (type 0, and any unknown type): drains the shared
// queue in batches, hands each batch to the sender the job's mode selects, and owns everything it
// says to the index engine: the HTTP exchange, answer parsing, the failure policy, the control
// requests and its own performance counters.
//
// The class is spread over several units: life cycle and batch loop (SolrTransmitterThread.cpp),
// HTTP exchange (SolrTransmitterThreadHttp.cpp), failure policy (SolrTransmitterThreadPolicy.cpp),
// control requests (SolrTransmitterThreadControl.cpp), counters
// (SolrTransmitterThreadCounters.cpp), the web-service plug-in's set-up
// (SolrTransmitterThreadWebService.cpp) and the document builders and senders, the web-service
// senders among them (documents/).
//
// A worker made for one request (ping, commit, clear, prune, sync, folder statistics) is never
// started: it has no timers and sets its HTTP handle up on its first post. Every engine request
// of a worker runs on one thread at a time (its own, or the caller's for such a worker).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <list>
#include <set>
#include <string>
#include <string_view>

#include <boost/shared_ptr.hpp>

#include "foundation/ByteBuffer.h"
#include "platform/Clock.h"
#include "platform/Item.h"
#include "platform/KyXml.h"
#include "platform/TQLibCurl.h"
#include "transmitter/IdxTransmitterThread.h"
#include "transmitter/SolrThreadPerfCounters.h"

class CItemBatch;

// How a document's fields are written: XML field elements for the update handler, or the extract
// handler's "&literal." parameters. Each sender knows the form of what it posts and passes it to
// the builders; no worker state selects it.
enum class EFieldForm { eXml, eLiteral };
class CFilterSet;

namespace TQLX_ContentIndexing {
// The web-service plug-in's handler (platform/CIWebServiceHandler.h), loaded at run time.
class ICIWSHandler;
class CCIItemInfo;
typedef boost::shared_ptr<CCIItemInfo> CCIItemInfoPtr;
} // namespace TQLX_ContentIndexing
namespace App {
class NameValueMap;
} // namespace App

// Process-wide: set while the job shows the engine-failure pending reason, so that it is reported
// once per failure episode however many workers fail; the next successful post of any worker
// withdraws the reason and clears it.
extern std::atomic<bool> g_bEventSent;

class CSolrTransmitterThread : public CIdxTransmitterThread {
public:
    // The header line of every XML post to the engine.
    static constexpr const char *kXmlHeaderLine = "Content-Type: text/xml";

    // Nothing is started or connected; the HTTP handle is made but not set up.
    CSolrTransmitterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                           CTransmitterOptionsPtr ptrOptions);
    // Logs the counters (when the start made them) and stops the thread if it still runs.
    ~CSolrTransmitterThread() override;

    // Event-thread hooks (SolrTransmitterThread.cpp); the loop is the base's (OnEvent).
    void OnStart() override;
    // The worker takes ready batches only: while a partial batch lingers in the queue its wait
    // ends when the linger is over (CIdxTransmitterThread::WaitForEventOrLinger).
    uint32_t WaitForEvent() override;
    void OnStop() override;

    // The transmitter's abort test (option record, job quit flag, abort event; sticky).
    bool IsTransmitterThreadAborted();

    // Marks the HTTP client library as loaded; always succeeds.
    CKyError LoadTqCurlLib();
    // Sets the HTTP handle up: default header line, no signals, and (for engine jobs) the
    // dynamic-TPPM check against the engine's ping URL, made once per transmitter: the first
    // worker's decision is every later worker's. 774 when the handle refuses.
    CKyError InitializeCurlObject();

    // The start-up's pings (the dynamic-TPPM check, the engine ping) give up once the engine has
    // sent no byte for this many seconds: the handle's own stall limit, meant for long content
    // pushes and commits, would let a silent engine hold the job's start for half an hour. The
    // job's quit flag ends them sooner, as it ends every transfer (ShouldGiveUpTransfer).
    static constexpr long kPingIdleSeconds = 30;
    // Replaces kPingIdleSeconds for the whole process (0 puts it back), for tests that cannot
    // wait for it.
    static void SetPingIdleLimitForTest(long nSeconds);

    // Web-service plug-in (SolrTransmitterThreadWebService.cpp). On the first call loads
    // "libTqCIWebServiceHandler.so", makes the worker's handler through "getTqCIWebServiceHandle"
    // and gives it its settings and Initialize; on every call sets the batch limits, the option
    // flag and the push-only-metadata flag and submits the task. The loader's error (with
    // "ModuleName=[...]") when the library will not load, its error when the entry point is
    // missing, 14 when no handler is made, the handler's error when Initialize fails, 995 when
    // the task is refused.
    CKyError InitializeWebServiceHandler(int nMode, std::string strUrl, int nApplicationType);
    // Submits the task with the option record's application number, client id and job id; bOk
    // tells whether it was taken (a refusal is logged).
    void CreateWebServiceTask(std::string strUrl, int nApplicationType, bool &bOk);
    // The abort check handed to the plug-in: never throws.
    bool IsWebServiceTaskAborted();
    // The stop hook's part after a run without an error: unless the transmitter was aborted,
    // the plug-in learns that its task is finished. Never throws: neither the plug-in nor the
    // job's quit query may end the worker's stop.
    void FinishWebServiceTask();

    // HTTP exchange (SolrTransmitterThreadHttp.cpp). One POST of strBody to strUrl with
    // strHeaderLine as its only extra header line; retried as the failure policy decides. A
    // final failure sets the transmitter's push-failed flag and returns 400 "http post failed"
    // for HTTP status 400, success for status 595 and 774 "http post failed" otherwise. An empty
    // URL, or one of 65536 bytes or more, is never sent: 87 (naming the length), push-failed
    // flag set; so is a URL the HTTP client cannot use (unknown scheme, malformed), 87 naming
    // it, without retries. An update, extract or commit answered 200 with an empty body is the
    // empty answer (999). A request in flight when the worker is asked to stop or the
    // transmitter is aborted (the job's quit flag included) is given up within about a second:
    // final failure, 774 (see ShouldGiveUpTransfer for requests made after that).
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
    // The text of the first node the XPath selects (empty when none). pbFound, when given, tells
    // whether any node was selected.
    CKyError SelectNodeGetText(const CKyXDocumentPtr &ptrDocument, const std::string &strXPath,
                               std::string &strText, bool *pbFound = nullptr);

    // Failure policy (SolrTransmitterThreadPolicy.cpp): decides from the status whether the
    // failed request is sent again (after its wait), sets the job pending reason once per
    // failure episode in resilient mode, and aborts the worker in non-resilient mode. Never
    // retries once the transmitter is aborted or the worker is asked to stop; its waits end
    // early then. Always succeeds.
    CKyError HandleHttpError(uint32_t nStatus, const std::string &strMessage, bool &bRetry);

    // Control requests (SolrTransmitterThreadControl.cpp). A failed request is logged and
    // reported as success; only the ping reports its outcome.
    CKyError SendCommit() override;
    bool IsIdxEngineRunning() override;
    CKyError SendDeleteDataSourceContent(const std::string &strDataSource) override;
    CKyError PruneAuditCore(const std::string &strEventTime, const std::string &strAppId) override;
    CKyError SendComputeFolderStats() override;
    CKyError SyncAuditAndMainCore(int32_t nEventBits, const std::string &strAppId) override;

    // Performance counters (SolrTransmitterThreadCounters.cpp). Both do nothing until the start
    // hook has made the timers; GetPerformanceCounters may run on another thread while the
    // worker works.
    CKyError LogPerformanceCounters() override;
    CKyError GetPerformanceCounters(SolrThreadPerfCounters &counters);
    // GetPerformanceCounters for the performance log thread: always true (a worker whose start
    // did not make its timers leaves the counters as they are).
    bool ReadPerformanceCounters(SolrThreadPerfCounters &counters) override;

    // ---- Document builder (documents/): senders and builders ----
    // Field syntax (documents/FieldSyntax.cpp). CreateField writes one field in the form given:
    // a field element whose value is filtered and wrapped in CDATA sections that no value can
    // close, or an "&literal." parameter whose name and value have bytes that are not UTF-8
    // turned into U+FFFD and are then percent-encoded. Plain names are written as they are; a
    // name holding markup characters is escaped in the XML form and encoded in the literal form,
    // so no name can break a document either.
    std::string CreateField(const std::string &strName, const std::string &strValue,
                            EFieldForm eForm) const;
    // CreateField appended to strOut, written straight into it: the builders write every field
    // this way, so that no text is made per field.
    void AppendField(std::string &strOut, std::string_view svName, std::string_view svValue,
                     EFieldForm eForm) const;
    // Filters first, then divides every "]]>" between two sections. An empty value gives "".
    static std::string GenerateCData(const std::string &strValue);
    // GenerateCData appended to strOut; the filter writes straight into it.
    static void AppendCData(std::string &strOut, std::string_view svValue);
    // Drops what XML 1.0 cannot carry (C0 controls but tab, line feed and carriage return; DEL;
    // U+FFFE, U+FFFF) and turns bytes that are not UTF-8 into U+FFFD, so the result is always
    // valid UTF-8. Every change is logged at the error level.
    static std::string StripIllegalXmlCharacters(const std::string &strValue);
    // Percent-encodes every byte but letters, digits and "-_.~" (lower-case hexadecimal).
    static std::string Urlencode(const std::string &strValue);
    // Rewrites the value of the first field CreateField wrote for exactly that name in that
    // form; the new value is written as CreateField writes values. A document without the field
    // stays as it is.
    void ChangeFieldValue(std::string &strDocument, const std::string &strName,
                          std::string strValue, EFieldForm eForm) const;
    // MD5 of the bytes as 32 upper-case hexadecimal digits.
    static std::string MakeHash(const std::string &strText);
    static constexpr size_t kHashDigits = 32;
    // MakeHash of the parts written one after another, into achHex (no terminating zero): the
    // builders hash joined texts without making them.
    static void MakeHashOfParts(std::initializer_list<std::string_view> parts,
                                char achHex[kHashDigits]);
    // What follows the last "." of the whole text, upper-cased; empty without a ".".
    static std::string GetFileExtension(const std::string &strText);
    bool IsCompressedItem(const std::string &strExtension) const;

    // Item metadata document (documents/ItemMetadataDocument.cpp). Appends the item's fields to
    // strDocument; always succeeds.
    CKyError BuildItemDataAnalytics(const CItemPtr &ptrItem, EFieldForm eForm,
                                    std::string &strDocument);
    // The item's analytics record (owned by the item) after it processed its security
    // information; null when the item has none.
    class CAnalyticsItemInterface *GetAnalyticsItem(const CItemPtr &ptrItem);
    // The path the document key is computed from: a leading "\\UNC\" or "\\" becomes "UNC-NT_".
    static std::string MakeKeyPath(const std::string &strPath);

    // Partial-update document (documents/PartialUpdateDocument.cpp).
    bool ShouldSendPartialData() const;
    CKyError BuildPartialItemDataAnalytics(const CItemPtr &ptrItem, EFieldForm eForm,
                                           std::string &strDocument);
    // Writes nothing: the auditing context has no documents of its own here.
    CKyError BuildAuditItemDataAnalytics(
        const CItemPtr &ptrItem,
        std::vector<boost::shared_ptr<class CFSSolrAckRecord>> &vecAcknowledgements,
        std::string &strDocument);

    // The senders take the batch that owns the items (transmitter/ItemBatch.h) and settle each
    // item they handle as sent or failed; what they leave is the batch's to record. The forms
    // that take a plain list hand it to a batch of their own first and leave the list empty.
    //
    // Metadata sender (documents/MetadataSender.cpp). Posts every item of the batch as one
    // "<add>" request; a failed post fails every item (the failures file lists their paths).
    CKyError SendItems(CItemBatch &batch);
    CKyError SendItems(std::list<CItemPtr> &lstItems);
    // With the push-metadata-with-CRC option: the CRC-32 of a regular file's bytes as "%X".
    // Without it: success, strCrc untouched.
    CKyError GetCRC32(const std::string &strPath, std::string &strCrc);
    // Success: the auditing context's items reach the audit core through the job's own channel.
    CKyError SendAuditItems(CItemBatch &batch);
    CKyError SendAuditItems(std::list<CItemPtr> &lstItems);

    // Archive-member documents: the archive's own document and one per member file, as XML
    // documents of an update request.
    CKyError BuildCompressedItem2(const CItemPtr &ptrItem, const std::string &strExtension,
                                  std::string &strDocument);
    // The same documents from the archive's listing instead of its unpacked files (members get
    // the listed CRC and no file of their own). Nothing in the library calls it.
    CKyError BuildCompressedItem(const CItemPtr &ptrItem, const std::string &strExtension,
                                 std::string &strDocument);

    // Content push sender (documents/ContentPushSender.cpp). Every qualifying file of the batch
    // is posted with its bytes to the extract URL, its metadata as literal parameters; the other
    // items go out together through SendItems at the end. A failed push or a file that cannot
    // be read is sent with content-indexing status 16 and lands in the failures file. A deleted
    // item is not read: it is posted with an empty body and the hash of the empty text.
    CKyError SendItemsWithContent(CItemBatch &batch);
    CKyError SendItemsWithContent(std::list<CItemPtr> &lstItems);
    // SHA-512 of the bytes as 128 upper-case hexadecimal digits; any length is hashed whole.
    static std::string MakeHashSHA512(const std::string &strContent);
    // Reads the regular file at strPath whole into strContent. It is opened without waiting, so
    // a FIFO or a device under a file's name is an error, never a blocked worker. A file larger
    // than ullMaxBytes (it grew after it was queued) sets bTooLarge and leaves the content
    // partial; ullSeenSize tells how large it was found. The file is read once, into one buffer
    // of its size (and a byte): it is never copied into a larger one while it is read.
    static CKyError ReadRegularFileContent(const std::string &strPath, uint64_t ullMaxBytes,
                                           std::string &strContent, bool &bTooLarge,
                                           uint64_t &ullSeenSize);
    // Virtual-machine item sender (documents/VMItemSender.cpp). Each item goes to the plug-in as
    // an item record with its custom properties, with content when the include filters choose it
    // and metadata only otherwise; an item the exclude filters match, and the "/" folder of a
    // walk not marked as root, are passed over. Items the plug-in reports failed go to the
    // failures file; when the batch's failures reach a positive threshold the transmitter aborts
    // (995). An abort before an item fails the items not yet handed over (995).
    CKyError SendVMItemsToWebService(CItemBatch &batch);
    CKyError SendVMItemsToWebService(std::list<CItemPtr> &lstItems);
    // strOutput becomes the VM GUID, "!" and the hash of the path's object GUID followed by the
    // application GUID.
    void GetContentIdForVMFile(const std::string &strPath, bool bIgnoreCase, char chDelimiter,
                               const std::string &strAppGuid, const std::string &strVMGuid,
                               std::string &strOutput);
    // Collaboration-site item sender (documents/SPItemSender.cpp): every item goes with content
    // under the content id the job queued it with; failures and the threshold as above.
    CKyError SendSPItemsToWebService(CItemBatch &batch);
    CKyError SendSPItemsToWebService(std::list<CItemPtr> &lstItems);
    // The object GUID of the three name parts joined with backslashes.
    void GetContentIdForSPFile(const std::string &strFirst, const std::string &strSecond,
                               const std::string &strThird, std::string &strOutput);

    // Custom properties of a virtual-machine item (documents/VMCustomProperties.cpp). Appends the
    // item's properties in their fixed order and gives its version GUID; 1246 for the "/" folder
    // of a walk that the job did not mark as root, which is not to be sent.
    CKyError BuildVMCustomProperty(const CItemPtr &ptrItem, const std::string &strPath,
                                   std::vector<App::NameValueMap> &vecProperties,
                                   std::string &strVersionGuid);
    static void CreateCustomField(const std::string &strName, const std::string &strValue,
                                  std::vector<App::NameValueMap> &vecProperties);
    // Appends only a non-empty value.
    static void CreateCustomFieldForNonEmptyVal(const std::string &strName,
                                                const std::string &strValue,
                                                std::vector<App::NameValueMap> &vecProperties);
    // ---- end of document builder ----

protected:
    // The exchange behind PostItems2, PostItemsFromMemory and PostItemsFromSource: the nLength
    // bytes at pBody, or with pSource the bytes it reads.
    CKyError PostRequest(const std::string &strUrl, const char *pBody, size_t nLength,
                         TQLibCurl::CBodySource *pSource, const std::string &strHeaderLine);
    // A request that failed for good: the push-failed flag, and strReason as the transmitter's
    // failure reason (see CSolrTransmitterPrivate::SetFailedRequestReason).
    void NoteFailedRequest(const std::string &strReason);

    // The worker loop's work (CIdxTransmitterThread::OnEvent): batches of the job's batch size,
    // each handed to the sender the job's mode selects; a failed batch is logged and the loop
    // goes on.
    int GetBatchSize() override;
    CKyError ProcessBatch(CItemBatch &batch) override;
    bool OnBatchError(const CKyError &error, std::string &strAbortReason) override;
    // A web-service sender's batch when the worker has no handler (its start ended before the
    // handler was made): every item fails and the transmitter aborts with the start's error.
    CKyError RefuseWebServiceBatch(CItemBatch &batch);
    // Hands the record of the batch's front item to the plug-in, with its content (timed as
    // "ReadContent") or as metadata only ("PostRequest"), and settles the front item. A refused
    // push fails the item and every other record the plug-in lists as failed; the list is
    // cleared.
    void PushToWebService(CItemBatch &batch, const TQLX_ContentIndexing::CCIItemInfoPtr &ptrRecord,
                          bool bWithContent);
    // The end of a web-service batch: failures written, progress reported, and the threshold
    // test; 995 (the worker aborted) when the batch's failures reach a positive threshold.
    CKyError FinishWebServiceBatch(CItemBatch &batch, int64_t llBatchSize, int64_t llContentCount,
                                   int64_t llFailed, const char *szThresholdMessage);

    // True while a failed request may still be retried: the worker is not asked to stop and the
    // transmitter is not aborted.
    bool MayRetry();
    // Waits nMilliseconds in short slices, so that a stop or an abort ends the wait early; false
    // when it ended early.
    bool WaitBeforeRetry(uint32_t nMilliseconds);

    // The HTTP handle's cancel check (SolrTransmitterThreadHttp.cpp), on the posting thread.
    // - A request in flight when the end comes (this worker's stop, the transmitter's abort, the
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
    // The option record's abort test; an exception out of the job's quit query counts as "not
    // aborted".
    bool IsAbortedQuietly();
    // Update, extract and commit requests: their answer always has a body.
    bool ExpectsEngineAnswer(const std::string &strUrl) const;

    // Fields, in declaration order. All are used on the worker's own thread only, except the
    // counters-ready flag, the timers and the two totals, which the performance thread reads.
    std::atomic<bool> m_bCountersReady;
    int64_t m_llConsecutiveFailures;
    boost::shared_ptr<TQLX_ContentIndexing::ICIWSHandler> m_ptrWebServiceHandler;
    // Why a web-service job's start ended without a handler; success while there is no reason.
    CKyError m_webServiceStartError;
    // Empty until the HTTP handle has been set up.
    std::string m_strHttpHeader;
    boost::shared_ptr<TQLibCurl> m_ptrCurl;
    boost::shared_ptr<CTimeCounter> m_ptrPostRequestTimer;
    boost::shared_ptr<CTimeCounter> m_ptrReadContentTimer;
    boost::shared_ptr<CTimeCounter> m_ptrGenerateCRC32Timer;
    boost::shared_ptr<CTimeCounter> m_ptrSendVMItemsTimer;
    boost::shared_ptr<CFilterSet> m_ptrIncludeFilters;
    boost::shared_ptr<CFilterSet> m_ptrExcludeFilters;
    boost::shared_ptr<CFilterSet> m_ptrExcludePaths;
    // Upper-case extensions of the files treated as archives.
    std::set<std::string> m_setCompressedExtensions;
    bool m_bUseDynamicTppm;
    boost::shared_ptr<CTimeCounter> m_ptrChangeTimeTimer;
    boost::shared_ptr<CTimeCounter> m_ptrOwnerAndAclTimer;
    // Fed by the metadata sender after each post, whether it succeeded or not.
    std::atomic<int64_t> m_llTransmittedItems;
    std::atomic<int64_t> m_llTransmittedPackets;
    boost::shared_ptr<CTimeCounter> m_ptrSendItemsTimer;
    boost::shared_ptr<CTimeCounter> m_ptrBuildItemsTimer;

    // What the worker reuses from one request to the next, so that a request neither asks the
    // system for memory nor gives any back (documents/): the body of its metadata requests
    // (cleared, never shrunk) and the buffer files are read through, for their CRC and for
    // their content push.
    std::string m_strBody;
    CByteBuffer m_readBuffer;

    // The transfer watch (ShouldGiveUpTransfer), used on the posting thread only.
    bool m_bEndedBeforeTransfer = false;
    bool m_bAbortSeen = false;
    int64_t m_llLastAbortPollMs = 0; // time into the request of the last full abort test
    int64_t m_llEndSeenAtMs = -1;    // time into the request when the end was seen; -1: not yet

    // Set by the first start of any worker; read and set by several starting workers at once.
    static std::atomic<bool> m_bCurlWrapperloaded;

    // Runs one ping on the handle with the stall limit lowered to the ping's, and puts the
    // handle's own limit back after it; returns what fnPing returns.
    bool PingWithIdleLimit(const std::function<bool()> &fnPing);
    // kPingIdleSeconds unless a test replaced it.
    static std::atomic<long> s_nPingIdleSecondsForTest;
};

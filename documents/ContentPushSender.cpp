// The content push sender: every file of a batch whose content qualifies is posted on its own to
// the engine's extract URL, the bytes as the body and the metadata as literal parameters with the
// SHA-512 of the bytes; everything else of the batch goes out as one metadata request.
//
// Content is read only from regular files, opened without waiting, so that a FIFO or a device
// under a file's name can never hold the worker up (documents/ContentRead.cpp). A file that
// cannot be read is sent as a failed item (status 16 with the reason) and recorded in the
// failures file; it is never posted as if its content were empty.
#include "documents/ContentPushSender.h"

#include <exception>
#include <memory>
#include <set>

#include "documents/ContentRead.h"
#include "documents/DocumentKeys.h"
#include "documents/FieldSyntax.h"
#include "documents/ItemMetadataDocument.h"
#include "documents/PartialUpdateDocument.h"
#include "foundation/ErrorCodes.h"
#include "foundation/StringHelpers.h"
#include "platform/ItemLookup.h"
#include "platform/LogWriter.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// The content documents travel as the extract request's parameters.
const EFieldForm kLiteral = EFieldForm::eLiteral;

const char kContentHeaderLine[] = "Content-Type: application/octet-stream";
const char kOptimizedPushMarker[] = "%OPTIMIZED_LOCAL_NODE_PUSH%";
const char kNoExtension[] = "%noext%";
const char kStateFailed[] = "16";
const char kReadErrorText[] = "Error reading file content";

bool MatchesIncludeFilter(const std::set<std::string> &setFilters,
                          const std::string &strExtension) {
    for (const std::string &strFilter : setFilters) {
        if (FXString::CompareNoCase(strFilter, strExtension) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

CContentPushSender::CContentPushSender(CSolrTransmitterThread &worker)
    : m_worker(worker), m_ptrContext(std::make_shared<CDocumentContext>(worker)),
      m_metadata(worker, m_ptrContext) {}

CKyError CContentPushSender::Send(CItemBatch &batch) {
    CDocumentContext &context = *m_ptrContext;
    CTransmitterOptions &options = context.Options();
    const int64_t llBatchSize = static_cast<int64_t>(batch.GetSize());
    const int64_t llFailedBefore = batch.GetFailedCount();
    int64_t llBytes = 0;
    const bool bCloudMode = options.IsCloudMode();
    const std::string strErrorField = bCloudMode ? "Err" : "err";
    const std::string strStatusField = bCloudMode ? "ContentIndexingStatus" : "cistate";
    const std::set<std::string> &setIncludeFilters = options.GetIncludeFiltersSet();
    // Both bounds compare as unsigned values: a negative upper bound means no bound.
    const uint64_t ullMaxSize = static_cast<uint64_t>(options.GetMaxFileSizePushContent());
    const uint64_t ullMinSize = static_cast<uint64_t>(options.GetMinFileSizePushContent());

    // The literal parameters follow the URL's own query; an extract URL configured without one
    // gets an empty query, so that the first parameter does not become part of the path.
    std::string strExtractUrl = options.GetCompleteSolrExtractUrl();
    if (strExtractUrl.find('?') == std::string::npos) {
        strExtractUrl += '?';
    }

    // Items bound for the metadata request are owned by their own batch from the moment they
    // are moved there: should this call end early, they are recorded as failed, not lost.
    CItemBatch metadata(m_worker.GetSharedState(),
                        "the batch ended before its metadata request was sent");

    while (!batch.IsEmpty()) {
        if (options.IsAborted()) {
            if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
                IDX_LOG(4, "Received Quit flag. Exiting TransmitterThread");
            }
            m_worker.AbortThread(FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted),
                                 std::string());
            // What was not taken is not indexed.
            batch.FailAll("the transmitter was aborted before they were sent");
            break;
        }
        const CItemPtr ptrItem = batch.Front();
        const std::string &strPath = ptrItem->GetPath();

        if (ptrItem->IsFolder()) {
            batch.MoveFrontTo(metadata);
            continue;
        }
        CAnalyticsItemInterface *pAnalytics = IdxDocuments::GetAnalyticsItem(ptrItem);
        if (pAnalytics && pAnalytics->IsStub()) {
            if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(3)) {
                IDX_LOG(3, "Skipping Content push as the item is a stub. Item [%s]",
                        strPath.c_str());
            }
            batch.MoveFrontTo(metadata);
            continue;
        }
        // A deleted item has no content left to read: it goes out with an empty body and the
        // hash of the empty text, its document saying it was deleted.
        const bool bDeleted = pAnalytics && pAnalytics->IsItemDeleted();

        std::string strDocument;
        // The body: the optimized push's marker, or a small file's content in the worker's read
        // buffer; a large file's content is sent from the file (ptrStream).
        const char *pBody = "";
        size_t nBodyLength = 0;
        std::unique_ptr<TQLibCurl::CBodySource> ptrStream;
        bool bToMetadata = false;
        bool bReadError = false;
        {
            CAutoTimeCounter readTimer(context.Timer(CSolrTransmitterThread::ETimer::eReadContent));
            std::string strExtension = IdxDocuments::GetFileExtension(ptrItem->GetName());
            if (strExtension.empty()) {
                strExtension = kNoExtension;
            }
            if (ptrItem->IsSelectedForAccess()) {
                bToMetadata = true;
            } else if (!MatchesIncludeFilter(setIncludeFilters, strExtension)) {
                if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(3)) {
                    IDX_LOG(3,
                            "Skipping Content push as it did not meet the include filters. "
                            "File [%s]",
                            strPath.c_str());
                }
                bToMetadata = true;
            }

            if (!bToMetadata) {
                IDX_LOG(3, "Pushing Content for File [%s]", strPath.c_str());
                CKyError error = IdxDocuments::ShouldSendPartialData(context)
                                     ? IdxDocuments::BuildPartialItemDataAnalytics(
                                           context, ptrItem, kLiteral, strDocument)
                                     : IdxDocuments::BuildItemDataAnalytics(context, ptrItem,
                                                                            kLiteral, strDocument);
                if (error.IsError()) {
                    batch.FailAll("building the content document failed, error=" +
                                  error.AsString());
                    return error.Push(FXLOC);
                }

                const uint64_t ullSize = ptrItem->GetSize();
                if (ullSize > ullMaxSize || ullSize < ullMinSize) {
                    IDX_LOG_ERROR("Skipping item, filtered by size, Size = %llu bytes, Item = %s",
                                  static_cast<unsigned long long>(ullSize), strPath.c_str());
                    bToMetadata = true;
                } else if (bDeleted) {
                    strDocument += IdxDocuments::CreateField(
                        "FileContentHash", IdxDocuments::MakeHashSHA512(std::string()), kLiteral);
                } else if (options.IsOptimizeContentPush()) {
                    pBody = kOptimizedPushMarker;
                    nBodyLength = sizeof(kOptimizedPushMarker) - 1;
                    llBytes += static_cast<int64_t>(ullSize);
                    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(5)) {
                        IDX_LOG(5, "Pushing file content using optimized push [%s]",
                                strPath.c_str());
                    }
                } else {
                    bool bTooLarge = false;
                    uint64_t ullSeenSize = 0;
                    size_t nContentSize = 0;
                    std::string strHash;
                    try {
                        error = IdxDocuments::ReadContentToPush(
                            ptrItem->GetFullyQualifiedItemName(), ullMaxSize, context.ReadBuffer(),
                            nContentSize, ptrStream, strHash, bTooLarge, ullSeenSize);
                    } catch (const std::exception &e) {
                        error = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidFunction, "%s",
                                                        e.what());
                    }
                    if (error.IsError()) {
                        bReadError = true;
                        IDX_LOG(0, "Error reading content from file, Item=%s, error=%s ",
                                strPath.c_str(), error.AsString().c_str());
                    } else if (bTooLarge) {
                        IDX_LOG_ERROR("Skipping item, filtered by size, Size = %llu bytes, "
                                      "Item = %s",
                                      static_cast<unsigned long long>(ullSeenSize),
                                      strPath.c_str());
                        bToMetadata = true;
                    } else {
                        llBytes += static_cast<int64_t>(ullSeenSize);
                        IdxDocuments::AppendField(strDocument, "FileContentHash", strHash,
                                                  kLiteral);
                        if (!ptrStream) {
                            pBody = context.ReadBuffer().Data();
                            nBodyLength = nContentSize;
                        }
                    }
                    if (error.IsError() || bTooLarge) {
                        // Bytes read before the failure are not the file's content.
                        ptrStream.reset();
                    }
                }
            }
        }
        if (bToMetadata) {
            batch.MoveFrontTo(metadata);
            continue;
        }
        if (bReadError) {
            IdxDocuments::ChangeFieldValue(strDocument, strStatusField, kStateFailed, kLiteral);
            IdxDocuments::ChangeFieldValue(strDocument, strErrorField, kReadErrorText, kLiteral);
        }

        std::string strUrl = strExtractUrl + strDocument;
        CKyError postError =
            ptrStream
                ? m_worker.Exchange().PostItemsFromSource(strUrl, *ptrStream, kContentHeaderLine)
                : m_worker.Exchange().PostItemsFromMemory(strUrl, pBody, nBodyLength,
                                                          kContentHeaderLine);
        if (postError.IsError()) {
            IDX_LOG_ERROR("Retrying metadata push for failed item: Item=[%s]", strPath.c_str());
            IdxDocuments::ChangeFieldValue(strUrl, strStatusField, kStateFailed, kLiteral);
            CKyError retryError =
                m_worker.Exchange().PostItems2(strUrl, std::string(), kContentHeaderLine);
            if (retryError.IsError()) {
                IDX_LOG_ERROR("Failed to push meta data for failed item Error %s",
                              retryError.AsString().c_str());
            }
            batch.FailFront("the content request failed, error=" + postError.AsString());
        } else if (bReadError) {
            batch.FailFront("the file's content could not be read");
        } else {
            batch.SentFront();
        }
    }
    batch.RecordFailures();

    const int64_t llMetadataItems = static_cast<int64_t>(metadata.GetSize());
    if (!metadata.IsEmpty()) {
        CKyError error = m_metadata.Send(metadata);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to send meta data items to solr, Error=%s",
                          error.AsString().c_str());
        }
    }

    CSolrTransmitterCallbackPtr ptrCallback = options.GetCallback();
    if (ptrCallback) {
        const int64_t llFailed = batch.GetFailedCount() - llFailedBefore;
        ptrCallback->UpdateProgress(llBatchSize - llFailed - llMetadataItems, llBytes, llFailed);
    }
    return CKyError::Success();
}

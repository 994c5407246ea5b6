// The metadata sender: one batch of items becomes one XML update request ("<add>" with one
// "<doc>" per document) posted to the engine's update URL, with an optional CRC-32 of each
// file's content; and the sender of the auditing context, which sends nothing.
#include "documents/MetadataSender.h"

#include "documents/ArchiveMemberDocuments.h"
#include "documents/DocumentKeys.h"
#include "documents/FieldSyntax.h"
#include "documents/FileCrc.h"
#include "documents/ItemMetadataDocument.h"
#include "documents/PartialUpdateDocument.h"
#include "platform/LogWriter.h"
#include "platform/StringFormat.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterCallback.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// What the body of a metadata request reserves on its first use: a full batch of ordinary
// documents fits without growing. A larger body grows it once, and it stays that large.
const size_t kBodyReserveBytes = 256 * 1024;

} // namespace

CMetadataSender::CMetadataSender(CSolrTransmitterThread &worker)
    : CMetadataSender(worker, std::make_shared<CDocumentContext>(worker)) {}

CMetadataSender::CMetadataSender(CSolrTransmitterThread &worker,
                                 std::shared_ptr<CDocumentContext> ptrContext)
    : m_worker(worker), m_ptrContext(std::move(ptrContext)) {}

CKyError CMetadataSender::Send(CItemBatch &batch) {
    CDocumentContext &context = *m_ptrContext;
    CAutoTimeCounter sendTimer(context.Timer(CSolrTransmitterThread::ETimer::eSendItems));
    const CTransmitterOptions &options = context.Options();

    // The sender's body is reused: cleared, it keeps the memory of earlier requests.
    std::string &strBody = m_strBody;
    strBody.clear();
    if (strBody.capacity() < kBodyReserveBytes) {
        strBody.reserve(kBodyReserveBytes);
    }
    strBody += "<add>";
    const int64_t llBatchSize = static_cast<int64_t>(batch.GetSize());
    const bool bWithCrc = options.IsPushMetaDataWithCRC();

    // The items stay in the batch until the answer settles them: whatever ends this call early
    // (a failed build, an exception) leaves them to the batch, which records them as failed.
    for (const CItemPtr &ptrItem : batch.GetItems()) {
        // Only files are archives: a folder named like one holds nothing to unpack.
        if (bWithCrc && !ptrItem->IsFolder()) {
            const std::string strExtension = IdxDocuments::GetFileExtension(ptrItem->GetPath());
            if (IdxDocuments::IsCompressedItem(strExtension)) {
                std::string strArchiveDocuments;
                CKyError error = IdxDocuments::BuildCompressedItem2(context, ptrItem, strExtension,
                                                                    strArchiveDocuments);
                if (error.IsError()) {
                    IDX_LOG_ERROR("Error extracting contents of the compressed file=%s, error=%s",
                                  ptrItem->GetPath().c_str(), error.AsString().c_str());
                }
                strBody += strArchiveDocuments;
                continue;
            }
        }

        // The document is built straight into the body.
        strBody += "<doc>";
        CKyError error =
            IdxDocuments::ShouldSendPartialData(context)
                ? IdxDocuments::BuildPartialItemDataAnalytics(context, ptrItem, EFieldForm::eXml,
                                                              strBody)
                : IdxDocuments::BuildItemDataAnalytics(context, ptrItem, EFieldForm::eXml, strBody);
        if (error.IsError()) {
            batch.FailAll("building the update document failed, error=" + error.AsString());
            return error.Push(FXLOC);
        }

        if (!ptrItem->IsFolder()) {
            std::string strCrc;
            error = IdxDocuments::GetCRC32(context, ptrItem->GetFullyQualifiedItemName(), strCrc);
            if (error.IsError()) {
                IDX_LOG_ERROR("Failed to calculate CRC, error=%s", error.AsString().c_str());
            }
            if (!strCrc.empty()) {
                IdxDocuments::AppendField(strBody, "FileContentHash", strCrc, EFieldForm::eXml);
            }
        }
        strBody += "</doc>";
    }
    strBody += "</add>";

    IDX_LOG(7, "Out: %s", strBody.c_str());

    CKyError postError = m_worker.Exchange().PostItems2(options.GetCompleteSolrUrl(), strBody,
                                                        CEngineExchange::kXmlHeaderLine);

    int64_t llFailed = 0;
    if (postError.IsError()) {
        batch.FailAll("the update request failed, error=" + postError.AsString());
        batch.RecordFailures();
        llFailed = llBatchSize;
    } else {
        batch.SentAll();
    }

    m_worker.NoteTransmitted(llBatchSize);

    CSolrTransmitterCallbackPtr ptrCallback = options.GetCallback();
    if (!options.IsScanPhase() && ptrCallback) {
        CKyError error = ptrCallback->UpdateProgress(llBatchSize - llFailed, 0, llFailed);
        if (error.IsError()) {
            IDX_LOG_ERROR("Failed to update progess to JobManager, error=%s",
                          error.AsString().c_str());
        }
    }

    if (postError.IsError()) {
        return postError.Push(FXLOC);
    }
    return CKyError::Success();
}

CKyError CAuditSender::Send(CItemBatch &batch) {
    // Monitored events reach the audit core through the job's own channel: nothing is left to
    // send here.
    batch.SentAll();
    return CKyError::Success();
}

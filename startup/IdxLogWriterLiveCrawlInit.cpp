#include "startup/IdxLogWriterLiveCrawlInit.h"

#include <cstdint>

#include "platform/LogWriter.h"
#include "startup/ConfigureFromBagHelpers.h"
#include "startup/IdxLogWriterInitSteps.h"
#include "startup/ScannerConfigurationBagId.h"
#include "transmitter/TransmitterConfigurationBagId.h"

namespace {

const uint64_t kConnectionFlags = 0x100;

// The scanner's largest collect-file id into the option bag.
CKyError WriteMaxCollectFileId(const CBagPtr &ptrScannerBag, const CBagPtr &ptrOptionsBag) {
    // Read whole: a scanner's -1 is refused, not taken as 4294967295 collect files.
    long long llMaxCollectFileId = 0;
    if (ptrScannerBag) {
        ptrScannerBag->Read(SXScannerConfigurationBagId::idMaxCollectFileID, llMaxCollectFileId);
    }
    CKyError error = CheckMaxCollectFileId("Scanner value", llMaxCollectFileId);
    if (error.IsError()) {
        IDX_LOG_ERROR("%s", error.AsString().c_str());
        return error;
    }
    const uint32_t nMaxCollectFileId = static_cast<uint32_t>(llMaxCollectFileId);
    IDX_LOG(3, "max CollectFile-ID : %u", nMaxCollectFileId);
    ptrOptionsBag->Write(SXTransmitterConfigurationBagId::idMaxCollectFileID, nMaxCollectFileId);
    return CKyError::Success();
}

} // namespace

CIdxLogWriterLiveCrawlInit::CIdxLogWriterLiveCrawlInit() {}

CIdxLogWriterLiveCrawlInit::~CIdxLogWriterLiveCrawlInit() {}

CKyError CIdxLogWriterLiveCrawlInit::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_LiveCrawl, ptrTransmitter);
}

CKyError CIdxLogWriterLiveCrawlInit::InitializeTransmitterOptions(CBagPtr &ptrScannerBag,
                                                                  TQJobCtrlClient *pJobCtrlClient,
                                                                  TQBkpJobClient *pBkpJobClient,
                                                                  CBagPtr &ptrOptionsBag) {
    return IdxLogWriterInitSteps::FamilyOptionsThen(
        *this, ptrScannerBag, pJobCtrlClient, pBkpJobClient, ptrOptionsBag,
        [&ptrScannerBag, &ptrOptionsBag] {
            return WriteMaxCollectFileId(ptrScannerBag, ptrOptionsBag);
        });
}

CKyError CIdxLogWriterLiveCrawlInit::UpdateIndexingConnectionFlags(CBagPtr &ptrOptionsBag) {
    return IdxLogWriterInitSteps::WriteConnectionFlags(ptrOptionsBag, kConnectionFlags);
}

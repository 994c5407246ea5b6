// The initializer of index-log jobs (transmitter type 1), and the base of the variants for
// virtual-machine, block-level, direct and live-crawl jobs. The job hands its scanner bag, its
// two job-manager clients and its callback to InitializeIdxTransmitter; the initializer makes the
// transmitter of its type, sizes it from the platform settings, copies the scanner values into a
// new option bag and starts it.
//
// The variants differ only in the transmitter type and in a few option-bag values, each written
// by one of the three virtual steps below. The index-engine entry point is refused.
#pragma once

#include <string>

#include "foundation/Export.h"
#include "startup/IdxTransmitterInit.h"

class IDX_EXPORT CIdxLogWriterInit : public CIdxTransmitterInit {
public:
    CIdxLogWriterInit();
    ~CIdxLogWriterInit() override;

    // Refused with 774: this family starts index-log transmitters only.
    CKyError InitializeSolrTransmitter(ApplicationIdPtr ptrApplicationId,
                                       const std::string &strSubclientDir,
                                       TQJobCtrlClient *pJobCtrlClient,
                                       TQBkpJobClient *pBkpJobClient, bool bUseCache,
                                       bool bSaveCache) override;
    // Both clients are required (87 without them). On a failed Start the transmitter's failure
    // reason becomes this initializer's failure text; on success the transmitter is kept.
    CKyError InitializeIdxTransmitter(CBagPtr ptrScannerBag, TQJobCtrlClient *pJobCtrlClient,
                                      TQBkpJobClient *pBkpJobClient,
                                      CSolrTransmitterCallbackPtr ptrCallback) override;
    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;

    // Fills the option bag from the scanner bag, the clients and the platform settings. Scanner
    // values are read into defaults and never required; only the archive-file and connection-flag
    // steps can fail.
    virtual CKyError InitializeTransmitterOptions(CBagPtr &ptrScannerBag,
                                                  TQJobCtrlClient *pJobCtrlClient,
                                                  TQBkpJobClient *pBkpJobClient,
                                                  CBagPtr &ptrOptionsBag);
    // Writes the archive file id: the scanner's "aFileID".
    virtual CKyError UpdateSnapArchiveFileID(CBagPtr &ptrScannerBag, CBagPtr &ptrOptionsBag);
    // Writes the index-server connection flags: 0x80.
    virtual CKyError UpdateIndexingConnectionFlags(CBagPtr &ptrOptionsBag);

protected:
    // A new transmitter of the type into ptrTransmitter (for the variants' factories); 14 when
    // it cannot be allocated.
    static CKyError MakeTransmitter(eIDX_Transmitter_Type eType,
                                    CSolrTransmitterPtr &ptrTransmitter);

    // Not owned: the client handed to the last translation.
    TQBkpJobClient *m_pBkpJobClient;
};

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

#include "startup/IdxTransmitterInit.h"

class CIdxLogWriterInit : public CIdxTransmitterInit {
public:
    CIdxLogWriterInit() : m_pBkpJobClient(nullptr) {}
    ~CIdxLogWriterInit() override {}

    // 774 "Not supported, use the correct method to initialize"; nothing else happens.
    CKyError InitializeSolrTransmitter(ApplicationIdPtr ptrApplication,
                                       const std::string &strSubClientDir,
                                       TQJobCtrlClient *pJobCtrlClient,
                                       TQBkpJobClient *pBkpJobClient, bool bUseConfigCache,
                                       bool bSaveConfigCache) override;
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
    // Makes a transmitter of the given type (for the variants' factories).
    static CKyError MakeTransmitter(eIDX_Transmitter_Type eType,
                                    CSolrTransmitterPtr &ptrTransmitter);

    // Not owned: the client handed to the last translation.
    TQBkpJobClient *m_pBkpJobClient;
};

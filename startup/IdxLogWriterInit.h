// The initializer of index-log jobs (transmitter type 1) and the base of its four variants.
//
// Index-log start-up is not part of this library yet: the entry point refuses with 50 "Not
// supported" and changes nothing, so a job learns it at once instead of getting a transmitter
// that cannot run. What the family shares is here already: the factory of each class's
// transmitter type and the refusal of the index-engine entry point.
#pragma once

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
    // Refused with 50 "Not supported" for now.
    CKyError InitializeIdxTransmitter(CBagPtr ptrScannerBag, TQJobCtrlClient *pJobCtrlClient,
                                      TQBkpJobClient *pBkpJobClient,
                                      CSolrTransmitterCallbackPtr ptrCallback) override;
    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;

protected:
    // A new transmitter of the type into ptrTransmitter; 14 when it cannot be allocated.
    static CKyError MakeTransmitter(eIDX_Transmitter_Type eType,
                                    CSolrTransmitterPtr &ptrTransmitter);

    // Not owned: the backup-job client of the last start-up.
    TQBkpJobClient *m_pBkpJobClient;
};

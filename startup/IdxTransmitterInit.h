// The base of the exported initializers through which a hosting job obtains a started
// transmitter: the transmitter an initialisation produced, the failure text, the two collection
// switches, and one table of virtual operations in which each concrete class names its
// transmitter type through its factory and refuses the other family's entry point.
//
// Index-engine jobs use CSolrTransmitterInit (entry point InitializeSolrTransmitter); index-log
// jobs use CIdxLogWriterInit or one of its variants (entry point InitializeIdxTransmitter).
#pragma once

#include <string>

#include "foundation/KyError.h"
#include "platform/Bag.h"
#include "platform/ManagementData.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/TransmitterTypes.h"

class TQJobCtrlClient;
class TQBkpJobClient;

class CIdxTransmitterInit {
public:
    // No transmitter, no failure text, security collection off, owner collection on.
    CIdxTransmitterInit()
        : m_ptrTransmitter(), m_sFailureReason(), m_bCollectSecurityInfo(false),
          m_bCollectOwnerInfo(true) {}
    // Releases this share of the transmitter; the job's own copy stays valid.
    virtual ~CIdxTransmitterInit() {}

    CIdxTransmitterInit(const CIdxTransmitterInit &) = delete;
    CIdxTransmitterInit &operator=(const CIdxTransmitterInit &) = delete;

    // Index-engine start-up.
    virtual CKyError InitializeSolrTransmitter(ApplicationIdPtr ptrApplication,
                                               const std::string &strSubClientDir,
                                               TQJobCtrlClient *pJobCtrlClient,
                                               TQBkpJobClient *pBkpJobClient, bool bUseConfigCache,
                                               bool bSaveConfigCache) = 0;
    // Index-log start-up from the job's scanner bag.
    virtual CKyError InitializeIdxTransmitter(CBagPtr ptrScannerBag,
                                              TQJobCtrlClient *pJobCtrlClient,
                                              TQBkpJobClient *pBkpJobClient,
                                              CSolrTransmitterCallbackPtr ptrCallback) = 0;
    // The transmitter the last successful entry point started; empty before.
    virtual CSolrTransmitterPtr GetSolrTransmitterInstance() { return m_ptrTransmitter; }
    virtual std::string GetSolrInitFailureReason() { return m_sFailureReason; }
    // Take effect when called before the entry point.
    virtual void SetCollectSecurityInfo(bool bCollect) { m_bCollectSecurityInfo = bCollect; }
    virtual void SetCollectOwnerInfo(bool bCollect) { m_bCollectOwnerInfo = bCollect; }
    // A new, unstarted transmitter of the class's type; 14 (and an empty out) when it cannot be
    // made. It does not touch the kept transmitter.
    virtual CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) = 0;

protected:
    CSolrTransmitterPtr m_ptrTransmitter;
    std::string m_sFailureReason;
    bool m_bCollectSecurityInfo;
    bool m_bCollectOwnerInfo;
};

// The entry of a hosting job: one initializer object reads the job's settings and hands back a
// started transmitter.
//
// CIdxTransmitterInit is the family's abstract base. Each concrete class names its transmitter
// type through its factory (GetTransmitterObj) and serves one of the two entry points:
// InitializeSolrTransmitter for index-engine jobs (CSolrTransmitterInit), InitializeIdxTransmitter
// for index-log jobs (CIdxLogWriterInit and its variants). Each family answers the other's entry
// point with 774 and changes nothing. The order of the virtual operations is one layout for the
// whole family and part of what a host links against: do not reorder them.
//
// A job constructs the class that fits its kind, may set the two collection switches, calls its
// entry point once and then takes the transmitter (GetSolrTransmitterInstance) or reads the
// failure text (GetSolrInitFailureReason). An initializer is used by one thread.
#pragma once

#include <string>

#include "foundation/Export.h"
#include "foundation/KyError.h"
#include "platform/Bag.h"
#include "platform/ManagementData.h"
#include "transmitter/TransmitterTypes.h"

class TQJobCtrlClient;
class TQBkpJobClient;

class IDX_EXPORT CIdxTransmitterInit {
public:
    CIdxTransmitterInit();
    virtual ~CIdxTransmitterInit();

    CIdxTransmitterInit(const CIdxTransmitterInit &) = delete;
    CIdxTransmitterInit &operator=(const CIdxTransmitterInit &) = delete;

    // Index-engine entry point: the application of the job's subclient, the subclient's folder
    // (which also holds the configuration cache file), the job's clients, whether to take the
    // settings from the cache file and whether to save them to it.
    virtual CKyError InitializeSolrTransmitter(ApplicationIdPtr ptrApplicationId,
                                               const std::string &strSubclientDir,
                                               TQJobCtrlClient *pJobCtrlClient,
                                               TQBkpJobClient *pBkpJobClient, bool bUseCache,
                                               bool bSaveCache) = 0;
    // Index-log entry point: the job's scanner bag, its clients and its callback.
    virtual CKyError InitializeIdxTransmitter(CBagPtr ptrScannerBag,
                                              TQJobCtrlClient *pJobCtrlClient,
                                              TQBkpJobClient *pBkpJobClient,
                                              CSolrTransmitterCallbackPtr ptrCallback) = 0;
    // The transmitter the last successful entry point started; empty before.
    virtual CSolrTransmitterPtr GetSolrTransmitterInstance();
    virtual std::string GetSolrInitFailureReason();
    // Take effect when called before the entry point, which may change them by its own rules.
    virtual void SetCollectSecurityInfo(bool bCollectSecurityInfo);
    virtual void SetCollectOwnerInfo(bool bCollectOwnerInfo);
    // A new, unstarted transmitter of the class's type into ptrTransmitter; 14 when it cannot be
    // allocated. The kept transmitter is not touched: an entry point keeps the new one only once
    // it has started.
    virtual CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) = 0;

protected:
    // The 774 answer of the other family's entry point.
    static CKyError NotThisFamily(const FXCodeLocation &location);

    CSolrTransmitterPtr m_ptrTransmitter;
    std::string m_sFailureReason;
    bool m_bCollectSecurityInfo;
    bool m_bCollectOwnerInfo;
};

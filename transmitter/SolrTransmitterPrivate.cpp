#include "transmitter/SolrTransmitterPrivate.h"

#include <algorithm>

#include <boost/make_shared.hpp>

#include "foundation/Accessors.h"
#include "platform/EventThread.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterOptions.h"

CSolrTransmitterPrivate::CSolrTransmitterPrivate(CSolrTransmitter *pTransmitter,
                                                 eIDX_Transmitter_Type eType)
    // Everything made here is used without a test for emptiness by the workers and the facade,
    // so an allocation failure must end the construction (it throws) rather than leave a record
    // with holes in it.
    : m_pTransmitter(pTransmitter), m_eTransmitterType(eType), m_nMaxQueueSize(100),
      m_nQueueTimeoutInMins(15), m_nTransmitterThreads(1),
      m_ptrOptions(boost::make_shared<CTransmitterOptions>()), m_bDataConfiguredFromBag(false),
      m_ptrCollectSecurityInfoTimer(boost::make_shared<CTimeCounter>("CollectSecurityInfo")),
      m_ptrQueueFullWaitTimer(boost::make_shared<CTimeCounter>("AddToQueue Queue-full wait")),
      m_ptrGetQueuedItemsTimer(boost::make_shared<CTimeCounter>("GetQueuedItems")),
      m_bSendPartialData(false), m_pBackupJobClient(nullptr), m_nCollectID(0xFFFFFFFFu),
      m_llCollectOffset(-1), m_nDisableSolrPerfThread(0),
      m_ptrAdditionalPropertiesTimer(boost::make_shared<CTimeCounter>("Additionalproperties")),
      m_bFolderStatsSent(false), m_bStopped(false), m_bStubFiltersInitialized(false),
      m_queue(m_ptrOptions), m_bPushDataToSolrFailed(false), m_bReasonOfFailedRequest(false),
      m_llFailedItemCount(0) {}

CSolrTransmitterPrivate::~CSolrTransmitterPrivate() = default;

CKyError CSolrTransmitterPrivate::AddToQueue(CItemPtr ptrItem) {
    return m_queue.Add(ptrItem, m_ptrQueueFullWaitTimer.get());
}

CKyError CSolrTransmitterPrivate::ClearQueuedItems(const std::string &strReason) {
    // The batch fails and records what it removed when it ends.
    CItemBatch batch(*this);
    batch.RemoveAllFromQueue(strReason);
    return CKyError::Success();
}

bool CSolrTransmitterPrivate::IfPushDataToSolrFailed() {
    auto_lock lock(&m_lockPushFailed, true);
    return m_bPushDataToSolrFailed;
}

void CSolrTransmitterPrivate::SetPushDataToSolrFailed(bool bFailed) {
    auto_lock lock(&m_lockPushFailed, true);
    m_bPushDataToSolrFailed = bFailed;
}

std::string CSolrTransmitterPrivate::GetSolrFailureReason() const {
    auto_lock lock(&m_lockFailureReason, true);
    return m_strSolrFailureReason;
}

void CSolrTransmitterPrivate::SetSolrFailureReason(const std::string &strReason) {
    auto_lock lock(&m_lockFailureReason, true);
    m_strSolrFailureReason = strReason;
    m_bReasonOfFailedRequest = false;
}

void CSolrTransmitterPrivate::SetFailedRequestReason(const std::string &strReason) {
    auto_lock lock(&m_lockFailureReason, true);
    if (m_strSolrFailureReason.empty() || m_bReasonOfFailedRequest) {
        m_strSolrFailureReason = strReason;
        m_bReasonOfFailedRequest = true;
    }
}

void CSolrTransmitterPrivate::SetAbortReason(const std::string &strReason) {
    auto_lock lock(&m_lockFailureReason, true);
    if (m_strSolrFailureReason.empty() || m_bReasonOfFailedRequest) {
        m_strSolrFailureReason = strReason;
        m_bReasonOfFailedRequest = false;
    }
}

CSolrTransmitterCallbackPtr CSolrTransmitterPrivate::GetCallback() {
    return m_ptrOptions->GetCallback();
}

boost::shared_ptr<FXEvent> CSolrTransmitterPrivate::GetItemQueuedEvent() {
    return m_queue.GetItemQueuedEvent();
}

std::list<IIdxTransmitterThreadPtr> CSolrTransmitterPrivate::GetWorkers() const {
    auto_lock lock(&m_lockWorkers, true);
    return m_lstWorkers;
}

bool CSolrTransmitterPrivate::IsDataConfiguredFromBag() const {
    return m_bDataConfiguredFromBag;
}

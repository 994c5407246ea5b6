#include "transmitter/SolrTransmitterPrivate.h"

#include <algorithm>

#include <boost/make_shared.hpp>

#include "foundation/Accessors.h"
#include "foundation/ErrorCodes.h"
#include "platform/EventThread.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/TransmitterAssembly.h"
#include "transmitter/TransmitterOptions.h"

CSolrTransmitterPrivate::CSolrTransmitterPrivate(CSolrTransmitter *pTransmitter,
                                                 eIDX_Transmitter_Type eType)
    // Everything made here is used without a test for emptiness by the workers and the facade,
    // so an allocation failure must end the construction (it throws) rather than leave a record
    // with holes in it.
    : m_ptrOptions(boost::make_shared<CTransmitterOptions>()), m_pTransmitter(pTransmitter),
      m_eTransmitterType(eType), m_bStubFiltersInitialized(false), m_queue(m_ptrOptions),
      m_bPushDataToSolrFailed(false), m_bReasonOfFailedRequest(false), m_llFailedItemCount(0) {
    m_timers.m_ptrCollectSecurityInfoTimer =
        boost::make_shared<CTimeCounter>("CollectSecurityInfo");
    m_timers.m_ptrQueueFullWaitTimer =
        boost::make_shared<CTimeCounter>("AddToQueue Queue-full wait");
    m_timers.m_ptrGetQueuedItemsTimer = boost::make_shared<CTimeCounter>("GetQueuedItems");
    m_timers.m_ptrAdditionalPropertiesTimer =
        boost::make_shared<CTimeCounter>("Additionalproperties");
    // Counted by the index-log workers, which live shorter than the job's end that reads it.
    m_timers.m_ptrGuidGenerationTimer = boost::make_shared<CTimeCounter>("Guid generation");
}

CSolrTransmitterPrivate::~CSolrTransmitterPrivate() = default;

CKyError CSolrTransmitterPrivate::AddToQueue(CItemPtr ptrItem) {
    return m_queue.Add(ptrItem, m_timers.m_ptrQueueFullWaitTimer.get());
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

CKyError CSolrTransmitterPrivate::ConfigureFromBag() {
    if (!m_config.m_ptrOptionsBag) {
        return CKyError::Success();
    }
    FnTranslateOptionBag fnTranslate = GetTransmitterAssembly().fnTranslateOptionBag;
    if (!fnTranslate) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "The transmitter was given no option-bag translation");
    }
    return fnTranslate(*m_config.m_ptrOptionsBag, m_eTransmitterType, *m_ptrOptions, m_config);
}

bool CSolrTransmitterPrivate::IsDataConfiguredFromBag() const {
    return m_config.m_bDataConfiguredFromBag;
}

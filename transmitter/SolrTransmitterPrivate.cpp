#include "transmitter/SolrTransmitterPrivate.h"

#include <algorithm>

#include <boost/make_shared.hpp>

#include "foundation/Accessors.h"
#include "platform/EventThread.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/TransmitterOptions.h"

CSolrTransmitterPrivate::CSolrTransmitterPrivate(CSolrTransmitter *pTransmitter,
                                                 eIDX_Transmitter_Type eType)
    : m_pTransmitter(pTransmitter), m_eTransmitterType(eType), m_nMaxQueueSize(100),
      m_llItemsQueued(0), m_llFailedItemCount(0), m_nQueueTimeoutInMins(15),
      m_nTransmitterThreads(1), m_bPushDataToSolrFailed(false), m_bDataConfiguredFromBag(false),
      m_bSendPartialData(false), m_bStubFiltersInitialized(false), m_pBackupJobClient(nullptr),
      m_nCollectID(0xFFFFFFFFu), m_llCollectOffset(-1), m_nDisableSolrPerfThread(0),
      m_bFolderStatsSent(false) {
    // Everything below is used without a test for emptiness by the workers and the facade, so an
    // allocation failure here must end the construction (it throws) rather than leave a record
    // with holes in it.
    m_ptrItemQueuedEvent = boost::make_shared<FXEvent>(0u);
    m_ptrOptions = boost::make_shared<CTransmitterOptions>();
    m_ptrCollectSecurityInfoTimer = boost::make_shared<CTimeCounter>("CollectSecurityInfo");
    m_ptrQueueFullWaitTimer = boost::make_shared<CTimeCounter>("AddToQueue Queue-full wait");
    m_ptrGetQueuedItemsTimer = boost::make_shared<CTimeCounter>("GetQueuedItems");
    m_ptrAdditionalPropertiesTimer = boost::make_shared<CTimeCounter>("Additionalproperties");
}

CSolrTransmitterPrivate::~CSolrTransmitterPrivate() = default;

CKyError CSolrTransmitterPrivate::AddToQueue(CItemPtr ptrItem) {
    // The semaphore is replaced only by Start, which never runs while a queueing call does; the
    // copy keeps it alive across the wait in any case.
    boost::shared_ptr<TqSemaphore> ptrSemaphore = m_ptrQueueSemaphore;
    if (!ptrSemaphore) {
        return FXErrorUtil::ErrorWin32(FXLOC, 774, "Transmitter was not started");
    }
    // The abort test asks the job's own callback, which may throw like any outside code.
    try {
        if (m_ptrOptions->IsAborted()) {
            return FXErrorUtil::ErrorWin32(FXLOC, 995);
        }
    } catch (...) {
        return ErrorFromCaughtException(FXLOC);
    }

    {
        CAutoTimeCounter waitTimer(m_ptrQueueFullWaitTimer.get());
        ptrSemaphore->wait();
    }

    int64_t llQueueLength = 0;
    try {
        auto_lock lock(&m_lockQueue, true);
        if (m_ptrOptions->IsAborted()) {
            // The abort gave back one slot per item it removed, which may be fewer than the
            // callers blocked here. Passing the slot on wakes the next blocked caller, which
            // sees the abort in turn, so every one of them is refused instead of left waiting.
            ptrSemaphore->release(1);
            return FXErrorUtil::ErrorWin32(FXLOC, 995);
        }
        m_lstQueuedItems.push_back(ptrItem);
        ++m_llItemsQueued;
        llQueueLength = static_cast<int64_t>(m_lstQueuedItems.size());
    } catch (...) {
        // Nothing was appended (the abort test or the append threw): the slot taken above goes
        // back, or the queue would be one slot smaller for good and, once no slot is left, every
        // later caller would wait forever with nothing that could wake it.
        ptrSemaphore->release(1);
        return ErrorFromCaughtException(FXLOC);
    }

    IDX_LOG(7, "%lld items in queue", static_cast<long long>(llQueueLength));
    // An idle worker is woken when this item ends an empty queue, and another one each time a
    // further batch has gathered. A woken worker drains the queue until it finds it empty before
    // it waits again (and a worker that is busy sees a set at its next wait), so every item is
    // taken; while the job queues faster than the workers post, the backlog wakes one more
    // worker per batch and the workers take whole batches. Waking every idle worker for every
    // item instead makes them race each other for batches of one item.
    const int64_t llBatch = std::max(1, m_ptrOptions->GetMaxItemsPerTransaction());
    if (llQueueLength == 1 || llQueueLength % llBatch == 0) {
        m_ptrItemQueuedEvent->SetOne();
    }
    return CKyError::Success();
}

CKyError CSolrTransmitterPrivate::GetQueuedItems(std::list<CItemPtr> &lstItems, int nMaxItems) {
    lstItems.clear();
    CAutoTimeCounter timer(m_ptrGetQueuedItemsTimer.get());

    auto_lock lock(&m_lockQueue, true);
    try {
        while (!m_lstQueuedItems.empty() && nMaxItems > 0) {
            lstItems.push_back(m_lstQueuedItems.front());
            m_lstQueuedItems.pop_front();
            if (m_ptrQueueSemaphore) {
                m_ptrQueueSemaphore->release(1);
            }
            --nMaxItems;
        }
    } catch (TqException &e) {
        IDX_LOG(3, "Exception occurred : %s", e.getMessage());
    } catch (...) {
        IDX_LOG(3, "Unknown exception occurred in release semaphore function");
    }
    return CKyError::Success();
}

CKyError CSolrTransmitterPrivate::ClearQueuedItems() {
    auto_lock lock(&m_lockQueue, true);
    if (m_lstQueuedItems.empty()) {
        return CKyError::Success();
    }
    try {
        if (m_ptrQueueSemaphore) {
            m_ptrQueueSemaphore->release(static_cast<int32_t>(m_lstQueuedItems.size()));
        }
        m_lstQueuedItems.clear();
    } catch (TqException &e) {
        IDX_LOG(3, "Exception occurred : %s", e.getMessage());
    } catch (...) {
        IDX_LOG(3, "Unknown exception occurred in release semaphore function");
    }
    return CKyError::Success();
}

size_t CSolrTransmitterPrivate::GetQueueLength() {
    auto_lock lock(&m_lockQueue, true);
    return m_lstQueuedItems.size();
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
    auto_lock lock(&m_lockQueue, true);
    return m_strSolrFailureReason;
}

void CSolrTransmitterPrivate::SetSolrFailureReason(const std::string &strReason) {
    auto_lock lock(&m_lockQueue, true);
    m_strSolrFailureReason = strReason;
}

CSolrTransmitterCallbackPtr CSolrTransmitterPrivate::GetCallback() {
    return m_ptrOptions->GetCallback();
}

boost::shared_ptr<FXEvent> CSolrTransmitterPrivate::GetItemQueuedEvent() {
    return m_ptrItemQueuedEvent;
}

bool CSolrTransmitterPrivate::IsDataConfiguredFromBag() const {
    return m_bDataConfiguredFromBag;
}

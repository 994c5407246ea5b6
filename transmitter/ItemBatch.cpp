#include "transmitter/ItemBatch.h"

#include <utility>

#include "platform/Clock.h"
#include "platform/LogWriter.h"
#include "transmitter/SolrTransmitterPrivate.h"

CItemBatch::CItemBatch(CSolrTransmitterPrivate &state, std::string strReason)
    : m_state(state), m_strReason(std::move(strReason)), m_llSent(0), m_llFailed(0) {}

CItemBatch::CItemBatch(CSolrTransmitterPrivate &state, std::list<CItemPtr> &lstSettled)
    : CItemBatch(state) {
    m_pSettledOut = &lstSettled;
}

CItemBatch::~CItemBatch() {
    // Every held item becomes a failed name: counted before the names leave the batch, so that a
    // failure to record them still says how many were lost.
    const size_t nToRecord = m_vecFailedNames.size() + m_lstHeld.size();
    try {
        FailHeldAndRecord();
        if (m_pSettledOut != nullptr) {
            m_pSettledOut->splice(m_pSettledOut->end(), m_lstSettled);
        } else {
            m_state.Queue().ReturnSettled(m_lstSettled);
        }
    } catch (...) {
        // Only a lack of memory throws here (for a name's copy or a line of the log): the flag
        // is set and the log says how many items were not recorded, so that the job still
        // learns that something failed.
        try {
            m_state.SetPushDataToSolrFailed(true);
            IDX_LOG_ERROR("Failed to record %zu failed items", nToRecord);
        } catch (...) {
        }
    }
}

void CItemBatch::TakeFromQueue(int nMaxItems) {
    if (!m_lstHeld.empty()) {
        return;
    }
    CAutoTimeCounter timer(m_state.Timers().m_ptrGetQueuedItemsTimer.get());
    m_state.Queue().Take(m_lstHeld, nMaxItems);
}

bool CItemBatch::TakeBatchFromQueue(int nMaxItems) {
    bool bLeftEmpty = false;
    if (!m_lstHeld.empty()) {
        return bLeftEmpty;
    }
    CAutoTimeCounter timer(m_state.Timers().m_ptrGetQueuedItemsTimer.get());
    m_state.Queue().TakeBatch(m_lstHeld, nMaxItems, m_pSettledOut, &bLeftEmpty);
    return bLeftEmpty;
}

void CItemBatch::RemoveAllFromQueue(const std::string &strReason) {
    if (!m_lstHeld.empty()) {
        return;
    }
    m_strReason = strReason;
    m_state.Queue().RemoveAll(m_lstHeld);
}

void CItemBatch::Add(const CItemPtr &ptrItem) {
    m_lstHeld.push_back(ptrItem);
}

void CItemBatch::SettleFront() {
    m_lstSettled.splice(m_lstSettled.end(), m_lstHeld, m_lstHeld.begin());
}

void CItemBatch::SentFront() {
    SettleFront();
    ++m_llSent;
}

void CItemBatch::FailFrontSilently() {
    const CItemPtr &ptrItem = m_lstHeld.front();
    // An item that cannot give its name is failed without one, never with the rest of the
    // batch.
    std::string strName;
    if (ptrItem && m_state.GetFailureName(*ptrItem, strName)) {
        m_vecFailedNames.push_back(std::move(strName));
    }
    SettleFront();
    ++m_llFailed;
}

void CItemBatch::NoteFailureReason(const std::string &strReason) {
    // Names wait together under one reason: a new reason writes the waiting ones first, so that
    // the log gives every failed item its own reason.
    if (!m_vecFailedNames.empty() && strReason != m_strFailedReason) {
        RecordFailures();
    }
    m_strFailedReason = strReason;
}

void CItemBatch::FailFront(const std::string &strReason) {
    NoteFailureReason(strReason);
    FailFrontSilently();
}

void CItemBatch::FailHandedOver(const std::string &strName, const std::string &strReason) {
    NoteFailureReason(strReason);
    m_vecFailedNames.push_back(strName);
    ++m_llFailed;
}

void CItemBatch::MoveFrontTo(CItemBatch &other) {
    // The node moves: nothing is allocated, so the item is always held by one of the two.
    other.m_lstHeld.splice(other.m_lstHeld.end(), m_lstHeld, m_lstHeld.begin());
}

void CItemBatch::SentAll() {
    m_llSent += static_cast<int64_t>(m_lstHeld.size());
    m_lstSettled.splice(m_lstSettled.end(), m_lstHeld);
}

void CItemBatch::FailAll(const std::string &strReason) {
    if (m_lstHeld.empty()) {
        return;
    }
    NoteFailureReason(strReason);
    m_vecFailedNames.reserve(m_vecFailedNames.size() + m_lstHeld.size());
    while (!m_lstHeld.empty()) {
        FailFrontSilently();
    }
}

void CItemBatch::RecordFailures() {
    if (m_vecFailedNames.empty()) {
        return;
    }
    std::vector<std::string> vecNames;
    vecNames.swap(m_vecFailedNames);
    m_state.RecordItemsAsFailed(vecNames, m_strFailedReason);
}

void CItemBatch::FailHeldAndRecord() {
    FailAll(m_strReason);
    RecordFailures();
}

// The web-service side of the index-engine worker (virtual-machine and collaboration-site
// content indexing).
//
// The web-service plug-in is not available in this build. Its set-up therefore fails with 50, so
// that a worker of such a job aborts the transmitter at its start, and the two senders never
// reach for a handler: should a batch arrive anyway (a worker whose start was cut short before
// the set-up), its items are recorded as failed instead of being lost.
#include <vector>

#include "engine/SolrTransmitterThread.h"
#include "platform/LogWriter.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"

namespace {

CKyError FailBatch(CItemBatch &batch) {
    const size_t nItems = batch.GetSize();
    batch.FailAll("the web-service plug-in is not available");
    return FXErrorUtil::ErrorWin32(FXLOC, 50,
                                   "Web-service plug-in is not available, %zu items "
                                   "not indexed",
                                   nItems);
}

CKyError FailList(CSolrTransmitterPrivate &state, std::list<CItemPtr> &lstItems) {
    CItemBatch batch(state);
    for (const CItemPtr &ptrItem : lstItems) {
        batch.Add(ptrItem);
    }
    lstItems.clear();
    return FailBatch(batch);
}

} // namespace

CKyError CSolrTransmitterThread::InitializeWebServiceHandler(int nMode, std::string strUrl,
                                                             int nApplicationType) {
    IDX_LOG(2, "Web-service plug-in requested, mode=[%d], URL=[%s], application type=[%d]", nMode,
            strUrl.c_str(), nApplicationType);
    return FXErrorUtil::ErrorWin32(FXLOC, 50, "Web-service plug-in is not available");
}

CKyError CSolrTransmitterThread::SendVMItemsToWebService(std::list<CItemPtr> &lstItems) {
    CAutoTimeCounter timer(m_ptrSendVMItemsTimer.get());
    return FailList(*m_ptrSolrTransmitterPrivate, lstItems);
}

CKyError CSolrTransmitterThread::SendSPItemsToWebService(std::list<CItemPtr> &lstItems) {
    CAutoTimeCounter timer(m_ptrSendVMItemsTimer.get());
    return FailList(*m_ptrSolrTransmitterPrivate, lstItems);
}

CKyError CSolrTransmitterThread::SendVMItemsToWebService(CItemBatch &batch) {
    CAutoTimeCounter timer(m_ptrSendVMItemsTimer.get());
    return FailBatch(batch);
}

CKyError CSolrTransmitterThread::SendSPItemsToWebService(CItemBatch &batch) {
    CAutoTimeCounter timer(m_ptrSendVMItemsTimer.get());
    return FailBatch(batch);
}

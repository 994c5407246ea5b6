// The web-service plug-in of the index-engine worker (virtual-machine and collaboration-site
// content indexing): loading the plug-in library, making and setting up the worker's handler,
// submitting the indexing task, finishing it when the worker stops, and what a worker without a
// handler does with a batch.
//
// Each worker loads the library and makes a handler of its own. The loader travels with the
// handler: the library stays loaded while any handler made from it lives, and is let go after the
// last one is deleted, so the handler's code is never unloaded under it.
#include <string>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "engine/SolrTransmitterThread.h"
#include "foundation/ErrorCodes.h"
#include "platform/CIWebServiceHandler.h"
#include "platform/KyLibrary.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/ItemBatch.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char *const kWebServiceLibrary = "libTqCIWebServiceHandler.so";
const char *const kWebServiceEntryPoint = "getTqCIWebServiceHandle";

// Deletes a handler through its own virtual destructor, then lets the library that made it go.
class CWebServiceHandlerDeleter {
public:
    explicit CWebServiceHandlerDeleter(boost::shared_ptr<CKyLibrary> ptrLibrary)
        : m_ptrLibrary(std::move(ptrLibrary)) {}

    void operator()(TQLX_ContentIndexing::ICIWSHandler *pHandler) {
        delete pHandler;
        m_ptrLibrary.reset();
    }

private:
    boost::shared_ptr<CKyLibrary> m_ptrLibrary;
};

} // namespace

CKyError CSolrTransmitterThread::InitializeWebServiceHandler(int nMode, std::string strUrl,
                                                             int nApplicationType) try {
    CTransmitterOptions &options = *m_ptrOptions;

    if (!m_ptrWebServiceHandler) {
        boost::shared_ptr<CKyLibrary> ptrLibrary = boost::make_shared<CKyLibrary>(true);
        CKyError error = ptrLibrary->Load(kWebServiceLibrary, false);
        if (error.IsError()) {
            return error.Push(FXLOC, "ModuleName=[%s]", kWebServiceLibrary);
        }
        void *pAddress = nullptr;
        error = ptrLibrary->GetAddress(kWebServiceEntryPoint, pAddress);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }

        PFN_getTqCIWebServiceHandle pfnGetHandle =
            reinterpret_cast<PFN_getTqCIWebServiceHandle>(pAddress);
        TQLX_ContentIndexing::ICIWSHandler *pHandler = pfnGetHandle(options.IsVMContentIndexing());
        if (pHandler == nullptr) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory,
                                           "The web-service plug-in made no handler");
        }
        // Should the reset itself fail, the deleter still deletes the handler.
        m_ptrWebServiceHandler.reset(pHandler, CWebServiceHandlerDeleter(ptrLibrary));

        if (options.IsVMContentIndexing() || options.IsSPContentIndexing()) {
            m_ptrWebServiceHandler->SetSubClientDir(options.GetSubClientDir());
            const int64_t llMode = nMode;
            m_ptrWebServiceHandler->SetMode(llMode);
            // The plug-in asks on its own schedule: an exception of the job's quit query must not
            // reach it, and counts as "not aborted", as in the batch loop.
            m_ptrWebServiceHandler->SetAbortCheck([this]() {
                return m_ptrSolrTransmitterPrivate->Abort().IsAborted(
                    CAbortState::eNotAbortedLogged);
            });
        }
        const int64_t llJobId = options.GetJobId();
        m_ptrWebServiceHandler->SetJobId(llJobId);

        error = m_ptrWebServiceHandler->Initialize();
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
    }

    const uint32_t nItemsPerTransaction =
        static_cast<uint32_t>(options.GetMaxItemsPerTransaction());
    const uint32_t nSecondLimit = 0;
    m_ptrWebServiceHandler->SetBatchLimits(nItemsPerTransaction, nSecondLimit);
    m_ptrWebServiceHandler->SetOptionFlag(true);
    m_ptrWebServiceHandler->SetPushOnlyMetadata(options.IsPushOnlyMetaData());

    bool bTaskSubmitted = false;
    CreateWebServiceTask(strUrl, nApplicationType, bTaskSubmitted);
    if (!bTaskSubmitted) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eOperationAborted,
                                       "The indexing web service did not take the task, URL=[%s]",
                                       strUrl.c_str());
    }
    return CKyError::Success();
} catch (...) {
    // The plug-in is outside code: what it throws fails the set-up like any error of it.
    return ErrorFromCaughtException(FXLOC);
}

void CSolrTransmitterThread::CreateWebServiceTask(std::string strUrl, int nApplicationType,
                                                  bool &bOk) {
    bOk = false;
    CKyError error;
    try {
        const uint32_t nApplicationNumber = m_ptrOptions->GetApplicationNumber();
        const int32_t nClientId = static_cast<int32_t>(m_ptrOptions->GetClientId());
        const int64_t llJobId = m_ptrOptions->GetJobId();
        std::string strOutput;
        error = m_ptrWebServiceHandler->SubmitTask(strUrl, nApplicationNumber, nClientId, llJobId,
                                                   nApplicationType, strOutput);
    } catch (...) {
        error = ErrorFromCaughtException(FXLOC);
    }
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to get submit task to indexing web service URL %s, error=%s",
                      strUrl.c_str(), error.AsString().c_str());
        return;
    }
    bOk = true;
}

void CSolrTransmitterThread::FinishWebServiceTask() {
    // The abort test asks the job's quit query, which is the job's own code: a query that throws
    // counts as "not aborted", as in the plug-in's abort check, and the task is still finished.
    if (m_ptrSolrTransmitterPrivate->Abort().IsAborted(CAbortState::eNotAbortedLogged)) {
        return;
    }
    // The plug-in's answer is not examined.
    try {
        if (m_ptrOptions->IsVMContentIndexing()) {
            if (m_ptrWebServiceHandler) {
                m_ptrWebServiceHandler->FinishVMTask(0);
            }
        } else if (m_ptrOptions->IsSPContentIndexing() && m_ptrWebServiceHandler) {
            bool bValue = false;
            m_ptrWebServiceHandler->FinishTask(bValue);
        }
    } catch (...) {
        CKyError error = ErrorFromCaughtException(FXLOC);
        IDX_LOG_ERROR("Failed to finish the web-service task, error=%s", error.AsString().c_str());
    }
    IDX_LOG(5, "OnStop success");
}

CKyError CSolrTransmitterThread::RefuseWebServiceBatch(CItemBatch &batch) {
    CKyError error = m_webServiceStartError;
    if (!error.IsError()) {
        error = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                        "The worker has no web-service handler");
    }
    IDX_LOG_ERROR("No web-service handler to send %zu items to, error=%s", batch.GetSize(),
                  error.AsString().c_str());
    batch.FailAll("the worker could not make its web-service handler, error=" + error.AsString());
    AbortThread(error, std::string());
    return error;
}

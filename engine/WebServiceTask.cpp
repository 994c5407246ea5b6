// Each worker loads the library and makes a handler of its own. The loader travels with the
// handler: the library stays loaded while any handler made from it lives, and is let go after the
// last one is deleted, so the handler's code is never unloaded under it.
#include "engine/WebServiceTask.h"

#include <utility>

#include <boost/make_shared.hpp>

#include "foundation/ErrorCodes.h"
#include "platform/CIWebServiceHandler.h"
#include "platform/KyLibrary.h"
#include "platform/LogWriter.h"
#include "transmitter/AbortState.h"
#include "transmitter/ExceptionBoundary.h"
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

CKyError
InitializeWebServiceHandler(const CTransmitterOptionsPtr &ptrOptions,
                            const CSolrTransmitterPrivatePtr &ptrState,
                            boost::shared_ptr<TQLX_ContentIndexing::ICIWSHandler> &ptrHandler,
                            int nMode, const std::string &strUrl, int nApplicationType) try {
    CTransmitterOptions &options = *ptrOptions;

    if (!ptrHandler) {
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
        ptrHandler.reset(pHandler, CWebServiceHandlerDeleter(ptrLibrary));

        if (options.IsVMContentIndexing() || options.IsSPContentIndexing()) {
            ptrHandler->SetSubClientDir(options.GetSubClientDir());
            const int64_t llMode = nMode;
            ptrHandler->SetMode(llMode);
            // The plug-in asks on its own schedule: an exception of the job's quit query must not
            // reach it, and counts as "not aborted", as in the batch loop. The check holds the
            // shared state, so it stays valid as long as the handler.
            ptrHandler->SetAbortCheck([ptrState]() {
                return ptrState->Abort().IsAborted(CAbortState::eNotAbortedLogged);
            });
        }
        const int64_t llJobId = options.GetJobId();
        ptrHandler->SetJobId(llJobId);

        error = ptrHandler->Initialize();
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
    }

    const uint32_t nItemsPerTransaction =
        static_cast<uint32_t>(options.GetMaxItemsPerTransaction());
    const uint32_t nSecondLimit = 0;
    ptrHandler->SetBatchLimits(nItemsPerTransaction, nSecondLimit);
    ptrHandler->SetOptionFlag(true);
    ptrHandler->SetPushOnlyMetadata(options.IsPushOnlyMetaData());

    bool bTaskSubmitted = false;
    CreateWebServiceTask(options, *ptrHandler, strUrl, nApplicationType, bTaskSubmitted);
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

void CreateWebServiceTask(const CTransmitterOptions &options,
                          TQLX_ContentIndexing::ICIWSHandler &handler, const std::string &strUrl,
                          int nApplicationType, bool &bOk) {
    bOk = false;
    CKyError error;
    try {
        const uint32_t nApplicationNumber = options.GetApplicationNumber();
        const int32_t nClientId = static_cast<int32_t>(options.GetClientId());
        const int64_t llJobId = options.GetJobId();
        std::string strOutput;
        error = handler.SubmitTask(strUrl, nApplicationNumber, nClientId, llJobId, nApplicationType,
                                   strOutput);
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

void FinishWebServiceTask(const CTransmitterOptions &options, CAbortState &abort,
                          TQLX_ContentIndexing::ICIWSHandler *pHandler) {
    // The abort test asks the job's quit query, which is the job's own code: a query that throws
    // counts as "not aborted", as in the plug-in's abort check, and the task is still finished.
    if (abort.IsAborted(CAbortState::eNotAbortedLogged)) {
        return;
    }
    // The plug-in's answer is not examined.
    try {
        if (options.IsVMContentIndexing()) {
            if (pHandler) {
                pHandler->FinishVMTask(0);
            }
        } else if (options.IsSPContentIndexing() && pHandler) {
            bool bValue = false;
            pHandler->FinishTask(bValue);
        }
    } catch (...) {
        CKyError error = ErrorFromCaughtException(FXLOC);
        IDX_LOG_ERROR("Failed to finish the web-service task, error=%s", error.AsString().c_str());
    }
    IDX_LOG(5, "OnStop success");
}

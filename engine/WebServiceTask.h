// The web-service plug-in's task of an index-engine worker (virtual-machine and collaboration-site
// content indexing): loading the plug-in library, making and setting up the worker's handler,
// submitting the indexing task and finishing it when the worker stops. The worker owns the
// handler; these functions work on it, the job's option record and the abort state.
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "transmitter/TransmitterTypes.h"

class CAbortState;

namespace TQLX_ContentIndexing {
// The web-service plug-in's handler (platform/CIWebServiceHandler.h), loaded at run time.
class ICIWSHandler;
} // namespace TQLX_ContentIndexing

// On the first call (ptrHandler empty) loads "libTqCIWebServiceHandler.so", makes the worker's
// handler through "getTqCIWebServiceHandle" and gives it its settings, the abort check (the
// transmitter's abort state, for which an exception of the job's quit query counts as "not
// aborted") and Initialize; on every call sets the batch limits, the option flag
// and the push-only-metadata flag and submits the task. The loader's error (with
// "ModuleName=[...]") when the library will not load, its error when the entry point is missing,
// 14 when no handler is made, the handler's error when Initialize fails, 995 when the task is
// refused.
CKyError
InitializeWebServiceHandler(const CTransmitterOptionsPtr &ptrOptions,
                            const CSolrTransmitterPrivatePtr &ptrState,
                            boost::shared_ptr<TQLX_ContentIndexing::ICIWSHandler> &ptrHandler,
                            int nMode, const std::string &strUrl, int nApplicationType);
// Submits the task with the option record's application number, client id and job id; bOk tells
// whether it was taken (a refusal is logged).
void CreateWebServiceTask(const CTransmitterOptions &options,
                          TQLX_ContentIndexing::ICIWSHandler &handler, const std::string &strUrl,
                          int nApplicationType, bool &bOk);
// The stop hook's part after a run without an error: unless the transmitter was aborted, the
// plug-in (pHandler, null when the start made none) learns that its task is finished. Never
// throws: neither the plug-in nor the job's quit query may end the worker's stop.
void FinishWebServiceTask(const CTransmitterOptions &options, CAbortState &abort,
                          TQLX_ContentIndexing::ICIWSHandler *pHandler);

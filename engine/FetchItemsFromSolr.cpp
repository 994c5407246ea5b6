#include "engine/FetchItemsFromSolr.h"

#include <boost/make_shared.hpp>

#include "engine/FetchItemsFromSolrPrivate.h"
#include "foundation/ErrorCodes.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"

namespace {}

CFetchItemsFromSolr::CFetchItemsFromSolr(uint64_t ullFirstNumber, uint64_t ullSecondNumber,
                                         const std::string &strSearchText) {
    // Nothing may be thrown at the host: without its private part the export fails when run.
    try {
        m_ptrPrivate = boost::make_shared<CFetchItemsFromSolrPrivate>(
            ullFirstNumber, ullSecondNumber, strSearchText);
    } catch (...) {
    }
}

CFetchItemsFromSolr::~CFetchItemsFromSolr() = default;

CKyError CFetchItemsFromSolr::FetchItems(const std::string &strOutputFile) {
    return FetchItems(strOutputFile, false, false);
}

CKyError CFetchItemsFromSolr::FetchItems(const std::string &strOutputFile, bool bDataType,
                                         bool bSize) try {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 1);
    if (!m_ptrPrivate) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    return m_ptrPrivate->FetchItems(strOutputFile, bDataType, bSize);
} catch (...) {
    return ErrorFromCaughtException(FXLOC);
}

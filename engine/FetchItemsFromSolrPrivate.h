// The work of the search-result export (engine/FetchItemsFromSolr.h): the web server's address,
// the search request record, the user it runs for, the download and the emptiness test.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/KyError.h"

namespace PyxContentIndexing {
class TQSearchReq;
}

class CFetchItemsFromSolrPrivate {
public:
    // The path the web server serves the export under, appended to its base URL as it is.
    static constexpr const char *kExportPath = "/Stream/ExportSearchResults?writer=1";

    CFetchItemsFromSolrPrivate(uint64_t ullFirstNumber, uint64_t ullSecondNumber,
                               const std::string &strSearchText);
    virtual ~CFetchItemsFromSolrPrivate();

    CKyError FetchItems(const std::string &strOutputFile);
    CKyError FetchItems(const std::string &strOutputFile, bool bDataType, bool bSize);

    // True exactly when not one line can be read from the file; a file that cannot be opened (or
    // no line buffer) counts as not empty, so that a result is never deleted on a doubt.
    bool IsCollectEmpty(const std::string &strFile);

    // The name of the user who started the running job (its task option 120008). 774 with the
    // reason when the option cannot be read or is empty: the export never runs as anyone else.
    CKyError GetUserWhoStartedTheJob(std::string &strUser);

    // The search request without its user: the search text with the security group, and the six
    // search parameters, whose response field list the two flags extend.
    void BuildSearchRequest(bool bDataType, bool bSize,
                            PyxContentIndexing::TQSearchReq &request) const;

    // How long the download may go without its answer moving (a trickle counts as not moving)
    // before it is given up; 30 minutes unless set.
    void SetIdleLimitSeconds(long nSeconds) { m_nIdleLimitSeconds = nSeconds; }

private:
    uint64_t m_ullFirstNumber;
    uint64_t m_ullSecondNumber;
    std::string m_strSearchText;
    long m_nIdleLimitSeconds;
};

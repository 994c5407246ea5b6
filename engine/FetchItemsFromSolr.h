// The search-result export a host runs against the index: one search through the web server, on
// behalf of the user who started the running job, whose matching items the web server streams
// into a file. It shares nothing with a transmitter and runs wholly on the caller's thread.
#pragma once

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"
#include "foundation/KyError.h"

class CFetchItemsFromSolrPrivate;

class IDX_EXPORT CFetchItemsFromSolr {
public:
    // Keeps the values of the search: ullFirstNumber becomes the one entry of the security
    // group's number list, ullSecondNumber its 64-bit number (each cut to its low 32 bits), and
    // the search text is what is searched for. Nothing is checked or sent here.
    CFetchItemsFromSolr(uint64_t ullFirstNumber, uint64_t ullSecondNumber,
                        const std::string &strSearchText);
    virtual ~CFetchItemsFromSolr();

    CFetchItemsFromSolr(const CFetchItemsFromSolr &) = delete;
    CFetchItemsFromSolr &operator=(const CFetchItemsFromSolr &) = delete;

    // Runs the search and stores the web server's answer in strOutputFile. The answer lists the
    // items' paths; bDataType and bSize ask for their data type and size too. An answer without
    // a line is no result: the file is deleted and the call fails with 4306 "Index query
    // returned 0 items". A failed download leaves no file behind, and a path the export cannot
    // open is left as it is. The job's quit flag gives the export up within about a second (774
    // with the reason); an answer that stays idle for 30 minutes (a trickle of a few bytes a
    // second counts as idle) gives it up too.
    CKyError FetchItems(const std::string &strOutputFile);
    CKyError FetchItems(const std::string &strOutputFile, bool bDataType, bool bSize);

private:
    // Empty only when it could not be allocated; the export then fails with 14.
    boost::shared_ptr<CFetchItemsFromSolrPrivate> m_ptrPrivate;
};

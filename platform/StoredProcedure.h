// The stored-procedure executor: runs one of the management server's stored procedures with a
// request in the message-record XML form (platform/MessageRecords.h) and gives its answer in the
// same form.
//
// This platform has no management server. The answer comes from what a test scripted
// (platform/testing/ManagementServer.h) or, for an operator, from the file named by the
// environment variable IDX_MANAGEMENT_REPLY, whose whole content is the answer to every procedure
// (at most CNMessageBase::kMaxXmlBytes bytes). Every call is kept in memory for tests (the latest
// 1000). Safe to call from several threads at once.
#pragma once

#include "foundation/Export.h"

#include <cstdint>
#include <string>

// The base of the framework's adapters to the management server.
class IDX_EXPORT AdaptersBase {
public:
    AdaptersBase() = default;
    virtual ~AdaptersBase() = default;
};

class IDX_EXPORT App_ExecuteSP : public AdaptersBase {
public:
    // Results other than 0.
    enum EResult : int {
        eNoManagementServer = 1, // nothing scripted and IDX_MANAGEMENT_REPLY not set
        eReplyUnreadable = 2,    // the file IDX_MANAGEMENT_REPLY names cannot be read
    };

    App_ExecuteSP() = default;

    // 0 with the answer in strOutputXml; otherwise the result, and strOutputXml is emptied.
    // pReserved is not used.
    int executeStoredProcedure(uint32_t nProcedureId, const std::string &strInputXml,
                               std::string &strOutputXml, void *pReserved);
};

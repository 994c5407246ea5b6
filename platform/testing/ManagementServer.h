// Test control of the management server behind the stored-procedure executor
// (platform/StoredProcedure.h): script what a procedure answers and read what it was asked.
// Never used by the library itself.
//
// An instance resets the management server when it is made and again when it goes out of scope:
// no procedure is scripted and no call is kept, so without a script a call falls back to
// IDX_MANAGEMENT_REPLY.
#pragma once

#include "foundation/Export.h"

#include <cstdint>
#include <string>
#include <vector>

namespace idxtest {

struct StoredProcedureCall {
    uint32_t nProcedureId;
    std::string strInputXml;
};

class IDX_EXPORT ManagementServer {
public:
    ManagementServer();
    ~ManagementServer();
    ManagementServer(const ManagementServer &) = delete;
    ManagementServer &operator=(const ManagementServer &) = delete;

    // From now on the procedure answers nResult and, when it is 0, strAnswerXml.
    void Answer(uint32_t nProcedureId, int nResult, const std::string &strAnswerXml);
    // The calls received since the reset, oldest first.
    std::vector<StoredProcedureCall> Calls() const;
};

} // namespace idxtest

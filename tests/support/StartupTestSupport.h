// Fixtures for the start-up tests: the management server's data-source reply built field by field
// (as the stored procedure would answer), and an index-engine initializer whose transmitter the
// test can look into.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "platform/Bag.h"
#include "startup/DataSourceQuery.h"
#include "startup/SolrTransmitterInit.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"

namespace idxtest {

// The reply record with only the fields set that the test sets; Xml() is the stored
// procedure's answer.
class DataSourceReply {
public:
    DataSourceReply &Url(const std::string &strUrl);
    DataSourceReply &ErrorCode(int64_t llCode);
    DataSourceReply &IncludeFilters(const std::string &strFilters);
    DataSourceReply &ContentIndexing(int64_t llValue);
    DataSourceReply &Parameter(const std::string &strName, const std::string &strValue);
    DataSourceReply &IndexServerClient(const std::string &strName, int64_t llId);
    DataSourceReply &MinFileSize(int64_t llBytes);
    DataSourceReply &MaxFileSize(int64_t llBytes);
    DataSourceReply &CloudValue(int64_t llValue);
    DataSourceReply &AuditServer(const std::string &strUrl);
    DataSourceReply &Monitoring(int64_t llValue);

    std::string Xml() const;

private:
    EVGui::GetClientDataSourceResp m_reply;
    std::vector<std::pair<std::string, std::string>> m_vecParameters;
};

// A transmitter that shows its shared state (and with it the option bag it was given).
class ProbeSolrTransmitter : public CSolrTransmitter {
public:
    CSolrTransmitterPrivate &State() { return *m_ptrSolrTransmitterPrivate; }
};

// An index-engine initializer whose factory makes probe transmitters and keeps the last one, or
// throws when asked to.
class ProbeSolrTransmitterInit : public CSolrTransmitterInit {
public:
    enum class EThrow { None, Memory, Other };

    CKyError GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) override;
    // The option bag of the last transmitter made; empty when none was made.
    CBagPtr Bag() const;

    EThrow eThrow = EThrow::None;
    boost::shared_ptr<ProbeSolrTransmitter> ptrMade;
};

} // namespace idxtest

#include "tests/support/StartupTestSupport.h"

#include <new>
#include <stdexcept>

#include <boost/make_shared.hpp>

namespace idxtest {

namespace {
typedef EVGui::GetClientDataSourceResp Reply;
} // namespace

DataSourceReply &DataSourceReply::Url(const std::string &strUrl) {
    m_reply.setstring(1, 1, strUrl, Reply::kClassHash, 0x00B73AEA);
    return *this;
}

DataSourceReply &DataSourceReply::ErrorCode(int64_t llCode) {
    EVGui::ErrorInfo error;
    error.setint64(1, 1, llCode, EVGui::ErrorInfo::kClassHash, 0x009CB015);
    m_reply.setObjectAccessor(error, 2, 5, Reply::kClassHash, 0x00C4D208);
    return *this;
}

DataSourceReply &DataSourceReply::IncludeFilters(const std::string &strFilters) {
    m_reply.setstring(5, 8, strFilters, Reply::kClassHash, 0x00EA9989);
    return *this;
}

DataSourceReply &DataSourceReply::ContentIndexing(int64_t llValue) {
    m_reply.setint64(7, 16, llValue, Reply::kClassHash, 0x0070FD76);
    return *this;
}

DataSourceReply &DataSourceReply::Parameter(const std::string &strName,
                                            const std::string &strValue) {
    m_vecParameters.emplace_back(strName, strValue);
    return *this;
}

DataSourceReply &DataSourceReply::IndexServerClient(const std::string &strName, int64_t llId) {
    TqEntities::ClientEntity entity;
    entity.setstring(1, 1, strName, TqEntities::ClientEntity::kClassHash, 0x00B304F6);
    entity.setint64(0, 0, llId, TqEntities::ClientEntity::kClassHash, 0x00253646);
    m_reply.setObjectAccessor(entity, 9, 18, Reply::kClassHash, 0x0012F3CB);
    return *this;
}

DataSourceReply &DataSourceReply::MinFileSize(int64_t llBytes) {
    m_reply.setint64(11, 20, llBytes, Reply::kClassHash, 0x00BDCB38);
    return *this;
}

DataSourceReply &DataSourceReply::MaxFileSize(int64_t llBytes) {
    m_reply.setint64(12, 21, llBytes, Reply::kClassHash, 0x00487EE6);
    return *this;
}

DataSourceReply &DataSourceReply::CloudValue(int64_t llValue) {
    m_reply.setint64(13, 22, llValue, Reply::kClassHash, 0x002AD91D);
    return *this;
}

DataSourceReply &DataSourceReply::AuditServer(const std::string &strUrl) {
    EVGui::AuditServerInfo audit;
    audit.setstring(14, 23, strUrl, EVGui::AuditServerInfo::kClassHash, 0x002D5B94);
    m_reply.setObjectAccessor(audit, 14, 23, Reply::kClassHash, 0x002450CC);
    return *this;
}

DataSourceReply &DataSourceReply::Monitoring(int64_t llValue) {
    m_reply.setint64(15, 24, llValue, Reply::kClassHash, 0x0068DE2B);
    return *this;
}

std::string DataSourceReply::Xml() const {
    Reply reply(m_reply);
    if (!m_vecParameters.empty()) {
        App::NameValueMapList holder;
        for (const auto &parameter : m_vecParameters) {
            App::NameValueMap entry;
            entry.setstring(1, 1, parameter.first, App::NameValueMap::kClassHash, 0x00337A8B);
            entry.setstring(2, 5, parameter.second, App::NameValueMap::kClassHash, 0x00AC9171);
            holder.addlistobject(1, 1, entry, App::NameValueMapList::kClassHash, 0x007CAF8D);
        }
        reply.setObjectAccessor(holder, 8, 17, Reply::kClassHash, 0x002DBB42);
    }
    std::string strXml;
    reply.serialize(strXml, false);
    return strXml;
}

CKyError ProbeSolrTransmitterInit::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    if (eThrow == EThrow::Memory) {
        throw std::bad_alloc();
    }
    if (eThrow == EThrow::Other) {
        throw std::runtime_error("factory broke");
    }
    ptrMade = boost::make_shared<ProbeSolrTransmitter>();
    ptrTransmitter = ptrMade;
    return CKyError::Success();
}

CBagPtr ProbeSolrTransmitterInit::Bag() const {
    return ptrMade ? ptrMade->State().Config().m_ptrOptionsBag : CBagPtr();
}

} // namespace idxtest

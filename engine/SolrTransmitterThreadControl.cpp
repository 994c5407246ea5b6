// The control requests an index-engine worker makes of the engine besides its document batches:
// commit, ping, folder statistics, audit prune and sync, data-source delete. Each goes through the
// worker's exchange, so it gets the handle set-up, the failure policy and the push-failed flag.
#include "engine/SolrTransmitterThread.h"
#include "foundation/StringHelpers.h"
#include "foundation/TextEncoding.h"
#include "platform/LogWriter.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char *const kFormHeaderLine = "Content-Type: application/x-www-form-urlencoded";

// Values placed inside the XML of a delete query: escaped so that a name can never close the
// query element or add an element of its own.
std::string XmlEscape(const std::string &strValue) {
    return CTextEncoding::XmlEscape(strValue, CTextEncoding::eXmlMarkupAndQuotes);
}

// Form encoding of one value: everything but the unreserved characters as %XX, so that the "&"
// and "=" of a URL's query cannot split the form.
std::string FormEncode(const std::string &strValue) {
    return CTextEncoding::PercentEncode(strValue, CTextEncoding::kUnreservedMarks,
                                        CTextEncoding::eUpperHex);
}

// The folder-statistics URL of an update URL: "/solr" becomes "/solr/rest" and everything from
// "/update" on becomes "/computefolderstats". Only the part after the host is rewritten: a host
// whose name begins with "solr" must stay as it is.
std::string MakeFolderStatsUrl(const std::string &strUpdateUrl) {
    size_t nPathStart = 0;
    const size_t nScheme = strUpdateUrl.find("://");
    if (nScheme != std::string::npos) {
        nPathStart = strUpdateUrl.find('/', nScheme + 3);
        if (nPathStart == std::string::npos) {
            nPathStart = strUpdateUrl.size();
        }
    }
    std::string strPath = strUpdateUrl.substr(nPathStart);
    // Every "/solr", also inside a longer segment, left to right without rescanning.
    FXString::Replace(strPath, "/solr", "/solr/rest");
    const size_t nUpdate = strPath.find("/update");
    if (nUpdate != std::string::npos) {
        strPath.replace(nUpdate, std::string::npos, "/computefolderstats");
    }
    return strUpdateUrl.substr(0, nPathStart) + strPath;
}

} // namespace

CKyError CSolrTransmitterThread::SendCommit() {
    if (m_ptrOptions->IsVMContentIndexing() || m_ptrOptions->IsSPContentIndexing()) {
        return CKyError::Success();
    }
    const std::string &strUrl = m_ptrOptions->IsAuditingContext()
                                    ? m_ptrOptions->GetAuditSolrUrl()
                                    : m_ptrOptions->GetCompleteSolrUrl();
    CKyError error = m_exchange.PostItems2(strUrl, "<commit />", CEngineExchange::kXmlHeaderLine);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to send commit to solr, error=%s", error.AsString().c_str());
    }
    return CKyError::Success();
}

bool CSolrTransmitterThread::IsIdxEngineRunning() {
    // The base URL ends with "/": nothing is added between it and the handler's name.
    const std::string strUrl = m_ptrOptions->GetBaseSolrUrl() + "admin/ping";
    const CKyError error = m_exchange.Ping(strUrl);
    if (error.IsError()) {
        IDX_LOG_ERROR("Solr ping request to server failed, URL[%s], error=%s", strUrl.c_str(),
                      error.AsString().c_str());
        return false;
    }
    IDX_LOG(0, "Solr engine is up and running");
    return true;
}

CKyError CSolrTransmitterThread::SendDeleteDataSourceContent(const std::string &strDataSource) {
    const std::string strBody =
        strDataSource.empty()
            ? std::string("<delete><query>DocumentType:(1 OR 4)</query></delete>")
            : "<delete><query>data_source:" + XmlEscape(strDataSource) + "</query></delete>";
    CKyError error = m_exchange.PostItems2(m_ptrOptions->GetCompleteSolrUrl(), strBody,
                                           CEngineExchange::kXmlHeaderLine);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to delete data source content, error=%s", error.AsString().c_str());
    }
    return CKyError::Success();
}

CKyError CSolrTransmitterThread::PruneAuditCore(const std::string &strEventTime,
                                                const std::string &strAppId) {
    std::string strBody = "<delete><query>ApplicationId:" + XmlEscape(strAppId);
    if (!strEventTime.empty()) {
        strBody += " AND EventTime:[* TO " + XmlEscape(strEventTime) + "]</query></delete>";
    } else {
        strBody += " </query></delete>";
    }
    IDX_LOG(1, "PruneAuditCore QUERY:%s", strBody.c_str());
    CKyError error = m_exchange.PostItems2(m_ptrOptions->GetAuditSolrUrl(), strBody,
                                           CEngineExchange::kXmlHeaderLine);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to PruneAuditCore, error=%s", error.AsString().c_str());
    }
    return CKyError::Success();
}

CKyError CSolrTransmitterThread::SendComputeFolderStats() {
    const std::string strUrl = MakeFolderStatsUrl(m_ptrOptions->GetCompleteSolrUrl());
    IDX_LOG(0, "Sending request to [%s] compute folder statistics", strUrl.c_str());
    CKyError error = m_exchange.PostItems2(strUrl, std::string(), CEngineExchange::kXmlHeaderLine);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to send computefolderstats to solr, error=%s",
                      error.AsString().c_str());
    }
    return CKyError::Success();
}

CKyError CSolrTransmitterThread::SyncAuditAndMainCore(int32_t nEventBits,
                                                      const std::string &strAppId) {
    if (strAppId.empty()) {
        IDX_LOG_ERROR("PruneAuditAndMainCore not called as ApplicationId is 0");
        return CKyError::Success();
    }
    const std::string strUrl =
        m_ptrOptions->GetRestAPISolrUrl() + "/rest/monitoring/sync/" + strAppId;
    const std::string strBody = "eventBits=" + std::to_string(static_cast<uint32_t>(nEventBits)) +
                                "&sourceUrl=" + FormEncode(m_ptrOptions->GetAuditSolrUrl()) +
                                "&targetUrl=" + FormEncode(m_ptrOptions->GetCompleteSolrUrl());
    IDX_LOG(1, "SyncAuditAndMainCore QUERY:%s appId:%s, strURL:%s", strBody.c_str(),
            strAppId.c_str(), strUrl.c_str());
    CKyError error = m_exchange.PostItems2(strUrl, strBody, kFormHeaderLine);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to SyncAuditAndMainCore, error=%s", error.AsString().c_str());
    }
    return CKyError::Success();
}

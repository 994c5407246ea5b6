#include "startup/DataSourceQuery.h"

#include "platform/LogWriter.h"
#include "platform/StoredProcedure.h"

namespace {

// Request fields.
const uint32_t kSubclientIdHash = 0x00A4B486; // subclient entity: index 0, tag 0
const uint32_t kClientIdHash = 0x00253646;    // request: index 1, tag 1
const uint32_t kSubclientHash = 0x0015F1AE;   // request: index 2, tag 2

// Reply fields: index, tag and field hash.
struct SField {
    int32_t nIndex;
    int32_t nTag;
    uint32_t nHash;
};
const SField kUrl = {1, 1, 0x00B73AEA};
const SField kError = {2, 5, 0x00C4D208};
const SField kIncludeFilters = {5, 8, 0x00EA9989};
const SField kContentIndexing = {7, 16, 0x0070FD76};
const SField kUrlParameters = {8, 17, 0x002DBB42};
const SField kIndexServerClient = {9, 18, 0x0012F3CB};
const SField kMinFileSize = {11, 20, 0x00BDCB38};
const SField kMaxFileSize = {12, 21, 0x00487EE6};
const SField kCloudValue = {13, 22, 0x002AD91D};
const SField kAuditServer = {14, 23, 0x002450CC};
const SField kMonitoring = {15, 24, 0x0068DE2B};

// Fields of the nested records.
const uint32_t kErrorCodeHash = 0x009CB015;        // error record: tag 1
const SField kClientName = {1, 1, 0x00B304F6};     // client entity
const uint32_t kClientIdInEntityHash = 0x00253646; // client entity: tag 0
const SField kAuditUrl = {14, 23, 0x002D5B94};     // audit-server record
const SField kParameterList = {1, 1, 0x007CAF8D};  // parameter-list record
const SField kParameterName = {1, 1, 0x00337A8B};  // name-value record
const SField kParameterValue = {2, 5, 0x00AC9171}; // name-value record

typedef EVGui::GetClientDataSourceResp Reply;

bool IsSet(const Reply &reply, const SField &field) {
    return reply.isSet(field.nIndex, Reply::kClassHash, field.nHash);
}

int64_t ReadInteger(const Reply &reply, const SField &field) {
    return reply.getint64(field.nTag, Reply::kClassHash, field.nHash);
}

// The nested record of the field, when the reply carries one of that family and type.
const CNMessageBase *NestedRecord(Reply &reply, const SField &field, int32_t nFamily,
                                  int32_t nType) {
    if (!IsSet(reply, field)) {
        return nullptr;
    }
    CNMessageBase **ppRecord = reply.getObjectAccessor(
        false, false, field.nIndex, field.nTag, Reply::kClassHash, field.nHash, nFamily, nType);
    return ppRecord != nullptr ? *ppRecord : nullptr;
}

} // namespace

CKyError QueryClientDataSource(int32_t nClientId, int32_t nSubclientId,
                               SClientDataSource &dataSource) {
    dataSource = SClientDataSource();

    EVGui::GetClientDataSourceReq request;
    TqEntities::SubClientEntity subclient;
    subclient.setint64(0, 0, static_cast<int64_t>(nSubclientId),
                       TqEntities::SubClientEntity::kClassHash, kSubclientIdHash);
    CNMessageBase::Initialize();
    request.setint64(1, 1, static_cast<int64_t>(nClientId),
                     EVGui::GetClientDataSourceReq::kClassHash, kClientIdHash);
    request.setObjectAccessor(subclient, 2, 2, EVGui::GetClientDataSourceReq::kClassHash,
                              kSubclientHash);

    std::string strInputXml;
    int nResult = request.serialize(strInputXml, false);
    if (nResult != 0) {
        return FXErrorUtil::ErrorTQResult(
            FXLOC, nResult, "Failed to serialize XML to get the solr URL, SubclientID=[%lu]",
            static_cast<unsigned long>(static_cast<int64_t>(nSubclientId)));
    }
    IDX_LOG(3, "ClientId=[%lu], InputXML=[%s]",
            static_cast<unsigned long>(static_cast<int64_t>(nClientId)), strInputXml.c_str());

    std::string strOutputXml;
    {
        App_ExecuteSP executor;
        nResult = executor.executeStoredProcedure(kGetClientDataSourceProcedure, strInputXml,
                                                  strOutputXml, nullptr);
    }
    if (nResult != 0) {
        return FXErrorUtil::ErrorTQResult(FXLOC, nResult,
                                          "Could not execute stored procedure to get the solr URL");
    }
    IDX_LOG(3, "Received XML [%s]", strOutputXml.c_str());

    Reply reply;
    nResult = reply.unserialize(strOutputXml);
    if (nResult != 0) {
        return FXErrorUtil::ErrorTQResult(FXLOC, nResult,
                                          "Failed to unserialize output XML get the solr URL");
    }

    // A reply without its error record carries no error.
    if (const CNMessageBase *pError =
            NestedRecord(reply, kError, EVGui::ErrorInfo::kFamily, EVGui::ErrorInfo::kType)) {
        const int32_t nCode = static_cast<int32_t>(static_cast<uint32_t>(
            pError->getint64(1, EVGui::ErrorInfo::kClassHash, kErrorCodeHash)));
        if (nCode != 0) {
            return FXErrorUtil::ErrorTQResult(
                FXLOC, nCode, "Error returned while unserializing output XML get the solrURL");
        }
    }

    dataSource.strSolrUrl = reply.getstring(kUrl.nIndex, kUrl.nTag, Reply::kClassHash, kUrl.nHash);
    if ((dataSource.bHasMaxFileSize = IsSet(reply, kMaxFileSize))) {
        dataSource.llMaxFileSize = ReadInteger(reply, kMaxFileSize);
    }
    if ((dataSource.bHasMinFileSize = IsSet(reply, kMinFileSize))) {
        dataSource.llMinFileSize = ReadInteger(reply, kMinFileSize);
    }
    if ((dataSource.bHasContentIndexing = IsSet(reply, kContentIndexing))) {
        dataSource.llContentIndexing = ReadInteger(reply, kContentIndexing);
    }
    if ((dataSource.bHasMonitoring = IsSet(reply, kMonitoring))) {
        dataSource.llMonitoring = ReadInteger(reply, kMonitoring);
    }
    if (const CNMessageBase *pEntity =
            NestedRecord(reply, kIndexServerClient, TqEntities::ClientEntity::kFamily,
                         TqEntities::ClientEntity::kType)) {
        TqEntities::ClientEntity entity;
        static_cast<CNMessageBase &>(entity) = *pEntity;
        dataSource.bHasIndexServerClient = true;
        dataSource.strIndexServerClientName =
            entity.getstring(kClientName.nIndex, kClientName.nTag,
                             TqEntities::ClientEntity::kClassHash, kClientName.nHash);
        dataSource.nIndexServerClientId = static_cast<int32_t>(static_cast<uint32_t>(
            entity.getint64(0, TqEntities::ClientEntity::kClassHash, kClientIdInEntityHash)));
    }
    if ((dataSource.bHasIncludeFilters = IsSet(reply, kIncludeFilters))) {
        dataSource.strIncludeFilters = reply.getstring(kIncludeFilters.nIndex, kIncludeFilters.nTag,
                                                       Reply::kClassHash, kIncludeFilters.nHash);
    }
    if ((dataSource.bHasCloudValue = IsSet(reply, kCloudValue))) {
        dataSource.llCloudValue = ReadInteger(reply, kCloudValue);
    }
    if (IsSet(reply, kUrlParameters)) {
        CNMessageBase **ppHolder = reply.getObjectAccessor(
            false, false, kUrlParameters.nIndex, kUrlParameters.nTag, Reply::kClassHash,
            kUrlParameters.nHash, App::NameValueMapList::kFamily, App::NameValueMapList::kType);
        std::vector<CNMessageBase> **ppList =
            ppHolder != nullptr && *ppHolder != nullptr
                ? (*ppHolder)->getlistobject(kParameterList.nIndex, kParameterList.nTag,
                                             App::NameValueMapList::kClassHash,
                                             kParameterList.nHash, false)
                : nullptr;
        if (ppList != nullptr && *ppList != nullptr) {
            for (const CNMessageBase &entry : **ppList) {
                const CNMessageBase parameter(entry);
                std::string strValue =
                    parameter.getstring(kParameterValue.nIndex, kParameterValue.nTag,
                                        App::NameValueMap::kClassHash, kParameterValue.nHash);
                std::string strName =
                    parameter.getstring(kParameterName.nIndex, kParameterName.nTag,
                                        App::NameValueMap::kClassHash, kParameterName.nHash);
                dataSource.vecUrlParameters.emplace_back(std::move(strName), std::move(strValue));
            }
        }
    }
    if (const CNMessageBase *pAudit = NestedRecord(
            reply, kAuditServer, EVGui::AuditServerInfo::kFamily, EVGui::AuditServerInfo::kType)) {
        const CNMessageBase audit(*pAudit);
        dataSource.bHasAuditServer = true;
        dataSource.strAuditSolrUrl = audit.getstring(
            kAuditUrl.nIndex, kAuditUrl.nTag, EVGui::AuditServerInfo::kClassHash, kAuditUrl.nHash);
    }
    return CKyError::Success();
}

// The question to the management server for a subclient's data source: the index engine's URL,
// the content-push limits and switches, the include filters, the index-server client, the audit
// core and extra URL parameters. One stored-procedure call: the request record goes as XML, the
// answer comes back as XML and is read into the reply record field by field.
//
// The records carry no names of their own in this system: a field is known by its index, its tag
// and two hashes, as the management server's message definitions give them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/KyError.h"
#include "platform/MessageRecords.h"

namespace EVGui {

class GetClientDataSourceReq : public CNMessageBase {
public:
    enum : int32_t { kFamily = 13, kType = 996 };
    static constexpr uint32_t kClassHash = 0x0DAFD4D8;
    GetClientDataSourceReq() : CNMessageBase(kFamily, kType) {}
};

class GetClientDataSourceResp : public CNMessageBase {
public:
    enum : int32_t { kFamily = 13, kType = 995 };
    static constexpr uint32_t kClassHash = 0x0D4AC6D6;
    GetClientDataSourceResp() : CNMessageBase(kFamily, kType) {}
};

// The error of a reply: its code at tag 1.
class ErrorInfo : public CNMessageBase {
public:
    enum : int32_t { kFamily = 13, kType = 171 };
    static constexpr uint32_t kClassHash = 0x0D000002;
    ErrorInfo() : CNMessageBase(kFamily, kType) {}
};

class AuditServerInfo : public CNMessageBase {
public:
    enum : int32_t { kFamily = 13, kType = 1075 };
    static constexpr uint32_t kClassHash = 0x0DB708AC;
    AuditServerInfo() : CNMessageBase(kFamily, kType) {}
};

} // namespace EVGui

namespace TqEntities {

class SubClientEntity : public CNMessageBase {
public:
    enum : int32_t { kFamily = 18, kType = 10 };
    static constexpr uint32_t kClassHash = 0x12D8E9CE;
    SubClientEntity() : CNMessageBase(kFamily, kType) {}
};

class ClientEntity : public CNMessageBase {
public:
    enum : int32_t { kFamily = 18, kType = 4 };
    static constexpr uint32_t kClassHash = 0x122FD3AE;
    ClientEntity() : CNMessageBase(kFamily, kType) {}
};

} // namespace TqEntities

namespace App {

// NameValueMap, one name and value, is the platform's (platform/MessageRecords.h).

// A list of NameValueMap records at index 1, tag 1.
class NameValueMapList : public CNMessageBase {
public:
    enum : int32_t { kFamily = 30, kType = 491 };
    static constexpr uint32_t kClassHash = 0x1E606D3D;
    NameValueMapList() : CNMessageBase(kFamily, kType) {}
};

} // namespace App

// The stored procedure that answers the data-source question; the same number as the request's
// record-class hash.
constexpr uint32_t kGetClientDataSourceProcedure = 229627096;

// What the management server answered. Each optional field comes with whether the reply carried
// it: a field the reply leaves out leaves the start-up's default in place.
struct SClientDataSource {
    std::string strSolrUrl; // empty when the reply has none
    bool bHasIncludeFilters = false;
    std::string strIncludeFilters; // comma-separated
    bool bHasContentIndexing = false;
    int64_t llContentIndexing = 0;                                     // 0: push only metadata
    std::vector<std::pair<std::string, std::string>> vecUrlParameters; // name, value; in order
    bool bHasIndexServerClient = false;
    std::string strIndexServerClientName;
    int32_t nIndexServerClientId = 0;
    bool bHasMinFileSize = false;
    int64_t llMinFileSize = 0;
    bool bHasMaxFileSize = false;
    int64_t llMaxFileSize = 0;
    bool bHasCloudValue = false;
    int64_t llCloudValue = 0; // low 32 bits equal to 5: cloud mode
    bool bHasAuditServer = false;
    std::string strAuditSolrUrl;
    bool bHasMonitoring = false;
    int64_t llMonitoring = 0;
};

// Asks for the data source of the subclient. The client id is the low 32 bits of the client
// object's id, taken as signed; both ids go as 64-bit numbers. A failed exchange, a reply that
// cannot be read and a reply carrying an error code are errors of the framework's result domain;
// every record of the reply other than the URL is read only when the reply carries it.
CKyError QueryClientDataSource(int32_t nClientId, int32_t nSubclientId,
                               SClientDataSource &dataSource);

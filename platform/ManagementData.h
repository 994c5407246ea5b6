// What the management server knows of a job's client and subclient, as the start-up code reads
// it: the client object (TQClient), the subclient, the application that joins them, and the
// mangled host names by which the index server's log connection names a client.
//
// A mangled host name carries a host name, a client name and two numbers in one text that any
// byte value survives: "<host>*<client>*<n1>*<n2>", where the names are written with every byte
// outside [A-Za-z0-9._-] as "%XX" (two upper-case hex digits). DemangleHostName(MangleHostName(
// h, c, n1, n2)) gives h, c, n1 and n2 back exactly.
#pragma once

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"

// The mangled form of a host name with its client name and two numbers.
IDX_EXPORT std::string MangleHostName(const std::string &strHostName,
                                      const std::string &strClientName, int nPort = 0,
                                      int nFlags = 0);

// Splits a mangled host name. 0 on success. A text without "*" is a plain host name: it is both
// the host name and the client name, with both numbers 0, and is also success. Anything else
// that is not a mangled name (a bad escape, a wrong number of parts, a number out of range) gives
// 87 and clears the outputs.
IDX_EXPORT int DemangleHostName(const char *szMangled, std::string &strHostName,
                                std::string &strClientName, int &nPort, int &nFlags);

// What the management server holds for one client.
struct TQClientInfo {
    std::string strName;
    std::string strHostName; // the client's network host name; empty means the same as the name
    uint64_t ullId = 0;
    bool bNASClient = false;
    uint32_t nOSId = 0;
};

// A client of the installation. Getters answer 0 and take a reserved last argument (null).
class IDX_EXPORT TQClient {
public:
    // The client of that name; its host name is its name. The flag and the number are reserved.
    TQClient(const std::string &strName, bool bReserved, unsigned long ulReserved);
    explicit TQClient(TQClientInfo info);
    virtual ~TQClient() = default;

    // The client's host name in mangled form (MangleHostName of host and client name, 0, 0).
    int getNetworkHostnameMangled(std::string &strMangled, void *pReserved) const;

    int getClientName(std::string &strName, void *pReserved) const;
    int getClientId(uint64_t &ullId, void *pReserved) const;
    int getIsNASClient(bool &bNASClient, void *pReserved) const;
    int getOSId(uint32_t &nOSId, void *pReserved) const;

private:
    TQClientInfo m_info;
};

// What the management server holds for one subclient.
struct SubclientInfo {
    uint32_t nId = 0;
    std::string strGUID;
    bool bACLCollectionEnabled = false;
    bool bPreserveAccessTime = false;
};

class IDX_EXPORT Subclient {
public:
    explicit Subclient(SubclientInfo info) : m_info(std::move(info)) {}
    virtual ~Subclient() = default;

    uint32_t getSubclientId() const { return m_info.nId; }
    std::string getGUIDStr() const { return m_info.strGUID; }
    bool isACLCollectionEnabled() const { return m_info.bACLCollectionEnabled; }
    int getPreserveAccessTime(bool &bPreserve, void * /*pReserved*/) const {
        bPreserve = m_info.bPreserveAccessTime;
        return 0;
    }

private:
    SubclientInfo m_info;
};

// The application a job protects: its client and its subclient. Either may be missing (the
// getters then answer null). The objects live as long as the application.
class IDX_EXPORT ApplicationId {
public:
    ApplicationId(boost::shared_ptr<TQClient> ptrClient, boost::shared_ptr<Subclient> ptrSubclient)
        : m_ptrClient(std::move(ptrClient)), m_ptrSubclient(std::move(ptrSubclient)) {}
    virtual ~ApplicationId() = default;

    TQClient *getClient(void * /*pReserved*/) const { return m_ptrClient.get(); }
    Subclient *getSubclient(void * /*pReserved*/) const { return m_ptrSubclient.get(); }

private:
    boost::shared_ptr<TQClient> m_ptrClient;
    boost::shared_ptr<Subclient> m_ptrSubclient;
};

typedef boost::shared_ptr<ApplicationId> ApplicationIdPtr;

#include "platform/ManagementData.h"

#include <climits>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

namespace {

TEST(ManagementDataTest, DemangleGivesBackWhatWasMangled) {
    struct NameCase {
        std::string strHost;
        std::string strClient;
        int nPort;
        int nFlags;
    };
    const NameCase cases[] = {
        {"host1.example.com", "client1", 0, 0},
        {"", "", 0, 0},
        {"host*with*stars", "client%with%percents", 8400, 3},
        {"a b\tc", "x\ny\r", -1, INT_MIN},
        {"%41", "*", INT_MAX, 1},
        {"caf\xc3\xa9", std::string("nul\0inside", 10), 1, 2},
        {"\xff\xfe\x01", "..--__", 0, -7},
        {"[::1]:8400", "C:\\share\\", 0, 0},
    };
    for (const NameCase &nameCase : cases) {
        std::string strMangled =
            MangleHostName(nameCase.strHost, nameCase.strClient, nameCase.nPort, nameCase.nFlags);
        // A mangled name is one printable token, whatever went into it.
        for (char ch : strMangled) {
            EXPECT_TRUE(ch > ' ' && ch < 0x7f) << strMangled;
        }
        std::string strHost = "x";
        std::string strClient = "y";
        int nPort = 99;
        int nFlags = 99;
        EXPECT_EQ(DemangleHostName(strMangled.c_str(), strHost, strClient, nPort, nFlags), 0)
            << strMangled;
        EXPECT_EQ(strHost, nameCase.strHost);
        EXPECT_EQ(strClient, nameCase.strClient);
        EXPECT_EQ(nPort, nameCase.nPort);
        EXPECT_EQ(nFlags, nameCase.nFlags);
    }
}

TEST(ManagementDataTest, PlainAndMalformedNames) {
    std::string strHost;
    std::string strClient;
    int nPort = 5;
    int nFlags = 5;
    EXPECT_EQ(DemangleHostName("indexserver01", strHost, strClient, nPort, nFlags), 0);
    EXPECT_EQ(strHost, "indexserver01");
    EXPECT_EQ(strClient, "indexserver01");
    EXPECT_EQ(nPort, 0);
    EXPECT_EQ(nFlags, 0);

    for (const char *szBad : {"a*b*c", "a*b*c*d*e", "a*b*1*x", "a%4*b*1*2", "a%zz*b*1*2",
                              "a*b*99999999999*0", "a*b**0"}) {
        strHost = "keep";
        strClient = "keep";
        EXPECT_EQ(DemangleHostName(szBad, strHost, strClient, nPort, nFlags), 87) << szBad;
        EXPECT_EQ(strHost, "") << szBad;
        EXPECT_EQ(strClient, "") << szBad;
    }
    EXPECT_EQ(DemangleHostName(nullptr, strHost, strClient, nPort, nFlags), 87);
}

TEST(ManagementDataTest, ClientGivesItsMangledHostName) {
    // As the index-log translation uses it: a mangled name for a client name and back.
    std::string strMangled;
    EXPECT_EQ(TQClient("idx client 7", false, 0).getNetworkHostnameMangled(strMangled, nullptr), 0);
    std::string strHost;
    std::string strClient;
    int nPort = 0;
    int nFlags = 0;
    EXPECT_EQ(DemangleHostName(strMangled.c_str(), strHost, strClient, nPort, nFlags), 0);
    EXPECT_EQ(strClient, "idx client 7");
    EXPECT_EQ(strHost, "idx client 7");

    TQClientInfo info;
    info.strName = "client2";
    info.strHostName = "client2.lan";
    TQClient client(info);
    EXPECT_EQ(client.getNetworkHostnameMangled(strMangled, nullptr), 0);
    EXPECT_EQ(strMangled, MangleHostName("client2.lan", "client2", 0, 0));
}

TEST(ManagementDataTest, ApplicationJoinsClientAndSubclient) {
    TQClientInfo clientInfo;
    clientInfo.strName = "fileserver";
    clientInfo.ullId = 0x100000007ull;
    clientInfo.bNASClient = true;
    clientInfo.nOSId = 17;
    SubclientInfo subclientInfo;
    subclientInfo.nId = 42;
    subclientInfo.strGUID = "8D3A2B1C-0000-4000-8000-000000000042";
    subclientInfo.bACLCollectionEnabled = true;
    subclientInfo.bPreserveAccessTime = true;
    ApplicationIdPtr ptrApplication = boost::make_shared<ApplicationId>(
        boost::make_shared<TQClient>(clientInfo), boost::make_shared<Subclient>(subclientInfo));

    TQClient *pClient = ptrApplication->getClient(nullptr);
    ASSERT_NE(pClient, nullptr);
    std::string strName;
    uint64_t ullId = 0;
    bool bNAS = false;
    uint32_t nOSId = 0;
    EXPECT_EQ(pClient->getClientName(strName, nullptr), 0);
    EXPECT_EQ(pClient->getClientId(ullId, nullptr), 0);
    EXPECT_EQ(pClient->getIsNASClient(bNAS, nullptr), 0);
    EXPECT_EQ(pClient->getOSId(nOSId, nullptr), 0);
    EXPECT_EQ(strName, "fileserver");
    EXPECT_EQ(ullId, 0x100000007ull);
    EXPECT_TRUE(bNAS);
    EXPECT_EQ(nOSId, 17u);

    Subclient *pSubclient = ptrApplication->getSubclient(nullptr);
    ASSERT_NE(pSubclient, nullptr);
    EXPECT_EQ(pSubclient->getSubclientId(), 42u);
    EXPECT_EQ(pSubclient->getGUIDStr(), "8D3A2B1C-0000-4000-8000-000000000042");
    EXPECT_TRUE(pSubclient->isACLCollectionEnabled());
    bool bPreserve = false;
    EXPECT_EQ(pSubclient->getPreserveAccessTime(bPreserve, nullptr), 0);
    EXPECT_TRUE(bPreserve);

    ApplicationId empty{boost::shared_ptr<TQClient>(), boost::shared_ptr<Subclient>()};
    EXPECT_EQ(empty.getClient(nullptr), nullptr);
    EXPECT_EQ(empty.getSubclient(nullptr), nullptr);
}

} // namespace

#include "platform/Bag.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/EventThread.h"

namespace {

bool Mentions(const CKyError &error, const std::string &strText) {
    return error.AsString().find(strText) != std::string::npos;
}

TEST(BagTest, ValuesComeBackAsWritten) {
    CBag bag;
    auto ptrInner = boost::make_shared<CBag>();
    ASSERT_FALSE(ptrInner->Write("inner", 5).IsError());

    EXPECT_FALSE(bag.Write("bool", true).IsError());
    EXPECT_FALSE(bag.Write("int32", int32_t(-12)).IsError());
    EXPECT_FALSE(bag.Write("uint32", uint32_t(4000000000u)).IsError());
    EXPECT_FALSE(bag.Write("int64", int64_t(-1234567890123LL)).IsError());
    EXPECT_FALSE(bag.Write("uint64", uint64_t(18446744073709551615ull)).IsError());
    EXPECT_FALSE(bag.Write("double", 2.5).IsError());
    EXPECT_FALSE(bag.Write("text", std::string("value")).IsError());
    EXPECT_FALSE(bag.Write("literal", "from a literal").IsError());
    EXPECT_FALSE(bag.Write("vector", std::vector<std::string>{"a", "b"}).IsError());
    EXPECT_FALSE(bag.Write("set", std::set<std::string>{"x", "y"}).IsError());
    EXPECT_FALSE(
        bag.Write("map", std::map<std::string, std::string>{{"k", "v"}, {"k2", "v2"}}).IsError());
    EXPECT_FALSE(bag.Write("bag", ptrInner).IsError());

    bool bValue = false;
    int32_t nInt32 = 0;
    uint32_t nUInt32 = 0;
    int64_t llInt64 = 0;
    uint64_t ullUInt64 = 0;
    double dValue = 0;
    std::string strText, strLiteral;
    std::vector<std::string> vecValue;
    std::set<std::string> setValue;
    std::map<std::string, std::string> mapValue;
    CBagPtr ptrBag;
    EXPECT_FALSE(bag.Read("bool", bValue).IsError());
    EXPECT_FALSE(bag.Read("int32", nInt32).IsError());
    EXPECT_FALSE(bag.Read("uint32", nUInt32).IsError());
    EXPECT_FALSE(bag.Read("int64", llInt64).IsError());
    EXPECT_FALSE(bag.Read("uint64", ullUInt64).IsError());
    EXPECT_FALSE(bag.Read("double", dValue).IsError());
    EXPECT_FALSE(bag.Read("text", strText).IsError());
    EXPECT_FALSE(bag.Read("literal", strLiteral).IsError());
    EXPECT_FALSE(bag.Read("vector", vecValue).IsError());
    EXPECT_FALSE(bag.Read("set", setValue).IsError());
    EXPECT_FALSE(bag.Read("map", mapValue).IsError());
    EXPECT_FALSE(bag.Read("bag", ptrBag).IsError());

    EXPECT_TRUE(bValue);
    EXPECT_EQ(nInt32, -12);
    EXPECT_EQ(nUInt32, 4000000000u);
    EXPECT_EQ(llInt64, -1234567890123LL);
    EXPECT_EQ(ullUInt64, 18446744073709551615ull);
    EXPECT_EQ(dValue, 2.5);
    EXPECT_EQ(strText, "value");
    EXPECT_EQ(strLiteral, "from a literal");
    EXPECT_EQ(vecValue, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(setValue, (std::set<std::string>{"x", "y"}));
    EXPECT_EQ(mapValue.at("k2"), "v2");
    ASSERT_EQ(ptrBag, ptrInner);
    int nInner = 0;
    EXPECT_FALSE(ptrBag->Read("inner", nInner).IsError());
    EXPECT_EQ(nInner, 5);
}

TEST(BagTest, AbsentKeyIsAnErrorNamingItUnlessOptional) {
    CBag bag;
    uint32_t nValue = 31;
    CKyError error = bag.Read("AppId:Transmitter", nValue);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_TRUE(Mentions(error, "AppId:Transmitter"));
    EXPECT_EQ(nValue, 31u);

    EXPECT_FALSE(bag.Read("AppId:Transmitter", nValue, CBag::eReadOptional).IsError());
    EXPECT_EQ(nValue, 31u);

    boost::any value = 5;
    EXPECT_TRUE(bag.ReadAny("missing", value).IsError());
    EXPECT_FALSE(bag.ReadAny("missing", value, CBag::eReadOptional).IsError());
    EXPECT_TRUE(value.empty());
}

TEST(BagTest, IntegersConvertBetweenWidthsKeepingLowBits) {
    CBag bag;
    bag.Write("AppId:Transmitter", uint64_t(7));
    bag.Write("ClientId:Transmitter", uint64_t(0x100000002ull));
    bag.Write("ServerPort:Transmitter", int32_t(20000));
    bag.Write("SnapJobId:Transmitter", uint64_t(9000000000ull));
    bag.Write("Negative", int32_t(-1));

    uint32_t nAppId = 0, nClientId = 0, nPort = 0, nNegative = 0;
    int64_t llSnapJobId = 0;
    uint64_t ullNegative = 0;
    double dNegative = 0;
    EXPECT_FALSE(bag.Read("AppId:Transmitter", nAppId).IsError());
    EXPECT_FALSE(bag.Read("ClientId:Transmitter", nClientId).IsError());
    EXPECT_FALSE(bag.Read("ServerPort:Transmitter", nPort).IsError());
    EXPECT_FALSE(bag.Read("SnapJobId:Transmitter", llSnapJobId).IsError());
    EXPECT_FALSE(bag.Read("Negative", nNegative).IsError());
    EXPECT_FALSE(bag.Read("Negative", ullNegative).IsError());
    EXPECT_FALSE(bag.Read("Negative", dNegative).IsError());
    EXPECT_EQ(nAppId, 7u);
    EXPECT_EQ(nClientId, 2u);
    EXPECT_EQ(nPort, 20000u);
    EXPECT_EQ(llSnapJobId, 9000000000LL);
    EXPECT_EQ(nNegative, 0xFFFFFFFFu);
    EXPECT_EQ(ullNegative, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(dNegative, -1.0);
}

TEST(BagTest, WrongTypeIsAnErrorNamingKeyAndStoredType) {
    CBag bag;
    bag.Write("flag", true);
    bag.Write("text", std::string("abc"));
    bag.Write("number", 5);

    struct Case {
        const char *szKey;
        const char *szStoredType;
        CKyError error;
    };
    int nValue = 3;
    std::string strValue = "kept";
    bool bValue = false;
    std::vector<std::string> vecValue{"kept"};
    Case cases[] = {
        {"flag", "bool", bag.Read("flag", nValue)},
        {"text", "std::string", bag.Read("text", nValue)},
        {"number", "int32", bag.Read("number", strValue)},
        {"number", "int32", bag.Read("number", bValue)},
        {"text", "std::string", bag.Read("text", vecValue)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.szKey);
        EXPECT_TRUE(FXErrorUtil::IsWin32(c.error, 774));
        EXPECT_TRUE(Mentions(c.error, std::string("PropertyName=[") + c.szKey + "]"));
        EXPECT_TRUE(Mentions(c.error, std::string("PropertyType=[") + c.szStoredType + "]"))
            << c.error.AsString();
    }
    EXPECT_EQ(nValue, 3);
    EXPECT_EQ(strValue, "kept");
    EXPECT_FALSE(bValue);
    EXPECT_EQ(vecValue, std::vector<std::string>{"kept"});
}

TEST(BagTest, WriteReplacesAndRemoveForgets) {
    CBag bag;
    EXPECT_TRUE(FXErrorUtil::IsWin32(bag.Write("", 1), 87));
    bag.Write("IdexingConnFlags:Transmitter", 0);
    bag.Write("IdexingConnFlags:Transmitter", 1);
    int nFlags = 0;
    EXPECT_FALSE(bag.Read("IdexingConnFlags:Transmitter", nFlags).IsError());
    EXPECT_EQ(nFlags, 1);

    bag.WriteAny("VMMountPaths:Transmitter", std::map<std::string, std::string>{{"/mnt/vm", "/"}});
    EXPECT_TRUE(bag.Has("VMMountPaths:Transmitter"));
    std::vector<std::string> vecExpected{"IdexingConnFlags:Transmitter",
                                         "VMMountPaths:Transmitter"};
    EXPECT_EQ(bag.Keys(), vecExpected);
    boost::any value;
    EXPECT_FALSE(bag.ReadAny("VMMountPaths:Transmitter", value).IsError());
    using StringMap = std::map<std::string, std::string>;
    EXPECT_EQ(boost::any_cast<StringMap>(value).at("/mnt/vm"), "/");

    EXPECT_TRUE(bag.Remove("VMMountPaths:Transmitter"));
    EXPECT_FALSE(bag.Remove("VMMountPaths:Transmitter"));
    EXPECT_FALSE(bag.Has("VMMountPaths:Transmitter"));
}

TEST(BagTest, EventReadOfATextFailsWith1168NamingKeyAndType) {
    CBag bag;
    bag.Write("AbortEvent:Transmitter", std::string("not an event"));
    boost::shared_ptr<FXEvent> ptrEvent;
    CKyError error = bag.Read<FXEvent>("AbortEvent:Transmitter", ptrEvent, 0);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1168));
    EXPECT_TRUE(Mentions(error, "Failed to obtain shared pointer from property, "
                                "PropertyName=[AbortEvent:Transmitter], "
                                "PropertyType=[std::string]"))
        << error.AsString();
    EXPECT_TRUE(Mentions(error, "Bag.h"));
    EXPECT_FALSE(ptrEvent);
}

TEST(BagTest, SharedPointersReadAlikeWhicheverWayTheyAreNamed) {
    CBag bag;
    bag.Write("text", std::string("abc"));
    bag.Write("emptyBag", CBagPtr());
    CBagPtr ptrBag;
    for (const char *szKey : {"text", "emptyBag"}) {
        SCOPED_TRACE(szKey);
        EXPECT_TRUE(FXErrorUtil::IsWin32(bag.Read<CBagPtr>(szKey, ptrBag), 1168));
        EXPECT_TRUE(FXErrorUtil::IsWin32(bag.Read<CBag>(szKey, ptrBag), 1168));
        EXPECT_TRUE(FXErrorUtil::IsWin32(bag.Read(szKey, ptrBag), 1168));
    }
    EXPECT_FALSE(bag.Read<CBagPtr>("emptyBag", ptrBag, CBag::eReadOptional).IsError());
}

TEST(BagTest, EventReadCases) {
    auto ptrStored = boost::make_shared<FXEvent>(0);
    CBag bag;
    bag.Write("event", ptrStored);
    bag.Write("emptyEvent", boost::shared_ptr<FXEvent>());
    bag.WriteAny("emptyAny", boost::any());

    auto ptrPreset = boost::make_shared<FXEvent>(0);
    struct Case {
        const char *szKey;
        uint32_t nFlags;
        uint32_t nError; // 0 for success
        enum { eUntouched, eStored, eCleared } eOutput;
    } cases[] = {
        {"event", 0, 0, Case::eStored},
        {"event", CBag::eReadOptional, 0, Case::eStored},
        {"missing", CBag::eReadOptional, 0, Case::eUntouched},
        {"missing", 0, 774, Case::eUntouched},
        {"emptyEvent", 0, 1168, Case::eCleared},
        {"emptyEvent", CBag::eReadOptional, 0, Case::eCleared},
        {"emptyAny", CBag::eReadOptional, 0, Case::eUntouched},
        {"emptyAny", 0, 1168, Case::eUntouched},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.szKey) + " flags " + std::to_string(c.nFlags));
        boost::shared_ptr<FXEvent> ptrEvent = ptrPreset;
        CKyError error = bag.Read<FXEvent>(c.szKey, ptrEvent, c.nFlags);
        if (c.nError == 0) {
            EXPECT_FALSE(error.IsError()) << error.AsString();
        } else {
            EXPECT_TRUE(FXErrorUtil::IsWin32(error, c.nError)) << error.AsString();
            EXPECT_TRUE(Mentions(error, c.szKey));
        }
        switch (c.eOutput) {
        case Case::eUntouched:
            EXPECT_EQ(ptrEvent, ptrPreset);
            break;
        case Case::eStored:
            EXPECT_EQ(ptrEvent, ptrStored);
            break;
        case Case::eCleared:
            EXPECT_FALSE(ptrEvent);
            break;
        }
    }
}

TEST(BagTest, ConcurrentWritersAndReaders) {
    auto ptrBag = boost::make_shared<CBag>();
    std::atomic<int> nBad{0};
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < 8; ++t) {
        vecThreads.emplace_back([t, ptrBag, &nBad] {
            std::string strKey = "key" + std::to_string(t % 4);
            for (int i = 0; i < 2000; ++i) {
                ptrBag->Write(strKey, std::string(static_cast<size_t>(i % 64), 'x'));
                std::string strValue;
                if (ptrBag->Read(strKey, strValue).IsError() ||
                    strValue.find_first_not_of('x') != std::string::npos) {
                    ++nBad;
                }
                ptrBag->Keys();
            }
        });
    }
    for (auto &thread : vecThreads) {
        thread.join();
    }
    EXPECT_EQ(nBad.load(), 0);
    EXPECT_EQ(ptrBag->Keys().size(), 4u);
}

} // namespace

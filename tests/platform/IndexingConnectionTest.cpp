// The stand-in index server: its connections check the order and the sequence numbers as the
// index server would, keep deep copies of what they were given, answer scripted refusals, and
// write each call to the operator's file when one is named; the archive manager and the
// file-identifier generator answer deterministically.
#include "platform/IndexingConnection.h"

#include <cstdlib>
#include <string>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "foundation/MakeSharedNothrow.h"
#include "platform/ArMgrClientAPI.h"
#include "platform/FileNameHash.h"
#include "platform/testing/IndexServer.h"
#include "tests/support/TempDir.h"

namespace {

using idxtest::IndexServerCall;

int InitializeDefault(IndexingConnection &connection) {
    return connection.initialize(2, 7, 33, 1, "token", "mangled", "client", 0x80);
}

TEST(IndexingConnectionTest, CallsAreRecordedInOrderWithTheirArguments) {
    idxtest::IndexServer server;
    IndexingConnection first;
    IndexingConnection second;

    EXPECT_EQ(0, second.initialize(2, 7, 33, -1, "token", "mangled", "client", 0x90));
    EXPECT_EQ(0, second.setStreamJobId(-5));
    ArchiveFileId_t afile{2, 41, 40};
    EXPECT_EQ(0, second.sendAfileInfo(&afile, true, 99, 0x214, 7, 12, 0));
    EXPECT_EQ(0, second.updateRestartInfo(0));
    EXPECT_EQ(0, second.backupDone(1));

    EXPECT_EQ(2, server.ConnectionsMade());
    EXPECT_TRUE(server.Calls(1).empty());
    const std::vector<IndexServerCall> vecCalls = server.Calls(2);
    ASSERT_EQ(5u, vecCalls.size());
    EXPECT_EQ((std::vector<std::string>{"initialize", "setStreamJobId", "sendAfileInfo",
                                        "updateRestartInfo", "backupDone"}),
              server.CallNames(2));
    EXPECT_EQ((std::vector<uint64_t>{2, 7, 33, static_cast<uint64_t>(-1), 0x90}),
              vecCalls[0].vecNumbers);
    EXPECT_EQ((std::vector<std::string>{"token", "mangled", "client"}), vecCalls[0].vecTexts);
    EXPECT_EQ(static_cast<uint64_t>(-5), vecCalls[1].vecNumbers[0]);
    EXPECT_EQ((std::vector<uint64_t>{2, 41, 40, 1, 99, 0x214, 7, 12, 0}), vecCalls[2].vecNumbers);
    EXPECT_EQ(1u, vecCalls[4].vecNumbers[0]);
    for (const IndexServerCall &call : vecCalls) {
        EXPECT_EQ(0, call.nResult);
    }
}

TEST(IndexingConnectionTest, RecordsAndHeadersAreDeepCopies) {
    idxtest::IndexServer server;
    IndexingConnection connection;
    ASSERT_EQ(0, InitializeDefault(connection));

    IdxMetadata::IdxMetaData metadata;
    CNMessageBase **ppIndexing = metadata.getObjectAccessor(true, true, 1, 1, 0, 0, 101, 1);
    (*ppIndexing)->setstring(13, 16, "id-one");
    CXFileHeader header;
    header.ullSize = 42;
    strcpy(header.szName, "\\home\\a");
    EXPECT_EQ(0, connection.sendMetaDataInfo(&metadata));
    EXPECT_EQ(0, connection.sendFileInfo(&header, 0, nullptr, 0));

    IdxMetadata::IdxDbInfo dbInfo;
    Indexing::IdxCommand command;
    command.setint64(1, 1, 2);
    EXPECT_EQ(0, connection.sendFileInfoV2(dbInfo, command));

    // What the caller changes or frees afterwards does not reach the record.
    (*ppIndexing)->setstring(13, 16, "changed");
    metadata.Clear();
    header.Clear();
    command.setint64(1, 1, 0);

    const std::vector<IndexServerCall> vecCalls = server.Calls(1);
    ASSERT_EQ(4u, vecCalls.size());
    ASSERT_TRUE(vecCalls[1].ptrRecord);
    ASSERT_NE(nullptr, vecCalls[1].ptrRecord->getObject(1, 1));
    EXPECT_EQ("id-one", vecCalls[1].ptrRecord->getObject(1, 1)->getstring(13, 16));
    EXPECT_EQ(93, vecCalls[1].ptrRecord->GetType());
    ASSERT_TRUE(vecCalls[2].bHeader);
    EXPECT_EQ(42u, vecCalls[2].header.ullSize);
    EXPECT_STREQ("\\home\\a", vecCalls[2].header.szName);
    EXPECT_EQ(0u, vecCalls[2].vecNumbers[0]);
    ASSERT_TRUE(vecCalls[3].ptrRecord && vecCalls[3].ptrDbInfo);
    EXPECT_EQ(2, vecCalls[3].ptrRecord->getint64(1));
    EXPECT_EQ(216, vecCalls[3].ptrRecord->GetType());
    EXPECT_EQ(0, vecCalls[3].ptrDbInfo->GetType());
}

TEST(IndexingConnectionTest, TheServerRefusesCallsOutOfOrderAndWrongSequenceNumbers) {
    idxtest::IndexServer server;
    IndexingConnection connection;
    CXFileHeader header;

    // Nothing before a successful initialize.
    EXPECT_NE(0, connection.setStreamJobId(1));
    EXPECT_NE(0, connection.sendFileInfo(&header, 0, nullptr, 0));
    EXPECT_NE(0, connection.initialize(2, 7, 33, 1, nullptr, "m", "c", 0x80));
    EXPECT_NE(0, connection.backupDone(1));
    ASSERT_EQ(0, InitializeDefault(connection));

    // The sequence number is the count of headers accepted before; a refused header does not
    // use its number up.
    EXPECT_NE(0, connection.sendFileInfo(&header, 1, nullptr, 0));
    EXPECT_EQ(0, connection.sendFileInfo(&header, 0, nullptr, 0));
    server.FailCall("sendFileInfo");
    EXPECT_EQ(1, connection.sendFileInfo(&header, 1, nullptr, 0));
    EXPECT_EQ(0, connection.sendFileInfo(&header, 1, nullptr, 0));
    EXPECT_NE(0, connection.sendFileInfo(nullptr, 2, nullptr, 0));
    EXPECT_NE(0, connection.sendMetaDataInfo(nullptr));
    EXPECT_NE(0, connection.sendAfileInfo(nullptr, false, 0, 0, 0, 0, 0));
}

TEST(IndexingConnectionTest, ScriptedRefusalsAnswerTheChosenCallsOnly) {
    idxtest::IndexServer server;
    IndexingConnection first;
    IndexingConnection second;
    ASSERT_EQ(0, InitializeDefault(first));
    ASSERT_EQ(0, InitializeDefault(second));

    // The second updateRestartInfo from now on, whichever connection makes it.
    server.FailCall("updateRestartInfo", 2, 5);
    EXPECT_EQ(0, first.updateRestartInfo(0));
    EXPECT_EQ(5, second.updateRestartInfo(0));
    EXPECT_EQ(0, first.updateRestartInfo(0));

    server.FailEveryCall("backupDone", 3);
    EXPECT_EQ(3, first.backupDone(1));
    EXPECT_EQ(3, second.backupDone(1));
    EXPECT_EQ(3, server.CallsNamed("backupDone")[1].nResult);

    server.FailCall("initialize");
    IndexingConnection third;
    EXPECT_EQ(1, InitializeDefault(third));
    EXPECT_NE(0, third.updateRestartInfo(0));
}

TEST(IndexingConnectionTest, AConnectionScriptedToFailCannotBeMade) {
    idxtest::IndexServer server;
    server.FailConnection(2);
    auto ptrFirst = boost::make_shared_nothrow<IndexingConnection>();
    auto ptrSecond = boost::make_shared_nothrow<IndexingConnection>();
    auto ptrThird = boost::make_shared_nothrow<IndexingConnection>();
    EXPECT_TRUE(ptrFirst);
    EXPECT_FALSE(ptrSecond);
    EXPECT_TRUE(ptrThird);
    EXPECT_EQ(2, server.ConnectionsMade());
}

TEST(IndexingConnectionTest, ObserverSeesEachCallAsItHappens) {
    idxtest::IndexServer server;
    std::vector<std::string> vecSeen;
    server.SetObserver([&](const IndexServerCall &call) {
        vecSeen.push_back(call.strCall + ":" + std::to_string(call.nResult));
    });
    IndexingConnection connection;
    InitializeDefault(connection);
    connection.backupDone(1);
    EXPECT_EQ((std::vector<std::string>{"initialize:0", "backupDone:0"}), vecSeen);
}

TEST(IndexingConnectionTest, ArchiveManagerAnswersItsDefaultOrTheScriptedReply) {
    idxtest::IndexServer server;
    ArMgrClientAPI client;
    GetAfileInfoArgsCC_t args;
    args.ullAfileId = 40;
    args.ullFleetId = 2;
    GetAfileInfoRetCC_t reply;
    EXPECT_EQ(0, client.getAfileInfo(&args, &reply));
    EXPECT_EQ(40u, reply.ullAfileId);
    EXPECT_EQ(0u, reply.ullAfileFlags);

    GetAfileInfoRetCC_t scripted;
    scripted.ullAfileId = 0x100000007ull;
    scripted.ullReplyValue = 123;
    scripted.ullAfileFlags = 0x1;
    server.SetAfileInfoReply(scripted);
    EXPECT_EQ(0, client.getAfileInfo(&args, &reply));
    EXPECT_EQ(0x100000007ull, reply.ullAfileId);
    EXPECT_EQ(123u, reply.ullReplyValue);

    server.FailCall("getAfileInfo", 1, 9);
    GetAfileInfoRetCC_t untouched;
    EXPECT_EQ(9, client.getAfileInfo(&args, &untouched));
    EXPECT_EQ(0u, untouched.ullAfileId);

    const std::vector<IndexServerCall> vecCalls = server.Calls(0);
    ASSERT_EQ(3u, vecCalls.size());
    EXPECT_EQ((std::vector<uint64_t>{40, 0, 2}), vecCalls[0].vecNumbers);
    EXPECT_EQ(9, vecCalls[2].nResult);
}

TEST(IndexingConnectionTest, WithALogFileNamedEachCallIsAppendedThere) {
    idxtest::IndexServer server;
    idxtest::TempDir dir;
    const std::string strFile = dir / "index-server.log";
    setenv("IDX_INDEX_SERVER_LOG", strFile.c_str(), 1);
    {
        IndexingConnection connection;
        InitializeDefault(connection);
        CXFileHeader header;
        header.ullMode = 0x8000;
        strcpy(header.szName, "\\a\\b");
        connection.sendFileInfo(&header, 0, nullptr, 0);
        IdxMetadata::IdxMetaData metadata;
        metadata.setstring(2, 2, "x");
        connection.sendMetaDataInfo(&metadata);
    }
    unsetenv("IDX_INDEX_SERVER_LOG");

    EXPECT_TRUE(server.Calls().empty());
    const std::string strContent = idxtest::ReadWholeFile(strFile);
    std::vector<nlohmann::json> vecLines;
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = strContent.find('\n', nStart)) != std::string::npos;
         nStart = nEnd + 1) {
        vecLines.push_back(nlohmann::json::parse(strContent.substr(nStart, nEnd - nStart)));
    }
    ASSERT_EQ(3u, vecLines.size());
    EXPECT_EQ("initialize", vecLines[0]["call"]);
    EXPECT_EQ(1, vecLines[0]["connection"]);
    EXPECT_EQ("client", vecLines[0]["texts"][2]);
    EXPECT_EQ("sendFileInfo", vecLines[1]["call"]);
    EXPECT_EQ("\\a\\b", vecLines[1]["header"]["name"]);
    EXPECT_EQ(0x8000, vecLines[1]["header"]["mode"]);
    EXPECT_EQ("<message family=\"101\" type=\"93\"><string index=\"2\" tag=\"2\">x</string>"
              "</message>",
              vecLines[2]["record"]);
}

TEST(FileNameHashTest, IdentifiersArePureFunctionsOfTheirInput) {
    auto make = [](const std::string &strSeed, CFileNameHash::GetValuesArgs args) {
        std::vector<std::string> vecIds(4);
        args.pFileId1 = &vecIds[0];
        args.pFileId2 = &vecIds[1];
        args.pFileId3 = &vecIds[2];
        args.pFileId4 = &vecIds[3];
        CFileNameHash hash(strSeed);
        EXPECT_FALSE(hash.GetValues(args).IsError());
        return vecIds;
    };
    CFileNameHash::GetValuesArgs args;
    args.strPath = "\\home\\a\\f.txt";
    args.strParentPath = "\\home\\a";
    args.llFirstTime = 100;
    args.llSecondTime = 200;
    args.ullSize = 5;
    args.nAttributes = 0;

    const std::vector<std::string> vecIds = make("app-guid", args);
    EXPECT_EQ(vecIds, make("app-guid", args));
    for (const std::string &strId : vecIds) {
        EXPECT_EQ(32u, strId.size());
        EXPECT_EQ(std::string::npos, strId.find_first_not_of("0123456789ABCDEF"));
    }
    // A new version changes identifier 2 only; another folder identifier 3; another seed all.
    CFileNameHash::GetValuesArgs newer = args;
    newer.llSecondTime = 201;
    const std::vector<std::string> vecNewer = make("app-guid", newer);
    EXPECT_EQ(vecIds[0], vecNewer[0]);
    EXPECT_NE(vecIds[1], vecNewer[1]);
    EXPECT_EQ(vecIds[2], vecNewer[2]);
    EXPECT_EQ(vecIds[3], vecNewer[3]);
    const std::vector<std::string> vecOtherSeed = make("other", args);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NE(vecIds[i], vecOtherSeed[i]);
    }

    // An empty path or a missing output is refused, and nothing is written.
    CFileNameHash hash("app-guid");
    std::string strUntouched = "untouched";
    CFileNameHash::GetValuesArgs empty;
    empty.pFileId1 = empty.pFileId2 = empty.pFileId3 = empty.pFileId4 = &strUntouched;
    EXPECT_TRUE(FXErrorUtil::IsWin32(hash.GetValues(empty), 87));
    CFileNameHash::GetValuesArgs noOutput = args;
    EXPECT_TRUE(FXErrorUtil::IsWin32(hash.GetValues(noOutput), 87));
    EXPECT_EQ("untouched", strUntouched);
}

} // namespace

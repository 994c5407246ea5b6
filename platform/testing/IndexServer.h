// Test control of the index server behind the stand-in connections and archive-manager client
// (platform/IndexingConnection.h, platform/ArMgrClientAPI.h): read every call they were given,
// script refusals and the archive manager's reply, and watch calls as they happen. Never used by
// the library itself.
//
// An idxtest::IndexServer instance resets the record when it is made and again when it goes out
// of scope: no calls, no connections made, nothing scripted. Connections are numbered from 1 in
// the order they are made after the reset.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "foundation/Export.h"
#include "platform/ArMgrTypes.h"
#include "platform/IndexServerStore.h"

namespace idxtest {

typedef CIndexServerCall IndexServerCall;

class IDX_EXPORT IndexServer {
public:
    IndexServer();
    ~IndexServer();
    IndexServer(const IndexServer &) = delete;
    IndexServer &operator=(const IndexServer &) = delete;

    // Every call so far, in the order they were made (at most the latest 10000; none when
    // IDX_INDEX_SERVER_LOG names a file).
    std::vector<IndexServerCall> Calls() const;
    // The calls of one connection (0: the archive manager's).
    std::vector<IndexServerCall> Calls(int nConnection) const;
    // The names of one connection's calls, in order.
    std::vector<std::string> CallNames(int nConnection) const;
    // The calls named strCall, over all connections.
    std::vector<IndexServerCall> CallsNamed(const std::string &strCall) const;
    int ConnectionsMade() const;

    // The nOccurrence-th call named strCall from now on (over all connections; "getAfileInfo" is
    // the archive manager's) answers nResult, once. Scripts for one name apply in the order given.
    void FailCall(const std::string &strCall, int nOccurrence = 1, int nResult = 1);
    // Every call named strCall answers nResult from now on.
    void FailEveryCall(const std::string &strCall, int nResult = 1);
    // The nOccurrence-th connection made from now on cannot be made.
    void FailConnection(int nOccurrence = 1);
    // The archive manager's reply from now on, whatever is asked.
    void SetAfileInfoReply(const GetAfileInfoRetCC_t &reply);
    // Runs after every call is recorded, on the calling thread, with no lock held.
    void SetObserver(std::function<void(const IndexServerCall &)> fnObserver);

    static void Reset();
};

} // namespace idxtest

// A TCP forwarder on 127.0.0.1 in front of a loopback server: every connection it accepts is
// relayed byte for byte to the server's port, and each end is passed on as it came (a side that
// closes is closed on the other side, a side that resets is reset on the other). It can stop
// listening for a while and listen again on the same port, so that a client meets a server whose
// connections are refused at the TCP level and that then comes back where it was. The port stays
// bound all along: no other socket can take it meanwhile.
#pragma once

#include <mutex>
#include <string>
#include <thread>

namespace idxtest {

class LoopbackForwarder {
public:
    // Listens on an ephemeral port of 127.0.0.1 and relays to 127.0.0.1:nTargetPort on a thread
    // of its own; throws std::runtime_error when it cannot.
    explicit LoopbackForwarder(int nTargetPort);
    ~LoopbackForwarder();
    LoopbackForwarder(const LoopbackForwarder &) = delete;
    LoopbackForwarder &operator=(const LoopbackForwarder &) = delete;

    int Port() const { return m_nPort; }
    std::string HostUrl() const; // "http://127.0.0.1:PORT"

    // Stops listening: from now on connections to the port are refused. Connections that were
    // relayed go on; those the kernel had completed but the forwarder not yet taken are reset.
    // True at once when the forwarder refuses already; false when the socket would not stop.
    bool Refuse();
    // Listens again on the same port. True at once when the forwarder listens already; false
    // when the socket would not listen.
    bool Listen();
    bool IsRefusing() const;
    size_t RefusalCount() const;    // calls of Refuse that stopped the listening
    size_t ConnectionCount() const; // connections accepted

    void Stop(); // idempotent; resets the connections in progress and joins the thread

private:
    void Run();
    void Wake() const;

    int m_nTargetPort;
    int m_nPort = 0;
    int m_nListener = -1;
    int m_nWake = -1; // eventfd that interrupts the thread's wait
    mutable std::mutex m_lock;
    bool m_bRefusing = false;
    bool m_bStopping = false;
    size_t m_nRefusals = 0;
    size_t m_nConnections = 0;
    std::thread m_thread;
};

} // namespace idxtest

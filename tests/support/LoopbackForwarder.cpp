// The forwarder runs one thread that waits on every socket at once: the listener, both sides of
// each relayed connection, and an eventfd that Refuse, Listen and Stop use to wake it. Each
// connection is two pipes (client to server, server to client), each holding at most one chunk
// that it has read and not yet written, so that a slow reader holds up only its own pipe.
#include "tests/support/LoopbackForwarder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <list>
#include <stdexcept>
#include <vector>

namespace idxtest {

namespace {

const int kBacklog = 128;
const size_t kChunkBytes = 64 * 1024;

sockaddr_in LoopbackAddress(int nPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    return address;
}

bool SetReuseAddress(int nSocket, bool bReuse) {
    const int nValue = bReuse ? 1 : 0;
    return setsockopt(nSocket, SOL_SOCKET, SO_REUSEADDR, &nValue, sizeof nValue) == 0;
}

// Relayed bytes go on at once: small writes held back for the peer's acknowledgement would cost
// a delayed ACK each.
void SetNoDelay(int nSocket) {
    const int nValue = 1;
    setsockopt(nSocket, IPPROTO_TCP, TCP_NODELAY, &nValue, sizeof nValue);
}

bool SetNonBlocking(int nSocket) {
    const int nFlags = fcntl(nSocket, F_GETFL);
    return nFlags >= 0 && fcntl(nSocket, F_SETFL, nFlags | O_NONBLOCK) == 0;
}

// Closes with a reset (RST) instead of an orderly end (FIN).
void CloseWithReset(int nSocket) {
    const linger option{1, 0};
    setsockopt(nSocket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    close(nSocket);
}

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

struct Pipe {
    int nFrom = -1;
    int nTo = -1;
    std::string strPending; // read from nFrom, not yet written to nTo
    bool bEnded = false;    // nFrom ended its stream and nTo was told
};

struct Relay {
    int nClient = -1;
    int nServer = -1;
    Pipe pipes[2];       // client to server, server to client
    bool bReset = false; // a side failed or was reset: both are reset
    bool Done() const { return bReset || (pipes[0].bEnded && pipes[1].bEnded); }
};

// One wait of the thread: which pipe of which relay a polled descriptor stands for.
struct Watch {
    Relay *pRelay;
    Pipe *pPipe;
};

void ReadInto(Relay &relay, Pipe &pipe, std::vector<char> &vecBuffer) {
    const ssize_t nRead = recv(pipe.nFrom, vecBuffer.data(), vecBuffer.size(), 0);
    if (nRead > 0) {
        pipe.strPending.assign(vecBuffer.data(), static_cast<size_t>(nRead));
    } else if (nRead == 0) {
        shutdown(pipe.nTo, SHUT_WR);
        pipe.bEnded = true;
    } else if (!WouldBlock()) {
        relay.bReset = true;
    }
}

void WriteFrom(Relay &relay, Pipe &pipe) {
    const ssize_t nWritten =
        send(pipe.nTo, pipe.strPending.data(), pipe.strPending.size(), MSG_NOSIGNAL);
    if (nWritten > 0) {
        pipe.strPending.erase(0, static_cast<size_t>(nWritten));
    } else if (nWritten < 0 && !WouldBlock()) {
        relay.bReset = true;
    }
}

void Close(Relay &relay) {
    if (relay.bReset) {
        CloseWithReset(relay.nClient);
        CloseWithReset(relay.nServer);
    } else {
        close(relay.nClient);
        close(relay.nServer);
    }
}

} // namespace

// A socket bound to port 0 gives its port back when it stops listening (the kernel keeps only a
// port that bind named) and takes another one when it listens again. So a holder socket takes an
// ephemeral port first, the listener names that port in its own bind while the holder keeps it
// (SO_REUSEADDR on both lets two sockets that do not listen share a port), and the holder goes.
// From then on the listener alone holds the port: while it listens no other socket may bind it,
// and while it refuses it drops SO_REUSEADDR so that none may either. It takes the option back
// before listening again, as the connections it accepted (some open, some in TIME_WAIT on this
// port) share it with the option and would make that listen fail without it.
LoopbackForwarder::LoopbackForwarder(int nTargetPort) : m_nTargetPort(nTargetPort) {
    const int nHolder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_nListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_nWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t nSize = sizeof address;
    const bool bBound =
        nHolder >= 0 && m_nListener >= 0 && SetReuseAddress(nHolder, true) &&
        bind(nHolder, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(nHolder, reinterpret_cast<sockaddr *>(&address), &nSize) == 0 &&
        SetReuseAddress(m_nListener, true) &&
        bind(m_nListener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (nHolder >= 0) {
        close(nHolder);
    }
    if (!bBound || m_nWake < 0 || !SetNonBlocking(m_nListener) ||
        listen(m_nListener, kBacklog) != 0) {
        if (m_nListener >= 0) {
            close(m_nListener);
        }
        if (m_nWake >= 0) {
            close(m_nWake);
        }
        throw std::runtime_error("loopback forwarder: cannot listen on 127.0.0.1");
    }
    m_nPort = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

LoopbackForwarder::~LoopbackForwarder() {
    Stop();
}

std::string LoopbackForwarder::HostUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_nPort);
}

bool LoopbackForwarder::Refuse() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bStopping || m_bRefusing) {
        return !m_bStopping;
    }
    // A listening socket that is shut down stops listening and keeps the port bind named.
    if (shutdown(m_nListener, SHUT_RDWR) != 0 || !SetReuseAddress(m_nListener, false)) {
        return false;
    }
    m_bRefusing = true;
    ++m_nRefusals;
    Wake();
    return true;
}

bool LoopbackForwarder::Listen() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bStopping || !m_bRefusing) {
        return !m_bStopping;
    }
    if (!SetReuseAddress(m_nListener, true) || listen(m_nListener, kBacklog) != 0) {
        return false;
    }
    m_bRefusing = false;
    Wake();
    return true;
}

bool LoopbackForwarder::IsRefusing() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bRefusing;
}

size_t LoopbackForwarder::RefusalCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nRefusals;
}

size_t LoopbackForwarder::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nConnections;
}

void LoopbackForwarder::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bStopping) {
            return;
        }
        m_bStopping = true;
        Wake();
    }
    m_thread.join();
    close(m_nListener);
    close(m_nWake);
}

void LoopbackForwarder::Wake() const {
    const uint64_t nOne = 1;
    // The counter only fails to grow when it is already far from zero: the thread wakes anyway.
    (void)!write(m_nWake, &nOne, sizeof nOne);
}

void LoopbackForwarder::Run() {
    std::list<Relay> listRelays;
    std::vector<char> vecBuffer(kChunkBytes);
    std::vector<pollfd> vecPoll;
    std::vector<Watch> vecWatches;
    for (;;) {
        bool bListening = false;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_bStopping) {
                break;
            }
            bListening = !m_bRefusing;
        }
        // The wake-up and the listener come first, then one entry for each pipe: its source when
        // it holds nothing, else its destination.
        vecPoll.assign({{m_nWake, POLLIN, 0}, {m_nListener, POLLIN, 0}});
        if (!bListening) {
            vecPoll.pop_back();
        }
        const size_t nFirstPipe = vecPoll.size();
        vecWatches.clear();
        for (Relay &relay : listRelays) {
            for (Pipe &pipe : relay.pipes) {
                if (pipe.bEnded) {
                    continue;
                }
                if (pipe.strPending.empty()) {
                    vecPoll.push_back({pipe.nFrom, POLLIN, 0});
                } else {
                    vecPoll.push_back({pipe.nTo, POLLOUT, 0});
                }
                vecWatches.push_back({&relay, &pipe});
            }
        }
        if (poll(vecPoll.data(), vecPoll.size(), -1) < 0) {
            continue;
        }
        if (vecPoll[0].revents != 0) {
            uint64_t nCount = 0;
            (void)!read(m_nWake, &nCount, sizeof nCount);
        }
        // A listener that was shut down meanwhile reports a hang-up, and accept fails: the next
        // round leaves it out.
        if (bListening && vecPoll[1].revents != 0) {
            for (;;) {
                const int nClient = accept4(m_nListener, nullptr, nullptr, SOCK_CLOEXEC);
                if (nClient < 0) {
                    break;
                }
                {
                    std::lock_guard<std::mutex> lock(m_lock);
                    ++m_nConnections;
                }
                const int nServer = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in target = LoopbackAddress(m_nTargetPort);
                // A server that cannot be reached is passed on as a reset of the accepted
                // connection.
                if (nServer < 0 ||
                    connect(nServer, reinterpret_cast<const sockaddr *>(&target), sizeof target) !=
                        0 ||
                    !SetNonBlocking(nServer) || !SetNonBlocking(nClient)) {
                    if (nServer >= 0) {
                        close(nServer);
                    }
                    CloseWithReset(nClient);
                    continue;
                }
                SetNoDelay(nClient);
                SetNoDelay(nServer);
                Relay &relay = listRelays.emplace_back();
                relay.nClient = nClient;
                relay.nServer = nServer;
                relay.pipes[0].nFrom = nClient;
                relay.pipes[0].nTo = nServer;
                relay.pipes[1].nFrom = nServer;
                relay.pipes[1].nTo = nClient;
            }
        }
        for (size_t i = 0; i < vecWatches.size(); ++i) {
            const pollfd &entry = vecPoll[nFirstPipe + i];
            Relay &relay = *vecWatches[i].pRelay;
            Pipe &pipe = *vecWatches[i].pPipe;
            if (entry.revents == 0 || relay.bReset) {
                continue;
            }
            if (entry.events == POLLIN) {
                ReadInto(relay, pipe, vecBuffer);
            } else {
                WriteFrom(relay, pipe);
            }
        }
        for (auto it = listRelays.begin(); it != listRelays.end();) {
            if (it->Done()) {
                Close(*it);
                it = listRelays.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Relay &relay : listRelays) {
        relay.bReset = true;
        Close(relay);
    }
}

} // namespace idxtest

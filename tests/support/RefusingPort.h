// A loopback port on which nothing listens for as long as the instance lives: a socket is bound
// to it without listening, so connections are refused and no other test can take the port over
// (as it could a port that a stopped server gave back).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace idxtest {

class RefusingPort {
public:
    RefusingPort() : m_nSocket(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nSize = sizeof(address);
        if (m_nSocket >= 0 &&
            bind(m_nSocket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
            getsockname(m_nSocket, reinterpret_cast<sockaddr *>(&address), &nSize) == 0) {
            m_nPort = ntohs(address.sin_port);
        }
    }
    ~RefusingPort() {
        if (m_nSocket >= 0) {
            close(m_nSocket);
        }
    }
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;

    int Port() const { return m_nPort; }
    std::string Url(const std::string &strPath) const {
        return "http://127.0.0.1:" + std::to_string(m_nPort) + strPath;
    }

private:
    int m_nSocket;
    int m_nPort = 0;
};

} // namespace idxtest

// The far end of a serial port for a test that runs under Wine: a pseudo-terminal of the
// Linux host, held by tarvic-pty-bridge, which relays it over a loopback TCP connection.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "tests/serial/support.h"

namespace tarvic::test {

namespace {

struct Winsock {
    Winsock() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            throw std::runtime_error("WSAStartup");
        }
    }
    ~Winsock() { WSACleanup(); }
};

}  // namespace

Pty::Pty(int number) : m_number(number), m_socket(INVALID_SOCKET) {
    static Winsock winsock;
    const std::string variable = "TARVIC_FAR_END_" + std::to_string(number);
    const char* port = std::getenv(variable.c_str());
    if (port == nullptr) {
        throw std::runtime_error(variable + " is not set: run the test through tarvic-pty-bridge");
    }
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET ||
        connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("no connection to the far end of COM" + std::to_string(number));
    }
    const BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    m_socket = s;
}

Pty::~Pty() {
    CloseMaster();
}

void Pty::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const int n =
            send(static_cast<SOCKET>(m_socket), reinterpret_cast<const char*>(bytes.data()) + done,
                 static_cast<int>(bytes.size() - done), 0);
        if (n <= 0) {
            throw std::runtime_error("send to the far end");
        }
        done += static_cast<size_t>(n);
    }
}

Bytes Pty::Receive(size_t n, int timeoutMs) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n && m_socket != INVALID_SOCKET) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(static_cast<SOCKET>(m_socket), &readable);
        timeval tv{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
        if (select(0, &readable, nullptr, nullptr, &tv) <= 0) {
            continue;
        }
        char chunk[4096];
        const size_t want = std::min(sizeof chunk, n - out.size());
        const int got = recv(static_cast<SOCKET>(m_socket), chunk, static_cast<int>(want), 0);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
    return out;
}

void Pty::CloseMaster() {
    if (m_socket != INVALID_SOCKET) {
        closesocket(static_cast<SOCKET>(m_socket));
        m_socket = INVALID_SOCKET;
    }
}

}  // namespace tarvic::test

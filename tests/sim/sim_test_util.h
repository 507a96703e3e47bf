#pragma once
// What the simulator tests share: a private port directory, the tool's side of a published
// port, and a tiny web server on loopback.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarvic::simtest {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline std::string Hex(std::string_view bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            std::snprintf(buf, sizeof buf, "%02X", c);
            out += "\\x";
            out += buf;
        }
    }
    return out;
}

// The shared helper; the simulator tests name it as their own.
using TempDir = tarvic::test::TempDir;

// The tool's end of a simulated port.
class TestPort {
  public:
    explicit TestPort(const std::string& path, bool raw = true) {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            throw std::runtime_error("cannot open " + path);
        }
        if (raw) {
            termios tio{};
            tcgetattr(m_fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~TestPort() { ::close(m_fd); }
    TestPort(const TestPort&) = delete;
    TestPort& operator=(const TestPort&) = delete;
    int Fd() const { return m_fd; }

    void Write(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
            } else {
                pollfd p{m_fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    struct Chunk {
        milliseconds at;  // since the call that read it
        std::string bytes;
    };

    // Everything that arrives until `quiet` passes without a byte, or `limit` is over.
    std::vector<Chunk> ReadChunks(milliseconds quiet, milliseconds limit) {
        std::vector<Chunk> chunks;
        auto start = Clock::now();
        auto last = start;
        for (;;) {
            auto now = Clock::now();
            auto until = std::min(last + quiet, start + limit);
            if (now >= until) {
                return chunks;
            }
            pollfd p{m_fd, POLLIN, 0};
            int wait =
                static_cast<int>(std::chrono::duration_cast<milliseconds>(until - now).count() + 1);
            if (::poll(&p, 1, wait) <= 0) {
                continue;
            }
            char buf[4096];
            ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                last = Clock::now();
                chunks.push_back({std::chrono::duration_cast<milliseconds>(last - start),
                                  std::string(buf, static_cast<std::size_t>(n))});
            }
        }
    }

    std::string ReadQuiet(milliseconds quiet, milliseconds limit = milliseconds(5000)) {
        std::string all;
        for (const Chunk& c : ReadChunks(quiet, limit)) {
            all += c.bytes;
        }
        return all;
    }

    // Reads until at least `count` bytes have arrived, or `limit` is over.
    std::string ReadCount(std::size_t count, milliseconds limit = milliseconds(3000)) {
        std::string all;
        auto end = Clock::now() + limit;
        while (all.size() < count && Clock::now() < end) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            char buf[4096];
            ssize_t n = ::read(m_fd, buf, std::min(sizeof buf, count - all.size()));
            if (n > 0) {
                all.append(buf, static_cast<std::size_t>(n));
            }
        }
        return all;
    }

    // Reads until `text` has arrived (returns all read), or `limit` is over.
    std::string ReadUntil(std::string_view text, milliseconds limit = milliseconds(3000)) {
        std::string all;
        auto end = Clock::now() + limit;
        while (all.find(text) == std::string::npos && Clock::now() < end) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            char buf[4096];
            ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                all.append(buf, static_cast<std::size_t>(n));
            }
        }
        return all;
    }

  private:
    int m_fd = -1;
};

// A port on loopback that nobody listens on: connecting is refused.
inline int UnusedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

// Reads from a connected socket until `text` arrived or the peer closed; 5 s at most.
inline std::string RecvUntil(int fd, std::string_view text) {
    std::string all;
    auto end = Clock::now() + milliseconds(5000);
    while (all.find(text) == std::string::npos && Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            break;
        }
        all.append(buf, static_cast<std::size_t>(n));
    }
    return all;
}

inline void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Serves each connection on 127.0.0.1 with `handler` (which gets the socket and closes
// nothing); the server closes the connection when the handler returns.
class TcpServer {
  public:
    using Handler = std::function<void(int fd)>;
    explicit TcpServer(Handler handler) : m_handler(std::move(handler)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 4) != 0) {
            throw std::runtime_error("cannot listen on loopback");
        }
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_stop = ::eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] { Run(); });
    }
    ~TcpServer() {
        eventfd_write(m_stop, 1);
        m_thread.join();
        ::close(m_listen);
        ::close(m_stop);
    }
    int Port() const { return m_port; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    int Connections() const {
        std::lock_guard<std::mutex> lock(m_mu);
        return m_connections;
    }

  private:
    void Run() {
        for (;;) {
            pollfd p[2] = {{m_listen, POLLIN, 0}, {m_stop, POLLIN, 0}};
            ::poll(p, 2, -1);
            if (p[1].revents) {
                return;
            }
            int c = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) {
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(m_mu);
                ++m_connections;
            }
            m_handler(c);
            ::close(c);
        }
    }

    Handler m_handler;
    int m_listen = -1;
    int m_stop = -1;
    int m_port = 0;
    mutable std::mutex m_mu;
    int m_connections = 0;
    std::thread m_thread;
};

}  // namespace tarvic::simtest

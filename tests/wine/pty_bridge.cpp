// Runs a Windows test under Wine with pseudo-terminals of this machine as its serial ports,
// and gives the test the far end of each over a loopback TCP connection:
//
//   tarvic-pty-bridge PORTS N[,N...] -- PROGRAM [ARGS...]
//
// PORTS is the folder that the Wine prefix maps COMn to (PORTS/comN); it becomes a link
// to this run's private port directory, where com<N> leads to a fresh pseudo-terminal.
// The program finds the far end of COM<N> at the TCP port in TARVIC_FAR_END_<N>; what it
// sends there reaches the port, and what the port writes comes back. When it closes the
// connection the far end hangs up, and COM<N> leads to a new terminal from then on.
// The bridge ends with the program's exit status.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "tests/serial/support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tarvic::test::Bytes;
using tarvic::test::Pty;

struct Port {
    int number;
    std::unique_ptr<Pty> pty;
    int listener = -1;
    int client = -1;
};

int Listen(int* tcpPort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, 4) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::system_error(errno, std::generic_category(), "listen");
    }
    *tcpPort = ntohs(addr.sin_port);
    return fd;
}

bool SendAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t sent = send(fd, data, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

void Drop(Port& p) {
    close(p.client);
    p.client = -1;
    p.pty.reset();  // the master closes: a hang-up
    p.pty = std::make_unique<Pty>(p.number);
}

// One pass over every connection.
void Relay(std::vector<Port>& ports, int timeoutMs) {
    std::vector<pollfd> fds;
    for (const Port& p : ports) {
        fds.push_back({p.listener, POLLIN, 0});
        fds.push_back({p.client, POLLIN, 0});  // a negative descriptor is skipped
        fds.push_back({p.client >= 0 ? p.pty->Master() : -1, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) {
        return;
    }
    char buf[4096];
    for (size_t i = 0; i < ports.size(); ++i) {
        Port& p = ports[i];
        if (fds[3 * i].revents & POLLIN) {
            const int fd = accept4(p.listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                if (p.client >= 0) {
                    Drop(p);
                }
                const int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                p.client = fd;
            }
            continue;
        }
        if (fds[3 * i + 1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = recv(p.client, buf, sizeof buf, 0);
            if (n <= 0) {
                Drop(p);
                continue;
            }
            p.pty->Send(Bytes(buf, buf + n));
        }
        if (p.client >= 0 && (fds[3 * i + 2].revents & POLLIN)) {
            const ssize_t n = read(p.pty->Master(), buf, sizeof buf);
            if (n > 0 && !SendAll(p.client, buf, static_cast<size_t>(n))) {
                Drop(p);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
        std::fprintf(stderr, "usage: %s PORTS N[,N...] -- PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    std::vector<Port> ports;
    for (const char* s = argv[2]; *s != '\0';) {
        char* end = nullptr;
        const long n = std::strtol(s, &end, 10);
        if (end == s || n <= 0) {
            std::fprintf(stderr, "bad port list: %s\n", argv[2]);
            return 2;
        }
        ports.push_back({static_cast<int>(n), nullptr});
        s = *end == ',' ? end + 1 : end;
    }
    // Wine's COMn leads through PORTS to this run's port directory.
    const fs::path link = argv[1];
    std::error_code ignored;
    fs::remove_all(link, ignored);
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(tarvic::test::PortDirectory(), link);
    for (Port& p : ports) {
        p.pty = std::make_unique<Pty>(p.number);
        int tcpPort = 0;
        p.listener = Listen(&tcpPort);
        setenv(("TARVIC_FAR_END_" + std::to_string(p.number)).c_str(),
               std::to_string(tcpPort).c_str(), 1);
    }

    pid_t child;
    if (posix_spawnp(&child, argv[4], nullptr, nullptr, argv + 4, environ) != 0) {
        std::perror(argv[4]);
        return 2;
    }
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        Relay(ports, 20);
    }
    fs::remove(link, ignored);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

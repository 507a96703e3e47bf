#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "sim/internal.h"
#include "sim/pseudo_terminal.h"

namespace tarvic::sim::detail {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

}  // namespace tarvic::sim::detail

namespace tarvic::sim {

PseudoTerminal OpenPseudoTerminal(bool nonBlocking) {
    const int flags = nonBlocking ? O_NONBLOCK : 0;
    detail::Fd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.Valid()) {
        detail::ThrowErrno("posix_openpt");
    }
    if (grantpt(master.Get()) != 0) {
        detail::ThrowErrno("grantpt");
    }
    if (unlockpt(master.Get()) != 0) {
        detail::ThrowErrno("unlockpt");
    }
    char name[128];
    if (ptsname_r(master.Get(), name, sizeof name) != 0) {
        detail::ThrowErrno("ptsname_r");
    }
    detail::Fd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | flags));
    if (!slave.Valid()) {
        detail::ThrowErrno("open pseudo-terminal slave");
    }
    termios tio{};
    if (tcgetattr(slave.Get(), &tio) != 0) {
        detail::ThrowErrno("tcgetattr");
    }
    cfmakeraw(&tio);
    if (tcsetattr(slave.Get(), TCSANOW, &tio) != 0) {
        detail::ThrowErrno("tcsetattr");
    }
    if (nonBlocking) {
        const int now = fcntl(master.Get(), F_GETFL);
        if (now < 0 || fcntl(master.Get(), F_SETFL, now | O_NONBLOCK) != 0) {
            detail::ThrowErrno("fcntl");
        }
    }
    PseudoTerminal pt;
    pt.slavePath = name;
    pt.master = master.Release();
    pt.slave = slave.Release();
    return pt;
}

}  // namespace tarvic::sim

namespace tarvic::sim::detail {

std::string Escape(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

Pty::Pty() {
    PseudoTerminal pt = OpenPseudoTerminal(true);
    m_master.Reset(pt.master);
    m_keep.Reset(pt.slave);
    m_slavePath = pt.slavePath;
}

void Pty::Queue(std::string bytes, TimePoint due) {
    if (bytes.empty()) {
        return;
    }
    if (due < m_lastDue) {
        due = m_lastDue;
    }
    m_lastDue = due;
    m_queue.push_back({due, std::move(bytes)});
}

std::optional<TimePoint> Pty::NextDue() const {
    if (m_queue.empty()) {
        return std::nullopt;
    }
    return m_queue.front().due;
}

std::size_t Pty::Backlog() const {
    std::size_t n = m_out.size();
    for (const Item& item : m_queue) {
        n += item.bytes.size();
    }
    return n;
}

std::string Pty::Flush(TimePoint now) {
    while (!m_queue.empty() && m_queue.front().due <= now) {
        m_out += m_queue.front().bytes;
        m_queue.pop_front();
    }
    if (m_out.empty() || !m_master.Valid()) {
        return {};
    }
    ssize_t n = ::write(m_master.Get(), m_out.data(), m_out.size());
    if (n <= 0) {
        // EAGAIN: the tool is not reading; POLLOUT brings us back.
        return {};
    }
    std::string written = m_out.substr(0, static_cast<std::size_t>(n));
    m_out.erase(0, static_cast<std::size_t>(n));
    return written;
}

bool Pty::Free() const {
    if (!m_keep.Valid() || flock(m_keep.Get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    flock(m_keep.Get(), LOCK_UN);
    return true;
}

bool Pty::ClearExclusive() {
    int exclusive = 0;
    if (!m_keep.Valid() || ioctl(m_keep.Get(), TIOCGEXCL, &exclusive) != 0 || exclusive == 0) {
        return false;
    }
    return ioctl(m_keep.Get(), TIOCNXCL) == 0;
}

void Pty::DiscardPending() {
    m_queue.clear();
    m_out.clear();
    m_lastDue = {};
    if (m_keep.Valid()) {
        tcflush(m_keep.Get(), TCIFLUSH);  // written to the slave side, not read by anyone
    }
}

void Pty::Close() {
    m_queue.clear();
    m_out.clear();
    m_keep.Reset();
    m_master.Reset();
}

std::string AddrText(const SockAddr& addr) {
    char host[NI_MAXHOST];
    char port[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr.storage), addr.length, host,
                    sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    if (addr.storage.ss_family == AF_INET6) {
        return std::string("[") + host + "]:" + port;
    }
    return std::string(host) + ":" + port;
}

bool ParseWebAddress(const std::string& text, SockAddr* out, std::string* reason) {
    auto fail = [&](const char* why) {
        if (reason) {
            *reason = why;
        }
        return false;
    };
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return fail("expected IP:PORT, for example 127.0.0.1:8080");
    }
    std::string host = text.substr(0, colon);
    std::string port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    for (char c : port) {
        if (c < '0' || c > '9') {
            return fail("the port must be a number");
        }
    }
    if (port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
        return fail("the port must be between 1 and 65535");
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0 || res == nullptr) {
        return fail("the address must be a numeric IPv4 or IPv6 address");
    }
    if (out) {
        std::memcpy(&out->storage, res->ai_addr, res->ai_addrlen);
        out->length = res->ai_addrlen;
    }
    freeaddrinfo(res);
    return true;
}

}  // namespace tarvic::sim::detail

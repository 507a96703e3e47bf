#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "sim/internal.h"

namespace tarvic::sim::detail {

namespace {

// Beyond this the modem stops taking from one side until the other side has caught up.
constexpr std::size_t kBacklogLimit = 64 * 1024;
// A real modem's command buffer is small; a longer line is answered ERROR.
constexpr std::size_t kMaxLine = 1024;
// The built-in web answer waits at most this much for the end of the request.
constexpr std::size_t kMaxRequest = 16 * 1024;

const char kOk[] = "\r\nOK\r\n";
const char kError[] = "\r\nERROR\r\n";
const char kConnect[] = "\r\nCONNECT\r\n";
const char kNoCarrier[] = "\r\nNO CARRIER\r\n";

std::string Upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return {};
    }
    std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// What an origin server that follows HTTP/1.0 to the letter takes: the root page asked for
// in the origin form, with a Host line naming the host that was dialled. The form meant
// for proxies ("GET http://host/ ...") it answers with an error.
bool IsOriginRequest(const std::string& request, const std::string& host) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < request.size()) {
        std::size_t end = request.find('\n', at);
        if (end == std::string::npos) {
            end = request.size();
        }
        std::string line = request.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        at = end + 1;
    }
    if (lines.empty() || (lines[0] != "GET / HTTP/1.0" && lines[0] != "GET / HTTP/1.1")) {
        return false;
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(':');
        if (colon != std::string::npos && Upper(lines[i].substr(0, colon)) == "HOST") {
            return Upper(Trim(lines[i].substr(colon + 1))) == Upper(host);
        }
    }
    return false;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Splits "1,0,80,\"host\"" at commas outside quotes.
std::vector<std::string> SplitArgs(const std::string& s) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (char c : s) {
        if (c == '"') {
            quoted = !quoted;
            out.back() += c;
        } else if (c == ',' && !quoted) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

bool ParseInt(const std::string& s, int lo, int hi, int* out) {
    std::string t = Trim(s);
    if (t.empty() || t.size() > 6) {
        return false;
    }
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

bool HostCharsOk(const std::string& host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    for (unsigned char c : host) {
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_' && c != ':') {
            return false;
        }
    }
    return true;
}

}  // namespace

struct Modem::Resolver {
    std::thread thread;
    std::mutex mu;
    bool done = false;  // under mu
    std::vector<SockAddr> addrs;
    std::string error;
};

Modem::Modem(int com, std::string link, Logger& log, ModemOptions options, int wakeFd)
    : Device(com, std::move(link), log), m_wakeFd(wakeFd) {
    m_contextActive = options.contextActive;
    SetOptions(std::move(options));
}

Modem::~Modem() {
    Shutdown();
}

void Modem::SetOptions(ModemOptions options) {
    m_opt = std::move(options);
    m_errorsGiven.assign(m_opt.errors.size(), 0);
    m_dialsRefused = 0;
}

bool Modem::AcceptsInput() const {
    return m_toNet.size() < kBacklogLimit;
}

void Modem::OnInput(std::string_view bytes, TimePoint now) {
    for (char c : bytes) {
        // The LF that follows the CR of a command line belongs to that line, whatever mode
        // the command put the modem in.
        if (m_skipLf) {
            m_skipLf = false;
            if (c == '\n') {
                continue;
            }
        }
        if (m_mode == Mode::Data) {
            DataByte(c, now);
        } else if (m_mode == Mode::Dialing) {
            // A real modem is deaf while it dials.
        } else if (!m_opt.silent) {
            CommandByte(c, now);
        }
    }
    FlushEcho(now);
    WriteToNet();
}

void Modem::CommandByte(char c, TimePoint now) {
    if (m_echo) {
        m_echoBuf += c;
    }
    if (c == '\r') {
        std::string line = std::move(m_line);
        bool overflow = m_lineOverflow;
        m_line.clear();
        m_lineOverflow = false;
        m_skipLf = true;
        if (overflow) {
            m_commands.push_back(line);
            Reply(kError, now);
        } else {
            HandleLine(std::move(line), now);
        }
    } else if (c == '\n') {
        // A line ends at CR only.
    } else if (c == '\b' || c == 0x7F) {
        if (!m_line.empty()) {
            m_line.pop_back();
        }
    } else if (m_line.size() < kMaxLine) {
        m_line += c;
    } else {
        m_lineOverflow = true;
    }
}

void Modem::HandleLine(std::string raw, TimePoint now) {
    std::string line = Trim(raw);
    if (line.empty()) {
        return;  // an empty line gets no answer
    }
    m_commands.push_back(line);
    std::string upper = Upper(line);
    if (!StartsWith(upper, "AT")) {
        Reply(kError, now);
        return;
    }
    for (std::size_t i = 0; i < m_opt.errors.size(); ++i) {
        const ErrorRule& rule = m_opt.errors[i];
        if (m_errorsGiven[i] < rule.times && StartsWith(upper, Upper(Trim(rule.command)))) {
            ++m_errorsGiven[i];
            Log("scenario: ERROR " + std::to_string(m_errorsGiven[i]) + " of " +
                std::to_string(rule.times) + " to " + line);
            Reply(kError, now);
            return;
        }
    }
    std::string cmd = upper.substr(2);
    if (cmd.empty()) {
        Reply(kOk, now);
    } else if (cmd == "Z" || cmd == "Z0") {
        m_echo = true;  // the stored profile has echo on
        Reply(kOk, now);
    } else if (cmd == "E" || cmd == "E0") {
        m_echo = false;
        Reply(kOk, now);
    } else if (cmd == "E1") {
        m_echo = true;
        Reply(kOk, now);
    } else if (StartsWith(cmd, "+CGDCONT=")) {
        Reply(kOk, now);
    } else if (cmd == "#SGACT?") {
        std::string answer = std::string("\r\n#SGACT: 1,") + (m_contextActive ? "1" : "0") + "\r\n";
        for (std::size_t i = 0; i < m_opt.otherContexts.size(); ++i) {
            answer += "#SGACT: " + std::to_string(i + 2) + "," +
                      (m_opt.otherContexts[i] ? "1" : "0") + "\r\n";
        }
        Reply(answer + kOk, now);
    } else if (cmd == "#SGACT=1,1") {
        if (m_opt.contextComesUp && !m_contextActive) {
            Log("scenario: context 1 comes up by itself");
            m_contextActive = true;
            Reply("\r\n#SGACT: 1,1\r\n", now);
        }
        if (m_contextActive && !m_opt.reactivateOk) {
            Reply(kError, now);
        } else {
            m_contextActive = true;
            Reply("\r\n#SGACT: " + m_opt.ipAddress + "\r\n" + kOk, now, m_opt.activationDelay);
        }
    } else if (cmd == "#SGACT=1,0") {
        m_contextActive = false;
        Reply(kOk, now);
    } else if (StartsWith(cmd, "#SD=")) {
        HandleDial(line.substr(6), now);  // original case: host names keep theirs
    } else {
        Reply(kError, now);
    }
}

void Modem::HandleDial(const std::string& args, TimePoint now) {
    std::vector<std::string> f = SplitArgs(args);
    int connId = 0;
    int proto = -1;
    int port = 0;
    if (f.size() < 4 || !ParseInt(f[0], 1, 6, &connId) || !ParseInt(f[1], 0, 1, &proto) ||
        !ParseInt(f[2], 1, 65535, &port)) {
        Reply(kError, now);
        return;
    }
    std::string host = Trim(f[3]);
    if (host.size() >= 2 && host.front() == '"' && host.back() == '"') {
        host = host.substr(1, host.size() - 2);
    }
    if (proto != 0 || !HostCharsOk(host)) {
        Reply(kError, now);
        return;
    }
    if (!m_contextActive) {
        Log("dial refused: context 1 is not active");
        Reply(kError, now);
        return;
    }
    if (m_resolving || (m_resolver && m_resolver->thread.joinable())) {
        Reply(kError, now);  // still busy with a name lookup of an earlier dial
        return;
    }
    m_dials.push_back({host, port});
    if (m_dialsRefused < m_opt.refusedDials) {
        ++m_dialsRefused;
        Log("scenario: dial " + std::to_string(m_dialsRefused) + " of " +
            std::to_string(m_opt.refusedDials) + " to " + host + " fails");
        Reply(kNoCarrier, now);
        return;
    }
    if (m_opt.dialNeverConnects) {
        Log("scenario: dial to " + host + " never connects");
        return;
    }
    FlushEcho(now);
    m_connectDeadline = now + m_opt.connectTimeout;
    switch (m_opt.web) {
        case Web::Builtin:
            Log("dial " + host + ":" + std::to_string(port) + " -> built-in web answer");
            m_builtin = true;
            m_request.clear();
            m_mode = Mode::Data;
            Reply(kConnect, now);
            return;
        case Web::Address: {
            SockAddr addr;
            std::string why;
            if (!ParseWebAddress(m_opt.webAddress, &addr, &why)) {
                Log("bad web address " + m_opt.webAddress + ": " + why);
                Reply(kNoCarrier, now);
                return;
            }
            Log("dial " + host + ":" + std::to_string(port) + " -> " + AddrText(addr));
            StartConnect({addr}, now);
            return;
        }
        case Web::Direct: {
            Log("dial " + host + ":" + std::to_string(port) + " (looking it up)");
            m_mode = Mode::Dialing;
            m_resolving = true;
            m_resolver = std::make_unique<Resolver>();
            Resolver* r = m_resolver.get();
            int wake = m_wakeFd;
            std::string service = std::to_string(port);
            r->thread = std::thread([r, wake, host, service] {
                addrinfo hints{};
                hints.ai_family = AF_UNSPEC;
                hints.ai_socktype = SOCK_STREAM;
                addrinfo* res = nullptr;
                int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
                std::vector<SockAddr> addrs;
                for (addrinfo* a = res; rc == 0 && a != nullptr; a = a->ai_next) {
                    SockAddr s;
                    std::memcpy(&s.storage, a->ai_addr, a->ai_addrlen);
                    s.length = a->ai_addrlen;
                    addrs.push_back(s);
                }
                if (res) {
                    freeaddrinfo(res);
                }
                {
                    std::lock_guard<std::mutex> lock(r->mu);
                    r->addrs = std::move(addrs);
                    r->error = rc == 0 ? "" : gai_strerror(rc);
                    r->done = true;
                }
                eventfd_write(wake, 1);
            });
            return;
        }
    }
}

void Modem::StartConnect(std::vector<SockAddr> addrs, TimePoint now) {
    m_addrs = std::move(addrs);
    m_nextAddr = 0;
    m_mode = Mode::Dialing;
    TryNextAddress(now);
}

void Modem::TryNextAddress(TimePoint now) {
    m_sock.Reset();
    while (m_nextAddr < m_addrs.size()) {
        const SockAddr& a = m_addrs[m_nextAddr++];
        Fd s(::socket(a.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!s.Valid()) {
            continue;
        }
        int rc = ::connect(s.Get(), reinterpret_cast<const sockaddr*>(&a.storage), a.length);
        if (rc == 0) {
            m_sock = std::move(s);
            Connected(now);
            return;
        }
        if (errno == EINPROGRESS) {
            m_sock = std::move(s);
            return;  // POLLOUT tells
        }
        Log("connect to " + AddrText(a) + ": " + std::strerror(errno));
    }
    m_mode = Mode::Command;
    Reply(kNoCarrier, now);
}

void Modem::Connected(TimePoint now) {
    Log("connected");
    m_mode = Mode::Data;
    m_builtin = false;
    Reply(kConnect, now);
}

void Modem::Hangup(const std::string& why, TimePoint now) {
    Log("hang-up: " + why);
    m_sock.Reset();
    m_toNet.clear();
    m_request.clear();
    m_builtin = false;
    m_mode = Mode::Command;
    Reply(kNoCarrier, now, m_opt.hangupPause);
}

void Modem::DataByte(char c, TimePoint now) {
    if (!m_builtin) {
        m_toNet += c;
        return;
    }
    m_request += c;
    bool complete =
        m_request.size() >= kMaxRequest ||
        (m_request.size() >= 4 && m_request.compare(m_request.size() - 4, 4, "\r\n\r\n") == 0) ||
        (m_request.size() >= 2 && m_request.compare(m_request.size() - 2, 2, "\n\n") == 0);
    if (!complete) {
        return;
    }
    const bool origin = !m_dials.empty() && IsOriginRequest(m_request, m_dials.back().host);
    if (!origin) {
        Log("built-in web answer: not a request for / with the dialled host in its Host line");
    }
    const std::string& status = origin ? m_opt.builtinStatus : "HTTP/1.0 400 Bad Request";
    const std::string& body = origin ? m_opt.builtinBody : "Bad request\r\n";
    std::string answer =
        status + "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    Port().Queue(std::move(answer), now);
    Hangup("built-in web answer sent", now);
}

void Modem::Reply(const std::string& text, TimePoint now, std::chrono::milliseconds delay) {
    FlushEcho(now);
    std::string full(m_opt.nulBefore, '\0');
    for (std::size_t i = 0; i < m_opt.noiseBefore; ++i) {
        unsigned char b;
        do {
            m_noise ^= m_noise << 13;
            m_noise ^= m_noise >> 17;
            m_noise ^= m_noise << 5;
            b = static_cast<unsigned char>(m_noise >> 24);
        } while (b == 0 || b == '\r' || b == '\n');
        full += static_cast<char>(b);
    }
    full += text;
    TimePoint due = now + delay;
    if (m_opt.tricklePiece == 0 || full.size() <= m_opt.tricklePiece) {
        Port().Queue(std::move(full), due);
        return;
    }
    for (std::size_t at = 0; at < full.size(); at += m_opt.tricklePiece) {
        Port().Queue(full.substr(at, m_opt.tricklePiece), due);
        due += m_opt.tricklePause;
    }
}

void Modem::FlushEcho(TimePoint now) {
    if (!m_echoBuf.empty()) {
        Port().Queue(std::exchange(m_echoBuf, {}), now);
    }
}

void Modem::WriteToNet() {
    if (!m_sock.Valid() || m_mode != Mode::Data || m_toNet.empty()) {
        return;
    }
    ssize_t n = ::send(m_sock.Get(), m_toNet.data(), m_toNet.size(), MSG_NOSIGNAL);
    if (n > 0) {
        m_toNet.erase(0, static_cast<std::size_t>(n));
    }
}

void Modem::AddPollFds(std::vector<pollfd>& fds) {
    pollfd p{-1, 0, 0};
    if (m_sock.Valid()) {
        if (m_mode == Mode::Dialing) {
            p.events = POLLOUT;
        } else {
            if (Port().Backlog() < kBacklogLimit) {
                p.events |= POLLIN;
            }
            if (!m_toNet.empty()) {
                p.events |= POLLOUT;
            }
        }
        // With nothing wanted, a hang-up would still wake poll at once, again and again.
        if (p.events != 0) {
            p.fd = m_sock.Get();
        }
    }
    fds.push_back(p);
}

void Modem::OnPollFds(const pollfd* first, TimePoint now) {
    const pollfd& p = first[0];
    if (p.fd < 0 || p.revents == 0 || !m_sock.Valid()) {
        return;
    }
    if (m_mode == Mode::Dialing) {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(m_sock.Get(), SOL_SOCKET, SO_ERROR, &err, &len);
        if (err == 0 && (p.revents & POLLOUT)) {
            Connected(now);
        } else {
            Log(std::string("connect to ") + AddrText(m_addrs[m_nextAddr - 1]) + ": " +
                std::strerror(err != 0 ? err : ECONNREFUSED));
            TryNextAddress(now);
        }
        return;
    }
    if (p.revents & POLLOUT) {
        WriteToNet();
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        ssize_t n = ::recv(m_sock.Get(), buf, sizeof buf, 0);
        if (n > 0) {
            Port().Queue(std::string(buf, static_cast<std::size_t>(n)), now);
        } else if (n == 0) {
            Hangup("the far end closed the connection", now);
        } else if (errno != EAGAIN && errno != EINTR) {
            Hangup(std::string("connection lost: ") + std::strerror(errno), now);
        }
    }
}

std::optional<TimePoint> Modem::Deadline() const {
    if (m_mode == Mode::Dialing) {
        return m_connectDeadline;
    }
    return std::nullopt;
}

void Modem::JoinResolverIfDone(TimePoint now) {
    if (!m_resolver) {
        return;
    }
    std::vector<SockAddr> addrs;
    std::string error;
    {
        std::lock_guard<std::mutex> lock(m_resolver->mu);
        if (!m_resolver->done) {
            return;
        }
        addrs = std::move(m_resolver->addrs);
        error = m_resolver->error;
    }
    m_resolver->thread.join();
    m_resolver.reset();
    if (!m_resolving) {
        return;  // that dial has already timed out
    }
    m_resolving = false;
    if (addrs.empty()) {
        Log("look-up failed: " + error);
        m_mode = Mode::Command;
        Reply(kNoCarrier, now);
        return;
    }
    StartConnect(std::move(addrs), now);
}

void Modem::OnTime(TimePoint now) {
    JoinResolverIfDone(now);
    if (m_mode == Mode::Dialing && now >= m_connectDeadline) {
        Log("dial timed out");
        m_resolving = false;
        m_sock.Reset();
        m_mode = Mode::Command;
        Reply(kNoCarrier, now);
    }
}

void Modem::OnPortClosed(TimePoint now) {
    // Closing the port drops DTR, and the modem hangs up, as with AT&D2. A name look-up
    // under way is left to finish; its answer is then ignored.
    if (m_mode != Mode::Command) {
        Log("DTR dropped: hang-up");
    }
    m_resolving = false;
    m_sock.Reset();
    m_toNet.clear();
    m_request.clear();
    m_builtin = false;
    m_mode = Mode::Command;
    m_line.clear();
    m_lineOverflow = false;
    m_skipLf = false;
    m_echoBuf.clear();
    Device::OnPortClosed(now);
}

void Modem::Shutdown() {
    if (m_resolver && m_resolver->thread.joinable()) {
        m_resolver->thread.join();
    }
    m_resolver.reset();
    m_resolving = false;
    m_sock.Reset();
}

}  // namespace tarvic::sim::detail

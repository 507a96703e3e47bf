#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "sim/internal.h"

namespace sim::detail {

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
    : Device(com, std::move(link), log), wakeFd_(wakeFd) {
    contextActive_ = options.contextActive;
    SetOptions(std::move(options));
}

Modem::~Modem() {
    Shutdown();
}

void Modem::SetOptions(ModemOptions options) {
    opt_ = std::move(options);
    errorsGiven_.assign(opt_.errors.size(), 0);
    dialsRefused_ = 0;
}

bool Modem::AcceptsInput() const {
    return toNet_.size() < kBacklogLimit;
}

void Modem::OnInput(std::string_view bytes, TimePoint now) {
    for (char c : bytes) {
        // The LF that follows the CR of a command line belongs to that line, whatever mode
        // the command put the modem in.
        if (skipLf_) {
            skipLf_ = false;
            if (c == '\n') {
                continue;
            }
        }
        if (mode_ == Mode::Data) {
            DataByte(c, now);
        } else if (mode_ == Mode::Dialing) {
            // A real modem is deaf while it dials.
        } else if (!opt_.silent) {
            CommandByte(c, now);
        }
    }
    FlushEcho(now);
    WriteToNet();
}

void Modem::CommandByte(char c, TimePoint now) {
    if (echo_) {
        echoBuf_ += c;
    }
    if (c == '\r') {
        std::string line = std::move(line_);
        bool overflow = lineOverflow_;
        line_.clear();
        lineOverflow_ = false;
        skipLf_ = true;
        if (overflow) {
            commands_.push_back(line);
            Reply(kError, now);
        } else {
            HandleLine(std::move(line), now);
        }
    } else if (c == '\n') {
        // A line ends at CR only.
    } else if (c == '\b' || c == 0x7F) {
        if (!line_.empty()) {
            line_.pop_back();
        }
    } else if (line_.size() < kMaxLine) {
        line_ += c;
    } else {
        lineOverflow_ = true;
    }
}

void Modem::HandleLine(std::string raw, TimePoint now) {
    std::string line = Trim(raw);
    if (line.empty()) {
        return;  // an empty line gets no answer
    }
    commands_.push_back(line);
    std::string upper = Upper(line);
    if (!StartsWith(upper, "AT")) {
        Reply(kError, now);
        return;
    }
    for (std::size_t i = 0; i < opt_.errors.size(); ++i) {
        const ErrorRule& rule = opt_.errors[i];
        if (errorsGiven_[i] < rule.times && StartsWith(upper, Upper(Trim(rule.command)))) {
            ++errorsGiven_[i];
            Log("scenario: ERROR " + std::to_string(errorsGiven_[i]) + " of " +
                std::to_string(rule.times) + " to " + line);
            Reply(kError, now);
            return;
        }
    }
    std::string cmd = upper.substr(2);
    if (cmd.empty()) {
        Reply(kOk, now);
    } else if (cmd == "Z" || cmd == "Z0") {
        echo_ = true;  // the stored profile has echo on
        Reply(kOk, now);
    } else if (cmd == "E" || cmd == "E0") {
        echo_ = false;
        Reply(kOk, now);
    } else if (cmd == "E1") {
        echo_ = true;
        Reply(kOk, now);
    } else if (StartsWith(cmd, "+CGDCONT=")) {
        Reply(kOk, now);
    } else if (cmd == "#SGACT?") {
        std::string answer = std::string("\r\n#SGACT: 1,") + (contextActive_ ? "1" : "0") + "\r\n";
        for (std::size_t i = 0; i < opt_.otherContexts.size(); ++i) {
            answer += "#SGACT: " + std::to_string(i + 2) + "," +
                      (opt_.otherContexts[i] ? "1" : "0") + "\r\n";
        }
        Reply(answer + kOk, now);
    } else if (cmd == "#SGACT=1,1") {
        if (opt_.contextComesUp && !contextActive_) {
            Log("scenario: context 1 comes up by itself");
            contextActive_ = true;
            Reply("\r\n#SGACT: 1,1\r\n", now);
        }
        if (contextActive_ && !opt_.reactivateOk) {
            Reply(kError, now);
        } else {
            contextActive_ = true;
            Reply("\r\n#SGACT: " + opt_.ipAddress + "\r\n" + kOk, now, opt_.activationDelay);
        }
    } else if (cmd == "#SGACT=1,0") {
        contextActive_ = false;
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
    if (!contextActive_) {
        Log("dial refused: context 1 is not active");
        Reply(kError, now);
        return;
    }
    if (resolving_ || (resolver_ && resolver_->thread.joinable())) {
        Reply(kError, now);  // still busy with a name lookup of an earlier dial
        return;
    }
    dials_.push_back({host, port});
    if (dialsRefused_ < opt_.refusedDials) {
        ++dialsRefused_;
        Log("scenario: dial " + std::to_string(dialsRefused_) + " of " +
            std::to_string(opt_.refusedDials) + " to " + host + " fails");
        Reply(kNoCarrier, now);
        return;
    }
    if (opt_.dialNeverConnects) {
        Log("scenario: dial to " + host + " never connects");
        return;
    }
    FlushEcho(now);
    connectDeadline_ = now + opt_.connectTimeout;
    switch (opt_.web) {
        case Web::Builtin:
            Log("dial " + host + ":" + std::to_string(port) + " -> built-in web answer");
            builtin_ = true;
            request_.clear();
            mode_ = Mode::Data;
            Reply(kConnect, now);
            return;
        case Web::Address: {
            SockAddr addr;
            std::string why;
            if (!ParseWebAddress(opt_.webAddress, &addr, &why)) {
                Log("bad web address " + opt_.webAddress + ": " + why);
                Reply(kNoCarrier, now);
                return;
            }
            Log("dial " + host + ":" + std::to_string(port) + " -> " + AddrText(addr));
            StartConnect({addr}, now);
            return;
        }
        case Web::Direct: {
            Log("dial " + host + ":" + std::to_string(port) + " (looking it up)");
            mode_ = Mode::Dialing;
            resolving_ = true;
            resolver_ = std::make_unique<Resolver>();
            Resolver* r = resolver_.get();
            int wake = wakeFd_;
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
    addrs_ = std::move(addrs);
    nextAddr_ = 0;
    mode_ = Mode::Dialing;
    TryNextAddress(now);
}

void Modem::TryNextAddress(TimePoint now) {
    sock_.Reset();
    while (nextAddr_ < addrs_.size()) {
        const SockAddr& a = addrs_[nextAddr_++];
        Fd s(::socket(a.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!s.Valid()) {
            continue;
        }
        int rc = ::connect(s.Get(), reinterpret_cast<const sockaddr*>(&a.storage), a.length);
        if (rc == 0) {
            sock_ = std::move(s);
            Connected(now);
            return;
        }
        if (errno == EINPROGRESS) {
            sock_ = std::move(s);
            return;  // POLLOUT tells
        }
        Log("connect to " + AddrText(a) + ": " + std::strerror(errno));
    }
    mode_ = Mode::Command;
    Reply(kNoCarrier, now);
}

void Modem::Connected(TimePoint now) {
    Log("connected");
    mode_ = Mode::Data;
    builtin_ = false;
    Reply(kConnect, now);
}

void Modem::Hangup(const std::string& why, TimePoint now) {
    Log("hang-up: " + why);
    sock_.Reset();
    toNet_.clear();
    request_.clear();
    builtin_ = false;
    mode_ = Mode::Command;
    Reply(kNoCarrier, now, opt_.hangupPause);
}

void Modem::DataByte(char c, TimePoint now) {
    if (!builtin_) {
        toNet_ += c;
        return;
    }
    request_ += c;
    bool complete =
        request_.size() >= kMaxRequest ||
        (request_.size() >= 4 && request_.compare(request_.size() - 4, 4, "\r\n\r\n") == 0) ||
        (request_.size() >= 2 && request_.compare(request_.size() - 2, 2, "\n\n") == 0);
    if (!complete) {
        return;
    }
    const std::string& body = opt_.builtinBody;
    std::string answer = opt_.builtinStatus + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    Port().Queue(std::move(answer), now);
    Hangup("built-in web answer sent", now);
}

void Modem::Reply(const std::string& text, TimePoint now, std::chrono::milliseconds delay) {
    FlushEcho(now);
    std::string full(opt_.nulBefore, '\0');
    for (std::size_t i = 0; i < opt_.noiseBefore; ++i) {
        unsigned char b;
        do {
            noise_ ^= noise_ << 13;
            noise_ ^= noise_ >> 17;
            noise_ ^= noise_ << 5;
            b = static_cast<unsigned char>(noise_ >> 24);
        } while (b == 0 || b == '\r' || b == '\n');
        full += static_cast<char>(b);
    }
    full += text;
    TimePoint due = now + delay;
    if (opt_.tricklePiece == 0 || full.size() <= opt_.tricklePiece) {
        Port().Queue(std::move(full), due);
        return;
    }
    for (std::size_t at = 0; at < full.size(); at += opt_.tricklePiece) {
        Port().Queue(full.substr(at, opt_.tricklePiece), due);
        due += opt_.tricklePause;
    }
}

void Modem::FlushEcho(TimePoint now) {
    if (!echoBuf_.empty()) {
        Port().Queue(std::exchange(echoBuf_, {}), now);
    }
}

void Modem::WriteToNet() {
    if (!sock_.Valid() || mode_ != Mode::Data || toNet_.empty()) {
        return;
    }
    ssize_t n = ::send(sock_.Get(), toNet_.data(), toNet_.size(), MSG_NOSIGNAL);
    if (n > 0) {
        toNet_.erase(0, static_cast<std::size_t>(n));
    }
}

void Modem::AddPollFds(std::vector<pollfd>& fds) {
    pollfd p{-1, 0, 0};
    if (sock_.Valid()) {
        if (mode_ == Mode::Dialing) {
            p.events = POLLOUT;
        } else {
            if (Port().Backlog() < kBacklogLimit) {
                p.events |= POLLIN;
            }
            if (!toNet_.empty()) {
                p.events |= POLLOUT;
            }
        }
        // With nothing wanted, a hang-up would still wake poll at once, again and again.
        if (p.events != 0) {
            p.fd = sock_.Get();
        }
    }
    fds.push_back(p);
}

void Modem::OnPollFds(const pollfd* first, TimePoint now) {
    const pollfd& p = first[0];
    if (p.fd < 0 || p.revents == 0 || !sock_.Valid()) {
        return;
    }
    if (mode_ == Mode::Dialing) {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(sock_.Get(), SOL_SOCKET, SO_ERROR, &err, &len);
        if (err == 0 && (p.revents & POLLOUT)) {
            Connected(now);
        } else {
            Log(std::string("connect to ") + AddrText(addrs_[nextAddr_ - 1]) + ": " +
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
        ssize_t n = ::recv(sock_.Get(), buf, sizeof buf, 0);
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
    if (mode_ == Mode::Dialing) {
        return connectDeadline_;
    }
    return std::nullopt;
}

void Modem::JoinResolverIfDone(TimePoint now) {
    if (!resolver_) {
        return;
    }
    std::vector<SockAddr> addrs;
    std::string error;
    {
        std::lock_guard<std::mutex> lock(resolver_->mu);
        if (!resolver_->done) {
            return;
        }
        addrs = std::move(resolver_->addrs);
        error = resolver_->error;
    }
    resolver_->thread.join();
    resolver_.reset();
    if (!resolving_) {
        return;  // that dial has already timed out
    }
    resolving_ = false;
    if (addrs.empty()) {
        Log("look-up failed: " + error);
        mode_ = Mode::Command;
        Reply(kNoCarrier, now);
        return;
    }
    StartConnect(std::move(addrs), now);
}

void Modem::OnTime(TimePoint now) {
    JoinResolverIfDone(now);
    if (mode_ == Mode::Dialing && now >= connectDeadline_) {
        Log("dial timed out");
        resolving_ = false;
        sock_.Reset();
        mode_ = Mode::Command;
        Reply(kNoCarrier, now);
    }
}

void Modem::OnPortClosed(TimePoint now) {
    // Closing the port drops DTR, and the modem hangs up, as with AT&D2. A name look-up
    // under way is left to finish; its answer is then ignored.
    if (mode_ != Mode::Command) {
        Log("DTR dropped: hang-up");
    }
    resolving_ = false;
    sock_.Reset();
    toNet_.clear();
    request_.clear();
    builtin_ = false;
    mode_ = Mode::Command;
    line_.clear();
    lineOverflow_ = false;
    skipLf_ = false;
    echoBuf_.clear();
    Device::OnPortClosed(now);
}

void Modem::Shutdown() {
    if (resolver_ && resolver_->thread.joinable()) {
        resolver_->thread.join();
    }
    resolver_.reset();
    resolving_ = false;
    sock_.Reset();
}

}  // namespace sim::detail

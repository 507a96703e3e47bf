#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <system_error>

#include "sim/internal.h"

namespace tarvic::sim {

using detail::Clock;
using detail::Device;
using detail::Fd;
using detail::TimePoint;

namespace {

void MakeDirs(const std::string& path) {
    std::string part;
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = path.find('/', at + 1);
        part = path.substr(0, at);
        if (part.empty()) {
            continue;
        }
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::system_error(errno, std::generic_category(), "mkdir " + part);
        }
    }
}

std::string ReadLink(const std::string& path) {
    char buf[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0) {
        return {};
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

// A bench holds every link it publishes through a socket in the abstract namespace named
// after the link: the name is free again as soon as the bench ends, however it ends, so a
// link whose name is free was left behind. Returns an invalid Fd when another holds it.
Fd ClaimLink(const std::string& link) {
    std::error_code ec;
    const std::filesystem::path where = std::filesystem::path(link).parent_path();
    std::string path = std::filesystem::weakly_canonical(where, ec).string();
    path = (ec ? where.string() : path) + "/" + std::filesystem::path(link).filename().string();
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a: stable across programs
    for (unsigned char c : path) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char name[40];
    const int length = std::snprintf(name, sizeof name, "tarvic-sim/%016llx",
                                     static_cast<unsigned long long>(hash));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name, static_cast<std::size_t>(length));
    Fd claim(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!claim.Valid()) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(claim.Get(), reinterpret_cast<const sockaddr*>(&addr), size) != 0) {
        if (errno == EADDRINUSE) {
            return Fd();
        }
        throw std::system_error(errno, std::generic_category(), "bind " + link);
    }
    return claim;
}

}  // namespace

struct Bench::Impl {
    explicit Impl(std::string home, Log logFn)
        : configHome(std::move(home)),
          portsDir(configHome + "/tarvic/ports"),
          log(std::move(logFn)),
          logger(static_cast<bool>(log)) {
        wake.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (!wake.Valid()) {
            throw std::system_error(errno, std::generic_category(), "eventfd");
        }
        inotify.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!inotify.Valid()) {
            throw std::system_error(errno, std::generic_category(), "inotify_init1");
        }
    }

    enum class State { Idle, Running, Stopped };

    const std::string configHome;
    const std::string portsDir;
    const Log log;

    mutable std::mutex mu;
    mutable std::condition_variable changed;
    std::uint64_t generation = 0;  // under mu; bumped whenever the loop handled something
    State state = State::Idle;     // under mu
    bool stopping = false;         // under mu
    detail::Logger logger;         // under mu
    std::vector<std::unique_ptr<Device>> devices;  // under mu
    std::map<int, Device*> watches;                // inotify watch -> device, under mu
    std::vector<Fd> claims;                        // of the published links, under mu
    Fd wake;
    Fd inotify;
    std::thread loop;

    std::string Link(int com) const { return portsDir + "/com" + std::to_string(com); }

    void Publish(std::unique_ptr<Device> device) {
        const std::string& link = device->Link();
        Fd claim = ClaimLink(link);
        if (!claim.Valid()) {
            throw std::system_error(EBUSY, std::generic_category(),
                                    link + " is held by another tarvic-sim that is running");
        }
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0) {
            // Replaced only when it cannot be anyone's mapping: a link that leads nowhere
            // (left by a simulator that was killed), or one to the very terminal this bench
            // has just been given. A link to a live terminal may be the user's own.
            struct stat targetSt {};
            const bool ours = ReadLink(link) == device->Port().SlavePath();
            if (!S_ISLNK(st.st_mode) || (!ours && ::stat(link.c_str(), &targetSt) == 0)) {
                throw std::system_error(EEXIST, std::generic_category(),
                                        link +
                                            " is already there and is not tarvic-sim's;"
                                            " it was left as it is");
            }
            ::unlink(link.c_str());
        }
        if (::symlink(device->Port().SlavePath().c_str(), link.c_str()) != 0) {
            throw std::system_error(errno, std::generic_category(), "symlink " + link);
        }
        int wd = ::inotify_add_watch(inotify.Get(), device->Port().SlavePath().c_str(),
                                     IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
        if (wd >= 0) {
            watches[wd] = device.get();
        }
        device->Log("published " + link + " -> " + device->Port().SlavePath());
        devices.push_back(std::move(device));
        claims.push_back(std::move(claim));
    }

    template <class T>
    void Add(int com, std::function<std::unique_ptr<T>(std::string)> make) {
        if (com < 1 || com > 255) {
            throw std::invalid_argument("COM port number must be 1 to 255");
        }
        std::vector<std::string> lines;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (state != State::Idle) {
                throw std::logic_error("devices must be added before Start");
            }
            for (const auto& d : devices) {
                if (d->Com() == com) {
                    throw std::invalid_argument("COM" + std::to_string(com) + " is taken");
                }
            }
            MakeDirs(portsDir);
            Publish(make(Link(com)));
            lines = logger.Take();
        }
        Emit(lines);
    }

    void Emit(const std::vector<std::string>& lines) const {
        for (const std::string& line : lines) {
            log(line);
        }
    }

    template <class T>
    T* Find(int com) const {
        for (const auto& d : devices) {
            T* t = dynamic_cast<T*>(d.get());
            if (t != nullptr && (com == 0 || d->Com() == com)) {
                return t;
            }
        }
        throw std::invalid_argument("no such simulated device: COM" + std::to_string(com));
    }

    void HandleInotify(TimePoint now) {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            ssize_t n = ::read(inotify.Get(), buf, sizeof buf);
            if (n <= 0) {
                return;
            }
            for (char* p = buf; p < buf + n;) {
                auto* ev = reinterpret_cast<inotify_event*>(p);
                p += sizeof(inotify_event) + ev->len;
                auto it = watches.find(ev->wd);
                if (it == watches.end()) {
                    continue;
                }
                Device* d = it->second;
                if (ev->mask & IN_OPEN) {
                    d->Log("port opened");
                    d->OnPortOpened(now);
                }
                // A close while someone still holds the lock is not the last one.
                if ((ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && d->Port().Free()) {
                    d->Log("port closed");
                    if (d->Port().ClearExclusive()) {
                        d->Log("exclusive flag cleared, so the port can be opened again");
                    }
                    d->OnPortClosed(now);
                }
            }
        }
    }

    void ReadMaster(Device& d, TimePoint now) {
        char buf[4096];
        std::size_t total = 0;
        while (d.AcceptsInput() && total < 64 * 1024) {
            ssize_t n = ::read(d.Port().Master(), buf, sizeof buf);
            if (n <= 0) {
                return;
            }
            total += static_cast<std::size_t>(n);
            std::string_view bytes(buf, static_cast<std::size_t>(n));
            d.Log("<- " + detail::Escape(bytes));
            d.RecordReceived(bytes);
            d.OnInput(bytes, now);
        }
    }

    void Run() {
        std::vector<pollfd> fds;
        std::vector<std::size_t> firstFd;
        for (;;) {
            TimePoint deadline = TimePoint::max();
            {
                std::lock_guard<std::mutex> lock(mu);
                if (stopping) {
                    return;
                }
                fds.clear();
                firstFd.clear();
                fds.push_back({wake.Get(), POLLIN, 0});
                fds.push_back({inotify.Get(), POLLIN, 0});
                for (const auto& d : devices) {
                    short events = 0;
                    if (d->AcceptsInput()) {
                        events |= POLLIN;
                    }
                    if (d->Port().WantWrite()) {
                        events |= POLLOUT;
                    }
                    fds.push_back({d->Port().Master(), events, 0});
                    firstFd.push_back(fds.size());
                    d->AddPollFds(fds);
                    for (auto t : {d->Deadline(), d->Port().NextDue()}) {
                        if (t && *t < deadline) {
                            deadline = *t;
                        }
                    }
                }
            }
            timespec ts{};
            timespec* timeout = nullptr;
            if (deadline != TimePoint::max()) {
                auto left =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
                if (left.count() < 0) {
                    left = std::chrono::nanoseconds(0);
                }
                ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
                ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
                timeout = &ts;
            }
            int rc = ::ppoll(fds.data(), fds.size(), timeout, nullptr);
            if (rc < 0 && errno != EINTR) {
                return;
            }
            std::vector<std::string> lines;
            {
                std::lock_guard<std::mutex> lock(mu);
                if (stopping) {
                    return;
                }
                TimePoint now = Clock::now();
                if (fds[0].revents & POLLIN) {
                    eventfd_t v;
                    eventfd_read(wake.Get(), &v);
                }
                for (std::size_t i = 0; i < devices.size(); ++i) {
                    Device& d = *devices[i];
                    const pollfd& master = fds[firstFd[i] - 1];
                    if (master.revents & POLLIN) {
                        ReadMaster(d, now);
                    }
                    d.OnPollFds(&fds[firstFd[i]], now);
                    d.OnTime(now);
                }
                // After the input: what the tool wrote before it closed the port counts.
                if (fds[1].revents & POLLIN) {
                    HandleInotify(now);
                }
                for (const auto& device : devices) {
                    Device& d = *device;
                    std::string written = d.Port().Flush(now);
                    if (!written.empty()) {
                        d.Log("-> " + detail::Escape(written));
                        d.RecordSent(written);
                    }
                }
                ++generation;
                lines = logger.Take();
            }
            changed.notify_all();
            Emit(lines);
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mu);
            if (state == State::Stopped) {
                return;
            }
            state = State::Stopped;
            stopping = true;
        }
        eventfd_write(wake.Get(), 1);
        if (loop.joinable()) {
            loop.join();
        }
        std::vector<std::string> lines;
        {
            std::lock_guard<std::mutex> lock(mu);
            for (const auto& d : devices) {
                d->Shutdown();
                // Only our own link: someone may have put something else there meanwhile.
                if (ReadLink(d->Link()) == d->Port().SlavePath()) {
                    ::unlink(d->Link().c_str());
                }
                d->Log("removed " + d->Link());
                d->Port().Close();
            }
            watches.clear();
            inotify.Reset();
            claims.clear();
            ++generation;
            lines = logger.Take();
        }
        changed.notify_all();
        Emit(lines);
    }
};

Bench::Bench(std::string configHome, Log log)
    : m_impl(std::make_unique<Impl>(std::move(configHome), std::move(log))) {}

Bench::~Bench() {
    Stop();
}

void Bench::AddModem(int com, ModemOptions options) {
    std::string why;
    if (options.web == Web::Address && !CheckWebAddress(options.webAddress, &why)) {
        throw std::invalid_argument("web address " + options.webAddress + ": " + why);
    }
    Impl& m = *m_impl;
    m.Add<detail::Modem>(com, [&](std::string link) {
        return std::make_unique<detail::Modem>(com, std::move(link), m.logger, std::move(options),
                                               m.wake.Get());
    });
}

void Bench::AddRs485(int com, Rs485Options options) {
    Impl& m = *m_impl;
    m.Add<detail::Rs485>(com, [&](std::string link) {
        return std::make_unique<detail::Rs485>(com, std::move(link), m.logger, std::move(options));
    });
}

void Bench::Start() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    if (m_impl->state != Impl::State::Idle) {
        throw std::logic_error("Bench::Start called twice");
    }
    m_impl->state = Impl::State::Running;
    m_impl->loop = std::thread([this] { m_impl->Run(); });
}

void Bench::Stop() {
    m_impl->Stop();
}

std::string Bench::ConfigHome() const {
    return m_impl->configHome;
}
std::string Bench::PortsDir() const {
    return m_impl->portsDir;
}
std::string Bench::LinkPath(int com) const {
    return m_impl->Link(com);
}

std::string Bench::DevicePath(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    for (const auto& d : m_impl->devices) {
        if (d->Com() == com) {
            return d->Port().SlavePath();
        }
    }
    throw std::invalid_argument("no such simulated device: COM" + std::to_string(com));
}

void Bench::SetModemOptions(int com, ModemOptions options) {
    std::string why;
    if (options.web == Web::Address && !CheckWebAddress(options.webAddress, &why)) {
        throw std::invalid_argument("web address " + options.webAddress + ": " + why);
    }
    {
        std::lock_guard<std::mutex> lock(m_impl->mu);
        m_impl->Find<detail::Modem>(com)->SetOptions(std::move(options));
    }
    eventfd_write(m_impl->wake.Get(), 1);
}

void Bench::SetRs485Options(int com, Rs485Options options) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->Find<detail::Rs485>(com)->SetOptions(std::move(options));
}

std::string Bench::ModemReceived(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->Find<detail::Modem>(com)->Received();
}

std::string Bench::ModemSent(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->Find<detail::Modem>(com)->Sent();
}

std::vector<std::string> Bench::ModemCommands(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->Find<detail::Modem>(com)->Commands();
}

std::vector<Dial> Bench::ModemDials(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->Find<detail::Modem>(com)->Dials();
}

bool Bench::ModemContextActive(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->Find<detail::Modem>(com)->ContextActive();
}

bool Bench::ModemInDataMode(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->Find<detail::Modem>(com)->InDataMode();
}

std::vector<uint8_t> Bench::Rs485Received(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    const std::string& s = m_impl->Find<detail::Rs485>(com)->Received();
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> Bench::Rs485Sent(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    const std::string& s = m_impl->Find<detail::Rs485>(com)->Sent();
    return std::vector<uint8_t>(s.begin(), s.end());
}

int Bench::Rs485Frames(int com) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->Find<detail::Rs485>(com)->Frames();
}

bool Bench::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const {
    auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lock(m_impl->mu);
    for (;;) {
        std::uint64_t seen = m_impl->generation;
        lock.unlock();
        if (pred()) {
            return true;
        }
        lock.lock();
        if (!m_impl->changed.wait_until(lock, deadline,
                                        [&] { return m_impl->generation != seen; })) {
            lock.unlock();
            return pred();
        }
    }
}

bool Bench::WaitModemReceived(std::string_view text, std::chrono::milliseconds timeout,
                              int com) const {
    return WaitUntil([&] { return ModemReceived(com).find(text) != std::string::npos; }, timeout);
}

bool Bench::WaitModemSent(std::string_view text, std::chrono::milliseconds timeout, int com) const {
    return WaitUntil([&] { return ModemSent(com).find(text) != std::string::npos; }, timeout);
}

bool Bench::WaitRs485Received(std::size_t count, std::chrono::milliseconds timeout, int com) const {
    return WaitUntil([&] { return Rs485Received(com).size() >= count; }, timeout);
}

bool Bench::WaitRs485Sent(std::size_t count, std::chrono::milliseconds timeout, int com) const {
    return WaitUntil([&] { return Rs485Sent(com).size() >= count; }, timeout);
}

bool CheckWebAddress(const std::string& address, std::string* reason) {
    return detail::ParseWebAddress(address, nullptr, reason);
}

}  // namespace tarvic::sim

#pragma once
// Pieces of the bench that the devices share. Everything here runs under the bench lock.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "sim/sim.h"

namespace sim::detail {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Log lines are gathered under the lock and handed to the callback after unlocking.
class Logger {
  public:
    explicit Logger(bool enabled) : enabled_(enabled) {}
    bool Enabled() const { return enabled_; }
    void Add(std::string line) {
        if (enabled_) {
            lines_.push_back(std::move(line));
        }
    }
    std::vector<std::string> Take() { return std::exchange(lines_, {}); }

  private:
    bool enabled_;
    std::vector<std::string> lines_;
};

// Printable form of raw bytes for the log: "AT\r\n" -> AT\r\n, other bytes as \xHH.
std::string Escape(std::string_view bytes);

// One pseudo-terminal: the master the device works on, and one slave descriptor kept open
// so that the master never sees a hang-up while the tool has the port closed.
class Pty {
  public:
    Pty();  // throws std::system_error
    int Master() const { return master_.Get(); }
    const std::string& SlavePath() const { return slavePath_; }

    // Output leaves in the order it was queued; an item never goes out before its time or
    // before the items queued ahead of it.
    void Queue(std::string bytes, TimePoint due);
    std::optional<TimePoint> NextDue() const;
    bool WantWrite() const { return !out_.empty(); }
    std::size_t Backlog() const;
    // Writes what is due and what the slave side takes; returns the bytes written.
    std::string Flush(TimePoint now);

    // True when no one holds the port's lock (the tool locks it while it has it open).
    bool Free() const;
    // Our own slave descriptor keeps the terminal alive, so an exclusive flag that the tool
    // set would outlive its close and refuse its next open. Returns true if it was set.
    bool ClearExclusive();
    // What a real port loses when it is closed: output not yet delivered.
    void DiscardPending();
    void Close();

  private:
    struct Item {
        TimePoint due;
        std::string bytes;
    };
    Fd master_;
    Fd keep_;
    std::string slavePath_;
    std::deque<Item> queue_;
    std::string out_;
    TimePoint lastDue_{};
};

struct SockAddr {
    sockaddr_storage storage{};
    socklen_t length = 0;
};
std::string AddrText(const SockAddr& addr);
// "IP:PORT" or "[IPv6]:PORT", numeric only.
bool ParseWebAddress(const std::string& text, SockAddr* out, std::string* reason);

class Device {
  public:
    Device(int com, std::string link, Logger& log) : com_(com), link_(std::move(link)), log_(log) {}
    virtual ~Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    int Com() const { return com_; }
    const std::string& Link() const { return link_; }
    Pty& Port() { return pty_; }
    const Pty& Port() const { return pty_; }
    const std::string& Received() const { return received_; }
    const std::string& Sent() const { return sent_; }
    virtual const char* Kind() const = 0;

    void RecordReceived(std::string_view bytes) { received_.append(bytes); }
    void RecordSent(std::string_view bytes) { sent_.append(bytes); }

    virtual bool AcceptsInput() const { return true; }
    virtual void OnInput(std::string_view bytes, TimePoint now) = 0;
    // Extra descriptors (the modem's socket); `first` points at what AddPollFds added.
    virtual void AddPollFds(std::vector<pollfd>& fds) { (void)fds; }
    virtual void OnPollFds(const pollfd* first, TimePoint now) {
        (void)first;
        (void)now;
    }
    virtual std::optional<TimePoint> Deadline() const { return std::nullopt; }
    virtual void OnTime(TimePoint now) { (void)now; }
    virtual void Shutdown() {}
    // Every program has closed the port: on a real line that drops DTR.
    virtual void OnPortClosed(TimePoint now) {
        (void)now;
        pty_.DiscardPending();
    }

    void Log(const std::string& text) {
        if (log_.Enabled()) {
            log_.Add("COM" + std::to_string(com_) + " " + Kind() + ": " + text);
        }
    }

  private:
    int com_;
    std::string link_;
    Pty pty_;
    std::string received_;
    std::string sent_;

  protected:
    Logger& log_;
};

class Modem : public Device {
  public:
    Modem(int com, std::string link, Logger& log, ModemOptions options, int wakeFd);
    ~Modem() override;
    const char* Kind() const override { return "modem"; }
    void SetOptions(ModemOptions options);

    bool AcceptsInput() const override;
    void OnInput(std::string_view bytes, TimePoint now) override;
    void AddPollFds(std::vector<pollfd>& fds) override;
    void OnPollFds(const pollfd* first, TimePoint now) override;
    std::optional<TimePoint> Deadline() const override;
    void OnTime(TimePoint now) override;
    void Shutdown() override;
    void OnPortClosed(TimePoint now) override;

    const std::vector<std::string>& Commands() const { return commands_; }
    const std::vector<Dial>& Dials() const { return dials_; }
    bool ContextActive() const { return contextActive_; }
    bool InDataMode() const { return mode_ == Mode::Data; }

  private:
    enum class Mode { Command, Dialing, Data };
    struct Resolver;

    void CommandByte(char c, TimePoint now);
    void DataByte(char c, TimePoint now);
    void HandleLine(std::string line, TimePoint now);
    void HandleDial(const std::string& args, TimePoint now);
    void Reply(const std::string& text, TimePoint now,
               std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    void FlushEcho(TimePoint now);
    void StartConnect(std::vector<SockAddr> addrs, TimePoint now);
    void TryNextAddress(TimePoint now);
    void Connected(TimePoint now);
    void Hangup(const std::string& why, TimePoint now);
    void WriteToNet();
    void JoinResolverIfDone(TimePoint now);

    ModemOptions opt_;
    int wakeFd_;
    bool echo_ = true;
    bool skipLf_ = false;
    bool lineOverflow_ = false;
    std::string line_;
    std::string echoBuf_;
    Mode mode_ = Mode::Command;
    bool contextActive_ = false;
    std::vector<int> errorsGiven_;
    int dialsRefused_ = 0;
    std::uint32_t noise_ = 0x2545F491u;
    std::vector<std::string> commands_;
    std::vector<Dial> dials_;

    // Data connection.
    bool builtin_ = false;
    std::string request_;
    Fd sock_;
    std::string toNet_;
    std::vector<SockAddr> addrs_;
    std::size_t nextAddr_ = 0;
    TimePoint connectDeadline_{};
    std::unique_ptr<Resolver> resolver_;
    bool resolving_ = false;  // a dial waits for the resolver
};

class Rs485 : public Device {
  public:
    Rs485(int com, std::string link, Logger& log, Rs485Options options);
    const char* Kind() const override { return "rs485"; }
    void SetOptions(Rs485Options options) { opt_ = std::move(options); }
    void OnInput(std::string_view bytes, TimePoint now) override;
    std::optional<TimePoint> Deadline() const override;
    void OnTime(TimePoint now) override;
    void OnPortClosed(TimePoint now) override;
    int Frames() const { return frames_; }

  private:
    void Complete(TimePoint now);

    Rs485Options opt_;
    std::string frame_;
    TimePoint lastByte_{};
    int frames_ = 0;
};

}  // namespace sim::detail

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

namespace tarvic::sim::detail {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

  private:
    int m_fd = -1;
};

// Log lines are gathered under the lock and handed to the callback after unlocking.
class Logger {
  public:
    explicit Logger(bool enabled) : m_enabled(enabled) {}
    bool Enabled() const { return m_enabled; }
    void Add(std::string line) {
        if (m_enabled) {
            m_lines.push_back(std::move(line));
        }
    }
    std::vector<std::string> Take() { return std::exchange(m_lines, {}); }

  private:
    bool m_enabled;
    std::vector<std::string> m_lines;
};

// Printable form of raw bytes for the log: "AT\r\n" -> AT\r\n, other bytes as \xHH.
std::string Escape(std::string_view bytes);

// One pseudo-terminal: the master the device works on, and one slave descriptor kept open
// so that the master never sees a hang-up while the tool has the port closed.
class Pty {
  public:
    Pty();  // throws std::system_error
    int Master() const { return m_master.Get(); }
    const std::string& SlavePath() const { return m_slavePath; }

    // Output leaves in the order it was queued; an item never goes out before its time or
    // before the items queued ahead of it.
    void Queue(std::string bytes, TimePoint due);
    std::optional<TimePoint> NextDue() const;
    bool WantWrite() const { return !m_out.empty(); }
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
    Fd m_master;
    Fd m_keep;
    std::string m_slavePath;
    std::deque<Item> m_queue;
    std::string m_out;
    TimePoint m_lastDue{};
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
    Device(int com, std::string link, Logger& log)
        : m_com(com), m_link(std::move(link)), m_log(log) {}
    virtual ~Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    int Com() const { return m_com; }
    const std::string& Link() const { return m_link; }
    Pty& Port() { return m_pty; }
    const Pty& Port() const { return m_pty; }
    const std::string& Received() const { return m_received; }
    const std::string& Sent() const { return m_sent; }
    virtual const char* Kind() const = 0;

    void RecordReceived(std::string_view bytes) { m_received.append(bytes); }
    void RecordSent(std::string_view bytes) { m_sent.append(bytes); }

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
    // A program has opened the port.
    virtual void OnPortOpened(TimePoint now) { (void)now; }
    // Every program has closed the port: on a real line that drops DTR.
    virtual void OnPortClosed(TimePoint now) {
        (void)now;
        m_pty.DiscardPending();
    }

    void Log(const std::string& text) {
        if (m_log.Enabled()) {
            m_log.Add("COM" + std::to_string(m_com) + " " + Kind() + ": " + text);
        }
    }

  private:
    int m_com;
    std::string m_link;
    Pty m_pty;
    std::string m_received;
    std::string m_sent;

  protected:
    Logger& m_log;
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

    const std::vector<std::string>& Commands() const { return m_commands; }
    const std::vector<Dial>& Dials() const { return m_dials; }
    bool ContextActive() const { return m_contextActive; }
    bool InDataMode() const { return m_mode == Mode::Data; }

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

    ModemOptions m_opt;
    int m_wakeFd;
    bool m_echo = true;
    bool m_skipLf = false;
    bool m_lineOverflow = false;
    std::string m_line;
    std::string m_echoBuf;
    Mode m_mode = Mode::Command;
    bool m_contextActive = false;
    std::vector<int> m_errorsGiven;
    int m_dialsRefused = 0;
    std::uint32_t m_noise = 0x2545F491u;
    std::vector<std::string> m_commands;
    std::vector<Dial> m_dials;

    // Data connection.
    bool m_builtin = false;
    std::string m_request;
    Fd m_sock;
    std::string m_toNet;
    std::vector<SockAddr> m_addrs;
    std::size_t m_nextAddr = 0;
    TimePoint m_connectDeadline{};
    std::unique_ptr<Resolver> m_resolver;
    bool m_resolving = false;  // a dial waits for the resolver
};

class Rs485 : public Device {
  public:
    Rs485(int com, std::string link, Logger& log, Rs485Options options);
    const char* Kind() const override { return "rs485"; }
    void SetOptions(Rs485Options options) { m_opt = std::move(options); }
    void OnInput(std::string_view bytes, TimePoint now) override;
    std::optional<TimePoint> Deadline() const override;
    void OnTime(TimePoint now) override;
    void OnPortOpened(TimePoint now) override;
    void OnPortClosed(TimePoint now) override;
    int Frames() const { return m_frames; }

  private:
    void Complete(TimePoint now);

    Rs485Options m_opt;
    std::string m_frame;
    TimePoint m_lastByte{};
    int m_frames = 0;
};

}  // namespace tarvic::sim::detail

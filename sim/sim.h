#pragma once
// The bench simulator: a GPRS modem and an RS-485 device, each on its own pseudo-terminal,
// published as comN in a port directory so that the tool opens them as COMn:.
//
// Usage:
//   sim::Bench bench(home);                  // publishes under <home>/tarvic/ports/
//   bench.AddModem(1, {});                   // COM1: the GPRS modem
//   bench.AddRs485(4, {});                   // COM4: the RS-485 device
//   bench.Start();                           // one poll loop thread serves every device
//   ... run the tool with XDG_CONFIG_HOME=home ...
//   bench.WaitRs485Received(10, 5s);
//   bench.Stop();                            // removes the links; the destructor stops too
//
// Every member may be called from any thread. Setup errors (a pseudo-terminal that cannot
// be created, a port entry that is taken, a bad web address) throw std::system_error or
// std::invalid_argument; calling Add* or Start after Start throws std::logic_error.
// Accessors keep working after Stop and report what was recorded until then.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvic::sim {

// Where the simulated modem's data connections go.
enum class Web {
    Builtin,  // no network: answers the request itself, then hangs up
    Address,  // every dial goes to ModemOptions::webAddress, whatever host and port it names
    Direct,   // the dialled host on the dialled port
};

// The first `times` command lines that begin with `command` (case ignored) answer ERROR.
struct ErrorRule {
    std::string command;
    int times = 1;
};

struct ModemOptions {
    bool silent = false;         // answers nothing, echoes nothing
    bool contextActive = false;  // context 1 is active from the start
    // Contexts 2, 3, ... and whether each is active (they never change); AT#SGACT? reports
    // them after context 1.
    std::vector<bool> otherContexts{};
    bool reactivateOk = false;  // activating an active context answers OK, not ERROR
    std::chrono::milliseconds activationDelay{0};  // before the answer to AT#SGACT=1,1
    std::string ipAddress = "10.64.37.12";         // reported on activation
    std::vector<ErrorRule> errors{};
    // Context 1 comes up by itself just as the tool asks to activate it: the modem reports
    // "#SGACT: 1,1", then answers the activation ERROR as the context is active already.
    bool contextComesUp = false;
    std::size_t tricklePiece = 0;               // > 0: replies go out in pieces of this many bytes
    std::chrono::milliseconds tricklePause{0};  // between two pieces
    std::size_t nulBefore = 0;                  // NUL bytes ahead of each reply
    std::size_t noiseBefore = 0;     // noise bytes (never NUL, CR or LF) ahead of each reply
    bool dialNeverConnects = false;  // AT#SD gets no answer at all
    int refusedDials = 0;            // the first this many dials fail with NO CARRIER
    Web web = Web::Builtin;
    std::string webAddress{};  // "IP:PORT" (IPv6 as "[addr]:port") for Web::Address
    std::string builtinStatus = "HTTP/1.1 200 OK";  // status line of the built-in answer
    std::string builtinBody = "tarvic-sim: built-in web answer, no network was used.\r\n";
    // The NO CARRIER of a hang-up goes out this long after what came before it.
    std::chrono::milliseconds hangupPause{0};
    std::chrono::milliseconds connectTimeout{15000};  // a dial that takes longer: NO CARRIER
};

enum class Rs485Reply {
    Xor,       // each byte XOR 0x80 (the device the tool expects)
    Loopback,  // the bytes unchanged
    Silent,    // no answer at all
};

struct Rs485Options {
    Rs485Reply reply = Rs485Reply::Xor;
    std::chrono::microseconds turnaround{1000};  // frame complete -> reply
    std::chrono::microseconds frameGap{5000};    // silence that completes a frame
    std::size_t frameMax = 10;                   // or this many bytes
    bool echo = false;  // the adapter's echo of the frame comes back ahead of the reply
    std::chrono::milliseconds echoPause{0};   // 0: echo and reply in one burst
    std::chrono::milliseconds splitPause{0};  // > 0: the reply pauses this long ...
    std::size_t splitAfter = 5;               // ... after this many bytes
    bool extraByte = false;                   // one more byte (0x8A) after the reply
    std::size_t strayBytes = 0;  // this many 0x55 bytes just ahead of the reply, same burst
    // This many 0x55 bytes, a burst of their own, strayDelay after each open of the port.
    std::size_t strayAfterOpen = 0;
    std::chrono::milliseconds strayDelay{100};
};

struct Dial {
    std::string host;  // as dialled, quotes removed
    int port = 0;
};

class Bench {
  public:
    // Receives one line per event (bytes both ways, dials, hang-ups, port open/close).
    // Called on the bench's thread, never with a lock held.
    using Log = std::function<void(const std::string& line)>;

    explicit Bench(std::string configHome, Log log = {});
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Creates the pseudo-terminal (raw at once) and the link <configHome>/tarvic/ports/comN.
    // A link that a bench which is still running holds is an error. Any other link whose
    // target is gone or is a pseudo-terminal was left by a bench that was killed, and is
    // replaced; any other existing entry is an error.
    void AddModem(int comNumber, ModemOptions options = {});
    void AddRs485(int comNumber, Rs485Options options = {});
    void Start();
    void Stop();  // ends the thread, closes every device, removes the links it made

    std::string ConfigHome() const;
    std::string PortsDir() const;                 // <configHome>/tarvic/ports
    std::string LinkPath(int comNumber) const;    // <PortsDir>/comN
    std::string DevicePath(int comNumber) const;  // the slave, e.g. /dev/pts/3

    // Replace a device's scenario while it runs. The modem keeps its state (echo, context,
    // connection; options.contextActive is not applied) and starts its ERROR and refused-dial
    // counts again.
    void SetModemOptions(int comNumber, ModemOptions options);
    void SetRs485Options(int comNumber, Rs485Options options);

    // comNumber 0 means the first device of that kind that was added.
    std::string ModemReceived(int comNumber = 0) const;               // every byte from the tool
    std::string ModemSent(int comNumber = 0) const;                   // every byte to the tool
    std::vector<std::string> ModemCommands(int comNumber = 0) const;  // command lines
    std::vector<Dial> ModemDials(int comNumber = 0) const;
    bool ModemContextActive(int comNumber = 0) const;
    bool ModemInDataMode(int comNumber = 0) const;
    std::vector<uint8_t> Rs485Received(int comNumber = 0) const;
    std::vector<uint8_t> Rs485Sent(int comNumber = 0) const;
    int Rs485Frames(int comNumber = 0) const;  // frames completed so far

    // Waits until pred() is true, re-checking whenever the bench has handled an event.
    // pred may call the accessors above.
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const;
    bool WaitModemReceived(std::string_view text, std::chrono::milliseconds timeout,
                           int comNumber = 0) const;  // ModemReceived contains text
    bool WaitModemSent(std::string_view text, std::chrono::milliseconds timeout,
                       int comNumber = 0) const;
    bool WaitRs485Received(std::size_t count, std::chrono::milliseconds timeout,
                           int comNumber = 0) const;
    bool WaitRs485Sent(std::size_t count, std::chrono::milliseconds timeout,
                       int comNumber = 0) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Checks an "IP:PORT" web address; false with a reason when it cannot be used.
bool CheckWebAddress(const std::string& address, std::string* reason = nullptr);

}  // namespace tarvic::sim

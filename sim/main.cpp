// tarvic-sim: a GPRS modem and an RS-485 device on pseudo-terminals, for learning and
// testing tarvic without hardware.

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "res/version.h"
#include "sim/sim.h"

namespace tarvic {
namespace {

const char kHelp[] = R"(Usage: tarvic-sim [OPTIONS]

tarvic-sim pretends to be the two devices that tarvic checks: a GPRS modem and an
RS-485 device. Each one appears as a serial port that tarvic can open, so you can
press "ПУСК" and watch a whole check run on a computer with nothing plugged in.

How it works
  tarvic opens port COMn through the entry "comN" in its port directory,
  $XDG_CONFIG_HOME/tarvic/ports/ (normally ~/.config/tarvic/ports/). tarvic-sim
  makes a fresh private folder, puts its simulated ports there and prints one line
  such as
      XDG_CONFIG_HOME=/tmp/tarvic-sim.Ab12Cd
  Start tarvic with that setting in a second terminal:
      XDG_CONFIG_HOME=/tmp/tarvic-sim.Ab12Cd tarvic
  In tarvic pick COM1 for the GPRS modem and COM4 for RS-485 (the defaults) and
  press "ПУСК". You should see "GPRS проверен" and then "485 проверен".
  Stop tarvic-sim with Ctrl+C; it removes its ports again.
  Your own ~/.config is never touched unless you point --config-home at it.

What the simulated modem does (9600 baud, AT commands)
  It echoes what you type until ATE0 (ATZ turns echo back on), and answers
  "OK" or "ERROR" on lines of their own. It knows AT, ATZ, ATE0, ATE1,
  AT+CGDCONT=..., AT#SGACT? (state of context 1), AT#SGACT=1,1 (activates the
  context and reports an IP address), AT#SGACT=1,0, and AT#SD=1,0,80,<host>,
  which opens a connection, answers CONNECT and then passes bytes both ways until
  the far end closes ("NO CARRIER"). Activating a context that is already active
  answers ERROR, as real modems do; dialling before activation answers ERROR too.
  Closing the port hangs up, like a real modem when DTR drops, and answers that
  were still on their way are lost, as on a real line.
  To type AT commands yourself, open the COM1 entry with any terminal program,
  for example: picocom <folder>/tarvic/ports/com1 (end each line with Enter).

Where the modem's connection goes (--web)
  builtin    no network needed: the modem itself answers the request with
             "HTTP/1.1 200 OK" and a short text, then hangs up (the default);
             as a web server that follows HTTP/1.0 does, it answers only
             "GET / HTTP/1.x" with a Host line naming the dialled host, and
             anything else with "HTTP/1.0 400 Bad Request"
  IP:PORT    every dial goes to this address, whatever host tarvic dials, for
             example a web server on your own computer: --web 127.0.0.1:8080
  direct     the real host named in the dial command, on the real network

Options
  --config-home DIR        publish the ports under DIR/tarvic/ports/ instead of a
                           fresh private folder (the folders are made if needed)
  --modem N                the modem's port number, COM N (default 1; 0: no modem)
  --rs485 N                the RS-485 device's port number (default 4; 0: none)
  --verbose, -v            show every byte and event on the screen (stderr)
  --help, -h               this text
  --version                the version of tarvic-sim

Modem scenarios (to see how tarvic copes with a difficult modem)
  --web builtin|IP:PORT|direct   see above
  --http-status LINE       status line of the built-in answer
                           (default "HTTP/1.1 200 OK"; try "HTTP/1.0 404 Not Found")
  --http-body TEXT         body of the built-in answer; each \n in TEXT ends a line
                           (try --http-status "HTTP/1.1 404 Not Found"
                           --http-body 'HTTP/1.1 200 OK\n')
  --hangup-pause MS        send the NO CARRIER of a hang-up MS ms after the web
                           answer, as a burst of its own (try 600)
  --silent-modem           the modem answers nothing at all, as if unplugged
  --error N:COMMAND        answer ERROR to the first N command lines that begin
                           with COMMAND, then answer normally; may be repeated.
                           Example: --error 1:AT#SGACT=1,1
  --context-active         context 1 is already active when tarvic starts
  --other-contexts LIST    the modem has more contexts: 2, 3, ... with these states
                           (1 active, 0 not), reported after context 1 by
                           AT#SGACT?. Example: --other-contexts 1,0
  --context-comes-up       context 1 comes up by itself just as tarvic activates
                           it: the modem reports "#SGACT: 1,1", then answers the
                           activation ERROR (it is active already)
  --reactivate-ok          activating an active context answers OK, not ERROR
  --activation-delay MS    wait MS milliseconds before answering AT#SGACT=1,1
  --ip ADDRESS             address reported on activation (default 10.64.37.12)
  --trickle N:MS           send every answer in pieces of N bytes, MS ms apart
  --nul K                  put K zero bytes in front of every answer
  --noise K                put K random bytes (never zero, CR or LF) in front of
                           every answer
  --dial-never-connects    AT#SD gets no answer at all
  --refuse-dials N         the first N dials fail with NO CARRIER, then dials work
  --connect-timeout MS     give up a dial after MS ms with NO CARRIER (default 15000)

RS-485 device scenarios (115200 baud; it collects a frame until 5 ms of silence
or 10 bytes, and answers each byte with its top bit flipped, XOR 0x80)
  --rs485-reply xor|loopback|silent
                           xor: the device tarvic expects (default); loopback: the
                           bytes come back unchanged; silent: no answer
  --rs485-loopback         same as --rs485-reply loopback
  --rs485-silent           same as --rs485-reply silent
  --rs485-turnaround MS    pause between frame and answer (default 1)
  --rs485-gap MS           silence that ends a frame (default 5)
  --rs485-echo             the adapter also returns the sent bytes, just ahead of
                           the answer, in the same burst
  --rs485-echo-pause MS    like --rs485-echo, with MS ms between echo and answer
  --rs485-split MS         pause MS ms inside the answer, after its 5th byte
                           (tarvic waits 78 ms at most; try 100)
  --rs485-split-after N    put that pause after the Nth byte instead
  --rs485-extra            one extra byte (0x8A) after the answer
  --rs485-stray N          N stray bytes (0x55) just ahead of the answer, in the
                           same burst

Examples
  tarvic-sim                          both devices, built-in web answer
  tarvic-sim --web 127.0.0.1:8080     the modem reaches a local web server
  tarvic-sim --silent-modem -v        a dead modem, with every byte shown
  tarvic-sim --rs485-split 100        an RS-485 answer that arrives in two parts

tarvic-sim runs until Ctrl+C (or SIGTERM), then removes the ports it published.
Exit status: 0 after a normal stop, 1 if the ports could not be set up, 2 for a
mistake on the command line.
)";

struct UsageError {
    std::string text;
};

long Number(const std::string& flag, const std::string& value, long lo, long hi) {
    std::size_t used = 0;
    long v = 0;
    try {
        v = std::stol(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != value.size() || v < lo || v > hi) {
        throw UsageError{flag + " wants a number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not \"" + value + "\""};
    }
    return v;
}

std::chrono::microseconds Millis(const std::string& flag, const std::string& value) {
    std::size_t used = 0;
    double v = -1;
    try {
        v = std::stod(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != value.size() || !(v >= 0) || v > 3600e3) {
        throw UsageError{flag + " wants milliseconds (0 or more), not \"" + value + "\""};
    }
    return std::chrono::microseconds(static_cast<long long>(v * 1000.0 + 0.5));
}

std::chrono::milliseconds WholeMillis(const std::string& flag, const std::string& value) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Millis(flag, value));
}

// "N:REST" as used by --error and --trickle.
std::pair<long, std::string> CountAndRest(const std::string& flag, const std::string& value) {
    std::size_t colon = value.find(':');
    if (colon == std::string::npos || colon + 1 == value.size()) {
        throw UsageError{flag + " wants N:" + (flag == "--error" ? "COMMAND" : "MS") + ", not \"" +
                         value + "\""};
    }
    return {Number(flag, value.substr(0, colon), 1, 1000000), value.substr(colon + 1)};
}

struct Config {
    std::string configHome;
    int modemCom = 1;
    int rs485Com = 4;
    bool verbose = false;
    bool help = false;
    bool version = false;
    sim::ModemOptions modem;
    sim::Rs485Options rs485;
};

Config Parse(int argc, char** argv) {
    Config c;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string flag = args[i];
        std::optional<std::string> inlineValue;
        if (flag.rfind("--", 0) == 0) {
            std::size_t eq = flag.find('=');
            if (eq != std::string::npos) {
                inlineValue = flag.substr(eq + 1);
                flag = flag.substr(0, eq);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 >= args.size()) {
                throw UsageError{flag + " needs a value"};
            }
            return args[++i];
        };
        auto noValue = [&] {
            if (inlineValue) {
                throw UsageError{flag + " takes no value"};
            }
        };
        if (flag == "--help" || flag == "-h") {
            c.help = true;
        } else if (flag == "--version") {
            noValue();
            c.version = true;
        } else if (flag == "--verbose" || flag == "-v") {
            noValue();
            c.verbose = true;
        } else if (flag == "--config-home") {
            c.configHome = value();
            if (c.configHome.empty()) {
                throw UsageError{"--config-home needs a folder"};
            }
        } else if (flag == "--modem") {
            c.modemCom = static_cast<int>(Number(flag, value(), 0, 255));
        } else if (flag == "--rs485") {
            c.rs485Com = static_cast<int>(Number(flag, value(), 0, 255));
        } else if (flag == "--web") {
            std::string v = value();
            if (v == "builtin") {
                c.modem.web = sim::Web::Builtin;
            } else if (v == "direct") {
                c.modem.web = sim::Web::Direct;
            } else {
                std::string why;
                if (!sim::CheckWebAddress(v, &why)) {
                    throw UsageError{"--web " + v + ": " + why};
                }
                c.modem.web = sim::Web::Address;
                c.modem.webAddress = v;
            }
        } else if (flag == "--http-status") {
            c.modem.builtinStatus = value();
        } else if (flag == "--http-body") {
            std::string body = value();
            for (std::size_t at = body.find("\\n"); at != std::string::npos;
                 at = body.find("\\n", at + 2)) {
                body.replace(at, 2, "\r\n");
            }
            c.modem.builtinBody = body;
        } else if (flag == "--hangup-pause") {
            c.modem.hangupPause = WholeMillis(flag, value());
        } else if (flag == "--other-contexts") {
            const std::string v = value();
            c.modem.otherContexts.clear();
            for (std::size_t at = 0; at <= v.size(); at += 2) {
                if ((v[at] != '0' && v[at] != '1') || (at + 1 < v.size() && v[at + 1] != ',')) {
                    throw UsageError{"--other-contexts wants states such as 1,0, not \"" + v +
                                     "\""};
                }
                c.modem.otherContexts.push_back(v[at] == '1');
            }
        } else if (flag == "--context-comes-up") {
            noValue();
            c.modem.contextComesUp = true;
        } else if (flag == "--silent-modem") {
            noValue();
            c.modem.silent = true;
        } else if (flag == "--error") {
            auto [n, cmd] = CountAndRest(flag, value());
            c.modem.errors.push_back({cmd, static_cast<int>(n)});
        } else if (flag == "--context-active") {
            noValue();
            c.modem.contextActive = true;
        } else if (flag == "--reactivate-ok") {
            noValue();
            c.modem.reactivateOk = true;
        } else if (flag == "--activation-delay") {
            c.modem.activationDelay = WholeMillis(flag, value());
        } else if (flag == "--ip") {
            c.modem.ipAddress = value();
        } else if (flag == "--trickle") {
            auto [n, ms] = CountAndRest(flag, value());
            c.modem.tricklePiece = static_cast<std::size_t>(n);
            c.modem.tricklePause = WholeMillis(flag, ms);
        } else if (flag == "--nul") {
            c.modem.nulBefore = static_cast<std::size_t>(Number(flag, value(), 0, 4096));
        } else if (flag == "--noise") {
            c.modem.noiseBefore = static_cast<std::size_t>(Number(flag, value(), 0, 4096));
        } else if (flag == "--dial-never-connects") {
            noValue();
            c.modem.dialNeverConnects = true;
        } else if (flag == "--refuse-dials") {
            c.modem.refusedDials = static_cast<int>(Number(flag, value(), 0, 1000000));
        } else if (flag == "--connect-timeout") {
            c.modem.connectTimeout = WholeMillis(flag, value());
        } else if (flag == "--rs485-reply") {
            std::string v = value();
            if (v == "xor") {
                c.rs485.reply = sim::Rs485Reply::Xor;
            } else if (v == "loopback") {
                c.rs485.reply = sim::Rs485Reply::Loopback;
            } else if (v == "silent") {
                c.rs485.reply = sim::Rs485Reply::Silent;
            } else {
                throw UsageError{"--rs485-reply wants xor, loopback or silent"};
            }
        } else if (flag == "--rs485-loopback") {
            noValue();
            c.rs485.reply = sim::Rs485Reply::Loopback;
        } else if (flag == "--rs485-silent") {
            noValue();
            c.rs485.reply = sim::Rs485Reply::Silent;
        } else if (flag == "--rs485-turnaround") {
            c.rs485.turnaround = Millis(flag, value());
        } else if (flag == "--rs485-gap") {
            c.rs485.frameGap = Millis(flag, value());
        } else if (flag == "--rs485-echo") {
            noValue();
            c.rs485.echo = true;
        } else if (flag == "--rs485-echo-pause") {
            c.rs485.echo = true;
            c.rs485.echoPause = WholeMillis(flag, value());
        } else if (flag == "--rs485-split") {
            c.rs485.splitPause = WholeMillis(flag, value());
        } else if (flag == "--rs485-split-after") {
            c.rs485.splitAfter = static_cast<std::size_t>(Number(flag, value(), 1, 1000));
        } else if (flag == "--rs485-extra") {
            noValue();
            c.rs485.extraByte = true;
        } else if (flag == "--rs485-stray") {
            c.rs485.strayBytes = static_cast<std::size_t>(Number(flag, value(), 0, 4096));
        } else {
            throw UsageError{"unknown option \"" + args[i] + "\""};
        }
    }
    if (c.modemCom != 0 && c.modemCom == c.rs485Com) {
        throw UsageError{"--modem and --rs485 must be different ports"};
    }
    return c;
}

std::string MakePrivateHome() {
    std::string templ = (std::filesystem::temp_directory_path() / "tarvic-sim.XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        throw std::runtime_error("cannot make a private folder in " +
                                 std::filesystem::temp_directory_path().string());
    }
    return buf.data();
}

}  // namespace
}  // namespace tarvic

int main(int argc, char** argv) {
    using namespace tarvic;
    Config cfg;
    try {
        cfg = Parse(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "tarvic-sim: " << e.text << "\nTry 'tarvic-sim --help'.\n";
        return 2;
    }
    if (cfg.help) {
        std::cout << kHelp;
        return 0;
    }
    if (cfg.version) {
        std::cout << "tarvic-sim " TARVIC_VERSION_DOTTED "\n";
        return 0;
    }

    // Every thread inherits this mask, so the signals reach sigwait below and nothing else.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    bool privateHome = cfg.configHome.empty();
    int status = 0;
    try {
        if (privateHome) {
            cfg.configHome = MakePrivateHome();
        }
        auto started = std::chrono::steady_clock::now();
        sim::Bench::Log log;
        if (cfg.verbose) {
            log = [started](const std::string& line) {
                double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                               .count();
                std::fprintf(stderr, "[%9.3f] %s\n", t, line.c_str());
            };
        }
        sim::Bench bench(cfg.configHome, log);
        if (cfg.modemCom != 0) {
            bench.AddModem(cfg.modemCom, cfg.modem);
        }
        if (cfg.rs485Com != 0) {
            bench.AddRs485(cfg.rs485Com, cfg.rs485);
        }
        bench.Start();

        std::printf("XDG_CONFIG_HOME=%s\n", cfg.configHome.c_str());
        if (cfg.modemCom != 0) {
            std::printf("COM%d: GPRS modem, %s -> %s\n", cfg.modemCom,
                        bench.LinkPath(cfg.modemCom).c_str(),
                        bench.DevicePath(cfg.modemCom).c_str());
        }
        if (cfg.rs485Com != 0) {
            std::printf("COM%d: RS-485 device, %s -> %s\n", cfg.rs485Com,
                        bench.LinkPath(cfg.rs485Com).c_str(),
                        bench.DevicePath(cfg.rs485Com).c_str());
        }
        std::fflush(stdout);
        std::fprintf(stderr,
                     "tarvic-sim is running. Start tarvic with XDG_CONFIG_HOME=%s; "
                     "Ctrl+C stops the simulator.\n",
                     cfg.configHome.c_str());

        int sig = 0;
        sigwait(&stopSignals, &sig);
        bench.Stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvic-sim: %s\n", e.what());
        status = 1;
    }
    if (privateHome && !cfg.configHome.empty()) {
        // Only the empty folders we made; anything someone else put there stays.
        std::error_code ec;
        std::filesystem::remove(cfg.configHome + "/tarvic/ports", ec);
        std::filesystem::remove(cfg.configHome + "/tarvic", ec);
        std::filesystem::remove(cfg.configHome, ec);
    }
    return status;
}

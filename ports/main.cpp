// tarvic-ports: shows the serial devices and which of them tarvic opens as COM1, COM2 ...,
// and writes or removes those entries of the port directory.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/PortLists.h"
#include "platform/posix/port_name.h"
#include "ports/devices.h"
#include "ports/mapping.h"
#include "res/version.h"

namespace {

namespace ports = tarvic::ports;

const char kHelp[] =
    R"(Usage: tarvic-ports [list]           show the serial devices and the port mapping
       tarvic-ports set N DEVICE     let tarvic open DEVICE as COM N
       tarvic-ports unset N          remove the mapping of COM N
       tarvic-ports --help | --version

tarvic opens port COM N through the entry comN of its port directory,
$XDG_CONFIG_HOME/tarvic/ports/ (normally ~/.config/tarvic/ports/); an entry is a
symbolic link to the device. Without an entry, COM N is /dev/ttyS<N-1>.

Without arguments tarvic-ports lists the serial devices it finds: the names in
/dev/serial/by-id/ (one per USB adapter, the same whichever socket it is plugged
into) with the device each leads to, /dev/ttyUSB*, /dev/ttyACM*, and the /dev/ttyS*
that have a port behind them. Then it lists the entries of the port directory and
where each leads. It says so when you may not open a device: serial devices
normally belong to the group dialout, and a user outside that group cannot use
them ("sudo usermod -aG dialout $USER", then log out and in again).

  set N DEVICE    N is 1 to 255 (or COM1 ... COM255); tarvic's own lists offer
                  COM1 to COM8 only. DEVICE is a device path such as /dev/ttyUSB0.
                  A bare name (no "/", such as ttyUSB0) is taken from /dev; a
                  relative path (such as serial/by-id/usb-...) from the current
                  folder. When a /dev/serial/by-id name leads to the same device,
                  the entry gets that name, so that the mapping survives re-plugging.
                  A device that exists but cannot be opened now (no permission,
                  another program holds it) is still mapped, with a warning.
  unset N         removes the entry comN.

Nothing outside the port directory is created, changed or removed; an entry that
is not a symbolic link (a file or a folder someone made) is left as it is.

Examples
  tarvic-ports set 1 /dev/ttyUSB0     the GPRS modem as COM1
  tarvic-ports set 4 ttyUSB1          the RS-485 adapter as COM4
  tarvic-ports unset 4

Exit status: 0 when done (also when the entry is written with a warning), 1 when
DEVICE is missing, is not a serial device or does not answer, or when the entry
could not be written or removed (the message names the device and the reason), 2
for a mistake on the command line.
)";

const char kByIdDir[] = "/dev/serial/by-id";

// How much of an argument a message repeats.
constexpr size_t kShownLength = 60;

// text as a message may show it: control characters written out, and cut when it is long.
std::string Shown(const std::string& text) {
    size_t end = text.size();
    if (end > kShownLength) {
        end = kShownLength;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80) {
            --end;  // not inside a UTF-8 character
        }
    }
    std::string out;
    for (size_t i = 0; i < end; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            const char hex[] = "0123456789abcdef";
            out += std::string("\\x") + hex[c >> 4] + hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > kShownLength) {
        out += "... (" + std::to_string(text.size()) + " characters)";
    }
    return out;
}

bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char ch) {
        auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c == 0x7f;
    });
}

struct UsageError {
    std::string text;
};

std::string Directory() {
    std::string dir = tarvic::posix::PortDirectory();
    if (dir.empty()) {
        throw ports::Error(
            "cannot tell where the port directory is: neither XDG_CONFIG_HOME nor HOME is set");
    }
    return dir;
}

// The problem a user would meet opening path, or empty.
std::string AccessNote(const std::string& path, const ports::User& user) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    return ports::AccessProblem(st, user);
}

int List() {
    ports::User user = ports::CurrentUser();
    std::cout << "Serial devices:\n";
    std::vector<ports::Device> devices = ports::FindDevices("/dev", "/sys/class/tty");
    if (devices.empty()) {
        std::cout << "  none found\n";
    }
    for (const ports::Device& d : devices) {
        std::cout << "  " << d.path;
        if (!d.target.empty()) {
            std::cout << " -> " << d.target;
        }
        std::cout << "\n";
        if (std::string note = AccessNote(d.path, user); !note.empty()) {
            std::cout << "      you may not open it: " << note << "\n";
        }
    }
    std::string dir = Directory();
    std::cout << "\nPort directory " << dir << ":\n";
    std::vector<ports::Entry> entries = ports::ReadEntries(dir);
    if (entries.empty()) {
        std::cout << "  no entries\n";
    }
    for (const ports::Entry& e : entries) {
        std::cout << "  COM" << e.number << " -> " << (e.link.empty() ? e.path : e.link);
        if (!e.device.empty() && e.device != e.link) {
            std::cout << " (" << e.device << ")";
        }
        if (!e.problem.empty()) {
            std::cout << ": " << e.problem;
        }
        std::cout << "\n";
        if (std::string note = e.device.empty() ? "" : AccessNote(e.device, user); !note.empty()) {
            std::cout << "      you may not open it: " << note << "\n";
        }
    }
    std::cout << "\nA COM number without an entry is /dev/ttyS<N-1>. "
                 "Map a port with: tarvic-ports set N DEVICE\n";
    return 0;
}

int PortArgument(const std::string& text) {
    int n = ports::ParsePortNumber(text);
    if (n == 0) {
        throw UsageError{"\"" + Shown(text) + "\" is not a port number (1 to " +
                         std::to_string(ports::kMaxPort) + ", or COM1 to COM" +
                         std::to_string(ports::kMaxPort) + ")"};
    }
    return n;
}

// Why opening device failed, in words for the person at the bench.
std::string OpenFailure(int error) {
    if (error == ENXIO) {
        // /dev/tty without a terminal, a port whose driver or hardware is not there.
        return "no port answers behind this name (" + std::string(std::strerror(error)) +
               "): the adapter is unplugged, the computer has no such port, or it is "
               "/dev/tty, which stands for the terminal a program runs in, not a serial port";
    }
    return "it does not answer: " + std::string(std::strerror(error));
}

// Why tarvic could not have the open device fd now, or empty. tarvic takes a flock lock
// on its port, which TIOCEXCL does not give root: a holder of the lock keeps tarvic out.
std::string LockNote(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return "another program holds it locked (flock), and tarvic cannot have it until that "
               "program closes it";
    }
    return {};
}

int Set(int n, std::string device) {
    if (device.empty()) {
        throw UsageError{"the device is empty: set N DEVICE, such as set 1 ttyUSB0"};
    }
    if (HasControlCharacter(device)) {
        throw UsageError{"the device \"" + Shown(device) +
                         "\" holds a control character; no device is named so"};
    }
    if (device.find('/') == std::string::npos) {
        device = "/dev/" + device;
    } else if (device[0] != '/') {
        device = std::filesystem::absolute(device).lexically_normal().string();
    }
    std::string what = "cannot map COM" + std::to_string(n) + " to " + Shown(device) + ": ";
    struct stat st;
    if (::stat(device.c_str(), &st) != 0) {
        throw ports::Error(what + std::strerror(errno));
    }
    if (!S_ISCHR(st.st_mode)) {
        throw ports::Error(what + "it is not a serial device (not a character device)");
    }
    std::string note = ports::AccessProblem(st, ports::CurrentUser());
    if (note.empty()) {
        // Asks the device whether it is a terminal; a port with no hardware behind it
        // fails here already.
        int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EBUSY) {
                // Held for exclusive use, by tarvic for one: the mapping is still right.
                note = "another program has it open for exclusive use";
            } else if (errno != EACCES && errno != EPERM) {
                throw ports::Error(what + OpenFailure(errno));
            } else {
                note = std::strerror(errno);
            }
        } else {
            bool tty = ::isatty(fd) != 0;
            if (tty) {
                note = LockNote(fd);
            }
            ::close(fd);
            if (!tty) {
                throw ports::Error(what + "it is not a serial device (not a terminal)");
            }
        }
    }
    std::string dir = Directory();
    // An entry of the port directory given as the device ("set 2 .../com2") stands for
    // where it leads; a link to it would change with it, or point at itself.
    std::error_code ec;
    if (std::filesystem::weakly_canonical(std::filesystem::path(device).parent_path(), ec) ==
        std::filesystem::weakly_canonical(dir, ec)) {
        device = std::filesystem::canonical(device, ec).string();
    }
    std::string name = ports::StableName(device, kByIdDir);
    ports::SetEntry(dir, n, name);
    std::cout << "COM" << n << " -> " << name;
    if (name != device) {
        std::cout << " (" << device << ")";
    }
    std::cout << "\n";
    if (!note.empty()) {
        std::cout << "The entry is written, but " << device << " cannot be opened now: " << note
                  << "\n";
    }
    if (n > kListedPorts) {
        std::cout << "COM" << n << " is there for other programs: tarvic's own port lists "
                  << "stop at COM" << kListedPorts << "\n";
    }
    return 0;
}

int Unset(int n) {
    std::string dir = Directory();
    if (ports::UnsetEntry(dir, n)) {
        std::cout << "COM" << n << " has no entry any more; it is /dev/ttyS" << n - 1 << " again\n";
    } else {
        std::cout << "COM" << n << " had no entry in " << dir << "\n";
    }
    return 0;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) {
        return List();
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h") {
        std::cout << kHelp;
        return 0;
    }
    if (command == "--version") {
        std::cout << "tarvic-ports " TARVIC_VERSION_DOTTED "\n";
        return 0;
    }
    if (command == "set") {
        if (args.size() != 3) {
            throw UsageError{"set wants a port number and a device: set N DEVICE"};
        }
        return Set(PortArgument(args[1]), args[2]);
    }
    if (command == "unset") {
        if (args.size() != 2) {
            throw UsageError{"unset wants a port number: unset N"};
        }
        return Unset(PortArgument(args[1]));
    }
    if (command == "list") {
        if (args.size() != 1) {
            throw UsageError{"list takes no argument"};
        }
        return List();
    }
    throw UsageError{"unknown command \"" + Shown(command) + "\""};
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "tarvic-ports: " << e.text << "\nTry 'tarvic-ports --help'.\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tarvic-ports: " << e.what() << "\n";
        return 1;
    }
}

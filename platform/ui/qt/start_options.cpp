#include "platform/ui/qt/start_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "res/version.h"

namespace tarvic::ui {
namespace {

constexpr const char* kUsage =
    "Usage: tarvic [--version | --help]\n"
    "Checks a GPRS modem and an RS-485 line on two serial ports, in one window.\n"
    "\n"
    "  --version  print the version and exit\n"
    "  --help     print this help and exit\n"
    "\n"
    "Ports COM1 to COM8 are the entries com1 to com8 of $XDG_CONFIG_HOME/tarvic/ports/\n"
    "(see tarvic-ports(1)); without an entry, COMn is /dev/ttyS<n-1>.\n";

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

int HandleStartOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tarvic %d.%d.%d.%d\n", TARVIC_VERSION_MAJOR, TARVIC_VERSION_MINOR,
                        TARVIC_VERSION_PATCH, TARVIC_VERSION_TWEAK);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    // Qt aborts (status 134) when its platform finds no display; a chosen platform
    // (offscreen, a Wayland or X11 one) is left to Qt.
    if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        std::fputs("tarvic: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)\n", stderr);
        return 1;
    }
    return -1;
}

}  // namespace tarvic::ui

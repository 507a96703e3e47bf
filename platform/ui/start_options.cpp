#include "platform/ui/start_options.h"

#include <cstring>

#include "res/version.h"

namespace tarvic::ui {

const char* const kUsageStart =
    "Checks a GPRS modem and an RS-485 line on two serial ports, in one window.\n"
    "\n"
    "  --version  print the version and exit\n"
    "  --help     print this help and exit\n";

StartRequest ReadStartOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            return StartRequest::Version;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            return StartRequest::Help;
        }
    }
    return StartRequest::Window;
}

std::string VersionLine() {
    return "tarvic " + std::to_string(TARVIC_VERSION_MAJOR) + "." +
           std::to_string(TARVIC_VERSION_MINOR) + "." + std::to_string(TARVIC_VERSION_PATCH) + "." +
           std::to_string(TARVIC_VERSION_TWEAK);
}

}  // namespace tarvic::ui

#include "platform/posix/port_name.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace tarvic::posix {

std::string PortDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/tarvic/ports";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config/tarvic/ports";
    }
    return {};
}

bool ResolvePortName(const char* name, std::string& path) {
    if (name == nullptr) {
        return false;
    }
    if (name[0] == '/') {
        path = name;
        return true;
    }
    if (std::strncmp(name, "\\\\.\\", 4) == 0) {
        name += 4;
    }
    if (std::strlen(name) < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
        return false;
    }
    const char* p = name + 3;
    unsigned long n = 0;
    const char* digits = p;
    while (std::isdigit(static_cast<unsigned char>(*p)) && n < 100000000) {
        n = n * 10 + static_cast<unsigned long>(*p - '0');
        ++p;
    }
    if (p == digits || n == 0 || !(*p == '\0' || (p[0] == ':' && p[1] == '\0'))) {
        return false;
    }
    std::string dir = PortDirectory();
    if (!dir.empty()) {
        std::string entry = dir + "/com" + std::to_string(n);
        struct stat st;
        if (lstat(entry.c_str(), &st) == 0) {
            path = entry;
            return true;
        }
    }
    path = "/dev/ttyS" + std::to_string(n - 1);
    return true;
}

}  // namespace tarvic::posix

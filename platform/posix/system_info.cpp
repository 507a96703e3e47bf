#include "platform/system_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/posix/kernel.h"
#include "platform/posix/port_name.h"

namespace tarvic::platform {

namespace {

std::string ErrnoText(int err) {
    char buf[256];
    // The GNU strerror_r: answers a text that may or may not be in buf.
    return strerror_r(err, buf, sizeof buf);
}

}  // namespace

LocalTime LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string PlatformName() {
    utsname u{};
    if (uname(&u) != 0) {
        return "Linux";
    }
    return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

std::string PortDevice(int port) {
    std::string path;
    if (!tarvic::posix::ResolvePortName(("COM" + std::to_string(port) + ":").c_str(), path)) {
        return {};
    }
    // An entry of the port directory: the device it leads to, or where it points when that
    // is missing.
    char real[PATH_MAX];
    if (realpath(path.c_str(), real) != nullptr) {
        return real;
    }
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : path;
}

std::string ErrorText(uint32_t code) {
    if (code == tarvic::posix::LastError() && tarvic::posix::LastErrno() != 0) {
        return ErrnoText(tarvic::posix::LastErrno());
    }
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return ErrnoText(ENOENT);
        case ERROR_ACCESS_DENIED:
            return ErrnoText(EACCES);
        case ERROR_SHARING_VIOLATION:
            return "in use by another program";
        case ERROR_NOT_SUPPORTED:
            return "not a serial port";
        case ERROR_NOT_ENOUGH_MEMORY:
            return ErrnoText(ENOMEM);
        case ERROR_DEVICE_NOT_CONNECTED:
            return ErrnoText(EIO);
        default:
            return "error " + std::to_string(code);
    }
}

}  // namespace tarvic::platform

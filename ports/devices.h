// The serial devices of this computer as tarvic-ports shows them: what exists, the stable
// name of each, and whether the user may open it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tarvic::ports {

struct Device {
    std::string path;    // as listed: /dev/ttyUSB0, /dev/serial/by-id/usb-...
    std::string target;  // for a by-id name: the device it leads to
};

// Under dev: the names in dev/serial/by-id with their targets, then dev/ttyUSB*,
// dev/ttyACM* and those dev/ttyS* that have a UART behind them (sysTty/ttySn/type is not 0;
// the kernel makes ttyS0..31 whether or not the hardware is there).
std::vector<Device> FindDevices(const std::string& dev, const std::string& sysTty);

// The name in byIdDir that leads to the same device as path; path itself when there is none.
// Such a name stays the same when the adapter is plugged into another socket.
std::string StableName(const std::string& path, const std::string& byIdDir);

// Who asks: the effective user, the groups this login has, and the user's name.
struct User {
    uid_t uid = 0;
    std::vector<gid_t> groups;
    std::string name;
};
User CurrentUser();

// Why user may not open a file of status st for reading and writing, in plain words
// ("belongs to the group dialout, and you are not in it ..."); empty when they may.
std::string AccessProblem(const struct stat& st, const User& user);

}  // namespace tarvic::ports

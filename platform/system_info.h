// What the log and the run transcripts say about the system: the local time, the
// platform's name, the device behind a port name and the text of an error code. Texts are
// UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace tarvic::platform {

struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
};
LocalTime LocalTimeNow();

// The system, its version and the machine: "Linux 6.1.0-18-amd64 x86_64".
std::string PlatformName();

// The device that port COM<port> stands for ("/dev/ttyS3", or what its entry in the port
// directory leads to); empty where the port names are the system's own (Windows).
std::string PortDevice(int port);

// The system's text for a code that GetLastError answered, in this thread's last call
// that failed ("Permission denied").
std::string ErrorText(uint32_t code);

}  // namespace tarvic::platform

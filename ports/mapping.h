// The entries com<n> of the port directory: reading them, writing one, removing one.
// Nothing outside the directory is created, changed or removed.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tarvic::ports {

// The highest port number tarvic-ports writes.
constexpr int kMaxPort = 255;

struct Entry {
    int number = 0;       // n of com<n>
    std::string path;     // the entry itself
    std::string link;     // what the link says; empty when the entry is not a link
    std::string device;   // where it leads, all links followed; empty when nowhere
    std::string problem;  // why it leads nowhere, or is not usable as a port
};

// A failure with a text that names the device or entry and the reason.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "3", "COM3", "com3", "COM3:" to 3; 0 when it is none of these or out of 1..kMaxPort.
int ParsePortNumber(const std::string& text);

// The entries com<n> of dir, by number; nothing when dir does not exist.
std::vector<Entry> ReadEntries(const std::string& dir);

// Makes dir/com<n> a link to target, replacing an earlier link of that name. Anything
// else of that name (a file, a folder) is someone's own: Error, and it is left as it is.
// Makes dir if it is missing.
void SetEntry(const std::string& dir, int n, const std::string& target);

// Removes the link dir/com<n>; false when there was none. Anything else of that name is
// left as it is (Error).
bool UnsetEntry(const std::string& dir, int n);

}  // namespace tarvic::ports

// The port-name policy: which device a Windows port name stands for.
#pragma once

#include <string>

namespace tarvic::posix {

// The folder whose entries com<n> name the ports: $XDG_CONFIG_HOME/tarvic/ports when that
// is an absolute path, else $HOME/.config/tarvic/ports; empty when neither is set.
std::string PortDirectory();

// "COM<n>:" (also "COM<n>" and "\\\\.\\COM<n>") to a device path: the entry com<n> of the
// port directory when it exists, else /dev/ttyS<n-1>. A name starting with '/' is a path.
bool ResolvePortName(const char* name, std::string& path);

}  // namespace tarvic::posix

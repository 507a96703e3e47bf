// Opening a pseudo-terminal: the one way the simulator, the serial tests and the serial
// benchmark make their lines.
#pragma once

#include <string>

namespace tarvic::sim {

// A new pseudo-terminal. The caller owns both descriptors (close-on-exec). The slave is
// opened once and made raw before anyone else can open it: a cooked line would echo what
// the tool writes back to it from the terminal itself, and the descriptor, held open,
// keeps the master from seeing a hang-up while no one else has the slave open.
struct PseudoTerminal {
    int master = -1;
    int slave = -1;
    std::string slavePath;
};

// With nonBlocking both descriptors are non-blocking. Throws std::system_error.
PseudoTerminal OpenPseudoTerminal(bool nonBlocking);

}  // namespace tarvic::sim

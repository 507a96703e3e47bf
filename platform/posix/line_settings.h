// Line settings between a DCB and termios, as pure functions: nothing here touches a
// descriptor, so every field's translation can be checked on its own.
#pragma once

#include <termios.h>

#include "platform/winapi.h"

namespace tarvic::posix {

// The DCB that describes t. The fields termios has no place for (the DTR and RTS
// controls when there is no handshake, and what a DCB only carries) come from kept.
DCB DcbFromTermios(const termios& t, const DCB& kept);

// Whether the line can take the DCB's byte size, parity, stop bits and speed.
bool DcbFits(const DCB& dcb);

// Makes t (the line as it is now) a raw line with dcb's settings. False when the DCB asks
// for what the line cannot do (byte size, parity, stop bits, speed); t is then unchanged.
bool TermiosFromDcb(const DCB& dcb, termios& t);

// Baud rate <-> termios speed code; false and 0 for a rate termios has no code for.
bool BaudToSpeed(DWORD baud, speed_t& code);
DWORD SpeedToBaud(speed_t code);

}  // namespace tarvic::posix

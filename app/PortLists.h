// The ports that the window's two lists offer, COM1 to COM8; tarvic-ports says when an
// entry it writes lies beyond them.
#pragma once

constexpr int kListedPorts = 8;

// What tarvic does with its command line before any window exists: --version and --help
// print and end, and a start without a display ends with one line instead of Qt's abort.
#pragma once

namespace tarvic::ui {

// Returns -1 when the program goes on to open its window, else the exit status.
int HandleStartOptions(int argc, char** argv);

}  // namespace tarvic::ui

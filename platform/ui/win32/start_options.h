// What tarvic.exe does with its command line before any window exists: --version and
// --help print and end. A window program has no console of its own: the text goes to the
// standard output that was handed over (a pipe, a file), else to the console of the command
// prompt that started it, else into a message box.
#pragma once

namespace tarvic::ui {

// Returns -1 when the program goes on to open its window, else the exit status.
int HandleStartOptions(int argc, char** argv);

}  // namespace tarvic::ui

// The command line tarvic reads before any window exists: --version and --help print and
// end the program. Each back end prints them where its user reads them.
#pragma once

#include <string>

namespace tarvic::ui {

enum class StartRequest { Window, Version, Help };

// The first of --version and --help decides; other arguments are left to the back end.
StartRequest ReadStartOptions(int argc, char** argv);

// "tarvic 1.0.0.1", the version that the program's resources carry too.
std::string VersionLine();

// The help text's first lines, the same on every platform; each back end adds where
// the ports and the transcripts are.
extern const char* const kUsageStart;

}  // namespace tarvic::ui

// Reading a run transcript's entry lines: the milliseconds since START, right-aligned,
// two blanks, then the entry.
#pragma once

#include <string>

namespace tarvic::test {

// True when line is such an entry line and its entry is exactly entry.
bool IsTranscriptEntry(const std::string& line, const std::string& entry);

}  // namespace tarvic::test

#include "tests/support/transcript_line.h"

#include <cctype>

namespace tarvic::test {

bool IsTranscriptEntry(const std::string& line, const std::string& entry) {
    size_t i = line.find_first_not_of(' ');
    const size_t digits = i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
        ++i;
    }
    return i != digits && line.compare(i, std::string::npos, "  " + entry) == 0;
}

}  // namespace tarvic::test

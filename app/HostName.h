// The web host typed into the URL field: checked before it goes into an AT command line.
#pragma once

#include <string>
#include <string_view>

// The text without surrounding blanks (spaces and tabs).
std::string TrimBlanks(std::string_view text);

// A host name (labels of 1 to 63 letters, digits and hyphens, no hyphen at either end of a
// label, joined by dots, 253 characters at most) or a dotted IPv4 address. Anything else
// could carry CR, LF, quotes or commas into the modem's command line.
bool IsValidHost(std::string_view host);

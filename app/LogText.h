// The log's entries as a person reads them: what the tool writes begins with "> ", control
// characters are shown as \r, \n or \xNN (and a backslash as \\), so each entry is one
// line of plain text and says exactly which bytes went or came. Texts are Windows-1251.
#pragma once

#include <string>
#include <string_view>

std::string EscapedLogText(std::string_view bytes);
// A command or request as it was written.
std::string SentLogEntry(std::string_view bytes);
// An outcome box: its caption, then its text.
std::string BoxLogEntry(bool success, const char* text);
// A port as the log and the transcript name it: "COM4 (/dev/ttyS3)", or "COM4" where device
// is empty (the system's own port names).
std::string PortLogText(int port, const std::string& device);
// A port that could not be opened: "COM4 (/dev/ttyS3): Permission denied"; device may be
// empty (the system's own port names).
std::string PortOpenFailedLogEntry(int port, const std::string& device, const std::string& reason);

#include "app/LogText.h"

#include <cstdio>

std::string EscapedLogText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (b < 0x20 || b == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string SentLogEntry(std::string_view bytes) {
    return "> " + EscapedLogText(bytes);
}

std::string BoxLogEntry(bool success, const char* text) {
    return std::string(success ? "OK: " : "ERROR: ") + text;
}

std::string PortLogText(int port, const std::string& device) {
    const std::string name = "COM" + std::to_string(port);
    return device.empty() ? name : name + " (" + device + ")";
}

std::string PortOpenFailedLogEntry(int port, const std::string& device, const std::string& reason) {
    return PortLogText(port, device) + ": " + reason;
}

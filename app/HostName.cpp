#include "app/HostName.h"

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (char c : s) {
        if (!IsAsciiDigit(c)) {
            return false;
        }
    }
    return true;
}

bool IsDottedIpv4(std::string_view s) {
    int parts = 0;
    while (true) {
        size_t dot = s.find('.');
        std::string_view part = s.substr(0, dot);
        if (!AllDigits(part) || part.size() > 3 || (part.size() > 1 && part[0] == '0')) {
            return false;
        }
        int value = 0;
        for (char c : part) {
            value = value * 10 + (c - '0');
        }
        if (value > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            break;
        }
        s.remove_prefix(dot + 1);
    }
    return parts == 4;
}

bool IsLabel(std::string_view label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
        return false;
    }
    for (char c : label) {
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '-') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
    const char* blanks = " \t";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

bool IsValidHost(std::string_view host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    if (IsDottedIpv4(host)) {
        return true;
    }
    std::string_view rest = host;
    std::string_view last;
    while (true) {
        size_t dot = rest.find('.');
        last = rest.substr(0, dot);
        if (!IsLabel(last)) {
            return false;
        }
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    // A name whose last label is all digits would be taken for a malformed address.
    return !AllDigits(last);
}

#include "platform/ui/win32/start_options.h"

#include <windows.h>

#include <string>

#include "platform/ui/start_options.h"
#include "platform/ui/win32/wide_text.h"

namespace tarvic::ui {
namespace {

constexpr const char* kUsageEnd =
    "\n"
    "The lists offer COM1 to COM8, the numbers Windows gives the ports (Device Manager,\n"
    "\"Ports (COM & LPT)\").\n"
    "\n"
    "When a check fails, Ctrl+L shows the log in the window. Every run also leaves a\n"
    "transcript in %LOCALAPPDATA%\\tarvic\\runs\\.\n";

bool Usable(HANDLE h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

// Windows line ends, for a file or a console alike.
std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

void Say(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!Usable(out) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        out = GetStdHandle(STD_OUTPUT_HANDLE);
    }
    const std::string lines = WithCrLf(text);
    DWORD written = 0;
    if (Usable(out) &&
        WriteFile(out, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
        written == lines.size()) {
        return;
    }
    // Started from a shortcut or Explorer: no one would read the text anywhere else.
    MessageBoxW(nullptr, Wide(text.c_str()).c_str(), L"tarvic", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

int HandleStartOptions(int argc, char** argv) {
    switch (ReadStartOptions(argc, argv)) {
        case StartRequest::Version:
            Say(VersionLine() + "\n");
            return 0;
        case StartRequest::Help:
            Say(std::string("Usage: tarvic.exe [--version | --help]\n") + kUsageStart + kUsageEnd);
            return 0;
        case StartRequest::Window:
            break;
    }
    return -1;
}

}  // namespace tarvic::ui

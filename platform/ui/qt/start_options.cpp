#include "platform/ui/qt/start_options.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ui/start_options.h"

namespace tarvic::ui {
namespace {

constexpr const char* kUsageEnd =
    "\n"
    "Ports COM1 to COM8 are the entries com1 to com8 of $XDG_CONFIG_HOME/tarvic/ports/\n"
    "(see tarvic-ports(1)); without an entry, COMn is /dev/ttyS<n-1>.\n"
    "\n"
    "When a check fails, Ctrl+L shows the log in the window. Every run also leaves a\n"
    "transcript in $XDG_STATE_HOME/tarvic/runs/ (normally ~/.local/state/tarvic/runs/).\n";

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

QtMessageHandler g_previousHandler = nullptr;
// What Qt said while the watch ran, one message a line.
std::string g_heldBack;
std::string g_firstMessage;

// The settings that chose the display, as "DISPLAY=:5".
std::string DisplaySettings() {
    std::string said;
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        if (Set(name)) {
            said += (said.empty() ? "" : ", ") + std::string(name) + "=" + std::getenv(name);
        }
    }
    return said;
}

void OnStartMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    std::string line = text.toStdString();
    if (type != QtFatalMsg) {
        g_heldBack += line + "\n";
        if (g_firstMessage.empty()) {
            g_firstMessage = line;
        }
        return;
    }
    // The platform's first warning names the cause ("could not connect to display :5"); Qt's
    // fatal text is a paragraph about reinstalling.
    std::string cause = g_firstMessage.empty() ? line.substr(0, line.find('\n')) : g_firstMessage;
    std::fprintf(stderr, "tarvic: cannot open the display (%s): %s\n", DisplaySettings().c_str(),
                 cause.c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

}  // namespace

int HandleStartOptions(int argc, char** argv) {
    switch (ReadStartOptions(argc, argv)) {
        case StartRequest::Version:
            std::printf("%s\n", VersionLine().c_str());
            return 0;
        case StartRequest::Help:
            std::printf("Usage: tarvic [--version | --help]\n%s%s", kUsageStart, kUsageEnd);
            return 0;
        case StartRequest::Window:
            break;
    }
    // Qt aborts (status 134) when its platform finds no display; a chosen platform
    // (offscreen, a Wayland or X11 one) is left to Qt.
    if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        std::fputs("tarvic: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)\n", stderr);
        return 1;
    }
    return -1;
}

DisplayStartWatch::DisplayStartWatch() {
    g_previousHandler = qInstallMessageHandler(OnStartMessage);
}

DisplayStartWatch::~DisplayStartWatch() {
    End();
}

void DisplayStartWatch::End() {
    if (!m_watching) {
        return;
    }
    m_watching = false;
    qInstallMessageHandler(g_previousHandler);
    std::fputs(g_heldBack.c_str(), stderr);
    g_heldBack.clear();
}

}  // namespace tarvic::ui

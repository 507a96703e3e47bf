// What tarvic does with its command line before any window exists: --version and --help
// print and end, and a start without a display, or with one that does not answer, ends with
// one line instead of Qt's abort.
#pragma once

namespace tarvic::ui {

// Returns -1 when the program goes on to open its window, else the exit status.
int HandleStartOptions(int argc, char** argv);

// Qt aborts when its platform cannot reach the display it was given (a DISPLAY that is set,
// with no X server behind it). From construction to End, such an end is one line on the
// standard error instead, and exit status 1; Qt's other messages of that time are held back
// and printed at End.
class DisplayStartWatch {
  public:
    DisplayStartWatch();
    ~DisplayStartWatch();
    DisplayStartWatch(const DisplayStartWatch&) = delete;
    DisplayStartWatch& operator=(const DisplayStartWatch&) = delete;
    void End();

  private:
    bool m_watching = true;
};

}  // namespace tarvic::ui

// What a back end gives the test driver: the driver's waits, timers and box handling are
// written once (test_driver.cpp) over these; each back end's test_driver.cpp provides
// them beside the input and inspection calls of test_driver.h. UI thread only. The
// driver's one pass of the event loop is the framework's own (ServeEventsOnce, backend.h).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ui/test_driver.h"

namespace tarvic::uitest::backend {

using TimerId = std::uintptr_t;
// Runs fn from the event loop every ms milliseconds (0: at the next pass) until
// StopTimer; fn may stop its own timer.
TimerId StartTimer(int ms, std::function<void()> fn);
// Unknown or already stopped ids are ignored.
void StopTimer(TimerId id);

// A message box that is up, as the back end knows it.
using Box = const void*;
// The boxes this process has up, oldest first.
std::vector<Box> Boxes();
MessageBoxInfo Describe(Box box);
// Presses the box's OK button as the mouse would; false if it has none. The box may be
// served by another thread, so it may still be up when this returns.
bool PressOk(Box box);

}  // namespace tarvic::uitest::backend

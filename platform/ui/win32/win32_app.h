// What the Win32 back end's parts share: the UI thread's serving of other threads' calls.
#pragma once

#include "platform/ui/framework.h"

namespace tarvic::ui {

// Makes this thread the UI thread and able to serve other threads' calls (dialog start,
// entry point, test start).
void StartServingCalls();
// Serves this thread's messages once, without waiting; false when WM_QUIT came.
bool ServeMessages();

// The window is going: its system-menu keys go with it (system_menu.cpp).
void ForgetSystemMenuKeys(HWND window);

}  // namespace tarvic::ui

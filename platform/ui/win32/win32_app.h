// What the Win32 back end's parts share: the UI thread's serving of other threads' calls.
#pragma once

#include "platform/ui/framework.h"

namespace tarvic::ui {

// Makes this thread the UI thread and able to serve other threads' calls (dialog start,
// entry point, test start).
void StartServingCalls();
// Serves this thread's messages once, without waiting; false when WM_QUIT came. The WM_QUIT
// is posted again, or, given quitCode, taken out and its code kept there.
bool ServeMessages(int* quitCode = nullptr);

// A combo box's notification to its dialog; true when it was one that is handled here.
bool OnComboNotification(HWND combo, UINT code);

// The window is going: its system-menu keys go with it (system_menu.cpp).
void ForgetSystemMenuKeys(HWND window);

}  // namespace tarvic::ui

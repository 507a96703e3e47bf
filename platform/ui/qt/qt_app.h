// Start-up of the Qt application, shared by the program's entry point and the tests.
#pragma once

namespace ui {

// Sets the look and starts serving other threads' calls; after QApplication exists.
void SetUpApplication();

// Lets non-UI threads show message boxes again (a new dialog starts).
void AllowMessageBoxes();

}  // namespace ui

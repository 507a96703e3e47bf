// Start-up of the Qt application, and the UI thread's serving of other threads' calls.
#pragma once

namespace tarvic::ui {

// Sets the look and starts serving other threads' calls; after QApplication exists.
void SetUpApplication();

// Makes the UI thread able to serve calls from other threads. Called on the UI thread
// before anything else may call in (dialog start, entry point, test start).
void StartServingCalls();

// Serves the queued requests now (called by the UI thread's own waits).
void ServePendingCalls();

}  // namespace tarvic::ui

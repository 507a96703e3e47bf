// The reader thread's own fixed waits. The tests that tell the reader's waits from the
// callers' take them from here too.
#pragma once

#include "platform/winapi.h"

namespace tarvic::reader {

// How long the reader waits for one read before it cancels it and takes what it has.
inline constexpr DWORD kReadPassMs = 10000;
// The receive event stays set this long after a delivery for a Read to take it.
inline constexpr DWORD kDeliveryPauseMs = 5;

}  // namespace tarvic::reader

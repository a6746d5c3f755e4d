#pragma once

// Keeps the computer and its display awake while the engine runs, so that neither sleep
// nor the screen saver interrupts a download. Silently does nothing where the system
// offers no way to do so.
namespace KeepAwake {
// Takes whatever is not held yet; cheap to call again.
void hold();
void release();
} // namespace KeepAwake

// The set-ups of the video-output base classes (OVLA, IDCT).
#pragma once

namespace core {

// Fills the overlay base's slots 1-3 and its defaults (scales 1, no colour key).
int OverlaySetUp(void* object);
// Runs the plug-in's doneOutput when the output is initialised (before the object's
// destroys run).
void OverlayRelease(void* object);
// Fills the face base's slots 1-3.
int IdctSetUp(void* object);

}  // namespace core

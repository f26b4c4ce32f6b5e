// The headless harness's side of a presented frame. Without a window nothing is shown;
// instead LUMARET_SCREENSHOT receives the last frame of the run, and with
// LUMARET_SCREENSHOT_FRAMES=1,90,250 also each listed frame, as <name>_<frame>.png. The
// window system decides which frame is the last (WindowSystem.h).
#pragma once

#include <cstddef>

namespace lumaret::platform {

class Device;

// Called by Present for every frame of a headless run.
void HeadlessFramePresented(Device& device);
// Writes the back buffer as a PNG; false on failure (errno says why where it can), and
// then no file, or the one that was there, is left at the path.
bool SaveScreenshot(Device& device, const char* path);
// Writes the bytes to a file of that path whole, or leaves no new file at all.
bool WriteWholeFileOrNothing(const char* path, const void* data, size_t size);

}  // namespace lumaret::platform

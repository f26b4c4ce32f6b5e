// The headless harness's side of a presented frame. Without a window nothing is shown;
// instead LUMARET_SCREENSHOT receives the last frame of the run, and with
// LUMARET_SCREENSHOT_FRAMES=1,90,250 also each listed frame, as <name>_<frame>.png. The
// window system decides which frame is the last (WindowSystem.h).
#pragma once

namespace lumaret::platform {

class Device;

// Called by Present for every frame of a headless run.
void HeadlessFramePresented(Device& device);
// Writes the back buffer as a PNG; false on failure.
bool SaveScreenshot(Device& device, const char* path);

}  // namespace lumaret::platform

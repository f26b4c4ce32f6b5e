// F12's screenshots: the picture as shown (overlays and debug view included) saved through
// D3DX to screenshot_NNN.png in the working directory, the next free number from 001.
#pragma once

#include <string>

class Renderer;

// "screenshot_001.png", or the first number after it that no file in the working directory has.
std::string NextScreenshotName();

// Saves the back buffer and logs "Screenshot: NAME"; a screenshot that cannot be taken or
// written is one log line saying why (the system's reason where there is one), also left in
// *failure for the screen, and the run goes on.
bool SaveNumberedScreenshot(Renderer& renderer, std::string* failure = nullptr);

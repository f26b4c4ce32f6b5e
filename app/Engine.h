// Start-up, main loop and shutdown of the engine program.
//
// RunEngine brings the engine up in a fixed order, runs frames until Escape is down or
// WM_QUIT arrives, and tears it down. It owns the process-wide window; the renderer and
// the world hang off gRenderer and gWorld once they exist. The screen size and the
// full-screen switch are build-time choices made by WinMain.
#pragma once

#include "app/Window.h"

struct ScreenConfig {
    int width = 640;
    int height = 480;
    bool fullscreen = true;
};

// The application's window: constructed before WinMain runs, destroyed at process exit.
extern Window gWindow;

int RunEngine(const ScreenConfig& screen);

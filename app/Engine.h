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

// The program's choice of allocator settings, made by WinMain before anything allocates
// much. On glibc, blocks of 64 MiB and less stay in the heap and the heap is trimmed only
// past 256 MiB free: the software rasteriser under the Linux layer allocates and frees
// large blocks around every state change between draws, and with glibc's defaults each
// was mapped fresh and returned, page faults and all. Measured with frame_bench at
// 640 x 480: 60-64 ms of main-thread CPU per frame with the defaults, 14-16 ms with
// these. Elsewhere it does nothing.
void KeepLargeAllocationsInHeap();

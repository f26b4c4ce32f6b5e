// The program's entry point. The screen size and full-screen switch are fixed when the
// executable is built (engine: 640 x 480, engine_1024x768: 1024 x 768).
#include "app/Engine.h"

#include <windows.h>

#ifndef LUMARET_SCREEN_WIDTH
#define LUMARET_SCREEN_WIDTH 640
#define LUMARET_SCREEN_HEIGHT 480
#endif
#ifndef LUMARET_FULLSCREEN
#define LUMARET_FULLSCREEN 1
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ScreenConfig screen;
    screen.width = LUMARET_SCREEN_WIDTH;
    screen.height = LUMARET_SCREEN_HEIGHT;
    screen.fullscreen = LUMARET_FULLSCREEN != 0;
    KeepLargeAllocationsInHeap();
    return RunEngine(screen);
}

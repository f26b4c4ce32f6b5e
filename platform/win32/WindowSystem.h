// Internal seam between the Win32 windowing layer and the rest of the platform.
//
// The window system owns SDL's video and event subsystems. When no display is present
// (no DISPLAY or WAYLAND_DISPLAY, or the one named cannot be opened) it runs headless:
// windows still exist as handles and receive the messages the program posts, and the
// GPU device renders off-screen through EGL.
#pragma once

#include <windows.h>

#include <cstdint>

struct SDL_Window;

namespace lumaret::platform {

// True once the window system has decided there is no display to open windows on.
bool IsHeadless();

// The SDL window behind a handle; null for headless windows and unknown handles.
SDL_Window* SdlWindowOf(HWND window);

// The id that SDL events use for this window (a synthetic one when headless), so that
// tests can feed input through the real message path with SDL_PushEvent.
uint32_t SdlWindowIdOf(HWND window);

// A GPU device keeps the SDL window its GL context draws to alive: DestroyWindow then
// only hides it, and the last release destroys it. (Direct3D 9 lets a device outlive its
// window; a GL context must not outlive its surface.)
SDL_Window* RetainSdlWindow(HWND window);
void ReleaseSdlWindow(SDL_Window* window);

// True once the window behind an SDL window was destroyed from outside the program (the
// window manager, xdotool windowclose): nothing can be shown in it any more.
bool SdlWindowLost(SDL_Window* window);

// Headless runs stop themselves: after LUMARET_HEADLESS_FRAMES calls of PeekMessageA
// (one per frame of a main loop; default 600, 0 = never) every window is sent WM_CLOSE.
// True from the frame on which that close was posted.
bool HeadlessStopRequested();
// The number of the frame being rendered in a headless run: PeekMessageA calls so far.
long HeadlessFrameNumber();

}  // namespace lumaret::platform

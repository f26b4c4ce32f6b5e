// Windows that disappear under the program on X11: a window manager or `xdotool
// windowclose` may destroy the X window while the program still draws to it. Win32 has no
// such state (a window goes only through DestroyWindow), so the window system treats the
// disappearance as the user closing the window, and requests that still reach the dead
// window are not allowed to end the process with an X error.
//
// Kept apart from Windows.cpp because Xlib's headers define names (None, Bool, Window)
// that collide with the Win32 declarations.
#pragma once

#include <vector>

struct SDL_Window;
union SDL_Event;

namespace lumaret::platform {

// Starts watching an SDL window when it lives on X11 (no effect for other drivers).
void WatchX11Window(SDL_Window* window);
// Stops watching it before the program destroys it itself.
void UnwatchX11Window(SDL_Window* window);
// Looks at an SDL system event for the destruction of a watched window.
void NoteX11Event(const SDL_Event& event);
// Watched windows found gone since the last call (each reported once).
std::vector<SDL_Window*> TakeLostX11Windows();

}  // namespace lumaret::platform

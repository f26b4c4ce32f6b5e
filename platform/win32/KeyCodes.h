// SDL key codes to Win32 virtual-key codes.
#pragma once

#include <windows.h>

#include <SDL_keycode.h>

namespace lumaret::platform {

// The virtual-key code Windows reports for a key, or 0 for keys the layer does not map.
WPARAM VirtualKeyFromSdl(SDL_Keycode key);

}  // namespace lumaret::platform

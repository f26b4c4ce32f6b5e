// Windows and window classes on SDL2: a window is a handle and a record, with an SDL
// window behind it where there is a display (hidden until shown, its title the window's
// text) and none in a headless run; a GPU device may keep the SDL window alive after the
// Win32 window is destroyed (WindowSystem.h).
#include "win32/Settings.h"
#include "win32/WindowState.h"
#include "win32/WindowSystem.h"
#include "win32/X11Watch.h"

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace lumaret::platform::windowing {

// Never destroyed: the application's static Window is torn down during process exit,
// after function-local statics constructed later than it would already be gone.
WindowSystem& System() {
    static WindowSystem* system = new WindowSystem;
    return *system;
}

namespace {

DWORD gLastError = 0;

const char* NonEmptyVariable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// Windows are only wanted where a desktop can show them. SDL is told to try exactly the
// displays the environment names (or the driver SDL_VIDEODRIVER asks for): left to itself
// it falls back to a console or off-screen driver when the named display cannot be
// opened, and the program would run invisible, ignoring the headless frame limit. A
// display that does not open means a headless run, said once on stderr.
bool OpenDisplay() {
    const char* wayland = NonEmptyVariable("WAYLAND_DISPLAY");
    const char* x11 = NonEmptyVariable("DISPLAY");
    std::string named;
    std::string drivers;
    if (const char* requested = NonEmptyVariable("SDL_VIDEODRIVER")) {
        named = std::string("SDL_VIDEODRIVER=") + requested;
    } else {
        if (wayland) {
            named = std::string("WAYLAND_DISPLAY=") + wayland;
            drivers = "wayland";
        }
        if (x11) {
            named += (named.empty() ? "DISPLAY=" : " and DISPLAY=") + std::string(x11);
            drivers += drivers.empty() ? "x11" : ",x11";
        }
        if (drivers.empty()) return false;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "lumaret: the display named by %s cannot be opened (%s): running headless\n",
                     named.c_str(), SDL_GetError());
        return false;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    for (const char* invisible : {"offscreen", "dummy", "evdev"}) {
        if (driver && std::strcmp(driver, invisible) == 0) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            std::fprintf(stderr, "lumaret: SDL's %s video driver (%s) shows no windows: running headless\n", driver,
                         named.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

void InitialiseOnce() {
    WindowSystem& sys = System();
    if (sys.initialised) return;
    sys.initialised = true;
    lumaret::platform::CheckPlatformSettings();
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    SDL_Init(SDL_INIT_EVENTS);
    sys.videoAvailable = OpenDisplay();
    sys.headlessFrameLimit = lumaret::platform::HeadlessFrameLimit();
    sys.maxFrameLimit = lumaret::platform::MaxFrameLimit();
}

WindowRecord* Find(HWND window) {
    auto& windows = System().windows;
    auto it = windows.find(reinterpret_cast<uintptr_t>(window));
    return it == windows.end() ? nullptr : &it->second;
}

HWND FindBySdlId(uint32_t id) {
    for (auto& [handle, record] : System().windows)
        if (record.sdlId == id) return reinterpret_cast<HWND>(handle);
    return nullptr;
}

void DestroySdlWindow(SDL_Window* sdl) {
    lumaret::platform::UnwatchX11Window(sdl);
    System().lost.erase(sdl);
    SDL_DestroyWindow(sdl);
}

}  // namespace lumaret::platform::windowing

using namespace lumaret::platform::windowing;

namespace lumaret::platform {

bool IsHeadless() {
    InitialiseOnce();
    return !System().videoAvailable;
}

SDL_Window* SdlWindowOf(HWND window) {
    WindowRecord* record = Find(window);
    return record ? record->sdl : nullptr;
}

uint32_t SdlWindowIdOf(HWND window) {
    WindowRecord* record = Find(window);
    return record ? record->sdlId : 0;
}

bool SdlWindowLost(SDL_Window* window) { return window && System().lost.count(window); }

SDL_Window* RetainSdlWindow(HWND window) {
    SDL_Window* sdl = SdlWindowOf(window);
    if (sdl) ++System().retained[sdl];
    return sdl;
}

void ReleaseSdlWindow(SDL_Window* sdl) {
    WindowSystem& sys = System();
    auto it = sys.retained.find(sdl);
    if (!sdl || it == sys.retained.end()) return;
    if (--it->second > 0) return;
    sys.retained.erase(it);
    if (sys.orphaned.erase(sdl)) DestroySdlWindow(sdl);
}

}  // namespace lumaret::platform

DWORD WINAPI GetLastError() { return gLastError; }
void WINAPI SetLastError(DWORD error) { gLastError = error; }

ATOM WINAPI RegisterClassA(const WNDCLASSA* wndClass) {
    InitialiseOnce();
    if (!wndClass || !wndClass->lpszClassName || !wndClass->lpfnWndProc) {
        gLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    auto& classes = System().classes;
    if (classes.count(wndClass->lpszClassName)) {
        gLastError = ERROR_CLASS_ALREADY_EXISTS;
        return 0;
    }
    classes[wndClass->lpszClassName] = WindowClass{wndClass->lpfnWndProc, wndClass->hbrBackground};
    return static_cast<ATOM>(classes.size());
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
    return className && System().classes.erase(className) ? TRUE : FALSE;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND, HMENU, HINSTANCE, LPVOID) {
    InitialiseOnce();
    WindowSystem& sys = System();
    auto cls = className ? sys.classes.find(className) : sys.classes.end();
    if (cls == sys.classes.end()) {
        gLastError = ERROR_CANNOT_FIND_WND_CLASS;
        return nullptr;
    }
    WindowRecord record;
    record.className = className;
    record.procedure = cls->second.procedure;
    record.style = style;
    record.x = x;
    record.y = y;
    record.width = width;
    record.height = height;
    if (sys.videoAvailable) {
        Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI;
        if (!(style & WS_VISIBLE)) flags |= SDL_WINDOW_HIDDEN;
        if (style & WS_POPUP) flags |= SDL_WINDOW_BORDERLESS;
        if (style & WS_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;
        record.sdl = SDL_CreateWindow(windowName ? windowName : "", x, y, width, height, flags);
        if (!record.sdl) {
            gLastError = E_FAIL;
            return nullptr;
        }
        record.sdlId = SDL_GetWindowID(record.sdl);
        lumaret::platform::WatchX11Window(record.sdl);
    } else {
        record.sdlId = sys.nextHeadlessId++;
    }
    uintptr_t handle = sys.nextHandle++;
    sys.windows.emplace(handle, std::move(record));
    return reinterpret_cast<HWND>(handle);
}

BOOL WINAPI IsWindow(HWND window) { return Find(window) ? TRUE : FALSE; }

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    WindowRecord* record = Find(window);
    if (!record) {
        gLastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    if (record->sdl) SDL_SetWindowTitle(record->sdl, text ? text : "");
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    WindowRecord* record = Find(window);
    if (!record) {
        gLastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    BOOL wasVisible = (record->style & WS_VISIBLE) ? TRUE : FALSE;
    if (command == SW_HIDE)
        record->style &= ~static_cast<DWORD>(WS_VISIBLE);
    else
        record->style |= WS_VISIBLE;
    if (record->sdl) (record->style & WS_VISIBLE) ? SDL_ShowWindow(record->sdl) : SDL_HideWindow(record->sdl);
    return wasVisible;
}

BOOL WINAPI DestroyWindow(HWND window) {
    WindowRecord* record = Find(window);
    if (!record) {
        gLastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    // Win32 sends WM_DESTROY while the window still exists, then removes it.
    if (record->procedure) record->procedure(window, WM_DESTROY, 0, 0);
    record = Find(window);
    if (!record) return TRUE;
    if (record->sdl) {
        if (System().retained.count(record->sdl)) {
            SDL_HideWindow(record->sdl);
            System().orphaned[record->sdl] = true;
        } else {
            DestroySdlWindow(record->sdl);
        }
    }
    System().windows.erase(reinterpret_cast<uintptr_t>(window));
    auto& queue = System().queue;
    for (auto it = queue.begin(); it != queue.end();) it = it->hwnd == window ? queue.erase(it) : it + 1;
    if (System().mouseMove.hwnd == window) System().mouseMovePending = false;
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT) {
    WindowRecord* record = Find(window);
    if (!record) return FALSE;
    record->x = x;
    record->y = y;
    record->width = cx;
    record->height = cy;
    if (record->sdl) {
        SDL_SetWindowPosition(record->sdl, x, y);
        SDL_SetWindowSize(record->sdl, cx, cy);
    }
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    WindowRecord* record = Find(window);
    if (!record || !rect) return FALSE;
    int w = record->width, h = record->height;
    if (record->sdl) SDL_GetWindowSize(record->sdl, &w, &h);
    *rect = RECT{0, 0, w, h};
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
    if (index != SM_CMONITORS || lumaret::platform::IsHeadless()) return 0;
    int displays = SDL_GetNumVideoDisplays();
    return displays > 0 ? displays : 0;
}

int WINAPI ShowCursor(BOOL show) {
    WindowSystem& sys = System();
    sys.cursorCount += show ? 1 : -1;
    if (sys.videoAvailable) SDL_ShowCursor(sys.cursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return sys.cursorCount;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    WindowRecord* record = Find(window);
    if (!record) {
        gLastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    LONG_PTR previous = 0;
    if (index == GWLP_USERDATA) {
        previous = record->userData;
        record->userData = value;
    } else if (index == GWLP_WNDPROC) {
        previous = reinterpret_cast<LONG_PTR>(record->procedure);
        record->procedure = reinterpret_cast<WNDPROC>(value);
    }
    return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    WindowRecord* record = Find(window);
    if (!record) return 0;
    if (index == GWLP_USERDATA) return record->userData;
    if (index == GWLP_WNDPROC) return reinterpret_cast<LONG_PTR>(record->procedure);
    return 0;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR cursorName) { return reinterpret_cast<HCURSOR>(const_cast<char*>(cursorName)); }

HGDIOBJ WINAPI GetStockObject(int object) { return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(object + 1)); }

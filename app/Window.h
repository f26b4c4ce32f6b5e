// Window: the one top-level window the renderer draws into, and the keyboard and mouse
// state that arrives through its window procedure.
//
// The application keeps one static Window. Window::create registers a class named after
// the window's serial number and creates the window; a second call only moves and resizes
// it. The default procedure records keys and mouse input and turns WM_DESTROY into the
// quit message. Rendering, timing and the main loop live elsewhere.
#pragma once

#include <windows.h>

#include <cstdint>

class Window {
public:
    Window();
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // style: 0 full-screen popup, 1 windowed with a sizing frame, anything else plain. A
    // window made hidden stays so until ShowWindow.
    void create(int x, int y, int width, int height, int style, WNDPROC procedure = nullptr, bool visible = true);
    void destroy();

    static LRESULT CALLBACK DefaultProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD StyleBits(int style);

    uint8_t KeyState[256];
    uint32_t MouseButtons = 0;
    int mouseX = 0;
    int mouseY = 0;
    int wheel = 0;  // wheel rotation since the reader last took it, in WHEEL_DELTA units per notch
    int x = 0, y = 0;
    int width = 0, height = 0;
    int id = 0;
    HWND handle = nullptr;
    WNDPROC procedure = nullptr;

private:
    LRESULT HandleMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
    void StoreMousePosition(LPARAM lParam);

    static int sNextId;
};

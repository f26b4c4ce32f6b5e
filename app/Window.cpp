#include "app/Window.h"

#include "app/Log.h"

#include <cstring>

int Window::sNextId = 0;

Window::Window() : id(sNextId++) { std::memset(KeyState, 0, sizeof(KeyState)); }

Window::~Window() { destroy(); }

DWORD Window::StyleBits(int style) {
    switch (style) {
    case 0: return WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    case 1: return WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_THICKFRAME;
    default: return WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    }
}

void Window::create(int newX, int newY, int newWidth, int newHeight, int style, WNDPROC newProcedure, bool visible) {
    if (handle) {
        x = newX;
        y = newY;
        width = newWidth;
        height = newHeight;
        SetWindowPos(handle, nullptr, x, y, width, height, 0);
        Log::Write("Window::create: Window already created, resizing only.\n");
        return;
    }
    x = newX;
    y = newY;
    width = newWidth;
    height = newHeight;
    procedure = newProcedure ? newProcedure : &Window::DefaultProcedure;

    char className[16];
    itoa(id, className, 10);
    WNDCLASSA windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass)) GetLastError();  // an existing class is fine

    DWORD styleBits = StyleBits(style) & ~static_cast<DWORD>(visible ? 0 : WS_VISIBLE);
    handle = CreateWindowExA(WS_EX_APPWINDOW, className, "engine", styleBits, x, y, width, height, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    if (!handle) return;  // Renderer::Init reports the missing window
    SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowCursor(TRUE);
}

void Window::destroy() {
    if (IsWindow(handle)) DestroyWindow(handle);
    handle = nullptr;
    procedure = nullptr;
}

LRESULT CALLBACK Window::DefaultProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<Window*>(GetWindowLongPtrA(handle, GWLP_USERDATA));
    // Messages that arrive before the record is attached go to the default handling.
    if (!window) return DefWindowProcA(handle, message, wParam, lParam);
    return window->HandleMessage(handle, message, wParam, lParam);
}

void Window::StoreMousePosition(LPARAM lParam) {
    mouseX = LOWORD(lParam);
    mouseY = HIWORD(lParam);
}

LRESULT Window::HandleMessage(HWND messageHandle, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        Log::Write("WM_DESTROY\n");
        PostQuitMessage(0);
        return 0;
    case WM_KEYDOWN:
        if (wParam < sizeof(KeyState)) KeyState[wParam] = 1;
        if (wParam == VK_ESCAPE) Log::Write("ESC!\n");
        return 0;
    case WM_KEYUP:
        if (wParam < sizeof(KeyState)) KeyState[wParam] = 0;
        return 0;
    case WM_MOUSEMOVE:
        StoreMousePosition(lParam);
        return 0;
    case WM_LBUTTONDOWN: StoreMousePosition(lParam); MouseButtons |= 1; return 0;
    case WM_LBUTTONUP: StoreMousePosition(lParam); MouseButtons &= ~1u; return 0;
    case WM_RBUTTONDOWN: StoreMousePosition(lParam); MouseButtons |= 2; return 0;
    case WM_RBUTTONUP: StoreMousePosition(lParam); MouseButtons &= ~2u; return 0;
    case WM_MBUTTONDOWN: StoreMousePosition(lParam); MouseButtons |= 4; return 0;
    case WM_MBUTTONUP: StoreMousePosition(lParam); MouseButtons &= ~4u; return 0;
    case WM_MOUSEWHEEL: wheel += GET_WHEEL_DELTA_WPARAM(wParam); return 0;
    default:
        return DefWindowProcA(messageHandle, message, wParam, lParam);
    }
}

// Windows, window classes and the message queue on SDL2.
//
// SDL events are translated into the Win32 messages the engine handles and queued in
// arrival order; PeekMessageA hands them out one at a time. WM_QUIT behaves as in Win32:
// PostQuitMessage raises a flag and WM_QUIT is retrieved once no other message waits.
// Mouse motion is never queued either: as in Win32, one WM_MOUSEMOVE with the latest
// position is synthesised when nothing else waits, so a program that takes one message
// per frame sees a key press in the next frame however much the mouse moved. Files dropped
// on a window that called DragAcceptFiles arrive as one WM_DROPFILES per drop.
#include "win32/WindowSystem.h"
#include "win32/KeyCodes.h"
#include "win32/Settings.h"
#include "win32/X11Watch.h"

#include <SDL.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

// What DragQueryFileA reads: the paths of one drop.
struct HDROP__ {
    std::vector<std::string> files;
};

namespace {

struct WindowClass {
    WNDPROC procedure = nullptr;
    HBRUSH background = nullptr;
};

struct WindowRecord {
    std::string className;
    WNDPROC procedure = nullptr;
    LONG_PTR userData = 0;
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    SDL_Window* sdl = nullptr;
    uint32_t sdlId = 0;
    bool acceptsFiles = false;
};

struct WindowSystem {
    bool initialised = false;
    bool videoAvailable = false;
    std::map<std::string, WindowClass> classes;
    std::map<uintptr_t, WindowRecord> windows;
    uintptr_t nextHandle = 1;
    uint32_t nextHeadlessId = 0x10000;
    std::deque<MSG> queue;
    bool mouseMovePending = false;
    MSG mouseMove{};  // the latest motion, retrieved when the queue holds nothing else
    bool quitPosted = false;
    int quitCode = 0;
    long headlessFrameLimit = 600;
    long headlessFrames = 0;
    int64_t pumpTurns = 0;  // PeekMessageA calls: the clock of LUMARET_FRAME_TIME runs on them
    bool headlessStop = false;
    long maxFrameLimit = 0;  // LUMARET_MAX_FRAMES: 0 = no bound
    bool maxStop = false;
    int cursorCount = 0;
    HDROP dropping = nullptr;  // the files of a drop SDL has begun and not yet completed
    uint32_t droppingWindow = 0;
    bool droppingBegun = false;
    std::map<SDL_Window*, int> retained;     // SDL windows in use by GPU devices
    std::map<SDL_Window*, bool> orphaned;    // destroyed as Win32 windows, still retained
    std::set<SDL_Window*> lost;              // destroyed from outside the program
};

// Never destroyed: the application's static Window is torn down during process exit,
// after function-local statics constructed later than it would already be gone.
WindowSystem& System() {
    static WindowSystem* system = new WindowSystem;
    return *system;
}

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

// Keyboard input goes to the window with the focus: the one SDL names, else the newest.
HWND KeyboardTarget(uint32_t id) {
    if (HWND window = FindBySdlId(id)) return window;
    auto& windows = System().windows;
    return windows.empty() ? nullptr : reinterpret_cast<HWND>(windows.rbegin()->first);
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = SDL_GetTicks();
    System().queue.push_back(msg);
}

WPARAM MouseKeyState() {
    uint32_t buttons = SDL_GetMouseState(nullptr, nullptr);
    WPARAM state = 0;
    if (buttons & SDL_BUTTON_LMASK) state |= MK_LBUTTON;
    if (buttons & SDL_BUTTON_RMASK) state |= MK_RBUTTON;
    if (buttons & SDL_BUTTON_MMASK) state |= MK_MBUTTON;
    SDL_Keymod mods = SDL_GetModState();
    if (mods & KMOD_SHIFT) state |= MK_SHIFT;
    if (mods & KMOD_CTRL) state |= MK_CONTROL;
    return state;
}

void TranslateEvent(const SDL_Event& event) {
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        HWND window = KeyboardTarget(event.key.windowID);
        if (!window) return;
        WPARAM vk = lumaret::platform::VirtualKeyFromSdl(event.key.keysym.sym);
        if (vk == 0) return;
        bool down = event.type == SDL_KEYDOWN;
        bool alt = (event.key.keysym.mod & KMOD_ALT) != 0;
        // Key-message lParam: repeat count, scan code, previous-state and transition bits.
        LPARAM lParam = 1 | ((event.key.keysym.scancode & 0xFF) << 16);
        if (!down || event.key.repeat) lParam |= 1L << 30;
        if (!down) lParam |= 1L << 31;
        UINT message = down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
        // As Win32 does for a program that is behind: an autorepeat of the key whose
        // repeat is still waiting at the end of the queue raises that message's repeat
        // count instead of queueing another (a held key must not bury Escape).
        auto& queue = System().queue;
        if (event.key.repeat && down && !queue.empty()) {
            MSG& last = queue.back();
            if (last.hwnd == window && last.message == message && last.wParam == vk && (last.lParam & (1L << 30)) &&
                (last.lParam & 0xFFFF) < 0xFFFF) {
                ++last.lParam;
                break;
            }
        }
        Post(window, message, vk, lParam);
        break;
    }
    case SDL_MOUSEMOTION: {
        HWND window = FindBySdlId(event.motion.windowID);
        if (!window) break;
        WindowSystem& sys = System();
        sys.mouseMove = MSG{};
        sys.mouseMove.hwnd = window;
        sys.mouseMove.message = WM_MOUSEMOVE;
        sys.mouseMove.wParam = MouseKeyState();
        sys.mouseMove.lParam = MAKELPARAM(event.motion.x, event.motion.y);
        sys.mouseMove.time = SDL_GetTicks();
        sys.mouseMovePending = true;
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        HWND window = FindBySdlId(event.button.windowID);
        if (!window) return;
        bool down = event.type == SDL_MOUSEBUTTONDOWN;
        UINT message = 0;
        switch (event.button.button) {
        case SDL_BUTTON_LEFT: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
        case SDL_BUTTON_RIGHT: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
        case SDL_BUTTON_MIDDLE: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
        default: return;
        }
        // The class has no CS_DBLCLKS, so double clicks arrive as plain button messages.
        Post(window, message, MouseKeyState(), MAKELPARAM(event.button.x, event.button.y));
        break;
    }
    case SDL_MOUSEWHEEL: {
        HWND window = FindBySdlId(event.wheel.windowID);
        if (!window || event.wheel.y == 0) break;
        int notches = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
        int screenX = 0, screenY = 0;
        SDL_GetGlobalMouseState(&screenX, &screenY);
        Post(window, WM_MOUSEWHEEL, MAKEWPARAM(MouseKeyState(), notches * WHEEL_DELTA), MAKELPARAM(screenX, screenY));
        break;
    }
    case SDL_DROPBEGIN:
    case SDL_DROPFILE:
    case SDL_DROPCOMPLETE: {
        // SDL reports a drop file by file between a begin and a complete; Win32 hands the
        // window the whole drop in one message. A file without a begin is a drop of its own.
        WindowSystem& sys = System();
        if (event.type == SDL_DROPBEGIN || !sys.dropping) {
            delete sys.dropping;
            sys.dropping = new HDROP__;
            sys.droppingWindow = event.drop.windowID;
        }
        if (event.type == SDL_DROPFILE && event.drop.file) sys.dropping->files.push_back(event.drop.file);
        if (event.drop.file) SDL_free(event.drop.file);
        bool lone = event.type == SDL_DROPFILE && !sys.droppingBegun;
        sys.droppingBegun = event.type == SDL_DROPBEGIN || (sys.droppingBegun && event.type == SDL_DROPFILE);
        if (event.type != SDL_DROPCOMPLETE && !lone) break;
        HDROP drop = sys.dropping;
        sys.dropping = nullptr;
        sys.droppingBegun = false;
        HWND window = FindBySdlId(sys.droppingWindow);
        WindowRecord* record = window ? Find(window) : nullptr;
        if (!record || !record->acceptsFiles || drop->files.empty()) {
            delete drop;
            break;
        }
        Post(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
        break;
    }
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            if (HWND window = FindBySdlId(event.window.windowID)) Post(window, WM_CLOSE, 0, 0);
        }
        break;
    case SDL_SYSWMEVENT:
        lumaret::platform::NoteX11Event(event);
        break;
    default:
        break;
    }
}

// A window destroyed from outside closes as if the user had closed it: WM_CLOSE, whose
// default handling destroys it (WM_DESTROY) and lets the program quit cleanly.
void CloseLostWindows() {
    WindowSystem& sys = System();
    for (SDL_Window* sdl : lumaret::platform::TakeLostX11Windows()) {
        if (!sys.lost.insert(sdl).second) continue;
        for (auto& [handle, record] : sys.windows)
            if (record.sdl == sdl) Post(reinterpret_cast<HWND>(handle), WM_CLOSE, 0, 0);
    }
}

void PumpSdlEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) TranslateEvent(event);
    CloseLostWindows();
}

void DestroySdlWindow(SDL_Window* sdl) {
    lumaret::platform::UnwatchX11Window(sdl);
    System().lost.erase(sdl);
    SDL_DestroyWindow(sdl);
}

void CountHeadlessFrame() {
    WindowSystem& sys = System();
    if (sys.videoAvailable || sys.headlessStop) return;
    ++sys.headlessFrames;
    bool maxDue = sys.maxFrameLimit > 0 && sys.headlessFrames >= sys.maxFrameLimit;
    if (!maxDue && (sys.headlessFrameLimit <= 0 || sys.headlessFrames < sys.headlessFrameLimit)) return;
    sys.headlessStop = true;
    for (auto& [handle, record] : sys.windows) Post(reinterpret_cast<HWND>(handle), WM_CLOSE, 0, 0);
}

// LUMARET_MAX_FRAMES bounds a run in a window as well, so the same frames can be measured
// with and without a display (headless runs take it through CountHeadlessFrame, which also
// saves the last screenshot).
void CountWindowedFrame() {
    WindowSystem& sys = System();
    if (!sys.videoAvailable || sys.maxStop || sys.maxFrameLimit <= 0 || sys.pumpTurns < sys.maxFrameLimit) return;
    sys.maxStop = true;
    for (auto& [handle, record] : sys.windows) Post(reinterpret_cast<HWND>(handle), WM_CLOSE, 0, 0);
}

bool Matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
    if (window && msg.hwnd != window) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

}  // namespace

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

bool HeadlessStopRequested() { return System().headlessStop; }
bool SdlWindowLost(SDL_Window* window) { return window && System().lost.count(window); }
long HeadlessFrameNumber() { return System().headlessFrames; }

// Declared where the performance counter reads it (Kernel.cpp).
int64_t MessagePumpTurns() { return System().pumpTurns; }

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

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    InitialiseOnce();
    if (!msg) return FALSE;
    ++System().pumpTurns;
    CountHeadlessFrame();
    CountWindowedFrame();
    PumpSdlEvents();
    WindowSystem& sys = System();
    for (auto it = sys.queue.begin(); it != sys.queue.end(); ++it) {
        if (!Matches(*it, window, filterMin, filterMax)) continue;
        *msg = *it;
        if (removeFlags & PM_REMOVE) sys.queue.erase(it);
        return TRUE;
    }
    if (sys.quitPosted && !window && Matches(MSG{nullptr, WM_QUIT, 0, 0, 0, {}}, nullptr, filterMin, filterMax)) {
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = static_cast<WPARAM>(sys.quitCode);
        if (removeFlags & PM_REMOVE) sys.quitPosted = false;
        return TRUE;
    }
    if (sys.mouseMovePending && Matches(sys.mouseMove, window, filterMin, filterMax)) {
        *msg = sys.mouseMove;
        if (removeFlags & PM_REMOVE) sys.mouseMovePending = false;
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    // Character messages are not used by the engine; report whether a key message came by.
    return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) ? TRUE : FALSE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = Find(window);
    if (!record || !record->procedure) return 0;
    return record->procedure(window, message, wParam, lParam);
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    InitialiseOnce();
    if (window && !Find(window)) {
        gLastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    Post(window, message, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_SYSKEYDOWN:
        // Alt+F4 asks the window to close, as the system menu does.
        if (wParam == VK_F4) PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    default:
        return 0;
    }
}

void WINAPI PostQuitMessage(int exitCode) {
    System().quitPosted = true;
    System().quitCode = exitCode;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR cursorName) { return reinterpret_cast<HCURSOR>(const_cast<char*>(cursorName)); }

HGDIOBJ WINAPI GetStockObject(int object) { return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(object + 1)); }

void WINAPI DragAcceptFiles(HWND window, BOOL accept) {
    if (WindowRecord* record = Find(window)) record->acceptsFiles = accept != FALSE;
}

UINT WINAPI DragQueryFileA(HDROP drop, UINT file, LPSTR buffer, UINT size) {
    if (!drop) return 0;
    if (file == 0xFFFFFFFFu) return static_cast<UINT>(drop->files.size());
    if (file >= drop->files.size()) return 0;
    const std::string& path = drop->files[file];
    if (!buffer) return static_cast<UINT>(path.size());
    if (size == 0) return 0;
    UINT copied = static_cast<UINT>(std::min<size_t>(path.size(), size - 1));
    std::memcpy(buffer, path.data(), copied);
    buffer[copied] = '\0';
    return copied;
}

void WINAPI DragFinish(HDROP drop) { delete drop; }

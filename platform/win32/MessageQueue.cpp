// The message queue on SDL2. SDL events are translated into the Win32 messages the engine
// handles and queued in arrival order; PeekMessageA hands them out one at a time. WM_QUIT
// behaves as in Win32: PostQuitMessage raises a flag and WM_QUIT is retrieved once no other
// message waits. Mouse motion is never queued either: as in Win32, one WM_MOUSEMOVE with
// the latest position is synthesised when nothing else waits, so a program that takes one
// message per frame sees a key press in the next frame however much the mouse moved. Each
// PeekMessageA is a turn of the pump, which counts the frames of a run (WindowSystem.h).
#include "win32/KeyCodes.h"
#include "win32/WindowState.h"
#include "win32/WindowSystem.h"
#include "win32/X11Watch.h"

#include <SDL.h>

namespace lumaret::platform::windowing {

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = SDL_GetTicks();
    System().queue.push_back(msg);
}

namespace {

// Keyboard input goes to the window with the focus: the one SDL names, else the newest.
HWND KeyboardTarget(uint32_t id) {
    if (HWND window = FindBySdlId(id)) return window;
    auto& windows = System().windows;
    return windows.empty() ? nullptr : reinterpret_cast<HWND>(windows.rbegin()->first);
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
    case SDL_DROPCOMPLETE:
        TranslateDropEvent(event);
        break;
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

}  // namespace lumaret::platform::windowing

using namespace lumaret::platform::windowing;

namespace lumaret::platform {

bool HeadlessStopRequested() { return System().headlessStop; }
long HeadlessFrameNumber() { return System().headlessFrames; }

// Declared where the performance counter reads it (Kernel.cpp).
int64_t MessagePumpTurns() { return System().pumpTurns; }

}  // namespace lumaret::platform

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
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
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

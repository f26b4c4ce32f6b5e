// WindowState: what the windowing files share, inside the platform's Win32 layer: the
// window classes, the windows (a handle per record, an SDL window behind each when there is
// a display), the message queue and the frame counts of a run. Windows.cpp makes and keeps
// the windows, MessageQueue.cpp turns SDL's events into Win32 messages and hands them out,
// FileDrops.cpp assembles dropped files. The rest of the platform sees WindowSystem.h only.
#pragma once

#include <windows.h>

#include <SDL.h>

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>

namespace lumaret::platform::windowing {

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
    std::map<SDL_Window*, int> retained;     // SDL windows in use by GPU devices
    std::map<SDL_Window*, bool> orphaned;    // destroyed as Win32 windows, still retained
    std::set<SDL_Window*> lost;              // destroyed from outside the program
};

WindowSystem& System();
// Opens the display (or decides on a headless run) and reads the run's settings, once.
void InitialiseOnce();
WindowRecord* Find(HWND window);
HWND FindBySdlId(uint32_t id);
void DestroySdlWindow(SDL_Window* sdl);
// Queues a message at the end, stamped with the time.
void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// SDL_DROPBEGIN, SDL_DROPFILE and SDL_DROPCOMPLETE, as one WM_DROPFILES per drop.
void TranslateDropEvent(const SDL_Event& event);

}  // namespace lumaret::platform::windowing

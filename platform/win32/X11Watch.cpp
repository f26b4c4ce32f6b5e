#include "win32/X11Watch.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <map>
#include <set>

namespace lumaret::platform {
namespace {

struct Watch {
    std::map<unsigned long, SDL_Window*> watched;  // by X window id
    std::set<unsigned long> gone;                  // destroyed from outside, still known
    std::vector<SDL_Window*> lost;                 // gone, not yet reported
    XErrorHandler previousHandler = nullptr;
};

// Never destroyed: the application's static Window is destroyed during process exit, when
// statics of this file could already be gone.
Watch& State() {
    static Watch* watch = new Watch;
    return *watch;
}

void MarkGone(unsigned long id) {
    Watch& w = State();
    if (!w.gone.insert(id).second) return;
    auto it = w.watched.find(id);
    if (it != w.watched.end()) w.lost.push_back(it->second);
}

// Requests the program (or SDL, or the GL driver) still makes on a window that was
// destroyed under it fail with BadWindow, BadDrawable or an extension's error for that
// window. Those mean "the window is gone"; every other error goes to the handler before
// this one (SDL's, then Xlib's, which ends the process).
int OnXError(Display* display, XErrorEvent* error) {
    Watch& w = State();
    bool ours = w.watched.count(error->resourceid) || w.gone.count(error->resourceid);
    bool missingWindow = error->error_code == BadWindow || error->error_code == BadDrawable ||
                         error->error_code >= 128;  // extension errors (GLXBadDrawable, ...)
    if (ours && missingWindow) {
        MarkGone(error->resourceid);
        return 0;
    }
    return w.previousHandler ? w.previousHandler(display, error) : 0;
}

bool X11IdOf(SDL_Window* window, unsigned long* id) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    *id = info.info.x11.window;
    return true;
}

}  // namespace

void WatchX11Window(SDL_Window* window) {
    unsigned long id;
    if (!X11IdOf(window, &id)) return;
    Watch& w = State();
    static bool installed = false;
    if (!installed) {
        installed = true;
        w.previousHandler = XSetErrorHandler(OnXError);
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    }
    w.watched[id] = window;
}

void UnwatchX11Window(SDL_Window* window) {
    Watch& w = State();
    for (auto it = w.watched.begin(); it != w.watched.end();)
        it = it->second == window ? w.watched.erase(it) : std::next(it);
    for (auto it = w.lost.begin(); it != w.lost.end();) it = *it == window ? w.lost.erase(it) : std::next(it);
}

void NoteX11Event(const SDL_Event& event) {
    if (event.type != SDL_SYSWMEVENT || !event.syswm.msg || event.syswm.msg->subsystem != SDL_SYSWM_X11) return;
    const XEvent& x = event.syswm.msg->msg.x11.event;
    if (x.type == DestroyNotify && State().watched.count(x.xdestroywindow.window)) MarkGone(x.xdestroywindow.window);
}

std::vector<SDL_Window*> TakeLostX11Windows() {
    std::vector<SDL_Window*> lost;
    lost.swap(State().lost);
    return lost;
}

}  // namespace lumaret::platform

#include "win32/X11Watch.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <map>
#include <set>

namespace lumaret::platform {
namespace {

std::map<unsigned long, SDL_Window*> gWatched;  // by X window id
std::set<unsigned long> gGone;                  // destroyed from outside, still known
std::vector<SDL_Window*> gLost;                 // gone, not yet reported
XErrorHandler gPreviousHandler = nullptr;

void MarkGone(unsigned long id) {
    if (!gGone.insert(id).second) return;
    auto it = gWatched.find(id);
    if (it != gWatched.end()) gLost.push_back(it->second);
}

// Requests the program (or SDL, or the GL driver) still makes on a window that was
// destroyed under it fail with BadWindow, BadDrawable or an extension's error for that
// window. Those mean "the window is gone"; every other error goes to the handler before
// this one (SDL's, then Xlib's, which ends the process).
int OnXError(Display* display, XErrorEvent* error) {
    bool ours = gWatched.count(error->resourceid) || gGone.count(error->resourceid);
    bool missingWindow = error->error_code == BadWindow || error->error_code == BadDrawable ||
                         error->error_code >= 128;  // extension errors (GLXBadDrawable, ...)
    if (ours && missingWindow) {
        MarkGone(error->resourceid);
        return 0;
    }
    return gPreviousHandler ? gPreviousHandler(display, error) : 0;
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
    static bool installed = false;
    if (!installed) {
        installed = true;
        gPreviousHandler = XSetErrorHandler(OnXError);
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    }
    gWatched[id] = window;
}

void UnwatchX11Window(SDL_Window* window) {
    for (auto it = gWatched.begin(); it != gWatched.end();)
        it = it->second == window ? gWatched.erase(it) : std::next(it);
    for (auto it = gLost.begin(); it != gLost.end();) it = *it == window ? gLost.erase(it) : std::next(it);
}

void NoteX11Event(const SDL_Event& event) {
    if (event.type != SDL_SYSWMEVENT || !event.syswm.msg || event.syswm.msg->subsystem != SDL_SYSWM_X11) return;
    const XEvent& x = event.syswm.msg->msg.x11.event;
    if (x.type == DestroyNotify && gWatched.count(x.xdestroywindow.window)) MarkGone(x.xdestroywindow.window);
}

std::vector<SDL_Window*> TakeLostX11Windows() {
    std::vector<SDL_Window*> lost;
    lost.swap(gLost);
    return lost;
}

}  // namespace lumaret::platform

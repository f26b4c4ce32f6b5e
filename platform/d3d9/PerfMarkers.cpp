// D3DPERF events as KHR_debug groups, so a GL frame debugger shows the engine's passes.
#include "d3d9/GlDebug.h"

#include <SDL.h>
#include <d3d9.h>
#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <string>

namespace {

int gDepth = 0;

// A group needs a current context: the device's, windowed through SDL or headless EGL.
bool ContextIsCurrent() {
    if (SDL_WasInit(SDL_INIT_VIDEO) && SDL_GL_GetCurrentContext()) return true;
    return eglGetCurrentContext() != EGL_NO_CONTEXT;
}

}  // namespace

int WINAPI D3DPERF_BeginEvent(D3DCOLOR, LPCWSTR name) {
    if (!ContextIsCurrent()) return -1;
    // Event names are plain ASCII in the engine; anything else shows as '?'.
    std::string text;
    for (const WCHAR* c = name; c && *c; ++c) text += (*c > 0 && *c < 128) ? static_cast<char>(*c) : '?';
    glPushDebugGroup(GL_DEBUG_SOURCE_APPLICATION, 0, -1, text.c_str());
    return ++gDepth;
}

int WINAPI D3DPERF_EndEvent() {
    if (gDepth <= 0 || !ContextIsCurrent()) return -1;
    glPopDebugGroup();
    return --gDepth;
}

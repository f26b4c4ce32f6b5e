// The OpenGL 4.5 core context a device renders with: on the window's SDL surface when the
// window is real, on a surfaceless EGL context when running headless. Everything the
// device draws goes to framebuffer objects; the window only receives the presented frame.
#pragma once

#include <memory>
#include <string>

struct SDL_Window;

namespace lumaret::platform {

class GlContext {
public:
    // window may be null (headless). On failure returns null and says why in error.
    static std::unique_ptr<GlContext> Create(SDL_Window* window, std::string* error);
    virtual ~GlContext() = default;

    virtual void MakeCurrent() = 0;
    virtual void SwapBuffers() = 0;
    virtual void SetSwapInterval(int interval) = 0;
    // Size of the window's drawable in pixels; 0 x 0 when headless.
    virtual void DrawableSize(int* width, int* height) = 0;
    virtual bool HasWindow() const = 0;
};

}  // namespace lumaret::platform

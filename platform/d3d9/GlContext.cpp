#include "d3d9/GlContext.h"

#include "d3d9/GlDebug.h"

#include <SDL.h>
#include <epoxy/egl.h>
#include <epoxy/gl.h>

namespace lumaret::platform {
namespace {

bool RequireGl45(std::string* error) {
    if (epoxy_gl_version() < 45) {
        *error = "OpenGL 4.5 core is required";
        return false;
    }
    if (!epoxy_has_gl_extension("GL_EXT_texture_compression_s3tc") ||
        !epoxy_has_gl_extension("GL_EXT_texture_sRGB_decode")) {
        *error = "GL_EXT_texture_compression_s3tc and GL_EXT_texture_sRGB_decode are required";
        return false;
    }
    return true;
}

class SdlContext final : public GlContext {
public:
    SdlContext(SDL_Window* window, SDL_GLContext context) : window_(window), context_(context) {}
    ~SdlContext() override { SDL_GL_DeleteContext(context_); }
    void MakeCurrent() override {
        if (SDL_GL_GetCurrentContext() != context_ || SDL_GL_GetCurrentWindow() != window_)
            SDL_GL_MakeCurrent(window_, context_);
    }
    void SwapBuffers() override { SDL_GL_SwapWindow(window_); }
    void SetSwapInterval(int interval) override { SDL_GL_SetSwapInterval(interval); }
    void DrawableSize(int* width, int* height) override { SDL_GL_GetDrawableSize(window_, width, height); }
    bool HasWindow() const override { return true; }

private:
    SDL_Window* window_;
    SDL_GLContext context_;
};

class EglContext final : public GlContext {
public:
    EglContext(EGLDisplay display, EGLContext context) : display_(display), context_(context) {}
    ~EglContext() override {
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display_, context_);
    }
    // Every device call makes its context current; asking first spares a call into EGL.
    void MakeCurrent() override {
        if (eglGetCurrentContext() != context_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_);
    }
    void SwapBuffers() override {}
    void SetSwapInterval(int) override {}
    void DrawableSize(int* width, int* height) override { *width = *height = 0; }
    bool HasWindow() const override { return false; }

private:
    EGLDisplay display_;
    EGLContext context_;
};

// One EGL display for the process; initialising it is the slow part of headless start-up.
EGLDisplay SurfacelessDisplay(std::string* error) {
    static EGLDisplay display = EGL_NO_DISPLAY;
    if (display != EGL_NO_DISPLAY) return display;
    EGLDisplay candidate = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (candidate == EGL_NO_DISPLAY || !eglInitialize(candidate, nullptr, nullptr)) {
        *error = "no surfaceless EGL display";
        return EGL_NO_DISPLAY;
    }
    display = candidate;
    return display;
}

std::unique_ptr<GlContext> CreateEgl(std::string* error) {
    EGLDisplay display = SurfacelessDisplay(error);
    if (display == EGL_NO_DISPLAY) return nullptr;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *error = "EGL cannot bind the OpenGL API";
        return nullptr;
    }
    EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4,
                           EGL_CONTEXT_MINOR_VERSION, 5,
                           EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                           EGL_CONTEXT_OPENGL_DEBUG, GlDebugEnabled() ? EGL_TRUE : EGL_FALSE,
                           EGL_NONE};
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) {
        *error = "eglCreateContext failed for OpenGL 4.5 core";
        return nullptr;
    }
    auto result = std::make_unique<EglContext>(display, context);
    result->MakeCurrent();
    return result;
}

std::unique_ptr<GlContext> CreateSdl(SDL_Window* window, std::string* error) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, GlDebugEnabled() ? SDL_GL_CONTEXT_DEBUG_FLAG : 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
        *error = std::string("SDL_GL_CreateContext: ") + SDL_GetError();
        return nullptr;
    }
    auto result = std::make_unique<SdlContext>(window, context);
    result->MakeCurrent();
    return result;
}

}  // namespace

std::unique_ptr<GlContext> GlContext::Create(SDL_Window* window, std::string* error) {
    std::unique_ptr<GlContext> context = window ? CreateSdl(window, error) : CreateEgl(error);
    if (!context) return nullptr;
    if (!RequireGl45(error)) return nullptr;
    InstallGlDebugOutput();
    return context;
}

}  // namespace lumaret::platform

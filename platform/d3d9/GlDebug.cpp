#include "d3d9/GlDebug.h"

#include "win32/Settings.h"

#include <epoxy/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lumaret::platform {
namespace {

size_t gErrorCount = 0;
size_t gUntaken = 0;  // errors since the last TakeGlErrors
bool gCallbackInstalled = false;
std::string gLastError;
bool gRecordGroups = false;
std::vector<std::string> gGroups;
constexpr size_t kMaxRecordedGroups = 4096;

void GLAPIENTRY OnDebugMessage(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length,
                               const GLchar* message, const void*) {
    (void)source;
    (void)id;
    if (type == GL_DEBUG_TYPE_PUSH_GROUP && gRecordGroups && gGroups.size() < kMaxRecordedGroups)
        gGroups.emplace_back(message, length >= 0 ? static_cast<size_t>(length) : std::strlen(message));
    if (severity != GL_DEBUG_SEVERITY_HIGH && severity != GL_DEBUG_SEVERITY_MEDIUM) return;
    // Performance and portability notes are not faults of the caller.
    if (type == GL_DEBUG_TYPE_PERFORMANCE || type == GL_DEBUG_TYPE_OTHER || type == GL_DEBUG_TYPE_PORTABILITY) return;
    ++gErrorCount;
    ++gUntaken;
    gLastError.assign(message, length >= 0 ? static_cast<size_t>(length) : std::strlen(message));
    std::fprintf(stderr, "GL debug: %s\n", gLastError.c_str());
    // Whole-program tests run the engine in a child process; there an error ends it.
    static const bool fatal = GlErrorsFatal();
    if (fatal) std::abort();
}

}  // namespace

void InstallGlDebugOutput() {
    if (!GlDebugEnabled()) return;
    if (!epoxy_has_gl_extension("GL_KHR_debug") && epoxy_gl_version() < 43) return;
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    glDebugMessageCallback(OnDebugMessage, nullptr);
    gCallbackInstalled = true;
    glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
}

void RecordDebugGroups(bool on) {
    gRecordGroups = on;
    gGroups.clear();
}
std::vector<std::string> RecordedDebugGroups() { return gGroups; }

size_t GlDebugErrorCount() { return gErrorCount; }
std::string GlDebugLastError() { return gLastError; }
void ResetGlDebugErrors() {
    gErrorCount = 0;
    gUntaken = 0;
    gLastError.clear();
}

bool GlDebugCallbackInstalled() { return gCallbackInstalled; }

bool TakeGlErrors() {
    bool any = false;
    if (gCallbackInstalled) {
        any = gUntaken > 0;
        gUntaken = 0;
    } else {
        while (glGetError() != GL_NO_ERROR) any = true;
    }
    return any;
}

bool GlDebugEnabled() {
    if (std::optional<bool> requested = GlDebugRequested()) return *requested;
#ifdef NDEBUG
    return false;
#else
    return true;
#endif
}

}  // namespace lumaret::platform

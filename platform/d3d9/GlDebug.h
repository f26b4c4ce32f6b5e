// GL debug output (KHR_debug). Messages of medium or high severity are counted so that a
// test can fail on the GL error its own calls caused; in debug builds they also go to
// stderr with the GL's own text.
#pragma once

#include <cstddef>
#include <string>

namespace lumaret::platform {

// Installs the callback on the current context (synchronous output, so a message is
// reported inside the call that caused it).
void InstallGlDebugOutput();

size_t GlDebugErrorCount();
std::string GlDebugLastError();
void ResetGlDebugErrors();

// True when contexts are created with the debug flag: debug builds, or LUMARET_GL_DEBUG=1.
bool GlDebugEnabled();

}  // namespace lumaret::platform

// GL debug output (KHR_debug). Messages of medium or high severity are counted so that a
// test can fail on the GL error its own calls caused; in debug builds they also go to
// stderr with the GL's own text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace lumaret::platform {

// Installs the callback on the current context (synchronous output, so a message is
// reported inside the call that caused it).
void InstallGlDebugOutput();

// The names of the debug groups pushed while recording is on (D3DPERF_BeginEvent), in
// order; turning recording on or off forgets what was recorded.
void RecordDebugGroups(bool on);
std::vector<std::string> RecordedDebugGroups();

size_t GlDebugErrorCount();
std::string GlDebugLastError();
void ResetGlDebugErrors();

// True when contexts are created with the debug flag: debug builds, or LUMARET_GL_DEBUG=1.
bool GlDebugEnabled();

// Whether GL raised an error since the last look: what the debug callback saw when it is
// installed (no GL call), else GL's error flags (glGetError, which costs a call into the
// driver). For the few places where GL can fail for reasons the layer cannot rule out, such
// as allocation; everything else is validated before it reaches GL.
bool TakeGlErrors();
bool GlDebugCallbackInstalled();

}  // namespace lumaret::platform

// The platform layer's settings: environment variables for headless runs, tests and
// benchmarks (the engine's own switches, LUMARET_HUD and LUMARET_DEBUG_VIEW, are checked
// by the engine).
//
// Every variable is treated the same way: unset or empty means its default; any other
// value must have the variable's form, or the process stops at once with one line on
// stderr naming the variable and exit status kBadSettingExitStatus. The window system
// checks them all when it starts, so a mistyped value never silently means something
// else (LUMARET_HEADLESS_FRAMES=abc used to mean "run forever").
//
//   LUMARET_HEADLESS_FRAMES    whole number >= 0 (0 = never stop), default 600
//   LUMARET_MAX_FRAMES         whole number >= 0 of pump turns for any run (0 = no bound)
//   LUMARET_SCREENSHOT         PNG path in an existing, writable directory
//   LUMARET_SCREENSHOT_FRAMES  list of frame numbers >= 1: "1,90,250", with LUMARET_SCREENSHOT
//                              set and none past LUMARET_HEADLESS_FRAMES
//   LUMARET_FRAME_TIME         seconds from 0 to 60 per message-pump turn
//   LUMARET_GL_DEBUG           1 or 0 (default: on in debug builds)
//   LUMARET_GL_ERRORS_FATAL    1 or 0, default 0
//   LUMARET_NO_MESSAGE_BOX     1 or 0, default 0
//   LUMARET_PASS_TIMES         path in an existing, writable directory (the pass timer's file)
//   LUMARET_PASS_SYNC          1 or 0, default 0
//   LUMARET_SHADER_CACHE       1 or 0, default 1 (the translation cache, d3dx9/ShaderCache.h)
//   LUMARET_HLSLFRONT          absolute path of the shader compiler's helper, looked at when
//                              none is beside the program or installed (HlslFrontEnd.h)
//   LUMARET_HLSLFRONT_ANSWER_SECONDS  whole seconds from 1 to 3600, default 60: how long the
//                              helper may take to answer a compile
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace lumaret::platform {

constexpr int kBadSettingExitStatus = 2;
// A headless run whose screenshot could not be written ends with this status.
constexpr int kScreenshotFailedExitStatus = 3;

// Checks every variable (the window system calls it once as it starts).
void CheckPlatformSettings();

long HeadlessFrameLimit();
long MaxFrameLimit();
std::optional<std::string> ScreenshotPath();
std::set<long> ScreenshotFrames();
// Nanoseconds per pump turn, or nothing for the wall clock. Read on every call: tests
// switch the fixed clock on and off.
std::optional<int64_t> FixedFrameTime();
std::optional<bool> GlDebugRequested();
bool GlErrorsFatal();
bool NoMessageBox();
// The pass timer (d3d9/PerfMarkers.cpp) reads these itself; they are checked here with
// the others so a mistyped value stops the run at start rather than being ignored.
std::optional<std::string> PassTimesPath();
bool PassSync();
// Read on every compile: tests switch them.
bool ShaderCacheEnabled();
std::optional<std::string> HlslFrontEndSetting();
long HlslFrontEndAnswerSeconds();

}  // namespace lumaret::platform

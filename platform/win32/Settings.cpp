#include "win32/Settings.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumaret::platform {
namespace {

constexpr double kLongestFrameTime = 60.0;  // keeps turns x step far from overflow

const char* ValueOf(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

[[noreturn]] void Reject(const char* name, const char* value, const char* form) {
    std::fprintf(stderr, "lumaret: %s is \"%s\"; it must be %s\n", name, value, form);
    std::fflush(stderr);
    std::exit(kBadSettingExitStatus);
}

// Digits only: no sign, no spaces, no trailing text, within long range.
bool ParseWhole(const char* text, long* result) {
    if (!*text) return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    errno = 0;
    long value = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || value > INT_MAX) return false;
    *result = value;
    return true;
}

std::optional<bool> Switch(const char* name) {
    const char* value = ValueOf(name);
    if (!value) return std::nullopt;
    if (std::strcmp(value, "1") == 0) return true;
    if (std::strcmp(value, "0") == 0) return false;
    Reject(name, value, "1 or 0");
}

// The directory a file will be written to: checked at the start, not after the whole run.
bool DirectoryOfIsWritable(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return access(directory.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

long HeadlessFrameLimit() {
    const char* value = ValueOf("LUMARET_HEADLESS_FRAMES");
    long frames = 600;
    if (value && !ParseWhole(value, &frames))
        Reject("LUMARET_HEADLESS_FRAMES", value, "a whole number of frames from 0 (0: never stop)");
    return frames;
}

long MaxFrameLimit() {
    const char* value = ValueOf("LUMARET_MAX_FRAMES");
    long frames = 0;
    if (value && !ParseWhole(value, &frames)) Reject("LUMARET_MAX_FRAMES", value, "a whole number of frames from 0");
    return frames;
}

std::optional<std::string> ScreenshotPath() {
    const char* value = ValueOf("LUMARET_SCREENSHOT");
    if (!value) return std::nullopt;
    std::string path = value;
    if (!DirectoryOfIsWritable(path))
        Reject("LUMARET_SCREENSHOT", value, "a PNG path in an existing directory that can be written to");
    return path;
}

std::set<long> ScreenshotFrames() {
    std::set<long> frames;
    const char* value = ValueOf("LUMARET_SCREENSHOT_FRAMES");
    if (!value) return frames;
    std::string list = value;
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long frame = 0;
        if (!ParseWhole(item.c_str(), &frame) || frame < 1)
            Reject("LUMARET_SCREENSHOT_FRAMES", value, "a list of frame numbers from 1, such as 1,90,250");
        frames.insert(frame);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    // Frames that would never be saved are as wrong as frames that are not numbers.
    if (!ScreenshotPath())
        Reject("LUMARET_SCREENSHOT_FRAMES", value, "set together with LUMARET_SCREENSHOT, which names the files");
    long last = HeadlessFrameLimit();
    if (last > 0 && *frames.rbegin() > last) {
        std::string form = "frame numbers no later than the run's last, LUMARET_HEADLESS_FRAMES=" + std::to_string(last);
        Reject("LUMARET_SCREENSHOT_FRAMES", value, form.c_str());
    }
    return frames;
}

std::optional<int64_t> FixedFrameTime() {
    const char* value = ValueOf("LUMARET_FRAME_TIME");
    if (!value) return std::nullopt;
    char* end = nullptr;
    double seconds = std::strtod(value, &end);
    if (*end != '\0' || !(seconds >= 0.0 && seconds <= kLongestFrameTime))
        Reject("LUMARET_FRAME_TIME", value, "a number of seconds from 0 to 60, such as 0.0166667");
    return std::llround(seconds * 1e9);
}

std::optional<bool> GlDebugRequested() { return Switch("LUMARET_GL_DEBUG"); }
bool GlErrorsFatal() { return Switch("LUMARET_GL_ERRORS_FATAL").value_or(false); }
bool NoMessageBox() { return Switch("LUMARET_NO_MESSAGE_BOX").value_or(false); }

std::optional<std::string> PassTimesPath() {
    const char* value = ValueOf("LUMARET_PASS_TIMES");
    if (!value) return std::nullopt;
    std::string path = value;
    // The table is written at exit; a path ending in '/' names no file.
    if (path.back() == '/' || !DirectoryOfIsWritable(path))
        Reject("LUMARET_PASS_TIMES", value, "a file path in an existing directory that can be written to");
    return path;
}

bool PassSync() { return Switch("LUMARET_PASS_SYNC").value_or(false); }
bool ShaderCacheEnabled() { return Switch("LUMARET_SHADER_CACHE").value_or(true); }

std::optional<std::string> HlslFrontEndSetting() {
    const char* value = ValueOf("LUMARET_HLSLFRONT");
    if (!value) return std::nullopt;
    if (value[0] != '/') Reject("LUMARET_HLSLFRONT", value, "the absolute path of the hlslfront program");
    return std::string(value);
}

long HlslFrontEndAnswerSeconds() {
    const char* value = ValueOf("LUMARET_HLSLFRONT_ANSWER_SECONDS");
    long seconds = 60;
    if (value && (!ParseWhole(value, &seconds) || seconds < 1 || seconds > 3600))
        Reject("LUMARET_HLSLFRONT_ANSWER_SECONDS", value, "a whole number of seconds from 1 to 3600");
    return seconds;
}

void CheckPlatformSettings() {
    HeadlessFrameLimit();
    MaxFrameLimit();
    ScreenshotPath();
    ScreenshotFrames();
    FixedFrameTime();
    GlDebugRequested();
    GlErrorsFatal();
    NoMessageBox();
    PassTimesPath();
    PassSync();
    ShaderCacheEnabled();
    HlslFrontEndSetting();
    HlslFrontEndAnswerSeconds();
}

}  // namespace lumaret::platform

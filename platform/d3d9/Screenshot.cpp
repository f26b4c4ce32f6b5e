// Headless runs keep their last frame, and any frames asked for by number, as PNGs.
#include "d3d9/Device.h"

#include "win32/WindowSystem.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBIW_WINDOWS_UTF8 0
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace lumaret::platform {

bool Device::SaveScreenshot(const char* path) {
    UINT w = parameters_.BackBufferWidth, h = parameters_.BackBufferHeight;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
    if (!ReadPixels(backBuffer_, pixels.data(), w * 4)) return false;
    // Back-buffer bytes are B, G, R, A; PNG wants R, G, B, A. The frame is opaque.
    for (size_t i = 0; i < pixels.size(); i += 4) {
        std::swap(pixels[i], pixels[i + 2]);
        pixels[i + 3] = 255;
    }
    return stbi_write_png(path, static_cast<int>(w), static_cast<int>(h), 4, pixels.data(), static_cast<int>(w * 4)) != 0;
}

namespace {

// "1,90,250": the frame numbers to keep; anything that is not a positive number is
// skipped with a message.
std::set<long> RequestedFrames() {
    std::set<long> frames;
    const char* list = std::getenv("LUMARET_SCREENSHOT_FRAMES");
    while (list && *list) {
        char* end = nullptr;
        long frame = std::strtol(list, &end, 10);
        if (end == list || frame <= 0 || (*end && *end != ',')) {
            std::fprintf(stderr, "LUMARET_SCREENSHOT_FRAMES: '%s' is not a list of frame numbers\n", list);
            break;
        }
        frames.insert(frame);
        list = *end ? end + 1 : end;
    }
    return frames;
}

// name.png -> name_90.png
std::string NumberedPath(const std::string& path, long frame) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    return path.substr(0, dot) + "_" + std::to_string(frame) + path.substr(dot);
}

}  // namespace

void Device::SaveHeadlessScreenshots() {
    const char* path = std::getenv("LUMARET_SCREENSHOT");
    if (!path || !*path) return;
    static const std::set<long> requested = RequestedFrames();
    static bool lastSaved = false;
    std::vector<std::string> targets;
    if (requested.count(HeadlessFrameNumber())) targets.push_back(NumberedPath(path, HeadlessFrameNumber()));
    if (HeadlessStopRequested() && !lastSaved) {
        lastSaved = true;
        targets.push_back(path);
    }
    for (const std::string& target : targets)
        if (!SaveScreenshot(target.c_str())) std::fprintf(stderr, "could not write the screenshot %s\n", target.c_str());
}

}  // namespace lumaret::platform

#include "d3d9/HeadlessCapture.h"

#include "d3d9/Device.h"

#include "win32/Settings.h"
#include "win32/WindowSystem.h"

#include <zlib.h>

#include <cstdlib>

namespace {

// stb's own deflate searches long hash chains for little gain: zlib's fastest level writes
// a frame several times quicker, and no larger. The buffer is freed with free(), as stb's is.
unsigned char* DeflateForPng(unsigned char* data, int size, int* outSize, int /*quality*/) {
    uLongf bound = compressBound(static_cast<uLong>(size));
    auto* out = static_cast<unsigned char*>(std::malloc(bound));
    if (out && compress2(out, &bound, data, static_cast<uLong>(size), Z_BEST_SPEED) == Z_OK) {
        *outSize = static_cast<int>(bound);
        return out;
    }
    std::free(out);
    return nullptr;
}

}  // namespace

#define STBIW_ZLIB_COMPRESS DeflateForPng
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBIW_WINDOWS_UTF8 0
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace lumaret::platform {

bool SaveScreenshot(Device& device, const char* path) {
    UINT w = device.presentParameters().BackBufferWidth, h = device.presentParameters().BackBufferHeight;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
    if (!device.ReadPixels(device.backBuffer(), pixels.data(), w * 4)) return false;
    // Back-buffer bytes are B, G, R, A; PNG wants R, G, B, A. The frame is opaque.
    for (size_t i = 0; i < pixels.size(); i += 4) {
        std::swap(pixels[i], pixels[i + 2]);
        pixels[i + 3] = 255;
    }
    std::vector<uint8_t> png;
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    };
    if (!stbi_write_png_to_func(append, &png, static_cast<int>(w), static_cast<int>(h), 4, pixels.data(),
                                static_cast<int>(w * 4)))
        return false;
    return WriteWholeFileOrNothing(path, png.data(), png.size());
}

bool WriteWholeFileOrNothing(const char* path, const void* data, size_t size) {
    // Written beside the target and renamed over it once every byte is on disk: a full
    // disk leaves the old file or none, never a cut one.
    std::string temporary = std::string(path) + ".partial";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(data, 1, size, file) == size;
    written = std::fflush(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (written && std::rename(temporary.c_str(), path) == 0) return true;
    int error = errno;
    std::remove(temporary.c_str());
    errno = error;
    return false;
}

namespace {

// name.png -> name_90.png
std::string NumberedPath(const std::string& path, long frame) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    return path.substr(0, dot) + "_" + std::to_string(frame) + path.substr(dot);
}

}  // namespace

void HeadlessFramePresented(Device& device) {
    static const std::optional<std::string> path = ScreenshotPath();
    if (!path) return;
    static const std::set<long> requested = ScreenshotFrames();
    static bool lastSaved = false;
    std::vector<std::string> targets;
    if (requested.count(HeadlessFrameNumber())) targets.push_back(NumberedPath(*path, HeadlessFrameNumber()));
    if (HeadlessStopRequested() && !lastSaved) {
        lastSaved = true;
        targets.push_back(*path);
    }
    // A run asked for pictures it cannot deliver has failed: say so and stop.
    for (const std::string& target : targets) {
        errno = 0;
        if (SaveScreenshot(device, target.c_str())) continue;
        std::fprintf(stderr, "lumaret: could not write the screenshot %s (%s)\n", target.c_str(),
                     errno ? std::strerror(errno) : "the frame could not be read back");
        std::fflush(stderr);
        std::exit(kScreenshotFailedExitStatus);
    }
}

}  // namespace lumaret::platform

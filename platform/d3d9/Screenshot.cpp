// Headless runs keep their last frame as a PNG.
#include "d3d9/Device.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBIW_WINDOWS_UTF8 0
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

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

}  // namespace lumaret::platform

#include "Thumbnail.h"

#include "common/ToolExitStatus.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

// stb's PNG reader and writer, for this file alone (the platform keeps its own copies).
#define STBI_ONLY_PNG
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 8192
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBIW_WINDOWS_UTF8 0
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace viewer {

RenderSize ThumbnailRenderSize(int size) {
    // Height 1.5 x size, a multiple of 3 so that the width is a whole 4/3 of it.
    int height = std::clamp((size * 3 / 2 + 2) / 3 * 3, 120, 3072);
    return {height * 4 / 3, height};
}

Box ModelBox(const Picture& picture) {
    Box box{picture.width, picture.height, 0, 0};
    if (picture.width <= 0 || picture.height <= 0) return {};
    const uint8_t* background = picture.At(0, 0);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* p = picture.At(x, y);
            bool model = false;
            for (int c = 0; c < 3; ++c) model = model || std::abs(p[c] - background[c]) > kBackgroundTolerance;
            if (!model) continue;
            box.left = std::min(box.left, x);
            box.top = std::min(box.top, y);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::max(box.bottom, y + 1);
        }
    if (box.Empty()) return {};
    int margin = static_cast<int>(std::lround(kThumbnailMargin * std::max(box.Width(), box.Height())));
    return {std::max(0, box.left - margin), std::max(0, box.top - margin), std::min(picture.width, box.right + margin),
            std::min(picture.height, box.bottom + margin)};
}

Picture CropAndScale(const Picture& picture, const Box& box, int longest) {
    Picture out;
    if (box.Empty() || longest <= 0) return out;
    double scale = static_cast<double>(longest) / std::max(box.Width(), box.Height());
    out.width = std::max(1, static_cast<int>(std::lround(box.Width() * scale)));
    out.height = std::max(1, static_cast<int>(std::lround(box.Height() * scale)));
    out.rgba.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
    // Each output pixel covers [x0, x1) x [y0, y1) of the box; every input pixel counts by
    // the area of it inside that rectangle.
    double stepX = static_cast<double>(box.Width()) / out.width, stepY = static_cast<double>(box.Height()) / out.height;
    for (int oy = 0; oy < out.height; ++oy) {
        double y0 = box.top + oy * stepY, y1 = y0 + stepY;
        for (int ox = 0; ox < out.width; ++ox) {
            double x0 = box.left + ox * stepX, x1 = x0 + stepX;
            double sum[4] = {0, 0, 0, 0}, weight = 0;
            for (int y = static_cast<int>(y0); y < static_cast<int>(std::ceil(y1)) && y < box.bottom; ++y) {
                double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
                for (int x = static_cast<int>(x0); x < static_cast<int>(std::ceil(x1)) && x < box.right; ++x) {
                    double w = wy * (std::min<double>(x + 1, x1) - std::max<double>(x, x0));
                    if (w <= 0) continue;
                    const uint8_t* p = picture.At(x, y);
                    for (int c = 0; c < 4; ++c) sum[c] += w * p[c];
                    weight += w;
                }
            }
            uint8_t* o = &out.rgba[(static_cast<size_t>(oy) * out.width + ox) * 4];
            for (int c = 0; c < 4; ++c)
                o[c] = weight > 0 ? static_cast<uint8_t>(std::clamp(std::lround(sum[c] / weight), 0L, 255L)) : 0;
        }
    }
    return out;
}

bool ReadPngFile(const std::string& path, Picture& picture, std::string& why) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 4);
    if (!pixels) {
        why = std::string("cannot read the rendered frame ") + path + ": " + stbi_failure_reason();
        return false;
    }
    picture.width = width;
    picture.height = height;
    picture.rgba.assign(pixels, pixels + static_cast<size_t>(width) * height * 4);
    stbi_image_free(pixels);
    return true;
}

bool EncodePng(const Picture& picture, std::vector<uint8_t>& png) {
    std::vector<uint8_t> rgb(static_cast<size_t>(picture.width) * picture.height * 3);
    for (size_t i = 0, n = rgb.size() / 3; i < n; ++i)
        for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = picture.rgba[i * 4 + c];
    png.clear();
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    };
    return stbi_write_png_to_func(append, &png, picture.width, picture.height, 3, rgb.data(), picture.width * 3) != 0;
}

std::string RefuseThumbnailInput(const std::string& path, int& status) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::file_status file = fs::status(path, error);
    if (file.type() == fs::file_type::not_found) {
        status = ExitUnreadable;
        return path + " does not exist";
    }
    if (file.type() != fs::file_type::regular) {
        status = ExitUnreadable;
        return path + (error ? " cannot be looked at (" + error.message() + ")" : " is not a regular file");
    }
    uintmax_t size = fs::file_size(path, error);
    if (error) {
        status = ExitUnreadable;
        return path + " cannot be looked at (" + error.message() + ")";
    }
    if (size > kThumbnailLargestFile) {
        status = ExitUnusable;
        return path + " is " + std::to_string(size) + " bytes; thumbnails are made of files up to " +
               std::to_string(kThumbnailLargestFile >> 20) + " MiB";
    }
    status = ExitOk;
    return std::string();
}

}  // namespace viewer

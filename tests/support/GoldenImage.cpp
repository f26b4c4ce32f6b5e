#include "support/GoldenImage.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

// The platform library keeps its stb_image private to its PNG loader, so the references are
// decoded by a copy of their own; that also keeps the comparison independent of the engine's
// image loading, which golden tests may well be exercising. stbi_write_png is the platform's.
#define STBI_ONLY_PNG
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

namespace lumaret::test {

namespace {

namespace fs = std::filesystem;

int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFF); }

// The reference in dim grey (transparent parts darkest), so the red of the offending pixels
// stands out while the picture stays recognisable.
std::vector<uint32_t> DiffImage(const std::vector<uint32_t>& expected, const ImageDifference& difference) {
    std::vector<uint32_t> image(expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        if (difference.differs[i]) {
            image[i] = 0xFFFF0000u;
            continue;
        }
        uint32_t p = expected[i];
        int luma = (Channel(p, 16) * 77 + Channel(p, 8) * 150 + Channel(p, 0) * 29) >> 8;
        uint32_t grey = static_cast<uint32_t>(32 + luma * Channel(p, 24) / 255 / 3);
        image[i] = 0xFF000000u | grey << 16 | grey << 8 | grey;
    }
    return image;
}

void RemoveStaleFailure(const std::string& actualPath, const std::string& diffPath) {
    std::error_code ignored;
    fs::remove(actualPath, ignored);
    fs::remove(diffPath, ignored);
}

}  // namespace

GoldenDirectories DefaultGoldenDirectories() {
    return {SourceDir() + "/tests/golden", BuildDir() + "/golden-failures"};
}

ImageDifference CompareImages(const uint32_t* expected, const uint32_t* actual, size_t pixelCount, int tolerance) {
    ImageDifference result;
    result.differs.assign(pixelCount, false);
    for (size_t i = 0; i < pixelCount; ++i) {
        int largest = 0;
        for (int shift = 0; shift < 32; shift += 8)
            largest = std::max(largest, std::abs(Channel(expected[i], shift) - Channel(actual[i], shift)));
        result.largestDifference = std::max(result.largestDifference, largest);
        if (largest > tolerance) {
            result.differs[i] = true;
            ++result.differingPixels;
        }
    }
    return result;
}

bool WritePng(const std::string& path, int width, int height, const uint32_t* argbPixels) {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (size_t i = 0; i < rgba.size() / 4; ++i) {
        rgba[i * 4 + 0] = static_cast<uint8_t>(argbPixels[i] >> 16);
        rgba[i * 4 + 1] = static_cast<uint8_t>(argbPixels[i] >> 8);
        rgba[i * 4 + 2] = static_cast<uint8_t>(argbPixels[i]);
        rgba[i * 4 + 3] = static_cast<uint8_t>(argbPixels[i] >> 24);
    }
    return stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4) != 0;
}

bool ReadPng(const std::string& path, int* width, int* height, std::vector<uint32_t>* argbPixels) {
    int channels = 0;
    stbi_uc* rgba = stbi_load(path.c_str(), width, height, &channels, 4);
    if (!rgba) return false;
    argbPixels->resize(static_cast<size_t>(*width) * static_cast<size_t>(*height));
    for (size_t i = 0; i < argbPixels->size(); ++i) {
        const stbi_uc* p = rgba + i * 4;
        (*argbPixels)[i] = static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[0]) << 16 |
                           static_cast<uint32_t>(p[1]) << 8 | p[2];
    }
    stbi_image_free(rgba);
    return true;
}

void ExpectMatchesGolden(const std::string& name, int width, int height, const uint32_t* argbPixels, int tolerance) {
    ExpectMatchesGolden(DefaultGoldenDirectories(), name, width, height, argbPixels, tolerance);
}

void ExpectMatchesGolden(const GoldenDirectories& directories, const std::string& name, int width, int height,
                         const uint32_t* argbPixels, int tolerance) {
    std::string referencePath = directories.references + "/" + name + ".png";
    std::string actualPath = directories.failures + "/" + name + ".actual.png";
    std::string diffPath = directories.failures + "/" + name + ".diff.png";
    std::string approve =
        "scripts/approve-golden.sh --build " + fs::path(directories.failures).parent_path().string() + " " + name;

    auto keepActual = [&] {
        std::error_code ignored;
        fs::create_directories(directories.failures, ignored);
        RemoveStaleFailure(actualPath, diffPath);
        if (!WritePng(actualPath, width, height, argbPixels)) ADD_FAILURE() << "cannot write " << actualPath;
    };

    if (!fs::exists(referencePath)) {
        keepActual();
        ADD_FAILURE() << "no golden image " << referencePath << " yet. The rendered image is " << actualPath
                      << "; if it looks right, approve it with: " << approve;
        return;
    }
    int referenceWidth = 0, referenceHeight = 0;
    std::vector<uint32_t> expected;
    if (!ReadPng(referencePath, &referenceWidth, &referenceHeight, &expected)) {
        keepActual();
        ADD_FAILURE() << "golden image " << referencePath << " cannot be decoded (" << stbi_failure_reason()
                      << "). The rendered image is " << actualPath;
        return;
    }
    if (referenceWidth != width || referenceHeight != height) {
        keepActual();
        ADD_FAILURE() << "golden image " << name << " is " << referenceWidth << " x " << referenceHeight
                      << " but the rendered image is " << width << " x " << height << "; see " << actualPath;
        return;
    }

    ImageDifference difference = CompareImages(expected.data(), argbPixels, expected.size(), tolerance);
    if (difference.differingPixels == 0) {
        RemoveStaleFailure(actualPath, diffPath);
        return;
    }
    keepActual();
    std::vector<uint32_t> diff = DiffImage(expected, difference);
    if (!WritePng(diffPath, width, height, diff.data())) ADD_FAILURE() << "cannot write " << diffPath;
    ADD_FAILURE() << "golden image " << name << ": " << difference.differingPixels << " of " << expected.size()
                  << " pixels differ by more than " << tolerance << " (largest difference "
                  << difference.largestDifference << "). See " << actualPath << " and " << diffPath
                  << "; if the change is intended, approve it with: " << approve;
}

}  // namespace lumaret::test

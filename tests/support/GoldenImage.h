// Golden images: a headless render compared with a reference PNG kept in tests/golden/.
//
// A test hands over its pixels (0xAARRGGBB, rows top first, as DeviceTest::ReadColors gives
// them) and a per-channel tolerance. When a channel of some pixel differs from the reference
// by more than the tolerance, or the reference is missing or has another size, the test fails
// and two files land in <build>/golden-failures/: <name>.actual.png, the image the test saw,
// and <name>.diff.png, the reference dimmed to grey with every offending pixel in red.
// scripts/approve-golden.sh copies the .actual.png files over the references once a person
// has looked at them. A passing comparison removes the files an earlier failure left.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumaret::test {

// Where references are read and failures written; tests of the comparison itself point these
// at a scratch directory.
struct GoldenDirectories {
    std::string references;  // holds <name>.png
    std::string failures;    // receives <name>.actual.png and <name>.diff.png
};

// tests/golden/ of the source tree and golden-failures/ of the build tree.
GoldenDirectories DefaultGoldenDirectories();

struct ImageDifference {
    int differingPixels = 0;    // pixels with any channel beyond the tolerance
    int largestDifference = 0;  // over every channel of every pixel, within tolerance or not
    std::vector<bool> differs;  // per pixel
};

ImageDifference CompareImages(const uint32_t* expected, const uint32_t* actual, size_t pixelCount, int tolerance);

// Fails the current test (non-fatally) unless the pixels match the reference <name>.png.
void ExpectMatchesGolden(const std::string& name, int width, int height, const uint32_t* argbPixels, int tolerance);
void ExpectMatchesGolden(const GoldenDirectories& directories, const std::string& name, int width, int height,
                         const uint32_t* argbPixels, int tolerance);

// PNG files as 0xAARRGGBB pixels; used by the golden comparison and by tests that check images.
bool WritePng(const std::string& path, int width, int height, const uint32_t* argbPixels);
bool ReadPng(const std::string& path, int* width, int* height, std::vector<uint32_t>* argbPixels);

}  // namespace lumaret::test

// The frame the engine shows, in both screen configurations: the grey background and the
// logo at the bottom-left, 128 x 32 pixels, one pixel left of the edge. Rendered by the
// real program loop headless on llvmpipe, saved as its screenshot, compared with a golden
// image and checked pixel by pixel where the placement matters.
#include "app/Engine.h"

#include "support/GoldenImage.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

using lumaret::test::ScopedTempDir;

namespace {

constexpr uint32_t kBackground = 0xFF404040;

std::vector<uint32_t> RenderFrame(const ScreenConfig& screen) {
    std::filesystem::create_directory_symlink(std::filesystem::path(lumaret::test::SourceDir()) / "data", "data");
    EXPECT_EXIT(
        {
            setenv("LUMARET_HEADLESS_FRAMES", "3", 1);
            setenv("LUMARET_SCREENSHOT", "frame.png", 1);
            setenv("LUMARET_GL_ERRORS_FATAL", "1", 1);
            std::exit(RunEngine(screen));
        },
        testing::ExitedWithCode(0), "");
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    EXPECT_TRUE(lumaret::test::ReadPng("frame.png", &width, &height, &pixels));
    EXPECT_EQ(width, screen.width);
    EXPECT_EQ(height, screen.height);
    return pixels;
}

void ExpectLogoPlacement(const std::vector<uint32_t>& pixels, int width, int height) {
    auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; };
    // The quad spans x from -1 to 127 and y from height - 32 to height in Direct3D's pixel
    // coordinates: columns 0 to 126 and the rows below height - 32 are covered. The 4x
    // multisampled back buffer covers the pixels whose centres lie on the right and top
    // edges by half, so column 127 and row height - 32 are half logo, half background.
    for (int y = height - 31; y < height; ++y) {
        EXPECT_EQ(at(128, y), kBackground) << "row " << y;
        EXPECT_NE(at(0, y), kBackground) << "row " << y;
        EXPECT_NE(at(126, y), kBackground) << "row " << y;
        uint32_t red = (at(127, y) >> 16) & 0xFF;
        EXPECT_TRUE(red > 0x08 && red < 0x38) << "row " << y << ": " << std::hex << at(127, y);
    }
    for (int x = 0; x < 128; ++x) EXPECT_EQ(at(x, height - 33), kBackground) << "column " << x;
    EXPECT_EQ(at(width / 2, height / 2), kBackground);
    EXPECT_EQ(at(width - 1, 0), kBackground);
}

}  // namespace

TEST(FrameGoldenDeathTest, LogoOverGreyAt640x480) {
    ScopedTempDir dir;
    std::vector<uint32_t> pixels = RenderFrame(ScreenConfig{640, 480, false});
    ASSERT_EQ(pixels.size(), 640u * 480u);
    ExpectLogoPlacement(pixels, 640, 480);
    lumaret::test::ExpectMatchesGolden("frame_640x480", 640, 480, pixels.data(), 2);
}

TEST(FrameGoldenDeathTest, LogoKeepsItsPixelSizeAt1024x768) {
    ScopedTempDir dir;
    std::vector<uint32_t> pixels = RenderFrame(ScreenConfig{1024, 768, false});
    ASSERT_EQ(pixels.size(), 1024u * 768u);
    ExpectLogoPlacement(pixels, 1024, 768);
    lumaret::test::ExpectMatchesGolden("frame_1024x768", 1024, 768, pixels.data(), 2);
}

// The demo as the program runs it, headless on llvmpipe with the fixed frame clock, in both
// screen configurations: frames 1, 90 and 250 against golden images, and the whole log of
// the run (the device's capability report aside) against a committed reference. The runs
// stop on any GL error.
#include "app/Engine.h"

#include "d3d9/GlDebug.h"
#include "support/GoldenImage.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using lumaret::test::ReadFileBytes;
using lumaret::test::ScopedTempDir;

namespace {

constexpr int kFrames[] = {1, 90, 250};

// The names of the debug groups the run pushed (D3DPERF events), one per line in groups.txt.
void RunDemo(const ScreenConfig& screen, const char* lastFrame = "250", const char* hud = "0") {
    std::filesystem::create_directory_symlink(std::filesystem::path(lumaret::test::SourceDir()) / "data", "data");
    EXPECT_EXIT(
        {
            setenv("LUMARET_FRAME_TIME", "0.0166666667", 1);
            setenv("LUMARET_HEADLESS_FRAMES", lastFrame, 1);
            setenv("LUMARET_SCREENSHOT", "frame.png", 1);
            setenv("LUMARET_SCREENSHOT_FRAMES", std::strcmp(lastFrame, "250") == 0 ? "1,90,250" : "1,90", 1);
            setenv("LUMARET_GL_ERRORS_FATAL", "1", 1);
            setenv("LUMARET_HUD", hud, 1);
            setenv("LUMARET_GL_DEBUG", "1", 1);
            lumaret::platform::RecordDebugGroups(true);
            int status = RunEngine(screen);
            std::ofstream groups("groups.txt");
            for (const std::string& name : lumaret::platform::RecordedDebugGroups()) groups << name << "\n";
            std::exit(status);
        },
        testing::ExitedWithCode(0), "");
}

// The log from the resource scan on: the capability report before it depends on the device.
void ExpectLogMatchesReference(const std::string& name) {
    std::string log = ReadFileBytes("log.txt");
    ASSERT_EQ(log.rfind("Lumaret Engine Log\n", 0), 0u);
    size_t scan = log.find("Shader: ");
    ASSERT_NE(scan, std::string::npos) << log;
    std::string body = log.substr(scan);
    std::string referencePath = lumaret::test::SourceDir() + "/tests/golden/" + name + ".log";
    std::string reference = ReadFileBytes(referencePath);
    // A differing log waits in golden-failures/ for scripts/approve-golden.sh, as images do.
    std::string actualPath = lumaret::test::DefaultGoldenDirectories().failures + "/" + name + ".actual.log";
    std::filesystem::remove(actualPath);
    if (body != reference) {
        std::filesystem::create_directories(std::filesystem::path(actualPath).parent_path());
        std::ofstream(actualPath, std::ios::binary) << body;
    }
    EXPECT_EQ(body, reference) << "the run's log differs from " << referencePath;
}

void ExpectFramesMatchGolden(const ScreenConfig& screen) {
    std::string config = std::to_string(screen.width) + "x" + std::to_string(screen.height);
    for (int frame : kFrames) {
        int width = 0, height = 0;
        std::vector<uint32_t> pixels;
        std::string path = "frame_" + std::to_string(frame) + ".png";
        ASSERT_TRUE(lumaret::test::ReadPng(path, &width, &height, &pixels)) << path;
        ASSERT_EQ(width, screen.width);
        ASSERT_EQ(height, screen.height);
        // Small differences come from llvmpipe's rounding across builds (sanitizers, compilers).
        lumaret::test::ExpectMatchesGolden("demo_" + config + "_frame" + std::to_string(frame), width, height,
                                           pixels.data(), 6);
    }
    EXPECT_TRUE(std::filesystem::exists("frame.png")) << "the last frame is kept as the screenshot";
    ExpectLogMatchesReference("demo_" + config);
}

// The 640 x 480 demo with the stats overlay as LUMARET_HUD sets it, up to its frame 90.
void RunDemoToFrame90(const char* hud, int* width, int* height, std::vector<uint32_t>* pixels) {
    RunDemo(ScreenConfig{640, 480, false}, "90", hud);
    ASSERT_TRUE(lumaret::test::ReadPng("frame_90.png", width, height, pixels));
}

}  // namespace

TEST(DemoFrameDeathTest, Demo640x480) {
    ScopedTempDir dir;
    ScreenConfig screen{640, 480, false};
    RunDemo(screen);
    ExpectFramesMatchGolden(screen);
}

TEST(DemoFrameDeathTest, Demo1024x768) {
    ScopedTempDir dir;
    ScreenConfig screen{1024, 768, false};
    RunDemo(screen);
    ExpectFramesMatchGolden(screen);
}

// The stats overlay over the demo: the fixed clock makes its numbers the same on every run.
TEST(DemoFrameDeathTest, StatsOverlayOverTheDemo) {
    ScopedTempDir dir;
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    ASSERT_NO_FATAL_FAILURE(RunDemoToFrame90("1", &width, &height, &pixels));
    lumaret::test::ExpectMatchesGolden("demo_640x480_hud_frame90", width, height, pixels.data(), 6);

    // Every piece of the frame is a named group for frame debuggers, in frame order.
    std::string groups = ReadFileBytes("groups.txt");
    std::string frame =
        "ZN pass\nLight pass\nForward pass\nPostFX\nDown-sample to quarter size\nDown-sample chain\n"
        "Luminance read-back\nBlur 3x3\nBlur horizontal\nBlur vertical\nComposite\nLogo\nStats overlay\n";
    EXPECT_EQ(groups.substr(0, frame.size()), frame) << groups.substr(0, 400);
    EXPECT_NE(groups.rfind(frame), 0u) << "every frame is marked";
}

// The full panel over the demo: one green column per frame so far (the fixed clock's
// 16.7 ms frames are within the 60 Hz budget) with the budget line over their tops, and
// the device's pass times measured on the way without a GL error.
TEST(DemoFrameDeathTest, FullStatsPanelOverTheDemo) {
    ScopedTempDir dir;
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    ASSERT_NO_FATAL_FAILURE(RunDemoToFrame90("2", &width, &height, &pixels));
    std::vector<int> greenRows(static_cast<size_t>(width), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((pixels[static_cast<size_t>(y * width + x)] & 0xFFFFFF) == 0x40D040) ++greenRows[static_cast<size_t>(x)];
    int columns = 0;
    for (int rows : greenRows) columns += rows > 0;
    EXPECT_EQ(columns, 90) << "one column per frame";
    EXPECT_EQ(*std::max_element(greenRows.begin(), greenRows.end()), 19) << "20 pixels, the top one under the line";
    EXPECT_GT(greenRows[306], 0) << "the newest frame at the graph's right edge";
}
